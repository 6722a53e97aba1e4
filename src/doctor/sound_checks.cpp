#include "doctor/sound_checks.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "config.h"
#include "doctor/advice.h"
#include "platform/file.h"
#include "sound/output/sound_device.h"
#include "sound/sound_bank.h"
#include "sound/wav/wav_decoder.h"
#include "sound/wav/wav_parse.h"

namespace {

std::string EncodingName(const WavLayout& layout) {
    char name[48];
    switch (layout.encoding) {
        case kWavPcm:
            std::snprintf(name, sizeof name, "PCM %u-bit", unsigned{layout.bits});
            return name;
        case kWavFloat:
            std::snprintf(name, sizeof name, "float %u-bit", unsigned{layout.bits});
            return name;
        case kWavMsAdpcm:
            return "MS ADPCM";
        case kWavImaAdpcm:
            return "IMA ADPCM";
        case kWavALaw:
            return "A-law";
        case kWavMuLaw:
            return "mu-law";
        default:
            std::snprintf(name, sizeof name, "encoding 0x%04x", unsigned{layout.encoding});
            return name;
    }
}

// What becomes of a file that does not play: one of the four sounds the
// alert tone; the hum, which is optional, is left out.
constexpr const char* kAlertInstead = "it would sound the alert tone instead";
constexpr const char* kNoHum = "the blade will not hum";

// One file's line, and whether it plays: read as the sound bank reads it,
// decoded as the sound service decodes it.
std::string DescribeSound(const char* file, bool optional, std::vector<uint8_t>& image, bool& found,
                          bool& plays) {
    const int64_t length = ReadWholeFile(file, image.data(), kSoundLoadLimit + 1);
    found = length >= 0;
    plays = false;
    const char* unplayable = optional ? kNoHum : kAlertInstead;
    char line[256];
    if (!found) {
        std::snprintf(line, sizeof line, "%s: %s", file,
                      optional ? "not there (or not a plain file you may read): optional, the "
                                 "blade is silent between sounds"
                               : "missing (or not a plain file you may read)");
        return line;
    }
    // A hum cut short would not loop: one too large is none.
    if (optional && length > kSoundLoadLimit) {
        std::snprintf(line, sizeof line,
                      "%s: more than 20,971,519 bytes, too large to be read whole: %s", file,
                      unplayable);
        return line;
    }
    const size_t kept = static_cast<size_t>(std::min<int64_t>(length, kSoundLoadLimit));
    WavLayout layout;
    if (!ParseWavImage(image.data(), kept, layout)) {
        std::snprintf(line, sizeof line, "%s: %lld bytes, not a WAV file the program reads: %s",
                      file, static_cast<long long>(length), unplayable);
        return line;
    }
    DecodedSound sound;
    plays = DecodeWavImage(image.data(), kept, sound);
    const double seconds =
        plays ? static_cast<double>(sound.frameCount) / static_cast<double>(sound.rate) : 0.0;
    ReleaseDecodedSound(sound);
    std::snprintf(line, sizeof line, "%s: %lld bytes, %s, %u Hz, %u channel%s, ", file,
                  static_cast<long long>(length), EncodingName(layout).c_str(),
                  unsigned{layout.rate}, unsigned{layout.channels},
                  layout.channels == 1 ? "" : "s");
    std::string text = line;
    if (!plays) {
        return text + "cannot be decoded: " + unplayable;
    }
    std::snprintf(line, sizeof line, "%.2f s", seconds);
    text += line;
    if (optional) {
        text += ", looped while the blade is lit";
    }
    if (length > kSoundLoadLimit) {
        text += " (only its first 20,971,519 bytes are read)";
    }
    return text;
}

}  // namespace

Check CheckSounds() {
    Check check{Verdict::Ok, "Sounds", "the four sounds load and decode"};
    std::vector<uint8_t> image(static_cast<size_t>(kSoundLoadLimit) + 1);
    int missing = 0;
    int silent = 0;
    for (const char* file : kSoundFiles) {
        bool found = false;
        bool plays = false;
        check.details.push_back(DescribeSound(file, false, image, found, plays));
        missing += found ? 0 : 1;
        silent += found && !plays ? 1 : 0;
    }
    bool humFound = false;
    bool hums = false;
    check.details.push_back(DescribeSound(kSoundFileHum, true, image, humFound, hums));
    EndDecodingThread();
    if (hums) {
        check.text = "the four sounds and the hum load and decode";
    }
    if (missing > 0) {
        check.verdict = Verdict::Failed;
        check.text = std::to_string(missing) + " of the 4 sounds missing from this folder";
        const Advice steps = SoundSteps();
        check.details.insert(check.details.end(), steps.begin(), steps.end());
    } else if (silent > 0) {
        check.verdict = Verdict::Warning;
        check.text = std::to_string(silent) + " of the 4 sounds would sound the alert tone";
    } else if (humFound && !hums) {
        // Only a hum that was meant to be there is worth a word.
        check.verdict = Verdict::Warning;
        check.text = std::string(kSoundFileHum) + " is there, but the blade will not hum";
    }
    return check;
}

Check CheckSoundDevice() {
    SoundDeviceFacts facts;
    if (!DescribeSoundDevice(facts)) {
        return {Verdict::Warning, "Sound device",
                "no sound output opens (only a warning: glowbrand plays on silently)"};
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s, %d Hz, period %d frames (%.1f ms), opens",
                  facts.driver.c_str(), facts.rate, facts.periodFrames,
                  facts.rate > 0 ? 1000.0 * facts.periodFrames / facts.rate : 0.0);
    // The sink's own buffering and the radio's come on top of the program's.
    if (const std::string sink = DefaultOutputName(); IsBluetoothOutput(sink)) {
        return {Verdict::Warning,
                "Sound device",
                std::string(text) + ", but the default output is Bluetooth audio (" + sink + ")",
                {"Bluetooth audio adds 100-200 ms between a swing and its sound: play through",
                 "wired speakers or headphones, or make them the default output."}};
    }
    if (facts.silent) {
        return {Verdict::Warning, "Sound device",
                std::string(text) +
                    ", but plays nowhere (only a warning: glowbrand plays on "
                    "silently)"};
    }
    return {Verdict::Ok, "Sound device", text};
}
