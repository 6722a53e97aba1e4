// system_facts.h as a test sets it.
#pragma once

#include <string>

#include "platform/system_facts.h"

extern std::string fakeInputSettings;  // /etc/bluetooth/input.conf's text
extern bool fakeUdevRuleInstalled;
