// Synthetic TSS scripts and ZK6SCEL containers: a code area that refers to
// strings, text quads after their strings, an SP string behind its slot; and
// containers of LZSS-compressed members.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codetable/codetable.h"
#include "util/bytes.h"

namespace fpskit::support {

struct TssScript {
  std::vector<std::string> strings;  // stored first in the string area, in this order
  std::vector<size_t> references;    // in code order, each naming one of `strings`
  std::vector<std::array<std::string, 4>> quads;  // each stored after its four strings
  std::optional<std::string> sp;     // an SP marker in the code, the string and its slot at the end
};

struct TssTestFile {
  Bytes bytes;
  uint32_t textBase = 0;
  std::vector<uint32_t> operands;       // per reference, in code order
  std::vector<uint32_t> referenceWords;  // file offset of each reference's 02 82 word, in code order
  std::vector<uint32_t> quadPositions;
  uint32_t spSlot = 0;
};

// The string area starts with the strings, then (when there are quads)
// zeros up to offset 32, as the first quad string must lie beyond 31, then
// each quad's strings, zeros and the quad, 4-aligned and more than 8 bytes
// after its last string. A string area of exactly 32 bytes would mean "no
// text"; the caller avoids it.
TssTestFile MakeTssFile(const TssScript& script);

// The string a reference (by operand), a quad slot or the SP slot leads to
// in a script, through the script's own header; nullopt when it leads nowhere.
std::optional<std::string> TssStringAt(ByteSpan file, uint32_t offset);
std::optional<std::string> TssQuadText(ByteSpan file, uint32_t position, size_t slot);
std::optional<std::string> TssReferenceText(ByteSpan file, uint32_t referenceWord);
std::optional<std::string> TssSpText(ByteSpan file, uint32_t spSlot);

// A quad group as the dump writes it: four prefixed CR LF lines and an empty line.
std::string TssQuadGroup(uint32_t position, const std::array<std::string, 4>& texts);

// A container whose table has one row per element (nullopt: an empty row;
// an odd count gets one more empty row). Members are encoded by the direct
// reference encoder and laid out as the merge lays them out: dataBase at the
// first multiple of 16 after the table, a recognisable 16-byte block there,
// every member padded to 16. The fields the tools keep hold recognisable
// values.
Bytes MakeScelContainer(const std::vector<std::optional<Bytes>>& rows);

// The decoded members of a container in table order, empty rows skipped;
// nullopt for a member that does not decode.
std::vector<std::optional<Bytes>> ScelMemberContents(ByteSpan container);

// A script of about `size` bytes whose strings are Shift-JIS text from
// `rows` (see ShiftJisText): half of them in quads, half referenced.
Bytes MakeShiftJisScript(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows);

}  // namespace fpskit::support
