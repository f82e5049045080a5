#include "util/paths.h"

#include <gtest/gtest.h>

#include <utility>

namespace fpskit {
namespace {

TEST(StripExtension, RemovesOnlyTheLastExtension) {
  EXPECT_EQ(StripExtension("chat.ZK6CHTX"), "chat");
  EXPECT_EQ(StripExtension("a.b.c"), "a.b");
  EXPECT_EQ(StripExtension(".cfg"), ".cfg_");
  EXPECT_EQ(StripExtension("dir.d\\sub/file.bin"), "dir.d\\sub/file");
}

TEST(StripExtension, AppendsUnderscoreWhenThereIsNoDot) {
  EXPECT_EQ(StripExtension("dir/file"), "dir/file_");
  EXPECT_EQ(StripExtension("SCRIPT") + ".txt", "SCRIPT_.txt");
  EXPECT_EQ(StripExtension(""), "_");
}

TEST(StripExtension, OnlyADotInTheFileNameCounts) {
  // A '.' in a directory name would send the output into the parent
  // directory, under a name that another file's output may have.
  const std::pair<const char*, const char*> cases[] = {
      {"v1.2/CHAT", "v1.2/CHAT_"},   {"v1.2\\CHAT", "v1.2\\CHAT_"}, {"./CHAT", "./CHAT_"},
      {"../CHAT", "../CHAT_"},       {"v1.2/chat.bin", "v1.2/chat"},   {"a.b/c.d\\e", "a.b/c.d\\e_"},
      {"../dir/.cfg", "../dir/.cfg_"},
  };
  for (const auto& [path, stripped] : cases) EXPECT_EQ(StripExtension(path), stripped) << path;
}

TEST(StripExtension, HasNoLengthLimit) {
  const std::string longName(1000, 'x');
  EXPECT_EQ(StripExtension(longName + ".bin"), longName);
}

TEST(FileNameOf, TakesThePartAfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(FileNameOf("a/b\\c.bin"), "c.bin");
  EXPECT_EQ(FileNameOf("a\\b/c.bin"), "c.bin");
  EXPECT_EQ(FileNameOf("plain"), "plain");
  EXPECT_EQ(FileNameOf("a/"), "");
}

TEST(DirectoryOf, TakesThePartBeforeTheLastSeparator) {
  EXPECT_EQ(DirectoryOf("a/b\\c.bin"), "a/b");
  EXPECT_EQ(DirectoryOf("plain"), "");
  EXPECT_EQ(DirectoryOf("/x"), "");
  EXPECT_EQ(DirectoryOf("dir/"), "dir");
}

TEST(JoinPath, AddsOneSeparator) {
  EXPECT_EQ(JoinPath("", "a"), "a");
  EXPECT_EQ(JoinPath("d", "a"), "d/a");
  EXPECT_EQ(JoinPath("d/", "a"), "d/a");
}

TEST(IsContainedRelativePath, RejectsNamesThatLeaveTheDirectory) {
  EXPECT_TRUE(IsContainedRelativePath("member.bin"));
  EXPECT_TRUE(IsContainedRelativePath("sub/dir\\member.bin"));
  EXPECT_TRUE(IsContainedRelativePath("..hidden"));
  EXPECT_FALSE(IsContainedRelativePath(""));
  EXPECT_FALSE(IsContainedRelativePath("/etc/passwd"));
  EXPECT_FALSE(IsContainedRelativePath("\\windows"));
  EXPECT_FALSE(IsContainedRelativePath("C:file"));
  EXPECT_FALSE(IsContainedRelativePath(".."));
  EXPECT_FALSE(IsContainedRelativePath("a/../../b"));
  EXPECT_FALSE(IsContainedRelativePath("a\\..\\b"));
  EXPECT_FALSE(IsContainedRelativePath("a/.."));
}

}  // namespace
}  // namespace fpskit
