// The real HID library over a hidapi that lives in memory.
#include <gtest/gtest.h>

#include "fake_hidapi.h"
#include "hid/tiny_hid.h"

namespace {

class HidapiLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeHidapi();
        handle = OpenHidHandle(0x057E, 0x0306);
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
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
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
