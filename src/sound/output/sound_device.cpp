// The device over the system's table of outputs: one place that knows which
// output opened, so that adding or reordering an output is one row.
#include "sound/output/sound_device.h"

#include <atomic>
#include <cstring>

namespace {

// Set once an output opened and cleared before it closes; the outputs are
// rows of a table that lives as long as the program, so a reader that
// catches the old one still speaks to an output that handles being closed.
std::atomic<const SoundOutput*> opened{nullptr};
// The last output that opened, kept after it closes: a thread of its that
// outlived the close (one stuck in the system) still takes its lock before
// it pulls, so the lock is still taken when what the pull reads is freed.
std::atomic<const SoundOutput*> lastOpened{nullptr};

bool Silence(int16_t* out, size_t frames, int32_t) {
    std::memset(out, 0, frames * 2 * sizeof(int16_t));
    return false;
}

void NothingToTakeBack(size_t, int32_t) {}

}  // namespace

bool OpenSoundDevice(const MixerPull& pull) {
    if (opened.load() != nullptr) {
        return true;
    }
    for (size_t i = 0; i < kSoundOutputCount; ++i) {
        if (kSoundOutputs[i].open(pull)) {
            lastOpened = &kSoundOutputs[i];
            opened = &kSoundOutputs[i];
            return true;
        }
    }
    return false;
}

void CloseSoundDevice() {
    const SoundOutput* output = opened.exchange(nullptr);
    if (output != nullptr) {
        output->close();
    }
}

SoundDeviceLock::SoundDeviceLock() : held_(lastOpened.load()) {
    if (held_ != nullptr) {
        held_->lock();
    }
}

SoundDeviceLock::~SoundDeviceLock() {
    if (held_ != nullptr) {
        held_->unlock();
    }
}

void SkipSoundDeviceQueue() {
    const SoundOutput* output = opened.load();
    if (output != nullptr && output->skipQueue != nullptr) {
        output->skipQueue();
    }
}

bool DescribeSoundDevice(SoundDeviceFacts& facts) {
    const MixerPull silence{Silence, NothingToTakeBack};
    for (size_t i = 0; i < kSoundOutputCount; ++i) {
        if (kSoundOutputs[i].describe(silence, facts)) {
            return true;
        }
    }
    return false;
}

bool IsBluetoothOutput(const std::string& name) {
    return name.rfind("bluez_", 0) == 0;
}
