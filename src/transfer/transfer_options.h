// How large a transfer may grow, and what it writes into: the caps and the
// bounded file every transfer of the updater and of the release tools uses.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "core/transfer_timeouts.h"

typedef void CURL;  // libcurl's own definition of the easy handle

// Size caps. A manifest is a few hundred bytes; a list of the most entries
// the updater reads stays well below 8 MiB.
constexpr unsigned long long manifestByteLimit = 1ull << 20;
constexpr unsigned long long serverListByteLimit = 8ull << 20;
constexpr unsigned long long packageByteLimit = 4ull << 30;

// What a transfer writes to: a file that refuses to grow beyond `limit`, for
// bodies that announce no length (chunked) or announce less than they send.
struct BoundedFile {
    std::FILE* file = nullptr;  // not owned
    unsigned long long limit = 0;
    unsigned long long written = 0;
    bool limitPassed = false;  // the body went beyond `limit`
    // Asked once, before the body's first byte is stored; false ends the
    // transfer with a write error. The file and the limit may change in it.
    bool (*beforeBody)(void* owner) = nullptr;
    void* owner = nullptr;
    bool bodyStarted = false;
};

// Makes `handle` write its body into `target`, which must outlive the transfer.
void writeInto(CURL* handle, BoundedFile& target);

// libcurl's text for a transfer that ended with `result`: the error buffer
// when it says something, else the code's own text; a body cut at its limit
// is reported as the size limit it passed, as an announced length would be.
std::string transferErrorText(int result, const char* errorBuffer, const BoundedFile& target);

// The free bytes on the volume that holds `directory`, or `fallback` when they
// cannot be read.
unsigned long long freeBytesOr(const std::string& directory, unsigned long long fallback);
