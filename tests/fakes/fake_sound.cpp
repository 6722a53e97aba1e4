#include "fake_sound.h"

#include "sound/sound.h"

std::vector<SoundCall> soundCalls;

void ResetFakeSound() {
    soundCalls.clear();
}

bool PrepareWavImage(const uint8_t* image, size_t length) {
    soundCalls.push_back({"prepare", image, length});
    return true;
}

void PrepareWavImageAhead(const uint8_t* image, size_t length) {
    soundCalls.push_back({"prepare ahead", image, length});
}

void PlayWavImage(const uint8_t* image, size_t length) {
    soundCalls.push_back({"play", image, length});
}

void CloseSound() {}

void SetHumImage(const uint8_t* image, size_t length) {
    soundCalls.push_back({"hum", image, length});
}

void SetHumLit(bool, const uint8_t*) {}

void SetHumEnergy(int32_t) {}
