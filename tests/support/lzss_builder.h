// Hand-made LZSS token data and streams, for decoder tests that must not
// depend on the encoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/builders.h"
#include "util/bytes.h"

namespace fpskit::support {

// Writes tokens in groups of eight behind a flag byte (bit 0 first,
// 1 = literal), as the streams store them.
class LzssTokenWriter {
 public:
  LzssTokenWriter& Literal(uint8_t value);
  LzssTokenWriter& Literals(ByteSpan values);
  // A match of `length` (3 to 18) bytes from absolute ring position
  // `position` (0 to 4095).
  LzssTokenWriter& Match(uint32_t position, uint32_t length);
  // A type 3 run: the two-byte form for 4 to 18 bytes, the three-byte form
  // for 19 to 274.
  LzssTokenWriter& Run(uint8_t value, uint32_t length);

  const Bytes& data() const { return data_; }

 private:
  void BeginToken(bool literal);

  Bytes data_;
  size_t flagIndex_ = 0;
  int tokensInGroup_ = 8;
};

// A whole stream: the short header (or the long "SLZ" one) and the token data.
// The compressed size is the token data's length.
Bytes LzssStream(uint8_t type, ByteSpan tokenData, uint32_t uncompressedSize, bool longForm = false);

// Deterministic data shaped like a decompressed script member, `size` bytes:
// areas of big-endian code words (command sequences that recur with other
// arguments and rising string offsets) alternating with string areas of
// NUL-terminated lines, some recurring whole, built from a small vocabulary
// of ASCII and double-byte words.
Bytes ScriptLikeBytes(size_t size, uint32_t seed);

}  // namespace fpskit::support
