#include "sound_server.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "config.h"
#include "pulse_underruns.h"
#include "read_file.h"
#include "session.h"

namespace {

// The null sink the scripts make on either server (scripts/private_*.sh).
const std::string kSinkName = "glowbrand";

std::string PipeWireDir() {
    const char* dir = std::getenv("GLOWBRAND_PIPEWIRE_DIR");
    return dir != nullptr ? dir : "";
}

}  // namespace

const char* SoundServerName(SoundServer server) {
    return server == SoundServer::PipeWire ? "PipeWire" : "PulseAudio";
}

bool SoundServerRunning(SoundServer server) {
    if (server == SoundServer::PipeWire) {
        return !PipeWireDir().empty();
    }
    const char* pulse = std::getenv("PULSE_SERVER");
    return pulse != nullptr && pulse[0] != '\0';
}

// As scripts/private_pipewire.sh's pipewire_env gives it. PULSE_SERVER points
// at pipewire-pulse, so that a build that takes SDL's pulseaudio driver plays
// to the same server.
std::vector<std::pair<std::string, std::string>> SoundServerClientEnv(SoundServer server) {
    if (server == SoundServer::PulseAudio) {
        return {{"SDL_AUDIODRIVER", ""}};
    }
    const std::string dir = PipeWireDir();
    return {{"SDL_AUDIODRIVER", ""},
            {"XDG_RUNTIME_DIR", dir},
            {"XDG_CONFIG_HOME", dir + "/config"},
            {"XDG_STATE_HOME", dir + "/state"},
            {"PULSE_RUNTIME_PATH", dir + "/pulse"},
            {"PULSE_SERVER", "unix:" + dir + "/pulse/native"}};
}

pid_t StartRecording(SoundServer server, const std::string& capture) {
    // Built before the fork: the child only sets and runs.
    const auto env = SoundServerClientEnv(server);
    // PipeWire runs its whole graph at the shortest quantum asked for: the
    // recording asks for the program's own, so as not to shorten it.
    const std::string latency = "--latency=" + std::to_string(kPipeWireBufferFrames);
    const pid_t recorder = fork();
    if (recorder == 0) {
        const int out = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0) {
            _exit(127);
        }
        if (server == SoundServer::PipeWire) {
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            // pw-record of PipeWire 0.3 (Debian 12) records on a realtime
            // data thread of its own; 1.4's (Debian 13) on its main thread,
            // at ordinary priority, where a busy machine makes it drop
            // cycles. Realtime from the start, it keeps the pace on both,
            // at the lowest realtime priority: below the program's own
            // realtime thread, which it must not hold back. (Where this user
            // may not have it, it records as it would.)
            sched_param realtime{};
            realtime.sched_priority = 1;
            sched_setscheduler(0, SCHED_FIFO, &realtime);
            execlp("pw-record", "pw-record", "-P", "{ stream.capture.sink=true }", "--target",
                   "glowbrand", "--format=s16", "--rate=48000", "--channels=2", latency.c_str(),
                   "-", nullptr);
        } else {
            execlp("parec", "parec", "--device=glowbrand.monitor", "--raw", "--format=s16le",
                   "--rate=48000", "--channels=2", "--latency-msec=2", nullptr);
        }
        _exit(127);
    }
    if (recorder < 0) {
        return -1;
    }
    // parec takes about a second before its first data. The file may not be
    // there yet either: until then its size is an error, not data.
    const auto recorded = [&capture] {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(capture, error);
        return !error && bytes > 0;
    };
    for (int waited = 0; waited < 15000 && !recorded(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!recorded()) {
        StopRecording(recorder);
        return -1;
    }
    return recorder;
}

void StopRecording(pid_t recorder) {
    if (recorder > 0) {
        kill(recorder, SIGTERM);
        waitpid(recorder, nullptr, 0);
    }
}

int SoundServerUnderruns(SoundServer server) {
    if (server == SoundServer::PulseAudio) {
        return PulseUnderruns();
    }
    const std::string dir = PipeWireDir();
    if (dir.empty()) {
        return 0;
    }
    // The recorder's own lines are left out: pw-record writes the file on its
    // realtime thread and now and then misses a cycle itself, which is the
    // measurement's, not the program's. So are the sink's: in a cycle that a
    // late recorder kept from finishing, the server names the sink, the
    // graph's driver, as well. PipeWire 0.3 says "client too slow", at most
    // once in two seconds; 1.x says "xrun state", beyond the first in two
    // seconds at debug level, which scripts/private_pipewire.sh sets for it.
    // When a cycle of 1.x's graph is late as a whole, it lists each node still
    // at work and then names each in a line of its own, which alone ends with
    // the count of lines its rate limit held back: only that one counts.
    std::istringstream log(ReadFile(dir + "/server.log"));
    int count = 0;
    for (std::string line; std::getline(log, line);) {
        size_t slow = line.find(") client too slow");
        if (slow == std::string::npos && line.ends_with(" suppressed)")) {
            slow = line.find(") xrun state:");
        }
        const size_t named = line.rfind(" (", slow);
        if (slow == std::string::npos || named == std::string::npos) {
            continue;
        }
        // "(name-id)"
        const std::string node = line.substr(named + 2, slow - named - 2);
        const std::string name = node.substr(0, node.rfind('-'));
        if (name != "pw-record" && name != kSinkName) {
            ++count;
        }
    }
    return count;
}
