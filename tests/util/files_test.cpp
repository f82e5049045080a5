#include "util/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <new>

#include "support/builders.h"
#include "support/process.h"
#include "support/recording_reporter.h"
#include "support/temp_dir.h"
#include "util/byte_source.h"
#include "util/bytes.h"
#include "util/platform.h"

namespace fpskit {
namespace {

using support::ListDirectory;
using support::ReadTestFile;
using support::TempDir;
using support::ToBytes;
using support::WriteTestFile;

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + i / 251);
  return bytes;
}

TEST(ByteReader, LoadsBothByteOrdersAndStopsAtTheEnd) {
  const Bytes data = {0x12, 0x34, 0x56, 0x78, 0x9A};
  ByteReader reader(data);
  EXPECT_EQ(reader.U32BE(), 0x12345678u);
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.U16LE(), 0u);  // one byte left: the load fails
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.U8(), 0u);  // the failure is sticky

  ByteReader little(data);
  EXPECT_EQ(little.U32LE(), 0x78563412u);
  EXPECT_TRUE(little.Seek(5));
  EXPECT_FALSE(little.Seek(6));
}

TEST(ByteReader, RejectsCountsThatWouldOverflow) {
  const Bytes data(16);
  EXPECT_FALSE(InRange(data.size(), 8, UINT64_MAX - 4));
  EXPECT_FALSE(InRange(data.size(), 17, 0));
  EXPECT_TRUE(InRange(data.size(), 16, 0));
  ByteReader reader(data, 4);
  EXPECT_TRUE(reader.Span(12).size() == 12);
  ByteReader huge(data, 4);
  EXPECT_TRUE(huge.Span(UINT64_MAX).empty());
  EXPECT_FALSE(huge.ok());
}

TEST(TerminatedStringAt, NeedsANulInsideTheBuffer) {
  const Bytes data = ToBytes(std::string("ab\0cd", 5));
  ByteSpan text;
  ASSERT_TRUE(TerminatedStringAt(data, 0, text));
  EXPECT_EQ(support::ToString(text), "ab");
  EXPECT_FALSE(TerminatedStringAt(data, 3, text));  // "cd" runs to the end
  EXPECT_FALSE(TerminatedStringAt(data, 5, text));
}

// Archives reach up to 2 GiB, past what a 32-bit `long` position holds on
// Windows; a sparse file stands in for one.
TEST(FilePositions, ReachPastTwoGibibytes) {
  TempDir dir;
  const std::string path = dir / "large.bin";
  const uint64_t beyond = (uint64_t(1) << 31) + 5;
  {
    FileHandle file = OpenFile(path, "wb");
    ASSERT_TRUE(file);
    ASSERT_TRUE(SeekFile(file.get(), beyond));
    ASSERT_EQ(std::fputc('Z', file.get()), 'Z');
    uint64_t position = 0;
    ASSERT_TRUE(TellFile(file.get(), position));
    EXPECT_EQ(position, beyond + 1);
  }
  FileHandle file = OpenFile(path, "rb");
  ASSERT_TRUE(file);
  ASSERT_TRUE(SeekFile(file.get(), beyond));
  EXPECT_EQ(std::fgetc(file.get()), 'Z');
  uint64_t size = 0;
  ASSERT_TRUE(FileLength(file.get(), size));
  EXPECT_EQ(size, beyond + 1);
}

TEST(MakeDirectory, AnExistingDirectoryIsNoErrorButAFileIs) {
  TempDir dir;
  EXPECT_TRUE(MakeDirectory(dir / "sub"));
  EXPECT_TRUE(MakeDirectory(dir / "sub"));
  EXPECT_TRUE(platform::IsDirectory(dir / "sub"));
  ASSERT_TRUE(WriteTestFile(dir / "file", ToBytes("x")));
  EXPECT_FALSE(MakeDirectory(dir / "file"));
  EXPECT_FALSE(MakeDirectory(dir / "no/such/parent"));
}

class CopyFileRangeTest : public ::testing::Test {
 protected:
  // Copies `count` bytes from offset 3 of a source of `size` bytes.
  Bytes Copy(size_t size, uint64_t count, uint64_t chunk, bool* ok = nullptr) {
    const Bytes source = Pattern(size);
    EXPECT_TRUE(WriteTestFile(dir_ / "source", source));
    FileHandle in = OpenFile(dir_ / "source", "rb");
    FileHandle out = OpenFile(dir_ / "copy", "wb");
    std::fseek(in.get(), 3, SEEK_SET);
    const bool copied = CopyFileRange(count, in.get(), out.get(), chunk);
    if (ok) *ok = copied;
    inPosition_ = std::ftell(in.get());
    out.reset();
    return ReadTestFile(dir_ / "copy");
  }
  TempDir dir_;
  long inPosition_ = 0;
};

TEST_F(CopyFileRangeTest, CopiesInChunksOfAnySize) {
  const Bytes source = Pattern(1000);
  const Bytes expected(source.begin() + 3, source.begin() + 3 + 997);
  for (uint64_t chunk : {997u, 996u, 1u, 64u, 4096u}) {
    EXPECT_EQ(Copy(1000, 997, chunk), expected) << "chunk " << chunk;
    EXPECT_EQ(inPosition_, 1000);
  }
}

TEST_F(CopyFileRangeTest, ZeroCopiesNothing) {
  bool ok = false;
  EXPECT_TRUE(Copy(10, 0, kCopyChunkSize, &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_EQ(inPosition_, 3);
}

// A short source shows as a read failure, in chunks and in the kernel, and
// a sink copying from it is not a failed write.
TEST_F(CopyFileRangeTest, ReportsAShortSource) {
  for (const size_t size : {size_t(10), size_t(2 * kKernelCopyMinimum)}) {
    ASSERT_TRUE(WriteTestFile(dir_ / "source", Pattern(size)));
    FileHandle in = OpenFile(dir_ / "source", "rb");
    FileHandle out = OpenFile(dir_ / "copy", "wb");
    EXPECT_FALSE(CopyFileRange(size + 1, in.get(), out.get(), 4)) << size;
    EXPECT_TRUE(std::feof(in.get())) << size;
    std::rewind(in.get());
    ByteSink sink = ByteSink::InFile(out.get(), 0);
    EXPECT_FALSE(sink.CopyFromFile(in.get(), size + 1)) << size;
    EXPECT_FALSE(sink.failed) << size;
  }
}

// Copies large enough for the kernel path keep both streams' buffered
// positions: bytes read and written through the streams around the copy land
// where they belong.
TEST_F(CopyFileRangeTest, LargeCopiesKeepTheStreamsInStep) {
  const size_t size = 3 * kKernelCopyMinimum + 5;
  const Bytes source = Pattern(size);
  ASSERT_TRUE(WriteTestFile(dir_ / "source", source));
  FileHandle in = OpenFile(dir_ / "source", "rb");
  FileHandle out = OpenFile(dir_ / "copy", "wb");
  uint8_t head[7];
  ASSERT_EQ(std::fread(head, 1, sizeof head, in.get()), sizeof head);
  ASSERT_EQ(std::fwrite(head, 1, sizeof head, out.get()), sizeof head);
  ASSERT_TRUE(CopyFileRange(2 * kKernelCopyMinimum, in.get(), out.get()));
  uint64_t position = 0;
  ASSERT_TRUE(TellFile(in.get(), position));
  EXPECT_EQ(position, sizeof head + 2 * kKernelCopyMinimum);
  std::vector<uint8_t> rest(size - position);
  ASSERT_EQ(std::fread(rest.data(), 1, rest.size(), in.get()), rest.size());
  ASSERT_EQ(std::fwrite(rest.data(), 1, rest.size(), out.get()), rest.size());
  out.reset();
  EXPECT_EQ(ReadTestFile(dir_ / "copy"), source);
}

TEST(ReplaceFileSafely, WritesANewFileAndReplacesAnOldOne) {
  TempDir dir;
  const std::string target = dir / "out.bin";
  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("first")));
  EXPECT_EQ(ReadTestFile(target), ToBytes("first"));
  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("second, longer")));
  EXPECT_EQ(ReadTestFile(target), ToBytes("second, longer"));
  ASSERT_TRUE(ReplaceFileSafely(target, {}));
  EXPECT_TRUE(ReadTestFile(target).empty());
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"out.bin"});
}

// Paths are bytes (in the ANSI code page on Windows): a name with bytes above
// ASCII reaches every call of the replacement as the same name.
TEST(ReplaceFileSafely, ReplacesANameWithBytesAboveAscii) {
  TempDir dir;
  const std::string target = dir / "caf\xE9.bin";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("old")));
  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("new")));
  EXPECT_EQ(ReadTestFile(target), ToBytes("new"));
  EXPECT_EQ(ListDirectory(dir.path()).size(), 1u);
}

#ifdef _WIN32
// Windows keeps no permission bits; its read-only attribute stays on the new
// file, and a read-only target is replaced all the same, as a file of mode
// 0444 is on POSIX.
TEST(ReplaceFileSafely, KeepsTheReadOnlyAttribute) {
  TempDir dir;
  const std::string target = dir / "chat.bin";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("old")));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("new")));
  EXPECT_EQ(ReadTestFile(target), ToBytes("new"));
  EXPECT_NE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);

  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("newer")));  // a writable one stays writable
  EXPECT_EQ(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"chat.bin"});
}

// A file that another program holds open without sharing its deletion (as
// the C runtime opens files) cannot be replaced: that is reported, and the
// file and the directory stay as they were.
TEST(ReplaceFileSafely, ATargetHeldOpenIsReportedAndKept) {
  TempDir dir;
  const std::string target = dir / "chat.bin";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("original")));
  FileHandle held = OpenFile(target, "rb");
  ASSERT_TRUE(held);
  support::RecordingReporter console;
  EXPECT_FALSE(ReplaceFileSafely(target, ToBytes("new")));
  EXPECT_NE(console.output().find("can't write"), std::string::npos);
  held.reset();
  EXPECT_EQ(ReadTestFile(target), ToBytes("original"));
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"chat.bin"});
}
#else
TEST(ReplaceFileSafely, KeepsThePermissionBits) {
  TempDir dir;
  const std::string target = dir / "script.sh";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("old")));
  ASSERT_EQ(chmod(target.c_str(), 0750), 0);
  ASSERT_TRUE(ReplaceFileSafely(target, ToBytes("new")));
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
}

TEST(ReplaceFileSafely, ALinkStaysALinkAndItsTargetIsReplaced) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link -> what it holds, made in order
    std::string target;  // the file finally replaced, relative to the work directory
  };
  const Case cases[] = {
      {"beside", {{"chat.bin", "real.bin"}}, "real.bin"},
      {"relative into another directory", {{"chat.bin", "data/real.bin"}}, "data/real.bin"},
      {"relative from the link's own directory", {{"data/chat.bin", "../real.bin"}}, "real.bin"},
      {"chain", {{"chat.bin", "data/hop.bin"}, {"data/hop.bin", "real.bin"}}, "data/real.bin"},
      {"dangling", {{"chat.bin", "data/new.bin"}}, "data/new.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(MakeDirectory(dir / "data"));
    for (const char* real : {"real.bin", "data/real.bin"}) ASSERT_TRUE(WriteTestFile(dir / real, ToBytes("old")));
    for (const auto& [link, holds] : c.links) ASSERT_EQ(symlink(holds.c_str(), (dir / link).c_str()), 0);
    const std::string first = dir / c.links[0].first;
    ASSERT_TRUE(ReplaceFileSafely(first, ToBytes("new")));
    for (const auto& entry : c.links) {
      struct stat info;
      ASSERT_EQ(lstat((dir / entry.first).c_str(), &info), 0);
      EXPECT_TRUE(S_ISLNK(info.st_mode)) << entry.first << " is no longer a link";
    }
    EXPECT_EQ(ReadTestFile(dir / c.target), ToBytes("new"));
    EXPECT_EQ(ReadTestFile(first), ToBytes("new"));
    // No temporary file is left in either directory.
    for (const std::string sub : {"", "data"}) {
      for (const std::string& name : ListDirectory(dir / sub)) EXPECT_EQ(name.find("$$$TEMP$$$"), std::string::npos);
    }
  }

  // An unpacked member is never written through a link: the link itself is
  // replaced, and what it led to keeps its bytes.
  TempDir dir;
  ASSERT_TRUE(WriteTestFile(dir / "outside.bin", ToBytes("keep")));
  ASSERT_TRUE(MakeDirectory(dir / "unpacked"));
  ASSERT_EQ(symlink("../outside.bin", (dir / "unpacked/member.bin").c_str()), 0);
  ASSERT_TRUE(WriteFileBelow(dir / "unpacked", "member.bin", [](std::FILE* file) { return std::fputs("new", file) >= 0; }));
  EXPECT_EQ(ReadTestFile(dir / "outside.bin"), ToBytes("keep"));
  EXPECT_EQ(ReadTestFile(dir / "unpacked/member.bin"), ToBytes("new"));
}
#endif

TEST(ReplaceFileSafely, AFailingWriterLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir / "chat.bin";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("original")));
  support::RecordingReporter console;
  const bool ok = ReplaceFileWith(target, [](std::FILE* file) {
    std::fputs("partial", file);
    return false;
  });
  const std::string printed = console.output();
  EXPECT_FALSE(ok);
  EXPECT_NE(printed.find("ERROR"), std::string::npos);
  EXPECT_EQ(ReadTestFile(target), ToBytes("original"));
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"chat.bin"});

  // Out of memory inside the writer: the exception passes, the file is gone.
  EXPECT_THROW(ReplaceFileWith(target,
                               [](std::FILE* file) -> bool {
                                 std::fputs("partial", file);
                                 throw std::bad_alloc();
                               }),
               std::bad_alloc);
  EXPECT_EQ(ReadTestFile(target), ToBytes("original"));
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"chat.bin"});
}

#ifdef _WIN32
TEST(ReplaceFileSafely, ABackslashSeparatesDirectories) {
  // The temporary file goes into "sub" beside the file, not into the
  // directory before the last '/'.
  TempDir dir;
  ASSERT_TRUE(MakeDirectory(dir / "sub"));
  EXPECT_TRUE(ReplaceFileSafely(dir / "sub\\chat.bin", ToBytes("new")));
  EXPECT_EQ(ListDirectory(dir / "sub"), std::vector<std::string>{"chat.bin"});
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"sub"});
}
#else
TEST(ReplaceFileSafely, ABackslashIsPartOfTheFileName) {
  // There is no directory "sub": the temporary file goes beside the file the
  // system sees, in the directory before the last '/'.
  TempDir dir;
  EXPECT_TRUE(ReplaceFileSafely(dir / "sub\\chat.bin", ToBytes("new")));
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"sub\\chat.bin"});
}
#endif

TEST(ReplaceFileSafely, AMissingDirectoryIsReported) {
  TempDir dir;
  support::RecordingReporter console;
  EXPECT_FALSE(ReplaceFileSafely(dir / "no/such/dir/file", ToBytes("x")));
  EXPECT_NE(console.output().find("can't write"), std::string::npos);
}

// POSIX only: directory permission bits, a file-size limit and fork().
#ifndef _WIN32
TEST(ReplaceFileSafely, AnUnwritableDirectoryIsReported) {
  TempDir dir;
  const std::string target = dir / "chat.bin";
  ASSERT_TRUE(WriteTestFile(target, ToBytes("original")));
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  // Root may write anywhere: the replacement runs in a child that is an
  // ordinary user.
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!std::freopen("/dev/null", "w", stdout) || !support::DropToUnprivilegedUser()) _exit(3);
    _exit(ReplaceFileSafely(target, ToBytes("new")) ? 0 : 7);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  chmod(dir.path().c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(ReadTestFile(target), ToBytes("original"));
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"chat.bin"});
}


// A write that fails part-way (here: the file-size limit, as a full disk would)
// must leave the target as it was and remove the temporary file. Runs in a
// child process so the limit does not touch the test runner.
TEST(ReplaceFileSafely, AWriteThatFailsPartWayLeavesTheTargetUntouched) {
  TempDir dir;
  const std::string target = dir / "archive.bin";
  const Bytes original = Pattern(100);
  ASSERT_TRUE(WriteTestFile(target, original));
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::IgnoreFileSizeSignal();
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = ReplaceFileSafely(target, Pattern(1 << 20));
    std::fflush(stdout);
    _exit(ok ? 0 : 7);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(ReadTestFile(target), original);
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"archive.bin"});
}
#endif

}  // namespace
}  // namespace fpskit
