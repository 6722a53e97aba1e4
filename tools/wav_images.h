// Images of every encoding the sound services decode, made with the shared
// WAV writer: tones and squares whose samples the tests can predict, and
// seeds for the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav_writer.h"

// A PCM or float sine of `seconds` at `hz`, 0.6 of full scale, the same in
// every channel. 8-bit is unsigned; wider samples are the top bytes of a
// 32-bit value.
WavBytes PcmTone(uint16_t tag, uint16_t bits, uint16_t channels, uint32_t rate, double seconds,
                 double hz = 1000);

// Companded square wave at 8 kHz: four samples high, four low, 1 kHz.
WavBytes LawSquare(uint16_t tag, uint8_t high, uint8_t low, uint16_t channels, double seconds);

// IMA ADPCM, 8 kHz, 505 frames a block: nibbles that drive the first
// channel fully up for four samples and fully down for four, a 1 kHz square;
// a second channel stays silent.
WavFormat ImaFormat(uint16_t channels = 1);
WavBytes ImaBlocks(size_t blocks, uint16_t channels = 1);

// MS ADPCM, mono, 8 kHz, predictor 0, 500 samples a block: +7 and -8 steps,
// a 1 kHz square.
WavBytes MsAdpcm(size_t blocks);
