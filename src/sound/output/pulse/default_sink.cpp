#include "sound/output/pulse/default_sink.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace {

constexpr auto kAnswerLimit = std::chrono::seconds(1);

struct Asking {
    bool answered = false;
    std::string name;
};

void NoteDefaultSink(pa_context*, const pa_server_info* info, void* asking) {
    Asking& a = *static_cast<Asking*>(asking);
    a.answered = true;
    if (info != nullptr && info->default_sink_name != nullptr) {
        a.name = info->default_sink_name;
    }
}

}  // namespace

bool PulseDefaultSinkName(std::string& name) {
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) {
        return false;
    }
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Glowbrand doctor");
    const auto end = std::chrono::steady_clock::now() + kAnswerLimit;
    Asking asking;
    pa_operation* operation = nullptr;
    // Never starts a server: the one the user's desktop runs, or none.
    if (context != nullptr &&
        pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (!asking.answered && std::chrono::steady_clock::now() < end) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) {
                break;
            }
            if (state == PA_CONTEXT_READY && operation == nullptr) {
                operation = pa_context_get_server_info(context, NoteDefaultSink, &asking);
                if (operation == nullptr) {
                    break;
                }
            }
            // A short wait, so that the limit holds while nothing comes.
            pa_mainloop_prepare(loop, 50'000);
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
    }
    if (operation != nullptr) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    name = asking.name;
    return asking.answered;
}
