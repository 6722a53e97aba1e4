// PlaySlot as a recorder: every call joins the remote link's call list
// ("sound on", "sound swing", ...), so tests see it in order with the LEDs,
// rumble and polls around it.
#include "fake_counter.h"
#include "fake_remote_link.h"
#include "sound/sound_bank.h"

void PlaySlot(SoundId id) {
    const char* const names[kSoundCount] = {"on", "off", "swing", "strike"};
    remoteCalls.push_back(
        RemoteCall{FakeNowMs(), std::string("sound ") + names[static_cast<int32_t>(id)]});
}

// The hum is heard, not seen: the blade's tests leave it to the sound tests.
void LightHum(bool) {}

void SetHumMotion(int32_t) {}
