// Glowbrand turns a Wii Remote into a blade of light and sound.
//
// One process, one main thread. Start-up reads four WAV files whole into fixed
// slots (the sound service's worker decodes them once, while start-up goes
// on; a sound played before it is ready starts once it is), opens the
// remote through tiny_hid (a real device, a script or the keyboard, chosen at
// link time), sets its report mode and checks on a short-lived reader thread
// that it really reports. Then the blade controller runs at the remote's pace:
// each iteration reads the next report as soon as it has arrived (the newest,
// if several have; never sooner than kMinIterationMs after the last read),
// classifies the motion by the accelerometer's squared distance from rest,
// handles A and Home and steps a small phase machine that starts sounds,
// sweeps the LEDs and pulses the rumble. Every delay is a busy wait on the
// high-resolution counter, so the loop reads no report while an effect runs
// (only a rumble pulse's watcher does, to keep the motor on against other
// writers). Home ends the loop, the link is closed and the exit
// status tells whether the sounds and the remote were there. docs/design.md
// has the floors and the threads.
//
// Platform services go through src/platform/*.h, the busy wait and the
// requests to end through src/core/wait.h; every tunable is in src/config.h.
// To understand everything, start reading main().
#include "shell/program.h"

int main() {
    return RunProgram();
}
