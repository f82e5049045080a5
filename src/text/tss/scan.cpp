// The two scans of a script: the code scan for references and the SP marker,
// and the quad scan of the string area.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/tss/tss.h"
#include "util/console.h"

namespace fpskit {
namespace {

// The zero-terminated string at `offset` from textBase, without its zero.
bool ReadTssString(ByteSpan file, const TssHeader& header, uint32_t offset, const char* owner, ByteSpan& out) {
  const uint64_t at = uint64_t(header.textBase) + offset;
  if (TerminatedStringAt(file, at, out)) return true;
  if (at >= file.size()) {
    Printf("\nERROR: the TSS string at 0x%llX (%s) lies outside the file", static_cast<unsigned long long>(at),
           owner);
  } else {
    Printf("\nERROR: the TSS string at 0x%llX (%s) has no terminating zero", static_cast<unsigned long long>(at),
           owner);
  }
  return false;
}

}  // namespace

bool ScanTssCode(ByteSpan file, const TssHeader& header, TssCode& code) {
  code = TssCode();
  const uint32_t words = header.codeScanLength / 4;
  // The scan position stays at 32 + 4 × counter: a marker's slot word is
  // examined again as an ordinary word, an accepted operand is skipped.
  ByteReader reader(file, kTssHeaderSize);
  for (uint32_t counter = 0; counter < words; ++counter) {
    const size_t wordOffset = reader.position();
    const ByteSpan word = reader.Span(4);
    if (!reader.ok()) break;
    if (!code.spFound && std::memcmp(word.data(), kTssSpMarker, 4) == 0 && InRange(file.size(), wordOffset + 4, 4)) {
      code.spFound = true;
      code.spSlot = LoadU32BE(file.data() + wordOffset + 4);
    }
    if (word[0] == kTssReferenceOpcode[0] && word[1] == kTssReferenceOpcode[1] &&
        InRange(file.size(), wordOffset + 4, 4)) {
      const uint32_t operand = LoadU32BE(file.data() + wordOffset + 4);
      if (operand < header.textSize) {
        code.references.push_back({operand, uint32_t(wordOffset), {}});
        reader.Skip(4);
        ++counter;
      }
    }
  }
  std::stable_sort(code.references.begin(), code.references.end(),
                   [](const StringRef& a, const StringRef& b) { return a.operand < b.operand; });
  if (code.spFound && !InRange(file.size(), uint64_t(header.textBase) + code.spSlot, 4)) {
    Printf("\nERROR: the TSS SP slot at 0x%llX lies outside the file",
           static_cast<unsigned long long>(uint64_t(header.textBase) + code.spSlot));
    return false;
  }
  return true;
}

bool IsTextQuad(const std::array<uint32_t, kTssQuadSlotCount>& w, uint32_t position, uint32_t threshold) {
  return w[0] > threshold && w[3] < uint32_t(position - 8) && w[3] > w[2] && w[2] > w[1] && w[1] > w[0] &&
         w[1] - w[0] < kTssQuadSpreadLimit;
}

bool ReadTssText(ByteSpan file, const TssHeader& header, TssText& text) {
  text = TssText();
  if (!ScanTssCode(file, header, text.code)) return false;
  std::vector<StringRef>& references = text.code.references;
  char owner[48];
  for (size_t i = 0; i < references.size(); ++i) {
    std::snprintf(owner, sizeof owner, "reference %zu", i);
    if (!ReadTssString(file, header, references[i].operand, owner, references[i].text)) return false;
  }

  // The quad scan walks the string area in 4-byte steps. The threshold T
  // follows the end of the last reference string passed (at most one per
  // step) and of the last quad, so a quad's first string lies after both.
  // Strings and quads lie inside a file below 4 GiB, so their ends fit 32
  // bits.
  const uint32_t words = header.textSize / 4;
  uint32_t threshold = kTssFirstQuadThreshold;
  size_t passed = 0;
  uint64_t at = header.textBase;
  for (uint32_t counter = 0; counter < words; ++counter) {
    const uint32_t position = uint32_t(at - header.textBase);
    if (passed < references.size()) {
      const StringRef& r = references[passed];
      const uint32_t end = r.operand + uint32_t(r.text.size()) + 1;
      if (position > end) {
        threshold = end - 1;
        ++passed;
      }
    }
    // Words beyond the end of the file form no quad, nor can any later ones.
    if (!InRange(file.size(), at, kTssQuadSize)) break;
    std::array<uint32_t, kTssQuadSlotCount> w;
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) w[slot] = LoadU32BE(file.data() + at + 4 * slot);
    // A quad must lie wholly inside the string area, where the insertion
    // writes it back: one that runs past its end would be dumped and then
    // refused when its own dump is written back.
    if (uint64_t(position) + kTssQuadSize <= header.textSize && IsTextQuad(w, position, threshold)) {
      text.quads.push_back({position, w, {}});
      threshold = position + uint32_t(kTssQuadSize) - 1;
      counter += 3;
      at += kTssQuadSize;
    } else {
      at += 4;
    }
  }
  for (TextQuad& quad : text.quads) {
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) {
      std::snprintf(owner, sizeof owner, "quad %08X slot %zu", quad.position, slot);
      if (!ReadTssString(file, header, quad.offsets[slot], owner, quad.strings[slot])) return false;
    }
  }

  if (text.code.spFound) {
    const uint32_t spOffset = LoadU32BE(file.data() + header.textBase + text.code.spSlot);
    ByteSpan sp;
    if (!ReadTssString(file, header, spOffset, "SP string", sp)) return false;
    text.sp = sp;
  }
  return true;
}

}  // namespace fpskit
