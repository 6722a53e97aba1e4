// Input reports of any length and content, as a device that merely claims the
// remote's identifiers could send them, through PollRemote into RemoteState.
//
// Input: a sequence of reports, each a length byte (0xFF stands for the
// largest report, 256 bytes; 0 for a read that delivers nothing) followed by
// that many bytes. Each report is delivered in a buffer of exactly its own
// length first, so AddressSanitizer sees any read beyond it, then through the
// link's own poll. Aborts when the decoded state or the writes break the
// link's rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hid/tiny_hid.h"
#include "remote/remote_link.h"

namespace {

const uint8_t* nextReport = nullptr;
size_t nextLength = 0;
bool delivered = false;
std::vector<std::vector<uint8_t>> writes;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct State {
    uint8_t buttons, x, y, z;
    bool operator==(const State&) const = default;
};

State Now() {
    return {remoteState.buttons, remoteState.accelX, remoteState.accelY, remoteState.accelZ};
}

// What a report must leave behind, from the state before it.
State Expected(State before, const uint8_t* report, size_t length) {
    if (length >= 3 && report[0] == 0x30) {
        before.buttons = report[2];
    } else if (length >= 6 && report[0] == 0x31) {
        before = {report[2], report[3], report[4], report[5]};
    }
    return before;
}

}  // namespace

extern "C" int32_t OpenHidHandle(int32_t, int32_t) {
    return 0;
}

extern "C" int32_t TryOpenHidHandle(int32_t, int32_t) {
    return 0;
}

extern "C" int32_t ReadReport(int32_t, uint8_t* buffer, uint32_t* count) {
    delivered = nextLength > 0;
    if (!delivered) {
        return 0;
    }
    std::memcpy(buffer, nextReport, nextLength);
    *count = static_cast<uint32_t>(nextLength);
    const auto length = static_cast<int32_t>(nextLength);
    // Once: a poll reads on past an answer, and the read after it finds
    // nothing more.
    nextLength = 0;
    return length;
}

extern "C" int32_t WriteReport(int32_t, const uint8_t* buffer, uint32_t*) {
    writes.emplace_back(buffer, buffer + 3);
    return 3;
}

extern "C" int32_t CloseHidHandle(int32_t) {
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t, int32_t) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    remoteState.buttons = 0;
    remoteState.accelX = 0;
    remoteState.accelY = 0;
    remoteState.accelZ = 0;
    std::memset(InputBuffer, 0, sizeof InputBuffer);
    OpenRemote();
    SetReportMode(0x00, 0x31);
    writes.clear();

    bool statusPending = false;
    while (size > 0) {
        const size_t length = data[0] == 0xFF ? TINY_HID_BUFFER_SIZE : data[0];
        ++data;
        --size;
        if (length > size) {
            break;
        }
        // Alone, in a buffer of its own length.
        const State before = Now();
        const std::vector<uint8_t> exact(data, data + length);
        DecodeReport(exact.data(), static_cast<int32_t>(exact.size()));
        const State expected = Expected(before, exact.data(), exact.size());
        Check(Now() == expected);
        Check(ReportModeLost() == (statusPending || (length > 0 && exact[0] == 0x20)));

        // Then as the link reads it: the mode goes out first when a status
        // report asked for it, and the decoding is the same. A poll reads on
        // past an answer, so a status report read there has the mode sent
        // again in the same poll, and none is owed after it.
        statusPending = ReportModeLost();
        const bool statusRead = length > 0 && exact[0] == 0x20;
        nextReport = data;
        nextLength = length;
        writes.clear();
        PollRemote();
        Check(writes.size() == (statusPending ? 1u : 0u) + (statusRead ? 1u : 0u));
        for (const std::vector<uint8_t>& write : writes) {
            Check(write == (std::vector<uint8_t>{0x12, 0x00, 0x31}));
        }
        Check(Now() == expected);
        Check(!ReportModeLost());
        statusPending = false;
        data += length;
        size -= length;
    }
    return 0;
}
