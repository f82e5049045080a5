// File helpers: whole-file reads, chunked copies between open files, and the
// safe replacement through which every output file is written.
#pragma once

#include "util/tools_only.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "util/bytes.h"
#include "util/platform.h"

namespace fpskit {

struct FileCloser {
  void operator()(std::FILE* file) const { if (file) std::fclose(file); }
};
// An open C stream that is closed when it goes out of scope.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenFile(const std::string& path, const char* mode);

// Reads a whole regular file. Returns false (and prints nothing) when it cannot
// be opened or read completely.
bool ReadWholeFile(const std::string& path, Bytes& out);

bool FileExists(const std::string& path);

// Creates a directory; an existing directory is not an error.
bool MakeDirectory(const std::string& path);

// Creates the directories that a relative file name (already checked with
// IsContainedRelativePath, '/' between its parts) needs below `root`.
bool MakeParentDirectories(const std::string& root, const std::string& relativeFile);

using platform::RemoveEmptyDirectory;

// Removes a file; false when it could not be removed (a missing file is no
// error).
bool RemoveFile(const std::string& path);

// 64-bit file positions and lengths, whatever the size of long.
using platform::FileLength;
using platform::SeekFile;
using platform::TellFile;

// Reads exactly `count` bytes at `position` into `out` (resized to `count`).
bool ReadFileAt(std::FILE* file, uint64_t position, size_t count, Bytes& out);

// Large members move between files in chunks of this size, so memory stays
// bounded by one chunk whatever the member's size.
inline constexpr uint64_t kCopyChunkSize = 0x3000000;  // 48 MiB
// Copies of at least this many bytes go through the kernel where it can.
inline constexpr uint64_t kKernelCopyMinimum = 64 * 1024;

// Copies `count` bytes from the source's position to the destination's
// position; both positions advance by the bytes copied. Returns false on a
// short read (the source's end-of-file or error indicator is then set) or a
// failed write. Where the system can copy between files in
// the kernel (copy_file_range on Linux) the bytes never pass through user
// memory; otherwise, and when the kernel declines, they move in chunks of
// `chunkSize` bytes.
bool CopyFileRange(uint64_t count, std::FILE* source, std::FILE* destination,
                   uint64_t chunkSize = kCopyChunkSize);

// Whether a replacement waits until the new file is on disk before the
// rename (and, on POSIX, flushes the directory after it). Files a tool can
// write again from their source (unpacked members, images, member files,
// dumps) need not: one flush each would cost hundreds of disk waits for
// nothing. A file that replaces the translator's only copy (a game file
// written back, an archive) must, or a power loss right after a successful
// run could bring the old file back.
enum class Durability { kFlushToDisk, kRenameOnly };

// Writes `target` through a temporary file created in the target's own
// directory: the writer fills it completely, it is flushed (to disk, with
// kFlushToDisk) and then renamed over the target in one step, keeping the
// target's permission bits (its read-only attribute on Windows). On any failure
// the target is untouched, the temporary file is removed, an error naming the
// target is printed and false is returned. An exception from the writer
// (std::bad_alloc) passes through, with the temporary file removed too.
// When the target is a symbolic link, the file it leads to is replaced (from
// beside that file) and the link stays. An interrupt removes the temporary
// file (platform::InstallInterruptCleanup). With kFlushToDisk, temporary
// files of an earlier run that was killed, found beside the target, are
// named on standard error and left alone (another run may own them).
bool ReplaceFileWith(const std::string& target, const std::function<bool(std::FILE*)>& writer,
                     Durability durability = Durability::kFlushToDisk);
// ReplaceFileSafely hands the contents to the thread's replacement catcher
// instead, when one is installed (util/replacement_catcher.h).
bool ReplaceFileSafely(const std::string& target, ByteSpan contents,
                       Durability durability = Durability::kFlushToDisk);

// What a writer that can also find faults in its own input reports.
enum class WriterStatus {
  kWritten,      // the file is complete
  kWriteFailed,  // a write failed; the error is printed as by ReplaceFileWith
  kReported,     // the writer printed its own message; nothing more is printed
  kUnchanged,    // the target already holds what would be written: it stays as it is
};
// As ReplaceFileWith, for such writers.
bool ReplaceFileWithStatus(const std::string& target, const std::function<WriterStatus(std::FILE*)>& writer,
                           Durability durability = Durability::kFlushToDisk);

// Before a tool writes `newBytes` over the file at `path` (a dump the
// translator may have edited): when a file stands there and its bytes
// differ, it is first kept as path + ".bak", replacing an older backup, and
// a note on standard error says so. Nothing is done when there is no file or
// it holds exactly `newBytes`. False, with an error printed, when the file
// cannot be read or its backup cannot be written; the caller must then not
// write over it.
bool KeepBackupIfDifferent(const std::string& path, ByteSpan newBytes);
// The same for a caller that makes its new bytes piece by piece:
// `differs(existing)` tells whether they differ from the existing file's.
bool KeepBackupIf(const std::string& path, const std::function<bool(ByteSpan existing)>& differs);

// Writes an output that a tool can write again from its input (an unpacked
// member, an image) at `root`/`relativeFile`, creating the directories it
// needs below `root`; replaced safely, without waiting for the disk. A
// symbolic link there is replaced itself, never written through. Prints
// an error and returns false when it cannot.
bool WriteFileBelow(const std::string& root, const std::string& relativeFile,
                    const std::function<bool(std::FILE*)>& writer);

// Gives a file's bytes in order, piece by piece, to `put`. False when it
// could not produce them (it has reported why) or when `put` returned false
// (a failed write).
using ByteProducer = std::function<bool(const std::function<bool(ByteSpan piece)>& put)>;

// As WriteFileBelow, for an output of `length` bytes that `produce` gives in
// pieces, written again over an earlier run's: a regular file there that
// already holds exactly these bytes is left as it stands (compared as the
// pieces come: nothing is written to it, nothing renamed over it), and
// `unchanged` (when given) says so. Otherwise the file is replaced safely;
// the part that matched is copied from the old file, not produced twice.
// With no file of that length there, `writeFresh` writes the whole output
// when given (a kernel-side copy, say), `produce` otherwise.
// A regular file there that is written over with other bytes (the
// translator may have edited it) is first kept as its name + ".bak",
// replacing an older backup, and a note on standard error says so: it is
// moved there just before the rename of the new file, so its bytes are at
// one of the two names at every moment, and a failed rename moves it back.
bool UpdateFileBelow(const std::string& root, const std::string& relativeFile, uint64_t length,
                     const ByteProducer& produce, const std::function<bool(std::FILE*)>& writeFresh = {},
                     bool* unchanged = nullptr);

}  // namespace fpskit
