// The checks of the sound's side: the four files, decoded as the program
// decodes them, and the output the program would play through.
#pragma once

#include "doctor/check.h"

// Fails when a file is missing; warns when one would sound the alert tone.
Check CheckSounds();

// Only warns when no output opens: the program plays on silently then.
Check CheckSoundDevice();
