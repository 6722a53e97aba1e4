#include "sound/sound_bank.h"

#include "platform/file.h"
#include "sound/sound.h"

uint8_t soundSlots[kSoundCount][kSoundSlotSize];
size_t soundLengths[kSoundCount];
uint8_t humSlot[kSoundSlotSize];
size_t humLength = 0;

namespace {

// The hum is optional, and what cannot be one is none: missing, not a plain
// file we may read, empty, or too large to be read whole (a loop cut short
// would not join up). One that does not decode is dropped by the service.
void LoadHum() {
    const int64_t length = ReadWholeFile(kSoundFileHum, humSlot, kSoundSlotSize);
    humLength = length > 0 && length <= kSoundLoadLimit ? static_cast<size_t>(length) : 0;
    if (humLength > 0) {
        SetHumImage(humSlot, humLength);
    }
}

}  // namespace

int32_t LoadSounds() {
    int32_t result = 0;
    for (int32_t id = 0; id < kSoundCount; ++id) {
        // A directory, a pipe or a file we may not read is as good as missing.
        const int64_t length = ReadWholeFile(kSoundFiles[id], soundSlots[id], kSoundLoadLimit);
        if (length < 0) {
            result = 1;
            continue;
        }
        soundLengths[id] = static_cast<size_t>(length);
    }
    // Decoding takes milliseconds per megabyte: the service's worker does it
    // while the remote is opened and probed and the LEDs flash, so that no
    // swing waits for it and neither does start-up.
    if (result == 0) {
        for (int32_t id = 0; id < kSoundCount; ++id) {
            PrepareWavImageAhead(soundSlots[id], soundLengths[id]);
        }
        LoadHum();
    }
    return result;
}

void PlaySlot(SoundId id) {
    const auto slot = static_cast<int32_t>(id);
    PlayWavImage(soundSlots[slot], soundLengths[slot]);
}

void LightHum(bool lit) {
    SetHumLit(lit, soundSlots[static_cast<int32_t>(lit ? SoundId::On : SoundId::Off)]);
}

void SetHumMotion(int32_t energy) {
    SetHumEnergy(energy);
}
