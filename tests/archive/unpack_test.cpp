#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "archive/format.h"
#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/recording_reporter.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "tools/archive/archive_tools.h"
#include "util/paths.h"

namespace fpskit {
namespace {

using support::BuildFps4;
using support::Fps4Layout;
using support::Fps4Member;
using support::Member;
using support::ReadTestFile;
using support::TempDir;
using support::ToBytes;
using support::WriteTestFile;

ArchiveTable Table(const Bytes& archive, const std::string& baseName = "A") {
  ArchiveTable table;
  EXPECT_TRUE(ParseArchiveTable(ByteSource::InMemory(archive), baseName, table).ok());
  return table;
}

// The member names the unpacker gives, after the content tests, and the
// texture marks.
std::vector<std::string> Names(const Bytes& archive, std::vector<bool>* marks = nullptr) {
  const ArchiveTable table = Table(archive);
  std::vector<std::string> names;
  for (size_t i = 0; i < table.entries.size(); ++i) {
    if (IsSkippedEntry(table, i)) {
      names.push_back("-");
      continue;
    }
    const MemberHead head = PeekMemberHead(ByteSource::InMemory(archive), table.entries[i]);
    std::string name = MemberFileName(table, "A", i);
    const bool mark = SniffMember(head, table, i, name);
    if (marks) marks->push_back(mark);
    names.push_back(name);
  }
  return names;
}

Bytes MemberBytesOf(const Bytes& archive, size_t i) {
  const ArchiveEntry entry = Table(archive).entries.at(i);
  return Bytes(archive.begin() + entry.offset, archive.begin() + entry.offset + entry.size);
}

struct Unpacked {
  bool ok = false;
  std::string console;
  std::string notices;  // standard error's lines
};

// Runs a tool with its console text recorded.
Unpacked Record(bool (*tool)(const std::string&), const std::string& path) {
  support::RecordingReporter console;
  Unpacked result;
  result.ok = tool(path);
  result.console = console.output();
  result.notices = console.notices();
  return result;
}

Unpacked Unpack(const std::string& path) { return Record(UnpackArchive, path); }

// A TXM member with one DXT1 texture of 8 x 4 pixels (16 bytes) and its data.
Bytes SmallTxm(const std::string& name = "tex") {
  support::TxmLayout txm;
  txm.textures.push_back({8, 4, 1, 1, support::TxmFormatBytes(6, 4), name, 0});
  return support::BuildTxm(txm);
}

const std::string kPixels = "0123456789abcdef";

TEST(ArchiveNames, EveryEntryLayoutNamesItsMembers) {
  Fps4Layout twelve;  // no type string: "bin"
  twelve.members = {Member("plain"), Member(std::string("TSS\0code", 8))};
  EXPECT_EQ(Names(BuildFps4(twelve)), (std::vector<std::string>{"A_000.bin", "A_001.TSS"}));

  Fps4Layout eight;
  eight.entrySize = 8;
  eight.type = "dat";
  eight.members = {Member("one"), Member("two")};
  EXPECT_EQ(Names(BuildFps4(eight)), (std::vector<std::string>{"A_000.dat", "A_001.dat"}));

  Fps4Layout sixteen;
  sixteen.entrySize = 16;
  sixteen.members = {Member("a", "name=ui/Title x=1"), Member("b"), Member("c", "xname=ABC"), Member("d", "name="),
                     Member("e", "dir\\sub.bin"), Member(std::string("ZK6CHTX\0", 8), "name=talk")};
  EXPECT_EQ(Names(BuildFps4(sixteen)), (std::vector<std::string>{"Title_000.cmp", "A_001.cmp", "xname=ABC_002.cmp",
                                                                 "_003.cmp", "sub.bin_004.cmp", "talk_005.ZK6CHTX"}));

  Fps4Layout twenty;
  twenty.entrySize = 20;
  twenty.members = {Member("x", "ABCD"), Member("y"), Member(std::string("ZK6CHTX\0", 8)),
                    Member(std::string("ZK6CHTX\0", 8), "txt")};
  EXPECT_EQ(Names(BuildFps4(twenty)), (std::vector<std::string>{"A_000.ABCD", "A_001.prt", "A_002.ZK6CHTX", "A_003.txt"}));

  Fps4Layout named;  // long entries: the name as it stands, no content test
  named.entrySize = 44;
  named.members = {Member(std::string("TSS\0", 4), "script.bin"), Member("b", "sub\\deep/file.dat")};
  EXPECT_EQ(Names(BuildFps4(named)), (std::vector<std::string>{"script.bin", "sub/deep/file.dat"}));

  Fps4Layout shortLayout;  // flags 0x8D: size at 4, name from 8, offset 0 = no member
  shortLayout.entrySize = 24;
  shortLayout.flags = 0x8D;
  shortLayout.alignment = 1;
  shortLayout.members = {Member("abc", "first.bin"), Member("", "gone.bin"), Member("xyz", "last.bin")};
  shortLayout.members[1].offsetOverride = 0;
  const Bytes archive = BuildFps4(shortLayout);
  EXPECT_EQ(Names(archive), (std::vector<std::string>{"first.bin", "-", "last.bin"}));
  EXPECT_EQ(Table(archive).entries[2].size, 3u);
}

TEST(ArchiveNames, ContentTestsRenameInTheirOrder) {
  constexpr uint32_t kHeadLength = UINT32_MAX;  // the member is as long as the head
  struct Case {
    std::string head;
    uint32_t size;
    std::string name;
    bool mark;
  };
  const std::string txm("\0\2\0\0\0\0\0\x10\0\0\0\x04", 12);  // length 16, version 4
  const Case cases[] = {
      {"Z6BTEMEG", kHeadLength, "A_000.Z6BTEMEG", false},
      {std::string("ZK6CHTX\0", 8), kHeadLength, "A_000.ZK6CHTX", false},
      {"ZK6CHTXa", kHeadLength, "A_000.bin", false},
      {std::string("COOKDAT\0", 8), kHeadLength, "A_000.COOKDAT", false},
      {std::string("Z6BTBG\0\0", 8), kHeadLength, "A_000.Z6BTBG", false},
      {std::string("Z6BTVA\0\0", 8), kHeadLength, "A_000.Z6BTVA", false},
      {std::string("ZK6CHL\0\0", 8), kHeadLength, "A_000.ZK6CHL", false},
      {"Z6BTxyzw", kHeadLength, "A_000.Z6BT", false},
      {"SE3 data", kHeadLength, "A_000.SE3", false},
      {std::string("SWG\0", 4), kHeadLength, "A_000.SWG", false},
      {std::string("TSS\0", 4), kHeadLength, "A_000.TSS", false},
      {txm + "pad4", 16, "A_000.TXM", true},
      {txm + "pad4", 20, "A_000.bin", false},  // the length word differs from the size
      {std::string("\0\2\0\0\0\0\0\x10\0\0\0\x05pad4", 16), 16, "A_000.bin", false},  // no such version
      // Size 0: the first four bytes count as zero, the eight at the offset still count.
      {std::string("TSS\0", 4), 0, "A_000.bin", false},
      {std::string("ZK6CHTX\0", 8), 0, "A_000.ZK6CHTX", false},
  };
  for (size_t c = 0; c < std::size(cases); ++c) {
    const Case& test = cases[c];
    ArchiveTable table;
    table.header.entrySize = 12;
    table.typeString = "bin";
    const uint32_t size = test.size == kHeadLength ? uint32_t(test.head.size()) : test.size;
    table.entries = {{0, 0, size, ""}, {0, 0, 4, ""}};
    MemberHead head{};
    std::copy_n(test.head.begin(), std::min(test.head.size(), head.size()), head.begin());
    std::string name = MemberFileName(table, "A", 0);
    EXPECT_EQ(SniffMember(head, table, 0, name), test.mark) << c;
    EXPECT_EQ(name, test.name) << c;
  }
}

TEST(ArchiveNames, TextureMarksFromEntriesAndTheirExceptions) {
  const Bytes txm = SmallTxm();
  Fps4Layout twenty;
  twenty.entrySize = 20;
  twenty.members = {Member("h", "TEX"), Member("d", "DAT"), Member("h", "TEX"), Member("d", "DMY"),
                    {txm, std::nullopt, false, std::nullopt}, Member("d"), Member("h", "TEXT")};
  std::vector<bool> marks;
  Names(BuildFps4(twenty), &marks);
  // TEX marks; TEX before DMY does not; the content test marks; the last member never.
  EXPECT_EQ(marks, (std::vector<bool>{true, false, false, false, true, false, false}));

  // 8-byte tables: a TXM whose next entry continues it is no pair (its size
  // reaches over the continuation, so the TXM's length field is set to match).
  for (const bool continued : {false, true}) {
    Bytes header = txm;
    StoreU32BE(header.data() + 4, uint32_t(txm.size() + (continued ? 1 : 0)));
    Fps4Layout eight;
    eight.entrySize = 8;
    eight.members = {{header, std::nullopt, false, std::nullopt}, Member("c"), Member("e")};
    eight.members[1].continuation = continued;
    marks.clear();
    EXPECT_EQ(Names(BuildFps4(eight), &marks)[0], "A_000.TXM");
    EXPECT_EQ(marks, (std::vector<bool>{!continued, false, false}));
  }
}

TEST(ArchiveTable, EightByteSizesRunOverContinuationEntries) {
  std::vector<ArchiveEntry> entries = {{0x100, 0, 0, ""}, {0x200, 1, 0, ""},     {0x300, 1, 0, ""},
                                       {0x400, 0, 0, ""}, {0, 0, 0, ""},         {kNoMember, 0, 0, ""},
                                       {0x480, 0, 0, ""}, {0x490, 1, 0, ""}};
  EXPECT_TRUE(ComputeEightByteSizes(entries, 0x500).empty());
  std::vector<uint32_t> sizes;
  for (const ArchiveEntry& entry : entries) sizes.push_back(entry.size);
  // 0x400 reaches over the entries without data (offsets 0 and 0xFFFFFFFF) to 0x480.
  EXPECT_EQ(sizes, (std::vector<uint32_t>{0x300, 0, 0, 0x80, 0, 0, 0x80, 0}));

  // An offset beyond the next one's costs only that entry its size.
  std::vector<ArchiveEntry> backwards = {{0x300, 0, 0, ""}, {0x200, 0, 0, ""}, {0x280, 0, 0, ""}};
  EXPECT_EQ(ComputeEightByteSizes(backwards, 0x400), std::vector<size_t>{0});
  EXPECT_EQ(backwards[0].size, 0u);
  EXPECT_EQ(backwards[1].size, 0x80u);
  EXPECT_EQ(backwards[2].size, 0x180u);
}

// An 8-byte table entry whose offset lies beyond the next one's loses only
// its own member; fps will not rebuild such a table.
TEST(UnpackArchive, AnEightByteEntryOutOfOrderLosesOnlyItsMember) {
  Fps4Layout eight;
  eight.entrySize = 8;
  eight.members = {Member("aa"), Member("bb"), Member("cc")};
  Bytes archive = BuildFps4(eight);
  StoreU32BE(archive.data() + 28, 0x803);  // beyond "bb" at 0x802
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  const Unpacked result = Unpack(dir / "A.dat");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.console.find("A.dat: FPS4 entry 0 at 0x803 lies beyond the entry after it"), std::string::npos)
      << result.console;
  EXPECT_EQ(support::ListDirectory(dir / "A"), (std::vector<std::string>{"A_001.bin", "A_002.bin"}));
  EXPECT_EQ(ReadTestFile(dir / "A/A_001.bin"), ToBytes("bb"));

  const auto before = support::ListTree(dir.path());
  const Unpacked repacked = Record(RepackArchive, dir / "A.dat");
  EXPECT_FALSE(repacked.ok);
  EXPECT_NE(repacked.console.find("damaged FPS4 entry table; nothing was changed"), std::string::npos)
      << repacked.console;
  EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  EXPECT_EQ(support::ListTree(dir.path()), before);
}

TEST(UnpackArchive, WritesEveryMemberBesideTheArchiveAndPrintsItsPath) {
  TempDir dir;
  std::filesystem::create_directory(dir / "dir");
  Fps4Layout layout;
  layout.members = {Member("first"), Member(std::string("TSS\0script", 10)), Member("")};
  layout.members.push_back({ToBytes("never"), std::nullopt, false, kNoMember});
  ASSERT_TRUE(WriteTestFile(dir / "dir/A.dat", BuildFps4(layout)));

  const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"unfps", "dir/A.dat"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "\ndir/A/A_000.bin\ndir/A/A_001.TSS\ndir/A/A_002.bin\n");
  EXPECT_EQ(support::ListTree(dir / "dir"),
            (std::vector<std::string>{"A.dat", "A/", "A/A_000.bin", "A/A_001.TSS", "A/A_002.bin"}));
  EXPECT_EQ(ReadTestFile(dir / "dir/A/A_001.TSS"), ToBytes(std::string("TSS\0script", 10)));

  // A name without '.' unpacks into the name with "_"; only the closing entry: nothing.
  Fps4Layout empty;
  ASSERT_TRUE(WriteTestFile(dir / "EMPTY", BuildFps4(empty)));
  EXPECT_EQ(support::RunTool(FPSKIT_BINARY, {"unfps", "EMPTY"}, dir.path()).status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "EMPTY_"));
  ASSERT_TRUE(WriteTestFile(dir / "PLAIN", BuildFps4(layout)));
  EXPECT_EQ(support::RunTool(FPSKIT_BINARY, {"unfps", "PLAIN"}, dir.path()).status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "PLAIN_/PLAIN__000.bin"));
}

TEST(UnpackArchive, NestedArchivesThreeDeepOneInsideATlzcMember) {
  Fps4Layout innermost;
  innermost.members = {Member("deepest")};
  Fps4Layout third;
  third.members = {Member("third"), {BuildFps4(innermost), std::nullopt, false, std::nullopt}};
  Fps4Layout second;
  second.members = {{CompressTlzc(BuildFps4(third)), std::nullopt, false, std::nullopt}, Member("second")};
  Fps4Layout top;
  top.members = {Member("top"), {BuildFps4(second), std::nullopt, false, std::nullopt}};
  const Bytes archive = BuildFps4(top);

  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  const Unpacked bare = Unpack(dir / "A.dat");
  EXPECT_TRUE(bare.ok) << bare.console;
  const std::vector<std::string> tree = {"A.dat",
                                         "A/",
                                         "A/A_000.bin",
                                         "A/A_001/",
                                         "A/A_001/A_001_000/",
                                         "A/A_001/A_001_000/A_001_000_000.bin",
                                         "A/A_001/A_001_000/A_001_000_001/",
                                         "A/A_001/A_001_000/A_001_000_001/A_001_000_001_000.bin",
                                         "A/A_001/A_001_001.bin"};
  EXPECT_EQ(support::ListTree(dir.path()), tree);
  EXPECT_EQ(ReadTestFile(dir / "A/A_001/A_001_000/A_001_000_001/A_001_000_001_000.bin"), ToBytes("deepest"));
  // Nested archives print no line of their own.
  const std::string base = dir.path() + "/A/";
  EXPECT_EQ(bare.console, "\n" + base + "A_000.bin\n" + base + "A_001/A_001_000/A_001_000_000.bin\n" + base +
                              "A_001/A_001_000/A_001_000_001/A_001_000_001_000.bin\n" + base + "A_001/A_001_001.bin");

  // The same archive in a TLZC container unpacks alike and leaves nothing beside it.
  TempDir wrapped;
  ASSERT_TRUE(WriteTestFile(wrapped / "A.dat", CompressTlzc(archive)));
  EXPECT_TRUE(Unpack(wrapped / "A.dat").ok);
  EXPECT_EQ(support::ListTree(wrapped.path()), tree);

  // A container cut short: what it still holds is unpacked, and the run fails.
  Fps4Layout large;
  large.members = {Member("small"), {support::MixedGameData(400000, 5), std::nullopt, false, std::nullopt}};
  Bytes cut = CompressTlzc(BuildFps4(large));
  cut.resize(cut.size() / 2);
  TempDir truncated;
  ASSERT_TRUE(WriteTestFile(truncated / "A.dat", cut));
  const Unpacked partial = Unpack(truncated / "A.dat");
  EXPECT_FALSE(partial.ok);
  EXPECT_NE(partial.console.find("\nDECOMPRESS FAILED\n"), std::string::npos) << partial.console;
  EXPECT_EQ(ReadTestFile(truncated / "A/A_000.bin"), ToBytes("small"));
}

TEST(UnpackArchive, TexturePairsBecomeImagesByEntryAndByContent) {
  const Bytes txm = SmallTxm();
  const Bytes pixels = ToBytes(kPixels);
  auto expectImage = [&](const std::string& path) {
    const Bytes image = ReadTestFile(path);
    ASSERT_EQ(image.size(), 128 + pixels.size()) << path;
    EXPECT_EQ(Bytes(image.begin() + 128, image.end()), pixels) << path;
  };

  // By content in a 12-byte table; a compressed member stays a file whatever it holds.
  TempDir dir;
  Fps4Layout content;
  content.members = {Member("before"), {txm, std::nullopt, false, std::nullopt}, {pixels, std::nullopt, false, std::nullopt},
                     {CompressTlzc(txm), std::nullopt, false, std::nullopt}, Member("after")};
  ASSERT_TRUE(WriteTestFile(dir / "T.dat", BuildFps4(content)));
  const Unpacked byContent = Unpack(dir / "T.dat");
  EXPECT_TRUE(byContent.ok) << byContent.console;
  EXPECT_EQ(support::ListDirectory(dir / "T"),
            (std::vector<std::string>{"T_000.bin", "T_003.bin", "T_004.bin", "tex_1_0.dds"}));
  EXPECT_NE(byContent.console.find("\n" + dir.path() + "/T/tex_1_0.dds"), std::string::npos);
  expectImage(dir / "T/tex_1_0.dds");
  EXPECT_EQ(ReadTestFile(dir / "T/T_003.bin"), txm);

  // Long entries: an "SPV" member between the TXM and its data is written
  // under its own name after the pair.
  Fps4Layout spv;
  spv.entrySize = 32;
  spv.members = {{txm, "t.TXM", false, std::nullopt}, Member("spv bytes", "s.SPV"), {pixels, "d.bin", false, std::nullopt},
                 {txm, "u.TXM", false, std::nullopt}, Member("spv", "v.SPV")};
  ASSERT_TRUE(WriteTestFile(dir / "S.dat", BuildFps4(spv)));
  const Unpacked exchanged = Unpack(dir / "S.dat");
  EXPECT_TRUE(exchanged.ok) << exchanged.console;
  // The last TXM has only the "SPV" member after it: both are plain files.
  EXPECT_EQ(support::ListDirectory(dir / "S"), (std::vector<std::string>{"s.SPV", "tex_0_0.dds", "u.TXM", "v.SPV"}));
  EXPECT_EQ(ReadTestFile(dir / "S/s.SPV"), ToBytes("spv bytes"));
  expectImage(dir / "S/tex_0_0.dds");

  // A texture archive pairs its members without any mark.
  Fps4Layout textures;
  textures.entrySize = 16;
  textures.type = "txmv";
  textures.flags = 7;
  textures.members = {{SmallTxm("one"), "name=a", false, std::nullopt}, {pixels, "name=b", false, std::nullopt},
                      {SmallTxm("two"), "name=c", false, std::nullopt}, {pixels, "name=d", false, std::nullopt}};
  ASSERT_TRUE(WriteTestFile(dir / "X.txv", BuildFps4(textures)));
  EXPECT_TRUE(Unpack(dir / "X.txv").ok);
  EXPECT_EQ(support::ListDirectory(dir / "X"), (std::vector<std::string>{"one_0_0.dds", "two_2_0.dds"}));
}

// Unpacking over an earlier run writes only the files that differ from what
// it would write; the others keep their very file (an old time stays).
TEST(UnpackArchive, AgainOverItsDirectoryWritesOnlyWhatDiffers) {
  TempDir dir;
  const Bytes packed = support::MixedGameData(3 * TlzcBlockSize + 77, 41);
  Fps4Layout layout;
  layout.members = {Member("plain member"), {CompressTlzc(packed), std::nullopt, false, std::nullopt},
                    {support::TlzcZlibContainer(packed), std::nullopt, false, std::nullopt},
                    {SmallTxm(), std::nullopt, false, std::nullopt}, {ToBytes(kPixels), std::nullopt, false, std::nullopt},
                    Member("kept member")};
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  const Unpacked first = Unpack(dir / "A.dat");
  ASSERT_TRUE(first.ok) << first.console;
  const std::vector<std::string> files = {"A_000.bin", "A_001.bin", "A_002.bin", "A_005.bin", "tex_3_0.dds"};
  ASSERT_EQ(support::ListDirectory(dir / "A"), files);
  std::map<std::string, Bytes> written;
  for (const std::string& name : files) written[name] = ReadTestFile(dir / ("A/" + name));

  // Same lengths, other bytes: late in the LZMA member, early in the zlib
  // member, in the image's pixels; one file gone.
  auto edit = [&](const std::string& name, size_t at) {
    Bytes bytes = written[name];
    bytes[at] ^= 0x55;
    ASSERT_TRUE(WriteTestFile(dir / ("A/" + name), bytes));
  };
  edit("A_001.bin", packed.size() - 3);
  edit("A_002.bin", 10);
  edit("tex_3_0.dds", 130);
  std::filesystem::remove(dir / "A/A_000.bin");
  // The times are read back as set: a file system keeps them at its own
  // resolution (100 ns on Windows), coarser than the clock's.
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::map<std::string, std::filesystem::file_time_type> before;
  for (const std::string& name : files) {
    if (name == "A_000.bin") continue;
    std::filesystem::last_write_time(dir / ("A/" + name), old);
    before[name] = std::filesystem::last_write_time(dir / ("A/" + name));
  }

  const Unpacked again = Unpack(dir / "A.dat");
  EXPECT_TRUE(again.ok) << again.console;
  EXPECT_EQ(again.console, first.console);
  for (const std::string& name : files) {
    EXPECT_EQ(ReadTestFile(dir / ("A/" + name)), written[name]) << name;
    const bool rewritten = name != "A_005.bin";
    if (name == "A_000.bin") continue;
    EXPECT_EQ(std::filesystem::last_write_time(dir / ("A/" + name)) != before[name], rewritten) << name;
  }
  // The edited files are kept as backups (see the next test).
  EXPECT_EQ(support::ListDirectory(dir / "A"),
            (std::vector<std::string>{"A_000.bin", "A_001.bin", "A_001.bin.bak", "A_002.bin", "A_002.bin.bak",
                                      "A_005.bin", "tex_3_0.dds", "tex_3_0.dds.bak"}));
}

// A member file or image the translator edited survives the next unpack
// as NAME.bak, with one note on standard error each; an unedited file, or
// one that is not there, makes none.
TEST(UnpackArchive, EditedFilesAreKeptAsBackupsWhenUnpackedAgain) {
  TempDir dir;
  const Bytes packed = support::MixedGameData(2 * TlzcBlockSize + 5, 7);
  Fps4Layout layout;
  layout.members = {Member("plain member"), {CompressTlzc(packed), std::nullopt, false, std::nullopt},
                    {SmallTxm(), std::nullopt, false, std::nullopt}, {ToBytes(kPixels), std::nullopt, false, std::nullopt},
                    Member("kept member"), Member("removed member")};
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  const Unpacked first = Unpack(dir / "A.dat");
  ASSERT_TRUE(first.ok) << first.console;

  struct Case {
    std::string file;
    bool edited;
    size_t at;  // the byte changed, or past the end: bytes appended
  };
  const std::vector<Case> cases = {
      {"A_000.bin", true, 100},          // a plain member, longer now
      {"A_001.bin", true, 2 * TlzcBlockSize},  // a compressed member, same length
      {"tex_2_0.dds", true, 130},        // an image's pixels
      {"A_004.bin", false, 0},           // unedited
      {"A_005.bin", false, 0},           // removed: written fresh
  };
  std::map<std::string, Bytes> unpacked, edits;
  for (const Case& c : cases) {
    const std::string path = dir / ("A/" + c.file);
    Bytes bytes = unpacked[c.file] = ReadTestFile(path);
    if (c.edited && c.at < bytes.size()) bytes[c.at] ^= 0x55;
    if (c.edited && c.at >= bytes.size()) AppendBytes(bytes, ToBytes(" and the translator's words"));
    edits[c.file] = bytes;
    if (c.file == "A_005.bin") {
      std::filesystem::remove(path);
    } else {
      ASSERT_TRUE(WriteTestFile(path, bytes));
    }
  }

  const Unpacked again = Unpack(dir / "A.dat");
  const std::string& notes = again.notices;
  EXPECT_TRUE(again.ok) << again.console;
  EXPECT_EQ(again.console, first.console);
  for (const Case& c : cases) {
    const std::string path = dir / ("A/" + c.file);
    const std::string note = "NOTE: " + path + " differs from what is written over it now; the earlier file is kept as " +
                             path + ".bak";
    EXPECT_EQ(std::filesystem::exists(path + ".bak"), c.edited) << c.file;
    if (c.edited) {
      EXPECT_EQ(ReadTestFile(path + ".bak"), edits[c.file]) << c.file;
    }
    EXPECT_EQ(ReadTestFile(path), unpacked[c.file]) << c.file;
    const size_t found = notes.find(note);
    EXPECT_EQ(found != std::string::npos, c.edited) << notes;
    if (found != std::string::npos) {
      EXPECT_EQ(notes.find(note, found + 1), std::string::npos) << notes;
    }
  }
  // A third run over the unpacked files keeps the backups as they are.
  const Unpacked third = Unpack(dir / "A.dat");
  EXPECT_TRUE(third.ok);
  EXPECT_EQ(third.notices, "");
}

TEST(UnpackArchive, BrokenHeadersAndTablesWriteNothing) {
  const Bytes good = [] {
    Fps4Layout layout;
    layout.members = {Member("abc")};
    return BuildFps4(layout);
  }();
  auto with = [&](size_t at, uint32_t value) {
    Bytes bytes = good;
    StoreU32BE(bytes.data() + at, value);
    return bytes;
  };
  Fps4Layout names;
  names.entrySize = 16;
  names.alignment = 1;
  names.members = {Member("abc", "n")};
  Bytes unterminated = BuildFps4(names);
  StoreU32BE(unterminated.data() + 28 + 12, uint32_t(unterminated.size() - 2));  // "bc", no zero after it
  Bytes pointerOutside = unterminated;
  StoreU32BE(pointerOutside.data() + 28 + 12, 0x10000);
  Bytes entrySize = good;
  StoreU16BE(entrySize.data() + 16, 10);
  names.members = {Member("abc", std::string(kLongestNameString + 1, 'n'))};
  const Bytes longName = BuildFps4(names);

  using enum ArchiveError;
  struct Case {
    const char* what;
    Bytes bytes;
    std::string message;
    ArchiveError error;  // what the table's parse says (kNone: no archive to parse)
  };
  const Case cases[] = {
      {"empty file", {}, "\nERROR: Not a FPS4 archive", kNone},
      {"other magic", ToBytes("FPS3 and more bytes"), "\nERROR: Not a FPS4 archive", kNone},
      {"short header", Bytes(good.begin(), good.begin() + 20), "truncated FPS4 header", kTruncatedHeader},
      {"entry count 0", with(4, 0), "FPS4 entry count is 0", kNoEntries},
      {"table beyond the end", with(4, 0x10000000), "truncated FPS4 entry table (268435456 entries of 12 bytes)",
       kTruncatedTable},
      {"entry size", entrySize, "unsupported FPS4 entry size 10", kUnsupportedEntrySize},
      {"type string outside", with(24, uint32_t(good.size() - 2)), "type string at 0xFFE lies outside the archive",
       kTypeStringOutside},
      {"name without zero", unterminated, "has no terminating zero", kNameStringUnterminated},
      {"name without zero in 4 KiB", longName, "has no terminating zero in its first 4 KiB", kNameStringTooLong},
      {"name outside", pointerOutside, "name string at 0x10000 lies outside the archive", kNameStringOutside},
      {"container of no archive", CompressTlzc(ToBytes("just some text")), "\nERROR: Not a FPS4 archive", kNone},
  };
  for (const Case& test : cases) {
    if (HasMagic(test.bytes, kArchiveMagic)) {
      ArchiveTable table;
      EXPECT_EQ(ParseArchiveTable(ByteSource::InMemory(test.bytes), "A", table).error, test.error) << test.what;
    }
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", test.bytes));
    const Unpacked result = Unpack(dir / "A.dat");
    EXPECT_FALSE(result.ok) << test.what;
    // The message is the last thing printed.
    EXPECT_TRUE(result.console.ends_with(test.message)) << test.what << ": " << result.console;
    EXPECT_EQ(support::ListDirectory(dir.path()), std::vector<std::string>{"A.dat"}) << test.what;
  }
  const support::ToolRun missing = support::RunTool(FPSKIT_BINARY, {"unfps", "/nonexistent/A.dat"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output, "\nCan't open /nonexistent/A.dat\n");
}

TEST(UnpackArchive, MemberFaultsAreReportedAndEveryOtherMemberIsWritten) {
  const Bytes data = support::MixedGameData(200000, 7);
  Bytes broken = CompressTlzc(data);
  broken.resize(broken.size() / 2);
  Fps4Layout layout;
  layout.entrySize = 40;
  layout.members = {Member("ok", "sub/dir/kept.bin"), Member("x", "../escape.bin"), Member("x", "/abs.bin"),
                    Member("x", "C:drive.bin"),      {broken, "cut.bin", false, std::nullopt},
                    Member("x", "outside.bin"),      Member("x", ""),  Member("end", "last.bin")};
  layout.members[5].offsetOverride = 0x7FFFFFF0;
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(layout)));
  const Unpacked result = Unpack(dir / "A.dat");
  EXPECT_FALSE(result.ok);
  for (const char* message : {"../escape.bin would leave", "/abs.bin would leave", "C:drive.bin would leave",
                              "\nDECOMPRESS FAILED\n", "member 5 (0x1 bytes at 0x7FFFFFF0) lies outside",
                              "member 6 has an empty member name; not written"}) {
    EXPECT_NE(result.console.find(message), std::string::npos) << message << " in " << result.console;
  }
  EXPECT_EQ(support::ListTree(dir.path()), (std::vector<std::string>{"A.dat", "A/", "A/cut.bin", "A/last.bin", "A/sub/",
                                                                     "A/sub/dir/", "A/sub/dir/kept.bin"}));
  // The damaged member's file holds what was recovered: a true prefix of its data.
  const Bytes recovered = ReadTestFile(dir / "A/cut.bin");
  EXPECT_GT(recovered.size(), 0u);
  EXPECT_LT(recovered.size(), data.size());
  EXPECT_TRUE(std::equal(recovered.begin(), recovered.end(), data.begin()));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/../escape.bin"));
}

TEST(UnpackArchive, ANestedArchiveWhoseTableIsBrokenIsKeptAsAFile) {
  Fps4Layout inner;
  inner.members = {Member("abc")};
  Bytes nested = BuildFps4(inner);
  StoreU32BE(nested.data() + 4, 0);  // entry count 0
  Fps4Layout outer;
  outer.members = {{nested, std::nullopt, false, std::nullopt}, Member("next")};
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", BuildFps4(outer)));
  const Unpacked result = Unpack(dir / "A.dat");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.console.find("A_000.bin: FPS4 entry count is 0"), std::string::npos) << result.console;
  EXPECT_EQ(ReadTestFile(dir / "A/A_000.bin"), nested);
  EXPECT_EQ(ReadTestFile(dir / "A/A_001.bin"), ToBytes("next"));
}

// A nested archive named with a subdirectory unpacks below it; one whose
// directory cannot be made (a file stands there) stays a file. "fps" finds
// both again.
TEST(UnpackArchive, ANestedArchiveNamedWithASubdirectory) {
  Fps4Layout inner;
  inner.members = {Member("inside")};
  const Bytes nested = BuildFps4(inner);
  Fps4Layout outer;
  outer.entrySize = 32;
  outer.members = {Member("x", "blk/in"), {nested, "blk/in.dat", false, std::nullopt},
                   {nested, "sub/inner.dat", false, std::nullopt}};
  const Bytes archive = BuildFps4(outer);
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  const Unpacked result = Unpack(dir / "A.dat");
  // The file "blk/in" and the directory of "blk/in.dat" would be one path:
  // neither is written.
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.console.find("member 1 shares the path " + dir.path() + "/A/blk/in.dat"), std::string::npos)
      << result.console;
  EXPECT_EQ(support::ListTree(dir / "A"), (std::vector<std::string>{"sub/", "sub/inner/", "sub/inner/inner_000.bin"}));

  EXPECT_TRUE(Record(RepackArchive, dir / "A.dat").ok);
  EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  ASSERT_TRUE(WriteTestFile(dir / "A/sub/inner/inner_000.bin", "edited"));
  const Unpacked repacked = Record(RepackArchive, dir / "A.dat");
  EXPECT_TRUE(repacked.ok);
  EXPECT_NE(repacked.console.find("\n+ " + dir.path() + "/A/sub/inner/inner_000.bin"), std::string::npos)
      << repacked.console;
  std::filesystem::remove_all(dir / "A");
  EXPECT_FALSE(Unpack(dir / "A.dat").ok);
  EXPECT_EQ(ReadTestFile(dir / "A/sub/inner/inner_000.bin"), ToBytes("edited"));
}

// A texture header whose data entry has no member is a plain member; a pair
// whose TXM does not parse, or whose data member lies outside the archive, is
// kept as plain files, and "fps" reports the same damage and changes nothing.
TEST(UnpackArchive, TexturePairsThatCannotBeSplitAreKeptAsFiles) {
  const Bytes txm = SmallTxm();
  const Bytes pixels = ToBytes(kPixels);
  Fps4Layout shortLayout;  // flags 0x8D: offset 0 = no member
  shortLayout.entrySize = 24;
  shortLayout.flags = 0x8D;
  shortLayout.alignment = 1;
  shortLayout.members = {{txm, "t.TXM", false, std::nullopt}, Member("", "d.bin"), Member("z", "z.bin")};
  shortLayout.members[1].offsetOverride = 0;
  Fps4Layout twenty;  // offset 0xFFFFFFFF = no member
  twenty.entrySize = 20;
  twenty.members = {{txm, "TEX", false, std::nullopt}, Member("", "DAT"), Member("z")};
  twenty.members[1].offsetOverride = kNoMember;
  for (const Fps4Layout& layout : {shortLayout, twenty}) {
    TempDir dir;
    const Bytes archive = BuildFps4(layout);
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
    const Unpacked result = Unpack(dir / "A.dat");
    EXPECT_TRUE(result.ok) << result.console;
    const std::vector<std::string> files = support::ListDirectory(dir / "A");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(ReadTestFile(dir / ("A/" + files[0])), txm) << files[0];
    EXPECT_TRUE(Record(RepackArchive, dir / "A.dat").ok);
    EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  }

  Fps4Layout pair;
  pair.members = {{txm, std::nullopt, false, std::nullopt}, {pixels, std::nullopt, false, std::nullopt}, Member("z")};
  Bytes unparsable = BuildFps4(pair);
  StoreU32BE(unparsable.data() + 0x800 + 12, 1000);  // 1000 records in the TXM
  Bytes outside = BuildFps4(pair);
  StoreU32BE(outside.data() + 28 + 12, 0x7FFFFFF0);  // the data member's offset
  struct Case {
    Bytes archive;
    std::string message;
    std::vector<std::string> files;
  };
  const Case cases[] = {{unparsable, "TXM records of 1000 textures do not fit", {"A_000.TXM", "A_001.bin", "A_002.bin"}},
                        {outside, "member 1 (0x10 bytes at 0x7FFFFFF0) lies outside", {"A_000.TXM", "A_002.bin"}}};
  for (const Case& test : cases) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", test.archive));
    const Unpacked result = Unpack(dir / "A.dat");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.console.find(test.message), std::string::npos) << result.console;
    EXPECT_EQ(support::ListDirectory(dir / "A"), test.files);
    EXPECT_EQ(ReadTestFile(dir / "A/A_000.TXM"), MemberBytesOf(test.archive, 0));
    if (test.files.size() == 3) {
      EXPECT_EQ(ReadTestFile(dir / "A/A_001.bin"), pixels);
    }

    const auto before = support::ListTree(dir / "A");
    const Unpacked repacked = Record(RepackArchive, dir / "A.dat");
    EXPECT_FALSE(repacked.ok);
    EXPECT_NE(repacked.console.find(test.message), std::string::npos) << repacked.console;
    EXPECT_EQ(ReadTestFile(dir / "A.dat"), test.archive);
    EXPECT_EQ(support::ListTree(dir / "A"), before);
  }
}

// A member that is its whole archive again would nest without end.
TEST(UnpackArchive, AnArchiveThatContainsItselfStopsAtTheNestingLimit) {
  Fps4Layout layout;
  layout.members = {Member("x")};
  Bytes archive = BuildFps4(layout);
  StoreU32BE(archive.data() + 28, 0);
  StoreU32BE(archive.data() + 28 + 8, uint32_t(archive.size()));
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  const Unpacked result = Unpack(dir / "A.dat");
  EXPECT_FALSE(result.ok);
  // On Windows too, where these paths outgrow 260 characters long before 32
  // levels: they reach the system in their "\\?\" form.
  EXPECT_NE(result.console.find("archives nested more than 32 deep; kept as a file"), std::string::npos);
  std::string deepest = dir / "A";
  for (size_t level = 0; level < kMaxNestingDepth; ++level) deepest += "/" + FileNameOf(deepest) + "_000";
  EXPECT_EQ(ReadTestFile(deepest + "/" + FileNameOf(deepest) + "_000.bin"), archive);

  // The repacker takes that file as it stands and ends too.
  EXPECT_TRUE(Record(RepackArchive, dir / "A.dat").ok);
}

}  // namespace
}  // namespace fpskit
