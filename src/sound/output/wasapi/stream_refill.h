// What the WASAPI stream does at each wake: top its queue up, or drop it and
// start again. Apart from WASAPI, so that the rule can be tested anywhere.
#pragma once

#include <cstdint>

// A sound server that ran dry may leave all later sound late for good: wine's
// PulseAudio driver pads the gap with silence and holds back what the server
// would not take, up to twice its buffer (60 ms), unseen in the padding. So
// while nothing but quiet is queued the stream drops its queue and starts
// again, when its thread wakes this long after its last period (half a
// period late: the server may have run dry) ...
constexpr int32_t kWasapiLateWakeMs = 15;
// ... and after each stretch of this long a quiet, so that a backlog built up
// unseen is gone before the next sound: only on a stream that has once run
// late or dry, as only such a one builds a backlog.
constexpr int32_t kWasapiQuietRestartMs = 250;

// What a wake found.
struct WakeSeen {
    bool late = false;        // kWasapiLateWakeMs or more after the last wake
    bool drained = false;     // nothing was left queued: the engine ran dry
    bool queueQuiet = false;  // all that is still queued is quiet
    int64_t quietMs = 0;      // how long the mixer has given only quiet
};

enum class RefillAction { TopUp, Restart };

// A sound server that ran dry may leave every later frame late for good
// (wine's PulseAudio driver does: it pads the gap with silence and holds back
// what the server would not take, unseen). Such a stream drops its queue
// while only quiet is queued: at once after a late wake or a dry engine, and
// after each kWasapiQuietRestartMs of quiet, but those restarts only once the
// stream has shown that it runs late or dry (`quirkSeen`, kept by the caller
// for the stream's life): elsewhere they would only cost a restart.
RefillAction ChooseRefill(const WakeSeen& seen, bool& quirkSeen);
