// Ending the program on Ctrl+C, a termination request or a closed terminal:
// promptly, with the exit status the platform gives such an end (128 + the
// signal's number on Linux), and with the remote left quiet (rumble off, LEDs
// dark, link closed).
#pragma once

// Catches the end requests from now on; the calling (main) thread carries a
// request out at its next wait or read. Called first thing at start-up.
void CatchTermination();
