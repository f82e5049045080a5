// Synthetic SCFOMBIN files: a 128-byte header, a section whose entry table
// starts 6280 (or 6988) bytes in, and the strings after the table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace fpskit::support {

// One entry of the table. A slot without text gets pointer 0.
struct ScfTestEntry {
  std::array<std::optional<std::string>, 4> texts;
  // The 20-byte form (a first word and the four pointers). Its first pointer
  // decides the form, so slot 0 must have text.
  bool shortForm = false;
  uint32_t firstWord = 0x00010001;
  uint32_t secondWord = 0x00000002;  // 24-byte form only: a small number
};

struct ScfLayout {
  uint32_t sectionOffset = 0x200;
  uint32_t sectionAddress = 0x82000000;
  std::vector<ScfTestEntry> entries;
  bool endEntry = true;          // an all-zero 24-byte entry after the last
  bool alternateTable = false;   // the table at 6988 instead of 6280 past sectionOffset
  bool marker = false;           // "MUS_D24_XTM" at 31850 (the file grows to hold it)
  size_t minimumSize = 0;        // zeros at the end up to this size
  std::optional<uint32_t> entryAreaEnd = std::nullopt;  // default: the end of the table
};

struct ScfTestFile {
  Bytes bytes;
  std::vector<uint32_t> tags;  // file position of each entry's four pointers
  uint32_t tableStart = 0;
  uint32_t stringAreaStart = 0;
};

ScfTestFile MakeScfFile(const ScfLayout& layout);

// The text a slot's pointer leads to in a file, through the file's own header;
// nullopt for pointer 0 (or a pointer that leads nowhere).
std::optional<std::string> ScfSlotText(ByteSpan file, uint32_t tag, size_t slot);

// A dump block as extraction writes it: four prefixed CR LF lines (JP, JP,
// EN, EN) and an empty line.
std::string ScfDumpBlock(uint32_t tag, const std::array<std::string, 4>& texts);

}  // namespace fpskit::support
