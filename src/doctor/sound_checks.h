// The checks of the sound's side: the four files and the optional hum,
// decoded as the program decodes them, and the output the program would
// play through.
#pragma once

#include "doctor/check.h"

// Fails when one of the four is missing; warns when one would sound the
// alert tone, or when a hum is there that will not play.
Check CheckSounds();

// Only warns when no output opens: the program plays on silently then.
Check CheckSoundDevice();
