// A tiny_hid for unit tests of the remote link: reads deliver queued reports
// (each exactly as long as queued), writes are recorded with their thread.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct FakeHidCall {
    std::string text;  // "read", "read none" or "write <hex bytes sent>"
    std::thread::id thread;
};

// Forgets every queued report and recorded call.
void ResetFakeHid();

// Queues a report for a later read; an empty one stands for a read that
// delivers nothing (returns 0, as a cancelled read does).
void QueueFakeReport(std::vector<uint8_t> bytes);

// Calls in the order they were made.
std::vector<FakeHidCall> FakeHidCalls();

// Just the texts of FakeHidCalls().
std::vector<std::string> FakeHidCallTexts();
