// Sound through SDL2's audio: SDL's audio thread pulls the mixer's frames in
// buffers of one period, stereo 16-bit at the output rate, and converts them
// for the hardware behind it. Three rows of the Linux table: the driver a
// user chose with SDL_AUDIODRIVER, SDL's own choice, and its dummy driver,
// which plays nowhere.
#pragma once

#include <cstdint>

#include "sound/output/output.h"

// SDL's period on the drivers that sleep between buffers: the shortest that
// held up as well as 10 ms did with both processors busy, and a whole number
// of ms for those drivers (docs/performance.md).
constexpr int32_t kOutputBufferFrames = 192;
// SDL has PulseAudio buffer just one period, and 4 ms underran there even at
// the machine's own load; 480 frames held (docs/performance.md). Only a user
// who picks SDL's pulseaudio driver gets it.
constexpr int32_t kPulseAudioBufferFrames = 480;

// The driver SDL_AUDIODRIVER names, which wins over every other output;
// where it does not open, SDL's dummy driver, as the user chose SDL. False
// when SDL_AUDIODRIVER is not set.
bool OpenUsersSdlDriver(const MixerPull& pull);
bool DescribeUsersSdlDriver(const MixerPull& pull, SoundDeviceFacts& facts);

// SDL's own choice of driver.
bool OpenSdlOutput(const MixerPull& pull);
bool DescribeSdlOutput(const MixerPull& pull, SoundDeviceFacts& facts);

// SDL's dummy driver: the program plays on silently.
bool OpenSdlSilence(const MixerPull& pull);
bool DescribeSdlSilence(const MixerPull& pull, SoundDeviceFacts& facts);

// The same for all three. Lost once SDL has given up on the open device.
void CloseSdlOutput();
bool SdlOutputLost();
void LockSdlOutput();
void UnlockSdlOutput();
