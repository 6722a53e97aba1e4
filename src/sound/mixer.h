// The sound service's own part, the same on every system: the table of
// prepared sounds, the worker that prepares them ahead, the play request and
// the mixing. It implements sound/sound.h on top of the sound device
// (output/sound_device.h), which hands MixSound and UnmixSound to the output
// that opens, and the system's decoder (wav/wav_decoder.h).
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the next `frames` stereo 16-bit frames at `deviceRate` frames per
// second into `out`: the sound playing, resampled from its own rate (cubic),
// and the first frames of a sound just cut off, fading out under it, over
// the hum (hum_voice.h). Called by the device's thread with the device lock
// held; never blocks. True when any of those frames were a sound's or the
// hum's, false when all were silence.
bool MixSound(int16_t* out, size_t frames, int32_t deviceRate);

// Takes back the last `frames` frames MixSound wrote, as if they had not been
// mixed: a device that writes its queue again calls it, with the device lock
// held, before mixing the frames that replace them, so that the sound
// playing then (or fading out under a new one), and the hum, go on from the
// frame last heard. Where all the frames of the sound playing are taken back, its play
// was never heard: the next mix takes it up again, the sound before it
// fading from where that was. Frames of sounds before that are not taken
// back.
void UnmixSound(size_t frames, int32_t deviceRate);
