// Every tunable of the program, in one place. None of them is read from a
// file or the command line: the toy has no settings by design.
#pragma once

#include <cstdint>

// Input and output report buffers; no report may be longer.
constexpr int kReportBufferSize = 256;

// Motion classes, by squared distance of the accelerometer from rest (128 on
// every axis). 3000 lets a deliberate flick through while ignoring the hand's
// tremble; 15000 needs a sharp stop, as when the blade meets something.
constexpr int32_t kAccelRest = 128;
constexpr int32_t kSwingThreshold = 3000;
constexpr int32_t kStrikeThreshold = 15000;

// Phase counters, in loop iterations (one iteration per report read, never
// shorter than kMinIterationMs).
constexpr int32_t kIgnitionIterations = 80;  // motion is ignored while the blade extends
constexpr int32_t kMotionWindow = 20;        // a swing or strike sound's own window
constexpr int32_t kSwingRetrigger = 5;       // a continued swing sounds again below this

// Timings, in milliseconds. Every one of them is a busy wait.
// The loop's pace is the remote's: an iteration starts as soon as the next
// report has arrived, and lasts at least this, counted from its read. A
// Bluetooth stack hands over the reports it held back in a stall at once:
// the loop reads the first and, 8 ms later, the newest of the rest (the
// older are dropped), so such a burst is two iterations, never more. Even a
// flood runs the phase counters at most a quarter faster than a remote's
// 10 ms. The 2 ms to spare let a report that comes early after a late one
// be read as it arrives.
constexpr int32_t kMinIterationMs = 8;
constexpr int32_t kLedStepMs = 50;        // between LED patterns of a sweep
constexpr int32_t kEffectRumbleMs = 400;  // rumble pulse of ignite and retract
constexpr int32_t kStrikeRumbleMs = 200;  // rumble pulse of a strike while swinging
constexpr int32_t kQuitPauseMs = 1000;    // lets the off sound play out before quitting
constexpr int32_t kFlashMs = 200;         // start-up flash of all four LEDs

// The LEDs of a sweep, step by step, as how many of them are lit from LED 1
// on: up as the blade extends, down as it retracts.
constexpr int32_t kSweepSteps = 4;
constexpr int32_t kIgniteSweepLeds[kSweepSteps] = {1, 2, 3, 4};
constexpr int32_t kRetractSweepLeds[kSweepSteps] = {3, 2, 1, 0};

// Start-up probe: the window in which the remote must report, the reader's
// pause after each read, and how long stopping the reader may take at most.
constexpr int32_t kProbeWindowMs = 100;
// The window opens once the reader is running, and the reader is given this
// long to start: on Windows a new thread first waits for any DLL another
// thread is loading (the sound output's, at start-up), which on a slow
// machine takes longer than the window itself.
constexpr int32_t kReaderStartLimitMs = 1000;
constexpr int32_t kReaderPauseMs = 100;
constexpr int32_t kReaderStopMs = 1000;
// The reader sleeps its pause in slices this long, so that it leaves its loop
// promptly once told to (a program ending on a signal waits for it).
constexpr int32_t kReaderPauseSliceMs = 10;

// A data report of another mode than the one set has the mode sent again,
// at most this often: a desktop's kernel driver changes the mode now and
// then, and a remote still sending reports queued before the change must
// not draw one write per report.
constexpr int32_t kModeResendMinMs = 100;
// After a remote returns, the kernel's own driver sets it up (status
// requests, its own mode and LEDs) within about 50 ms; a status report until
// this long after the return has the program's whole state restored again.
constexpr int32_t kReturnSetupMs = 1000;

// The HID libraries of a real remote (and the scripted one, which plays it).
// Between looks for a gone remote: a look enumerates every HID device, a
// few ms of system time, so twice a second keeps a lost remote from loading
// the machine while a returning one is back within half a second.
constexpr int32_t kReopenIntervalMs = 500;
// A read waits in slices of this length, so that a cancel is seen promptly
// and a waiting write goes out within one slice.
constexpr int32_t kHidReadSliceMs = 10;
// Status reports and answers a read holds back for the reads after it, at
// most; beyond that only the latest are kept. An answer comes seldom (a
// desktop's driver asks every few seconds), so a few hold a busy moment's.
constexpr int32_t kHidHeldAnswers = 8;
// Devices open at a time; the program opens one.
constexpr int32_t kHidMaxHandles = 8;

// Windows ends a program whose console was closed (or whose user logs off)
// as soon as its console handler returns; the handler holds it this long for
// the main thread to leave the remote quiet. Windows itself allows about 5 s.
constexpr int32_t kEndRequestGraceMs = 1000;

// Sound files, one per slot, read whole from the working directory at start-up.
// A slot holds a whole WAV image; its last byte always stays 0.
constexpr int32_t kSoundSlotSize = 20'971'520;   // 20 MiB
constexpr int32_t kSoundLoadLimit = 20'971'519;  // bytes of a file that reach a slot
constexpr const char* kSoundFileOn = "on0.wav";
constexpr const char* kSoundFileOff = "off0.wav";
constexpr const char* kSoundFileSwing = "swing2.wav";
constexpr const char* kSoundFileStrike = "strike2.wav";
// The hum, optional: read as the four are, but a file too large to read
// whole is no hum, since a loop cut short would not join up.
constexpr const char* kSoundFileHum = "hum0.wav";

// The udev rule that lets the desktop's user open the remote, as installed
// (udev/ in the sources); the doctor looks for it where udev reads rules.
constexpr const char* kUdevRuleFile = "70-glowbrand.rules";

// glowbrand-doctor: how long it reads to count reports, how long it shows
// the live line, the rate below which it warns (a remote reports every 10 ms
// in mode 0x31; half that pace already makes the blade lag), how long it
// waits for a status report, the battery level below which it warns, and how
// far its reading and the kernel's may differ (each rounds level*100/255).
constexpr int32_t kDoctorReadMs = 1000;
constexpr int32_t kDoctorLiveMs = 5000;
constexpr int32_t kDoctorMinReportsPerSecond = 50;
constexpr int32_t kDoctorStatusWaitMs = 1000;
constexpr int32_t kDoctorLowBatteryPercent = 10;
constexpr int32_t kDoctorBatteryTolerancePercent = 1;
// The live line is redrawn this often: fast enough to follow a swing.
constexpr int32_t kDoctorLiveRedrawMs = 50;
// Devices of each product the doctor describes at most.
constexpr int32_t kDoctorMaxRemotes = 8;
// glowbrand-doctor --pair: a remote can be found for about 20 s after its
// SYNC press, so the look lasts long enough to read the prompt and press;
// the devices are looked at this often; pairing and connecting may take
// this long (BlueZ tries its PIN three times before it gives up); the HID
// node follows a connection within this, and udev gives it to the user
// within this once it is there.
constexpr int32_t kPairLookMs = 30000;
constexpr int32_t kPairPollMs = 250;
constexpr int32_t kPairAnswerMs = 30000;
constexpr int32_t kPairNodeMs = 10000;
constexpr int32_t kPairAccessMs = 3000;

// What the mixer hands every output on Linux: the output converts from this
// format to whatever the hardware wants (Windows plays the device's own).
// Each output's period is beside its code (src/sound/output/): a new sound
// waits at most about one period for the buffer being played; SDL's default
// (about 46 ms) is audibly late for a swing.
constexpr int32_t kOutputRate = 48'000;
constexpr int32_t kOutputChannels = 2;
// Where PipeWire serves, the program's own stream plays (sound/output/pipewire)
// and asks for this quantum, which the whole graph then runs at (the
// shortest any client asks for, rounded down to a power of two). A sound is
// mixed in the cycle that asks for it and heard about two cycles later; SDL's
// PipeWire driver, if a user picks it, gets the same period.
constexpr int32_t kPipeWireBufferFrames = 128;
// A sound server (PipeWire, PulseAudio) that does not answer within this
// long is passed over.
constexpr int32_t kServerOpenTimeoutMs = 1000;
// Where the sound's server went away, or none is up yet, the outputs are
// tried again this often, until one opens: soon enough that the blade is
// heard again within about a second of a server's return, seldom enough to
// cost nothing meanwhile.
constexpr int32_t kSoundRetryMs = 1000;
// An output that has not opened within this long is given up on (the next
// row is tried, and it is tried again later): SDL's drivers wait for a
// server that does not answer without a limit of their own.
constexpr int32_t kSoundOpenLimitMs = 2000;
// The end waits at most this long for the output to close: one stuck on a
// server that does not answer is left to close when it comes back.
constexpr int32_t kSoundCloseWaitMs = 1000;

// The sound cut off by a new one fades out over this many frames (2.5 ms)
// under the new one's start, so a cut does not click.
constexpr int32_t kCutFadeFrames = 120;

// The hum, looped beneath the other sounds while the blade is lit. It rises
// with the ignition sound and falls with the retraction sound, over that
// sound's length but never longer than this, so that it is gone within about
// a second of the retraction.
constexpr int32_t kHumEdgeMaxMs = 1000;
// Its level follows the motion energy: still (gravity alone reads about 680)
// up to kHumStillEnergy, full from kHumFullEnergy on, in between in
// proportion. A still blade hums at this share of the file's own level.
constexpr int32_t kHumStillEnergy = 1000;
constexpr int32_t kHumFullEnergy = 12000;
constexpr float kHumStillLevel = 0.4f;
// The level follows the energy smoothly, whatever the reports' pace: it
// swells within a swing's first tens of milliseconds and settles more slowly
// (time constants), so that a swing's end does not chop it.
constexpr int32_t kHumSwellMs = 40;
constexpr int32_t kHumSettleMs = 250;
// A blade in full motion hums this much higher (a third of a semitone): a
// gentle bend that the smoothing above keeps from stepping.
constexpr float kHumBend = 0.02f;

// Images kept decoded at a time, and handed to the worker at a time; the
// four slots and the hum need five.
constexpr int32_t kMaxPreparedImages = 16;

// The default alert tone, played for an image that cannot be played.
constexpr int32_t kAlertToneHz = 880;
constexpr int32_t kAlertToneMs = 150;
