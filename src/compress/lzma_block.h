// LZMA blocks as TLZC containers hold them: every block is a bare LZMA stream
// (no properties, no size, no end marker) that starts from a fresh coder state
// and an empty dictionary, so that each block can be coded on its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "util/bytes.h"

namespace fpskit {

// The encoder settings of a block, one number each, under the names of the
// LZMA encoder properties (alphabetical order). The defaults are the settings
// that TLZC containers are written with.
struct LzmaBlockSettings {
  uint32_t algo = 1;            // 1 normal mode, 0 fast mode
  uint32_t btMode = 1;          // 1 binary-tree match finder, 0 hash chain
  uint32_t dictSize = 65536;    // dictionary size, equal to the block size
  uint32_t fb = 32;             // fast bytes: the match length taken at once
  uint32_t lc = 3;              // literal context bits
  uint32_t level = 5;           // the preset that the other settings refine
  uint32_t lp = 0;              // literal position bits
  uint32_t mc = 32;             // match finder cycles (search depth)
  uint32_t numHashBytes = 4;    // hash bytes of the match finder (2 to 4)
  uint32_t numThreads = 2;      // match-finder threads inside one block: the
                                // blocks of a container run in parallel instead,
                                // so one block is always coded on one thread
  uint32_t pb = 2;              // position bits
  uint32_t writeEndMark = 0;    // 1 ends the stream with an end marker
};

inline constexpr size_t kLzmaPropertiesSize = 5;
// The stand-alone block form: 5 property bytes, the uncompressed size as a
// 64-bit little-endian number, then the stream.
inline constexpr size_t kLzmaHeaderSize = 13;

using LzmaProperties = std::array<uint8_t, kLzmaPropertiesSize>;

// The 5 property bytes of these settings: (pb * 5 + lp) * 9 + lc, then the
// dictionary size little-endian. The defaults give 5D 00 00 01 00.
LzmaProperties LzmaPropertiesOf(const LzmaBlockSettings& settings);

// Encodes one block on its own: the 13-byte header followed by the stream.
// Empty when the encoder fails.
Bytes EncodeLzmaBlock(ByteSpan block, const LzmaBlockSettings& settings = {});

// The coder state of one worker, kept from block to block so that its memory
// is reused; every block still starts from a fresh state.
struct LzmaCoderState;
struct LzmaCoderRelease {
  void operator()(LzmaCoderState* coder) const;
};
using LzmaCoder = std::unique_ptr<LzmaCoderState, LzmaCoderRelease>;
LzmaCoder NewLzmaCoder();

enum class LzmaStreamEnd {
  kComplete,     // the size was reached (or the encoder finished)
  kInputEnded,   // the stream ran out before the size was reached
  kCorrupt,      // the decoder found an error (or the encoder failed)
  kTooLong,      // the encoded stream would pass the caller's limit
};

// Decodes one block in the 13-byte header form into `out` (replacing its
// contents; the low 32 bits of the header's size at most) and tells how its
// stream ended: kInputEnded when it ends before the size is reached,
// kCorrupt where the decoder notices an error or when the block is shorter
// than its header. Bytes after what the stream needs are ignored.
LzmaStreamEnd DecodeLzmaBlock(ByteSpan block, Bytes& out);

// Encodes `block` as a bare stream into `stream` (replacing its contents).
// Stops with kTooLong as soon as the stream would be longer than `limit`.
LzmaStreamEnd EncodeLzmaStream(LzmaCoder& coder, ByteSpan block, const LzmaBlockSettings& settings,
                               size_t limit, Bytes& stream);

// Decodes a bare stream with these properties into `out` (replacing its
// contents) until `size` bytes are produced; `out` grows with the output, so a
// size claimed by a header costs memory only as far as the stream delivers.
LzmaStreamEnd DecodeLzmaStream(LzmaCoder& coder, const LzmaProperties& properties, uint64_t size,
                               ByteSpan stream, Bytes& out);

}  // namespace fpskit
