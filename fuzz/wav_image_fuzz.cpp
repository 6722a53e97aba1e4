// Any bytes as a sound file: from the slot they load into to a sound that
// plays or the alert tone in its place, through SDL's WAV decoding and
// conversion and the sound service's own checks, with the audio device
// (SDL's dummy driver) pulling the sound as it would on a real run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config.h"
#include "sound/sound.h"
#include "sound/sound_bank.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First alone, in memory of exactly its size, so that AddressSanitizer
    // sees any read past its end (a slot has zeros after a file instead).
    static std::vector<uint8_t> exact;
    exact.assign(data, data + size);
    PrepareWavImage(exact.data(), exact.size());

    // Then as the sound bank holds it: cut to the limit, the rest of the slot
    // zero, prepared and played.
    const size_t length = std::min(size, static_cast<size_t>(kSoundLoadLimit));
    std::memcpy(soundSlots[0], data, length);
    soundLengths[0] = length;
    PrepareWavImage(soundSlots[0], length);
    PlaySlot(SoundId::On);
    std::memset(soundSlots[0], 0, length);
    return 0;
}
