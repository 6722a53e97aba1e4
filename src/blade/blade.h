// The blade controller: the program's main loop. Reads the remote once per
// iteration, classifies its motion, toggles the blade on A and quits on Home.
#pragma once

#include <cstdint>

enum class BladePhase : int32_t { Off = 0, Igniting = 1, Ready = 2, Swinging = 3, Striking = 4 };

enum class MotionClass : int32_t { Still = 1, Swing = 2, Strike = 3 };

// Squared distance of the accelerometer bytes from rest, 0..49152.
int32_t MotionEnergy(uint8_t accelX, uint8_t accelY, uint8_t accelZ);

// Still below the swing threshold, Strike from the strike threshold on.
MotionClass ClassifyMotion(int32_t energy);

// Runs the blade until Home is pressed. The remote must be open and its
// report mode set.
void RunBlade();
