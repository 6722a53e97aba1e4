#include "own_sound_server.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

namespace {

const char* Kind(SoundServer server) {
    return server == SoundServer::PipeWire ? "pipewire" : "pulse";
}

}  // namespace

OwnSoundServer::OwnSoundServer(SoundServer server) : server_(server) {
    char dir[] = "/tmp/glowbrand-own-server-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        return;
    }
    dir_ = dir;
    const char* names[4] = {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR",
                            "GLOWBRAND_PIPEWIRE_DIR"};
    for (int i = 0; i < 4; ++i) {
        const char* value = std::getenv(names[i]);
        saved_[i] = {names[i], value != nullptr ? value : "", value != nullptr};
    }
    if (server == SoundServer::PulseAudio) {
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/pulse/native").c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (dir_ + "/pulse").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    } else {
        setenv("GLOWBRAND_PIPEWIRE_DIR", dir_.c_str(), 1);
    }
    prepared_ = Do("prepare");
}

OwnSoundServer::~OwnSoundServer() {
    if (dir_.empty()) {
        return;
    }
    Do("stop");
    std::filesystem::remove_all(dir_);
    for (const Saved& saved : saved_) {
        if (saved.set) {
            setenv(saved.name.c_str(), saved.value.c_str(), 1);
        } else {
            unsetenv(saved.name.c_str());
        }
    }
}

bool OwnSoundServer::Do(const std::string& action) {
    const std::string command = std::string(GLOWBRAND_PRIVATE_SERVER) + " " + Kind(server_) + " " +
                                action + " " + dir_ + " >>" + dir_ + "/actions.log 2>&1";
    return !dir_.empty() && std::system(command.c_str()) == 0;
}
