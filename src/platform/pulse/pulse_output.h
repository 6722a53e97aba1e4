// A stream of the program's own to a PulseAudio server, through libpulse:
// SDL's PulseAudio driver lets the server hold a single period and writes
// only what the server asks for, so a short period underruns there and a
// long one is late. This one keeps a short queue of its own size, refilled
// in small steps, and plays from the moment it opens. The device on SDL
// (sdl/sound_device.cpp) chooses it where the server is PulseAudio itself.
#pragma once

// Opens a stream to the PulseAudio server this user's clients reach, never
// starting one, and only when that server is PulseAudio itself, not PipeWire
// standing in for it. The stream pulls its frames from MixSound on libpulse's
// thread. False, with nothing left open, when no such server took it.
bool OpenPulseOutput();

// Stops the stream and lets the server go. Safe to call when not open.
void ClosePulseOutput();

// True while the stream is open, whether or not the server is still there.
bool PulseOutputOpen();

// Held around every change to what MixSound reads; does nothing when not open.
void LockPulseOutput();
void UnlockPulseOutput();
