#include "util/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "util/console.h"
#include "util/paths.h"

namespace fpskit {

FileHandle OpenFile(const std::string& path, const char* mode) {
  return FileHandle(std::fopen(path.c_str(), mode));
}

bool ReadWholeFile(const std::string& path, Bytes& out) {
  FileHandle file = OpenFile(path, "rb");
  if (!file) return false;
  struct stat info;
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  out.resize(size_t(info.st_size));
  if (!out.empty() && std::fread(out.data(), 1, out.size(), file.get()) != out.size()) return false;
  // A file that grew since fstat still reads as the size seen then; one more
  // byte shows it and the read is taken whole.
  int extra;
  while ((extra = std::fgetc(file.get())) != EOF) out.push_back(uint8_t(extra));
  return !std::ferror(file.get());
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  struct stat info;
  return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeParentDirectories(const std::string& root, const std::string& relativeFile) {
  for (size_t slash = relativeFile.find('/'); slash != std::string::npos; slash = relativeFile.find('/', slash + 1)) {
    if (!MakeDirectory(JoinPath(root, relativeFile.substr(0, slash)))) return false;
  }
  return true;
}

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool SeekFile(std::FILE* file, uint64_t position) {
  return position <= uint64_t(INT64_MAX) && fseeko(file, off_t(position), SEEK_SET) == 0;
}

bool TellFile(std::FILE* file, uint64_t& position) {
  const off_t at = ftello(file);
  if (at < 0) return false;
  position = uint64_t(at);
  return true;
}

bool FileLength(std::FILE* file, uint64_t& length) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  length = uint64_t(info.st_size);
  return true;
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

#if defined(__linux__)
enum class KernelCopy { kDone, kFailed, kUnsupported };

// Lets the kernel move the bytes between the two files, as cp does. The
// streams' buffered positions are handed to the kernel explicitly and set
// again afterwards, so the streams stay usable. kUnsupported (nothing
// copied) when the kernel or the file systems cannot do it.
KernelCopy CopyInKernel(uint64_t& count, std::FILE* source, std::FILE* destination) {
  if (std::fflush(destination) != 0) return KernelCopy::kFailed;
  off_t in = ftello(source);
  off_t out = ftello(destination);
  if (in < 0 || out < 0) return KernelCopy::kUnsupported;
  bool copied = false;
  while (count > 0) {
    const size_t request = size_t(std::min<uint64_t>(count, uint64_t(1) << 30));
    const ssize_t moved = copy_file_range(fileno(source), &in, fileno(destination), &out, request, 0);
    if (moved < 0) {
      if (!copied && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
                      errno == EBADF || errno == EPERM || errno == ETXTBSY)) {
        return KernelCopy::kUnsupported;
      }
      return KernelCopy::kFailed;
    }
    if (moved == 0) return KernelCopy::kFailed;  // the source ended early
    copied = true;
    count -= uint64_t(moved);
  }
  if (fseeko(source, in, SEEK_SET) != 0 || fseeko(destination, out, SEEK_SET) != 0) return KernelCopy::kFailed;
  return KernelCopy::kDone;
}
#endif

}  // namespace

bool CopyFileRange(uint64_t count, std::FILE* source, std::FILE* destination, uint64_t chunkSize) {
  if (count == 0) return true;
#if defined(__linux__)
  // Small copies are not worth the system calls and the flush.
  if (count >= kKernelCopyMinimum) {
    switch (CopyInKernel(count, source, destination)) {
      case KernelCopy::kDone: return true;
      case KernelCopy::kFailed: return false;
      case KernelCopy::kUnsupported: break;
    }
  }
#endif
  return CopyInChunks(count, source, destination, chunkSize);
}

namespace {

mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return mode_t(0666 & ~mask);
  }();
  return mode;
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
  // The temporary file lives beside the target, so the rename stays on one
  // file system and runs in different directories never share it. Only '/'
  // separates directories here: a backslash is part of a POSIX file name, and
  // a directory named by the part before it may not exist, or be another one.
  const size_t slash = target.rfind('/');
  std::string temp = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + "$$$TEMP$$$XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    Printf("\nERROR: can't write %s: %s", target.c_str(), std::strerror(errno));
    return false;
  }
  temp.assign(name.data());
  // Removes the temporary file on every way out but the rename, an exception
  // from the writer (out of memory) included.
  struct TempFileGuard {
    const std::string& path;
    bool renamed = false;
    ~TempFileGuard() { if (!renamed) unlink(path.c_str()); }
  } guard{temp};

  struct stat info;
  const mode_t mode = stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : NewFileMode();
  fchmod(fd, mode);

  FileHandle file(fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    close(fd);
    Printf("\nERROR: can't write %s: %s", target.c_str(), std::strerror(error));
    return false;
  }
  errno = 0;
  const WriterStatus status = writer(file.get());
  bool ok = status == WriterStatus::kWritten;
  ok = ok && std::fflush(file.get()) == 0 && !std::ferror(file.get());
  ok = ok && (durability == Durability::kRenameOnly || fsync(fileno(file.get())) == 0);
  int error = errno;
  if (std::fclose(file.release()) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  guard.renamed = ok;
  if (!ok) {
    if (status == WriterStatus::kReported) return false;
    Printf("\nERROR: can't write %s: %s", target.c_str(),
           error != 0 ? std::strerror(error) : "write failed");
  }
  return ok;
}

bool ReplaceFileSafely(const std::string& target, ByteSpan contents, Durability durability) {
  return ReplaceFileWith(
      target,
      [contents](std::FILE* file) {
        return contents.empty() || std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
      },
      durability);
}

bool WriteFileBelow(const std::string& root, const std::string& relativeFile,
                    const std::function<bool(std::FILE*)>& writer) {
  if (!MakeParentDirectories(root, relativeFile)) {
    Printf("\nERROR: can't create the directories of %s", JoinPath(root, relativeFile).c_str());
    return false;
  }
  return ReplaceFileWith(JoinPath(root, relativeFile), writer, Durability::kRenameOnly);
}

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace fpskit
