// Paths as translators have them: folders and files named in Japanese, and
// paths longer than Windows' old 260-character limit. Run under Wine in the
// Windows build, where they go through the UTF-16 command line and the wide
// file functions.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "util/files.h"

namespace fpskit {
namespace {

// A UTF-8 path as the system names it, converted by the C++ library rather
// than by the program, so that the names on disk are checked independently.
std::filesystem::path OnDisk(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

support::Fps4Layout TwoMembers() {
  support::Fps4Layout layout;
  layout.members.resize(2);
  layout.members[0].data = support::ToBytes("first member");
  layout.members[1].data = support::ToBytes(std::string("TSS\0code", 8));
  return layout;
}

TEST(SystemPaths, JapaneseFolderAndFileNamesRoundTrip) {
  support::TempDir dir;
  const std::string folder = dir / "\xE7\xBF\xBB\xE8\xA8\xB3\xE4\xBD\x9C\xE6\xA5\xAD";  // 翻訳作業
  const std::string world = "\xE4\xB8\x96\xE7\x95\x8C";                                // 世界
  ASSERT_TRUE(std::filesystem::create_directory(OnDisk(folder)));
  const Bytes archive = support::BuildFps4(TwoMembers());
  ASSERT_TRUE(support::WriteTestFile(folder + "/" + world + ".dat", archive));

  // Named absolutely, as a drop onto a shortcut names it.
  const support::ToolRun unpacked = support::RunTool(FPSKIT_BINARY, {"unfps", folder + "/" + world + ".dat"});
  EXPECT_EQ(unpacked.status, 0) << unpacked.output;
  const std::string members = folder + "/" + world + "/" + world;
  EXPECT_EQ(unpacked.output, "\n" + members + "_000.bin\n" + members + "_001.TSS\n");
  EXPECT_TRUE(std::filesystem::exists(OnDisk(members + "_001.TSS")));
  const support::ToolRun packed = support::RunTool(FPSKIT_BINARY, {"fps", world + ".dat"}, folder);
  EXPECT_EQ(packed.status, 0) << packed.output;
  EXPECT_EQ(support::ReadTestFile(folder + "/" + world + ".dat"), archive);

  // A chat file there, its code table beside it: the dump gets the file's
  // name and the table's conversion.
  const std::string chat = folder + "/" + "\xE4\xBC\x9A\xE8\xA9\xB1";  // 会話
  support::ChtxBuilder builder;
  builder.String("A");
  ASSERT_TRUE(support::WriteTestFile(chat + ".cht", builder.Build()));
  ASSERT_TRUE(support::WriteTestFile(folder + "/JPCODES.TXT", std::string("41; 61\r\n")));
  const support::ToolRun dumped = support::RunTool(FPSKIT_BINARY, {"uncht", chat + ".cht"}, dir.path());
  EXPECT_EQ(dumped.status, 0) << dumped.output;
  EXPECT_NE(dumped.output.find("NOTE: no JPCODES.TXT in the current directory; " + folder), std::string::npos)
      << dumped.output;
  const Bytes dump = support::ReadTestFile(chat + ".txt");
  EXPECT_EQ(std::string(dump.begin(), dump.end()), "a\r\n");
  EXPECT_TRUE(std::filesystem::exists(OnDisk(chat + ".txt")));
}

TEST(SystemPaths, PathsLongerThan260Characters) {
  support::TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) {
    deep += "/a_folder_name_of_some_length_for_depth";
    ASSERT_TRUE(MakeDirectory(deep)) << deep.size();
  }
  const Bytes archive = support::BuildFps4(TwoMembers());
  ASSERT_TRUE(support::WriteTestFile(deep + "/world.dat", archive));
  const support::ToolRun unpacked = support::RunTool(FPSKIT_BINARY, {"unfps", deep + "/world.dat"});
  EXPECT_EQ(unpacked.status, 0) << unpacked.output;
  EXPECT_EQ(support::ReadTestFile(deep + "/world/world_000.bin"), support::ToBytes("first member"));
  const support::ToolRun packed = support::RunTool(FPSKIT_BINARY, {"fps", deep + "/world.dat"});
  EXPECT_EQ(packed.status, 0) << packed.output;
  EXPECT_EQ(support::ReadTestFile(deep + "/world.dat"), archive);
  // Taken apart by the program itself: the test library cannot reach so deep.
  for (const char* file : {"/world/world_000.bin", "/world/world_001.TSS", "/world.dat"}) {
    EXPECT_TRUE(RemoveFile(deep + file));
  }
  RemoveEmptyDirectory(deep + "/world");
  for (; deep.size() > dir.path().size(); deep.resize(deep.rfind('/'))) RemoveEmptyDirectory(deep);
}

}  // namespace
}  // namespace fpskit
