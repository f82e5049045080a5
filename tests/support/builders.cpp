#include "support/builders.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>

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

std::vector<CodeTableEntry> ShiftJisRows() {
  std::vector<CodeTableEntry> rows;
  for (int c = 0x20; c < 0x7F; ++c) {
    const char byte = char(c);
    rows.push_back(Row(std::string_view(&byte, 1), std::string_view(&byte, 1)));
  }
  iconv_t converter = iconv_open("UTF-8", "SHIFT_JIS");
  if (converter == iconv_t(-1)) return rows;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      char in[2] = {char(lead), char(trail)};
      char out[8];
      char* inPtr = in;
      char* outPtr = out;
      size_t inLeft = 2, outLeft = sizeof out;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
      if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) continue;
      rows.push_back(Row(std::string_view(in, 2), std::string_view(out, sizeof out - outLeft)));
    }
  }
  iconv_close(converter);
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
