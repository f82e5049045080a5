#include "compress/tlzc.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "compress/lzma_block.h"
#include "util/parallel.h"

namespace fpskit {
namespace {

constexpr char kMagic[] = "TLZC";
// A block whose stream would be longer than this is stored instead.
constexpr size_t kLongestBlockStream = 65535;
// Blocks that each worker may run ahead of the oldest block not yet placed:
// enough that a slow block rarely holds the workers up, few enough that the
// results waiting to be placed (64 KiB per block at most) stay small.
constexpr size_t kSlotsPerWorker = 16;
// The result is reserved up to this many times the container's length at
// first; beyond that it grows with the output, so that an absurd size in a
// header costs nothing until the blocks really deliver it.
constexpr size_t kReserveRatio = 64;

LzmaProperties ContainerProperties() {
  LzmaProperties properties;
  std::copy(std::begin(kTlzcLzmaProperties), std::end(kTlzcLzmaProperties), properties.begin());
  return properties;
}

// Input of the zlib kind is read, and its output given, in pieces this large.
constexpr size_t kInflatePiece = 256 * 1024;

// ---- zlib kind

TlzcStreamResult DecompressZlibKind(const TlzcReader& read, uint64_t containerLength, const TlzcHeader& header,
                                    const TlzcConsumer& consume) {
  const uint64_t end = std::min<uint64_t>(header.containerSize, containerLength);
  const uint64_t payloadEnd = std::max<uint64_t>(end, kTlzcZlibPayloadOffset);
  z_stream inflater{};
  if (inflateInit2(&inflater, -MAX_WBITS) != Z_OK) return TlzcStreamResult::kIncomplete;
  struct InflaterEnd {
    z_stream& stream;
    ~InflaterEnd() { inflateEnd(&stream); }
  } inflaterEnd{inflater};
  Bytes input(kInflatePiece);
  Bytes output(kInflatePiece);
  uint64_t fed = kTlzcZlibPayloadOffset;
  // One byte more than the size tells a stream that inflates to too much.
  const uint64_t limit = uint64_t(header.uncompressedSize) + 1;
  uint64_t produced = 0;
  bool ended = false;
  while (produced < limit) {
    if (inflater.avail_in == 0 && fed < payloadEnd) {
      const size_t piece = size_t(std::min<uint64_t>(payloadEnd - fed, input.size()));
      if (!read(fed, piece, input.data())) return TlzcStreamResult::kReadFailed;
      inflater.next_in = input.data();
      inflater.avail_in = uInt(piece);
      fed += piece;
    }
    inflater.next_out = output.data();
    inflater.avail_out = uInt(std::min<uint64_t>(output.size(), limit - produced));
    const int ret = inflate(&inflater, Z_NO_FLUSH);
    const size_t got = size_t(inflater.next_out - output.data());
    // Only what fits the size is given.
    const uint64_t room = header.uncompressedSize - std::min<uint64_t>(produced, header.uncompressedSize);
    const size_t given = size_t(std::min<uint64_t>(got, room));
    produced += got;
    if (given > 0 && !consume(ByteSpan(output.data(), given))) return TlzcStreamResult::kStopped;
    // Z_BUF_ERROR: no progress possible, the input has ended.
    if (ret != Z_OK) {
      ended = ret == Z_STREAM_END;
      break;
    }
  }
  // A stream cut off just before its end still gives every byte; without its
  // final block it is not complete.
  const bool complete = ended && produced == header.uncompressedSize && header.containerSize <= containerLength;
  return complete ? TlzcStreamResult::kComplete : TlzcStreamResult::kIncomplete;
}

// ---- LZMA kind

struct LzmaKindBlock {
  uint64_t offset;         // in the container
  size_t length;           // of the stream, or the stored bytes, as far as the container holds them
  uint32_t nominalSize;    // 65536, or the rest of the uncompressed size for the last block
  bool stored;
};

// Finds every block in the container from its table (read here). Stops
// after the first block that the container's end cuts off (every later one
// would start past the end) and sets `cutOff`, as it does when the table
// itself or the container size of the header lies beyond the bytes there are.
bool LayOutBlocks(const TlzcReader& read, uint64_t containerLength, const TlzcHeader& header, bool& cutOff,
                  std::vector<LzmaKindBlock>& blocks) {
  blocks.clear();
  const size_t count = TlzcBlockCount(header.uncompressedSize);
  if (!InRange(containerLength, kTlzcHeaderSize, 2 * uint64_t(count))) {
    cutOff = true;
    return true;
  }
  Bytes table(2 * count);
  if (!read(kTlzcHeaderSize, table.size(), table.data())) return false;
  ByteReader entries(table);
  if (header.containerSize > containerLength) cutOff = true;
  const uint64_t storedLastEnd = std::min<uint64_t>(header.containerSize, containerLength);
  blocks.reserve(count);
  uint64_t position = kTlzcHeaderSize + 2 * uint64_t(count);
  for (size_t i = 0; i < count; ++i) {
    const uint16_t entry = entries.U16LE();
    const bool last = i + 1 == count;
    uint64_t length = entry;
    if (entry == 0) {
      // A stored last block runs to the container's end, however long.
      length = last ? (storedLastEnd > position ? storedLastEnd - position : 0) : TlzcBlockSize;
    }
    const uint64_t available = std::min<uint64_t>(length, containerLength - position);
    const uint32_t nominal = last ? header.uncompressedSize - uint32_t(i) * TlzcBlockSize : TlzcBlockSize;
    blocks.push_back({position, size_t(available), nominal, entry == 0});
    position += available;
    if (available < length) {
      cutOff = true;
      break;
    }
  }
  return true;
}

// Decodes the compressed blocks in parallel and gives every block's output
// directly after what the blocks before it actually produced: a block that
// comes out short moves every later block forward. Counts the blocks given
// whose stream ended early in `streamsEndedEarly`.
TlzcStreamResult DecompressLzmaKind(const TlzcReader& read, uint64_t containerLength, const TlzcHeader& header,
                                    const TlzcConsumer& consume, unsigned threads, size_t& streamsEndedEarly) {
  bool cutOff = false;
  std::vector<LzmaKindBlock> blocks;
  if (!LayOutBlocks(read, containerLength, header, cutOff, blocks)) return TlzcStreamResult::kReadFailed;
  const uint32_t size = header.uncompressedSize;

  const unsigned workers = WorkerCount(threads, blocks.size());
  const size_t slotCount = workers * kSlotsPerWorker;
  std::vector<LzmaCoder> coders(workers);
  std::vector<Bytes> inputs(slotCount);
  std::vector<Bytes> decoded(slotCount);
  std::vector<LzmaStreamEnd> ends(slotCount);
  const LzmaProperties properties = ContainerProperties();
  std::mutex readLock;
  std::atomic<bool> halted{false};
  bool readFailed = false;  // set under readLock
  bool stopped = false;     // set by deliveries, one at a time
  uint64_t produced = 0;
  bool tooLong = false;
  // A compressed block that comes out short shifts every later block; a
  // longer stored last block could make the total come out right.
  bool shortBlock = false;

  auto decode = [&](unsigned worker, size_t i) {
    if (halted) return;
    const LzmaKindBlock& block = blocks[i];
    Bytes& input = inputs[i % slotCount];
    input.resize(block.length);
    {
      std::lock_guard<std::mutex> guard(readLock);
      if (readFailed || (block.length > 0 && !read(block.offset, block.length, input.data()))) {
        readFailed = true;
        halted = true;
        return;
      }
    }
    if (block.stored) return;
    if (!coders[worker]) coders[worker] = NewLzmaCoder();
    ends[i % slotCount] = DecodeLzmaStream(coders[worker], properties, block.nominalSize, input,
                                           decoded[i % slotCount]);
  };
  auto place = [&](size_t i) {
    if (halted) return;
    const LzmaKindBlock& block = blocks[i];
    ByteSpan bytes = inputs[i % slotCount];
    if (!block.stored) {
      bytes = decoded[i % slotCount];
      if (ends[i % slotCount] == LzmaStreamEnd::kInputEnded) ++streamsEndedEarly;
      if (ends[i % slotCount] != LzmaStreamEnd::kComplete) shortBlock = true;
    }
    // Only a stored last block can bring more than the size has room for.
    const uint64_t room = size - produced;
    if (bytes.size() > room) {
      tooLong = true;
      bytes = bytes.first(size_t(room));
    }
    produced += bytes.size();
    if (!bytes.empty() && !consume(bytes)) {
      stopped = true;
      halted = true;
    }
  };
  ProcessBlocksInOrder(blocks.size(), workers, slotCount, decode, place);
  if (readFailed) return TlzcStreamResult::kReadFailed;
  if (stopped) return TlzcStreamResult::kStopped;
  const bool complete = !cutOff && !tooLong && !shortBlock && produced == size;
  return complete ? TlzcStreamResult::kComplete : TlzcStreamResult::kIncomplete;
}

TlzcReader MemoryReader(ByteSpan bytes) {
  return [bytes](uint64_t offset, size_t count, uint8_t* out) {
    if (!InRange(bytes.size(), offset, count)) return false;
    if (count > 0) std::memcpy(out, bytes.data() + offset, count);
    return true;
  };
}

}  // namespace

bool ParseTlzcHeader(ByteSpan container, TlzcHeader& header) {
  ByteReader reader(container);
  reader.Skip(4);  // the magic: tested by the callers
  header.formatWord = reader.U32LE();
  header.containerSize = reader.U32LE();
  header.uncompressedSize = reader.U32LE();
  reader.Skip(8);
  if (!reader.ok()) return false;
  ByteReader kind(container, kTlzcPropertiesOffset);
  const ByteSpan properties = kind.Span(sizeof kTlzcLzmaProperties);
  header.lzmaKind = kind.ok() && std::equal(properties.begin(), properties.end(), std::begin(kTlzcLzmaProperties));
  return true;
}

size_t TlzcBlockCount(uint64_t uncompressedSize) {
  return size_t(std::max<uint64_t>(1, (uncompressedSize + TlzcBlockSize - 1) / TlzcBlockSize));
}

TlzcDecodeResult DecompressTlzcStream(const TlzcReader& read, uint64_t containerLength, const TlzcConsumer& consume,
                                      unsigned threads) {
  TlzcDecodeResult result;
  uint8_t head[kTlzcHeaderSize];
  const size_t headLength = size_t(std::min<uint64_t>(containerLength, kTlzcHeaderSize));
  if (!read(0, headLength, head)) {
    result.status = TlzcStreamResult::kReadFailed;
    return result;
  }
  TlzcHeader header;
  if (!ParseTlzcHeader(ByteSpan(head, headLength), header)) {
    result.status = TlzcStreamResult::kIncomplete;  // the header itself is cut off
  } else if (header.uncompressedSize == 0) {
    // An empty result needs no payload (the nominal last block of 65536
    // bytes would otherwise count as missing).
    result.status = TlzcStreamResult::kComplete;
  } else if (header.lzmaKind) {
    result.status = DecompressLzmaKind(read, containerLength, header, consume, threads, result.streamsEndedEarly);
  } else {
    result.status = DecompressZlibKind(read, containerLength, header, consume);
  }
  return result;
}

TlzcDecodeResult DecompressTlzc(ByteSpan container, Bytes& out, unsigned threads) {
  out.clear();
  TlzcHeader header;
  if (ParseTlzcHeader(container, header) && header.lzmaKind) {
    // Reserved up to a multiple of the container at first; beyond that the
    // result grows with the output, so that an absurd size in a header costs
    // nothing until the blocks really deliver it.
    out.reserve(std::min<uint64_t>(header.uncompressedSize, uint64_t(container.size()) * kReserveRatio));
  }
  return DecompressTlzcStream(
      MemoryReader(container), container.size(),
      [&](ByteSpan piece) {
        AppendBytes(out, piece);
        return true;
      },
      threads);
}

std::vector<TlzcKeptBlock> TlzcSourceBlocks(const TlzcReader& read, uint64_t containerLength) {
  std::vector<TlzcKeptBlock> kept;
  uint8_t head[kTlzcHeaderSize];
  TlzcHeader header;
  if (containerLength < kTlzcHeaderSize || !read(0, kTlzcHeaderSize, head) ||
      !ParseTlzcHeader(ByteSpan(head, kTlzcHeaderSize), header) || !header.lzmaKind) {
    return kept;
  }
  bool cutOff = false;
  std::vector<LzmaKindBlock> blocks;
  if (!LayOutBlocks(read, containerLength, header, cutOff, blocks) || cutOff) return kept;
  kept.reserve(blocks.size());
  for (const LzmaKindBlock& block : blocks) {
    kept.push_back({false, block.stored ? uint16_t(0) : uint16_t(block.length), block.offset, uint32_t(block.length)});
  }
  return kept;
}

TlzcWriteResult CompressTlzcStream(uint64_t dataSize, const TlzcReader& readData, const TlzcWriter& writer,
                                   const std::vector<TlzcKeptBlock>& keep, const TlzcReader& readSource,
                                   unsigned threads) {
  if (dataSize > UINT32_MAX) return TlzcWriteResult::kTooLarge;
  const size_t count = TlzcBlockCount(dataSize);
  // The header and the table are written as zeros first and patched in once
  // every block's entry is known.
  Bytes head(kTlzcHeaderSize + 2 * count);
  if (!writer.write(head)) return TlzcWriteResult::kWriteFailed;

  const unsigned workers = WorkerCount(threads, count);
  const size_t slotCount = workers * kSlotsPerWorker;
  std::vector<LzmaCoder> coders(workers);
  std::vector<Bytes> inputs(slotCount);
  std::vector<Bytes> streams(slotCount);
  std::vector<LzmaStreamEnd> ends(slotCount);
  const LzmaBlockSettings settings;
  std::mutex readLock;
  std::atomic<bool> halted{false};
  TlzcWriteResult failure = TlzcWriteResult::kWritten;  // set under readLock, or by deliveries
  uint64_t written = head.size();

  auto isKept = [&](size_t i) { return i < keep.size() && keep[i].kept; };
  auto encode = [&](unsigned worker, size_t i) {
    if (halted) return;
    Bytes& input = inputs[i % slotCount];
    const bool kept = isKept(i);
    const uint64_t start = uint64_t(i) * TlzcBlockSize;
    const uint64_t offset = kept ? keep[i].offset : start;
    input.resize(kept ? keep[i].length : size_t(std::min<uint64_t>(TlzcBlockSize, dataSize - start)));
    {
      std::lock_guard<std::mutex> guard(readLock);
      if (halted) return;
      if (!input.empty() && !(kept ? readSource : readData)(offset, input.size(), input.data())) {
        failure = TlzcWriteResult::kReadFailed;
        halted = true;
        return;
      }
    }
    if (kept) return;
    if (!coders[worker]) coders[worker] = NewLzmaCoder();
    ends[i % slotCount] = EncodeLzmaStream(coders[worker], input, settings, kLongestBlockStream,
                                           streams[i % slotCount]);
  };
  // Only the stream's length decides: even a last block of a few bytes stays
  // compressed when its stream is longer than the block. A block that the
  // encoder fails on is stored too.
  auto append = [&](size_t i) {
    if (halted) return;
    uint16_t entry = 0;
    ByteSpan bytes = inputs[i % slotCount];
    if (isKept(i)) {
      entry = keep[i].entry;
    } else if (ends[i % slotCount] == LzmaStreamEnd::kComplete) {
      entry = uint16_t(streams[i % slotCount].size());
      bytes = streams[i % slotCount];
    }
    StoreU16LE(head.data() + kTlzcHeaderSize + 2 * i, entry);
    written += bytes.size();
    if (written > UINT32_MAX || !writer.write(bytes)) {
      failure = written > UINT32_MAX ? TlzcWriteResult::kTooLarge : TlzcWriteResult::kWriteFailed;
      halted = true;
    }
  };
  ProcessBlocksInOrder(count, workers, slotCount, encode, append);
  if (failure != TlzcWriteResult::kWritten) return failure;

  uint8_t* header = head.data();
  std::memcpy(header, kMagic, 4);
  StoreU32LE(header + 4, kTlzcFormatWord);
  StoreU32LE(header + 8, uint32_t(written));
  StoreU32LE(header + 12, uint32_t(dataSize));
  StoreU32LE(header + 16, 0);
  StoreU32LE(header + 20, 0);
  std::memcpy(header + kTlzcPropertiesOffset, kTlzcLzmaProperties, sizeof kTlzcLzmaProperties);
  return writer.patch(0, head) ? TlzcWriteResult::kWritten : TlzcWriteResult::kWriteFailed;
}

namespace {

// Compresses data into a container in memory; empty when it would not fit.
Bytes CompressInMemory(ByteSpan data, unsigned threads, const std::vector<TlzcKeptBlock>& keep, ByteSpan source) {
  Bytes container;
  if (data.size() > UINT32_MAX) return container;
  container.reserve(kTlzcHeaderSize + 2 * TlzcBlockCount(data.size()) + data.size() + 64);
  const TlzcWriter writer{[&](ByteSpan bytes) {
                            AppendBytes(container, bytes);
                            return true;
                          },
                          [&](uint64_t position, ByteSpan bytes) {
                            std::copy(bytes.begin(), bytes.end(), container.begin() + ptrdiff_t(position));
                            return true;
                          }};
  if (CompressTlzcStream(data.size(), MemoryReader(data), writer, keep, MemoryReader(source), threads) !=
      TlzcWriteResult::kWritten) {
    return {};
  }
  return container;
}

}  // namespace

Bytes CompressTlzc(ByteSpan data, unsigned threads) { return CompressInMemory(data, threads, {}, {}); }

Bytes RecompressTlzc(ByteSpan source, ByteSpan data, unsigned threads) {
  Bytes decoded;
  if (!DecompressTlzc(source, decoded, threads).ok()) return CompressTlzc(data, threads);
  return RecompressTlzc(source, decoded, data, threads);
}

Bytes RecompressTlzc(ByteSpan source, ByteSpan decodedSource, ByteSpan data, unsigned threads) {
  if (decodedSource.size() == data.size() && std::equal(data.begin(), data.end(), decodedSource.begin())) {
    return Bytes(source.begin(), source.end());
  }
  TlzcHeader header;
  if (!ParseTlzcHeader(source, header) || header.uncompressedSize != decodedSource.size()) {
    return CompressTlzc(data, threads);
  }
  // The source decoded completely, so block i of it is the 64 KiB at i * 65536.
  std::vector<TlzcKeptBlock> kept = TlzcSourceBlocks(MemoryReader(source), source.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    const size_t start = i * TlzcBlockSize;
    const size_t length = start < data.size() ? std::min<size_t>(TlzcBlockSize, data.size() - start) : 0;
    const size_t sourceLength = std::min<size_t>(TlzcBlockSize, decodedSource.size() - start);
    kept[i].kept = start < data.size() && length == sourceLength &&
                   std::equal(data.begin() + ptrdiff_t(start), data.begin() + ptrdiff_t(start + length),
                              decodedSource.begin() + ptrdiff_t(start));
  }
  return CompressInMemory(data, threads, kept, source);
}

Bytes InflateRawToBuffer(ByteSpan stream, size_t limit, bool* streamEnded) {
  Bytes out;
  if (streamEnded != nullptr) *streamEnded = false;
  z_stream inflater{};
  if (inflateInit2(&inflater, -MAX_WBITS) != Z_OK) return out;
  size_t fed = 0;
  size_t produced = 0;
  for (;;) {
    if (inflater.avail_in == 0 && fed < stream.size()) {
      const size_t chunk = std::min<size_t>(stream.size() - fed, UINT_MAX);
      inflater.next_in = const_cast<Bytef*>(stream.data() + fed);
      inflater.avail_in = uInt(chunk);
      fed += chunk;
    }
    if (produced == out.size()) {
      if (out.size() >= limit) break;
      // Grow in steps of 64 KiB at most, so memory follows the output.
      out.resize(std::min(limit, out.size() + size_t(TlzcBlockSize)));
      inflater.next_out = out.data() + produced;
      inflater.avail_out = uInt(out.size() - produced);
    }
    const int ret = inflate(&inflater, Z_NO_FLUSH);
    produced = out.size() - inflater.avail_out;
    // Z_BUF_ERROR: no progress possible, the input has ended.
    if (ret != Z_OK) {
      if (streamEnded != nullptr) *streamEnded = ret == Z_STREAM_END;
      break;
    }
  }
  inflateEnd(&inflater);
  out.resize(produced);
  return out;
}

}  // namespace fpskit
