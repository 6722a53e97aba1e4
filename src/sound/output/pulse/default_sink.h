// The name of the sound server's default output, asked over the PulseAudio
// protocol that both PulseAudio and PipeWire (pipewire-pulse) answer on a
// desktop: bluez_sink.* and bluez_output.* are Bluetooth audio.
#pragma once

#include <string>

// False when no server answers within a second.
bool PulseDefaultSinkName(std::string& name);
