// File helpers: whole-file reads, chunked copies between open files, and the
// safe replacement through which every output file is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "util/bytes.h"

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

// Large members move between files in chunks of this size, so memory stays
// bounded by one chunk whatever the member's size.
inline constexpr uint64_t kCopyChunkSize = 0x3000000;  // 48 MiB

// Copies `count` bytes from the source's position to the destination's
// position. Returns false on a short read or a failed write.
bool CopyFileRange(uint64_t count, std::FILE* source, std::FILE* destination,
                   uint64_t chunkSize = kCopyChunkSize);

// Writes `target` through a temporary file created in the target's own
// directory: the writer fills it completely, it is flushed to disk and then
// renamed over the target in one step, keeping the target's permission bits.
// On any failure the target is untouched, the temporary file is removed, an
// error naming the target is printed and false is returned.
bool ReplaceFileWith(const std::string& target, const std::function<bool(std::FILE*)>& writer);
bool ReplaceFileSafely(const std::string& target, ByteSpan contents);

}  // namespace fpskit
