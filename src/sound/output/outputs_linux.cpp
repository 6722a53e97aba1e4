// Linux's outputs, in the order they are tried.
//
// SDL_AUDIODRIVER, the user's choice, wins. Else the program's own PipeWire
// stream where PipeWire serves: SDL 2.26 would take its pulseaudio driver
// there and play through pipewire-pulse, about three times as late, and its
// own PipeWire driver now and then misses a cycle. Else the program's own
// PulseAudio stream where PulseAudio itself serves (SDL's driver has the
// server hold a single period there, so a short one underruns and a long one
// is late); else SDL's own choice. Where none of them opens, the program
// plays on silently and keeps looking; SDL's dummy driver is the stand-in
// that the doctor names then.
#include "sound/output/output.h"
#include "sound/output/pipewire/pipewire_output.h"
#include "sound/output/pulse/default_sink.h"
#include "sound/output/pulse/pulse_output.h"
#include "sound/output/sdl/sdl_output.h"

const SoundOutput kSoundOutputs[] = {
    // name, open, close, lock, unlock, skip the queue, lost, describe
    {"the user's SDL driver", OpenUsersSdlDriver, CloseSdlOutput, LockSdlOutput, UnlockSdlOutput,
     nullptr, SdlOutputLost, DescribeUsersSdlDriver},
    {"PipeWire", OpenPipeWireOutput, ClosePipeWireOutput, LockPipeWireOutput, UnlockPipeWireOutput,
     nullptr, PipeWireOutputLost, DescribePipeWireOutput},
    {"PulseAudio", OpenPulseOutput, ClosePulseOutput, LockPulseOutput, UnlockPulseOutput,
     SkipPulseQueue, PulseOutputLost, DescribePulseOutput},
    {"SDL", OpenSdlOutput, CloseSdlOutput, LockSdlOutput, UnlockSdlOutput, nullptr, SdlOutputLost,
     DescribeSdlOutput},
    {"silent", OpenSdlSilence, CloseSdlOutput, LockSdlOutput, UnlockSdlOutput, nullptr, nullptr,
     DescribeSdlSilence},
};
const size_t kSoundOutputCount = sizeof kSoundOutputs / sizeof kSoundOutputs[0];

std::string DefaultOutputName() {
    std::string name;
    return PulseDefaultSinkName(name) ? name : std::string();
}
