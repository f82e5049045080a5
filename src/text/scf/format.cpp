#include <cstring>

#include "codetable/lines.h"
#include "text/scf/scf.h"

namespace fpskit {
namespace {

// The file offset a non-zero pointer stands for.
uint32_t PointerToOffset(uint32_t pointer, const ScfHeader& header) {
  return pointer + header.sectionOffset - header.sectionAddress;
}

}  // namespace

ScfFailure ParseScfHeader(ByteSpan file, ScfHeader& header) {
  if (file.size() < 8 || std::memcmp(file.data(), "SCFOMBIN", 8) != 0) return ScfFailure::Of(ScfError::kNotScf);
  if (file.size() < kScfHeaderSize) return ScfFailure::Of(ScfError::kTruncatedHeader);
  ByteReader reader(file.first(kScfHeaderSize));
  auto wordAt = [&reader](size_t offset) {
    reader.Seek(offset);
    return reader.U32BE();
  };
  header.fileSize = wordAt(12);
  header.entryAreaEnd = wordAt(24);
  header.stringAreaStart = wordAt(32);
  header.sectionOffset = wordAt(36);
  header.sectionAddress = wordAt(80);
  if (!header.HasTextTable()) return {};

  const size_t markerLength = std::strlen(kScfAlternateMarker);
  const bool alternate = file.size() > kScfAlternateMinimumSize &&
                         InRange(file.size(), kScfAlternateMarkerOffset, markerLength) &&
                         std::memcmp(file.data() + kScfAlternateMarkerOffset, kScfAlternateMarker, markerLength) == 0;
  header.tableStart = uint64_t(header.sectionOffset) + (alternate ? kScfAlternateTableStart : kScfTableStart);

  // Below 6280 the entry limit would wrap to billions; beyond the file the
  // table and the strings cannot be read.
  if (header.entryAreaEnd < kScfTableStart) return ScfFailure::Of(ScfError::kEntryAreaEndTooLow, 0, header.entryAreaEnd);
  if (header.tableStart > file.size()) return ScfFailure::Of(ScfError::kTableBeyondFile, header.tableStart);
  if (header.stringAreaStart > file.size()) return ScfFailure::Of(ScfError::kStringAreaBeyondFile, header.stringAreaStart);
  return {};
}

ScfFailure ParseScfEntries(ByteSpan file, const ScfHeader& header, std::vector<ScfRecord>& records) {
  records.clear();
  if (!header.HasTextTable() || header.entryAreaEnd < kScfTableStart) return {};
  const uint32_t limit = (header.entryAreaEnd - kScfTableStart) / kScfShortEntrySize;
  // A second word that, taken as a pointer, lands at or beyond the string area
  // is the first pointer of a 20-byte entry; anything smaller is the second
  // word of a 24-byte entry.
  const uint32_t shortFormThreshold = header.stringAreaStart + header.sectionAddress - header.sectionOffset;
  uint64_t position = header.tableStart;
  // Every entry takes at least 20 bytes before stringAreaStart, so the scan
  // also ends by itself however large the limit is.
  for (uint32_t index = 0; index < limit; ++index) {
    if (position + kScfPointersSize > header.stringAreaStart) break;
    ByteReader reader(file);
    reader.Seek(position + 4);
    const uint32_t secondWord = reader.U32BE();
    if (!reader.ok()) break;
    const uint64_t tag = position + (secondWord >= shortFormThreshold ? 4 : 8);
    // Pointers that reach into the string area are no entry insertion may
    // patch, so the table ends before them.
    if (tag + kScfPointersSize > header.stringAreaStart) break;
    ScfRecord record;
    record.tag = uint32_t(tag);
    reader.Seek(tag);
    for (uint32_t& pointer : record.pointers) pointer = reader.U32BE();
    if (!reader.ok()) return ScfFailure::Of(ScfError::kTruncatedEntry, position);
    bool empty = true;
    bool beyondFile = false;
    for (uint32_t pointer : record.pointers) {
      if (pointer == 0) continue;
      empty = false;
      if (PointerToOffset(pointer, header) > file.size()) beyondFile = true;
    }
    if (empty || beyondFile) break;
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      if (record.pointers[slot] == 0) continue;
      const uint32_t offset = PointerToOffset(record.pointers[slot], header);
      if (!TerminatedStringAt(file, offset, record.strings[slot])) {
        return ScfFailure::Of(ScfError::kUnterminatedString, offset, 0, record.tag);
      }
    }
    records.push_back(record);
    position = tag + kScfPointersSize;
  }
  return {};
}

void AppendScfBlock(Bytes& out, const ScfRecord& record, const CodeTable& gameCodes, ScfDumpProgress& progress) {
  for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
    AppendText(out, TaggedLinePrefix(record.tag, slot));
    if (record.pointers[slot] != 0) {
      const Bytes text = ConvertSequences(record.strings[slot], false, gameCodes);
      AppendBytes(out, text);
      const size_t splits = CountCrlf(text);
      if (splits > 0) progress.splits.push_back({record.tag, slot, progress.nextLine});
      progress.nextLine += splits;
    }
    AppendText(out, "\r\n");
    ++progress.nextLine;
  }
  AppendText(out, "\r\n");
  ++progress.nextLine;
}

}  // namespace fpskit
