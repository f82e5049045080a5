#include <cstring>

#include "text/scf/scf.h"
#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

// The file offset a non-zero pointer stands for.
uint32_t PointerToOffset(uint32_t pointer, const ScfHeader& header) {
  return pointer + header.sectionOffset - header.sectionAddress;
}

}  // namespace

ScfHeaderStatus ReadScfHeader(ByteSpan file, ScfHeader& header) {
  if (file.size() < 8 || std::memcmp(file.data(), "SCFOMBIN", 8) != 0) {
    Print("\nThis is not a SCFOMBIN");
    return ScfHeaderStatus::kRejected;
  }
  if (file.size() < kScfHeaderSize) {
    Print("\nERROR: truncated SCFOMBIN header");
    return ScfHeaderStatus::kRejected;
  }
  const uint8_t* p = file.data();
  header.fileSize = LoadU32BE(p + 12);
  header.entryAreaEnd = LoadU32BE(p + 24);
  header.stringAreaStart = LoadU32BE(p + 32);
  header.sectionOffset = LoadU32BE(p + 36);
  header.sectionAddress = LoadU32BE(p + 80);
  if (header.sectionAddress == 0) return ScfHeaderStatus::kNoTextTable;

  const size_t markerLength = std::strlen(kScfAlternateMarker);
  const bool alternate = file.size() > kScfAlternateMinimumSize &&
                         std::memcmp(p + kScfAlternateMarkerOffset, kScfAlternateMarker, markerLength) == 0;
  header.tableStart = uint64_t(header.sectionOffset) + (alternate ? kScfAlternateTableStart : kScfTableStart);

  // Below 6280 the entry limit would wrap to billions; beyond the file the
  // table and the strings cannot be read.
  if (header.entryAreaEnd < kScfTableStart) {
    Printf("\nERROR: bad SCFOMBIN header: entry area end %u is below %u", header.entryAreaEnd, kScfTableStart);
    return ScfHeaderStatus::kRejected;
  }
  if (header.tableStart > file.size()) {
    Printf("\nERROR: bad SCFOMBIN header: the entry table at 0x%llX lies beyond the end of the file",
           static_cast<unsigned long long>(header.tableStart));
    return ScfHeaderStatus::kRejected;
  }
  if (header.stringAreaStart > file.size()) {
    Printf("\nERROR: bad SCFOMBIN header: the string area at 0x%X lies beyond the end of the file",
           header.stringAreaStart);
    return ScfHeaderStatus::kRejected;
  }
  return ScfHeaderStatus::kValid;
}

ScfHeaderStatus ReadScfFile(const std::string& path, Bytes& file, ScfHeader& header, std::string& dumpName) {
  if (!ReadGameFile(path, file)) return ScfHeaderStatus::kRejected;
  const ScfHeaderStatus status = ReadScfHeader(file, header);
  if (status == ScfHeaderStatus::kValid && !TextDumpPath(path, dumpName)) return ScfHeaderStatus::kRejected;
  return status;
}

bool ReadScfEntries(ByteSpan file, const ScfHeader& header, std::vector<ScfRecord>& records) {
  records.clear();
  const uint32_t limit = (header.entryAreaEnd - kScfTableStart) / kScfShortEntrySize;
  // A second word that, taken as a pointer, lands at or beyond the string area
  // is the first pointer of a 20-byte entry; anything smaller is the second
  // word of a 24-byte entry.
  const uint32_t shortFormThreshold = header.stringAreaStart + header.sectionAddress - header.sectionOffset;
  uint64_t position = header.tableStart;
  // Every entry takes at least 20 bytes before stringAreaStart, so the scan
  // also ends by itself however large the limit is.
  for (uint32_t index = 0; index < limit; ++index) {
    if (position + kScfPointersSize > header.stringAreaStart || !InRange(file.size(), position, 8)) break;
    const bool shortForm = LoadU32BE(file.data() + position + 4) >= shortFormThreshold;
    const uint64_t tag = position + (shortForm ? 4 : 8);
    // Pointers that reach into the string area are no entry insertion may
    // patch, so the table ends before them.
    if (tag + kScfPointersSize > header.stringAreaStart) break;
    if (!InRange(file.size(), tag, kScfPointersSize)) {
      Printf("\nERROR: truncated SCFOMBIN entry at 0x%llX", static_cast<unsigned long long>(position));
      return false;
    }
    ScfRecord record;
    record.tag = uint32_t(tag);
    bool empty = true;
    bool beyondFile = false;
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      const uint32_t pointer = LoadU32BE(file.data() + tag + 4 * slot);
      record.pointers[slot] = pointer;
      if (pointer == 0) continue;
      empty = false;
      if (PointerToOffset(pointer, header) > file.size()) beyondFile = true;
    }
    if (empty || beyondFile) break;
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      if (record.pointers[slot] == 0) continue;
      const uint32_t offset = PointerToOffset(record.pointers[slot], header);
      if (!TerminatedStringAt(file, offset, record.strings[slot])) {
        Printf("\nERROR: the SCFOMBIN string at 0x%X (entry %08X) has no terminating zero", offset, record.tag);
        return false;
      }
    }
    records.push_back(record);
    position = tag + kScfPointersSize;
  }
  return true;
}

}  // namespace fpskit
