#include "remote/remote_link.h"

#include <gtest/gtest.h>

#include "fake_hid.h"

namespace {

using State = std::array<uint8_t, 4>;

class RemoteLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeHid();
        remoteState.buttons = 0;
        remoteState.accelX = 0;
        remoteState.accelY = 0;
        remoteState.accelZ = 0;
        std::fill(std::begin(InputBuffer), std::end(InputBuffer), 0);
        std::fill(std::begin(OutputBuffer), std::end(OutputBuffer), 0);
    }
    void Deliver(std::vector<uint8_t> report) {
        fakeHidReports.push_back(std::move(report));
        PollRemote();
    }
    static State Decoded() {
        return {remoteState.buttons, remoteState.accelX, remoteState.accelY, remoteState.accelZ};
    }
};

}  // namespace

TEST_F(RemoteLinkTest, OpensTheWiiRemoteByItsIdentifiers) {
    fakeHidOpenResult = 3;
    EXPECT_TRUE(OpenRemote());
    EXPECT_EQ(fakeHidOpenedWith, (std::vector<int32_t>{0x057E, 0x0306}));
    CloseRemote();
    EXPECT_EQ(fakeHidCloses, 1);

    fakeHidOpenResult = -1;
    EXPECT_FALSE(OpenRemote());
}

TEST_F(RemoteLinkTest, DecodesButtonsAndAccelerometerReports) {
    EXPECT_EQ(Decoded(), (State{0, 0, 0, 0}));

    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A}));

    // A buttons-only report keeps the accelerometer as it was.
    Deliver({0x30, 0x60, 0x80});
    EXPECT_EQ(Decoded(), (State{0x80, 0x81, 0x7F, 0x9A}));
}

TEST_F(RemoteLinkTest, OtherReportsChangeNothing) {
    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    for (const uint8_t id : {0x20, 0x21, 0x22, 0x32, 0x33, 0x3D, 0x00, 0xFF}) {
        Deliver({id, 0x11, 0x22, 0x33, 0x44, 0x55});
        EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A})) << "report " << int{id};
    }
}

TEST_F(RemoteLinkTest, AReadThatDeliversNothingLeavesTheStateAsItWas) {
    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    PollRemote();  // nothing queued
    EXPECT_EQ(fakeHidReads, 2);
    EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A}));
}

TEST_F(RemoteLinkTest, OutputReportsAreBuiltInPlaceOverEarlierOnes) {
    SetReportMode(0x00, 0x31);
    SetLeds(0xF0);
    SetRumble(1);
    SetRumble(0);
    ASSERT_EQ(fakeHidWrites.size(), 4u);

    const HidBuffer& mode = fakeHidWrites[0];
    EXPECT_EQ((std::vector<uint8_t>{mode[0], mode[1], mode[2]}),
              (std::vector<uint8_t>{0x12, 0x00, 0x31}));

    // The mode byte stays behind in every later report's buffer.
    const HidBuffer& leds = fakeHidWrites[1];
    EXPECT_EQ((std::vector<uint8_t>{leds[0], leds[1], leds[2]}),
              (std::vector<uint8_t>{0x11, 0xF0, 0x31}));
    for (size_t i = 3; i < leds.size(); ++i) {
        ASSERT_EQ(leds[i], 0) << "byte " << i;
    }
    EXPECT_EQ((std::vector<uint8_t>{fakeHidWrites[2][0], fakeHidWrites[2][1]}),
              (std::vector<uint8_t>{0x13, 0x01}));
    EXPECT_EQ((std::vector<uint8_t>{fakeHidWrites[3][0], fakeHidWrites[3][1]}),
              (std::vector<uint8_t>{0x13, 0x00}));
}
