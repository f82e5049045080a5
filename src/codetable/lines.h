// CR LF lines, as code tables and text dumps store them.
#pragma once

#include "util/bytes.h"

namespace fpskit {

// Reads the CR LF lines of a byte buffer in order. A lone CR or LF is content.
// A last line without its CR LF ends at the end of the data; an empty buffer,
// or one that ends right after a CR LF, has no further line.
class CrlfLineReader {
 public:
  explicit CrlfLineReader(ByteSpan data, size_t position = 0) : data_(data), pos_(position) {}

  // The next line without its CR LF; false when the data is exhausted.
  bool ReadCrlfLine(ByteSpan& line);
  bool AtEnd() const { return pos_ >= data_.size(); }
  size_t position() const { return pos_; }

 private:
  ByteSpan data_;
  size_t pos_;
};

inline constexpr uint8_t kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

// 3 when the data begins with the UTF-8 byte order mark, else 0.
size_t ByteOrderMarkLength(ByteSpan data);

// The number of CR LF pairs in a text: a converted string that holds any
// splits its dump line.
size_t CountCrlf(ByteSpan text);

// What keeps a dump or code table from being read as fpskit wrote it.
enum class CrlfTextError {
  kNone,
  kUtf16,          // it begins with the UTF-16 byte order mark FF FE or FE FF
  kLineFeedsOnly,  // it holds line feeds but not one CR LF
};

// Checks that an editor kept a dump or code table in the form fpskit reads:
// not UTF-16, and not with line feeds but not one CR LF (an editor that
// saved LF line ends would make the whole file one line).
CrlfTextError CheckCrlfText(ByteSpan text);

// True when the extraction option asks for a byte order mark: its first four
// characters are "utf8".
bool WantsByteOrderMark(const char* option);

}  // namespace fpskit
