// An output: what the sound device (sound_device.h) opens to play the
// mixer's frames. Each system lists its outputs in order in one table
// (outputs_linux.cpp, outputs_windows.cpp); the device opens the first that
// opens and, until it closes, speaks only to that one. An output lives in a
// folder of its own beside this file. It does not know the mixer: it is
// handed the mixer's pull and take-back when it opens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What an output pulls its frames from. `mix` writes the next `frames`
// stereo 16-bit frames at `rate` frames per second into `out`, true when any
// of them were a sound's; `takeBack` takes back the last `frames` mixed, for
// an output that writes its queue again. The output calls both on a thread
// of its own, each time holding its lock (`SoundOutput::lock`). `resume` is
// the sound device's, not the outputs': called before an output opens after
// a time with none, so that what was played meanwhile is not heard late.
struct MixerPull {
    bool (*mix)(int16_t* out, size_t frames, int32_t rate) = nullptr;
    void (*takeBack)(size_t frames, int32_t rate) = nullptr;
    void (*resume)() = nullptr;
};

// What an output found when it opened: the driver or device it goes
// through, its rate and period, and whether it is one that plays nowhere.
struct SoundDeviceFacts {
    std::string driver;
    int32_t rate = 0;          // frames per second
    int32_t periodFrames = 0;  // frames pulled at a time
    bool silent = false;       // only a stand-in opened: the program plays on silently
};

struct SoundOutput {
    const char* name;
    // Starts pulling frames from `pull`; false, with nothing left open, where
    // this output is not to be had here (the next in the table is tried).
    bool (*open)(const MixerPull& pull);
    // Stops pulling and lets go of all the output holds. Only once open.
    void (*close)();
    // Held around every change to what the pull reads; brief, as the
    // output's thread takes it around each pull. A plain lock that outlives
    // the output: it is taken whether the output is open or not.
    void (*lock)();
    void (*unlock)();
    // After each new play, on the playing thread, under the mixer's lock of
    // its table (so plays never cross) but not under `lock`, which it may
    // take itself: an output that queues far ahead of what is heard lets the
    // new sound jump that queue, mixing it again on the caller's thread if
    // it must (PulseAudio's: up to 40 ms of frames). Never skipped for a
    // check of `lost`. None where an output queues no more than a period or
    // two.
    void (*skipQueue)();
    // True once the open output can play no more (its server went away):
    // the device closes it then and looks again. Asked only by the device's
    // keeper, between its open and its close. None where an output finds
    // its way back by itself, or cannot be lost.
    bool (*lost)();
    // Opens as `open` would (pulling from `pull`), notes what it got and
    // closes again; false where `open` would be.
    bool (*describe)(const MixerPull& pull, SoundDeviceFacts& facts);
};

// The system's outputs, in the order they are tried. The last is the
// stand-in that plays nowhere: the device itself plays through no output
// while none of the others opens, and keeps looking; the stand-in is there
// for the doctor to name.
extern const SoundOutput kSoundOutputs[];
extern const size_t kSoundOutputCount;

// The system's default output device as its sound server names it, for the
// doctor; empty where none answers or the system names none.
std::string DefaultOutputName();

// True when that name is a Bluetooth device's (BlueZ's sinks on PulseAudio
// and on PipeWire).
bool IsBluetoothOutput(const std::string& name);
