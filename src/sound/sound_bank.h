// The sound bank: the program's four sounds, read whole into fixed slots at
// start-up and played from there, one at a time, and the optional hum looped
// beneath them while the blade is lit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config.h"

enum class SoundId : int32_t { On = 0, Off = 1, Swing = 2, Strike = 3 };

constexpr int32_t kSoundCount = 4;

// The files, by SoundId.
inline constexpr const char* kSoundFiles[kSoundCount] = {kSoundFileOn, kSoundFileOff,
                                                         kSoundFileSwing, kSoundFileStrike};

// Each slot holds a file's bytes exactly as stored, header included; the
// program never parses them. Zero until loaded.
extern uint8_t soundSlots[kSoundCount][kSoundSlotSize];
extern size_t soundLengths[kSoundCount];  // bytes that reached each slot

// The hum's slot: one byte more than a file may have, so that one too large
// is seen to be. humLength is 0 when there is no hum to play.
extern uint8_t humSlot[kSoundSlotSize];
extern size_t humLength;

// Reads the four files from the working directory, each into its slot.
// Returns 0 when all four were found, 1 when any was missing; every file is
// tried and every file found is loaded. With all four there, reads the hum
// too, which may be missing.
int32_t LoadSounds();

// Starts the slot's sound and returns at once, cutting off any sound playing.
void PlaySlot(SoundId id);

// The hum rises with the ignition sound or falls with the retraction sound:
// called as that sound starts.
void LightHum(bool lit);

// The motion energy of the report just read, which the hum follows.
void SetHumMotion(int32_t energy);
