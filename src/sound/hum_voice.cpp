// The hum's voice. Nothing about it changes from one frame to the next by
// more than a frame's share: its level moves towards the motion's (one pole,
// a short time constant up and a longer one down), its lit share moves in a
// straight line towards lit or dark over the edge sound's length, and its
// pitch bends with the level. The loop wraps its position, and the cubic
// interpolation reaches across the join, so its end runs into its start as
// any two frames do.
#include "sound/hum_voice.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "config.h"
#include "sound/cubic.h"
#include "sound/sound.h"

namespace {

// Set by the callers, read by the device's thread; stores and loads only.
std::atomic<const uint8_t*> humImage{nullptr};
std::atomic<const uint8_t*> edgeImage{nullptr};
// Each SetHumLit counts a turn in the upper bits; the lowest is lit or not.
std::atomic<uint32_t> litTurn{0};
std::atomic<int32_t> energyNow{0};

// A lit share that would flip within a frame clicks: an edge sound of no
// length still fades over this long.
constexpr double kShortestEdgeSeconds = 0.02;

// What the hum moves towards, as the device's thread last read it.
struct Targets {
    float motion = 0;  // 0 still .. 1 full
    bool lit = false;
    float litStep = 1;  // lit share per device frame
};

// Where the hum stands.
struct Voice {
    uint64_t position = 0;  // source frames, 32.32, within the loop
    float motion = 0;       // smoothed
    float lit = 0;          // 0 dark .. 1 lit, before its curve
};

// The state at the start of a mix, so that frames taken back can be mixed
// again as they were: more than the longest queue a device writes again
// holds (PulseAudio's, written in refills).
struct Mark {
    uint64_t mixed = 0;
    Voice voice;
    Targets targets;
};
constexpr int kMarks = 64;

// The device's thread's own, under the device lock.
Targets targets;
Voice voice;
uint32_t seenTurn = 0;
uint64_t mixedFrames = 0;
Mark marks[kMarks];
int markCount = 0;
int markNext = 0;  // where the next goes; the newest is just before it

// One mix's constants.
struct Pace {
    uint64_t step;  // source frames per device frame, 32.32, unbent
    uint64_t loop;  // the loop's length, 32.32
    float swell;    // share of the way to a higher motion, per frame
    float settle;   // the same towards a lower one
};

Pace PaceOf(const DecodedSound& hum, int32_t deviceRate) {
    const int32_t rate = std::max(deviceRate, 1);
    return {(uint64_t{static_cast<uint32_t>(hum.rate)} << 32) / static_cast<uint32_t>(rate),
            uint64_t{hum.frameCount} << 32,
            1 - std::exp(-1000.0f / (static_cast<float>(kHumSwellMs) * static_cast<float>(rate))),
            1 - std::exp(-1000.0f / (static_cast<float>(kHumSettleMs) * static_cast<float>(rate)))};
}

float MotionOf(int32_t energy) {
    const float share = static_cast<float>(energy - kHumStillEnergy) /
                        static_cast<float>(kHumFullEnergy - kHumStillEnergy);
    return std::clamp(share, 0.0f, 1.0f);
}

// The lit share on a curve that leaves silence and reaches full without a
// corner, times the motion's level.
float GainOf(const Voice& v) {
    const float curve = v.lit * v.lit * (3 - 2 * v.lit);
    return curve * (kHumStillLevel + (1 - kHumStillLevel) * v.motion);
}

// The loop at `position`, by cubic interpolation, wrapping round its join.
void LoopFrameAt(const DecodedSound& hum, uint64_t position, float frame[2]) {
    const size_t n = hum.frameCount;
    const size_t at = static_cast<size_t>(position >> 32) % n;
    const float t = static_cast<float>(position & 0xFFFFFFFF) / 4294967296.0f;
    const size_t around[4] = {(at + n - 1) % n, at, (at + 1) % n, (at + 2) % n};
    for (int32_t c = 0; c < 2; ++c) {
        const int32_t channel = std::min(c, hum.channels - 1);
        float p[4];
        for (int i = 0; i < 4; ++i) {
            p[i] = hum.frames[around[i] * static_cast<size_t>(hum.channels) + channel];
        }
        frame[c] = Cubic(p, t);
    }
}

int16_t Clamped(float value) {
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0f, 32767.0f)));
}

// Runs the voice `frames` frames on, adding it to `out` unless that is null
// (frames taken back are run again so). True when it sounded.
bool Run(Voice& v, const Targets& t, const Pace& pace, const DecodedSound& hum, int16_t* out,
         size_t frames) {
    if (!t.lit && v.lit == 0) {
        return false;
    }
    float frame[2];
    for (size_t i = 0; i < frames; ++i) {
        if (out != nullptr) {
            const float gain = GainOf(v);
            LoopFrameAt(hum, v.position, frame);
            out[i * 2] = Clamped(out[i * 2] + gain * frame[0]);
            out[i * 2 + 1] = Clamped(out[i * 2 + 1] + gain * frame[1]);
        }
        v.motion += (t.motion - v.motion) * (t.motion > v.motion ? pace.swell : pace.settle);
        v.lit = t.lit ? std::min(1.0f, v.lit + t.litStep) : std::max(0.0f, v.lit - t.litStep);
        const double bend = 1.0 + static_cast<double>(kHumBend * v.motion);
        v.position += static_cast<uint64_t>(static_cast<double>(pace.step) * bend);
        if (v.position >= pace.loop) {
            v.position %= pace.loop;
        }
    }
    return true;
}

void ReadTargets(int32_t deviceRate, FindPlayable find) {
    targets.motion = MotionOf(energyNow.load(std::memory_order_relaxed));
    const uint32_t turn = litTurn.load(std::memory_order_acquire);
    if (turn == seenTurn) {
        return;
    }
    seenTurn = turn;
    targets.lit = (turn & 1) != 0;
    double seconds = kHumEdgeMaxMs / 1000.0;
    const DecodedSound* edge = find(edgeImage.load(std::memory_order_relaxed));
    if (edge != nullptr && edge->rate > 0) {
        seconds = std::min(seconds, static_cast<double>(edge->frameCount) / edge->rate);
    }
    seconds = std::max(seconds, kShortestEdgeSeconds);
    targets.litStep = static_cast<float>(1.0 / (seconds * std::max(deviceRate, 1)));
}

// The loop, when there is one to play.
const DecodedSound* HumSound(FindPlayable find) {
    const DecodedSound* hum = find(humImage.load(std::memory_order_acquire));
    return hum != nullptr && hum->frameCount > 0 ? hum : nullptr;
}

}  // namespace

void SetHumImage(const uint8_t* image, size_t length) {
    humImage.store(image, std::memory_order_release);
    PrepareWavImageAhead(image, length);
}

void SetHumLit(bool lit, const uint8_t* edge) {
    edgeImage.store(edge, std::memory_order_relaxed);
    const uint32_t turn = litTurn.load(std::memory_order_relaxed);
    litTurn.store((((turn >> 1) + 1) << 1) | (lit ? 1u : 0u), std::memory_order_release);
}

void SetHumEnergy(int32_t energy) {
    energyNow.store(energy, std::memory_order_relaxed);
}

bool MixHum(int16_t* out, size_t frames, int32_t deviceRate, FindPlayable find) {
    ReadTargets(deviceRate, find);
    marks[markNext] = {mixedFrames, voice, targets};
    markNext = (markNext + 1) % kMarks;
    markCount = std::min(markCount + 1, kMarks);
    mixedFrames += frames;
    const DecodedSound* hum = HumSound(find);
    if (hum == nullptr) {
        // Not ready yet, or gone: one that comes later rises from silence.
        voice = Voice{};
        return false;
    }
    const Pace pace = PaceOf(*hum, deviceRate);
    voice.position %= pace.loop;
    return Run(voice, targets, pace, *hum, out, frames);
}

// Back to the newest mark at or before the frame to go on from, and on from
// there as that mix went; the marks after it are dropped.
void UnmixHum(size_t frames, int32_t deviceRate, FindPlayable find) {
    const uint64_t to = mixedFrames - std::min<uint64_t>(frames, mixedFrames);
    auto newest = [] { return (markNext + kMarks - 1) % kMarks; };
    while (markCount > 1 && marks[newest()].mixed > to) {
        markNext = newest();
        --markCount;
    }
    if (markCount == 0) {
        return;
    }
    const Mark& mark = marks[newest()];
    voice = mark.voice;
    mixedFrames = std::max(to, mark.mixed);
    const DecodedSound* hum = HumSound(find);
    if (hum != nullptr && mark.mixed < to) {
        const Pace pace = PaceOf(*hum, deviceRate);
        voice.position %= pace.loop;
        Run(voice, mark.targets, pace, *hum, nullptr, to - mark.mixed);
    }
}
