// A stream of the program's own to a PulseAudio server, through libpulse:
// SDL's PulseAudio driver lets the server hold a single period and writes
// only what the server asks for, so a short period underruns there and a
// long one is late. This one keeps a long queue in the server, refilled in
// small steps, and writes it again from where the server reads whenever a
// new sound starts: it neither runs dry nor makes a sound wait. It plays
// from the moment it opens. The device on SDL
// (sdl/sound_device.cpp) chooses it where the server is PulseAudio itself.
#pragma once

// Opens a stream to the PulseAudio server this user's clients reach, never
// starting one, and only when that server is PulseAudio itself, not PipeWire
// standing in for it. The stream pulls its frames from MixSound on libpulse's
// thread. False, with nothing left open, when no such server took it.
bool OpenPulseOutput();

// Stops the stream and lets the server go. Safe to call when not open.
void ClosePulseOutput();

// Has the server play what MixSound gives from now on at once, in place of
// what was queued: called after each new play. Does nothing while the stream
// is not open, or is being opened or closed.
void SkipPulseQueue();

// True while the stream is open, whether or not the server is still there.
bool PulseOutputOpen();

// Held around every change to what MixSound reads; does nothing when not open.
void LockPulseOutput();
void UnlockPulseOutput();
