#include "util/byte_source.h"

#include <algorithm>
#include <cstring>

#include "util/files.h"

namespace fpskit {

bool ByteSource::Read(uint64_t offset, uint64_t count, Bytes& out) const {
  out.clear();
  if (!InRange(length, offset, count) || count > SIZE_MAX) return false;
  if (file == nullptr) {
    out.assign(memory.begin() + ptrdiff_t(offset), memory.begin() + ptrdiff_t(offset + count));
    return true;
  }
  if (ReadFileAt(file, base + offset, size_t(count), out)) return true;
  out.clear();
  return false;
}

bool ByteSource::ReadInto(uint64_t offset, uint64_t count, uint8_t* out) const {
  if (!InRange(length, offset, count)) return false;
  if (count == 0) return true;
  if (file == nullptr) {
    std::memcpy(out, memory.data() + offset, size_t(count));
    return true;
  }
  return SeekFile(file, base + offset) && std::fread(out, 1, size_t(count), file) == count;
}

void ByteSource::Peek(uint64_t offset, uint8_t* out, size_t count) const {
  std::memset(out, 0, count);
  if (offset >= length) return;
  const size_t available = size_t(std::min<uint64_t>(count, length - offset));
  if (file == nullptr) {
    std::memcpy(out, memory.data() + offset, available);
    return;
  }
  Bytes bytes;
  if (ReadFileAt(file, base + offset, available, bytes)) std::memcpy(out, bytes.data(), available);
}

bool ByteSource::CopyTo(uint64_t offset, uint64_t count, std::FILE* destination) const {
  if (!InRange(length, offset, count)) return false;
  if (file == nullptr) {
    return count == 0 || std::fwrite(memory.data() + offset, 1, size_t(count), destination) == count;
  }
  return SeekFile(file, base + offset) && CopyFileRange(count, file, destination);
}

bool ByteSink::Fail() {
  failed = true;
  return false;
}

bool ByteSink::Write(ByteSpan bytes) {
  if (failed) return false;
  if (file == nullptr) {
    AppendBytes(*memory, bytes);
  } else if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    return Fail();
  }
  length += bytes.size();
  return true;
}

bool ByteSink::WriteZeros(uint64_t count) {
  static const uint8_t kZeros[4096] = {};
  while (count > 0) {
    const size_t piece = size_t(std::min<uint64_t>(count, sizeof kZeros));
    if (!Write(ByteSpan(kZeros, piece))) return false;
    count -= piece;
  }
  return !failed;
}

bool ByteSink::Copy(const ByteSource& source, uint64_t offset, uint64_t count) {
  if (failed) return false;
  if (file == nullptr) {
    const size_t at = memory->size();
    memory->resize(at + size_t(count));
    if (!source.ReadInto(offset, count, memory->data() + at)) {
      memory->resize(at);
      return false;
    }
  } else if (!source.CopyTo(offset, count, file)) {
    return Fail();
  }
  length += count;
  return true;
}

bool ByteSink::CopyFromFile(std::FILE* from, uint64_t count) {
  if (failed) return false;
  if (file == nullptr) {
    const size_t at = memory->size();
    memory->resize(at + size_t(count));
    if (count > 0 && std::fread(memory->data() + at, 1, size_t(count), from) != count) {
      memory->resize(at);
      return false;
    }
  } else if (!CopyFileRange(count, from, file)) {
    // A source that ends early is the caller's to report, not a failed write.
    if (std::feof(from) || std::ferror(from)) return false;
    return Fail();
  }
  length += count;
  return true;
}

bool ByteSink::Patch(uint64_t position, ByteSpan bytes) {
  if (failed || !InRange(length, position, bytes.size())) return false;
  if (file == nullptr) {
    std::copy(bytes.begin(), bytes.end(), memory->begin() + ptrdiff_t(base + position));
    return true;
  }
  if (!SeekFile(file, base + position) || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) ||
      !SeekFile(file, base + length)) {
    return Fail();
  }
  return true;
}

}  // namespace fpskit
