// Reads the remote's reports on a thread of its own, back to back, so that
// none is lost to the read core's rule of the newest data, and keeps each
// with the time it came. The doctor's checks and its recording look at them
// while the main thread times and writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct Received {
    double ms = 0;  // since the pump's origin
    std::vector<uint8_t> bytes;
};

class ReportPump {
public:
    using Clock = std::chrono::steady_clock;

    // Reads the link's open remote; times count from origin.
    explicit ReportPump(Clock::time_point origin);
    ~ReportPump();
    ReportPump(const ReportPump&) = delete;
    ReportPump& operator=(const ReportPump&) = delete;

    // Ends the reading thread, freeing it from a read it waits in.
    void Stop();

    // The reports that came since *cursor, which moves past them.
    std::vector<Received> Since(size_t& cursor);

    // Waits up to ms for a report with identifier id after *cursor; true
    // with it in got. The cursor moves past what was looked at.
    bool WaitFor(uint8_t id, int32_t ms, size_t& cursor, Received& got);

    double MsSinceOrigin() const;

private:
    void Read();

    Clock::time_point origin_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Received> received_;
    bool running_ = true;
    std::thread reader_;
};
