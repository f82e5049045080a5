// The two scans of a script: the code scan for references and the SP marker,
// and the quad scan of the string area.
#include <algorithm>
#include <cstring>
#include <optional>

#include "text/tss/tss.h"

namespace fpskit {
namespace {

// The zero-terminated string at `offset` from textBase, without its zero.
TssFailure ParseTssString(ByteSpan file, const TssHeader& header, uint32_t offset, TssFailure owner, ByteSpan& out) {
  const uint64_t at = uint64_t(header.textBase) + offset;
  if (TerminatedStringAt(file, at, out)) return {};
  owner.error = at >= file.size() ? TssError::kStringOutsideFile : TssError::kStringUnterminated;
  owner.offset = at;
  return owner;
}

// The word at `offset`, when the file holds it.
std::optional<uint32_t> WordAt(ByteSpan file, uint64_t offset) {
  if (offset > file.size()) return std::nullopt;
  ByteReader reader(file, size_t(offset));
  const uint32_t word = reader.U32BE();
  return reader.ok() ? std::optional<uint32_t>(word) : std::nullopt;
}

}  // namespace

TssFailure ScanTssCode(ByteSpan file, const TssHeader& header, TssCode& code) {
  code = TssCode();
  const uint32_t words = header.codeScanLength / 4;
  // The scan position stays at 32 + 4 × counter: a marker's slot word is
  // examined again as an ordinary word, an accepted operand is skipped.
  ByteReader reader(file, kTssHeaderSize);
  for (uint32_t counter = 0; counter < words; ++counter) {
    const size_t wordOffset = reader.position();
    const ByteSpan word = reader.Span(4);
    if (!reader.ok()) break;
    // The word after this one: a marker's slot, a reference's operand.
    const std::optional<uint32_t> next = WordAt(file, wordOffset + 4);
    if (!code.spFound && std::memcmp(word.data(), kTssSpMarker, 4) == 0 && next) {
      code.spFound = true;
      code.spSlot = *next;
    }
    if (word[0] == kTssReferenceOpcode[0] && word[1] == kTssReferenceOpcode[1] && next) {
      const uint32_t operand = *next;
      if (operand < header.textSize) {
        code.references.push_back({operand, uint32_t(wordOffset), {}});
        reader.Skip(4);
        ++counter;
      }
    }
  }
  std::stable_sort(code.references.begin(), code.references.end(),
                   [](const StringRef& a, const StringRef& b) { return a.operand < b.operand; });
  const uint64_t spSlot = uint64_t(header.textBase) + code.spSlot;
  if (code.spFound && !InRange(file.size(), spSlot, 4)) return {TssError::kSpSlotOutsideFile, spSlot};
  return {};
}

bool IsTextQuad(const std::array<uint32_t, kTssQuadSlotCount>& w, uint32_t position, uint32_t threshold) {
  return w[0] > threshold && w[3] < uint32_t(position - 8) && w[3] > w[2] && w[2] > w[1] && w[1] > w[0] &&
         w[1] - w[0] < kTssQuadSpreadLimit;
}

TssFailure ParseTssText(ByteSpan file, const TssHeader& header, TssText& text) {
  text = TssText();
  if (const TssFailure failure = ScanTssCode(file, header, text.code); !failure.ok()) return failure;
  std::vector<StringRef>& references = text.code.references;
  for (size_t i = 0; i < references.size(); ++i) {
    const TssFailure owner{TssError::kNone, 0, TssStringOwner::kReference, i};
    const TssFailure failure = ParseTssString(file, header, references[i].operand, owner, references[i].text);
    if (!failure.ok()) return failure;
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
    ByteReader quad(file, size_t(std::min<uint64_t>(at, file.size())));
    std::array<uint32_t, kTssQuadSlotCount> w;
    for (uint32_t& word : w) word = quad.U32BE();
    if (at > file.size() || !quad.ok()) break;
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
      const TssFailure owner{TssError::kNone, 0, TssStringOwner::kQuadSlot, quad.position, slot};
      const TssFailure failure = ParseTssString(file, header, quad.offsets[slot], owner, quad.strings[slot]);
      if (!failure.ok()) return failure;
    }
  }

  if (text.code.spFound) {
    const uint64_t slotAt = uint64_t(header.textBase) + text.code.spSlot;
    const std::optional<uint32_t> spOffset = WordAt(file, slotAt);
    if (!spOffset) return {TssError::kSpSlotOutsideFile, slotAt};
    ByteSpan sp;
    const TssFailure owner{TssError::kNone, 0, TssStringOwner::kSp};
    if (const TssFailure failure = ParseTssString(file, header, *spOffset, owner, sp); !failure.ok()) return failure;
    text.sp = sp;
  }
  return {};
}

}  // namespace fpskit
