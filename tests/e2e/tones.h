// Four sounds told apart in what came out of the device: each is a tone of
// its own pitch, with whole cycles in every block of the device's period, so
// that a block's power at one pitch is blind to the others. For the sound
// tests and the session benchmark alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config.h"
#include "sound/output/sdl/sdl_output.h"

// Frames a block: the device's period, what a tone is judged over.
constexpr int kToneBlock = kOutputBufferFrames;

// On, off, swing, strike: the lowest at 300 Hz or above, the others its
// double, four and eight times.
constexpr double kToneCycleHz = static_cast<double>(kOutputRate) / kToneBlock;
constexpr double kToneLowestHz =
    kToneCycleHz * static_cast<int>((300 + kToneCycleHz - 1) / kToneCycleHz);
constexpr double kToneHz[4] = {kToneLowestHz, 8 * kToneLowestHz, 2 * kToneLowestHz,
                               4 * kToneLowestHz};

// Frame f of a tone file, from phase 0, half of full scale.
double ToneSample(double hz, size_t f);

// A WAV image of the tone, mono 16-bit at the output rate: 5 s is longer
// than any gap between two sounds in a session, so each still plays when the
// next cuts it off.
std::string ToneWav(double hz, int ms = 5000);

// Power of one frequency in a stretch of samples (Goertzel).
double TonePower(const std::vector<int16_t>& x, size_t begin, size_t count, double hz);

// Which of the four tones the block from `at` holds: -1 for silence. The bar
// is well above the noise floor and well below a tone.
int ToneAt(const std::vector<int16_t>& x, size_t at);

// How far the block from `start` on differs from the tone's own frames once
// a cut-off sound has faded: 0 when the tone starts right there.
double ToneMisfit(const std::vector<int16_t>& x, size_t start, int tone);
