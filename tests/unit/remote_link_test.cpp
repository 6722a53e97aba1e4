#include "remote/remote_link.h"

#include <gtest/gtest.h>

#include <thread>

#include "fake_counter.h"
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

// A refusal of either remote is what the user must hear about, not the
// absence of the other; and a failed open leaves no handle at all, whatever
// the library answered.
TEST_F(RemoteLinkTest, AFailedOpenKeepsTheRefusalOfEitherRemoteAndNoHandle) {
    struct Case {
        int32_t original;
        int32_t plus;
        int32_t refusal;
    };
    for (const Case c :
         {Case{TINY_HID_ABSENT, TINY_HID_ABSENT, TINY_HID_ABSENT},
          Case{TINY_HID_DENIED, TINY_HID_ABSENT, TINY_HID_DENIED},
          Case{TINY_HID_ABSENT, TINY_HID_HELD, TINY_HID_HELD}, Case{TINY_HID_DENIED, 2, 0}}) {
        fakeHidOpenResultOf = {{0x0306, c.original}, {0x0330, c.plus}};
        EXPECT_EQ(OpenRemote(), c.refusal == 0);
        EXPECT_EQ(RemoteOpenRefusal(), c.refusal);
        EXPECT_EQ(hidHandle, c.refusal == 0 ? c.plus : -1);
        EXPECT_EQ(RemoteIsOpen(), c.refusal == 0);
        CloseRemote();
    }
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

namespace {

const std::vector<uint8_t> kStatusReport = {0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC8};

// The link as start-up leaves it: opened on this thread, mode set.
void OpenLinkWithMode() {
    ASSERT_TRUE(OpenRemote());
    SetReportMode(0x00, 0x31);
    ResetFakeHid();
}

std::vector<uint8_t> Sent(const HidBuffer& buffer, size_t length) {
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(length));
}

}  // namespace

TEST_F(RemoteLinkTest, AStatusReportHasTheModeSentAgainBeforeTheNextRead) {
    OpenLinkWithMode();
    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    Deliver(kStatusReport);
    EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A}));

    Deliver({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    Deliver({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    // The poll that read the status report reads on, the mode sent first.
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'r', 'w', 'r', 'r', 'r'}));
    ASSERT_EQ(fakeHidWrites.size(), 1u);
    EXPECT_EQ(Sent(fakeHidWrites[0], 3), (std::vector<uint8_t>{0x12, 0x00, 0x31}));
    EXPECT_FALSE(ReportModeLost());
}

// The probe's reader polls too; writes belong to the main thread alone.
TEST_F(RemoteLinkTest, AStatusReportReadOnAnotherThreadIsAnsweredByTheLinkThread) {
    OpenLinkWithMode();
    std::thread reader([this] {
        Deliver(kStatusReport);
        PollRemote();
    });
    reader.join();
    EXPECT_TRUE(fakeHidWrites.empty());

    PollRemote();
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'r', 'r', 'w', 'r'}));
}

// A read that delivers nothing (cancelled) leaves the answered status report
// in the buffer; decoding it again would send the mode on every poll.
TEST_F(RemoteLinkTest, AStatusReportIsAnsweredOnceWhenLaterReadsDeliverNothing) {
    OpenLinkWithMode();
    Deliver(kStatusReport);
    PollRemote();
    PollRemote();
    PollRemote();
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'w', 'r', 'r', 'r', 'r'}));
}

// Each report is decoded from exactly its own bytes (the vectors are sized to
// them, so AddressSanitizer sees any read past the end). One too short for its
// fields changes nothing: the buffer beyond it holds an older report.
TEST_F(RemoteLinkTest, ReportsTooShortForTheirFieldsChangeNothing) {
    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    for (const std::vector<uint8_t>& report :
         std::vector<std::vector<uint8_t>>{{},
                                           {0x30},
                                           {0x30, 0x00},
                                           {0x31},
                                           {0x31, 0x00},
                                           {0x31, 0x00, 0x80},
                                           {0x31, 0x00, 0x80, 0x11},
                                           {0x31, 0x00, 0x80, 0x11, 0x22}}) {
        DecodeReport(report.data(), static_cast<int32_t>(report.size()));
        EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A})) << report.size() << " bytes";
    }
}

TEST_F(RemoteLinkTest, AShortReportDoesNotReviveTheBytesOfAnOlderOne) {
    Deliver({0x31, 0x00, 0x00, 0x11, 0x22, 0x33});
    // Home; a report 0x30 carries no accelerometer, whatever follows its buttons.
    Deliver({0x30, 0x00, 0x80, 0x44, 0x55, 0x66});
    Deliver({0x31, 0x00});  // cut short: bytes 2-5 still hold 80 44 55 66
    EXPECT_EQ(Decoded(), (State{0x80, 0x11, 0x22, 0x33}));
}

TEST_F(RemoteLinkTest, FullLengthReportsDecodeAndUnknownOnesChangeNothing) {
    std::vector<uint8_t> longest(TINY_HID_BUFFER_SIZE, 0xEE);
    longest[0] = 0x31;
    longest[2] = 0x08;
    DecodeReport(longest.data(), static_cast<int32_t>(longest.size()));
    EXPECT_EQ(Decoded(), (State{0x08, 0xEE, 0xEE, 0xEE}));

    for (const uint8_t id : {0x00, 0x21, 0x22, 0x32, 0x3F, 0x80, 0xFF}) {
        std::vector<uint8_t> report(TINY_HID_BUFFER_SIZE, 0x55);
        report[0] = id;
        DecodeReport(report.data(), static_cast<int32_t>(report.size()));
        EXPECT_EQ(Decoded(), (State{0x08, 0xEE, 0xEE, 0xEE})) << "report " << int{id};
    }
    EXPECT_TRUE(fakeHidWrites.empty());
}

namespace {

std::vector<std::vector<uint8_t>> SentReports() {
    std::vector<std::vector<uint8_t>> sent;
    for (const HidBuffer& buffer : fakeHidWrites) {
        sent.push_back(Sent(buffer, static_cast<size_t>(OutputReportLength(buffer[0]))));
    }
    return sent;
}

}  // namespace

// A remote back from out of range has forgotten its mode and LEDs, and the
// motor of a pulse cut short by its leaving may still run. The poll puts it
// back and reads on, so its caller sees a report, not an empty read.
TEST_F(RemoteLinkTest, ARemoteThatComesBackGetsTheLastModeAndLedsAndRumbleOffOnce) {
    OpenLinkWithMode();
    SetLeds(0x30);
    SetLeds(0x70);
    SetRumble(1);
    ResetFakeHid();

    fakeHidReopens = 1;
    Deliver({0x31, 0x00, 0x08, 0x81, 0x7F, 0x9A});
    EXPECT_EQ(Decoded(), (State{0x08, 0x81, 0x7F, 0x9A}));
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'w', 'w', 'w', 'r'}));
    EXPECT_EQ(SentReports(),
              (std::vector<std::vector<uint8_t>>{{0x12, 0x00, 0x31}, {0x11, 0x70}, {0x13, 0x00}}));

    PollRemote();
    EXPECT_EQ(fakeHidWrites.size(), 3u) << "restored again without a new return";
}

TEST_F(RemoteLinkTest, AReturnSeenByTheReaderIsRestoredByTheLinkThread) {
    OpenLinkWithMode();
    fakeHidReopens = 1;
    std::thread reader([] { PollRemote(); });
    reader.join();
    EXPECT_TRUE(fakeHidWrites.empty());
    EXPECT_EQ(fakeHidReads, 1) << "the reader leaves the return to the link thread";

    Deliver({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'w', 'w', 'r'}));
    EXPECT_EQ(SentReports(), (std::vector<std::vector<uint8_t>>{{0x12, 0x00, 0x31}, {0x13, 0x00}}));
}

// Nothing set before the remote vanished: its return brings only rumble off.
TEST_F(RemoteLinkTest, ARemoteThatComesBackGetsOnlyWhatWasSet) {
    ASSERT_TRUE(OpenRemote());
    fakeHidReopens = 2;
    Deliver({0x30, 0x00, 0x00});
    EXPECT_EQ(SentReports(), (std::vector<std::vector<uint8_t>>{{0x13, 0x00}, {0x13, 0x00}}));
    EXPECT_EQ(fakeHidCallOrder, (std::vector<char>{'r', 'w', 'r', 'w', 'r'}));
}

// What a desktop's kernel driver does to the remote beside the program.
namespace {

using Reports = std::vector<std::vector<uint8_t>>;
constexpr int64_t kTicksPerMs = kFakeTicksPerSecond / 1000;
const std::vector<uint8_t> kAtRest = {0x31, 0x00, 0x00, 0x80, 0x80, 0x80};

}  // namespace

TEST_F(RemoteLinkTest, OpensAWiiRemotePlusWhereNoOriginalIs) {
    fakeHidOpenResult = 2;
    fakeHidProduct = 0x0330;
    EXPECT_TRUE(OpenRemote());
    EXPECT_EQ(fakeHidOpenedWith, (std::vector<int32_t>{0x057E, 0x0306, 0x057E, 0x0330}));
    fakeHidProduct = 0x0331;
    EXPECT_FALSE(OpenRemote());
}

TEST_F(RemoteLinkTest, EveryReportCarriesTheRumbleAsLastSet) {
    OpenLinkWithMode();
    SetRumble(1);
    SetLeds(0xF0);
    SetReportMode(0x00, 0x31);
    RequestStatus();
    SetRumble(0);
    SetLeds(0x70);
    RequestStatus();
    EXPECT_EQ(SentReports(), (Reports{{0x13, 0x01},
                                      {0x11, 0xF1},
                                      {0x12, 0x01, 0x31},
                                      {0x15, 0x01},
                                      {0x13, 0x00},
                                      {0x11, 0x70},
                                      {0x15, 0x00}}));
}

TEST_F(RemoteLinkTest, AWholeDataReportOfAnotherModeHasTheModeSentAgainAtMostEvery100Ms) {
    OpenLinkWithMode();
    fakeCounterNow += 100 * kTicksPerMs;
    Deliver({0x30, 0x00, 0x00});
    Deliver({0x30, 0x00, 0x00});
    EXPECT_EQ(SentReports(), (Reports{{0x12, 0x00, 0x31}}));
    Deliver({0x30, 0x00, 0x00});
    Deliver({0x30, 0x00, 0x00});
    EXPECT_EQ(fakeHidWrites.size(), 1u) << "within 100 ms of the last one";
    fakeCounterNow += 100 * kTicksPerMs;
    Deliver({0x30, 0x00, 0x00});
    EXPECT_EQ(fakeHidWrites.size(), 2u);

    // A report in the mode set clears it; one too short to show a mode, or
    // of no mode with the core buttons, asks nothing.
    ResetFakeHid();
    Deliver({0x30, 0x00, 0x00});
    Deliver(kAtRest);
    fakeCounterNow += 100 * kTicksPerMs;
    Deliver({0x30, 0x00});
    Deliver({0x3F, 0x00, 0x00});
    Deliver(kAtRest);
    EXPECT_TRUE(fakeHidWrites.empty());
}

TEST_F(RemoteLinkTest, AMemoryAnswerWhileRumblingHasTheRumbleSetAgain) {
    OpenLinkWithMode();
    SetRumble(1);
    ResetFakeHid();
    KeepRumble();
    EXPECT_TRUE(fakeHidWrites.empty()) << "nobody stopped it";
    for (const std::vector<uint8_t>& answer :
         {std::vector<uint8_t>{0x22, 0x00, 0x00, 0x16, 0x00}, std::vector<uint8_t>(22, 0x21)}) {
        std::thread reader([&] { Deliver(answer); });
        reader.join();
        KeepRumble();
        KeepRumble();
    }
    EXPECT_EQ(SentReports(), (Reports{{0x13, 0x01}, {0x13, 0x01}}));

    SetRumble(0);
    Deliver({0x22, 0x00, 0x00, 0x16, 0x00});
    KeepRumble();
    EXPECT_EQ(SentReports().back(), (std::vector<uint8_t>{0x13, 0x00}));
}

// The kernel's driver sets up a returning remote (its own mode and LEDs)
// after asking for its status: a status report soon after the return has
// everything put back again, a later one only the mode.
TEST_F(RemoteLinkTest, AStatusReportSoonAfterAReturnRestoresTheWholeStateAgain) {
    OpenLinkWithMode();
    SetLeds(0xF0);
    fakeHidReopens = 1;
    Deliver(kAtRest);
    ResetFakeHid();
    Deliver(kStatusReport);
    Deliver(kAtRest);
    EXPECT_EQ(SentReports(), (Reports{{0x12, 0x00, 0x31}, {0x11, 0xF0}, {0x13, 0x00}}));

    ResetFakeHid();
    fakeCounterNow += 1001 * kTicksPerMs;
    Deliver(kStatusReport);
    Deliver(kAtRest);
    EXPECT_EQ(SentReports(), (Reports{{0x12, 0x00, 0x31}}));
}

// The remote acknowledges some of the program's own reports too: only an
// answer to a report the program never sends shows that another writer (the
// kernel's driver) has just stopped the motor.
TEST_F(RemoteLinkTest, OnlyAnAnswerToAnotherWritersReportHasTheRumbleSetAgain) {
    struct Case {
        std::vector<uint8_t> answer;
        bool setAgain;
    };
    const std::vector<Case> cases = {
        {{0x22, 0x00, 0x00, 0x11, 0x00}, false},  // our LEDs
        {{0x22, 0x00, 0x00, 0x12, 0x00}, false},  // our mode
        {{0x22, 0x00, 0x00, 0x13, 0x00}, false},  // our rumble
        {{0x22, 0x00, 0x00, 0x12, 0x03}, false},  // our mode, refused
        {{0x22, 0x00, 0x00}, false},              // names no report
        {{0x22, 0x00, 0x00, 0x16, 0x00}, true},   // a memory write
        {{0x22, 0x00, 0x00, 0x15, 0x00}, true},   // a status request
        {{0x22, 0x00, 0x00, 0x10, 0x00}, true},   // a rumble-only report
        {std::vector<uint8_t>(22, 0x21), true},   // a memory read's data
    };
    for (const Case& c : cases) {
        OpenLinkWithMode();
        SetRumble(1);
        ResetFakeHid();
        Deliver(c.answer);
        KeepRumble();
        EXPECT_EQ(SentReports(), (c.setAgain ? Reports{{0x13, 0x01}} : Reports{}))
            << "answer to " << int{c.answer.size() > 3 ? c.answer[3] : 0};
        SetRumble(0);
        CloseRemote();
    }
}

// The library hands over the answers it holds one a read and keeps only the
// newest data behind them: a poll that stopped at an answer would leave the
// data to later polls, by when newer data had replaced it (a strike lost
// behind the kernel's driver's four answers). A flood of answers still
// lets the poll return.
TEST_F(RemoteLinkTest, APollReadsOnPastAnswersToTheDataBehindThem) {
    const std::vector<uint8_t> memory(22, 0x21);
    const std::vector<uint8_t> ack = {0x22, 0x00, 0x00, 0x16, 0x00};
    const std::vector<uint8_t> hit = {0x31, 0x00, 0x00, 0xFF, 0x80, 0x80};
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> queued;
        int reads;
        uint8_t accelX;
    };
    std::vector<Case> cases = {
        {"the kernel's poll, then data", {memory, ack, ack, memory, hit}, 5, 0xFF},
        {"a status report, then data", {kStatusReport, hit}, 2, 0xFF},
        {"answers alone", {ack, memory}, 3, 0x80},
        {"a flood of answers", std::vector<std::vector<uint8_t>>(20, ack), kHidHeldAnswers + 1,
         0x80},
    };
    cases.back().queued.push_back(hit);
    for (const Case& c : cases) {
        OpenLinkWithMode();
        Deliver(kAtRest);
        ResetFakeHid();
        fakeHidReports.assign(c.queued.begin(), c.queued.end());
        PollRemote();
        EXPECT_EQ(fakeHidReads, c.reads) << c.name;
        EXPECT_EQ(int{remoteState.accelX}, int{c.accelX}) << c.name;
        CloseRemote();
    }
}
