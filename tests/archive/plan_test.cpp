// The member plan: paths that would be one file on the most restrictive file
// system, names Windows cannot hold, links in the unpack directory, bounded
// unpacking, what fps does not take, and the lsfps listing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive/format.h"
#include "archive/plan.h"
#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/recording_reporter.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/archive/archive_tools.h"

namespace fpskit {
namespace {

using support::BuildFps4;
using support::Fps4Layout;
using support::Fps4Member;
using support::ReadTestFile;
using support::TempDir;
using support::ToBytes;
using support::WriteTestFile;

Fps4Member Named(std::string_view data, std::string name) { return {ToBytes(data), std::move(name), false, std::nullopt}; }
Fps4Member Named(Bytes data, std::string name) { return {std::move(data), std::move(name), false, std::nullopt}; }

Bytes LongEntries(std::vector<Fps4Member> members) {
  Fps4Layout layout;
  layout.entrySize = 32;
  layout.members = std::move(members);
  return BuildFps4(layout);
}

const Bytes& Inner() {
  static const Bytes inner = LongEntries({Named("inside", "in.bin")});
  return inner;
}

bool Quietly(bool (*tool)(const std::string&), const std::string& path, std::string* console = nullptr) {
  support::RecordingReporter recorded;
  const bool ok = tool(path);
  if (console) *console = recorded.output();
  return ok;
}

TEST(MemberPlan, PathsThatWouldBeOneFileOrThatWindowsRefusesAreNeitherWrittenNorRead) {
  using enum PathCheck;
  support::TxmLayout txm;
  txm.textures.resize(1);  // texture "tex": its image is tex_0_0.dds
  struct Case {
    std::string what;
    std::vector<Fps4Member> members;
    std::vector<PathCheck> checks;  // per member (a pair's data member follows its TXM's)
  };
  const std::vector<Case> cases = {
      {"two nested archives, one directory",
       {Named(Inner(), "data.bin"), Named(Inner(), "data.pak"), Named("own", "own.bin")},
       {kShared, kShared, kUsable}},
      {"a file where a nested archive's directory goes",
       {Named("x", "data"), Named(Inner(), "data.pak"), Named("y", "sub/data.bin")},
       {kShared, kShared, kUsable}},
      {"a file where a named member needs a directory", {Named("x", "sub"), Named("y", "SUB/in.bin")}, {kShared, kShared}},
      {"case, trailing dots and spaces",
       {Named("a", "Chat.bin"), Named("b", "chat.bin"), Named("c", "note."), Named("d", "note"), Named("e", "pad "),
        Named("f", "PAD"), Named("g", "kept.bin")},
       {kShared, kShared, kShared, kShared, kShared, kShared, kUsable}},
      {"a member named like a texture's image",
       {Named(support::BuildTxm(txm), "t.TXM"), Named(support::RandomBytes(8, 1), "t.dat"), Named("text", "TEX_0_0.dds")},
       {kShared, kUsable, kShared}},
      {"names Windows cannot hold",
       {Named("1", "CON.txt"), Named("2", "sub/lpt9.bin"), Named("3", "nul .x"), Named("4", "a:b.bin"),
        Named("5", "what?.bin"), Named("6", "tab\tname"), Named("7", "..."), Named("8", "com0.bin")},
       {kNotPortable, kNotPortable, kNotPortable, kLeaves, kNotPortable, kNotPortable, kNotPortable, kUsable}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const Bytes archive = LongEntries(test.members);
    ArchivePlan plan;
    ArchiveTable table;
    ASSERT_TRUE(ParseArchiveTable(ByteSource::InMemory(archive), "A", table).ok());
    PlanArchive(ByteSource::InMemory(archive), std::move(table), "A", plan);
    std::vector<PathCheck> checks;
    for (const MemberPlan& member : plan.members) checks.push_back(member.check);
    EXPECT_EQ(checks, test.checks);

    // unfps writes none of them; a file planted at each of their paths is
    // not read by fps, which gives back the archive as it was.
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
    std::string console;
    EXPECT_FALSE(Quietly(UnpackArchive, dir / "A.dat", &console));
    // Checked before anything is planted: on Windows a planted "Chat.bin"
    // is "chat.bin" too.
    std::vector<std::string> planted;
    for (size_t i = 0; i < plan.members.size(); ++i) {
      const MemberPlan& member = plan.members[i];
      if (member.role == MemberRole::kPairData || member.check == kUsable) continue;
      const char* message = member.check == kShared ? "shares the path" : member.check == kLeaves ? "would leave" : "Windows refuses";
      EXPECT_NE(console.find(message), std::string::npos) << console;
#ifdef _WIN32
      if (member.check != kShared) continue;  // Windows could neither hold nor plant these names
#endif
      const std::string path = dir / ("A/" + member.fileName);
      EXPECT_FALSE(std::filesystem::exists(path)) << path;
      planted.push_back(path);
    }
    for (const std::string& path : planted) {
      std::error_code error;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
#ifdef _WIN32
      if (error) continue;  // "sub", planted as a file, is "SUB" too there: no directory fits
#endif
      ASSERT_FALSE(error) << path;
      WriteTestFile(path, "planted");
    }
    EXPECT_TRUE(Quietly(RepackArchive, dir / "A.dat", &console)) << console;
    EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  }
}

#ifndef _WIN32
TEST(MemberPlan, UnfpsWritesThroughNoSymbolicLink) {
  TempDir dir;
  const std::string outside = dir / "outside";
  std::filesystem::create_directories(outside);
  ASSERT_TRUE(WriteTestFile(outside + "/y.bin", "mine"));
  std::filesystem::create_directories(dir / "A");
  std::filesystem::create_directory_symlink(outside, dir / "A/sub");   // a directory on the way
  std::filesystem::create_directory_symlink(outside, dir / "A/data");  // a nested archive's directory
  std::filesystem::create_symlink(outside + "/y.bin", dir / "A/y.bin");  // the file itself
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", LongEntries({Named("x", "sub/x.bin"), Named("y", "y.bin"),
                                                        Named(Inner(), "data.pak"), Named("k", "kept.bin")})));
  std::string console;
  EXPECT_FALSE(Quietly(UnpackArchive, dir / "A.dat", &console));
  for (const char* link : {"A/sub is a symbolic link", "A/y.bin is a symbolic link", "A/data is a symbolic link"}) {
    EXPECT_NE(console.find(link), std::string::npos) << console;
  }
  EXPECT_EQ(support::ListTree(outside), std::vector<std::string>{"y.bin"});
  EXPECT_EQ(ReadTestFile(outside + "/y.bin"), ToBytes("mine"));
  EXPECT_EQ(ReadTestFile(dir / "A/kept.bin"), ToBytes("k"));
}
#endif

TEST(MemberPlan, UnpackingStopsAtItsLimits) {
  std::vector<Fps4Member> members;
  for (int i = 0; i < 10; ++i) members.push_back(Named(support::RandomBytes(100, i), "m" + std::to_string(i) + ".bin"));
  struct Case {
    UnpackLimits limits;
    size_t written;
  };
  for (const Case& test : {Case{{4, 1 << 20}, 4}, Case{{100, 350}, 3}}) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "A.dat", LongEntries(members)));
    support::RecordingReporter recorded;
    EXPECT_FALSE(UnpackArchiveWithin(dir / "A.dat", test.limits));
    const std::string console = recorded.output();
    EXPECT_NE(console.find("unpacking would write more than"), std::string::npos) << console;
    EXPECT_EQ(support::ListTree(dir / "A").size(), test.written) << console;
  }
  // Real archives stay far below: a 40 MiB one may write 2.5 GiB more than its size.
  EXPECT_GT(UnpackLimitsFor(40 << 20).bytes, uint64_t(64) * (40 << 20));
}

// What fps does not take is named on standard error; a continuation entry
// that an edit would push past its member's end stops it.
TEST(MemberPlan, FpsNamesWhatItDoesNotTakeAndKeepsContinuationEntriesInside) {
  Fps4Layout eight;
  eight.entrySize = 8;
  for (const char* data : {"ab", "cdef", "gh", "ij"}) eight.members.push_back({ToBytes(data), std::nullopt, false, std::nullopt});
  eight.members[2].continuation = true;  // A_002.bin: 4 bytes into member 1 ("cdefgh")
  const Bytes archive = BuildFps4(eight);
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  ASSERT_EQ(ReadTestFile(dir / "A/A_002.bin").size(), 0u);
  std::filesystem::create_directory(dir / "A/extra");
  for (const char* stray : {"A/chat (2).bin", "A/A_000.txt", "A/A_003.bin.bak", "A/extra/x.bin"}) {
    ASSERT_TRUE(WriteTestFile(dir / stray, "x"));
  }
  std::filesystem::create_directory(dir / "A/A_000.bin.d");
  std::filesystem::remove(dir / "A/A_003.bin");
  std::filesystem::create_directory(dir / "A/A_003.bin");  // not a member file

  support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  struct Listed {
    const char* path;
    bool listed;
  };
  for (const Listed& file : {Listed{"A/chat (2).bin is not taken", true}, {"A/extra/ is not taken", true},
                             {"A/A_000.bin.d/ is not taken", true}, {"A/A_002.bin is not taken", false},
                             {"A/A_000.txt", false}, {"A/A_003.bin.bak", false},
                             {"A/A_003.bin is not a file; member 3 is taken from the archive", true}}) {
    EXPECT_EQ(run.output.find(file.path) != std::string::npos, file.listed) << file.path << "\n" << run.output;
  }
  // Text typed into the continuation entry's empty file is not taken either.
  ASSERT_TRUE(WriteTestFile(dir / "A/A_002.bin", "typed"));
  run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
  EXPECT_NE(run.output.find("A/A_002.bin is not taken"), std::string::npos) << run.output;

  // Member 1 cut to 2 bytes would leave its continuation entry 4 bytes in,
  // pointing into member 3; at 4 bytes it would point at member 3's start.
  for (const char* edit : {"cd", "cdef"}) {
    ASSERT_TRUE(WriteTestFile(dir / "A/A_001.bin", edit));
    run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("its continuation entry 2, 0x4 bytes into it, would point past its end"),
              std::string::npos) << run.output;
    EXPECT_EQ(ReadTestFile(dir / "A.dat"), archive);
  }
  ASSERT_TRUE(WriteTestFile(dir / "A/A_001.bin", "cdefgh!"));
  run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST(MemberPlan, LsfpsListsThePlanAndWhatFpsWillDoWithoutWritingAnything) {
  support::TxmLayout txm;
  txm.textures.resize(1);
  const Bytes archive =
      LongEntries({Named("plain", "p.bin"), Named(CompressTlzc(ToBytes("squeezed text"), 1), "z.bin"),
                   Named(Inner(), "n.pak"), Named(support::BuildTxm(txm), "t.TXM"),
                   Named(support::RandomBytes(8, 2), "t.dat"), Named("kept", "k.bin")});
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", archive));
  auto list = [&] {
    const support::TreeSnapshot before = support::SnapshotTree(dir.path());
    const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"lsfps", "A.dat"}, dir.path());
    EXPECT_EQ(support::SnapshotTree(dir.path()), before);
    return run;
  };
  support::ToolRun run = list();
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* line : {"\n0      A/p.bin  0x5 bytes\n", "\n1      A/z.bin  0x", "TLZC LZMA kind, 0xD bytes decompressed\n",
                           "\n2      A/n.pak  0x", "bytes, archive in A/n/\n", "\n2.0    A/n/in.bin  0x6 bytes\n",
                           "\n3      A/t.TXM  0x", "texture pair with member 4 (0x8 bytes), 1 images:\n",
                           "\n       A/tex_3_0.dds\n"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }

  ASSERT_TRUE(Quietly(UnpackArchive, dir / "A.dat"));
  ASSERT_TRUE(WriteTestFile(dir / "A/p.bin", "edited"));
  std::filesystem::remove(dir / "A/z.bin");
  ASSERT_TRUE(WriteTestFile(dir / "A/p copy.bin", "x"));
  run = list();
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* line : {"\nM 0      A/p.bin", "\n- 1      A/z.bin", "\n- 2      A/n.pak", "\n= 2.0    A/n/in.bin",
                           "\n= 5      A/k.bin", "\n=        A/tex_3_0.dds", "\n?        A/p copy.bin"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
  // An image saved in another format: fps would refuse it, and says why.
  const Bytes image = ReadTestFile(dir / "A/tex_3_0.dds");
  Bytes resaved = image;
  std::memcpy(resaved.data() + 84, "DXT5", 4);
  resaved.back() ^= 0xFF;
  ASSERT_TRUE(WriteTestFile(dir / "A/tex_3_0.dds", resaved));
  run = list();
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("\n!        A/tex_3_0.dds\nERROR: A/tex_3_0.dds: saved as DXT5; the texture is DXT1 4x4 "
                            "without mipmaps\n"),
            std::string::npos) << run.output;
  ASSERT_TRUE(WriteTestFile(dir / "A/tex_3_0.dds", image));

  // Damage is reported as unfps reports it.
  Bytes damaged = archive;
  StoreU32BE(damaged.data() + 28 + 8, 0x100000);  // member 0's size past the end
  ASSERT_TRUE(WriteTestFile(dir / "A.dat", damaged));
  run = list();
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("member 0 (0x100000 bytes at 0x"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace fpskit
