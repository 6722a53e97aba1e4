// The real HID library over a hidapi that lives in memory.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

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

TEST_F(HidapiLibraryTest, AReadDeliversTheNewestOfTheQueuedReports) {
    for (uint8_t x = 1; x <= 55; ++x) {
        fakeHidapiPending.push_back(Report(0x31, x));
    }
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(buffer[0], 0x31);
    EXPECT_EQ(buffer[3], 55);
    EXPECT_TRUE(fakeHidapiPending.empty());
    EXPECT_EQ(fakeHidapiTimedWaits, 0);
}

TEST_F(HidapiLibraryTest, WithNothingPendingAReadWaitsForTheNextReport) {
    fakeHidapiOnWait = [] {
        if (fakeHidapiTimedWaits == 3) {
            fakeHidapiPending.push_back(Report(0x30, 0x77));
        }
    };
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_EQ(buffer[3], 0x77);
    EXPECT_EQ(fakeHidapiTimedWaits, 3);
}

TEST_F(HidapiLibraryTest, ACancelledReadReturnsNothingAndLeavesTheBuffer) {
    buffer[0] = 0xAB;
    fakeHidapiOnWait = [this] {
        if (fakeHidapiTimedWaits == 5) {
            CancelReadReport(handle, 1);
        }
    };
    EXPECT_EQ(ReadReport(handle, buffer, &count), 0);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(fakeHidapiTimedWaits, 5);

    // Cancelled reads return at once until the cancel is lifted.
    EXPECT_EQ(ReadReport(handle, buffer, &count), 0);
    EXPECT_EQ(fakeHidapiTimedWaits, 5);
    CancelReadReport(handle, 0);
    fakeHidapiPending.push_back(Report(0x31, 0x42));
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
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
    for (const uint8_t id : {0x00, 0x0F, 0x1B, 0x20, 0x31, 0xFF}) {
        out[0] = id;
        const size_t before = fakeHidapiWritten.size();
        EXPECT_EQ(WriteReport(handle, out, &count), -1) << int{id};
        EXPECT_EQ(fakeHidapiWritten.size(), before) << "refused report " << int{id} << " was sent";
    }
}

TEST_F(HidapiLibraryTest, BadHandlesFailWithoutTouchingAnything) {
    uint8_t out[TINY_HID_BUFFER_SIZE] = {0x11, 0xF0};
    for (const int32_t bad : {-1, 7, 8, 1000}) {
        EXPECT_EQ(ReadReport(bad, buffer, &count), -1);
        EXPECT_EQ(WriteReport(bad, out, &count), -1);
        EXPECT_EQ(CloseHidHandle(bad), -1);
    }
    EXPECT_TRUE(fakeHidapiWritten.empty());
}

namespace {

using Bytes = std::vector<uint8_t>;

int32_t Write(int32_t handle, std::vector<uint8_t> report) {
    report.resize(TINY_HID_BUFFER_SIZE);
    uint32_t count = 0;
    return WriteReport(handle, report.data(), &count);
}

// The remote is switched off and its next read fails. With reads cancelled,
// the read that finds it gone returns at once and the library is left
// waiting for it to come back.
void Vanish(int32_t handle) {
    fakeHidapiReadError = EIO;
    fakeHidapiDevicePresent = false;
    CancelReadReport(handle, 1);
    uint8_t buffer[TINY_HID_BUFFER_SIZE];
    uint32_t count = 0;
    EXPECT_EQ(ReadReport(handle, buffer, &count), 0);
    CancelReadReport(handle, 0);
    EXPECT_EQ(fakeHidapiOpen, 0) << "the failed device is released";
}

}  // namespace

TEST_F(HidapiLibraryTest, AVanishedRemoteIsLookedForTwiceASecondAndItsReturnReported) {
    Write(handle, {0x12, 0x00, 0x31});
    Write(handle, {0x11, 0xF0});
    Write(handle, {0x13, 0x01});
    Vanish(handle);

    // Not sent while gone.
    EXPECT_EQ(Write(handle, {0x11, 0x70}), -1);
    EXPECT_EQ(fakeHidapiWritten.size(), 3u);

    int looks = 0;
    fakeHidapiOnOpen = [&looks] {
        if (++looks == 2) {
            fakeHidapiDevicePresent = true;
            fakeHidapiPending.push_back(Report(0x31, 0x42));
        }
    };
    buffer[0] = 0xAB;
    count = 77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadReport(handle, buffer, &count), TINY_HID_REOPENED);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(looks, 2);
    // A lower bound only: the looks are half a second apart, not a busy loop.
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_EQ(fakeHidapiTimedWaits, 0) << "nothing is read from a gone remote";
    EXPECT_EQ(fakeHidapiWritten.size(), 3u) << "restoring the remote is the caller's";

    // The caller's writes reach it again, and reading goes on.
    EXPECT_EQ(Write(handle, {0x13, 0x00}), 2);
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_EQ(buffer[3], 0x42);
}

TEST_F(HidapiLibraryTest, AReadWaitingForAVanishedRemoteCanBeCancelledAndTheHandleClosed) {
    Vanish(handle);
    fakeHidapiOnOpen = [this] { CancelReadReport(handle, 1); };
    EXPECT_EQ(ReadReport(handle, buffer, &count), 0);
    CancelReadReport(handle, 0);

    fakeHidapiOnOpen = [] { fakeHidapiDevicePresent = true; };
    fakeHidapiPending.push_back(Report(0x30, 0x00));
    EXPECT_EQ(ReadReport(handle, buffer, &count), TINY_HID_REOPENED);
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_TRUE(fakeHidapiWritten.empty());

    // Gone again, then closed: the vanished device was released already.
    Vanish(handle);
    EXPECT_EQ(CloseHidHandle(handle), 0);
    EXPECT_EQ(fakeHidapiOpen, 0);
}

// A signal landing in hidapi's wait fails the read with EINTR. The remote is
// still there and must stay open, or ending on that signal could not switch
// its rumble off.
TEST_F(HidapiLibraryTest, AnInterruptedReadIsNotAVanishedRemote) {
    fakeHidapiReadError = EINTR;
    fakeHidapiPending.push_back(Report(0x31, 0x42));
    EXPECT_EQ(ReadReport(handle, buffer, &count), 6);
    EXPECT_EQ(fakeHidapiOpen, 1);
    EXPECT_EQ(Write(handle, {0x13, 0x00}), 2);
}

// A status report or another writer's answer (which may have just stopped the
// motor) is seen once: a newer data report must not drop it. The newest data
// still comes first and stale data never comes at all.
TEST_F(HidapiLibraryTest, AnAnswerIsNeverLostBehindNewerData) {
    struct Case {
        const char* name;
        std::vector<std::vector<Bytes>> arrivals;  // before each read
        std::vector<uint8_t> delivered;            // byte 3 of each read's report
    };
    const Bytes status = Report(kReportStatus, 0xA0);
    const Bytes memory = Report(kReportMemoryData, 0xA1);
    const Bytes ack = Report(kReportAcknowledge, 0xA2);
    const std::vector<Case> cases = {
        {"data only: the newest", {{Report(0x31, 1), Report(0x31, 2), Report(0x31, 3)}}, {3}},
        {"an acknowledgement between data", {{Report(0x31, 1), ack, Report(0x31, 2)}}, {2, 0xA2}},
        {"memory data, then data", {{memory, Report(0x30, 1)}}, {1, 0xA1}},
        {"answers alone, in order", {{ack, memory, status}}, {0xA2, 0xA1, 0xA0}},
        {"held answers before newer data",
         {{Report(0x31, 1), status}, {Report(0x31, 2), ack, Report(0x31, 3)}},
         {1, 0xA0, 0xA2, 3}},
    };
    for (const Case& c : cases) {
        CancelReadReport(handle, 1);  // only what is there, no waiting
        std::vector<uint8_t> got;
        for (size_t read = 0; read < c.delivered.size() + 1; ++read) {
            if (read < c.arrivals.size()) {
                fakeHidapiPending.insert(fakeHidapiPending.end(), c.arrivals[read].begin(),
                                         c.arrivals[read].end());
            }
            if (ReadReport(handle, buffer, &count) > 0) {
                got.push_back(buffer[3]);
            }
        }
        EXPECT_EQ(got, c.delivered) << c.name;
        CancelReadReport(handle, 0);
    }
    EXPECT_EQ(fakeHidapiTimedWaits, 0);
}
