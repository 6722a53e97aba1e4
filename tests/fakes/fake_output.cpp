// The system's table with one output that never pulls: the test mixes
// itself, as an output's thread would, frame for frame where it chooses.
#include <mutex>

#include "sound/output/output.h"

namespace {

std::mutex mixing;

bool OpenQuietly(const MixerPull&) {
    return true;
}

void Nothing() {}

void Lock() {
    mixing.lock();
}

void Unlock() {
    mixing.unlock();
}

bool DescribeNothing(const MixerPull&, SoundDeviceFacts&) {
    return false;
}

}  // namespace

const SoundOutput kSoundOutputs[] = {
    {"the test", OpenQuietly, Nothing, Lock, Unlock, nullptr, nullptr, DescribeNothing},
};
const size_t kSoundOutputCount = 1;
