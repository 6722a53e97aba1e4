// Reading a file whole, the only way the program reads files.
#pragma once

#include <cstdint>

// Reads the regular file `name` whole, at most `capacity` bytes, into dest.
// Returns the bytes read, or -1 when there is no regular readable file under
// that name: a directory, a named pipe, a device, a locked or unreadable file
// all count as missing. Opening never waits: a pipe with no writer would
// otherwise hold the caller until one comes. A read that fails part-way keeps
// what it got.
int64_t ReadWholeFile(const char* name, uint8_t* dest, int64_t capacity);
