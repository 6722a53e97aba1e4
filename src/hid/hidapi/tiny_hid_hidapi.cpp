// The read core's calls (device_calls.h) over hidapi's hidraw backend: a
// real Wii Remote on Linux.
#include <hidapi.h>

#include <cerrno>

#include "hid/device_calls.h"
#include "hid/tiny_hid.h"

namespace devicecalls {

namespace {

bool Ready() {
    static const bool ready = hid_init() == 0;
    return ready;
}

// Why hidraw would not open a node, from open()'s errno as hidapi leaves it.
Refusal RefusalOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return Refusal::Denied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return Refusal::Absent;  // gone between the listing and the open
        default:
            return Refusal::Other;
    }
}

}  // namespace

bool List(int32_t vendorId, int32_t productId, std::vector<Listed>& found) {
    if (!Ready()) {
        return false;
    }
    hid_device_info* all = hid_enumerate(static_cast<unsigned short>(vendorId),
                                         static_cast<unsigned short>(productId));
    for (const hid_device_info* d = all; d != nullptr; d = d->next) {
        if (d->path != nullptr) {
            found.push_back({.path = d->path,
                             .productId = d->product_id,
                             .bluetooth = d->bus_type == HID_API_BUS_BLUETOOTH});
        }
    }
    hid_free_enumeration(all);
    return true;
}

// The first device listed, as hid_open would take it, opened by its path so
// that a refusal can be told apart from an absence.
Device Open(int32_t vendorId, int32_t productId, int32_t, Refusal* why) {
    Refusal refusal = Refusal::Absent;
    hid_device* device = nullptr;
    std::vector<Listed> found;
    if (List(vendorId, productId, found) && !found.empty()) {
        errno = 0;
        device = hid_open_path(found.front().path.c_str());
        refusal = RefusalOf(errno);
    }
    if (device == nullptr && why != nullptr) {
        *why = refusal;
    }
    return device;
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
