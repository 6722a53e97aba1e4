#include "wav_writer.h"

#include <cstdio>

WavFormat FrameFormat(uint16_t encoding, uint16_t channels, uint32_t rate, uint16_t bits) {
    return {encoding, channels, rate, bits, static_cast<uint16_t>(channels * bits / 8), {}};
}

void PutLe(WavBytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void PutTag(WavBytes& out, const char* tag) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(tag[i]));
    }
}

WavBytes WavHeader(const WavFormat& format, uint32_t dataBytes, uint32_t claimedBytes) {
    const auto fmtBytes = static_cast<uint32_t>(16 + format.extra.size());
    WavBytes out;
    PutTag(out, "RIFF");
    PutLe(out, 4 + 8 + fmtBytes + 8 + dataBytes, 4);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutLe(out, fmtBytes, 4);
    PutLe(out, format.encoding, 2);
    PutLe(out, format.channels, 2);
    PutLe(out, format.rate, 4);
    PutLe(out, format.rate * format.blockAlign, 4);
    PutLe(out, format.blockAlign, 2);
    PutLe(out, format.bits, 2);
    out.insert(out.end(), format.extra.begin(), format.extra.end());
    PutTag(out, "data");
    PutLe(out, claimedBytes, 4);
    return out;
}

WavBytes WavImage(const WavFormat& format, const WavBytes& data, uint32_t claimedBytes) {
    WavBytes out = WavHeader(format, static_cast<uint32_t>(data.size()), claimedBytes);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

WavBytes WavImage(const WavFormat& format, const WavBytes& data) {
    return WavImage(format, data, static_cast<uint32_t>(data.size()));
}

WavBytes Pcm16Data(const std::vector<int16_t>& samples) {
    WavBytes out;
    out.reserve(samples.size() * 2);
    for (const int16_t sample : samples) {
        PutLe(out, static_cast<uint16_t>(sample), 2);
    }
    return out;
}

bool WriteBytesToFile(const std::string& path, const WavBytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}
