#include "sound/output/wasapi/stream_refill.h"

RefillAction ChooseRefill(const WakeSeen& seen, bool& quirkSeen) {
    const bool dry = seen.late || seen.drained;
    quirkSeen = quirkSeen || dry;
    if (dry && seen.queueQuiet) {
        return RefillAction::Restart;
    }
    if (quirkSeen && seen.quietMs >= kWasapiQuietRestartMs) {
        return RefillAction::Restart;
    }
    return RefillAction::TopUp;
}
