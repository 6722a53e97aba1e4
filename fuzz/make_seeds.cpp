// Writes the seed inputs of the fuzz targets, one folder per target, into the
// folder named on the command line. Seeds are made here rather than stored so
// that each stays readable as the code that builds it.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wav_images.h"
#include "wav_writer.h"

namespace {

using Bytes = WavBytes;

bool WriteSeed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/" + name;
    if (!WriteBytesToFile(path, bytes)) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Report sequences: a length byte (0xFF for 256) before each report.
Bytes Reports(const std::vector<Bytes>& reports) {
    Bytes out;
    for (const Bytes& report : reports) {
        out.push_back(report.size() == 256 ? 0xFF : static_cast<uint8_t>(report.size()));
        out.insert(out.end(), report.begin(), report.end());
    }
    return out;
}

bool ReportSeeds(const std::string& folder) {
    Bytes longest(256, 0x80);
    longest[0] = 0x31;
    return WriteSeed(folder, "session",
                     Reports({{0x31, 0x00, 0x00, 0x80, 0x80, 0x9a},
                              {0x31, 0x00, 0x08, 0x80, 0x80, 0x9a},
                              {0x30, 0x00, 0x80}})) &&
           WriteSeed(folder, "status",
                     Reports({{0x31, 0x00, 0x00, 0x90, 0x80, 0x9a},
                              {0x20, 0x00, 0x00, 0x02, 0x00, 0x00, 0xc8},
                              {},
                              {0x31, 0x00, 0x00, 0x80, 0x80, 0x9a}})) &&
           WriteSeed(folder, "short",
                     Reports({{0x31, 0x00, 0x08, 0x11, 0x22, 0x33},
                              {0x31, 0x00},
                              {0x30},
                              {0x31, 0x00, 0x08, 0x44}})) &&
           WriteSeed(folder, "longest", Reports({longest, {0xff}, {0x00, 0x01}}));
}

bool ScriptSeeds(const std::string& folder) {
    return WriteSeed(folder, "session",
                     Text("# ignite, swing, quit\n"
                          "0-3000/10 31 00 00 80 80 9a\n"
                          "300 31 00 08 80 80 9a\n"
                          "1500-1540/10 31 00 00 bc 80 80\n"
                          "2500 31 00 80 80 80 9a\n")) &&
           WriteSeed(folder, "absent", Text("absent\n")) &&
           WriteSeed(folder, "gone",
                     Text("0-5000/10 31 00 00 80 80 9a\n"
                          "gone 600-1500\n"
                          "gone 2000-2100 # again\n"
                          "accessory 3000\n"
                          "4000 30 00 80\r\n")) &&
           WriteSeed(folder, "errors",
                     Text("10-5/1 31\n"
                          "1 1ff\n"
                          "gone 5-5\n"));
}

// A RIFF/WAVE image with one "fmt " chunk and one "data" chunk. dataClaim is
// what the data chunk's header says, whatever follows it.
Bytes Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
          uint32_t dataClaim) {
    return WavImage(FrameFormat(format, channels, rate, bits), data, dataClaim);
}

Bytes Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    return WavImage(FrameFormat(format, channels, rate, bits), data);
}

// A short rising tone, 16-bit samples.
Bytes Tone(size_t frames, uint16_t channels) {
    Bytes out;
    for (size_t f = 0; f < frames; ++f) {
        const auto sample = static_cast<uint16_t>((f * 1024) & 0x7fff);
        for (uint16_t c = 0; c < channels; ++c) {
            PutLe(out, sample, 2);
        }
    }
    return out;
}

// Good images in several encodings, and the malformed ones a folder of
// sounds may hold: cut short, lying about sizes, impossible formats.
bool WavSeeds(const std::string& folder) {
    const Bytes tone = Tone(64, 1);
    const Bytes good = Wav(1, 1, 22050, 16, tone);
    Bytes fmtAfterData = good;
    std::swap_ranges(fmtAfterData.begin() + 12, fmtAfterData.begin() + 36,
                     fmtAfterData.begin() + 36);  // "data" header now first, torn
    Bytes randomBytes;
    uint32_t state = 12345;
    for (int i = 0; i < 512; ++i) {
        state = state * 1103515245 + 12345;
        randomBytes.push_back(static_cast<uint8_t>(state >> 16));
    }
    Bytes oddChunk = Wav(1, 1, 8000, 8, Bytes(33, 0x80));
    oddChunk.push_back(0);  // the pad byte of an odd-sized chunk
    PutTag(oddChunk, "LIST");
    PutLe(oddChunk, 0xFFFFFFF0, 4);
    return WriteSeed(folder, "good_pcm16_mono", good) &&
           WriteSeed(folder, "good_pcm8_stereo", Wav(1, 2, 8000, 8, Bytes(64, 0x80))) &&
           WriteSeed(folder, "good_float32", Wav(3, 1, 44100, 32, Bytes(64, 0))) &&
           WriteSeed(folder, "good_ten_channels", Wav(1, 10, 8000, 16, Tone(4, 10))) &&
           WriteSeed(folder, "empty", {}) &&
           WriteSeed(folder, "truncated_riff_header", Bytes(good.begin(), good.begin() + 10)) &&
           WriteSeed(folder, "truncated_fmt", Bytes(good.begin(), good.begin() + 30)) &&
           WriteSeed(folder, "data_claims_4gb", Wav(1, 1, 22050, 16, tone, 0xFFFFFFFF)) &&
           WriteSeed(folder, "zero_channels", Wav(1, 0, 22050, 16, tone)) &&
           WriteSeed(folder, "zero_rate", Wav(1, 1, 0, 16, tone)) &&
           WriteSeed(folder, "zero_bits", Wav(1, 1, 22050, 0, tone)) &&
           WriteSeed(folder, "adpcm_without_blocks", Wav(2, 1, 22050, 4, Bytes(7, 0x11))) &&
           WriteSeed(folder, "unknown_encoding", Wav(0x7777, 1, 22050, 16, tone)) &&
           WriteSeed(folder, "fmt_after_data", fmtAfterData) &&
           WriteSeed(folder, "odd_chunk_then_huge_list", oddChunk) &&
           WriteSeed(folder, "random_bytes", randomBytes) &&
           WriteSeed(folder, "good_pcm24_stereo", PcmTone(1, 24, 2, 8000, 0.004)) &&
           WriteSeed(folder, "good_pcm32_5.1", PcmTone(1, 32, 6, 8000, 0.002)) &&
           WriteSeed(folder, "good_mu_law", LawSquare(7, 0x80, 0x00, 2, 0.004)) &&
           WriteSeed(folder, "good_ima_adpcm", WavImage(ImaFormat(), ImaBlocks(2))) &&
           WriteSeed(folder, "good_ms_adpcm", MsAdpcm(2));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    const bool ok = ReportSeeds(root + "/report_decoding") &&
                    ScriptSeeds(root + "/script_parser") && WavSeeds(root + "/wav_image") &&
                    WavSeeds(root + "/wav_decoder");
    return ok ? 0 : 1;
}
