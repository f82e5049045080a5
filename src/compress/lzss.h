// The LZSS codec of the script container members.
//
// A stream is a little-endian header (12 bytes behind the magic "SLZ", or a
// short 9-byte form) followed by token data: groups of a flag byte and up to
// eight tokens. A token is a literal byte or a reference to a 12-bit absolute
// position in a 4096-byte ring that starts pre-filled with a fixed pattern.
// Type 3 streams limit matches to 17 bytes and add run tokens; every other
// type is plain LZSS with matches of up to 18 bytes.
//
// The encoder's output is fixed byte for byte by its algorithm: binary
// search trees over the ring with their tie and replacement rules, and the
// shortening of matches at the end of the input. The search here is a fast
// form of it that makes exactly the same choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "util/bytes.h"

namespace fpskit {

constexpr size_t kLzssRingSize = 4096;
constexpr size_t kLzssShortHeaderSize = 9;
constexpr size_t kLzssLongHeaderSize = 12;

struct LzssHeader {
  uint8_t type = 1;
  uint32_t compressedSize = 0;    // length of the token data after the header
  uint32_t uncompressedSize = 0;
  size_t headerSize = kLzssShortHeaderSize;
};

// The longest match of a stream type (F): 17 for type 3, 18 for any other.
// Writing into the ring starts at position 4096 - F.
constexpr int LzssLongestMatch(int type) { return type == 3 ? 17 : 18; }

// Fills a 4096-byte ring with the pattern both directions start from:
// pairs c 00 (0-2047), groups c FF c FF c FF c (2048-3839), zeros (3840-4095).
void FillLzssRing(uint8_t* ring);

// Parses the long ("SLZ") or short header. False when the stream is shorter
// than the header it starts with.
bool ParseLzssHeader(ByteSpan stream, LzssHeader& header);

// Writes the short 9-byte header: type, compressed size, uncompressed size.
void StoreLzssShortHeader(uint8_t* out, uint8_t type, uint32_t compressedSize,
                          uint32_t uncompressedSize);

// Decodes a whole stream, header included. Returns true when the stream is
// complete: its token data lie inside `stream`, no token is cut off, and the
// tokens produce exactly the header's uncompressed size. Otherwise `out`
// holds every byte that could be produced within those bounds (nothing is
// read past `stream` nor produced past the uncompressed size) and the result
// is false; the caller reports it.
bool LzssDecode(ByteSpan stream, Bytes& out);

// The largest token data that encoding `length` bytes can give: one literal
// per byte and a flag byte per eight tokens.
constexpr size_t LzssMaxEncodedSize(size_t length) { return length + (length + 7) / 8; }

// Encodes `input` into token data (no header) for stream type `type`
// (the containers use 1; type 3 gives matches of at most 17 bytes and no
// runs, which type 3 decoders read correctly). Writes at most
// `output.size()` bytes: when the token data would be longer, the output is
// cut there, the rest of the input is abandoned and output.size() is
// returned. A capacity of LzssMaxEncodedSize(input.size()) is never cut.
// Returns the count of bytes written; empty input writes nothing.
size_t LzssEncode(ByteSpan input, int type, std::span<uint8_t> output);

// A complete type 1 stream for `input`: the short header, then the token
// data. False (and `stream` empty) when the input is too long for the
// header's 32-bit sizes.
bool LzssEncodeStream(ByteSpan input, Bytes& stream);

}  // namespace fpskit
