#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "text/tss/tss.h"

namespace fpskit {

TssFailure ParseTssHeader(ByteSpan file, TssHeader& header) {
  ByteReader reader(file);
  reader.Skip(12);
  header.textBase = reader.U32BE();
  reader.Skip(4);
  header.codeScanLength = reader.U32BE();
  header.textSize = reader.U32BE();
  reader.Skip(4);
  if (!reader.ok()) return {TssError::kTruncatedHeader};
  // Offsets and textSize are 32-bit: a larger file could not be addressed,
  // nor could it grow when text is written back.
  if (file.size() > std::numeric_limits<uint32_t>::max()) return {TssError::kFileTooLarge};
  // A string area inside the header would have the insertion patch the
  // header itself (a quad or the SP slot over textSize or textBase).
  if (header.textBase < kTssHeaderSize) return {TssError::kStringAreaInHeader, header.textBase};
  if (header.textBase > file.size()) return {TssError::kStringAreaBeyondFile, header.textBase};
  return {};
}

std::string TssFingerprintLine(const TssCode& code) {
  // FNV-1a over the count and the code offsets, each as a big-endian word:
  // cheap, and the same on every system.
  uint32_t hash = 2166136261u;
  auto mix = [&hash](uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) hash = (hash ^ ((word >> shift) & 0xFF)) * 16777619u;
  };
  mix(uint32_t(code.references.size()));
  for (const StringRef& reference : code.references) mix(reference.codeOffset);
  char line[64];
  std::snprintf(line, sizeof line, "%.*s%zu, fingerprint %08X", int(kTssFingerprintPrefix.size()),
                kTssFingerprintPrefix.data(), code.references.size(), hash);
  return line;
}

bool QuadFitsStringArea(size_t fileSize, const TssHeader& header, uint32_t position) {
  return position % 4 == 0 && uint64_t(position) + kTssQuadSize <= header.textSize &&
         InRange(fileSize, uint64_t(header.textBase) + position, kTssQuadSize);
}

bool NamesQuad(ByteSpan file, const TssHeader& header, uint32_t position) {
  // The string area as far as the file holds it.
  if (header.textBase > file.size()) return false;
  const size_t areaEnd = size_t(std::min<uint64_t>(file.size(), uint64_t(header.textBase) + header.textSize));
  const ByteSpan area = file.first(areaEnd).subspan(header.textBase);
  ByteReader reader(area, position);
  for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) {
    const uint32_t offset = reader.U32BE();
    if (!reader.ok() || offset >= area.size()) return false;
    const ByteSpan rest = area.subspan(offset);
    if (std::find(rest.begin(), rest.end(), 0) == rest.end()) return false;
  }
  return true;
}

bool IsStringDictionary(std::string_view path) { return path.find(kStringDicName) != std::string_view::npos; }

}  // namespace fpskit
