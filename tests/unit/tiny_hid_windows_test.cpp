// The real Windows HID library over a Windows HID stack that lives in memory.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "device_core_tests.h"
#include "fake_win32_hid.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Report(uint8_t id, uint8_t x) {
    return {id, 0x00, 0x00, x, 0x80, 0x9A};
}

int32_t Write(int32_t handle, Bytes report) {
    report.resize(TINY_HID_BUFFER_SIZE, 0xEE);
    uint32_t count = 0;
    return WriteReport(handle, report.data(), &count);
}

Bytes Zeros(Bytes bytes, size_t length) {
    bytes.resize(length, 0x00);
    return bytes;
}

class WindowsHidTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeWin32Hid();
        handle = OpenHidHandle(0x057E, 0x0306);
        ASSERT_GE(handle, 0);
    }
    void TearDown() override {
        CloseHidHandle(handle);
        EXPECT_EQ(fakeHidOpen, 0);
    }
    FakeInterface& Remote() {
        return fakeInterfaces.back();
    }
    int32_t handle = -1;
    uint8_t buffer[TINY_HID_BUFFER_SIZE] = {};
    uint32_t count = 0;
};

}  // namespace

// The link asks for the original remote first and for the Plus only when
// there is none: a request opens exactly the device it names.
TEST(WindowsHidLibrary, OpensTheDeviceAskedForAndNothingElse) {
    ResetFakeWin32Hid();
    const int32_t remote = OpenHidHandle(0x057E, 0x0306);
    EXPECT_GE(remote, 0);
    // Wine queues one report fewer than asked: two left room for only one,
    // and a status report or an answer was gone behind the next data report.
    EXPECT_GE(fakeHidInputBuffers, 16) << "the system's queue holds a busy moment's reports";
    CloseHidHandle(remote);

    // A Plus listed before an original remote: each request gets its own.
    fakeInterfaces.insert(fakeInterfaces.begin() + 2,
                          {.path = "plus", .vendorId = 0x057E, .productId = 0x0330});
    const int32_t original = OpenHidHandle(0x057E, 0x0306);
    EXPECT_EQ(Write(original, {0x11, 0x10}), 2);
    ASSERT_EQ(fakeHidWrites.size(), 1u);
    EXPECT_EQ(fakeHidOpen, 1);
    fakeInterfaces.back().present = false;
    EXPECT_EQ(Write(original, {0x11, 0x10}), -1) << "it was the original remote";
    CloseHidHandle(original);
    fakeInterfaces.back().present = true;
    fakeInterfaces.erase(fakeInterfaces.begin() + 2);

    fakeInterfaces.back().productId = 0x0330;
    const int32_t notThePlus = OpenHidHandle(0x057E, 0x0306);
    EXPECT_EQ(notThePlus, -1) << "the Plus answers only for itself";
    CloseHidHandle(notThePlus);
    const int32_t plus = OpenHidHandle(0x057E, 0x0330);
    EXPECT_GE(plus, 0) << "the Remote Plus";
    CloseHidHandle(plus);

    fakeInterfaces.back().productId = 0x0337;  // another of the same maker's devices
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
    fakeInterfaces.pop_back();
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1) << "wine's own devices never match";

    ResetFakeWin32Hid();
    fakeInterfaces.back().openable = false;
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1) << "a remote held elsewhere is no remote";
    EXPECT_EQ(fakeHidOpen, 0);
}

// The stack hands every report over padded to the interface's input length;
// a read delivers what the report's identifier carries.
TEST_F(WindowsHidTest, AReadIsCutToWhatItsIdentifierCarries) {
    fakeHidPending.push_back(Report(0x30, 0x77));
    EXPECT_EQ(ReadReport(handle, buffer, &count), 3);
    fakeHidPending.push_back(Report(0x20, 0x00));
    EXPECT_EQ(ReadReport(handle, buffer, &count), 7) << "a status report";
}

// Which length the stack takes is found on the first write and kept: the
// exact length, else padded to the output length, else the control channel.
TEST_F(WindowsHidTest, WritesFindTheWayTheStackTakesThemAndKeepIt) {
    struct Case {
        bool rejectsExact, rejectsPadded;
        std::vector<FakeWrite> first, second;
    };
    const Bytes leds = {0x11, 0xF0};
    const Bytes mode = {0x12, 0x00, 0x31};
    const std::vector<Case> cases = {
        {false, false, {{"write", leds}}, {{"write", mode}}},
        {true, false, {{"write", leds}, {"write", Zeros(leds, 22)}}, {{"write", Zeros(mode, 22)}}},
        {true,
         true,
         {{"write", leds}, {"write", Zeros(leds, 22)}, {"set", Zeros(leds, 22)}},
         {{"set", Zeros(mode, 22)}}},
    };
    for (const Case& c : cases) {
        CloseHidHandle(handle);
        ResetFakeWin32Hid();
        Remote().rejectsExact = c.rejectsExact;
        Remote().rejectsPadded = c.rejectsPadded;
        handle = OpenHidHandle(0x057E, 0x0306);
        EXPECT_EQ(Write(handle, leds), 2);
        ASSERT_EQ(fakeHidWrites.size(), c.first.size());
        for (size_t i = 0; i < c.first.size(); ++i) {
            EXPECT_EQ(fakeHidWrites[i].way, c.first[i].way) << i;
            EXPECT_EQ(fakeHidWrites[i].bytes, c.first[i].bytes) << i;
        }
        fakeHidWrites.clear();
        EXPECT_EQ(Write(handle, mode), 3);
        ASSERT_EQ(fakeHidWrites.size(), 1u);
        EXPECT_EQ(fakeHidWrites[0].way, c.second[0].way);
        EXPECT_EQ(fakeHidWrites[0].bytes, c.second[0].bytes);
    }
    CloseHidHandle(handle);
    ResetFakeWin32Hid();
    handle = OpenHidHandle(0x057E, 0x0306);

    // The remote comes back over a stack that rejects the kept way: the
    // search starts again, and a write no way takes fails.
    Remote().rejectsExact = true;
    EXPECT_EQ(Write(handle, leds), 2);
    fakeHidWrites.clear();
    Remote().rejectsPadded = true;
    Remote().controlWorks = false;
    EXPECT_EQ(Write(handle, leds), -1);
    ASSERT_EQ(fakeHidWrites.size(), 1u + 3u) << "the kept way, then all three";
    EXPECT_EQ(fakeHidWrites.back().way, "set");
}

// The read core over Windows' HID stack in memory.
struct Win32Stack {
    static void Reset() {
        ResetFakeWin32Hid();
    }
    static std::deque<std::vector<uint8_t>>& Pending() {
        return fakeHidPending;
    }
    static int TimedWaits() {
        return fakeHidTimedWaits;
    }
    static void OnWait(std::function<void()> f) {
        fakeHidOnWait = std::move(f);
    }
    static void OnLook(std::function<void()> f) {
        fakeHidOnList = std::move(f);
    }
    static int Open() {
        return fakeHidOpen;
    }
    static size_t Written() {
        return fakeHidWrites.size();
    }
    static void Vanish() {
        fakeHidReadFails = true;
        fakeInterfaces.back().present = false;
    }
    static void Return() {
        fakeHidReadFails = false;
        fakeInterfaces.back().present = true;
    }
    static int32_t LengthOf(const std::vector<uint8_t>& report) {
        return InputReportLength(report[0]);
    }
};

namespace device_core {
INSTANTIATE_TYPED_TEST_SUITE_P(DeviceCoreOnWin32, DeviceCore, Win32Stack);
}  // namespace device_core
