// File facts the standard library does not give.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens a regular file for binary reading, like fopen(name, "rb"), or returns
// nullptr. Anything else under that name (a directory, a named pipe, a
// device) counts as no file at all, and opening never waits: a pipe with no
// writer would otherwise hold the caller until one comes.
std::FILE* OpenRegularFile(const char* name);

// Length in bytes of an open file, from its descriptor; -1 when unknown.
int64_t FileLength(std::FILE* file);
