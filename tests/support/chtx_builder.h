// Builds ZK6CHTX chat files for the tests, the benchmark and the samples.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codetable/codetable.h"
#include "util/bytes.h"

namespace fpskit::support {

// Recognisable values for the header fields the tools do not interpret, so
// that tests can see them kept.
inline constexpr uint32_t kChtxField16 = 0x00010203;
inline constexpr uint8_t kChtxField24[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};

// A chat file assembled piece by piece: strings and padding go into the
// string area in call order (the first string is the leading one, at offset
// 0), entries point at offsets in it.
class ChtxBuilder {
 public:
  // Appends a zero-terminated string and returns its offset.
  uint32_t String(std::string_view text);
  uint32_t String(ByteSpan bytes);
  // Appends raw bytes to the string area (padding after a string).
  ChtxBuilder& Padding(size_t count, uint8_t fill = 0);
  ChtxBuilder& Entry(uint32_t plain, uint32_t jp, uint32_t en, uint32_t fourth = 0);
  // Appends three strings and an entry pointing at them.
  ChtxBuilder& Entry(std::string_view plain, std::string_view jp, std::string_view en, uint32_t fourth = 0);
  // Leaves `count` unused bytes between the entry table and the string area.
  ChtxBuilder& Gap(size_t count) { gap_ = count; return *this; }

  Bytes Build() const;

 private:
  Bytes strings_;
  std::vector<std::array<uint32_t, 4>> entries_;
  size_t gap_ = 0;
};

// A chat file of about `size` bytes of Shift-JIS text from `rows` (see
// ShiftJisText): a leading string, then entries whose strings are stored in
// record order, with every eighth entry sharing its "[JP]" string with its
// "[EN]" string, as the game does for lines that were never translated.
Bytes MakeShiftJisChat(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows);

}  // namespace fpskit::support
