// The sound device beneath the mixer: the first output of the system's
// table (output.h) that opens, pulling the mixer's frames on a thread of its
// own. A keeper thread of the device's opens it and keeps it: where an
// output's server goes away, or none is up yet, it looks again every
// kSoundRetryMs until one opens, and the sound goes on there. The mixer is
// the only one to open it; the doctor describes it.
#pragma once

#include "sound/output/output.h"

// Has the keeper open the first output of the table that opens, pulling
// from `pull`, and keep one open until the close; returns at once, never
// waiting for a server. False only when no keeper thread can be started.
// Safe to call again once open (does nothing then).
bool OpenSoundDevice(const MixerPull& pull);

// Closes the output that is open and stops looking. Waits for that at most
// kSoundCloseWaitMs: an output stuck in the system (a server that does not
// answer) is closed by the keeper when it comes back. Safe to call when none
// is open.
void CloseSoundDevice();

// Holds the lock of the output that opened last (open, being opened or
// closed since) for a scope: around every change to what the pull reads.
// Before any output opened there is nobody to hold off, and it holds
// nothing.
class SoundDeviceLock {
public:
    SoundDeviceLock();
    ~SoundDeviceLock();
    SoundDeviceLock(const SoundDeviceLock&) = delete;
    SoundDeviceLock& operator=(const SoundDeviceLock&) = delete;

private:
    const SoundOutput* held_;
};

// Called after each new play, under the mixer's table lock and not under
// SoundDeviceLock: the open output's queue, if it has one worth skipping, is
// skipped. On PulseAudio that mixes up to 40 ms of frames again here.
void SkipSoundDeviceQueue();

// Describes the output that would open (the first of the table that
// describes itself), pulling silence, and leaves it closed; not while the
// device is open. False when no output opens at all.
bool DescribeSoundDevice(SoundDeviceFacts& facts);
