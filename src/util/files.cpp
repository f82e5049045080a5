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

bool CopyFileRange(uint64_t count, std::FILE* source, std::FILE* destination, uint64_t chunkSize) {
  if (count == 0) return true;
  std::vector<uint8_t> buffer(size_t(std::min(count, chunkSize)));
  while (count > 0) {
    const size_t chunk = size_t(std::min<uint64_t>(count, buffer.size()));
    if (std::fread(buffer.data(), 1, chunk, source) != chunk) return false;
    if (std::fwrite(buffer.data(), 1, chunk, destination) != chunk) return false;
    count -= chunk;
  }
  return true;
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

bool ReplaceFileWith(const std::string& target, const std::function<bool(std::FILE*)>& writer) {
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
  bool ok = writer(file.get());
  ok = ok && std::fflush(file.get()) == 0 && !std::ferror(file.get());
  ok = ok && fsync(fileno(file.get())) == 0;
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
    Printf("\nERROR: can't write %s: %s", target.c_str(),
           error != 0 ? std::strerror(error) : "write failed");
  }
  return ok;
}

bool ReplaceFileSafely(const std::string& target, ByteSpan contents) {
  return ReplaceFileWith(target, [contents](std::FILE* file) {
    return contents.empty() || std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  });
}

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace fpskit
