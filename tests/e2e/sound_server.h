// The private sound servers that the sound tests and the session benchmark
// play through, as the test command starts them: a PulseAudio server
// (scripts/private_pulse.sh, named in PULSE_SERVER) and a PipeWire one
// (scripts/private_pipewire.sh, its folder in GLOWBRAND_PIPEWIRE_DIR). Each
// has a null sink, "glowbrand", whose output is recorded as it plays.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

enum class SoundServer { PulseAudio, PipeWire };

const char* SoundServerName(SoundServer server);

// True when the test command started that server.
bool SoundServerRunning(SoundServer server);

// What a client of the server needs in its environment. The program chooses
// its way to either server itself, as on a desktop (SDL_AUDIODRIVER empty).
std::vector<std::pair<std::string, std::string>> SoundServerClientEnv(SoundServer server);

// Starts recording what the sink plays, raw 16-bit stereo at 48 kHz, into
// `capture` with a short latency, and waits up to 15 s for the first data.
// Returns the recorder's process, or -1 when nothing was recorded (the
// recorder is stopped then).
pid_t StartRecording(SoundServer server, const std::string& capture);

void StopRecording(pid_t recorder);

// The underruns the server has logged so far: PulseAudio's, and PipeWire's
// clients that were too slow for a cycle of the graph, its recorder left
// out. Closing a PulseAudio stream is one of its own.
int SoundServerUnderruns(SoundServer server);
