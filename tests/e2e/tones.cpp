#include "tones.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "wav_writer.h"

double ToneSample(double hz, size_t f) {
    return 0.5 * 32767 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(f) / kOutputRate);
}

std::string ToneWav(double hz, int ms) {
    std::vector<int16_t> samples(static_cast<size_t>(ms) * kOutputRate / 1000);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(std::lround(ToneSample(hz, i)));
    }
    const WavBytes wav = WavImage(FrameFormat(1, 1, kOutputRate, 16), Pcm16Data(samples));
    return std::string(wav.begin(), wav.end());
}

double TonePower(const std::vector<int16_t>& x, size_t begin, size_t count, double hz) {
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / kOutputRate);
    double s1 = 0;
    double s2 = 0;
    for (size_t i = begin; i < begin + count; ++i) {
        const double s0 = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

int ToneAt(const std::vector<int16_t>& x, size_t at) {
    int best = -1;
    double bestPower = 1e12 * (kToneBlock / 480.0) * (kToneBlock / 480.0);
    for (int t = 0; t < 4; ++t) {
        const double p = TonePower(x, at, kToneBlock, kToneHz[t]);
        if (p > bestPower) {
            best = t;
            bestPower = p;
        }
    }
    return best;
}

double ToneMisfit(const std::vector<int16_t>& x, size_t start, int tone) {
    double worst = 0;
    for (size_t f = kCutFadeFrames; f < kToneBlock; ++f) {
        worst = std::max(worst, std::abs(x[start + f] - ToneSample(kToneHz[tone], f)));
    }
    return worst;
}
