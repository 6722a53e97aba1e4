// Synthesizes the program's sound set: on0.wav, off0.wav, swing2.wav and
// strike2.wav, and the hum looped beneath them, hum0.wav, 16-bit mono PCM at
// 44.1 kHz, into the folder given as the only argument. Deterministic: the
// same bytes on every build.
//
// Every sound is built from the same few parts: a hum (a low tone with its
// harmonics and a slightly detuned twin that beats against it), filtered
// noise, and envelopes that start and end at silence so nothing clicks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "wav_writer.h"

namespace {

constexpr int kRate = 44100;
constexpr double kTwoPi = 2 * std::numbers::pi;

using Signal = std::vector<double>;

// A small fixed-seed generator: rand() differs between C libraries.
struct Noise {
    uint32_t state;
};

double White(Noise& noise) {
    noise.state ^= noise.state << 13;
    noise.state ^= noise.state >> 17;
    noise.state ^= noise.state << 5;
    return noise.state / 2147483648.0 - 1.0;
}

// A state-variable filter whose cutoff may move every sample.
struct Filter {
    double low = 0;
    double band = 0;
};

struct FilterOut {
    double low, band, high;
};

FilterOut Run(Filter& f, double input, double cutoffHz, double q) {
    const double g = std::tan(std::numbers::pi * std::clamp(cutoffHz, 20.0, kRate * 0.45) / kRate);
    const double k = 1.0 / q;
    const double a1 = 1.0 / (1.0 + g * (g + k));
    const double v3 = input - f.low;
    const double v1 = a1 * f.band + g * a1 * v3;
    const double v2 = f.low + g * v1;
    f.band = 2 * v1 - f.band;
    f.low = 2 * v2 - f.low;
    return {v2, v1, input - k * v1 - v2};
}

double Smooth(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

// Rises from 0 over `in` seconds and falls back to 0 over the last `out`.
double Fade(double t, double length, double in, double out) {
    return Smooth(t / in) * Smooth((length - t) / out);
}

// The blade's hum. `phases` carries each harmonic's phase between samples, so
// the pitch can glide without jumps; `brightness` sets how far up the
// harmonics reach.
struct Hum {
    double phases[2][12] = {};
};

double HumSample(Hum& hum, double hz, double brightness) {
    double sum = 0;
    for (int voice = 0; voice < 2; ++voice) {
        const double voiceHz = hz * (voice == 0 ? 1.0 : 1.013);
        for (int n = 1; n <= 12; ++n) {
            const double partialHz = voiceHz * n;
            if (partialHz > kRate * 0.45) {
                break;
            }
            double& phase = hum.phases[voice][n - 1];
            phase = std::fmod(phase + kTwoPi * partialHz / kRate, kTwoPi);
            sum += std::sin(phase) * std::exp(-(n - 1) / brightness) / n;
        }
    }
    return sum * 0.5;
}

// A rising hum that brightens as the blade extends, a charge of noise
// sweeping up, and a shimmer climbing three octaves.
Signal MakeOn() {
    const double length = 1.1;
    Signal out(static_cast<size_t>(length * kRate));
    Hum hum;
    Filter charge;
    Noise noise{0x2545F491};
    double shimmerPhase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double rise = 1 - std::exp(-t / 0.22);
        const double hz = 42 + 58 * rise;
        const double body = HumSample(hum, hz, 1.5 + 5 * rise);
        const double sweepHz = 300 * std::pow(10.0, std::min(t / 0.35, 1.0));
        const double swish =
            Run(charge, White(noise), sweepHz, 2.5).band * Smooth(t / 0.05) * std::exp(-t / 0.25);
        shimmerPhase += kTwoPi * 220 * std::pow(8.0, std::min(t / 0.3, 1.0)) / kRate;
        const double shimmer =
            std::sin(shimmerPhase) * 0.12 * Smooth(t / 0.04) * std::exp(-t / 0.12);
        out[i] = (body * (0.6 + 0.4 * rise) + 0.9 * swish + shimmer) * Fade(t, length, 0.03, 0.3);
    }
    return out;
}

// The hum sinks and darkens, a whine falls away under it and the noise
// closes down to a rumble.
Signal MakeOff() {
    const double length = 0.9;
    Signal out(static_cast<size_t>(length * kRate));
    Hum hum;
    Filter hiss;
    Noise noise{0x9E3779B9};
    double whinePhase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double fall = std::exp(-t / 0.22);
        const double body = HumSample(hum, 30 + 70 * fall, 1.2 + 5 * fall);
        whinePhase += kTwoPi * (180 + 1580 * std::exp(-t / 0.12)) / kRate;
        const double whine = std::sin(whinePhase) * 0.1 * std::exp(-t / 0.2);
        const double rumble = Run(hiss, White(noise), 200 + 2300 * fall, 1.2).low * 0.5 * fall;
        out[i] = (body * (0.35 + 0.65 * fall) + whine + rumble) * Fade(t, length, 0.01, 0.35);
    }
    return out;
}

// A blade passing by: its distance sets the loudness and its speed towards
// or away from the ear shifts every pitch, high while it comes and low as it
// goes, over a whoosh of noise whose band follows the same shift.
Signal MakeSwing() {
    const double length = 0.7;
    const double passAt = 0.3;      // s, closest to the ear
    const double speed = 60;        // m/s, exaggerated for effect
    const double closest = 1.5;     // m
    const double soundSpeed = 343;  // m/s
    Signal out(static_cast<size_t>(length * kRate));
    Hum hum;
    Filter whoosh;
    Filter air;
    Noise noise{0xB5297A4D};
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double along = speed * (t - passAt);
        const double distance = std::hypot(along, closest);
        const double doppler = soundSpeed / (soundSpeed + speed * along / distance);
        const double near = closest / distance;
        const double body = HumSample(hum, 92 * doppler, 2.5 + 3 * near);
        const double white = White(noise);
        const double band = Run(whoosh, white, 700 * doppler * doppler, 1.8).band;
        const double edge = Run(air, white, 2600 * doppler, 4.0).band * 0.3;
        out[i] = (body * 0.7 + band * 1.6 + edge) * (0.15 + near) * Fade(t, length, 0.06, 0.25);
    }
    return out;
}

// A hard hit: a bright burst, metal ringing at unrelated pitches, sparks that
// crackle ever more rarely, and the hum sputtering underneath.
Signal MakeStrike() {
    const double length = 0.75;
    const double ringHz[] = {523, 1187, 1871, 2693, 3547, 4603};
    const double ringDecay[] = {0.30, 0.22, 0.16, 0.12, 0.09, 0.07};
    Signal out(static_cast<size_t>(length * kRate));
    Hum hum;
    Filter burst;
    Filter sparks;
    Noise noise{0x68E31DA4};
    double ringPhase[6] = {};
    double jitter = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double white = White(noise);
        const double flash = Run(burst, white, 2500, 0.7).high * std::exp(-t / 0.012);
        double ring = 0;
        for (int p = 0; p < 6; ++p) {
            ringPhase[p] += kTwoPi * ringHz[p] / kRate;
            ring += std::sin(ringPhase[p]) * std::exp(-t / ringDecay[p]) * 0.16;
        }
        // A spark is a single sample kick into a resonant filter: it rings
        // for a millisecond, like a snap.
        const double chance = 0.012 * std::exp(-t / 0.18) + 0.0015;
        const double kick = (White(noise) + 1) * 0.5 < chance ? White(noise) * 6 : 0.0;
        const double crackle = Run(sparks, kick, 3800, 3.0).band;
        jitter += (White(noise) * 0.5 - jitter) * 0.002;
        const double body =
            HumSample(hum, 95 * (1 + 0.08 * jitter), 4) * (0.4 + 0.6 * std::exp(-t / 0.1));
        out[i] = (flash + ring + crackle + body * 0.6) * Fade(t, length, 0.001, 0.3);
    }
    return out;
}

// The hum the blade keeps up while lit, made to loop: every part of it runs
// a whole number of cycles in the loop's two seconds, so its end runs into
// its start without a seam. Two tones a breath apart beat slowly against
// each other over a sub-octave, an electric buzz rides high above them, and
// a faint hiss of many fixed partials keeps it alive.
Signal MakeHum() {
    const int loopFrames = 2 * kRate;
    const double loopHz = 1.0 / 2.0;  // a partial at a multiple of this loops
    const double baseHz = 184 * loopHz;
    const double twinHz = 187 * loopHz;  // beats 1.5 times a second
    Signal out(static_cast<size_t>(loopFrames));
    // The hiss's partials: frequencies and phases drawn once, each a whole
    // number of cycles in the loop.
    Noise noise{0x1B873593};
    std::vector<std::pair<double, double>> hiss;
    for (int i = 0; i < 160; ++i) {
        const double hz = std::round((1500 + 2500 * (White(noise) + 1) * 0.5) / loopHz) * loopHz;
        hiss.push_back({hz, std::numbers::pi * White(noise)});
    }
    for (int i = 0; i < loopFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double body = 0;
        for (int n = 1; n <= 14; ++n) {
            const double weight = std::exp(-(n - 1) / 2.2) / n;
            body += weight * std::sin(kTwoPi * baseHz * n * t);
            body += 0.5 * weight * std::sin(kTwoPi * twinHz * n * t + 0.7 * n);
        }
        const double sub = 0.35 * std::sin(kTwoPi * baseHz / 2 * t);
        // The buzz swells and fades once a loop, a little like a blade held up.
        double buzz = 0;
        for (int n = 18; n <= 34; n += 2) {
            buzz += std::sin(kTwoPi * baseHz * n * t + n) / n;
        }
        buzz *= 0.5 * (1.2 + std::sin(kTwoPi * loopHz * t));
        double air = 0;
        for (const auto& [hz, phase] : hiss) {
            air += std::sin(kTwoPi * hz * t + phase);
        }
        // Kept in the gentle part of WriteWav's rounding-off.
        out[static_cast<size_t>(i)] = 0.3 * (body + sub + buzz + 0.004 * air);
    }
    return out;
}

// Scales to a peak of `peakSample` (just below full scale unless told), rounds off
// the loudest peaks gently and writes a 16-bit mono WAV file.
bool WriteWav(const std::string& path, const Signal& signal, double peakSample = 29000) {
    double peak = 1e-9;
    for (double s : signal) {
        peak = std::max(peak, std::abs(std::tanh(1.2 * s)));
    }
    std::vector<int16_t> samples(signal.size());
    for (size_t i = 0; i < signal.size(); ++i) {
        samples[i] =
            static_cast<int16_t>(std::lround(std::tanh(1.2 * signal[i]) / peak * peakSample));
    }
    return WriteBytesToFile(path, WavImage(FrameFormat(1, 1, kRate, 16), Pcm16Data(samples)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const bool ok = WriteWav(folder + "/on0.wav", MakeOn()) &&
                    WriteWav(folder + "/off0.wav", MakeOff()) &&
                    WriteWav(folder + "/swing2.wav", MakeSwing()) &&
                    WriteWav(folder + "/strike2.wav", MakeStrike()) &&
                    // Beneath the others: full, it leaves them room.
                    WriteWav(folder + "/hum0.wav", MakeHum(), 13000);
    if (!ok) {
        std::fprintf(stderr, "cannot write the sounds into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
