#include "compress/tlzc.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "compress/lzma_block.h"
#include "util/console.h"
#include "util/parallel.h"

namespace fpskit {
namespace {

constexpr char kMagic[] = "TLZC";
constexpr char kDecompressFailed[] = "\nDECOMPRESS FAILED\n";
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

// ---- zlib kind

bool DecompressZlibKind(ByteSpan container, const TlzcHeader& header, Bytes& out) {
  const size_t end = std::min<size_t>(header.containerSize, container.size());
  const ByteSpan payload = end > kTlzcZlibPayloadOffset
                               ? container.subspan(kTlzcZlibPayloadOffset, end - kTlzcZlibPayloadOffset)
                               : ByteSpan();
  // One byte more than the size tells a stream that inflates to too much.
  bool ended = false;
  out = InflateRawToBuffer(payload, size_t(header.uncompressedSize) + 1, &ended);
  const bool tooLong = out.size() > header.uncompressedSize;
  if (tooLong) out.resize(header.uncompressedSize);
  // A stream cut off just before its end still gives every byte; without its
  // final block it is not complete.
  return ended && !tooLong && out.size() == header.uncompressedSize && header.containerSize <= container.size();
}

// ---- LZMA kind

struct LzmaKindBlock {
  ByteSpan data;           // the stream, or the stored bytes, as far as the container holds them
  uint32_t nominalSize;    // 65536, or the rest of the uncompressed size for the last block
  bool stored;
};

// Finds every block in the container from the table. Stops after the first
// block that the container's end cuts off (every later one would start past
// the end) and sets `cutOff`, as it does when the table itself or the
// container size of the header lies beyond the bytes there are.
std::vector<LzmaKindBlock> LayOutBlocks(ByteSpan container, const TlzcHeader& header, bool& cutOff) {
  std::vector<LzmaKindBlock> blocks;
  const size_t count = TlzcBlockCount(header.uncompressedSize);
  if (!InRange(container.size(), kTlzcHeaderSize, 2 * uint64_t(count))) {
    cutOff = true;
    return blocks;
  }
  if (header.containerSize > container.size()) cutOff = true;
  const size_t storedLastEnd = std::min<size_t>(header.containerSize, container.size());
  blocks.reserve(count);
  size_t position = kTlzcHeaderSize + 2 * count;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t entry = LoadU16LE(container.data() + kTlzcHeaderSize + 2 * i);
    const bool last = i + 1 == count;
    size_t length = entry;
    if (entry == 0) {
      // A stored last block runs to the container's end, however long.
      length = last ? (storedLastEnd > position ? storedLastEnd - position : 0) : TlzcBlockSize;
    }
    const size_t available = std::min(length, container.size() - position);
    const uint32_t nominal = last ? header.uncompressedSize - uint32_t(i) * TlzcBlockSize : TlzcBlockSize;
    blocks.push_back({container.subspan(position, available), nominal, entry == 0});
    position += available;
    if (available < length) {
      cutOff = true;
      break;
    }
  }
  return blocks;
}

// Decodes the compressed blocks in parallel and puts every block's output
// directly after what the blocks before it actually produced: a block that
// comes out short moves every later block forward.
bool DecompressLzmaKind(ByteSpan container, const TlzcHeader& header, Bytes& out, unsigned threads, bool report) {
  bool cutOff = false;
  const std::vector<LzmaKindBlock> blocks = LayOutBlocks(container, header, cutOff);
  const uint32_t size = header.uncompressedSize;
  out.reserve(std::min<uint64_t>(size, uint64_t(container.size()) * kReserveRatio));

  const unsigned workers = WorkerCount(threads, blocks.size());
  const size_t slotCount = workers * kSlotsPerWorker;
  std::vector<LzmaCoder> coders(workers);
  std::vector<Bytes> decoded(slotCount);
  std::vector<LzmaStreamEnd> ends(slotCount);
  const LzmaProperties properties = ContainerProperties();
  bool tooLong = false;
  // A compressed block that comes out short shifts every later block; a
  // longer stored last block could make the total come out right.
  bool shortBlock = false;

  auto decode = [&](unsigned worker, size_t i) {
    const LzmaKindBlock& block = blocks[i];
    if (block.stored) return;
    if (!coders[worker]) coders[worker] = NewLzmaCoder();
    ends[i % slotCount] = DecodeLzmaStream(coders[worker], properties, block.nominalSize, block.data,
                                           decoded[i % slotCount]);
  };
  auto place = [&](size_t i) {
    const LzmaKindBlock& block = blocks[i];
    ByteSpan bytes = block.data;
    if (!block.stored) {
      bytes = decoded[i % slotCount];
      if (report && ends[i % slotCount] == LzmaStreamEnd::kInputEnded) Print(kLzmaStreamEndedMessage);
      if (ends[i % slotCount] != LzmaStreamEnd::kComplete) shortBlock = true;
    }
    // Only a stored last block can bring more than the size has room for.
    const size_t room = size - out.size();
    if (bytes.size() > room) {
      tooLong = true;
      bytes = bytes.first(room);
    }
    AppendBytes(out, bytes);
  };
  ProcessBlocksInOrder(blocks.size(), workers, slotCount, decode, place);
  return !cutOff && !tooLong && !shortBlock && out.size() == size;
}

// Decompresses a container of either kind; prints the codec's messages only
// with `report`.
bool Decompress(ByteSpan container, Bytes& out, unsigned threads, bool report) {
  out.clear();
  TlzcHeader header;
  bool complete = ReadTlzcHeader(container, header);
  // An empty result needs no payload (the nominal last block of 65536 bytes
  // would otherwise count as missing).
  if (complete && header.uncompressedSize == 0) return true;
  if (complete) {
    complete = header.lzmaKind ? DecompressLzmaKind(container, header, out, threads, report)
                               : DecompressZlibKind(container, header, out);
  }
  if (!complete && report) Print(kDecompressFailed);
  return complete;
}

// A block of a source container that a new container takes over as it stands.
struct KeptBlock {
  bool kept = false;
  uint16_t entry = 0;  // its table entry: 0 stored, otherwise the stream length
  ByteSpan bytes;
};

// Compresses data into a container of the LZMA kind; blocks marked in `kept`
// are taken over instead of being encoded.
Bytes CompressBlocks(ByteSpan data, unsigned threads, const std::vector<KeptBlock>& kept);

}  // namespace

bool ReadTlzcHeader(ByteSpan container, TlzcHeader& header) {
  ByteReader reader(container);
  if (reader.Span(4).empty()) return false;  // the magic: tested by the callers
  header.formatWord = reader.U32LE();
  header.containerSize = reader.U32LE();
  header.uncompressedSize = reader.U32LE();
  reader.Skip(8);
  if (!reader.ok()) return false;
  header.lzmaKind = container.size() >= kTlzcHeaderSize &&
                    std::memcmp(container.data() + kTlzcPropertiesOffset, kTlzcLzmaProperties,
                                sizeof kTlzcLzmaProperties) == 0;
  return true;
}

size_t TlzcBlockCount(uint64_t uncompressedSize) {
  return size_t(std::max<uint64_t>(1, (uncompressedSize + TlzcBlockSize - 1) / TlzcBlockSize));
}

bool DecompressTlzc(ByteSpan container, Bytes& out, unsigned threads) {
  return Decompress(container, out, threads, true);
}

Bytes CompressTlzc(ByteSpan data, unsigned threads) { return CompressBlocks(data, threads, {}); }

Bytes RecompressTlzc(ByteSpan source, ByteSpan data, unsigned threads) {
  Bytes decoded;
  if (!Decompress(source, decoded, threads, false)) return CompressTlzc(data, threads);
  return RecompressTlzc(source, decoded, data, threads);
}

Bytes RecompressTlzc(ByteSpan source, ByteSpan decodedSource, ByteSpan data, unsigned threads) {
  if (decodedSource.size() == data.size() && std::equal(data.begin(), data.end(), decodedSource.begin())) {
    return Bytes(source.begin(), source.end());
  }
  TlzcHeader header;
  if (!ReadTlzcHeader(source, header) || !header.lzmaKind || header.uncompressedSize != decodedSource.size() ||
      data.size() > UINT32_MAX) {
    return CompressTlzc(data, threads);
  }
  // The source decoded completely, so block i of it is the 64 KiB at i * 65536.
  bool cutOff = false;
  const std::vector<LzmaKindBlock> blocks = LayOutBlocks(source, header, cutOff);
  std::vector<KeptBlock> kept(TlzcBlockCount(data.size()));
  for (size_t i = 0; i < kept.size() && i < blocks.size() && !cutOff; ++i) {
    const size_t start = i * TlzcBlockSize;
    const size_t length = std::min<size_t>(TlzcBlockSize, data.size() - start);
    if (length != blocks[i].nominalSize ||
        !std::equal(data.begin() + ptrdiff_t(start), data.begin() + ptrdiff_t(start + length),
                    decodedSource.begin() + ptrdiff_t(start))) {
      continue;
    }
    kept[i] = {true, blocks[i].stored ? uint16_t(0) : uint16_t(blocks[i].data.size()), blocks[i].data};
  }
  return CompressBlocks(data, threads, kept);
}

namespace {

Bytes CompressBlocks(ByteSpan data, unsigned threads, const std::vector<KeptBlock>& kept) {
  if (data.size() > UINT32_MAX) return {};
  const size_t count = TlzcBlockCount(data.size());
  const size_t tableEnd = kTlzcHeaderSize + 2 * count;
  Bytes container(tableEnd);
  container.reserve(tableEnd + data.size() + 64);

  const unsigned workers = WorkerCount(threads, count);
  const size_t slotCount = workers * kSlotsPerWorker;
  std::vector<LzmaCoder> coders(workers);
  std::vector<Bytes> streams(slotCount);
  std::vector<LzmaStreamEnd> ends(slotCount);
  const LzmaBlockSettings settings;

  auto blockAt = [&](size_t i) {
    const size_t start = i * TlzcBlockSize;
    return data.subspan(start, std::min<size_t>(TlzcBlockSize, data.size() - start));
  };
  auto isKept = [&](size_t i) { return i < kept.size() && kept[i].kept; };
  auto encode = [&](unsigned worker, size_t i) {
    if (isKept(i)) return;
    if (!coders[worker]) coders[worker] = NewLzmaCoder();
    ends[i % slotCount] = EncodeLzmaStream(coders[worker], blockAt(i), settings, kLongestBlockStream,
                                           streams[i % slotCount]);
  };
  // Only the stream's length decides: even a last block of a few bytes stays
  // compressed when its stream is longer than the block. A block that the
  // encoder fails on is stored too.
  auto append = [&](size_t i) {
    if (isKept(i)) {
      StoreU16LE(container.data() + kTlzcHeaderSize + 2 * i, kept[i].entry);
      AppendBytes(container, kept[i].bytes);
      return;
    }
    const bool keep = ends[i % slotCount] == LzmaStreamEnd::kComplete;
    const Bytes& stream = streams[i % slotCount];
    StoreU16LE(container.data() + kTlzcHeaderSize + 2 * i, keep ? uint16_t(stream.size()) : 0);
    AppendBytes(container, keep ? ByteSpan(stream) : blockAt(i));
  };
  ProcessBlocksInOrder(count, workers, slotCount, encode, append);
  if (container.size() > UINT32_MAX) return {};

  uint8_t* header = container.data();
  std::memcpy(header, kMagic, 4);
  StoreU32LE(header + 4, kTlzcFormatWord);
  StoreU32LE(header + 8, uint32_t(container.size()));
  StoreU32LE(header + 12, uint32_t(data.size()));
  StoreU32LE(header + 16, 0);
  StoreU32LE(header + 20, 0);
  std::memcpy(header + kTlzcPropertiesOffset, kTlzcLzmaProperties, sizeof kTlzcLzmaProperties);
  return container;
}

}  // namespace

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
