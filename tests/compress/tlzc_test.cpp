#include "compress/tlzc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>

#include "compress/lzma_block.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"

namespace fpskit {

void PrintTo(const TlzcDecodeResult& result, std::ostream* os) {
  *os << "{status " << int(result.status) << ", " << result.streamsEndedEarly << " streams ended early}";
}

namespace {

using support::CompressedTlzcBlock;
using support::MixedGameData;
using support::RandomBytes;
using support::StoredTlzcBlock;
using support::TlzcLzmaContainer;
using support::TlzcZlibContainer;

struct Decompressed {
  bool complete;
  Bytes out;
  TlzcDecodeResult verdict;
};

Decompressed Decompress(ByteSpan container, unsigned threads = 0) {
  Decompressed result;
  result.verdict = DecompressTlzc(container, result.out, threads);
  result.complete = result.verdict.ok();
  return result;
}

// The verdict of a complete container, of a damaged one, and of a damaged
// one with `ended` LZMA blocks whose stream ended early.
constexpr TlzcDecodeResult kClean{TlzcStreamResult::kComplete, 0};
TlzcDecodeResult Damaged(size_t ended = 0) { return {TlzcStreamResult::kIncomplete, ended}; }

// The container with one 32-bit header field (offset 8: container size, 12:
// uncompressed size) set to `value`, decompressed.
Decompressed DecompressWithField(Bytes container, size_t offset, uint32_t value) {
  StoreU32LE(&container[offset], value);
  return Decompress(container);
}

uint16_t TableEntry(const Bytes& container, size_t block) {
  return LoadU16LE(container.data() + kTlzcHeaderSize + 2 * block);
}

Bytes Slice(ByteSpan data, size_t offset, size_t length) {
  const ByteSpan part = data.subspan(offset, std::min(length, data.size() - offset));
  return Bytes(part.begin(), part.end());
}

bool IsPrefixOf(const Bytes& prefix, const Bytes& data) {
  return prefix.size() <= data.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

// ---- writing, and reading back what was written

TEST(CompressTlzc, WritesTheHeaderTableAndBlocksOfEveryLength) {
  for (size_t length : {size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(3 * 65536)}) {
    SCOPED_TRACE(length);
    const Bytes data = MixedGameData(length, uint32_t(length));
    const Bytes container = CompressTlzc(data);
    const size_t blocks = (length + 65535) / 65536;
    ASSERT_GE(container.size(), kTlzcHeaderSize + 2 * blocks);
    EXPECT_EQ(std::string(container.begin(), container.begin() + 4), "TLZC");
    EXPECT_EQ(LoadU32LE(&container[4]), 0x401u);
    EXPECT_EQ(LoadU32LE(&container[8]), container.size());
    EXPECT_EQ(LoadU32LE(&container[12]), length);
    EXPECT_EQ(LoadU32LE(&container[16]), 0u);
    EXPECT_EQ(LoadU32LE(&container[20]), 0u);
    EXPECT_TRUE(std::equal(container.begin() + 24, container.begin() + 29, kTlzcLzmaProperties));
    size_t dataLength = 0;
    for (size_t i = 0; i < blocks; ++i) {
      const uint16_t entry = TableEntry(container, i);
      dataLength += entry != 0 ? entry : std::min<size_t>(65536, length - 65536 * i);
    }
    EXPECT_EQ(container.size(), kTlzcHeaderSize + 2 * blocks + dataLength);
    // A short last block always stays compressed.
    if (length % 65536 != 0) {
      EXPECT_GT(TableEntry(container, blocks - 1), 0);
    }

    const Decompressed back = Decompress(container);
    EXPECT_TRUE(back.complete);
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(back.verdict, kClean);
  }
}

TEST(CompressTlzc, EmptyDataGivesOneBlockOfTheEncodersEmptyStream) {
  const Bytes container = CompressTlzc({});
  ASSERT_GT(container.size(), kTlzcHeaderSize + 2);
  const uint16_t entry = TableEntry(container, 0);
  EXPECT_GT(entry, 0);
  EXPECT_EQ(container.size(), kTlzcHeaderSize + 2 + entry);
  EXPECT_EQ(LoadU32LE(&container[12]), 0u);

  // Reads back cleanly, though the nominal block size would be 65536.
  const Decompressed back = Decompress(container);
  EXPECT_TRUE(back.complete);
  EXPECT_TRUE(back.out.empty());
  EXPECT_EQ(back.verdict, kClean);
}

TEST(CompressTlzc, StoresFullIncompressibleBlocksButKeepsAShortLastBlockCompressed) {
  const Bytes data = RandomBytes(2 * 65536 + 100, 7);
  const Bytes container = CompressTlzc(data);
  EXPECT_EQ(TableEntry(container, 0), 0);
  EXPECT_EQ(TableEntry(container, 1), 0);
  // The last stream is longer than its 100 bytes, and still under 65536.
  EXPECT_GT(TableEntry(container, 2), 100);
  const size_t dataStart = kTlzcHeaderSize + 6;
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 2 * 65536, container.begin() + dataStart));
  EXPECT_EQ(container.size(), dataStart + 2 * 65536 + TableEntry(container, 2));

  const Decompressed back = Decompress(container);
  EXPECT_TRUE(back.complete);
  EXPECT_EQ(back.out, data);
}

TEST(CompressTlzc, RoundTripsSeveralMegabytesOnEveryThreadCount) {
  // More blocks than one round of two workers, so that rounds follow rounds.
  const Bytes data = MixedGameData(70 * 65536 + 1234, 42);
  const Bytes oneThread = CompressTlzc(data, 1);
  EXPECT_EQ(CompressTlzc(data, 2), oneThread);
  EXPECT_EQ(CompressTlzc(data, 3), oneThread);
  EXPECT_LT(oneThread.size(), data.size());
  for (unsigned threads : {1u, 2u, 5u}) {
    const Decompressed back = Decompress(oneThread, threads);
    EXPECT_TRUE(back.complete);
    EXPECT_EQ(back.out, data) << threads << " threads";
  }
}

TEST(CompressTlzc, EveryBlockIsAStreamOfItsOwnForAnIndependentDecoder) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's xz through a POSIX shell; the Linux build checks it";
#endif
  if (std::system("command -v xz >/dev/null 2>&1") != 0) GTEST_SKIP() << "xz is not installed";
  const Bytes data = MixedGameData(3 * 65536 + 999, 3);
  const Bytes container = CompressTlzc(data);
  support::TempDir dir;
  size_t position = kTlzcHeaderSize + 2 * 4;
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Bytes expected = Slice(data, 65536 * i, 65536);
    const uint16_t entry = TableEntry(container, i);
    ASSERT_NE(entry, 0);
    const Bytes stream = Slice(container, position, entry);
    position += entry;
    ASSERT_TRUE(support::WriteTestFile(dir / "block.lzma", support::StandaloneLzmaBlock(stream, expected.size())));
    const std::string command =
        "xz --format=lzma -dc '" + (dir / "block.lzma") + "' > '" + (dir / "block.out") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(support::ReadTestFile(dir / "block.out"), expected);
  }
}

// ---- the LZMA kind as other writers may lay it out

TEST(DecompressTlzc, DecodesEachBlockByItsOwnEntry) {
  const Bytes data = MixedGameData(2 * 65536 + 300, 11);
  const Bytes container =
      TlzcLzmaContainer(uint32_t(data.size()), {StoredTlzcBlock(Slice(data, 0, 65536)),
                                                CompressedTlzcBlock(Slice(data, 65536, 65536)),
                                                StoredTlzcBlock(Slice(data, 2 * 65536, 300))},
                        /*formatWord=*/0x201);  // the format word plays no part
  const Decompressed back = Decompress(container);
  EXPECT_TRUE(back.complete);
  EXPECT_EQ(back.out, data);
  EXPECT_EQ(back.verdict, kClean);
}

TEST(DecompressTlzc, AcceptsEndMarkersAndIgnoresBytesAfterWhatABlockNeeds) {
  const Bytes data = MixedGameData(65536 + 5000, 12);
  LzmaBlockSettings withEndMark;
  withEndMark.writeEndMark = 1;
  support::TlzcTableBlock first = CompressedTlzcBlock(Slice(data, 0, 65536), withEndMark);
  support::TlzcTableBlock second = CompressedTlzcBlock(Slice(data, 65536, 5000));
  second.bytes.insert(second.bytes.end(), {1, 2, 3, 4, 5, 6, 7, 8});
  second.entry = uint16_t(second.bytes.size());
  const Decompressed back = Decompress(TlzcLzmaContainer(uint32_t(data.size()), {first, second}));
  EXPECT_TRUE(back.complete);
  EXPECT_EQ(back.out, data);
  EXPECT_EQ(back.verdict, kClean);
}

TEST(DecompressTlzc, ShortBlocksMoveLaterBlocksForward) {
  const Bytes data = MixedGameData(3 * 65536, 13);
  const Bytes tail = Slice(data, 2 * 65536, 65536);

  // A corrupt block ends without a message and produces nothing here.
  support::TlzcTableBlock corrupt = CompressedTlzcBlock(Slice(data, 0, 65536));
  corrupt.bytes[0] = 0xFF;
  // A block whose stream ends early says so.
  support::TlzcTableBlock cut = CompressedTlzcBlock(Slice(data, 65536, 65536));
  cut.bytes.resize(cut.bytes.size() / 2);
  cut.entry = uint16_t(cut.bytes.size());

  for (unsigned threads : {1u, 3u}) {
    const Decompressed back =
        Decompress(TlzcLzmaContainer(uint32_t(data.size()), {corrupt, cut, StoredTlzcBlock(tail)}), threads);
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.verdict, Damaged(1));
    // Block 1's partial output comes first, then the stored block right after it.
    ASSERT_GT(back.out.size(), tail.size());
    const Bytes partial(back.out.begin(), back.out.end() - ptrdiff_t(tail.size()));
    EXPECT_LT(partial.size(), 65536u);
    EXPECT_TRUE(IsPrefixOf(partial, Slice(data, 65536, 65536)));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), back.out.end() - ptrdiff_t(tail.size())));
  }
}

TEST(DecompressTlzc, AShortBlockIsAFailureEvenWhenALongerLastBlockMakesUpTheSize) {
  // Block 0 ends (at an end marker) after 1000 of its 65536 bytes; the stored
  // last block brings the 64536 bytes missing on top of its own 65536.
  const Bytes data = MixedGameData(3 * 65536, 21);
  LzmaBlockSettings endMarked;
  endMarked.writeEndMark = 1;
  const Decompressed back = Decompress(TlzcLzmaContainer(
      2 * 65536, {CompressedTlzcBlock(Slice(data, 0, 1000), endMarked), StoredTlzcBlock(Slice(data, 1000, 2 * 65536 - 1000))}));
  EXPECT_FALSE(back.complete);
  EXPECT_EQ(back.out, Slice(data, 0, 2 * 65536));  // every byte is there, but shifted against the blocks
  EXPECT_EQ(back.verdict.status, TlzcStreamResult::kIncomplete);
}

// ---- containers cut short or with sizes that lie

TEST(DecompressTlzc, TruncatedContainersGiveWhatTheirBytesHold) {
  const Bytes data = MixedGameData(3 * 65536 + 10, 14);
  const Bytes container = TlzcLzmaContainer(
      uint32_t(data.size()), {CompressedTlzcBlock(Slice(data, 0, 65536)), StoredTlzcBlock(Slice(data, 65536, 65536)),
                              CompressedTlzcBlock(Slice(data, 2 * 65536, 65536)),
                              StoredTlzcBlock(Slice(data, 3 * 65536, 10))});
  for (size_t cut : {size_t(0), size_t(10), size_t(24), size_t(28), size_t(29), size_t(36), size_t(37),
                     size_t(200), container.size() / 2, container.size() - 70000, container.size() - 50,
                     container.size() - 1}) {
    SCOPED_TRACE(cut);
    const Decompressed back = Decompress(Slice(container, 0, cut));
    EXPECT_FALSE(back.complete);
    EXPECT_TRUE(IsPrefixOf(back.out, data));
    EXPECT_EQ(back.verdict.status, TlzcStreamResult::kIncomplete);
  }
}

TEST(DecompressTlzc, SizesBeyondTheDataEndInFailureNotInReadsPastIt) {
  const Bytes data = MixedGameData(65536 + 20, 15);
  const Bytes good = TlzcLzmaContainer(uint32_t(data.size()), {CompressedTlzcBlock(Slice(data, 0, 65536)),
                                                               StoredTlzcBlock(Slice(data, 65536, 20))});
  {
    // A container size beyond the data: the stored last block takes what there is.
    const Decompressed back = DecompressWithField(good, 8, uint32_t(good.size() + 100));
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(back.verdict, Damaged());
  }
  {
    // A stored last block longer than the uncompressed size has room for.
    const Decompressed back = DecompressWithField(good, 12, uint32_t(data.size() - 5));
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.out, Slice(data, 0, data.size() - 5));
  }
  {
    // A stored last block that the container size places before its start.
    const Decompressed back = DecompressWithField(good, 8, 3);
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.out, Slice(data, 0, 65536));
  }
  {
    // An uncompressed size of 4 GiB whose table cannot be in the container.
    const Decompressed back = DecompressWithField(good, 12, 0xFFFFFFFF);
    EXPECT_FALSE(back.complete);
    EXPECT_TRUE(back.out.empty());
    EXPECT_EQ(back.verdict, Damaged());
  }
}

// ---- the zlib kind

TEST(DecompressTlzc, InflatesTheZlibKindWhateverItsFormatWord) {
  const Bytes data = MixedGameData(200000, 16);
  const Decompressed back = Decompress(TlzcZlibContainer(data, kTlzcFormatWord));
  EXPECT_TRUE(back.complete);
  EXPECT_EQ(back.out, data);
  EXPECT_EQ(back.verdict, kClean);

  // Bytes after the deflate stream, inside the container size, are ignored.
  Bytes padded = TlzcZlibContainer(data);
  padded.insert(padded.end(), 40, 0xAB);
  StoreU32LE(&padded[8], uint32_t(padded.size()));
  EXPECT_EQ(Decompress(padded).out, data);
}

TEST(DecompressTlzc, DamagedZlibKindGivesWhatInflatedAndFails) {
  const Bytes data = MixedGameData(200000, 17);
  const Bytes good = TlzcZlibContainer(data);
  {
    // Every byte, but the deflate stream stops before its final block.
    Bytes unended(good.begin(), good.begin() + kTlzcZlibPayloadOffset);
    AppendBytes(unended, support::RawDeflate(data, 6, false));
    StoreU32LE(&unended[8], uint32_t(unended.size()));
    const Decompressed back = Decompress(unended);
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(back.verdict, Damaged());
  }
  {
    Bytes corrupt = good;
    for (size_t i = good.size() / 2; i < good.size() / 2 + 64; ++i) corrupt[i] ^= 0x5A;
    const Decompressed back = Decompress(corrupt);
    // Garbled data either stops inflating or inflates to the wrong length.
    EXPECT_FALSE(back.complete);
    EXPECT_LE(back.out.size(), data.size());
    EXPECT_NE(back.out, data);
    EXPECT_EQ(back.verdict, Damaged());
  }
  {
    const Decompressed back = Decompress(Slice(good, 0, good.size() / 2));
    EXPECT_FALSE(back.complete);
    EXPECT_TRUE(IsPrefixOf(back.out, data));
    EXPECT_GT(back.out.size(), 0u);
  }
  {
    // More than the uncompressed size: the result stops at the size.
    const Decompressed back = DecompressWithField(good, 12, 1000);
    EXPECT_FALSE(back.complete);
    EXPECT_EQ(back.out, Slice(data, 0, 1000));
  }
  {
    // A container size that ends inside the header leaves no payload.
    const Decompressed back = DecompressWithField(good, 8, 10);
    EXPECT_FALSE(back.complete);
    EXPECT_TRUE(back.out.empty());
  }
}

// ---- single blocks in the stand-alone form

// The table entries and block bytes of an LZMA-kind container.
std::vector<std::pair<uint16_t, Bytes>> BlocksOf(const Bytes& container) {
  const size_t count = TlzcBlockCount(LoadU32LE(&container[12]));
  std::vector<std::pair<uint16_t, Bytes>> blocks;
  size_t at = kTlzcHeaderSize + 2 * count;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t entry = LoadU16LE(&container[kTlzcHeaderSize + 2 * i]);
    const size_t length = entry ? entry : std::min<size_t>(TlzcBlockSize, container.size() - at);
    blocks.push_back({entry, Slice(container, at, length)});
    at += length;
  }
  return blocks;
}

TEST(RecompressTlzc, KeepsTheSourceOrEveryBlockTheDataStillHas) {
  const Bytes data = MixedGameData(5 * TlzcBlockSize - 100, 23);
  const Bytes source = CompressTlzc(data);
  EXPECT_EQ(RecompressTlzc(source, data), source);

  Bytes edited = data;
  edited[2 * TlzcBlockSize + 7] ^= 1;  // one byte of block 2
  Bytes grown = data;
  grown.insert(grown.end(), 300, 'x');  // a longer last block, and one more block
  const auto before = BlocksOf(source);
  for (const Bytes* changed : {&edited, &grown}) {
    const Bytes result = RecompressTlzc(source, *changed);
    Bytes decoded;
    ASSERT_TRUE(DecompressTlzc(result, decoded).ok());
    EXPECT_EQ(decoded, *changed);
    const auto after = BlocksOf(result);
    for (size_t i = 0; i < 4; ++i) {
      if (changed == &edited && i == 2) continue;
      EXPECT_EQ(after[i], before[i]) << "block " << i;
    }
    if (changed == &edited) {
      EXPECT_EQ(after[4], before[4]);
    }
  }

  // A damaged source gives nothing, and is no error of the data's.
  const Bytes damaged = Slice(source, 0, source.size() / 2);
  EXPECT_EQ(RecompressTlzc(damaged, data), CompressTlzc(data));
}

// ---- streaming

// A reader over the bytes that fails, and records it, when asked for any
// range outside them or past `failAt`.
struct CheckedReader {
  ByteSpan bytes;
  uint64_t failAt = UINT64_MAX;
  bool outside = false;
  TlzcReader Reader() {
    return [this](uint64_t offset, size_t count, uint8_t* out) {
      if (!InRange(bytes.size(), offset, count)) outside = true;
      if (outside || offset + count > failAt) return false;
      std::copy_n(bytes.begin() + ptrdiff_t(offset), count, out);
      return true;
    };
  }
};

TEST(TlzcStream, GivesWhatDecompressTlzcGivesAndStopsWhenTold) {
  const Bytes data = MixedGameData(7 * TlzcBlockSize + 5, 31);
  const Bytes lzma = CompressTlzc(data);
  const Bytes zlib = TlzcZlibContainer(data);
  for (const Bytes& container : {lzma, zlib, Slice(lzma, 0, lzma.size() / 2), Slice(zlib, 0, zlib.size() / 3)}) {
    const Decompressed whole = Decompress(container);
    CheckedReader reader{container};
    Bytes streamed;
    const TlzcDecodeResult result = DecompressTlzcStream(
        reader.Reader(), container.size(),
        [&](ByteSpan piece) {
          AppendBytes(streamed, piece);
          return true;
        },
        2);
    EXPECT_FALSE(reader.outside);
    EXPECT_EQ(result.status, whole.complete ? TlzcStreamResult::kComplete : TlzcStreamResult::kIncomplete);
    EXPECT_EQ(streamed, whole.out);
    EXPECT_EQ(result, whole.verdict);

    // A consumer that has seen enough stops it; a reader that fails ends it.
    size_t pieces = 0;
    EXPECT_EQ(DecompressTlzcStream(reader.Reader(), container.size(), [&](ByteSpan) { return ++pieces > 1; }, 2).status,
              TlzcStreamResult::kStopped);
    EXPECT_EQ(pieces, 1u);
    CheckedReader failing{container, container.size() / 4};
    EXPECT_EQ(DecompressTlzcStream(failing.Reader(), container.size(), [](ByteSpan) { return true; }, 2).status,
              TlzcStreamResult::kReadFailed);
  }
}

TEST(TlzcStream, CompressesFromReadsOfTheDataAndKeepsTheSourcesBlocks) {
  const Bytes data = MixedGameData(6 * TlzcBlockSize + 999, 32);
  const Bytes source = CompressTlzc(data);
  Bytes edited = data;
  edited[4 * TlzcBlockSize] ^= 0x40;
  CheckedReader sourceReader{source};
  std::vector<TlzcKeptBlock> keep = TlzcSourceBlocks(sourceReader.Reader(), source.size());
  ASSERT_EQ(keep.size(), 7u);
  for (size_t i = 0; i < keep.size(); ++i) keep[i].kept = i != 4;
  CheckedReader dataReader{edited};
  Bytes written;
  const TlzcWriter writer{[&](ByteSpan bytes) {
                            AppendBytes(written, bytes);
                            return true;
                          },
                          [&](uint64_t at, ByteSpan bytes) {
                            std::copy(bytes.begin(), bytes.end(), written.begin() + ptrdiff_t(at));
                            return true;
                          }};
  EXPECT_EQ(CompressTlzcStream(edited.size(), dataReader.Reader(), writer, keep, sourceReader.Reader(), 2),
            TlzcWriteResult::kWritten);
  EXPECT_FALSE(dataReader.outside || sourceReader.outside);
  EXPECT_EQ(written, RecompressTlzc(source, edited));

  // A source that is cut off keeps nothing; a data reader that fails is told.
  EXPECT_TRUE(TlzcSourceBlocks(sourceReader.Reader(), source.size() - 10).empty());
  CheckedReader failing{edited, edited.size() / 2};
  EXPECT_EQ(CompressTlzcStream(edited.size(), failing.Reader(), writer), TlzcWriteResult::kReadFailed);
}

TEST(LzmaBlock, EncodesTheStandaloneHeaderAndDecodesItBack) {
  const Bytes data = MixedGameData(40000, 18);
  const Bytes block = EncodeLzmaBlock(data);
  ASSERT_GT(block.size(), kLzmaHeaderSize);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 5, kTlzcLzmaProperties));
  EXPECT_EQ(LoadU32LE(&block[5]), data.size());
  EXPECT_EQ(LoadU32LE(&block[9]), 0u);

  Bytes decoded;
  EXPECT_EQ(DecodeLzmaBlock(block, decoded), LzmaStreamEnd::kComplete);
  EXPECT_EQ(decoded, data);
  Bytes cut;
  EXPECT_EQ(DecodeLzmaBlock(Slice(block, 0, block.size() - 10), cut), LzmaStreamEnd::kInputEnded);
  EXPECT_LT(cut.size(), data.size());
  EXPECT_TRUE(IsPrefixOf(cut, data));
  // A block shorter than its own header gives nothing.
  EXPECT_EQ(DecodeLzmaBlock(Slice(block, 0, kLzmaHeaderSize - 1), cut), LzmaStreamEnd::kCorrupt);
  EXPECT_TRUE(cut.empty());
}

TEST(LzmaBlock, PropertiesFollowTheSettings) {
  EXPECT_EQ(LzmaPropertiesOf({}), (LzmaProperties{0x5D, 0x00, 0x00, 0x01, 0x00}));
  LzmaBlockSettings other;
  other.lc = 0;
  other.lp = 2;
  other.pb = 0;
  other.dictSize = 1 << 20;
  other.algo = 0;
  other.btMode = 0;
  EXPECT_EQ(LzmaPropertiesOf(other), (LzmaProperties{18, 0x00, 0x00, 0x10, 0x00}));
  const Bytes data = MixedGameData(30000, 19);
  Bytes decoded;
  EXPECT_EQ(DecodeLzmaBlock(EncodeLzmaBlock(data, other), decoded), LzmaStreamEnd::kComplete);
  EXPECT_EQ(decoded, data);
}

}  // namespace
}  // namespace fpskit
