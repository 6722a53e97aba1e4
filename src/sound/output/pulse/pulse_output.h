// A stream of the program's own to a PulseAudio server, through libpulse:
// SDL's PulseAudio driver lets the server hold a single period and writes
// only what the server asks for, so a short period underruns there and a
// long one is late. This one keeps a long queue in the server, refilled in
// small steps, and writes it again from where the server reads whenever a
// new sound starts: it neither runs dry nor makes a sound wait. It plays
// from the moment it opens. The Linux table tries it after PipeWire.
#pragma once

#include <cstdint>

#include "sound/output/output.h"

// The server keeps this many frames queued ahead of its sink, so the stream
// survives a client that wakes late; a new sound is written over the queue,
// all of it that the sink cannot have read yet (as the server's timing
// reports tell), so it does not wait behind it ...
constexpr int32_t kPulseQueueFrames = 1920;
// ... and the sink buffers one refill (2 ms) ahead of what is heard, asking
// for more each time this many have played. The stream starts once this much
// is queued, at once: the first sound is as prompt as the rest.
constexpr int32_t kPulseRefillFrames = 96;

// Opens a stream to the PulseAudio server this user's clients reach, never
// starting one, and only when that server is PulseAudio itself, not PipeWire
// standing in for it. The stream pulls its frames from `pull` on libpulse's
// thread. False, with nothing left open, when no such server took it.
bool OpenPulseOutput(const MixerPull& pull);

// Stops the stream and lets the server go. Safe to call when not open.
void ClosePulseOutput();

// Has the server play what the pull gives from now on at once, in place of
// what was queued: called after each new play. Mixes up to the whole queue
// (kPulseQueueFrames, 40 ms) again on the caller's thread, under the stream's
// lock (waiting out a refill under way) and the pull's. Does nothing while
// the stream is not open, or is being opened or closed.
void SkipPulseQueue();

// True once the open stream or its server connection has failed: the
// server went away. Only for the caller that opened the stream, between its
// open and its close; it never holds off a skip.
bool PulseOutputLost();

// Opens the stream, notes what it plays at, and closes it again.
bool DescribePulseOutput(const MixerPull& pull, SoundDeviceFacts& facts);

// Held around every change to what the pull reads; cheap when not open.
void LockPulseOutput();
void UnlockPulseOutput();
