#include "support/tss_builder.h"

#include <algorithm>
#include <cstdio>

#include "compress/lzss.h"
#include "support/builders.h"
#include "support/lzss_reference.h"

namespace fpskit::support {
namespace {

constexpr uint32_t kOrdinaryWord = 0x01000000;

}  // namespace

TssTestFile MakeTssFile(const TssScript& script) {
  TssTestFile result;
  // The string area first, so that the code knows its operands.
  ByteBuilder area;
  std::vector<uint32_t> stringOffsets;
  for (const std::string& text : script.strings) {
    stringOffsets.push_back(uint32_t(area.size()));
    area.CString(text);
  }
  if (!script.quads.empty() && area.size() < 32) area.Zeros(32 - area.size());
  for (const std::array<std::string, 4>& quad : script.quads) {
    std::array<uint32_t, 4> offsets;
    for (size_t slot = 0; slot < 4; ++slot) {
      offsets[slot] = uint32_t(area.size());
      area.CString(quad[slot]);
    }
    area.Zeros(9).Align(4);
    result.quadPositions.push_back(uint32_t(area.size()));
    for (uint32_t offset : offsets) area.U32BE(offset);
  }
  uint32_t spOffset = 0;
  if (script.sp) {
    spOffset = uint32_t(area.size());
    area.CString(*script.sp).Align(4);
    result.spSlot = uint32_t(area.size());
    area.U32BE(spOffset);
  }

  ByteBuilder code;
  code.U32BE(kOrdinaryWord);
  for (size_t i = 0; i < script.references.size(); ++i) {
    result.referenceWords.push_back(uint32_t(32 + code.size()));
    result.operands.push_back(stringOffsets.at(script.references[i]));
    code.U32BE(0x02820000 | uint32_t(i & 0xFFFF)).U32BE(result.operands.back()).U32BE(kOrdinaryWord);
  }
  if (script.sp) code.U32BE(0x04830004).U32BE(result.spSlot);

  result.textBase = uint32_t(32 + code.size());
  ByteBuilder file;
  file.Text(std::string("TSS\0", 4)).U32BE(0x00000102).U32BE(0).U32BE(result.textBase).U32BE(0);
  file.U32BE(uint32_t(code.size())).U32BE(uint32_t(area.size())).U32BE(0);
  file.Raw(code.bytes()).Raw(area.bytes());
  result.bytes = file.Take();
  return result;
}

std::optional<std::string> TssStringAt(ByteSpan file, uint32_t offset) {
  if (file.size() < 32) return std::nullopt;
  ByteSpan text;
  if (!TerminatedStringAt(file, uint64_t(LoadU32BE(file.data() + 12)) + offset, text)) return std::nullopt;
  return ToString(text);
}

std::optional<std::string> TssQuadText(ByteSpan file, uint32_t position, size_t slot) {
  const uint64_t at = uint64_t(LoadU32BE(file.data() + 12)) + position + 4 * slot;
  if (!InRange(file.size(), at, 4)) return std::nullopt;
  return TssStringAt(file, LoadU32BE(file.data() + at));
}

std::optional<std::string> TssReferenceText(ByteSpan file, uint32_t referenceWord) {
  if (!InRange(file.size(), referenceWord + 4, 4)) return std::nullopt;
  return TssStringAt(file, LoadU32BE(file.data() + referenceWord + 4));
}

std::optional<std::string> TssSpText(ByteSpan file, uint32_t spSlot) { return TssQuadText(file, spSlot, 0); }

std::string TssQuadGroup(uint32_t position, const std::array<std::string, 4>& texts) {
  std::string group;
  char prefix[16];
  for (size_t slot = 0; slot < 4; ++slot) {
    std::snprintf(prefix, sizeof prefix, "[%08X_%s", position, slot < 2 ? "JP]: " : "EN]: ");
    group += prefix + texts[slot] + "\r\n";
  }
  return group + "\r\n";
}

Bytes MakeScelContainer(const std::vector<std::optional<Bytes>>& rows) {
  const size_t rowCount = (rows.size() + 1) / 2 * 2;
  const uint32_t dataBase = uint32_t((32 + 16 * rowCount + 15) / 16 * 16);
  ByteBuilder table;
  ByteBuilder data;
  data.Text("block at base 16");
  for (size_t row = 0; row < rowCount; ++row) {
    const uint32_t fourth = 0xF0000000 | uint32_t(row);
    if (row >= rows.size() || !rows[row]) {
      table.U32BE(0).U32BE(0).U32BE(0).U32BE(fourth);
      continue;
    }
    const Bytes tokens = LzssEncodeDirect(*rows[row]);
    table.U32BE(uint32_t(data.size())).U32BE(uint32_t(tokens.size() + 9)).U32BE(uint32_t(rows[row]->size()));
    table.U32BE(fourth);
    data.U8(1).U32LE(uint32_t(tokens.size())).U32LE(uint32_t(rows[row]->size())).Raw(tokens).Align(16);
  }
  const uint32_t total = uint32_t(dataBase + data.size());
  ByteBuilder file;
  file.Text(std::string("ZK6SCEL\0", 8)).U32BE(total).U32BE(0x00000C0D).U32BE(uint32_t(rowCount / 2));
  file.U32BE(dataBase).U32LE(total).U32BE(0x5CE15CE1);
  file.Raw(table.bytes()).Zeros(dataBase - file.size()).Raw(data.bytes());
  return file.Take();
}

std::vector<std::optional<Bytes>> ScelMemberContents(ByteSpan container) {
  std::vector<std::optional<Bytes>> members;
  if (container.size() < 32) return members;
  const uint32_t rows = 2 * LoadU32BE(container.data() + 16);
  const uint32_t dataBase = LoadU32BE(container.data() + 20);
  for (uint32_t row = 0; row < rows && InRange(container.size(), 32 + 16 * uint64_t(row), 16); ++row) {
    const uint8_t* entry = container.data() + 32 + 16 * row;
    const uint32_t offset = LoadU32BE(entry);
    if (offset == 0) continue;
    const uint64_t start = uint64_t(dataBase) + offset;
    const uint32_t stored = LoadU32BE(entry + 4);
    Bytes decoded;
    if (!InRange(container.size(), start, stored) ||
        !LzssDecode(container.subspan(size_t(start), stored), decoded) || decoded.size() != LoadU32BE(entry + 8)) {
      members.push_back(std::nullopt);
    } else {
      members.push_back(std::move(decoded));
    }
  }
  return members;
}

Bytes MakeShiftJisScript(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows) {
  // One long text cut after spaces (which end its ASCII words), so that no
  // double-byte character is cut in two.
  const Bytes text = ShiftJisText(size * 3 / 4, seed, rows);
  Random random(seed);
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = std::min(text.size(), start + 16 + random.Below(64));
    while (end < text.size() && text[end - 1] != ' ') ++end;
    pieces.emplace_back(text.begin() + std::ptrdiff_t(start), text.begin() + std::ptrdiff_t(end));
    start = end;
  }
  // Of every eight pieces, four make a quad and four are referenced.
  TssScript script;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i % 8 == 0 && i + 8 <= pieces.size()) {
      script.quads.push_back({pieces[i], pieces[i + 1], pieces[i + 2], pieces[i + 3]});
      i += 3;
      continue;
    }
    script.references.push_back(script.strings.size());
    script.strings.push_back(pieces[i]);
  }
  return MakeTssFile(script).bytes;
}

}  // namespace fpskit::support
