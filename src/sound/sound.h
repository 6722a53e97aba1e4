// The sound service: plays WAV images held in memory, one sound at a time,
// with an optional hum looped beneath them.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes the WAV image of `length` bytes at `image` to 16-bit frames at its
// own rate, so that playing it later only resamples it as it goes. The image is read only
// within its length and must stay in place and unchanged while the program may
// play it; preparing the same image again replaces what was kept of it.
// Returns false when the image cannot be played (empty, not RIFF/WAVE,
// truncated header, unsupported encoding); playing it then sounds the default
// alert tone instead. Opens the audio device on first use.
bool PrepareWavImage(const uint8_t* image, size_t length);

// Prepares the image as above on the service's own worker, and returns at
// once: images handed over this way are prepared in turn while the caller
// goes on.
void PrepareWavImageAhead(const uint8_t* image, size_t length);

// Starts the image playing and returns at once, whatever the state of the
// audio device or of the image. The sound playing is cut off at the next
// audio buffer and the new one plays from its first frame, whole. An image
// not prepared yet goes to the head of the worker's queue and starts as soon
// as it is ready, unless another play came in the meantime: a play overtaken
// so is dropped, never heard late, and until the wanted sound starts the one
// playing plays on.
void PlayWavImage(const uint8_t* image, size_t length);

// The hum: an image looped beneath every other sound while it is lit, a
// layer of its own that no play cuts off. Prepares the image ahead as
// PrepareWavImageAhead does; an image that cannot be played is no hum (and
// no alert tone). Called once, before the hum is first lit.
void SetHumImage(const uint8_t* image, size_t length);

// Lights the hum or darkens it: it rises from silence or falls to it over the
// length of `edgeImage`'s sound (a prepared image: the ignition or the
// retraction sound), kHumEdgeMaxMs at most. Returns at once; never waits.
void SetHumLit(bool lit, const uint8_t* edgeImage);

// The remote's motion energy now: the hum's level and pitch follow it,
// smoothed. Only a store: cheap enough for every report.
void SetHumEnergy(int32_t energy);

// Stops the sound, closes the audio device and forgets every prepared image,
// without waiting for an image being decoded (its result is dropped when it
// is done). Called at exit; the next prepare or play opens the device again.
void CloseSound();
