// The remote link's rules as one pure function: what the program wants of
// the remote against what the link has seen of it gives the reports to send
// now. remote_link.cpp keeps the state and does the sending.
#pragma once

#include <cstdint>
#include <vector>

// What the program last set, sent or not; nothing is set again that was
// never set.
struct LinkWanted {
    bool modeSet = false;
    uint8_t modeFlags = 0;
    uint8_t mode = 0;
    bool ledsSet = false;
    uint8_t leds = 0;
    bool rumble = false;
};

// What the link has seen of the remote since it last answered.
struct LinkObserved {
    bool statusReport = false;   // 0x20: the remote stays silent until the mode is set anew
    bool otherMode = false;      // a whole data report of another mode (the kernel's driver)
    bool rumbleStopped = false;  // another writer's answer while the rumble is on
    bool returned = false;       // the remote came back and has forgotten everything
    double msSinceModeSent = 0;  // since the mode last went out
    double msSinceReturn = -1;   // since the last return was answered; < 0 for none
};

// One output report, identifier first, as long as the remote takes it.
using LinkReport = std::vector<uint8_t>;

// The reports the link owes the remote now, in the order to send them. Every
// one carries the rumble bit as wanted: the remote stops its motor on any
// report whose bit is clear. A returned remote's motor may have been left
// running, so its answer switches the rumble off.
std::vector<LinkReport> ReportsDue(const LinkWanted& wanted, const LinkObserved& observed);

// The single reports the program sets, with the rumble bit as wanted.
LinkReport ModeReport(const LinkWanted& wanted);
LinkReport LedsReport(const LinkWanted& wanted);
LinkReport RumbleReport(bool on);
// A request for a status report, which the remote answers with 0x20.
LinkReport StatusRequestReport(const LinkWanted& wanted);
