// The real tiny_hid library over a fake hidapi: a remote that vanishes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <vector>

#include "fake_hidapi.h"
#include "hid/tiny_hid.h"

namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

int32_t Write(int32_t handle, std::vector<uint8_t> report) {
    report.resize(TINY_HID_BUFFER_SIZE);
    uint32_t count = 0;
    return WriteReport(handle, report.data(), &count);
}

struct ReadResult {
    int32_t length;
    std::vector<uint8_t> report;
};

std::future<ReadResult> ReadInBackground(int32_t handle) {
    return std::async(std::launch::async, [handle] {
        std::vector<uint8_t> buffer(TINY_HID_BUFFER_SIZE);
        uint32_t count = 0;
        const int32_t length = ReadReport(handle, buffer.data(), &count);
        buffer.resize(static_cast<size_t>(std::max(length, 0)));
        return ReadResult{length, buffer};
    });
}

// The calls made since (and excluding) the first one equal to `mark`.
Calls CallsAfter(const std::string& mark) {
    const Calls calls = FakeHidapiCalls();
    const auto at = std::find(calls.begin(), calls.end(), mark);
    return at == calls.end() ? Calls{} : Calls(at + 1, calls.end());
}

// An open remote whose next read fails, as when it is switched off.
int32_t OpenRemoteThatVanishes() {
    ResetFakeHidapi();
    SetFakeDevicePresent(true);
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    QueueFakeRead({}, true);
    SetFakeDevicePresent(false);
    return handle;
}

TEST(HidapiVanishingRemote, ReadsWaitWithoutSpinningAndTheReturningRemoteIsRestored) {
    const int32_t handle = OpenRemoteThatVanishes();
    ASSERT_EQ(handle, 0);
    EXPECT_EQ(Write(handle, {0x12, 0x00, 0x31}), 3);
    EXPECT_EQ(Write(handle, {0x11, 0xF0}), 2);
    EXPECT_EQ(Write(handle, {0x13, 0x01}), 2);

    std::future<ReadResult> read = ReadInBackground(handle);
    ASSERT_EQ(read.wait_for(800ms), std::future_status::timeout)
        << "a gone remote must not end the read";
    // One failed read, then only a look for the remote every half second.
    EXPECT_EQ(CountFakeHidapiCalls("read"), 1);
    EXPECT_GE(CountFakeHidapiCalls("open 0"), 1);
    EXPECT_LE(CountFakeHidapiCalls("open 0"), 2);
    EXPECT_EQ(CountFakeHidapiCalls("close 1"), 1);

    // Asked for while gone: not sent now, but what the remote gets back.
    EXPECT_EQ(Write(handle, {0x11, 0x70}), -1);
    EXPECT_EQ(CountFakeHidapiCalls("write 1 11 70"), 0);

    QueueFakeRead({0x31, 0x00, 0x08, 0x80, 0x80, 0x80});
    SetFakeDevicePresent(true);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    const ReadResult result = read.get();
    EXPECT_EQ(result.length, 6);
    EXPECT_EQ(result.report, (std::vector<uint8_t>{0x31, 0x00, 0x08, 0x80, 0x80, 0x80}));
    EXPECT_EQ(CallsAfter("open 2"),
              (Calls{"write 2 12 00 31", "write 2 11 70", "write 2 13 00", "read 2"}));

    EXPECT_EQ(Write(handle, {0x11, 0x10}), 2);
    EXPECT_EQ(CountFakeHidapiCalls("write 2 11 10"), 1);
    EXPECT_EQ(CloseHidHandle(handle), 0);
}

TEST(HidapiVanishingRemote, CancelAndCloseWhileGone) {
    const int32_t handle = OpenRemoteThatVanishes();
    std::future<ReadResult> read = ReadInBackground(handle);
    ASSERT_EQ(read.wait_for(50ms), std::future_status::timeout);
    CancelReadReport(handle, 1);
    ASSERT_EQ(read.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(read.get().length, 0);
    CancelReadReport(handle, 0);

    // Still gone for the next read; with nothing written before, the return
    // brings only rumble off.
    read = ReadInBackground(handle);
    SetFakeDevicePresent(true);
    ASSERT_EQ(read.wait_for(50ms), std::future_status::timeout);
    QueueFakeRead({0x30, 0x00, 0x80});
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(read.get().length, 3);
    EXPECT_EQ(CallsAfter("open 2"), (Calls{"write 2 13 00", "read 2"}));

    // Gone again, then closed: the vanished device was released once already.
    QueueFakeRead({}, true);
    SetFakeDevicePresent(false);
    read = ReadInBackground(handle);
    ASSERT_EQ(read.wait_for(50ms), std::future_status::timeout);
    CancelReadReport(handle, 1);
    ASSERT_EQ(read.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(CloseHidHandle(handle), 0);
    EXPECT_EQ(CountFakeHidapiCalls("close 2"), 1);
    EXPECT_EQ(CloseHidHandle(handle), -1);
}

}  // namespace

// A signal landing in hidapi's wait fails the read with EINTR; the remote is
// still there and must stay open, or ending on the signal could not switch
// its rumble off.
TEST(HidapiVanishingRemote, AnInterruptedReadIsNotAVanishedRemote) {
    ResetFakeHidapi();
    SetFakeDevicePresent(true);
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    QueueFakeRead({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    QueueFakeInterruptedRead();
    std::future<ReadResult> read = ReadInBackground(handle);
    ASSERT_EQ(read.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(read.get().length, 6);

    read = ReadInBackground(handle);
    ASSERT_EQ(read.wait_for(50ms), std::future_status::timeout);
    CancelReadReport(handle, 1);
    ASSERT_EQ(read.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(read.get().length, 0);
    EXPECT_EQ(CountFakeHidapiCalls("close"), 0);
    EXPECT_EQ(Write(handle, {0x13, 0x00}), 2);
    EXPECT_EQ(CountFakeHidapiCalls("write 1 13 00"), 1);
    CancelReadReport(handle, 0);
    EXPECT_EQ(CloseHidHandle(handle), 0);
}
