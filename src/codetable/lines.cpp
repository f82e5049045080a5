#include "codetable/lines.h"

#include <cstring>

namespace fpskit {

bool CrlfLineReader::ReadCrlfLine(ByteSpan& line) {
  if (pos_ >= data_.size()) return false;
  const uint8_t* begin = data_.data() + pos_;
  const uint8_t* end = data_.data() + data_.size();
  const uint8_t* scan = begin;
  while (true) {
    const void* cr = std::memchr(scan, '\r', size_t(end - scan));
    if (cr == nullptr) {
      line = ByteSpan(begin, size_t(end - begin));
      pos_ = data_.size();
      return true;
    }
    const uint8_t* at = static_cast<const uint8_t*>(cr);
    if (at + 1 < end && at[1] == '\n') {
      line = ByteSpan(begin, size_t(at - begin));
      pos_ = size_t(at + 2 - data_.data());
      return true;
    }
    scan = at + 1;
  }
}

size_t ByteOrderMarkLength(ByteSpan data) {
  return data.size() >= 3 && std::memcmp(data.data(), kByteOrderMark, 3) == 0 ? 3 : 0;
}

bool WantsByteOrderMark(const char* option) {
  return option != nullptr && std::strncmp(option, "utf8", 4) == 0;
}

}  // namespace fpskit
