// The remote link's handling of reports it cannot simply decode: status
// reports, short reports, unknown identifiers, reads that deliver nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "fakes/fake_tiny_hid.h"
#include "remote/remote_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStatus = {0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc8};

struct Snapshot {
    uint8_t buttons, x, y, z;
    bool operator==(const Snapshot&) const = default;
};

Snapshot State() {
    return {remoteState.buttons, remoteState.accelX, remoteState.accelY, remoteState.accelZ};
}

// A link just opened with its mode set and a first full report decoded.
void StartLink() {
    ResetFakeHid();
    remoteState.buttons = 0;
    remoteState.accelX = 0;
    remoteState.accelY = 0;
    remoteState.accelZ = 0;
    std::memset(InputBuffer, 0, sizeof InputBuffer);
    ASSERT_TRUE(OpenRemote());
    SetReportMode(0x00, 0x31);
    QueueFakeReport({0x31, 0x00, 0x08, 0x90, 0x70, 0xa0});
    PollRemote();
    ResetFakeHid();
}

TEST(RemoteLinkStatusReport, ModeIsSentAgainBeforeTheNextReadAndNothingElseChanges) {
    StartLink();
    const Snapshot before = State();
    QueueFakeReport(kStatus);
    PollRemote();
    EXPECT_EQ(State(), before);
    EXPECT_TRUE(ReportModeLost());

    QueueFakeReport({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    PollRemote();
    QueueFakeReport({0x31, 0x00, 0x00, 0x80, 0x80, 0x80});
    PollRemote();
    EXPECT_EQ(FakeHidCallTexts(),
              (std::vector<std::string>{"read", "write 12 00 31", "read", "read"}));
    EXPECT_FALSE(ReportModeLost());
}

TEST(RemoteLinkStatusReport, ReaderThreadOnlyReadsAndLeavesTheWriteToTheLinkThread) {
    StartLink();
    std::thread reader([] {
        QueueFakeReport(kStatus);
        PollRemote();
        PollRemote();  // delivers nothing
    });
    reader.join();
    for (const FakeHidCall& call : FakeHidCalls()) {
        EXPECT_EQ(call.text.rfind("write", 0), std::string::npos) << call.text;
    }

    PollRemote();
    const std::vector<FakeHidCall> calls = FakeHidCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].text, "write 12 00 31");
    EXPECT_EQ(calls[2].thread, std::this_thread::get_id());
}

// A read that delivers nothing (a cancelled one) leaves the answered status
// report in the buffer; decoding it again would send the mode on every poll.
TEST(RemoteLinkStatusReport, AnsweredOnceEvenWhenLaterReadsDeliverNothing) {
    StartLink();
    QueueFakeReport(kStatus);
    PollRemote();
    PollRemote();
    PollRemote();
    PollRemote();
    EXPECT_EQ(FakeHidCallTexts(), (std::vector<std::string>{"read", "write 12 00 31", "read none",
                                                            "read none", "read none"}));
}

// Reports are decoded from exactly their own bytes (the vectors are sized to
// them, so AddressSanitizer catches a read past the end). A report too short
// for its fields changes nothing: what follows it in the buffer is stale.
TEST(RemoteLinkDecoding, ShortReportsChangeNothing) {
    StartLink();
    const Snapshot before = State();
    for (const Bytes& report : std::vector<Bytes>{{},
                                                  {0x30},
                                                  {0x30, 0x00},
                                                  {0x31},
                                                  {0x31, 0x00},
                                                  {0x31, 0x00, 0x80},
                                                  {0x31, 0x00, 0x80, 0x11},
                                                  {0x31, 0x00, 0x80, 0x11, 0x22}}) {
        DecodeReport(report.data(), static_cast<int32_t>(report.size()));
        EXPECT_EQ(State(), before) << "report of " << report.size() << " bytes";
    }
}

TEST(RemoteLinkDecoding, ShortReportAfterALongOneDoesNotRevivePreviousBytes) {
    StartLink();
    QueueFakeReport({0x31, 0x00, 0x00, 0x11, 0x22, 0x33});
    PollRemote();
    // Home; a report 0x30 carries no accelerometer, whatever follows its buttons.
    QueueFakeReport({0x30, 0x00, 0x80, 0x44, 0x55, 0x66});
    PollRemote();
    QueueFakeReport({0x31, 0x00});  // cut short: bytes 2-5 still hold 80 44 55 66
    PollRemote();
    EXPECT_EQ(State(), (Snapshot{0x80, 0x11, 0x22, 0x33}));
}

TEST(RemoteLinkDecoding, FullLengthReportsDecodeAndUnknownIdentifiersChangeNothing) {
    StartLink();
    Bytes longest(256, 0xee);
    longest[0] = 0x31;
    longest[2] = 0x08;
    DecodeReport(longest.data(), static_cast<int32_t>(longest.size()));
    EXPECT_EQ(State(), (Snapshot{0x08, 0xee, 0xee, 0xee}));

    for (const uint8_t id : {0x00, 0x21, 0x22, 0x32, 0x3f, 0x80, 0xff}) {
        Bytes report(256, 0x55);
        report[0] = id;
        DecodeReport(report.data(), static_cast<int32_t>(report.size()));
        EXPECT_EQ(State(), (Snapshot{0x08, 0xee, 0xee, 0xee})) << "identifier " << int{id};
    }
    EXPECT_FALSE(ReportModeLost());
    EXPECT_TRUE(FakeHidCallTexts().empty());
}

}  // namespace
