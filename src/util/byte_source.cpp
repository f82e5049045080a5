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

}  // namespace fpskit
