#include "support/scf_builder.h"

#include <cstdio>
#include <cstring>

#include "support/builders.h"

namespace fpskit::support {

ScfTestFile MakeScfFile(const ScfLayout& layout) {
  ScfTestFile result;
  ByteBuilder b;
  b.Text("SCFOMBIN").Zeros(128 - 8);
  b.Zeros(layout.sectionOffset - b.size());
  result.tableStart = uint32_t(b.size() + (layout.alternateTable ? 6988 : 6280));
  b.Zeros(result.tableStart - b.size());

  // Pointer words are patched once the strings have their places.
  struct Patch { size_t at; std::string text; };
  std::vector<Patch> patches;
  for (const ScfTestEntry& entry : layout.entries) {
    b.U32BE(entry.firstWord);
    if (!entry.shortForm) b.U32BE(entry.secondWord);
    result.tags.push_back(uint32_t(b.size()));
    for (const std::optional<std::string>& text : entry.texts) {
      if (text) patches.push_back({b.size(), *text});
      b.U32BE(0);
    }
  }
  if (layout.endEntry) b.Zeros(24);
  const uint32_t tableEnd = uint32_t(b.size());
  b.Align(16);
  result.stringAreaStart = uint32_t(b.size());
  for (const Patch& patch : patches) {
    b.PatchU32BE(patch.at, uint32_t(b.size()) - layout.sectionOffset + layout.sectionAddress);
    b.CString(patch.text);
  }
  b.Align(16);
  if (layout.marker && b.size() < 31850 + 11) b.Zeros(31850 + 11 - b.size());
  if (b.size() < layout.minimumSize) b.Zeros(layout.minimumSize - b.size());
  result.bytes = b.Take();
  if (layout.marker) std::memcpy(result.bytes.data() + 31850, "MUS_D24_XTM", 11);

  uint8_t* header = result.bytes.data();
  StoreU32BE(header + 12, uint32_t(result.bytes.size()));
  StoreU32BE(header + 24, layout.entryAreaEnd.value_or(tableEnd - layout.sectionOffset));
  StoreU32BE(header + 32, result.stringAreaStart);
  StoreU32BE(header + 36, layout.sectionOffset);
  StoreU32BE(header + 80, layout.sectionAddress);
  return result;
}

std::optional<std::string> ScfSlotText(ByteSpan file, uint32_t tag, size_t slot) {
  if (file.size() < 128 || !InRange(file.size(), tag + 4 * slot, 4)) return std::nullopt;
  const uint32_t pointer = LoadU32BE(file.data() + tag + 4 * slot);
  if (pointer == 0) return std::nullopt;
  const uint32_t offset = pointer + LoadU32BE(file.data() + 36) - LoadU32BE(file.data() + 80);
  ByteSpan text;
  if (!TerminatedStringAt(file, offset, text)) return std::nullopt;
  return ToString(text);
}

std::string ScfDumpBlock(uint32_t tag, const std::array<std::string, 4>& texts) {
  char prefix[16];
  std::string block;
  for (size_t slot = 0; slot < 4; ++slot) {
    std::snprintf(prefix, sizeof prefix, "[%08X_%s]: ", tag, slot < 2 ? "JP" : "EN");
    block += prefix + texts[slot] + "\r\n";
  }
  return block + "\r\n";
}

}  // namespace fpskit::support
