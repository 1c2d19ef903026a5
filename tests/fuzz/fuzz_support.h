// Shared pieces of the libFuzzer targets: the input cut into texts, the
// check that nothing was left behind, and the process set up for sessions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrinfuzz {

// The input as count texts separated by NUL bytes; missing ones are empty and
// the last takes the rest (NULs included, for callers that want bytes).
std::vector<std::string> Split(const uint8_t* data, size_t size, size_t count);

// Aborts, so the fuzzer keeps the input, when the library left an installer,
// registry, service or file handle open, or did not free a block it allocated
// after libraryBlocks were live.
void CheckReleased(size_t libraryBlocks);

// For targets that open a session per input: standard output (every action
// traces there) to /dev/null, and the open-file limit raised to its maximum,
// as libmsi keeps a descriptor for every package session it opened.
void PrepareSessions();

}  // namespace vrinfuzz
