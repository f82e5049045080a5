// Builders of TLZC containers and of the data that goes into them: zlib-kind
// containers around zlib's own raw deflate, LZMA-kind containers with chosen
// table entries and block bytes, and deterministic inputs like the game's.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/lzma_block.h"
#include "compress/tlzc.h"
#include "support/builders.h"
#include "util/bytes.h"

namespace fpskit::support {

// zlib's raw deflate (no header, no checksum) of the data. Without `finish`
// the stream holds every byte of the data but stops before its final block.
Bytes RawDeflate(ByteSpan data, int level = 6, bool finish = true);

// A zlib-kind container of the data: "TLZC", the format word, the container
// size, the data's length, two reserved zeros, then its raw deflate stream.
Bytes TlzcZlibContainer(ByteSpan data, uint32_t formatWord = kTlzcFormatWord);

// One block of an LZMA-kind container as it stands in the table and the data.
struct TlzcTableBlock {
  uint16_t entry;  // 0 stored, otherwise the stream length
  Bytes bytes;
};

// The bare stream of the data encoded alone (entry = its length).
TlzcTableBlock CompressedTlzcBlock(ByteSpan data, const LzmaBlockSettings& settings = {});
// The data stored unchanged (entry 0).
TlzcTableBlock StoredTlzcBlock(ByteSpan data);

// An LZMA-kind container: the header with this uncompressed size and the real
// container length, one table entry per block, the blocks back to back.
Bytes TlzcLzmaContainer(uint32_t uncompressedSize, const std::vector<TlzcTableBlock>& blocks,
                        uint32_t formatWord = kTlzcFormatWord);

// A block in the 13-byte stand-alone form: the container's 5 property bytes,
// the size as a 64-bit little-endian number, the stream.
Bytes StandaloneLzmaBlock(ByteSpan stream, uint64_t size);

// Data of the kinds an archive holds, in runs of a few KiB: text (words,
// punctuation, CR LF, double-byte characters), binary records (counters,
// small numbers, offsets, repeated fields) and incompressible stretches like
// already compressed textures.
Bytes MixedGameData(size_t size, uint32_t seed);

}  // namespace fpskit::support
