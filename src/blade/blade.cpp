#include "blade/blade.h"

#include "config.h"
#include "core/wait.h"
#include "hid/remote_protocol.h"
#include "platform/counter.h"
#include "remote/remote_link.h"
#include "remote/rumble_pulse.h"
#include "sound/sound_bank.h"

namespace {

// The sound starts first, the hum rising or falling with it, and plays on
// while the LEDs run through the patterns, a step apart; the rumble pulse
// closes the effect.
void Sweep(SoundId sound, bool lit, const int32_t (&ledsLit)[kSweepSteps]) {
    PlaySlot(sound);
    LightHum(lit);
    for (int32_t step = 0; step < kSweepSteps; ++step) {
        if (step > 0) {
            WaitMs(kLedStepMs);
        }
        SetLeds(LedsUpTo(ledsLit[step]));
    }
    PulseRumble(kEffectRumbleMs);
}

void Ignite() {
    Sweep(SoundId::On, true, kIgniteSweepLeds);
}

void Retract() {
    Sweep(SoundId::Off, false, kRetractSweepLeds);
}

void StrikePulse() {
    PulseRumble(kStrikeRumbleMs);
}

// Counts a window down; when it runs out the blade is ready for motion again.
void CountDown(int32_t& counter, BladePhase& phase) {
    if (counter > 0) {
        --counter;
    }
    if (counter == 0) {
        phase = BladePhase::Ready;
    }
}

}  // namespace

int32_t MotionEnergy(uint8_t accelX, uint8_t accelY, uint8_t accelZ) {
    const int32_t dx = int32_t{accelX} - kAccelRest;
    const int32_t dy = int32_t{accelY} - kAccelRest;
    const int32_t dz = int32_t{accelZ} - kAccelRest;
    return dx * dx + dy * dy + dz * dz;
}

MotionClass ClassifyMotion(int32_t energy) {
    if (energy < kSwingThreshold) {
        return MotionClass::Still;
    }
    if (energy < kStrikeThreshold) {
        return MotionClass::Swing;
    }
    return MotionClass::Strike;
}

// The phase blocks below are tested in order against the phase the earlier
// blocks left, so a phase entered in one block is handled by a later block of
// the same iteration, and a block whose turn has passed waits for the next.
void RunBlade() {
    bool lit = false;
    BladePhase phase = BladePhase::Off;
    int32_t counter = 0;

    for (;;) {
        // A request to end arrives as a read that returns without a report:
        // carried out here, it never meets an old A press decoded again.
        EndIfRequested();
        PollRemote();
        EndIfRequested();
        const int64_t readAt = ReadCounter();
        // A real remote's accelerometer bits ride in the button byte: left in,
        // they would make A and Home look pressed with another button.
        const uint8_t buttons = remoteState.buttons & static_cast<uint8_t>(~kButtonsAccelBits);
        const int32_t energy =
            MotionEnergy(remoteState.accelX, remoteState.accelY, remoteState.accelZ);
        const MotionClass motion = ClassifyMotion(energy);
        SetHumMotion(energy);

        // Level-triggered on purpose: A still held in the next report toggles again.
        if (buttons == kButtonA) {
            if (!lit) {
                Ignite();
                lit = true;
                phase = BladePhase::Igniting;
                counter = kIgnitionIterations;
            } else {
                Retract();
                lit = false;
                phase = BladePhase::Off;
            }
        }

        if (buttons == kButtonHome) {
            if (lit) {
                Retract();
                WaitMs(kQuitPauseMs);
                lit = false;
            }
            return;
        }

        if (phase == BladePhase::Igniting) {
            CountDown(counter, phase);
        }

        if (phase == BladePhase::Ready) {
            if (motion == MotionClass::Swing) {
                PlaySlot(SoundId::Swing);
                counter = kMotionWindow;
                phase = BladePhase::Swinging;
            } else if (motion == MotionClass::Strike) {
                PlaySlot(SoundId::Strike);
                counter = kMotionWindow;
                phase = BladePhase::Striking;
            }
        }

        if (phase == BladePhase::Swinging) {
            CountDown(counter, phase);
            if (motion == MotionClass::Swing && counter < kSwingRetrigger) {
                PlaySlot(SoundId::Swing);
                counter = kMotionWindow;
                phase = BladePhase::Swinging;
            }
            if (motion == MotionClass::Strike) {
                PlaySlot(SoundId::Strike);
                StrikePulse();
                counter = kMotionWindow;
                phase = BladePhase::Striking;
            }
        }

        if (phase == BladePhase::Striking) {
            CountDown(counter, phase);
        }

        // The next read waits for the next report; this only holds back one
        // that came too soon after this one's, as in a burst.
        WaitMsSince(readAt, kMinIterationMs, nullptr);
    }
}
