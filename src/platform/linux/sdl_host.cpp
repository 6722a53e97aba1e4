#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/sdl/host.h"

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

// On a machine without a sound card, ALSA prints its errors while SDL probes
// it. SDL loads ALSA at run time, so the handler is set through the same
// library.
void SilenceAudioLibraries() {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
    if (alsa == nullptr) {
        return;
    }
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set != nullptr) {
        set(IgnoreAlsaError);
    }
    // alsa stays loaded: the handler must outlive every later use by SDL.
}

// Where libpipewire connects: PIPEWIRE_REMOTE names the socket (a path of its
// own when absolute), in PIPEWIRE_RUNTIME_DIR or else XDG_RUNTIME_DIR.
bool PipeWireSocketPresent() {
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote != nullptr && remote[0] != '\0' ? remote : "pipewire-0";
    if (path[0] != '/') {
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (dir == nullptr || dir[0] == '\0') {
            dir = std::getenv("XDG_RUNTIME_DIR");
        }
        if (dir == nullptr || dir[0] == '\0') {
            return false;
        }
        path = std::string(dir) + "/" + path;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

bool ConsoleCanAnswer() {
    return isatty(STDIN_FILENO) != 0;
}
