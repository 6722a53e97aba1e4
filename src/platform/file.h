// File facts the standard library does not give.
#pragma once

#include <cstdint>
#include <cstdio>

// Length in bytes of an open file, from its descriptor; -1 when unknown.
int64_t FileLength(std::FILE* file);
