#include "sound/sound_bank.h"

#include "platform/file.h"
#include "sound/sound.h"

uint8_t soundSlots[kSoundCount][kSoundSlotSize];
size_t soundLengths[kSoundCount];

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
    }
    return result;
}

void PlaySlot(SoundId id) {
    const auto slot = static_cast<int32_t>(id);
    PlayWavImage(soundSlots[slot], soundLengths[slot]);
}
