// The sound service as a recorder: every prepare and play, with its image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SoundCall {
    std::string what;  // "prepare", "prepare ahead" or "play"
    const uint8_t* image;
    size_t length;
};

extern std::vector<SoundCall> soundCalls;

void ResetFakeSound();
