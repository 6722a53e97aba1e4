#include "shell/program.h"

#include <cstdio>

#include "blade/blade.h"
#include "config.h"
#include "core/wait.h"
#include "platform/console.h"
#include "platform/message.h"
#include "remote/probe.h"
#include "remote/remote_link.h"
#include "shell/termination.h"
#include "sound/sound_bank.h"

namespace {

// Room for the version in the banner's box, between "version " and the
// right-hand border.
constexpr int kVersionWidth = 15;

// All four LEDs on for a moment: the remote says hello.
void StartFlash() {
    SetLeds(kLedsAll);
    WaitMs(kFlashMs);
    SetLeds(kLedsNone);
}

// The version, from the build, padded so that the box keeps its width.
void PrintVersionLine() {
    static_assert(sizeof(GLOWBRAND_VERSION) - 1 <= kVersionWidth, "the version overflows the box");
    char line[64];
    std::snprintf(line, sizeof line, "#   Glowbrand Test version %-*s#\n", kVersionWidth,
                  GLOWBRAND_VERSION);
    PrintText(line);
}

// The boxed banner and the usage lines.
void PrintBanner() {
    PrintText("###########################################\n");
    PrintText("#                                         #\n");
    PrintVersionLine();
    PrintText("#                  build 2006.12.8        #\n");
    PrintText("#                                         #\n");
    PrintText("###########################################\n");
    PrintText("\n");
    PrintText("Usage:\n");
    PrintText("   A    button  ... Vorna On/Off\n");
    PrintText("   Home button  ... Quit\n");
    PrintText("\n");
}

}  // namespace

// A signal is carried out at the next wait or read, and at the checks below:
// after loading and opening (which may have been under way) and after each
// message (which a signal cuts short).
int32_t RunProgram() {
    CatchTermination();
    if (LoadSounds() != 0) {
        ShowMessage("Wav files are not found.");
        EndIfRequested();
        return 1;
    }
    EndIfRequested();
    if (!OpenRemote()) {
        ShowMessage("Wii-Remote not found.");
        EndIfRequested();
        return 1;
    }
    EndIfRequested();
    SetReportMode(kReportModeFlags, kReportModeCoreAccel);
    // A remote that never reported is a start that failed: 1, as the other
    // two messages, so that a script or a launcher can tell.
    if (!ProbeRemote()) {
        ShowMessage("Wii-Remote cannot open.");
        EndIfRequested();
        StopReader();
        CloseRemote();
        return 1;
    }
    StartFlash();
    PrintBanner();
    FinishReader();
    RunBlade();
    CloseRemote();
    return 0;
}
