// Sound on Windows through WASAPI in shared mode, in the device's own mix
// format: a render thread of its own, woken by the engine once a period,
// keeps kWasapiPeriodsAhead periods of the mixer's frames queued. The first
// row of the Windows table.
#pragma once

#include <cstdint>

#include "sound/output/output.h"

// Where the engine's own minimum period cannot be asked for (before Windows
// 10, and under wine 8, whose IAudioClient3 answers E_NOTIMPL), the stream
// asks for this period.
constexpr int32_t kWasapiFallbackPeriodMs = 10;
// Frames queued ahead of the engine, in periods, at most (the buffer may be
// shorter): with the restarts of stream_refill.h, two held up under wine as
// well as three did, a period sooner (docs/performance.md).
constexpr int32_t kWasapiPeriodsAhead = 2;
// With no default device, or after the device failed, the stream tries to
// open one again this often (a new default device wakes it at once; wine 8
// tells of none, so there this is how a returning sound server is found).
constexpr int32_t kWasapiRetryMs = 500;
// A stream that has not asked for frames for this long is taken for lost and
// opened again (a sound server gone away need not say so).
constexpr int32_t kWasapiStallMs = 1000;
// Closing waits at most this long for the render thread; one still busy in
// the system then ends on its own, and a program ending need not wait.
constexpr int32_t kWasapiCloseWaitMs = 500;

// Starts the render thread, which pulls from `pull`. True even without a
// device: the thread plays on silently and keeps looking for one. False only
// when the thread cannot be started.
bool OpenWasapiOutput(const MixerPull& pull);

// Stops the render thread, waiting for it kWasapiCloseWaitMs at most.
void CloseWasapiOutput();

// Held around every change to what the pull reads; the render thread holds
// it around each pull.
void LockWasapiOutput();
void UnlockWasapiOutput();

// The render thread restarts its queue with the new sound at its head.
void SkipWasapiQueue();

// The render thread's own open of the default output, made once on the
// caller's thread; false where there is no device.
bool DescribeWasapiOutput(const MixerPull& pull, SoundDeviceFacts& facts);
