// The read core's behaviour (src/hid/device_core.cpp), the same over every
// system's HID calls: one typed suite, instantiated by each system's test
// over its fake stack. A Stack gives the fake's handles:
//   Reset()              a fresh stack with the original remote present
//   Pending()            the remote's reports not read yet
//   TimedWaits()         reads that waited for a report
//   OnWait(f)            f runs on each such wait
//   OnLook(f)            f runs each time the library looks for the remote
//   Open()               devices open now
//   Written()            writes that reached the stack
//   Vanish()             the remote is gone and its next read fails
//   Return()             the remote is there again
//   LengthOf(report)     what a read of the report delivers: hidraw gives
//                        a report as long as it came, Windows' stack pads
//                        it and the library cuts it to what its identifier
//                        carries
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace device_core {

using Bytes = std::vector<uint8_t>;

inline Bytes Report(uint8_t id, uint8_t x) {
    return {id, 0x00, 0x00, x, 0x80, 0x9A};
}

inline int32_t Write(int32_t handle, Bytes report) {
    report.resize(TINY_HID_BUFFER_SIZE, 0xEE);
    uint32_t count = 0;
    return WriteReport(handle, report.data(), &count);
}

template <typename Stack>
class DeviceCore : public ::testing::Test {
protected:
    void SetUp() override {
        Stack::Reset();
        handle = OpenHidHandle(kRemoteVendorId, kRemoteProductId);
        ASSERT_GE(handle, 0);
    }
    void TearDown() override {
        CloseHidHandle(handle);
        EXPECT_EQ(Stack::Open(), 0);
    }
    // The remote is switched off and its next read fails. With reads
    // cancelled, the read that finds it gone returns at once and the library
    // is left waiting for it to come back.
    void Vanish() {
        Stack::Vanish();
        CancelReadReport(handle, 1);
        EXPECT_EQ(ReadReport(handle, buffer, &count), 0);
        CancelReadReport(handle, 0);
        EXPECT_EQ(Stack::Open(), 0) << "the failed device is released";
    }
    int32_t handle = -1;
    uint8_t buffer[TINY_HID_BUFFER_SIZE] = {};
    uint32_t count = 0;
};

TYPED_TEST_SUITE_P(DeviceCore);

TYPED_TEST_P(DeviceCore, AReadDeliversTheNewestOfTheQueuedReports) {
    for (uint8_t x = 1; x <= 55; ++x) {
        TypeParam::Pending().push_back(Report(0x31, x));
    }
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 6);
    EXPECT_EQ(this->count, 6u);
    EXPECT_EQ(this->buffer[0], 0x31);
    EXPECT_EQ(this->buffer[3], 55);
    EXPECT_TRUE(TypeParam::Pending().empty());
    EXPECT_EQ(TypeParam::TimedWaits(), 0);
}

TYPED_TEST_P(DeviceCore, AReadWaitsForTheNextReportUntilCancelled) {
    TypeParam::OnWait([] {
        if (TypeParam::TimedWaits() == 3) {
            TypeParam::Pending().push_back(Report(0x31, 0x77));
        }
    });
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count),
              TypeParam::LengthOf(Report(0x31, 0x77)));
    EXPECT_EQ(this->buffer[3], 0x77);
    EXPECT_EQ(TypeParam::TimedWaits(), 3);

    this->buffer[0] = 0xAB;
    const int32_t handle = this->handle;
    TypeParam::OnWait([handle] {
        if (TypeParam::TimedWaits() == 5) {
            CancelReadReport(handle, 1);
        }
    });
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 0);
    EXPECT_EQ(this->buffer[0], 0xAB);
    EXPECT_EQ(TypeParam::TimedWaits(), 5);
    // Cancelled reads return at once until the cancel is lifted.
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 0);
    EXPECT_EQ(TypeParam::TimedWaits(), 5);
    CancelReadReport(this->handle, 0);
    TypeParam::Pending().push_back(Report(0x31, 0x42));
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 6);
}

TYPED_TEST_P(DeviceCore, RefusedReportsAndBadHandlesTouchNothing) {
    for (const uint8_t id : {0x00, 0x0F, 0x1B, 0x20, 0x31, 0xFF}) {
        EXPECT_EQ(Write(this->handle, {id, 0x01}), -1) << int{id};
    }
    for (const int32_t bad : {-1, 7, 8, 1000}) {
        EXPECT_EQ(ReadReport(bad, this->buffer, &this->count), -1);
        EXPECT_EQ(Write(bad, {0x11, 0xF0}), -1);
        EXPECT_EQ(CloseHidHandle(bad), -1);
    }
    EXPECT_EQ(TypeParam::Written(), 0u);
}

TYPED_TEST_P(DeviceCore, AVanishedRemoteIsLookedForTwiceASecondAndItsReturnReported) {
    EXPECT_EQ(Write(this->handle, {0x12, 0x00, 0x31}), 3);
    EXPECT_EQ(Write(this->handle, {0x11, 0xF0}), 2);
    EXPECT_EQ(Write(this->handle, {0x13, 0x01}), 2);
    this->Vanish();

    // Not sent while gone.
    EXPECT_EQ(Write(this->handle, {0x11, 0x70}), -1);
    EXPECT_EQ(TypeParam::Written(), 3u);

    int looks = 0;
    TypeParam::OnLook([&looks] {
        if (++looks == 2) {
            TypeParam::Return();
            TypeParam::Pending().push_back(Report(0x31, 0x42));
        }
    });
    this->buffer[0] = 0xAB;
    this->count = 77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), TINY_HID_REOPENED);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(this->buffer[0], 0xAB);
    EXPECT_EQ(this->count, 77u);
    EXPECT_EQ(looks, 2);
    // A lower bound only: the looks are half a second apart, not a busy loop.
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_EQ(TypeParam::TimedWaits(), 0) << "nothing is read from a gone remote";
    EXPECT_EQ(TypeParam::Written(), 3u) << "restoring the remote is the caller's";

    // The caller's writes reach it again, and reading goes on.
    EXPECT_EQ(Write(this->handle, {0x13, 0x00}), 2);
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 6);
    EXPECT_EQ(this->buffer[3], 0x42);
}

TYPED_TEST_P(DeviceCore, AReadWaitingForAVanishedRemoteCanBeCancelledAndTheHandleClosed) {
    this->Vanish();
    const int32_t handle = this->handle;
    TypeParam::OnLook([handle] { CancelReadReport(handle, 1); });
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), 0);
    CancelReadReport(this->handle, 0);

    TypeParam::OnLook([] { TypeParam::Return(); });
    TypeParam::Pending().push_back(Report(0x30, 0x00));
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count), TINY_HID_REOPENED);
    EXPECT_EQ(ReadReport(this->handle, this->buffer, &this->count),
              TypeParam::LengthOf(Report(0x30, 0x00)));
    EXPECT_EQ(TypeParam::Written(), 0u);

    // Gone again, then closed: the vanished device was released already.
    this->Vanish();
    EXPECT_EQ(CloseHidHandle(this->handle), 0);
    EXPECT_EQ(TypeParam::Open(), 0);
}

// A status report or another writer's answer (which may have just stopped the
// motor) is seen once: a newer data report must not drop it. The newest data
// still comes first and stale data never comes at all.
TYPED_TEST_P(DeviceCore, AnAnswerIsNeverLostBehindNewerData) {
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
        {"memory data, then data", {{memory, Report(0x31, 1)}}, {1, 0xA1}},
        {"answers alone, in order", {{ack, memory, status}}, {0xA2, 0xA1, 0xA0}},
        {"held answers before newer data",
         {{Report(0x31, 1), status}, {Report(0x31, 2), ack, Report(0x31, 3)}},
         {1, 0xA0, 0xA2, 3}},
    };
    for (const Case& c : cases) {
        CancelReadReport(this->handle, 1);  // only what is there, no waiting
        std::vector<uint8_t> got;
        for (size_t read = 0; read < c.delivered.size() + 1; ++read) {
            if (read < c.arrivals.size()) {
                TypeParam::Pending().insert(TypeParam::Pending().end(), c.arrivals[read].begin(),
                                            c.arrivals[read].end());
            }
            if (ReadReport(this->handle, this->buffer, &this->count) > 0) {
                got.push_back(this->buffer[3]);
            }
        }
        EXPECT_EQ(got, c.delivered) << c.name;
        CancelReadReport(this->handle, 0);
    }
    EXPECT_EQ(TypeParam::TimedWaits(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(DeviceCore, AReadDeliversTheNewestOfTheQueuedReports,
                            AReadWaitsForTheNextReportUntilCancelled,
                            RefusedReportsAndBadHandlesTouchNothing,
                            AVanishedRemoteIsLookedForTwiceASecondAndItsReturnReported,
                            AReadWaitingForAVanishedRemoteCanBeCancelledAndTheHandleClosed,
                            AnAnswerIsNeverLostBehindNewerData);

}  // namespace device_core
