#include "doctor/advice.h"

#include "config.h"
#include "platform/system_facts.h"

namespace {

bool OnWindows() {
    return ThisSystem() == SystemFamily::Windows;
}

}  // namespace

Advice PairingSteps() {
    if (OnWindows()) {
        return {"Pair it: Settings > Bluetooth & devices > Add device > Bluetooth, then press",
                "the red SYNC button under the battery cover; pick \"Nintendo RVL-CNT-01\" and",
                "leave the PIN empty (choose \"Connect\" if asked). The LEDs blink while it",
                "looks; press 1 and 2 together to connect it again later."};
    }
    return {"Pair it in one step: glowbrand-doctor --pair, and press the red SYNC button",
            "under the battery cover when it says so. By hand: run bluetoothctl, type",
            "`power on` and `scan on`, press SYNC, then, with the address it shows (Nintendo",
            "RVL-CNT-01, or -TR for a Plus): `pair ADDRESS`, `trust ADDRESS`,",
            "`connect ADDRESS`, `scan off`. Paired before? Press 1 and 2."};
}

Advice AccessSteps(bool ruleInstalled) {
    Advice steps;
    if (ruleInstalled) {
        steps.push_back(std::string("The udev rule ") + kUdevRuleFile +
                        " is there but has not reached this node: re-trigger udev,");
    } else {
        steps.push_back(std::string("Install the udev rule (udev/") + kUdevRuleFile +
                        " from the sources; the Debian package installs it):");
        steps.push_back(std::string("  sudo cp udev/") + kUdevRuleFile + " /etc/udev/rules.d/");
    }
    steps.push_back("  sudo udevadm control --reload && sudo udevadm trigger");
    steps.push_back("then disconnect and reconnect the remote, and run glowbrand-doctor again.");
    return steps;
}

Advice HeldSteps() {
    return {"Close the other program that uses the remote (an emulator, a game, a driver's",
            "tool), or disconnect and reconnect the remote, and run glowbrand-doctor again."};
}

Advice SilentCauses() {
    return {"glowbrand would say \"Wii-Remote cannot open.\" Likely: the remote has just lost",
            "its connection or gone to sleep (press 1 and 2 to wake it), its batteries are",
            "flat, or another program drives it at the same time."};
}

Advice RootWarning() {
    if (OnWindows()) {
        return {"Running as administrator: glowbrand needs no such rights; start it normally."};
    }
    return {"Running as root: glowbrand should not (a root process cannot play through your",
            "desktop's sound server). Install the udev rule so that your user may open it."};
}

Advice SoundSteps() {
    if (OnWindows()) {
        return {"Start it in the folder that holds glowbrand.exe and the four sounds that came",
                "with it, or put WAV files of your own there under these names."};
    }
    return {"Copy the four sounds here: cp /usr/share/glowbrand/sounds/*.wav . (from a build:",
            "build/sounds/), or put WAV files of your own under these names."};
}
