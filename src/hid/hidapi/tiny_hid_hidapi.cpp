// The read core's calls (device_calls.h) over hidapi's hidraw backend: a
// real Wii Remote on Linux.
#include <hidapi.h>

#include <cerrno>

#include "hid/device_calls.h"
#include "hid/tiny_hid.h"

namespace devicecalls {

Device Open(int32_t vendorId, int32_t productId, int32_t) {
    static const bool ready = hid_init() == 0;
    if (!ready) {
        return nullptr;
    }
    return hid_open(static_cast<unsigned short>(vendorId), static_cast<unsigned short>(productId),
                    nullptr);
}

void Close(Device device) {
    hid_close(static_cast<hid_device*>(device));
}

// A signal that lands while hidapi waits makes its read fail too; the
// device is still there, and the signal's handler has its own way of ending
// the read (CancelReadReport).
int32_t Read(Device device, int32_t, uint8_t* dest, int32_t timeoutMs) {
    const int length =
        hid_read_timeout(static_cast<hid_device*>(device), dest, TINY_HID_BUFFER_SIZE, timeoutMs);
    if (length < 0) {
        return errno == EINTR ? 0 : kGone;
    }
    return length;
}

bool Write(Device device, const uint8_t* report, int32_t length) {
    return hid_write(static_cast<hid_device*>(device), report, static_cast<size_t>(length)) ==
           length;
}

// hidapi's waits cannot be woken; they last one slice.
void Wake(int32_t, bool) {}

}  // namespace devicecalls
