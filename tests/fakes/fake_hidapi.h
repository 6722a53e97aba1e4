// A hidapi for unit tests of the real tiny_hid library: devices come and go
// on command, reads play queued results, writes are recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Forgets everything; no device is present.
void ResetFakeHidapi();

// Whether hid_open finds a device from now on. Each successful open makes a
// new device, numbered from 1 in the order opened.
void SetFakeDevicePresent(bool present);

// Queues the next result of hid_read_timeout on the newest device: a report,
// or with `fail` set a device error (-1). With nothing queued a read waits
// out its timeout and returns 0.
void QueueFakeRead(std::vector<uint8_t> report, bool fail = false);

// Queues a read that fails because a signal interrupted its wait (EINTR).
void QueueFakeInterruptedRead();

// Calls so far, in order: "open <device or 0>", "read <device>",
// "write <device> <hex bytes>", "close <device>".
std::vector<std::string> FakeHidapiCalls();

// How many calls FakeHidapiCalls() holds that start with `prefix`.
int CountFakeHidapiCalls(const std::string& prefix);
