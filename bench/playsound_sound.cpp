// The sound service on Windows' own PlaySound: each play hands the image in
// memory over and returns at once (SND_ASYNC | SND_MEMORY); a new sound cuts
// off the one playing.
#include <windows.h>
// clang-format off: mmsystem needs windows.h first
#include <mmsystem.h>
// clang-format on

#include <vector>

#include "config.h"
#include "sound/sound.h"
#include "wav_sizes.h"

namespace {

struct PreparedSound {
    bool used = false;
    const uint8_t* image = nullptr;
    size_t length = 0;
    WavFit fit = WavFit::Unplayable;
    std::vector<uint8_t> clamped;  // the image with its sizes cut, when they overran
};

PreparedSound prepared[kMaxPreparedImages];
int32_t nextReplaced = 0;  // the entry given up when all are taken

int32_t FindPrepared(const uint8_t* image, size_t length) {
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (prepared[i].used && prepared[i].image == image && prepared[i].length == length) {
            return i;
        }
    }
    return -1;
}

int32_t EntryFor(const uint8_t* image) {
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (prepared[i].used && prepared[i].image == image) {
            return i;
        }
    }
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (!prepared[i].used) {
            return i;
        }
    }
    const int32_t entry = nextReplaced;
    nextReplaced = (nextReplaced + 1) % kMaxPreparedImages;
    return entry;
}

}  // namespace

bool PrepareWavImage(const uint8_t* image, size_t length) {
    const int32_t entry = EntryFor(image);
    PreparedSound& sound = prepared[entry];
    // A copy PlaySound may still be reading must not go away under it.
    if (!sound.clamped.empty()) {
        PlaySoundA(nullptr, nullptr, 0);
    }
    sound = PreparedSound{};
    sound.used = true;
    sound.image = image;
    sound.length = length;
    sound.fit = FitWavSizes(image, length, sound.clamped);
    return sound.fit != WavFit::Unplayable;
}

// Preparing is a walk over a few chunk headers, and a copy only for an image
// whose sizes overrun it: done at once, there is nothing to hand to a worker.
void PrepareWavImageAhead(const uint8_t* image, size_t length) {
    PrepareWavImage(image, length);
}

void PlayWavImage(const uint8_t* image, size_t length) {
    int32_t entry = FindPrepared(image, length);
    if (entry < 0) {
        PrepareWavImage(image, length);
        entry = FindPrepared(image, length);
    }
    const PreparedSound& sound = prepared[entry];
    if (sound.fit == WavFit::Unplayable) {
        // What PlaySound itself does with an image it cannot play, without
        // letting it read one whose sizes cannot be trusted.
        PlaySoundA(reinterpret_cast<LPCSTR>(SND_ALIAS_SYSTEMDEFAULT), nullptr,
                   SND_ALIAS_ID | SND_ASYNC);
        return;
    }
    const uint8_t* play = sound.fit == WavFit::Clamped ? sound.clamped.data() : sound.image;
    PlaySoundA(reinterpret_cast<LPCSTR>(play), nullptr, SND_ASYNC | SND_MEMORY);
}

void CloseSound() {
    PlaySoundA(nullptr, nullptr, 0);
    for (PreparedSound& sound : prepared) {
        sound = PreparedSound{};
    }
    nextReplaced = 0;
}

// The comparison is of how a sound starts: this way has no hum.
void SetHumImage(const uint8_t*, size_t) {}
void SetHumLit(bool, const uint8_t*) {}
void SetHumEnergy(int32_t) {}
