// A stream of the program's own to a PipeWire server, through libpipewire:
// SDL's PipeWire driver mixes on a thread of ordinary priority and hands its
// buffer over a cycle after the one that asked for it, so now and then the
// graph finds it not ready, and a new sound waits a cycle more. This one
// mixes on libpipewire's realtime thread, in the cycle that asks. The Linux
// table tries it first where the user did not pick an SDL driver.
#pragma once

#include "sound/output/output.h"

// Opens a stream to the PipeWire server this user's clients reach, and only
// when its socket is there and the server has a sink to play to. The stream
// pulls its frames from `pull` on libpipewire's realtime thread. False, with
// nothing left open, when no server took it.
bool OpenPipeWireOutput(const MixerPull& pull);

// Stops the stream and lets the server go. Safe to call when not open.
void ClosePipeWireOutput();

// True once the open stream or its server connection has failed: the
// server went away.
bool PipeWireOutputLost();

// Opens the stream, notes what it plays at, and closes it again.
bool DescribePipeWireOutput(const MixerPull& pull, SoundDeviceFacts& facts);

// Held around every change to what the pull reads; cheap when not open.
void LockPipeWireOutput();
void UnlockPipeWireOutput();
