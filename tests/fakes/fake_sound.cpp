#include "fake_sound.h"

#include "platform/sound.h"

std::vector<SoundCall> soundCalls;

void ResetFakeSound() {
    soundCalls.clear();
}

bool PrepareWavImage(const uint8_t* image, size_t length) {
    soundCalls.push_back({"prepare", image, length});
    return true;
}

void PlayWavImage(const uint8_t* image, size_t length) {
    soundCalls.push_back({"play", image, length});
}

void CloseSound() {}
