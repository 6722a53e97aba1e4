#include "shell/program.h"

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

// All four LEDs on for a moment: the remote says hello.
void StartFlash() {
    SetLeds(kLedsAll);
    WaitMs(kFlashMs);
    SetLeds(kLedsNone);
}

// The boxed banner and the usage lines.
void PrintBanner() {
    PrintText("###########################################\n");
    PrintText("#                                         #\n");
    PrintText("#   Glowbrand Test version 0.1            #\n");
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
    if (ProbeRemote()) {
        StartFlash();
        PrintBanner();
        FinishReader();
        RunBlade();
    } else {
        ShowMessage("Wii-Remote cannot open.");
        EndIfRequested();
        StopReader();
    }
    CloseRemote();
    return 0;
}
