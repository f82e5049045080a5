#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "util/console.h"
#include "util/paths.h"
#include "util/platform.h"
#include "util/replacement_catcher.h"

namespace fpskit {

FileHandle OpenFile(const std::string& path, const char* mode) {
  return FileHandle(platform::OpenFile(path, mode));
}

bool ReadWholeFile(const std::string& path, Bytes& out) {
  FileHandle file = OpenFile(path, "rb");
  if (!file) return false;
  uint64_t size = 0;
  if (!FileLength(file.get(), size) || size > SIZE_MAX) return false;
  out.clear();
  out.reserve(size_t(size));
  platform::AdviseLargePages(out.data(), out.capacity());
  out.resize(size_t(size));
  if (!out.empty() && std::fread(out.data(), 1, out.size(), file.get()) != out.size()) return false;
  // A file that grew since fstat still reads as the size seen then; one more
  // byte shows it and the read is taken whole.
  int extra;
  while ((extra = std::fgetc(file.get())) != EOF) out.push_back(uint8_t(extra));
  return !std::ferror(file.get());
}

bool FileExists(const std::string& path) { return platform::PathExists(path); }

bool MakeDirectory(const std::string& path) {
  const platform::SystemError error = platform::MakeOneDirectory(path);
  return error == 0 || (error == EEXIST && platform::IsDirectory(path));
}

bool MakeParentDirectories(const std::string& root, const std::string& relativeFile) {
  for (size_t slash = relativeFile.find('/'); slash != std::string::npos; slash = relativeFile.find('/', slash + 1)) {
    if (!MakeDirectory(JoinPath(root, relativeFile.substr(0, slash)))) return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  const platform::SystemError error = platform::RemoveFile(path);
  return error == 0 || error == ENOENT;
}

bool ReadFileAt(std::FILE* file, uint64_t position, size_t count, Bytes& out) {
  out.resize(count);
  if (!SeekFile(file, position)) return false;
  return count == 0 || std::fread(out.data(), 1, count, file) == count;
}

namespace {

bool CopyInChunks(uint64_t count, std::FILE* source, std::FILE* destination, uint64_t chunkSize) {
  std::vector<uint8_t> buffer(size_t(std::min(count, std::max<uint64_t>(chunkSize, 1))));
  while (count > 0) {
    const size_t chunk = size_t(std::min<uint64_t>(count, buffer.size()));
    if (std::fread(buffer.data(), 1, chunk, source) != chunk) return false;
    if (std::fwrite(buffer.data(), 1, chunk, destination) != chunk) return false;
    count -= chunk;
  }
  return true;
}

}  // namespace

bool CopyFileRange(uint64_t count, std::FILE* source, std::FILE* destination, uint64_t chunkSize) {
  if (count == 0) return true;
  // Small copies are not worth the system calls and the flush.
  if (count >= kKernelCopyMinimum) {
    switch (platform::CopyInKernel(count, source, destination)) {
      case platform::KernelCopy::kDone: return true;
      case platform::KernelCopy::kFailed: return false;
      case platform::KernelCopy::kUnsupported: break;
    }
  }
  return CopyInChunks(count, source, destination, chunkSize);
}

namespace {

// The prefix of every temporary file, beside the file it replaces.
constexpr char kTemporaryPrefix[] = "$$$TEMP$$$";

// Says on standard error which temporary files of ours lie in `directory`:
// left by a run that was killed (an interrupt removes its own), or being
// written by another run right now, so they are not removed.
void NoteLeftTemporaries(const std::string& directory, const std::string& target) {
  std::vector<platform::DirectoryItem> items;
  platform::ListDirectory(directory, items);
  for (const platform::DirectoryItem& item : items) {
    const std::string& name = item.name;
    if (name.rfind(kTemporaryPrefix, 0) != 0) continue;
    Warnf("NOTE: %s%s was left by a run that was killed while it replaced a file there (or another run is writing "
          "it now); it is not removed: delete it when no other run is writing %s",
          directory.c_str(), name.c_str(), target.c_str());
  }
}

// What becomes of the file a replacement writes over.
enum class EarlierFile {
  kReplaced,  // it is gone once the new file is renamed over it
  kKeptAsBackup,  // an earlier run's output the translator may have edited: kept as its name + ".bak"
};

// Moves the file at `replaced` to its backup name, replacing an older backup
// in one step, so that its bytes are at one of the two names at every moment:
// nothing is copied and no second temporary file is made while the caller's
// own is in progress. `moved` is false when there was no file to move.
bool MoveToBackup(const std::string& target, const std::string& replaced, bool& moved) {
  moved = false;
  if (!platform::IsRegularFile(replaced) || platform::IsSymbolicLink(replaced)) return true;
  const std::string backup = replaced + ".bak";
  const platform::SystemError error = platform::RenameOver(replaced, backup, platform::AttributesToKeep(replaced));
  if (error == ENOENT) return true;
  if (error != 0) {
    Printf("\nERROR: can't keep %s as %s: %s; it was not written over", target.c_str(), (target + ".bak").c_str(),
           platform::SystemErrorText(error).c_str());
    return false;
  }
  moved = true;
  return true;
}

bool ReplaceFile(const std::string& target, const std::function<WriterStatus(std::FILE*)>& writer,
                 Durability durability, bool followLinks, EarlierFile earlier = EarlierFile::kReplaced) {
  // A link stays a link: its target is what is replaced, from beside it. An
  // output below a tool's own directory is never written through a link.
  const std::string replaced = followLinks ? platform::ResolveLinks(target) : target;
  // The temporary file lives beside the file it replaces, so the rename
  // stays on one file system and runs in different directories never share
  // it.
  const std::string directory = platform::DirectoryPartOf(replaced);
  if (durability == Durability::kFlushToDisk) NoteLeftTemporaries(directory, target);
  const platform::KeptAttributes attributes = platform::AttributesToKeep(replaced);
  std::FILE* opened = nullptr;
  std::string temp;
  int slot = -1;
  platform::SystemError error = platform::CreateTemporaryFile(directory + kTemporaryPrefix, opened, temp, slot);
  if (error != 0) {
    Printf("\nERROR: can't write %s: %s", target.c_str(), platform::SystemErrorText(error).c_str());
    return false;
  }
  // Removes the temporary file on every way out but the rename, an exception
  // from the writer (out of memory) included; declared first, so that the
  // file is closed before (Windows removes no open file).
  struct TempFileGuard {
    const std::string& path;
    int slot;
    bool renamed = false;
    ~TempFileGuard() { if (!renamed) platform::RemoveTemporary(slot, path); }
  } guard{temp, slot};
  FileHandle file(opened);
  errno = 0;
  const WriterStatus status = writer(file.get());
  bool ok = (status == WriterStatus::kWritten || status == WriterStatus::kUnchanged) && !std::ferror(file.get());
  if (!ok) {
    error = errno;
  } else if (status == WriterStatus::kUnchanged) {
    // Nothing was written; the target stays.
  } else if (durability == Durability::kFlushToDisk) {
    error = platform::FlushToDisk(file.get());
    ok = error == 0;
  } else if (std::fflush(file.get()) != 0) {
    error = errno;
    ok = false;
  }
  if (std::fclose(file.release()) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && status == WriterStatus::kUnchanged) return true;  // the guard removes the temporary file
  // The earlier file goes to its backup only once the new one is complete,
  // just before the rename; a failed rename brings it back. An interrupt
  // between the two renames leaves the earlier file as the backup and no
  // file under the target's name, which the next run writes afresh.
  bool backedUp = false;
  if (ok && earlier == EarlierFile::kKeptAsBackup && !MoveToBackup(target, replaced, backedUp)) return false;
  if (ok) {
    error = platform::RenameTemporaryOver(slot, temp, replaced, attributes);
    ok = error == 0;
    if (!ok && backedUp &&
        platform::RenameOver(replaced + ".bak", replaced, platform::AttributesToKeep(replaced + ".bak")) != 0) {
      Warnf("NOTE: the earlier %s is kept as %s.bak", target.c_str(), target.c_str());
    }
  }
  guard.renamed = ok;
  if (ok && backedUp) {
    Warnf("NOTE: %s differs from what is written over it now; the earlier file is kept as %s.bak", target.c_str(),
          target.c_str());
  }
  if (!ok) {
    if (status == WriterStatus::kReported) return false;
    Printf("\nERROR: can't write %s: %s", target.c_str(),
           error != 0 ? platform::SystemErrorText(error).c_str() : "write failed");
    return false;
  }
  // The new name is on disk only once its directory is. The file is
  // replaced by now whatever this says, so a file system that cannot flush
  // a directory is no failure.
  if (durability == Durability::kFlushToDisk) platform::FlushDirectory(directory);
  return true;
}

}  // namespace

bool ReplaceFileWith(const std::string& target, const std::function<bool(std::FILE*)>& writer,
                     Durability durability) {
  return ReplaceFileWithStatus(
      target, [&](std::FILE* file) { return writer(file) ? WriterStatus::kWritten : WriterStatus::kWriteFailed; },
      durability);
}

bool ReplaceFileWithStatus(const std::string& target, const std::function<WriterStatus(std::FILE*)>& writer,
                           Durability durability) {
  return ReplaceFile(target, writer, durability, true);
}

bool ReplaceFileSafely(const std::string& target, ByteSpan contents, Durability durability) {
  if (const ReplacementCatcher* catcher = CurrentReplacementCatcher()) return (*catcher)(target, contents, durability);
  return ReplaceFileWith(
      target,
      [contents](std::FILE* file) {
        return contents.empty() || std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
      },
      durability);
}

namespace {

bool WriteBelow(const std::string& root, const std::string& relativeFile, const std::function<bool(std::FILE*)>& writer,
                EarlierFile earlier) {
  if (!MakeParentDirectories(root, relativeFile)) {
    Printf("\nERROR: can't create the directories of %s", JoinPath(root, relativeFile).c_str());
    return false;
  }
  return ReplaceFile(
      JoinPath(root, relativeFile),
      [&](std::FILE* file) { return writer(file) ? WriterStatus::kWritten : WriterStatus::kWriteFailed; },
      Durability::kRenameOnly, false, earlier);
}

}  // namespace

bool WriteFileBelow(const std::string& root, const std::string& relativeFile,
                    const std::function<bool(std::FILE*)>& writer) {
  return WriteBelow(root, relativeFile, writer, EarlierFile::kReplaced);
}

bool UpdateFileBelow(const std::string& root, const std::string& relativeFile, uint64_t length,
                     const ByteProducer& produce, const std::function<bool(std::FILE*)>& writeFresh,
                     bool* unchanged) {
  if (unchanged != nullptr) *unchanged = false;
  const std::string target = JoinPath(root, relativeFile);
  // Only a regular file of the very length can hold the same bytes; a link
  // there is replaced itself, never compared through.
  // A file of an earlier run that is written over with other bytes (the
  // translator edited it) is kept as a backup.
  FileHandle old;
  uint64_t oldLength = 0;
  const bool existing = !platform::IsSymbolicLink(target) && platform::IsRegularFile(target);
  const EarlierFile earlier = existing ? EarlierFile::kKeptAsBackup : EarlierFile::kReplaced;
  if (existing) {
    old = OpenFile(target, "rb");
    if (old && (!FileLength(old.get(), oldLength) || oldLength != length || !SeekFile(old.get(), 0))) old.reset();
  }
  if (!old && writeFresh) return WriteBelow(root, relativeFile, writeFresh, earlier);
  if (!old && !MakeParentDirectories(root, relativeFile)) {
    Printf("\nERROR: can't create the directories of %s", target.c_str());
    return false;
  }
  bool same = false;
  const bool written = ReplaceFile(
      target,
      [&](std::FILE* file) {
        uint64_t matched = 0;
        bool comparing = old != nullptr;
        bool putFailed = false;
        Bytes theirs;
        // The first piece that differs ends the comparison: what matched is
        // copied from the old file, and every piece from here on written.
        auto diverge = [&]() {
          comparing = false;
          return SeekFile(old.get(), 0) && CopyFileRange(matched, old.get(), file);
        };
        const bool produced = produce([&](ByteSpan piece) {
          if (comparing) {
            theirs.resize(piece.size());
            if (matched + piece.size() <= length &&
                std::fread(theirs.data(), 1, piece.size(), old.get()) == piece.size() &&
                std::equal(piece.begin(), piece.end(), theirs.begin())) {
              matched += piece.size();
              return true;
            }
            if (!diverge()) return !(putFailed = true);
          }
          if (piece.empty() || std::fwrite(piece.data(), 1, piece.size(), file) == piece.size()) return true;
          return !(putFailed = true);
        });
        WriterStatus status = WriterStatus::kWritten;
        if (!produced) {
          status = putFailed ? WriterStatus::kWriteFailed : WriterStatus::kReported;
        } else if (comparing && matched == length) {
          same = true;
          status = WriterStatus::kUnchanged;
        } else if (comparing && !diverge()) {
          status = WriterStatus::kWriteFailed;
        }
        // Closed before the rename: Windows renames over no file that is
        // still open.
        old.reset();
        return status;
      },
      Durability::kRenameOnly, false, earlier);
  if (unchanged != nullptr) *unchanged = written && same;
  return written;
}

bool KeepBackupIf(const std::string& path, const std::function<bool(ByteSpan existing)>& differs) {
  if (!FileExists(path)) return true;
  Bytes existing;
  const std::string backup = path + ".bak";
  if (!ReadWholeFile(path, existing)) {
    Printf("\nERROR: can't read %s to keep it as %s; it was not written over", path.c_str(), backup.c_str());
    return false;
  }
  if (!differs(existing)) return true;
  // Written safely, so that a failure leaves the older backup, and flushed to
  // disk: it may be the only copy of the translator's edits.
  if (!ReplaceFileSafely(backup, existing)) return false;
  Warnf("NOTE: %s differs from what is written over it now; the earlier file is kept as %s", path.c_str(),
        backup.c_str());
  return true;
}

bool KeepBackupIfDifferent(const std::string& path, ByteSpan newBytes) {
  // A file of the same length is compared piece by piece first: the usual
  // case, an earlier dump that still holds exactly these bytes, then costs
  // no buffer the size of the file. Pieces of 128 KiB stay in cache between
  // the read and the comparison, and cost few pages of their own.
  if (FileHandle file = OpenFile(path, "rb")) {
    uint64_t length = 0;
    if (FileLength(file.get(), length) && length == newBytes.size() && SeekFile(file.get(), 0)) {
      Bytes piece(size_t(std::min<uint64_t>(length, 1 << 17)));
      size_t compared = 0;
      while (compared < newBytes.size()) {
        const size_t count = std::min(piece.size(), newBytes.size() - compared);
        if (std::fread(piece.data(), 1, count, file.get()) != count ||
            !std::equal(piece.begin(), piece.begin() + ptrdiff_t(count), newBytes.begin() + ptrdiff_t(compared))) {
          break;
        }
        compared += count;
      }
      if (compared == newBytes.size()) return true;
    }
  }
  return KeepBackupIf(path, [newBytes](ByteSpan existing) {
    return !std::equal(existing.begin(), existing.end(), newBytes.begin(), newBytes.end());
  });
}

}  // namespace fpskit
