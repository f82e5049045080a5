#include "support/tlzc_builder.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "support/builders.h"

namespace fpskit::support {
namespace {

void AppendTlzcHeaderStart(ByteBuilder& builder, uint32_t formatWord, uint32_t uncompressedSize) {
  // The container size is patched in once the length is known.
  builder.Text("TLZC").U32LE(formatWord).U32LE(0).U32LE(uncompressedSize).U32LE(0).U32LE(0);
}

}  // namespace

Bytes RawDeflate(ByteSpan data, int level, bool finish) {
  z_stream deflater{};
  Bytes out;
  if (deflateInit2(&deflater, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return out;
  out.resize(deflateBound(&deflater, uLong(data.size())));
  deflater.next_in = const_cast<Bytef*>(data.data());
  deflater.avail_in = uInt(data.size());
  deflater.next_out = out.data();
  deflater.avail_out = uInt(out.size());
  const int ret = deflate(&deflater, finish ? Z_FINISH : Z_SYNC_FLUSH);
  out.resize(ret == (finish ? Z_STREAM_END : Z_OK) ? deflater.total_out : 0);
  deflateEnd(&deflater);
  return out;
}

Bytes TlzcZlibContainer(ByteSpan data, uint32_t formatWord) {
  ByteBuilder builder;
  AppendTlzcHeaderStart(builder, formatWord, uint32_t(data.size()));
  builder.Raw(RawDeflate(data));
  builder.PatchU32LE(8, uint32_t(builder.size()));
  return builder.Take();
}

TlzcTableBlock CompressedTlzcBlock(ByteSpan data, const LzmaBlockSettings& settings) {
  Bytes block = EncodeLzmaBlock(data, settings);
  block.erase(block.begin(), block.begin() + kLzmaHeaderSize);
  return {uint16_t(block.size()), std::move(block)};
}

TlzcTableBlock StoredTlzcBlock(ByteSpan data) { return {0, Bytes(data.begin(), data.end())}; }

Bytes TlzcLzmaContainer(uint32_t uncompressedSize, const std::vector<TlzcTableBlock>& blocks,
                        uint32_t formatWord) {
  ByteBuilder builder;
  AppendTlzcHeaderStart(builder, formatWord, uncompressedSize);
  builder.Raw(ByteSpan(kTlzcLzmaProperties));
  for (const TlzcTableBlock& block : blocks) builder.U16LE(block.entry);
  for (const TlzcTableBlock& block : blocks) builder.Raw(block.bytes);
  builder.PatchU32LE(8, uint32_t(builder.size()));
  return builder.Take();
}

Bytes StandaloneLzmaBlock(ByteSpan stream, uint64_t size) {
  ByteBuilder builder;
  builder.Raw(ByteSpan(kTlzcLzmaProperties)).U32LE(uint32_t(size)).U32LE(uint32_t(size >> 32)).Raw(stream);
  return builder.Take();
}

namespace {

void AppendWords(Bytes& out, size_t length, Random& random) {
  static const char* const kSyllables[] = {"ka", "to", "ri", "n", "shi", "ma", "the", "and", "of",
                                           "ing", "re", "yo", "u", "sa", "ne", "wa", "er", "on"};
  const size_t end = out.size() + length;
  while (out.size() < end) {
    const uint32_t pick = random.Below(100);
    if (pick < 8) {
      AppendText(out, "\r\n");
    } else if (pick < 20) {
      // A double-byte character of the hiragana range.
      out.push_back(0x82);
      out.push_back(uint8_t(0x9F + random.Below(82)));
    } else {
      const uint32_t syllables = 1 + random.Below(4);
      for (uint32_t i = 0; i < syllables; ++i) AppendText(out, kSyllables[random.Below(18)]);
      out.push_back(pick < 26 ? '.' : ' ');
    }
  }
  out.resize(end);
}

void AppendRecords(Bytes& out, size_t length, Random& random) {
  const size_t end = out.size() + length;
  const uint32_t recordKind = random.Next();
  uint32_t counter = random.Below(1000);
  while (out.size() < end) {
    AppendU32BE(out, counter++);
    AppendU32BE(out, recordKind);
    AppendU16BE(out, uint16_t(random.Below(64)));
    AppendU16BE(out, uint16_t(random.Below(4) * 0x100));
    AppendU32BE(out, counter * 0x40 + random.Below(16));
  }
  out.resize(end);
}

}  // namespace

Bytes MixedGameData(size_t size, uint32_t seed) {
  Random random(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const size_t length = std::min<size_t>(size - out.size(), 2048 + random.Below(30 * 1024));
    const uint32_t kind = random.Below(10);
    if (kind < 5) {
      AppendWords(out, length, random);
    } else if (kind < 8) {
      AppendRecords(out, length, random);
    } else {
      const Bytes noise = RandomBytes(length, random.Next());
      AppendBytes(out, noise);
    }
  }
  return out;
}

}  // namespace fpskit::support
