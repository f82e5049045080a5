#include "support/builders.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <cstdio>
#include <set>

namespace fpskit::support {

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string ToString(ByteSpan bytes) { return std::string(bytes.begin(), bytes.end()); }

CodeTableEntry Row(std::string_view left, std::string_view right) {
  CodeTableEntry row;
  row.leftLength = int32_t(left.size());
  row.rightLength = int32_t(right.size());
  std::copy(left.begin(), left.end(), row.leftBytes.begin());
  std::copy(right.begin(), right.end(), row.rightBytes.begin());
  return row;
}

namespace {

void AppendHexColumn(std::string& out, const uint8_t* bytes, int32_t length) {
  char pair[4];
  for (int32_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i > 0) out += ' ';
    out += pair;
  }
}

}  // namespace

std::string CodeTableText(const std::vector<CodeTableEntry>& rows, bool byteOrderMark) {
  std::string text = byteOrderMark ? "\xEF\xBB\xBF" : "";
  for (const CodeTableEntry& row : rows) {
    AppendHexColumn(text, row.leftBytes.data(), row.leftLength);
    text += "; ";
    AppendHexColumn(text, row.rightBytes.data(), row.rightLength);
    text += "\r\n";
  }
  return text;
}

namespace {

#ifdef _WIN32
// Windows converts through its code page 932, which gives some characters
// two codes; only the first of them gets a row, so that the table converts
// back to the code it came from.
class ShiftJisConverter {
 public:
  bool ok() const { return true; }
  bool ToUtf8(const char (&code)[2], std::string& utf8) {
    wchar_t wide[2];
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, code, 2, wide, 2) != 1) return false;
    char out[8];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, 1, out, sizeof out, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.assign(out, size_t(length));
    return seen_.insert(utf8).second;
  }

 private:
  std::set<std::string> seen_;
};
#else
class ShiftJisConverter {
 public:
  ShiftJisConverter() : converter_(iconv_open("UTF-8", "SHIFT_JIS")) {}
  ~ShiftJisConverter() {
    if (ok()) iconv_close(converter_);
  }
  bool ok() const { return converter_ != iconv_t(-1); }
  bool ToUtf8(const char (&code)[2], std::string& utf8) {
    char in[2] = {code[0], code[1]};
    char out[8];
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = 2, outLeft = sizeof out;
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter_, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) return false;
    utf8.assign(out, sizeof out - outLeft);
    return true;
  }

 private:
  iconv_t converter_;
};
#endif

}  // namespace

std::vector<CodeTableEntry> ShiftJisRows() {
  std::vector<CodeTableEntry> rows;
  for (int c = 0x20; c < 0x7F; ++c) {
    const char byte = char(c);
    rows.push_back(Row(std::string_view(&byte, 1), std::string_view(&byte, 1)));
  }
  ShiftJisConverter converter;
  if (!converter.ok()) return rows;
  std::string utf8;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const char code[2] = {char(lead), char(trail)};
      if (converter.ToUtf8(code, utf8)) rows.push_back(Row(std::string_view(code, 2), utf8));
    }
  }
  return rows;
}

Bytes ShiftJisText(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows) {
  std::vector<const CodeTableEntry*> doubles;
  for (const CodeTableEntry& row : rows) {
    if (row.leftLength == 2) doubles.push_back(&row);
  }
  Random random(seed);
  Bytes text;
  text.reserve(size);
  while (text.size() < size) {
    const size_t room = size - text.size();
    if (doubles.empty() || room < 2 || random.Below(8) == 0) {
      const size_t word = std::min<size_t>(room, 1 + random.Below(7));
      for (size_t i = 0; i + 1 < word; ++i) text.push_back(uint8_t('a' + random.Below(26)));
      text.push_back(' ');
    } else {
      const CodeTableEntry* row = doubles[random.Below(uint32_t(doubles.size()))];
      text.push_back(row->leftBytes[0]);
      text.push_back(row->leftBytes[1]);
    }
  }
  return text;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  Random random(seed);
  Bytes out(size);
  for (uint8_t& byte : out) byte = uint8_t(random.Next() >> 24);
  return out;
}

}  // namespace fpskit::support
