// glowbrand-doctor finds out why glowbrand does not find the remote or
// sounds wrong: it walks the chain from the Bluetooth adapter to the
// speakers, one line per link, and says what to do about a broken one. With
// --record it records the remote's reports as a script that
// glowbrand-scripted replays, for a bug report. With --pair it pairs a
// remote over Bluetooth in one step (Linux).
//
// It reuses the program's own parts: the HID library's read core and its
// listing, the remote link (open, mode, LEDs, rumble, decoding), the blade's
// motion energy, the sound bank's file rules and the sound service's
// decoder and device. Start reading at main().
#include <cstdlib>
#include <cstring>
#include <string>

#include "doctor/check.h"
#include "doctor/doctor.h"
#include "doctor/pairing.h"
#include "doctor/recording.h"
#include "platform/console.h"

namespace {

constexpr const char* kUsage =
    "Usage: glowbrand-doctor [--help | --pair | --record FILE SECONDS]\n"
    "\n"
    "Without arguments, checks each link from Bluetooth to the speakers, in the\n"
    "folder it starts in, and says what to do about a broken one: Bluetooth, the\n"
    "remote, access to it, its reports (swing it to see the motion), its\n"
    "battery, the four sounds, the sound device. Exit status 0 when the remote\n"
    "is found, opens and reports and the four sounds load; 1 otherwise.\n"
    "\n"
    "  --help                  this text\n"
    "  --pair                  pair, trust and connect a Wii Remote over Bluetooth\n"
    "                          (Linux): press SYNC when it says so. Exit status 0\n"
    "                          when the remote is connected and this user may open it\n"
    "  --record FILE SECONDS   record the remote's reports for SECONDS seconds\n"
    "                          (Ctrl+C ends it early) into FILE, a script that\n"
    "                          glowbrand-scripted replays: attach it to a bug report\n";

// A whole number of seconds from 1 to a day.
bool ParseSeconds(const char* text, int32_t& seconds) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 86'400) {
        return false;
    }
    seconds = static_cast<int32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        return RunDoctor(OutputIsTerminal());
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintText(kUsage);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--pair") == 0) {
        return PairRemote();
    }
    int32_t seconds = 0;
    if (argc == 4 && std::strcmp(argv[1], "--record") == 0 && ParseSeconds(argv[3], seconds)) {
        return RecordSession(argv[2], seconds);
    }
    PrintText(kUsage);
    return 2;
}
