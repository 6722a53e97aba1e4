// Any bytes as a sound file, through the portable WAV decoder every build
// decodes with: chunk walking, format checks, sample conversion and the
// mixing down of more than two channels. The system's codec (SDL's loader,
// Windows' Audio Compression Manager) is not here; in its place the
// compressed bytes come back as they are, taken for 16-bit PCM, so that what
// follows a codec is fuzzed too.
#include <cstdint>
#include <vector>

#include "sound/wav/wav_parse.h"

namespace {

volatile int16_t sink;

bool CodecStandIn(const WavLayout& layout, size_t limit, std::vector<uint8_t>& pcm) {
    if (layout.dataBytes > limit) {
        return false;
    }
    pcm.assign(layout.data, layout.data + layout.dataBytes);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory of exactly its size, so that AddressSanitizer sees any read
    // past its end.
    const std::vector<uint8_t> exact(data, data + size);
    DecodedSound made;
    if (DecodeWavWith(exact.data(), exact.size(), made, CodecStandIn)) {
        // Every sample made is read once, so that a short buffer shows.
        for (size_t i = 0; i < made.frameCount * made.channels; ++i) {
            sink = made.frames[i];
        }
        // What the mixer relies on, and the bound on what a file can make.
        if ((made.channels != 1 && made.channels != 2) || made.rate <= 0 ||
            made.frameCount * made.channels * 2 > size * 4) {
            __builtin_trap();
        }
    }
    ReleaseWavFrames(made);
    return 0;
}
