// The LZSS codec driven over memory: a message fed in pieces gives its stream, a stream
// read in pieces gives the message (the 18 primer bytes are dropped), exactly as a
// session's contexts drive it over frames.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zip/lzss.h"

using Bytes = std::vector<uint8_t>;

// Compresses message in pieces of `piece` bytes (0: one piece).
Bytes LzssEncode(const Bytes &message, size_t piece = 0);

// Decompresses stream, asking for `piece` bytes per call (0: all at once), with the
// code bytes handed over `feed` at a time.  Returns the message without the primer.
Bytes LzssDecode(const Bytes &stream, size_t piece = 0, size_t feed = 0);
