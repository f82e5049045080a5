// TLZC containers, in which the game stores some archives and archive members.
//
// A 29-byte little-endian header, then either one raw deflate stream (the zlib
// kind, read only) or a table of 16-bit block lengths and a row of 64 KiB
// blocks, each an LZMA stream of its own or stored (the LZMA kind, read and
// written). The five bytes at offset 24 alone decide the kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kTlzcHeaderSize = 29;
// The zlib kind's header ends here and its deflate stream begins.
inline constexpr size_t kTlzcZlibPayloadOffset = 24;
inline constexpr size_t kTlzcPropertiesOffset = 24;
inline constexpr uint32_t TlzcBlockSize = 65536;
inline constexpr uint32_t kTlzcFormatWord = 0x401;
// lc 3, lp 0, pb 2 and a 64 KiB dictionary: the mark of the LZMA kind.
inline constexpr uint8_t kTlzcLzmaProperties[5] = {0x5D, 0x00, 0x00, 0x01, 0x00};

struct TlzcHeader {
  uint32_t formatWord = 0;        // 0x401 as written; never read
  uint32_t containerSize = 0;     // the whole container, header included
  uint32_t uncompressedSize = 0;  // the size of the decompressed data
  bool lzmaKind = false;          // the bytes at offset 24 are 5D 00 00 01 00
};

// Parses the header fields. False when the container is too short to hold
// them (fewer than 24 bytes; the kind needs all 29, else it is the zlib kind).
bool ParseTlzcHeader(ByteSpan container, TlzcHeader& header);

// The number of blocks of the LZMA kind for this uncompressed size: one per
// 64 KiB begun, and at least one.
size_t TlzcBlockCount(uint64_t uncompressedSize);

// How a decompression ended.
enum class TlzcStreamResult {
  kComplete,    // exactly the uncompressed size, nothing in the container cut
                // off, every LZMA block exactly its nominal size, and a
                // deflate stream that reached its end
  kIncomplete,  // the container is damaged: what was produced was given
  kStopped,     // the consumer returned false (streaming only)
  kReadFailed,  // the reader returned false (streaming only)
};

// The verdict of a decompression, for the tool that reports it. The codec
// never prints: a damaged container comes back as this value.
struct TlzcDecodeResult {
  TlzcStreamResult status = TlzcStreamResult::kIncomplete;
  // LZMA blocks whose stream ended before the block's nominal size, in the
  // blocks given before the decompression ended. Such a block does not stop
  // it: every later block follows directly after what it produced.
  size_t streamsEndedEarly = 0;
  bool ok() const { return status == TlzcStreamResult::kComplete; }
  bool operator==(const TlzcDecodeResult&) const = default;
};

// Decompresses a container of either kind into `out`, which holds what was
// produced in every case. Reads only inside `container`, whatever its header
// claims. The verdict is kComplete or kIncomplete (see TlzcStreamResult),
// with the count of LZMA blocks whose stream ended early. A container whose
// uncompressed size is 0 gives nothing and is complete. The LZMA blocks are
// decoded on `threads` threads (0: all hardware threads); neither the result
// nor the verdict depends on it.
TlzcDecodeResult DecompressTlzc(ByteSpan container, Bytes& out, unsigned threads = 0);

// Compresses data into a container of the LZMA kind: 64 KiB blocks, each
// encoded alone with the default LzmaBlockSettings and stored instead when its
// stream would be longer than 65535 bytes. The blocks are encoded on `threads`
// threads (0: all hardware threads); the container is byte for byte the same
// for every thread count. Returns an empty buffer when the data or the
// container would not fit the header's 32-bit sizes.
Bytes CompressTlzc(ByteSpan data, unsigned threads = 0);

// The container for `data` that changes least of `source`, the container the
// data came from: `source` itself when it decompresses completely to exactly
// `data`; otherwise a container of the LZMA kind as CompressTlzc writes it,
// except that every block whose bytes and length are those of the source's
// block at the same place keeps the source's block as it stands (so an edit
// costs the compression of the blocks it touches). A source that does not
// decompress completely contributes nothing.
Bytes RecompressTlzc(ByteSpan source, ByteSpan data, unsigned threads = 0);
// The same, when the caller has already decompressed `source` completely
// into `decodedSource`.
Bytes RecompressTlzc(ByteSpan source, ByteSpan decodedSource, ByteSpan data, unsigned threads = 0);

// ---- Streaming: a container of any size in bounded memory.
//
// The streaming coders read their input and give their output through
// callbacks, never more than a window of blocks at a time (a few MiB,
// whatever the container's size). A reader is only ever called by one
// thread at a time, but not always by the same one.

// Reads `count` bytes at `offset` into `out`; false when it cannot.
using TlzcReader = std::function<bool(uint64_t offset, size_t count, uint8_t* out)>;
// Takes the next piece of the output, in order; false stops the coder.
using TlzcConsumer = std::function<bool(ByteSpan piece)>;

// DecompressTlzc for a container of `containerLength` bytes read through
// `read`, its output given to `consume` as it comes: the same bytes and the
// same verdict, or kStopped or kReadFailed when the consumer or the reader
// ended it (streamsEndedEarly then counts the blocks given until then).
TlzcDecodeResult DecompressTlzcStream(const TlzcReader& read, uint64_t containerLength, const TlzcConsumer& consume,
                                      unsigned threads = 0);

// A block of a source container that a new container takes over as it
// stands: where it lies in the source, and its table entry (0 stored,
// otherwise the stream's length).
struct TlzcKeptBlock {
  bool kept = false;
  uint16_t entry = 0;
  uint64_t offset = 0;
  uint32_t length = 0;
};

// The blocks of a container of the LZMA kind that decompresses completely,
// as RecompressTlzc may keep them; empty for any other container. Block i
// holds the decompressed bytes [i * 65536, i * 65536 + 65536).
std::vector<TlzcKeptBlock> TlzcSourceBlocks(const TlzcReader& read, uint64_t containerLength);

// Where a streaming compressor writes: `write` appends, `patch` overwrites
// bytes already written at a position counted from the container's start.
struct TlzcWriter {
  std::function<bool(ByteSpan bytes)> write;
  std::function<bool(uint64_t position, ByteSpan bytes)> patch;
};

enum class TlzcWriteResult { kWritten, kTooLarge, kReadFailed, kWriteFailed };

// CompressTlzc for `dataSize` bytes read through `readData`, written through
// `writer` (the table and header are patched in at the end): the same
// container, byte for byte. Block i is taken from the source instead when
// keep[i].kept; its bytes are read through `readSource`.
TlzcWriteResult CompressTlzcStream(uint64_t dataSize, const TlzcReader& readData, const TlzcWriter& writer,
                                   const std::vector<TlzcKeptBlock>& keep = {}, const TlzcReader& readSource = {},
                                   unsigned threads = 0);

// Inflates a raw deflate stream (no header, no checksum, 32 KiB window) and
// returns what it produced: everything up to the stream's end, an error, or
// the end of the input, but never more than `limit` bytes. Bytes after the
// stream's end are ignored. `streamEnded`, when given, tells whether the
// stream's final block was reached.
Bytes InflateRawToBuffer(ByteSpan stream, size_t limit = SIZE_MAX, bool* streamEnded = nullptr);

}  // namespace fpskit
