#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "archive/format.h"
#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"

namespace fpskit {
namespace {

using support::BuildFps4;
using support::Fps4Layout;
using support::Fps4Member;
using support::ReadTestFile;
using support::TempDir;
using support::ToBytes;
using support::WriteTestFile;

Fps4Member Member(Bytes data, std::optional<std::string> name = std::nullopt) {
  return {std::move(data), std::move(name), false, std::nullopt};
}
Fps4Member Member(std::string_view data, std::optional<std::string> name = std::nullopt) {
  return Member(ToBytes(data), std::move(name));
}

// Runs a tool in-process with its console captured.
template <typename Tool>
bool Quietly(Tool tool, const std::string& path, std::string* console = nullptr) {
  testing::internal::CaptureStdout();
  const bool ok = tool(path);
  const std::string printed = testing::internal::GetCapturedStdout();
  if (console) *console = printed;
  return ok;
}

// Every file below a directory with its contents.
std::map<std::string, Bytes> Snapshot(const std::string& directory) {
  std::map<std::string, Bytes> files;
  for (const std::string& name : support::ListTree(directory)) files[name] = ReadTestFile(directory + "/" + name);
  return files;
}

const ArchiveEntry& EntryOf(const Bytes& archive, size_t i, ArchiveTable& table) {
  EXPECT_TRUE(ReadArchiveTable(ByteSource::InMemory(archive), "A", "A.dat", table));
  return table.entries.at(i);
}

Bytes MemberBytes(const Bytes& archive, size_t i) {
  ArchiveTable table;
  const ArchiveEntry& entry = EntryOf(archive, i, table);
  return Bytes(archive.begin() + entry.offset, archive.begin() + entry.offset + entry.size);
}

// A TXM with a DXT1 texture of 8 x 4 (16 bytes) and an A8R8G8B8 one of 2 x 2
// (16 bytes), and their data.
Bytes PairTxm() {
  support::TxmLayout txm;
  txm.textures = {{8, 4, 1, 1, support::TxmFormatBytes(6, 4), "dxt", 0},
                  {2, 2, 1, 1, support::TxmFormatBytes(5, 4), "argb", 16}};
  return support::BuildTxm(txm);
}
const Bytes kPairPixels = support::RandomBytes(32, 3);

Fps4Layout Nested3Deep() {
  Fps4Layout innermost;
  innermost.members = {Member("deepest")};
  Fps4Layout third;
  third.members = {Member("third"), Member(BuildFps4(innermost))};
  Fps4Layout second;
  second.members = {Member(CompressTlzc(BuildFps4(third))), Member("second")};
  Fps4Layout top;
  top.members = {Member("top"), Member(BuildFps4(second))};
  return top;
}

TEST(RepackArchive, AnUnchangedTreeRebuildsEveryLayoutByteForByte) {
  std::vector<std::pair<std::string, Fps4Layout>> layouts;
  Fps4Layout hinted;  // hint 0x1000 (bytes 00 10): members at 4096
  hinted.alignmentHint = 0x1000;
  hinted.alignment = 4096;
  hinted.members = {Member("a"), Member(std::string(5000, 'b')), Member(CompressTlzc(support::MixedGameData(150000, 2)))};
  layouts.push_back({"alignment hint", hinted});
  Fps4Layout eight;  // no padding; a continuation run; an entry without data
  eight.entrySize = 8;
  eight.type = "dat";
  eight.members = {Member("lead"), Member("cont"), Member("more"), Member(""), Member("tail")};
  eight.members[1].continuation = eight.members[2].continuation = true;
  eight.members[3].offsetOverride = 0;
  layouts.push_back({"8-byte entries", eight});
  Fps4Layout shortLayout;
  shortLayout.entrySize = 24;
  shortLayout.flags = 0x8D;
  shortLayout.alignment = 1;
  shortLayout.members = {Member("abc", "one.bin"), Member("", "none.bin"), Member("defg", "two.bin")};
  shortLayout.members[1].offsetOverride = 0;
  layouts.push_back({"flags 0x8D", shortLayout});
  Fps4Layout named;
  named.entrySize = 16;
  named.members = {Member("x", "name=ui/Title x=1"), Member("y"), Member(PairTxm(), "name=tex"), Member(kPairPixels, "name=pix")};
  named.members.push_back({Bytes(), std::nullopt, false, kNoMember});
  layouts.push_back({"16-byte names, texture pair by content", named});
  Fps4Layout twenty;
  twenty.entrySize = 20;
  twenty.members = {Member(PairTxm(), "TEX"), Member(kPairPixels, "DAT"), Member("h", "TEX"), Member("d", "DMY")};
  layouts.push_back({"20-byte TEX and DMY", twenty});
  Fps4Layout spv;
  spv.entrySize = 32;
  spv.members = {Member(PairTxm(), "t.TXM"), Member("spv bytes", "s.SPV"), Member(kPairPixels, "d.bin"), Member("z", "z.bin")};
  layouts.push_back({"SPV between the pair", spv});
  Fps4Layout textures;
  textures.type = "txmv";
  textures.flags = 7;
  textures.members = {Member(PairTxm()), Member(kPairPixels)};
  layouts.push_back({"texture archive", textures});
  Fps4Layout spvTextures = spv;  // the "SPV" member is plain there too, not paired with the member after the pair
  spvTextures.type = "txmv";
  spvTextures.flags = 7;
  layouts.push_back({"SPV in a texture archive", spvTextures});
  layouts.push_back({"nested three deep", Nested3Deep()});

  for (const auto& [what, layout] : layouts) {
    for (const bool wrapped : {false, true}) {
      if (wrapped && what != "nested three deep") continue;
      TempDir dir;
      const Bytes original = wrapped ? CompressTlzc(BuildFps4(layout)) : BuildFps4(layout);
      ASSERT_TRUE(WriteTestFile(dir / "A.dat", original));
      ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat")) << what;
      std::string console;
      for (int run = 0; run < 2; ++run) {  // a repeated run reads the previous result
        EXPECT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console)) << what << ": " << console;
        EXPECT_EQ(ReadTestFile(dir / "A.dat"), original) << what << (wrapped ? ", wrapped" : "");
      }
      // Without its unpack directory every member comes from the archive.
      std::filesystem::remove_all(dir / "A");
      EXPECT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console)) << what;
      EXPECT_EQ(console, "") << what;
      EXPECT_EQ(ReadTestFile(dir / "A.dat"), original) << what;
      EXPECT_EQ(support::ListDirectory(dir.path()), std::vector<std::string>{"A.dat"}) << what;
    }
  }

  ArchiveHeader header;
  for (const auto& [hint, flags, alignment] : std::vector<std::tuple<uint16_t, uint16_t, uint32_t>>{
           {0x1000, 0, 4096}, {0, 0, 2048}, {2048, 0, 2048}, {0x800, 0, 2048}, {0x4000, 0x8D, 1}}) {
    header.alignmentHint = hint;
    header.flags = flags;
    EXPECT_EQ(ArchiveAlignment(header), alignment) << hint;
  }
}

TEST(RepackArchive, EditedAndDeletedMemberFilesMoveTheMembersAfterThem) {
  TempDir dir;
  Fps4Layout layout;
  layout.members = {Member("first"), Member("second"), Member("third")};
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  const Bytes grown(0x1801, 'g');
  ASSERT_TRUE(WriteTestFile(dir / "A/A_001.bin", grown));
  std::filesystem::remove(dir / "A/A_000.bin");
  std::string console;
  ASSERT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console));
  EXPECT_EQ(console, "\n+ " + dir.path() + "/A/A_001.bin\n+ " + dir.path() + "/A/A_002.bin");
  const Bytes archive = ReadTestFile(dir / "A.dat");
  ArchiveTable table;
  EntryOf(archive, 0, table);
  const std::vector<uint32_t> expected = {0x800, 0x800, 5, 0x1000, 0x2000, 0x1801, 0x3000, 0x800, 5};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(table.entries[i].offset, expected[3 * i]) << i;
    EXPECT_EQ(table.entries[i].paddedSize, expected[3 * i + 1]) << i;
    EXPECT_EQ(table.entries[i].size, expected[3 * i + 2]) << i;
  }
  EXPECT_EQ(MemberBytes(archive, 0), ToBytes("first"));
  EXPECT_EQ(MemberBytes(archive, 1), grown);
  EXPECT_EQ(archive.size(), 0x3800u);
  EXPECT_TRUE(std::all_of(archive.begin() + 0x1000 + 0x1801, archive.begin() + 0x3000, [](uint8_t b) { return b == 0; }));

  // An archive in a TLZC container comes back in one, with the edit.
  ASSERT_TRUE(WriteTestFile(dir / "W.dat", CompressTlzc(BuildFps4(layout))));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "W.dat"));
  ASSERT_TRUE(WriteTestFile(dir / "W/W_002.bin", "changed"));
  ASSERT_TRUE(Quietly(RepackArchive, dir / "W.dat"));
  Bytes unwrapped;
  ASSERT_TRUE(DecompressTlzc(ReadTestFile(dir / "W.dat"), unwrapped).ok());
  EXPECT_EQ(MemberBytes(unwrapped, 2), ToBytes("changed"));
  EXPECT_EQ(MemberBytes(unwrapped, 1), ToBytes("second"));

  // 8-byte tables: no padding; continuation entries move with their leader,
  // one without a member (0xFFFFFFFF) stays as it was.
  Fps4Layout eight;
  eight.entrySize = 8;
  eight.members = {Member("ab"), Member("cdef"), Member("gh"), Member(""), Member("ij")};
  eight.members[2].continuation = eight.members[3].continuation = true;
  eight.members[3].offsetOverride = kNoMember;
  ASSERT_TRUE(WriteTestFile(dir / "E.dat", BuildFps4(eight)));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "E.dat"));
  ASSERT_TRUE(WriteTestFile(dir / "E/E_000.bin", "abc"));
  ASSERT_TRUE(Quietly(RepackArchive, dir / "E.dat"));
  const Bytes rebuilt = ReadTestFile(dir / "E.dat");
  EntryOf(rebuilt, 0, table);
  // The member of entry 1 held its continuation's bytes too: "cdefgh".
  EXPECT_EQ(std::vector<uint32_t>({table.entries[0].offset, table.entries[1].offset, table.entries[2].offset,
                                   table.entries[3].offset, table.entries[4].offset}),
            std::vector<uint32_t>({0x800, 0x803, 0x807, kNoMember, 0x809}));
  EXPECT_EQ(table.entries[2].paddedSize, 1u);
  EXPECT_EQ(std::string(rebuilt.begin() + 0x800, rebuilt.end()), "abccdefghij");
}

TEST(RepackArchive, CompressedMembersAreKeptUnlessTheirBytesChanged) {
  const Bytes data = support::MixedGameData(300000, 4);
  const Bytes container = CompressTlzc(data);
  // A TXM compressed in a member marked as a texture header stays a plain member.
  Fps4Layout layout;
  layout.entrySize = 20;
  layout.members = {Member(container), Member(CompressTlzc(PairTxm()), "TEX"), Member("after")};
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  EXPECT_EQ(ReadTestFile(dir / "A/A_001.TEX"), PairTxm());  // written decompressed, not split
  ASSERT_TRUE(Quietly(RepackArchive, dir / "A.dat"));
  EXPECT_EQ(MemberBytes(ReadTestFile(dir / "A.dat"), 0), container);

  // Edited and cut short; the other grown: every block still the same is
  // kept, as RecompressTlzc keeps it.
  Bytes edited = data;
  edited[123456] ^= 0x20;
  edited.resize(edited.size() - 1000);
  ASSERT_TRUE(WriteTestFile(dir / "A/A_000.prt", edited));
  Bytes txm = PairTxm();
  txm.push_back(1);
  ASSERT_TRUE(WriteTestFile(dir / "A/A_001.TEX", txm));
  ASSERT_TRUE(Quietly(RepackArchive, dir / "A.dat"));
  const Bytes archive = ReadTestFile(dir / "A.dat");
  for (const auto& [i, expected] : std::vector<std::pair<size_t, Bytes>>{{0, edited}, {1, txm}}) {
    const Bytes member = MemberBytes(archive, i);
    EXPECT_EQ(member, RecompressTlzc(i == 0 ? container : CompressTlzc(PairTxm()), expected));
    Bytes decoded;
    ASSERT_TRUE(DecompressTlzc(member, decoded).ok());
    EXPECT_EQ(decoded, expected);
  }
  EXPECT_EQ(MemberBytes(archive, 2), ToBytes("after"));
}

TEST(RepackArchive, ImagesAreWrittenBackIntoTheirPairInTheSourceOrder) {
  TempDir dir;
  Fps4Layout layout;
  layout.entrySize = 32;
  layout.members = {Member(PairTxm(), "t.TXM"), Member("spv", "s.SPV"), Member(kPairPixels, "d.bin")};
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  // DXT1 edited and longer than its image (cut); A8R8G8B8 edited (reversed
  // back); the "SPV" member grown beyond its padding.
  Bytes dxt = ReadTestFile(dir / "A/dxt_0_0.dds");
  std::fill(dxt.begin() + 128, dxt.end(), 0xD1);
  dxt.insert(dxt.end(), 8, 0xEE);
  ASSERT_TRUE(WriteTestFile(dir / "A/dxt_0_0.dds", dxt));
  Bytes argb = ReadTestFile(dir / "A/argb_0_1.dds");
  for (size_t k = 0; k < 16; ++k) argb[128 + k] = uint8_t(k);
  ASSERT_TRUE(WriteTestFile(dir / "A/argb_0_1.dds", argb));
  ASSERT_TRUE(WriteTestFile(dir / "A/s.SPV", Bytes(3000, 's')));
  std::string console;
  ASSERT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console));
  EXPECT_NE(console.find("\n+ " + dir.path() + "/A/dxt_0_0.dds"), std::string::npos) << console;

  const Bytes archive = ReadTestFile(dir / "A.dat");
  ArchiveTable table;
  EntryOf(archive, 0, table);
  // Header, "SPV" member, data member, in the source order; the pair keeps its sizes.
  EXPECT_EQ(table.entries[0].offset, 0x800u);
  EXPECT_EQ(table.entries[1].offset, 0x800u + table.entries[0].paddedSize);
  EXPECT_EQ(table.entries[1].size, 3000u);
  EXPECT_EQ(table.entries[2].offset, table.entries[1].offset + 0x1000);
  EXPECT_EQ(table.entries[2].size, 32u);
  Bytes pixels(16, 0xD1);
  for (int k = 0; k < 4; ++k) AppendBytes(pixels, Bytes{uint8_t(4 * k + 3), uint8_t(4 * k + 2), uint8_t(4 * k + 1), uint8_t(4 * k)});
  EXPECT_EQ(MemberBytes(archive, 2), pixels);
  EXPECT_TRUE(std::all_of(archive.begin() + table.entries[1].offset + 3000, archive.begin() + table.entries[2].offset,
                          [](uint8_t b) { return b == 0; }));

  // Unpacked again, the images hold the edit (the DXT1 one cut to its size).
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  EXPECT_EQ(ReadTestFile(dir / "A/dxt_0_0.dds"), Bytes(dxt.begin(), dxt.end() - 8));
  EXPECT_EQ(ReadTestFile(dir / "A/argb_0_1.dds"), argb);

  // A file of no more than its header changes nothing.
  ASSERT_TRUE(WriteTestFile(dir / "A/dxt_0_0.dds", Bytes(dxt.begin(), dxt.begin() + 128)));
  ASSERT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console));
  EXPECT_EQ(console.find("dxt_0_0.dds"), std::string::npos) << console;
  EXPECT_EQ(MemberBytes(ReadTestFile(dir / "A.dat"), 2), pixels);

  // A data member whose padded size is below its size is split by unfps and
  // copied whole by fps.
  Fps4Layout textures;
  textures.type = "txmv";
  textures.flags = 7;
  textures.members = {Member(PairTxm()), Member(kPairPixels), Member("after")};
  Bytes shortPadded = BuildFps4(textures);
  StoreU32BE(shortPadded.data() + 28 + 12 + 4, 16);
  ASSERT_TRUE(WriteTestFile(dir / "T.dat", shortPadded));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "T.dat"));
  dxt = ReadTestFile(dir / "T/dxt_0_0.dds");
  std::fill(dxt.begin() + 128, dxt.end(), 0xA5);
  ASSERT_TRUE(WriteTestFile(dir / "T/dxt_0_0.dds", dxt));
  ASSERT_TRUE(Quietly(RepackArchive, dir / "T.dat", &console)) << console;
  Bytes expected = kPairPixels;  // the DXT1 image is the first 16 bytes
  std::fill(expected.begin(), expected.begin() + 16, 0xA5);
  EXPECT_EQ(MemberBytes(ReadTestFile(dir / "T.dat"), 1), expected);
  EXPECT_EQ(MemberBytes(ReadTestFile(dir / "T.dat"), 2), ToBytes("after"));
}

// Two members of a long-entry table under one name would share one file:
// neither tool uses that path, so an unedited round trip keeps both.
TEST(RepackArchive, MembersThatShareAPathComeFromTheArchive) {
  Fps4Layout layout;
  layout.entrySize = 32;
  layout.members = {Member("first", "same.dat"), Member("own", "own.dat"), Member("second", "same.dat")};
  const Bytes original = BuildFps4(layout);
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", original));
  std::string console;
  EXPECT_FALSE(Quietly(UnpackArchive, dir / "A.dat", &console));
  for (const char* i : {"0", "2"}) {
    EXPECT_NE(console.find(std::string("member ") + i + " shares the path " + dir.path() + "/A/same.dat"),
              std::string::npos) << console;
  }
  EXPECT_EQ(support::ListTree(dir / "A"), std::vector<std::string>{"own.dat"});
  ASSERT_TRUE(WriteTestFile(dir / "A/same.dat", "edited"));
  EXPECT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console)) << console;
  EXPECT_EQ(ReadTestFile(dir / "A.dat"), original);
}

TEST(RepackArchive, FailuresChangeNoFileAndLeaveNoTemporaryFile) {
  struct Case {
    std::string what;
    std::function<void(const TempDir&)> damage;
    std::string message;
  };
  const Bytes data = support::MixedGameData(200000, 9);
  auto archive = [&] {
    Fps4Layout layout;
    layout.members = {Member("plain member"), Member(CompressTlzc(data)), Member(PairTxm()), Member(kPairPixels),
                      Member(std::string(300000, 'p'))};
    return BuildFps4(layout);
  };
  auto patchArchive = [](const TempDir& dir, size_t at, uint32_t value) {
    Bytes bytes = ReadTestFile(dir / "A.dat");
    StoreU32BE(bytes.data() + at, value);
    WriteTestFile(dir / "A.dat", bytes);
  };
  const Case cases[] = {
      {"damaged table", [&](const TempDir& dir) { patchArchive(dir, 4, 0x10000000); }, "truncated FPS4 entry table"},
      {"member outside", [&](const TempDir& dir) { patchArchive(dir, 28 + 4 * 12 + 8, 0x7FFFFFFF); }, "lies outside"},
      {"member that fails to decompress",
       [&](const TempDir& dir) {
         std::filesystem::remove(dir / "A/A_001.bin");
         Bytes bytes = ReadTestFile(dir / "A.dat");
         StoreU32LE(bytes.data() + 0x1000 + 12, 0xFFFFFFFF);  // member 1's container: far more blocks than it has
         WriteTestFile(dir / "A.dat", bytes);
       },
       "member 1 does not decompress"},
      {"member that fails to decompress, its recovered file kept",
       [&](const TempDir& dir) {
         Bytes bytes = ReadTestFile(dir / "A.dat");
         StoreU32LE(bytes.data() + 0x1000 + 12, 0xFFFFFFFF);
         WriteTestFile(dir / "A.dat", bytes);
       },
       "/A/A_001.bin holds only part of it; nothing was changed"},
      {"type string after the data", [&](const TempDir& dir) { patchArchive(dir, 24, 0x800); },
       "strings after the member data; nothing was changed"},
      {"name string after the data",
       [&](const TempDir& dir) {
         Fps4Layout named;
         named.entrySize = 16;
         named.members = {Member("one", "name=first"), Member("two", "name=second")};
         Bytes bytes = BuildFps4(named);
         StoreU32BE(bytes.data() + 28 + 16 + 12, uint32_t(bytes.size()));
         AppendBytes(bytes, ToBytes(std::string_view("name=moved\0", 11)));
         WriteTestFile(dir / "A.dat", bytes);
         Quietly(UnpackArchive, dir / "A.dat");
         WriteTestFile(dir / "A/moved_001.cmp", "edited");
       },
       "strings after the member data; nothing was changed"},
      {"damaged container inside a compressed member",
       [&](const TempDir& dir) {
         Fps4Layout inner;
         inner.members = {Member("inner one"), Member(support::RandomBytes(150000, 5))};
         Bytes container = CompressTlzc(BuildFps4(inner));
         container.resize(container.size() - 1000);  // the last block cut short: the table is still there
         Fps4Layout outer;
         outer.members = {Member("x"), Member(CompressTlzc(container))};
         std::filesystem::remove_all(dir / "A");
         WriteTestFile(dir / "A.dat", BuildFps4(outer));
         EXPECT_FALSE(Quietly(UnpackArchive, dir / "A.dat"));
         EXPECT_TRUE(std::filesystem::exists(dir / "A/A_001/A_001_000.bin"));
         WriteTestFile(dir / "A/A_001/A_001_000.bin", "edited");
       },
       "member 1 does not decompress"},
      {"unreadable image",
       [](const TempDir& dir) {
         std::filesystem::remove(dir / "A/dxt_2_0.dds");
         std::filesystem::create_directory(dir / "A/dxt_2_0.dds");
       },
       "dxt_2_0.dds"},
      {"image saved in another format",
       [](const TempDir& dir) {
         Bytes image = ReadTestFile(dir / "A/dxt_2_0.dds");
         std::memcpy(image.data() + 84, "DXT5", 4);
         WriteTestFile(dir / "A/dxt_2_0.dds", image);
       },
       "dxt_2_0.dds: saved as DXT5; the texture is DXT1 8x4 without mipmaps"},
  };
  for (const Case& test : cases) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive()));
    ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
    ASSERT_TRUE(WriteTestFile(dir / "A/A_004.bin", "edited"));
    test.damage(dir);
    const auto before = Snapshot(dir.path());
    std::string console;
    EXPECT_FALSE(Quietly(RepackArchive, dir / "A.dat", &console)) << test.what;
    EXPECT_NE(console.find("\nERROR: "), std::string::npos) << test.what << ": " << console;
    EXPECT_NE(console.find(test.message), std::string::npos) << test.what << ": " << console;
    EXPECT_EQ(Snapshot(dir.path()), before) << test.what;
  }

#ifndef _WIN32  // POSIX only: the limit comes from the shell's ulimit
  // A write that fails part-way (a file-size limit below the archive's size).
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive()));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  ASSERT_TRUE(WriteTestFile(dir / "A/A_004.bin", Bytes(400000, 'q')));
  const auto before = Snapshot(dir.path());
  const support::ToolRun limited =
      support::RunTool("sh", {"-c", "ulimit -f 256 && exec \"$0\" fps A.dat", FPSKIT_BINARY}, dir.path());
  EXPECT_EQ(limited.status, 1) << limited.output;
  EXPECT_NE(limited.output.find("\nERROR: can't write A.dat: File too large"), std::string::npos) << limited.output;
  EXPECT_EQ(Snapshot(dir.path()), before);

  // A directory where no new file can be created (immutable even for root).
  if (std::system(("chattr +i '" + dir.path() + "' 2>/dev/null").c_str()) == 0) {
    const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
    std::system(("chattr -i '" + dir.path() + "'").c_str());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("\nERROR: can't write A.dat: "), std::string::npos) << run.output;
    EXPECT_EQ(Snapshot(dir.path()), before);
  }
#endif
}

// The whole of a translator's work through the command line: unpack, dump a
// chat member found in the tree, translate a line, write it back, edit an
// image, repack, and unpack again.
TEST(RepackArchive, ATranslatorsRoundTripThroughTheCommandLine) {
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("Mina", "konnichiwa", "Hello there.");
  Fps4Layout layout;
  layout.members = {Member("before"), Member(CompressTlzc(chat.Build())), Member(PairTxm()), Member(kPairPixels)};
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "field.dat", BuildFps4(layout)));
  auto run = [&](std::vector<std::string> arguments) {
    const support::ToolRun result = support::RunTool(FPSKIT_BINARY, arguments, dir.path());
    EXPECT_EQ(result.status, 0) << arguments[0] << ": " << result.output;
    return result.output;
  };
  run({"unfps", "field.dat"});
  // The compressed member is named by its container; its file holds the chat.
  run({"uncht", "field/field_001.bin"});
  std::string dump = support::ToString(ReadTestFile(dir / "field/field_001.txt"));
  const size_t line = dump.find("[EN]: Hello there.");
  ASSERT_NE(line, std::string::npos) << dump;
  dump.replace(line, 18, "[EN]: Good evening, friend.");
  ASSERT_TRUE(WriteTestFile(dir / "field/field_001.txt", dump));
  run({"cht", "field/field_001.bin"});
  Bytes image = ReadTestFile(dir / "field/dxt_2_0.dds");
  std::fill(image.begin() + 128, image.end(), 0x5A);
  ASSERT_TRUE(WriteTestFile(dir / "field/dxt_2_0.dds", image));
  EXPECT_EQ(run({"fps", "field.dat"}), "\n+ field/field_000.bin\n+ field/field_001.bin\n+ field/dxt_2_0.dds\n"
                                       "+ field/argb_2_1.dds\n");

  std::filesystem::remove_all(dir / "field");
  run({"unfps", "field.dat"});
  run({"uncht", "field/field_001.bin"});
  EXPECT_NE(support::ToString(ReadTestFile(dir / "field/field_001.txt")).find("[EN]: Good evening, friend.\r\n"),
            std::string::npos);
  EXPECT_EQ(ReadTestFile(dir / "field/dxt_2_0.dds"), image);
}

}  // namespace
}  // namespace fpskit
