// What the doctor tells the user to do, in the user's terms, for the system
// it runs on: the lines under a failed or warning check.
#pragma once

#include <string>
#include <vector>

using Advice = std::vector<std::string>;

// No remote among the HID devices: how to pair and connect one.
Advice PairingSteps();

// The remote may not be opened by this user: install the udev rule (or, if it
// is installed, re-trigger udev) and reconnect.
Advice AccessSteps(bool ruleInstalled);

// Another program holds the remote.
Advice HeldSteps();

// The remote sends nothing: what "Wii-Remote cannot open." usually means.
Advice SilentCauses();

// Why not to run as root, and what instead.
Advice RootWarning();

// Where the four sounds come from.
Advice SoundSteps();
