// A deliberately direct LZSS encoder, written step by step as the algorithm
// reads: int links, one byte compared at a time, every ring step taken
// modulo 4096, input read one byte at a time. It is slow and obviously
// right; the tests and the benchmark hold the library's fast encoder to
// its exact output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytes.h"

namespace fpskit::support {

// Same contract as LzssEncode: token data for `type` into output[0,
// capacity), cut at the capacity; returns the count written.
size_t LzssEncodeDirect(ByteSpan input, int type, uint8_t* output, size_t capacity);

// The whole token data, never cut.
Bytes LzssEncodeDirect(ByteSpan input, int type = 1);

}  // namespace fpskit::support
