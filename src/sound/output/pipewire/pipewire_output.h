// A stream of the program's own to a PipeWire server, through libpipewire:
// SDL's PipeWire driver mixes on a thread of ordinary priority and hands its
// buffer over a cycle after the one that asked for it, so now and then the
// graph finds it not ready, and a new sound waits a cycle more. This one
// mixes on libpipewire's realtime thread, in the cycle that asks. The device
// on SDL (sdl/sound_device.cpp) chooses it where PipeWire serves.
#pragma once

// Opens a stream to the PipeWire server this user's clients reach, and only
// when that server has a sink to play to. The stream pulls its frames from
// MixSound on libpipewire's realtime thread. False, with nothing left open,
// when no server took it.
bool OpenPipeWireOutput();

// Stops the stream and lets the server go. Safe to call when not open.
void ClosePipeWireOutput();

// True while the stream is open, whether or not the server is still there.
bool PipeWireOutputOpen();

// Held around every change to what MixSound reads; cheap when not open.
void LockPipeWireOutput();
void UnlockPipeWireOutput();
