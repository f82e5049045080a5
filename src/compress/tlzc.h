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

// Reads the header fields. False when the container is too short to hold them
// (fewer than 24 bytes; the kind needs all 29, else it is the zlib kind).
bool ReadTlzcHeader(ByteSpan container, TlzcHeader& header);

// The number of blocks of the LZMA kind for this uncompressed size: one per
// 64 KiB begun, and at least one.
size_t TlzcBlockCount(uint64_t uncompressedSize);

// Decompresses a container of either kind into `out`, which holds what was
// produced in every case. Reads only inside `container`, whatever its header
// claims. Returns true when the result is complete: exactly the uncompressed
// size, nothing in the container cut off, every LZMA block exactly its
// nominal size, and a deflate stream that reached its end. Otherwise prints
// "\nDECOMPRESS FAILED\n" (after "\nSome error, check the code\n" for each
// LZMA block whose stream ended early) and returns false. A container whose
// uncompressed size is 0 gives nothing and succeeds. The LZMA blocks are
// decoded on `threads` threads (0: all hardware threads); the result does not
// depend on it.
bool DecompressTlzc(ByteSpan container, Bytes& out, unsigned threads = 0);

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
// decompress completely contributes nothing; it prints no message.
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

enum class TlzcStreamResult {
  kComplete,    // as DecompressTlzc's true
  kIncomplete,  // as DecompressTlzc's false: what was produced was given
  kStopped,     // the consumer returned false
  kReadFailed,  // the reader returned false
};

// The messages of a decompression, kept to be printed later (after the
// output they concern has been written, say).
struct TlzcMessages {
  size_t streamsEndedEarly = 0;  // "\nSome error, check the code\n" each
  bool failed = false;           // "\nDECOMPRESS FAILED\n"
  void Print() const;
};

// DecompressTlzc for a container of `containerLength` bytes read through
// `read`, its output given to `consume` as it comes: the same bytes, the
// same verdict, and the same messages, printed as they come or kept in
// `deferred` when it is given.
TlzcStreamResult DecompressTlzcStream(const TlzcReader& read, uint64_t containerLength, const TlzcConsumer& consume,
                                      unsigned threads = 0, TlzcMessages* deferred = nullptr);

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
