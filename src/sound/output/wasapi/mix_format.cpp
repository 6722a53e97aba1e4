#include "sound/output/wasapi/mix_format.h"

#include <ks.h>
#include <ksmedia.h>

#include <cstring>

namespace {

int32_t BytesOf(SampleKind kind) {
    switch (kind) {
        case SampleKind::Int16:
            return 2;
        case SampleKind::Int24:
            return 3;
        case SampleKind::Float32:
        case SampleKind::Int32:
            break;
    }
    return 4;
}

// Exactly sample / 32768: a float sink that turns it back into 16 bits gets
// the very sample again.
void WriteSample(int16_t sample, SampleKind kind, uint8_t* out) {
    switch (kind) {
        case SampleKind::Float32: {
            const float value = static_cast<float>(sample) / 32768.0f;
            std::memcpy(out, &value, sizeof value);
            return;
        }
        case SampleKind::Int16:
            std::memcpy(out, &sample, sizeof sample);
            return;
        case SampleKind::Int24: {
            const uint16_t bits = static_cast<uint16_t>(sample);
            out[0] = 0;
            out[1] = static_cast<uint8_t>(bits & 0xFF);
            out[2] = static_cast<uint8_t>(bits >> 8);
            return;
        }
        case SampleKind::Int32: {
            const int32_t value =
                static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(sample)) << 16);
            std::memcpy(out, &value, sizeof value);
            return;
        }
    }
}

}  // namespace

bool ReadMixLayout(const WAVEFORMATEX& format, MixLayout& layout) {
    bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool isPcm = format.wFormatTag == WAVE_FORMAT_PCM;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        format.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
        const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        isFloat = IsEqualGUID(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
        isPcm = IsEqualGUID(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    }
    MixLayout made;
    if (isFloat && format.wBitsPerSample == 32) {
        made.kind = SampleKind::Float32;
    } else if (isPcm && format.wBitsPerSample == 16) {
        made.kind = SampleKind::Int16;
    } else if (isPcm && format.wBitsPerSample == 24) {
        made.kind = SampleKind::Int24;
    } else if (isPcm && format.wBitsPerSample == 32) {
        made.kind = SampleKind::Int32;
    } else {
        return false;
    }
    made.channels = format.nChannels;
    made.rate = static_cast<int32_t>(format.nSamplesPerSec);
    made.bytesPerFrame = made.channels * BytesOf(made.kind);
    if (made.channels < 1 || made.rate <= 0 || format.nBlockAlign != made.bytesPerFrame) {
        return false;
    }
    layout = made;
    return true;
}

void ConvertMixFrames(const int16_t* stereo, size_t frames, const MixLayout& layout, uint8_t* out) {
    const int32_t bytes = BytesOf(layout.kind);
    for (size_t i = 0; i < frames; ++i) {
        uint8_t* frame = out + i * static_cast<size_t>(layout.bytesPerFrame);
        std::memset(frame, 0, static_cast<size_t>(layout.bytesPerFrame));
        const int32_t carried = layout.channels < 2 ? layout.channels : 2;
        for (int32_t c = 0; c < carried; ++c) {
            WriteSample(stereo[i * 2 + c], layout.kind, frame + c * bytes);
        }
    }
}
