// Windows' outputs, in the order they are tried. WASAPI opens wherever its
// render thread starts, with a device or without one (it keeps looking
// itself, so it is never lost); where even that fails, the program plays on
// with no output at all.
#include "sound/output/output.h"
#include "sound/output/wasapi/wasapi_output.h"

namespace {

bool OpenNothing(const MixerPull&) {
    return true;
}

void Nothing() {}

// No output at all has nothing to tell: the doctor says none opens.
bool DescribeNothing(const MixerPull&, SoundDeviceFacts&) {
    return false;
}

}  // namespace

const SoundOutput kSoundOutputs[] = {
    // name, open, close, lock, unlock, skip the queue, lost, describe
    {"WASAPI", OpenWasapiOutput, CloseWasapiOutput, LockWasapiOutput, UnlockWasapiOutput,
     SkipWasapiQueue, nullptr, DescribeWasapiOutput},
    {"silent", OpenNothing, Nothing, Nothing, Nothing, nullptr, nullptr, DescribeNothing},
};
const size_t kSoundOutputCount = sizeof kSoundOutputs / sizeof kSoundOutputs[0];

// WASAPI's default endpoint is not looked into: no name to go by.
std::string DefaultOutputName() {
    return {};
}
