// A private sound server of one test's own (scripts/private_server.sh), for
// a test that kills it, freezes it or starts it late: the test command's
// servers are shared by the other tests. While it lives, the environment
// points at it, so that SoundServerClientEnv, StartRecording and the
// program's session reach it in place of the test command's.
#pragma once

#include <string>

#include "sound_server.h"

class OwnSoundServer {
public:
    // Prepared, not launched: clients find no server there yet.
    explicit OwnSoundServer(SoundServer server);
    // Stops it (thawed first), removes its folder, puts the environment back.
    ~OwnSoundServer();
    OwnSoundServer(const OwnSoundServer&) = delete;
    OwnSoundServer& operator=(const OwnSoundServer&) = delete;

    // "launch" (waits until it serves), "kill", "freeze" or "thaw": true
    // when done.
    bool Do(const std::string& action);
    bool Prepared() const {
        return prepared_;
    }

private:
    SoundServer server_;
    std::string dir_;
    bool prepared_ = false;
    // The environment it replaced: name, value, whether it was set.
    struct Saved {
        std::string name;
        std::string value;
        bool set;
    };
    Saved saved_[4];
};
