// The real HID library over a hidapi that lives in memory.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "device_core_tests.h"
#include "fake_hidapi.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace {

class HidapiLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeHidapi();
        handle = OpenHidHandle(kRemoteVendorId, kRemoteProductId);
        ASSERT_GE(handle, 0);
    }
    void TearDown() override {
        CloseHidHandle(handle);
        EXPECT_EQ(fakeHidapiOpen, 0);
    }
    int32_t handle = -1;
    uint8_t buffer[TINY_HID_BUFFER_SIZE] = {};
    uint32_t count = 0;
};

std::vector<uint8_t> Report(uint8_t id, uint8_t x) {
    return {id, 0x00, 0x00, x, 0x80, 0x9A};
}

}  // namespace

TEST(HidapiLibrary, NoDeviceIsMinusOne) {
    ResetFakeHidapi();
    fakeHidapiDevicePresent = false;
    EXPECT_EQ(OpenHidHandle(kRemoteVendorId, kRemoteProductId), -1);
}

// The doctor tells the user why the remote would not open: no remote, a
// node this user may not open, one gone between the listing and the open.
// The program itself still sees -1 for all of them.
TEST(HidapiLibrary, AnOpenSaysWhyItOpenedNothingAndTheListingShowsTheRemote) {
    struct Case {
        bool present;
        int openError;
        int32_t listed;
        int32_t opened;  // >= 0: a handle
    };
    for (const Case c :
         {Case{true, 0, 1, 0}, Case{false, 0, 0, TINY_HID_ABSENT},
          Case{true, EACCES, 1, TINY_HID_DENIED}, Case{true, ENOENT, 1, TINY_HID_ABSENT},
          Case{true, EBUSY, 1, TINY_HID_REFUSED}}) {
        ResetFakeHidapi();
        fakeHidapiDevicePresent = c.present;
        fakeHidapiOpenError = c.openError;
        TinyHidDevice devices[2] = {};
        EXPECT_EQ(ListHidDevices(kRemoteVendorId, kRemoteProductId, devices, 2), c.listed);
        EXPECT_EQ(ListHidDevices(kRemoteVendorId, kRemoteProductId, nullptr, 0), c.listed);
        if (c.listed > 0) {
            EXPECT_STREQ(devices[0].path, "/dev/hidraw0");
            EXPECT_EQ(devices[0].productId, kRemoteProductId);
            EXPECT_EQ(devices[0].bus, TINY_HID_BUS_BLUETOOTH);
        }
        const int32_t handle = TryOpenHidHandle(kRemoteVendorId, kRemoteProductId);
        if (c.opened >= 0) {
            EXPECT_GE(handle, 0);
            CloseHidHandle(handle);
        } else {
            EXPECT_EQ(handle, c.opened) << "errno " << c.openError;
            EXPECT_EQ(OpenHidHandle(kRemoteVendorId, kRemoteProductId), -1);
        }
        EXPECT_EQ(fakeHidapiOpen, 0);
    }
}

TEST_F(HidapiLibraryTest, WritesAreCutToTheLengthTheRemoteExpects) {
    uint8_t out[TINY_HID_BUFFER_SIZE];
    std::fill(std::begin(out), std::end(out), 0xEE);
    const std::vector<std::pair<uint8_t, size_t>> lengths = {
        {0x11, 2}, {0x12, 3}, {0x13, 2}, {0x10, 2}, {0x15, 2}, {0x16, 22}, {0x17, 7}, {0x18, 22}};
    for (const auto& [id, length] : lengths) {
        out[0] = id;
        EXPECT_EQ(WriteReport(handle, out, &count), static_cast<int32_t>(length)) << int{id};
        ASSERT_EQ(fakeHidapiWritten.back().size(), length) << int{id};
        EXPECT_EQ(fakeHidapiWritten.back()[0], id);
    }
}

// A signal landing in hidapi's wait fails the read with EINTR. The remote is
// still there and must stay open, or ending on that signal could not switch
// its rumble off.
TEST_F(HidapiLibraryTest, AnInterruptedReadIsNotAVanishedRemote) {
    fakeHidapiReadError = EINTR;
    fakeHidapiPending.push_back(Report(0x31, 0x42));
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_EQ(fakeHidapiOpen, 1);
    EXPECT_EQ(device_core::Write(handle, {0x13, 0x00}), 2);
}

// The read core over hidapi: reports come as long as they came.
struct HidapiStack {
    static void Reset() {
        ResetFakeHidapi();
    }
    static std::deque<std::vector<uint8_t>>& Pending() {
        return fakeHidapiPending;
    }
    static int TimedWaits() {
        return fakeHidapiTimedWaits;
    }
    static void OnWait(std::function<void()> f) {
        fakeHidapiOnWait = std::move(f);
    }
    static void OnLook(std::function<void()> f) {
        fakeHidapiOnOpen = std::move(f);
    }
    static int Open() {
        return fakeHidapiOpen;
    }
    static size_t Written() {
        return fakeHidapiWritten.size();
    }
    static void Vanish() {
        fakeHidapiReadError = EIO;
        fakeHidapiDevicePresent = false;
    }
    static void Return() {
        fakeHidapiDevicePresent = true;
    }
    static int32_t LengthOf(const std::vector<uint8_t>& report) {
        return static_cast<int32_t>(report.size());
    }
};

namespace device_core {
INSTANTIATE_TYPED_TEST_SUITE_P(DeviceCoreOnHidapi, DeviceCore, HidapiStack);
}  // namespace device_core
