#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

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

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

bool ConsoleCanAnswer() {
    return isatty(STDIN_FILENO) != 0;
}
