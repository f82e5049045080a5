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

size_t CountCrlf(ByteSpan text) {
  size_t count = 0;
  if (text.empty()) return 0;
  const uint8_t* p = text.data();
  const uint8_t* end = text.data() + text.size();
  // Most texts hold no CR at all: memchr skips them at memory speed.
  while ((p = static_cast<const uint8_t*>(std::memchr(p, '\r', size_t(end - p)))) != nullptr) {
    if (++p == end) break;
    if (*p == '\n') ++count;
  }
  return count;
}

CrlfTextError CheckCrlfText(ByteSpan text) {
  if (text.size() >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF))) {
    return CrlfTextError::kUtf16;
  }
  // Every line fpskit writes ends in CR LF, so one is enough; a lone LF inside
  // a line is text (a game byte 0A dumped without a table row for it).
  bool lineFeed = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    if (i > 0 && text[i - 1] == '\r') return CrlfTextError::kNone;
    lineFeed = true;
  }
  return lineFeed ? CrlfTextError::kLineFeedsOnly : CrlfTextError::kNone;
}

bool WantsByteOrderMark(const char* option) {
  return option != nullptr && std::strncmp(option, "utf8", 4) == 0;
}

}  // namespace fpskit
