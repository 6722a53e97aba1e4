// The audio output beneath the sound mixer: each system implements it
// (sdl/sound_device.cpp, with pulse/pulse_output.cpp beneath it on Linux;
// windows/sound_wasapi.cpp). The device pulls its
// frames from MixSound (portable/sound_mixer.h) on a thread of its own.
#pragma once

#include <cstdint>
#include <string>

// Opens the system's default output and starts pulling frames. Returns false
// only when sound cannot be played at all; where there is merely no device
// yet, the service may return true and stay silent until one appears. Safe to
// call again once open (does nothing then).
bool OpenSoundDevice();

// Stops pulling frames and closes the output. Safe to call when not open.
void CloseSoundDevice();

// Held around every change to what MixSound reads; the device's thread holds
// it around each call of MixSound. Brief: the device waits for it.
void LockSoundDevice();
void UnlockSoundDevice();

// Called after each new play, under no device lock: a device that queues
// far ahead of what is heard lets the new sound jump that queue. The rest do
// nothing. Brief.
void SkipSoundDeviceQueue();

// What DescribeSoundDevice found: the driver or device the output goes
// through, its rate and period, and whether it is one that plays nowhere.
struct SoundDeviceFacts {
    std::string driver;
    int32_t rate = 0;          // frames per second
    int32_t periodFrames = 0;  // frames pulled at a time
    bool silent = false;       // only a stand-in opened: the program plays on silently
};

// Opens the output as OpenSoundDevice would, notes what it got and closes it
// again; not while the device is open. False when no output opens at all.
bool DescribeSoundDevice(SoundDeviceFacts& facts);
