#include <cstdint>
#include <cstdio>
#include <limits>

#include "text/tss/tss.h"
#include "util/console.h"

namespace fpskit {

bool ReadTssHeader(ByteSpan file, TssHeader& header) {
  ByteReader reader(file);
  reader.Skip(12);
  header.textBase = reader.U32BE();
  reader.Skip(4);
  header.codeScanLength = reader.U32BE();
  header.textSize = reader.U32BE();
  reader.Skip(4);
  if (!reader.ok()) {
    Print("\nERROR: truncated TSS header");
    return false;
  }
  // Offsets and textSize are 32-bit: a larger file could not be addressed,
  // nor could it grow when text is written back.
  if (file.size() > std::numeric_limits<uint32_t>::max()) {
    Print("\nERROR: the TSS file is 4 GiB or larger");
    return false;
  }
  // A string area inside the header would have the insertion patch the
  // header itself (a quad or the SP slot over textSize or textBase).
  if (header.textBase < kTssHeaderSize) {
    Printf("\nERROR: bad TSS header: the string area at 0x%X lies inside the header", header.textBase);
    return false;
  }
  if (header.textBase > file.size()) {
    Printf("\nERROR: bad TSS header: the string area at 0x%X lies beyond the end of the file", header.textBase);
    return false;
  }
  return true;
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

bool IsStringDictionary(std::string_view path) { return path.find(kStringDicName) != std::string_view::npos; }

}  // namespace fpskit
