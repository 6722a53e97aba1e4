#include "doctor/report_pump.h"

#include "config.h"
#include "hid/tiny_hid.h"
#include "remote/remote_link.h"

ReportPump::ReportPump(Clock::time_point origin) : origin_(origin), reader_([this] { Read(); }) {}

ReportPump::~ReportPump() {
    Stop();
}

void ReportPump::Stop() {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    if (reader_.joinable()) {
        CancelPolls(true);
        reader_.join();
        CancelPolls(false);
    }
}

double ReportPump::MsSinceOrigin() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - origin_).count();
}

// Read and decoded as the program's own reader reads them, so that what the
// link owes the remote (a mode after a status report) is known to the main
// thread.
void ReportPump::Read() {
    uint8_t buffer[kReportBufferSize];
    for (;;) {
        const int32_t length = ReadRemote(buffer);
        const double ms = MsSinceOrigin();
        std::lock_guard lock(mutex_);
        if (!running_ || (length < 0 && length != TINY_HID_REOPENED)) {
            return;
        }
        if (length > 0) {
            received_.push_back({ms, std::vector<uint8_t>(buffer, buffer + length)});
            arrived_.notify_all();
        }
    }
}

std::vector<Received> ReportPump::Since(size_t& cursor) {
    std::lock_guard lock(mutex_);
    std::vector<Received> fresh(received_.begin() + static_cast<std::ptrdiff_t>(cursor),
                                received_.end());
    cursor = received_.size();
    return fresh;
}

bool ReportPump::WaitFor(uint8_t id, int32_t ms, size_t& cursor, Received& got) {
    std::unique_lock lock(mutex_);
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        for (; cursor < received_.size(); ++cursor) {
            if (received_[cursor].bytes[0] == id) {
                got = received_[cursor++];
                return true;
            }
        }
        if (arrived_.wait_until(lock, until) == std::cv_status::timeout &&
            cursor == received_.size()) {
            return false;
        }
    }
}
