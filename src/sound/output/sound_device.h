// The sound device beneath the mixer: the first output of the system's
// table (output.h) that opens, pulling the mixer's frames on a thread of its
// own. The mixer is the only one to open it; the doctor describes it.
#pragma once

#include "sound/output/output.h"

// Opens the first output of the table that opens, pulling from `pull`.
// False only when none opens, which the table's last row prevents while the
// system can start a thread. Safe to call again once open (does nothing then).
bool OpenSoundDevice(const MixerPull& pull);

// Closes the output that opened. Safe to call when none is open.
void CloseSoundDevice();

// Holds the lock of the output that opened last (open or closed since) for a
// scope: around every change to what the pull reads. Before any output
// opened there is nobody to hold off, and it holds nothing. Whatever opens
// or closes meanwhile, it lets go of what it took.
class SoundDeviceLock {
public:
    SoundDeviceLock();
    ~SoundDeviceLock();
    SoundDeviceLock(const SoundDeviceLock&) = delete;
    SoundDeviceLock& operator=(const SoundDeviceLock&) = delete;

private:
    const SoundOutput* held_;
};

// Called after each new play, under no lock: the open output's queue, if it
// has one worth skipping, is skipped. Brief.
void SkipSoundDeviceQueue();

// Describes the output that would open (the first of the table that
// describes itself), pulling silence, and leaves it closed; not while the
// device is open. False when no output opens at all.
bool DescribeSoundDevice(SoundDeviceFacts& facts);
