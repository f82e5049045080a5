// Hostile archives: names taken from game files never place a file outside
// the directory a tool writes into, and members that overlap their own
// archive are not unpacked without end.
//
// The names: member names of every entry layout that carries one,
// texture names, nested archives (bare and in TLZC containers) and the
// names of nested archives themselves, each holding '..' parts, absolute
// paths, drive letters and either separator. "unfps" and "fps" run through
// the real executable, and the whole working directory is compared before
// and after: only the unpack directory may have grown, only the archive
// may have changed.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"

namespace fpskit {
namespace {

using support::BuildFps4;
using support::Fps4Layout;
using support::Fps4Member;
using support::Member;
using support::TempDir;
using support::TreeSnapshot;

Fps4Layout Layout(uint16_t entrySize, uint16_t flags, std::vector<Fps4Member> members) {
  Fps4Layout layout;
  layout.entrySize = entrySize;
  layout.flags = flags;
  layout.alignment = flags == 0x8D ? 1 : 16;
  layout.members = std::move(members);
  return layout;
}

// Names that leave the directory they are joined to, in every spelling a
// game file (or a hostile one) could hold. `outside` is an absolute path
// inside the test's own directory, so a file written there would be seen.
std::vector<std::string> HostileNames(const std::string& outside) {
  return {"../up.bin",        "sub/../../up.bin", "..\\back.bin", "sub\\..\\..\\back.bin", "..",
          outside + "/abs.bin", "/abs.bin",       "\\abs.bin",    "C:\\drive.bin",         "C:drive.bin",
          "c:/drive.bin",     "sub/.."};
}

// A texture pair whose one texture carries `name`.
std::vector<Fps4Member> TexturePair(const std::string& txmName, const std::string& dataName, const std::string& name) {
  support::TxmLayout txm;
  txm.textures.resize(1);
  txm.textures[0].name = name;
  return {{support::BuildTxm(txm), txmName, false, std::nullopt},
          {support::RandomBytes(8, 3), dataName, false, std::nullopt}};
}

// Long-entry members named `names`, then one member that must be written.
std::vector<Fps4Member> NamedMembers(const std::vector<std::string>& names) {
  std::vector<Fps4Member> members;
  for (const std::string& name : names) members.push_back(Member("hostile", name));
  members.push_back(Member("kept", "kept.bin"));
  return members;
}

struct HostileArchive {
  std::string what;
  Bytes archive;
  bool writes = true;  // some member's name is a good one
};

std::vector<HostileArchive> HostileArchives(const std::string& outside) {
  const std::vector<std::string> names = HostileNames(outside);
  std::vector<HostileArchive> archives;
  archives.push_back({"long entries", BuildFps4(Layout(64, 0, NamedMembers(names)))});
  archives.push_back({"flags 0x8D", BuildFps4(Layout(60, 0x8D, NamedMembers(names)))});
  // 16-byte tables keep only the name after its last separator (a drive
  // letter stays); 20-byte tables put four characters of extension after the
  // base name, 8- and 12-byte ones the type string.
  std::vector<Fps4Member> pointed;
  for (const std::string& name : names) pointed.push_back(Member("x", "name=" + name + " tail"));
  archives.push_back({"name strings", BuildFps4(Layout(16, 0, pointed))});
  std::vector<Fps4Member> extensions;
  for (const char* extension : {"/../", "..", "\\..\\", "/x/", "C:\\x"}) extensions.push_back(Member("x", extension));
  archives.push_back({"extensions", BuildFps4(Layout(20, 0, extensions))});
  Fps4Layout typed = Layout(12, 0, {Member("x", std::nullopt), Member("y", std::nullopt)});
  typed.type = "/../";
  archives.push_back({"type string", BuildFps4(typed), false});

  std::vector<Fps4Member> textures;
  for (const std::string& name : names) {
    for (Fps4Member& member : TexturePair("t.TXM", "t.dat", name)) textures.push_back(std::move(member));
  }
  textures.push_back(Member("kept", "kept.bin"));
  const Bytes textureArchive = BuildFps4(Layout(40, 0, textures));
  archives.push_back({"texture names", textureArchive});

  const Bytes inner = BuildFps4(Layout(64, 0, NamedMembers(names)));
  std::vector<Fps4Member> nested = {{inner, "inner.bin", false, std::nullopt},
                                    {support::TlzcZlibContainer(inner), "packed.bin", false, std::nullopt},
                                    {textureArchive, "pictures.bin", false, std::nullopt}};
  for (const std::string& name : names) nested.push_back({inner, name, false, std::nullopt});
  nested.push_back(Member("kept", "kept.bin"));
  const Bytes outer = BuildFps4(Layout(64, 0, nested));
  archives.push_back({"nested archives", outer});
  archives.push_back({"in a TLZC container", CompressTlzc(outer, 1)});
  return archives;
}

TEST(HostileArchives, NoNameLeadsOutsideTheUnpackDirectory) {
  TempDir root;
  const std::string work = root / "work";
  ASSERT_TRUE(std::filesystem::create_directory(work));
  for (const HostileArchive& hostile : HostileArchives(root.path())) {
    SCOPED_TRACE(hostile.what);
    std::error_code ignored;
    std::filesystem::remove_all(work + "/A", ignored);
    ASSERT_TRUE(support::WriteTestFile(work + "/A.dat", hostile.archive));
    const TreeSnapshot before = support::SnapshotTree(root.path());
    const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"unfps", "A.dat"}, work);

    TreeSnapshot after = support::SnapshotTree(root.path());
    size_t written = 0;
    for (auto it = after.begin(); it != after.end();) {
      if (it->first.rfind("work/A/", 0) == 0 || it->first == "work/A") {
        written += it->second != "<dir>";
        it = after.erase(it);
      } else {
        ++it;
      }
    }
    EXPECT_EQ(after, before) << run.output;
    EXPECT_EQ(written > 0, hostile.writes) << "members with good names are still written: " << run.output;
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("would leave"), std::string::npos) << run.output;

    // Repacking looks for no file outside the unpack directory either, and
    // writes nothing but the archive (a name ending in a separator names no
    // file: that member comes from the archive).
    const TreeSnapshot unpacked = support::SnapshotTree(root.path());
    const support::ToolRun repack = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, work);
    EXPECT_EQ(repack.status, 0) << repack.output;
    TreeSnapshot repacked = support::SnapshotTree(root.path());
    repacked["work/A.dat"] = unpacked.at("work/A.dat");
    EXPECT_EQ(repacked, unpacked) << repack.output;
  }
}

// An archive of two members, each the whole archive again.
Bytes SelfContaining() {
  Bytes archive = BuildFps4(Layout(12, 0, {Member("x", std::nullopt), Member("y", std::nullopt)}));
  for (size_t i = 0; i < 2; ++i) {
    StoreU32BE(archive.data() + 28 + 12 * i, 0);
    StoreU32BE(archive.data() + 28 + 12 * i + 4, uint32_t(archive.size()));
    StoreU32BE(archive.data() + 28 + 12 * i + 8, uint32_t(archive.size()));
  }
  return archive;
}

TEST(HostileArchives, MembersOverlappingTheirArchiveAreUnpackedAFewLevelsDeepOnly) {
  TempDir dir;
  const Bytes archive = SelfContaining();
  ASSERT_TRUE(support::WriteTestFile(dir / "A.dat", archive));
  const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"unfps", "A.dat"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("archives nested more than 32 deep; kept as a file"), std::string::npos) << run.output;
  // The unpack directory and one directory for each of the 32 nested levels;
  // at each level the second member, which overlaps the first, kept whole as
  // a file.
  size_t directories = 0;
  for (const std::string& path : support::ListTree(dir.path())) directories += path.back() == '/';
  EXPECT_EQ(directories, 1u + 32u);
  EXPECT_EQ(support::ReadTestFile(dir / "A/A_001.bin"), archive);
  EXPECT_NE(run.output.find("overlaps an archive unpacked before it"), std::string::npos) << run.output;
}

TEST(HostileArchives, TwoEntriesOfOneNestedArchiveGiveItsDirectoryAndAFile) {
  const Bytes inner = BuildFps4(Layout(12, 0, {Member("inside", std::nullopt)}));
  Bytes outer = BuildFps4(Layout(12, 0, {{inner, std::nullopt, false, std::nullopt}, Member("x", std::nullopt)}));
  // The second entry points at the first one's bytes.
  std::copy(outer.begin() + 28, outer.begin() + 40, outer.begin() + 40);
  TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "A.dat", outer));
  const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"unfps", "A.dat"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(support::ReadTestFile(dir / "A/A_000/A_000_000.bin"), support::ToBytes("inside"));
  EXPECT_EQ(support::ReadTestFile(dir / "A/A_001.bin"), inner);
}

// Every level holds the next one twice: two entries of the same bytes.
Bytes DoublyNested(size_t levels) {
  Bytes archive = BuildFps4(Layout(12, 0, {Member("core", std::nullopt)}));
  for (size_t level = 0; level < levels; ++level) {
    Bytes outer = BuildFps4(Layout(12, 0, {{archive, std::nullopt, false, std::nullopt}, Member("x", std::nullopt)}));
    std::copy(outer.begin() + 28, outer.begin() + 40, outer.begin() + 40);
    archive = std::move(outer);
  }
  return archive;
}

TEST(HostileArchives, ANestedArchiveHeldTwiceAtEveryLevelIsFollowedOncePerLevel) {
#ifdef _WIN32
  constexpr size_t kLevels = 6;  // the paths stay within Windows' 260 characters
#else
  constexpr size_t kLevels = 12;
#endif
  const Bytes archive = DoublyNested(kLevels);
  // Unpacked: one directory per level (each level's second entry is a file),
  // not one for every path through the levels.
  TempDir unpacked;
  ASSERT_TRUE(support::WriteTestFile(unpacked / "A.dat", archive));
  const support::ToolRun unpack = support::RunTool(FPSKIT_BINARY, {"unfps", "A.dat"}, unpacked.path());
  EXPECT_EQ(unpack.status, 0) << unpack.output;
  size_t directories = 0;
  for (const std::string& path : support::ListTree(unpacked.path())) directories += path.back() == '/';
  EXPECT_EQ(directories, 1 + kLevels);
  // Rebuilt without an unpack directory: the second entry at each level is
  // copied as it stands, so the archive grows by a few aligned members per
  // level instead of doubling.
  TempDir rebuilt;
  ASSERT_TRUE(support::WriteTestFile(rebuilt / "A.dat", archive));
  const support::ToolRun repack = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, rebuilt.path());
  EXPECT_EQ(repack.status, 0) << repack.output;
  EXPECT_LT(support::ReadTestFile(rebuilt / "A.dat").size(), 4 * 2048 * (kLevels + 1));
}

TEST(HostileArchives, APaddedSizeFarPastTheEndIsRefusedNotFilledWithZeros) {
  // A texture pair is copied with its padded size; only the last member's
  // padding may be missing from the file, never more than the alignment.
  std::vector<Fps4Member> pair = TexturePair("t.TXM", "t.dat", "tex");
  Fps4Layout layout = Layout(32, 0, std::move(pair));
  Bytes archive = BuildFps4(layout);
  StoreU32BE(archive.data() + 28 + 4, 0x70000000);
  TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "A.dat", archive));
  const support::ToolRun run = support::RunTool(FPSKIT_BINARY, {"fps", "A.dat"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("padded size reaches"), std::string::npos) << run.output;
  EXPECT_EQ(support::ReadTestFile(dir / "A.dat"), archive);
  EXPECT_EQ(support::ListTree(dir.path()), std::vector<std::string>{"A.dat"});
}

}  // namespace
}  // namespace fpskit
