// The sizes PlaySound trusts: an image may only claim the bytes it has.
#include "wav_sizes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void Put(std::string& wav, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        wav.push_back(static_cast<char>(value >> (8 * i)));
    }
}

uint32_t At(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           uint32_t{bytes[offset + 3]} << 24;
}

// RIFF/WAVE, a 16-byte format, then data with `samples` bytes of them
// present and the sizes as claimed.
std::string Wav(uint32_t riffSize, uint32_t dataSize, size_t samples) {
    std::string wav = "RIFF";
    Put(wav, riffSize);
    wav += "WAVEfmt ";
    Put(wav, 16);
    wav += std::string("\x01\x00\x01\x00\x80\xbb\x00\x00\x00\x77\x01\x00\x02\x00\x10\x00", 16);
    wav += "data";
    Put(wav, dataSize);
    wav.append(samples, '\x11');
    return wav;
}

WavFit Fit(const std::string& wav, std::vector<uint8_t>& clamped) {
    return FitWavSizes(reinterpret_cast<const uint8_t*>(wav.data()), wav.size(), clamped);
}

}  // namespace

TEST(WavSizes, SizesThatOverrunTheLoadedBytesAreCutToThem) {
    std::vector<uint8_t> clamped;
    EXPECT_EQ(Fit(Wav(36 + 100, 100, 100), clamped), WavFit::AsIs);
    EXPECT_TRUE(clamped.empty());

    // A file cut short, or longer than a slot: both sizes claim too much.
    const std::string cut = Wav(36 + 100, 100, 60);
    ASSERT_EQ(Fit(cut, clamped), WavFit::Clamped);
    ASSERT_EQ(clamped.size(), cut.size());
    EXPECT_EQ(At(clamped, 4), cut.size() - 8);
    EXPECT_EQ(At(clamped, 40), 60u);
    EXPECT_EQ(std::string(clamped.begin() + 44, clamped.end()), std::string(60, '\x11'));

    // A hostile image: sizes near 4 GiB over a handful of bytes.
    ASSERT_EQ(Fit(Wav(0xFFFFFFF0, 0xFFFFFFF0, 8), clamped), WavFit::Clamped);
    EXPECT_EQ(At(clamped, 4), 44u + 8u - 8u);
    EXPECT_EQ(At(clamped, 40), 8u);
}

TEST(WavSizes, ImagesWhoseLayoutCannotBeTrustedAreNotPlayable) {
    std::vector<uint8_t> clamped;
    EXPECT_EQ(Fit("", clamped), WavFit::Unplayable);
    EXPECT_EQ(Fit("RIFF\x10\x00\x00\x00WAV", clamped), WavFit::Unplayable);
    std::string notWave = Wav(136, 100, 100);
    notWave.replace(8, 4, "AVI ");
    EXPECT_EQ(Fit(notWave, clamped), WavFit::Unplayable);
    std::string formatOverruns = Wav(136, 100, 100);
    formatOverruns[16] = '\x7f';  // the format chunk claims more than there is
    EXPECT_EQ(Fit(formatOverruns, clamped), WavFit::Unplayable);
    std::string noFormat = Wav(136, 100, 100);
    noFormat.replace(12, 4, "junk");
    EXPECT_EQ(Fit(noFormat, clamped), WavFit::Unplayable);
    EXPECT_EQ(Fit(Wav(136, 100, 100).substr(0, 40), clamped), WavFit::Unplayable) << "no data";
}
