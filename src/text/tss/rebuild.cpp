// The write-back of edited texts into a script: the new strings appended to
// the string area, and every place that named the old ones repointed.
#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "text/tss/tss.h"

namespace fpskit {

TssFailure RebuildTss(ByteSpan file, const TssHeader& header, const TssCode& code, const TssEdits& edits,
                      Bytes& out) {
  // What ParseTssHeader and ScanTssCode make sure of, checked again so that
  // nothing is ever patched outside the file.
  const bool codeFits =
      header.textBase <= file.size() && file.size() <= std::numeric_limits<uint32_t>::max() &&
      (!code.spFound || InRange(file.size(), uint64_t(header.textBase) + code.spSlot, 4)) &&
      std::all_of(code.references.begin(), code.references.end(),
                  [&](const StringRef& ref) { return InRange(file.size(), uint64_t(ref.codeOffset) + 4, 4); });
  if (!codeFits) return {TssError::kCodeDoesNotFit};
  for (const TssQuadEdit& quad : edits.quads) {
    if (!QuadFitsStringArea(file.size(), header, quad.position)) return {TssError::kNotAQuad, quad.position};
  }
  // The old strings stay where they are; the new ones go to the end, each
  // with its zero, in the order quads, SP string, references.
  out.assign(file.begin(), file.end());
  auto append = [&](const Bytes& string) {
    const uint64_t offset = out.size() - header.textBase;
    AppendBytes(out, string);
    out.push_back(0);
    return uint32_t(offset);
  };
  std::vector<std::array<uint32_t, kTssQuadSlotCount>> quadOffsets(edits.quads.size());
  for (size_t i = 0; i < edits.quads.size(); ++i) {
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) quadOffsets[i][slot] = append(edits.quads[i].slots[slot]);
  }
  const bool newSp = edits.sp && code.spFound;
  const uint32_t spOffset = newSp ? append(*edits.sp) : 0;
  const size_t referenceCount = std::min(edits.references.size(), code.references.size());
  std::vector<uint32_t> operands(referenceCount);
  for (size_t i = 0; i < referenceCount; ++i) {
    if (edits.references[i]) operands[i] = append(*edits.references[i]);
  }
  if (out.size() > std::numeric_limits<uint32_t>::max()) return {TssError::kRebuiltTooLarge};

  for (size_t i = 0; i < edits.quads.size(); ++i) {
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) {
      StoreU32BE(out.data() + header.textBase + edits.quads[i].position + 4 * slot, quadOffsets[i][slot]);
    }
  }
  if (newSp) StoreU32BE(out.data() + header.textBase + code.spSlot, spOffset);
  for (size_t i = 0; i < referenceCount; ++i) {
    if (edits.references[i]) StoreU32BE(out.data() + code.references[i].codeOffset + 4, operands[i]);
  }
  StoreU32BE(out.data() + kTssTextSizeOffset, uint32_t(out.size() - header.textBase));
  return {};
}

}  // namespace fpskit
