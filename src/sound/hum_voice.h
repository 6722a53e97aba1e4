// The hum's voice in the mixer: a sound looped beneath the one playing while
// the blade is lit, its level and pitch following the motion. The callers'
// side (sound/sound.h: SetHumImage, SetHumLit, SetHumEnergy) only stores
// targets; this side, on the device's thread, moves towards them a frame at
// a time, so that nothing steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sound/wav/wav_decoder.h"

// Finds the playable sound prepared from an image, or nullptr: the mixer's
// table, read under the device lock.
using FindPlayable = const DecodedSound* (*)(const uint8_t* image);

// Adds the next `frames` frames of the hum at `deviceRate` to `out` (stereo
// 16-bit, already holding the other sounds), clamped. Called by the mixer
// with the device lock held, after it has mixed the rest; never blocks.
// True when the hum sounded in any of them.
bool MixHum(int16_t* out, size_t frames, int32_t deviceRate, FindPlayable find);

// Takes back the last `frames` frames MixHum added, as UnmixSound does for
// the rest: the hum goes on from the frame last heard, at the level and
// pitch it had there.
void UnmixHum(size_t frames, int32_t deviceRate, FindPlayable find);
