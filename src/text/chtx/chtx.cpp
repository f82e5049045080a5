#include "text/chtx/chtx.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace fpskit {

ChtxFailure ParseChtx(ByteSpan data, ChtxFile& chtx) {
  ChtxFailure failure;
  failure.dataSize = data.size();
  auto fail = [&failure](ChtxError error) {
    failure.error = error;
    return failure;
  };
  ByteReader reader(data);
  const ByteSpan magic = reader.Span(sizeof kChtxMagic);
  if (!reader.ok() || std::memcmp(magic.data(), kChtxMagic, sizeof kChtxMagic) != 0) return fail(ChtxError::kNotChtx);
  const ByteSpan headerBytes = ByteReader(data).Span(kChtxHeaderSize);
  if (headerBytes.size() != kChtxHeaderSize) return fail(ChtxError::kTruncatedHeader);
  ChtxHeader& header = chtx.header;
  std::copy(headerBytes.begin(), headerBytes.end(), header.bytes.begin());
  ByteReader fields(headerBytes, 8);
  header.fileSize = fields.U32BE();
  header.entryCount = fields.U32BE();
  fields.Skip(4);
  header.stringAreaStart = fields.U32BE();
  failure.fileSize = header.fileSize;
  failure.entryCount = header.entryCount;
  failure.stringAreaStart = header.stringAreaStart;

  const uint64_t tableEnd = kChtxHeaderSize + uint64_t(kChtxEntrySize) * header.entryCount;
  failure.tableEnd = tableEnd;
  if (tableEnd > data.size()) return fail(ChtxError::kTruncatedTable);
  if (header.fileSize > data.size()) return fail(ChtxError::kFileSizeBeyondData);
  // Offsets are compared as signed 32-bit numbers; a file this small keeps
  // every one of them positive.
  if (header.fileSize > uint32_t(std::numeric_limits<int32_t>::max())) return fail(ChtxError::kFileSizeTooLarge);
  if (header.stringAreaStart < tableEnd) return fail(ChtxError::kStringAreaOverlapsTable);
  // The leading string sits at offset 0, so the area holds at least one byte.
  if (header.stringAreaStart >= header.fileSize) return fail(ChtxError::kNoStringArea);
  const uint32_t areaSize = header.fileSize - header.stringAreaStart;

  // The table's own span holds every value of it.
  ByteReader table(data.subspan(kChtxHeaderSize, size_t(tableEnd) - kChtxHeaderSize));
  chtx.entryTable.resize(size_t(header.entryCount) * 4);
  for (uint32_t& value : chtx.entryTable) value = table.U32BE();
  for (size_t slot = 0; slot < chtx.entryTable.size(); ++slot) {
    // Every string needs at least its last byte inside the area.
    if (slot % 4 != 3 && chtx.entryTable[slot] >= areaSize) {
      failure.entry = slot / 4;
      failure.offset = chtx.entryTable[slot];
      failure.areaSize = areaSize;
      return fail(ChtxError::kOffsetOutsideStringArea);
    }
  }
  chtx.strings = data.subspan(header.stringAreaStart, areaSize);
  chtx.records = BuildStringRecords(chtx.entryTable, areaSize);
  return {};
}

std::vector<StringRecord> BuildStringRecords(const std::vector<uint32_t>& entryTable, uint32_t areaSize) {
  const size_t entryCount = entryTable.size() / 4;
  std::vector<StringRecord> records(3 * entryCount + 1);
  for (size_t i = 0; i < entryCount; ++i) {
    for (size_t k = 0; k < 3; ++k) {
      StringRecord& record = records[3 * i + 1 + k];
      record.offset = int32_t(entryTable[4 * i + k]);
      record.slot = int32_t(4 * i + k);
    }
  }

  // Sorting by offset groups the records of one string together, equal
  // offsets in record order, so the first record of each group is the
  // earliest and the one the others share. A file lays its strings out in
  // the order of its entries, so the records are usually in order already
  // and need no sort; otherwise they are sorted by a key of the offset
  // (biased, so that unsigned order is the order of signed offsets) above
  // the record's index.
  const bool inOrder = std::is_sorted(records.begin(), records.end(),
                                      [](const StringRecord& a, const StringRecord& b) { return a.offset < b.offset; });
  std::vector<uint64_t> keys;
  if (!inOrder) {
    keys.resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) keys[i] = uint64_t(uint32_t(records[i].offset) ^ 0x80000000u) << 32 | i;
    std::sort(keys.begin(), keys.end());
  }
  auto recordAt = [&](size_t j) { return inOrder ? j : size_t(uint32_t(keys[j])); };
  for (size_t start = 0; start < records.size();) {
    const size_t first = recordAt(start);
    const int32_t offset = records[first].offset;
    size_t end = start + 1;
    while (end < records.size() && records[recordAt(end)].offset == offset) ++end;
    // A string runs to the next distinct string, or to the end of the area.
    const int32_t next = end < records.size() ? records[recordAt(end)].offset : int32_t(areaSize);
    for (size_t j = start; j < end; ++j) {
      StringRecord& record = records[recordAt(j)];
      record.length = next - offset;
      record.firstIndex = j == start ? -1 : int32_t(first);
    }
    start = end;
  }
  return records;
}

ChtxRecordText ChtxRecordTextOf(ByteSpan strings, const StringRecord& record) {
  const ByteSpan span = strings.subspan(size_t(record.offset), size_t(record.length));
  // The first zero byte, found at memory speed.
  auto firstZero = [](ByteSpan bytes) {
    const void* zero = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
    return zero == nullptr ? bytes.size() : size_t(static_cast<const uint8_t*>(zero) - bytes.data());
  };
  if (span.back() != 0) {
    const ByteSpan rest = strings.subspan(size_t(record.offset));
    return {rest.first(firstZero(rest))};
  }
  const auto zero = span.begin() + ptrdiff_t(firstZero(span));
  if (std::all_of(zero, span.end(), [](uint8_t byte) { return byte == 0; })) {
    const size_t length = size_t(zero - span.begin());
    return {span.first(length), uint32_t(span.size() - length - 1)};
  }
  return {span.first(span.size() - 1), 0, true};
}

ChtxFailure BuildChtx(const ChtxFile& chtx, std::vector<StringRecord> records, ByteSpan strings, bool share,
                      bool swap, Bytes& out) {
  const size_t entryCount = chtx.header.entryCount;
  const uint64_t tableEnd = kChtxHeaderSize + uint64_t(kChtxEntrySize) * entryCount;
  if (tableEnd + strings.size() > uint64_t(std::numeric_limits<int32_t>::max())) {
    return {ChtxError::kRebuiltTooLarge};
  }
  if (share) {
    for (StringRecord& record : records) {
      if (record.firstIndex == -1) continue;
      const StringRecord& first = records[size_t(record.firstIndex)];
      record.offset = first.offset;
      record.length = first.length;
    }
  }
  // After sharing, so a shared string still points at its first record's text.
  if (swap) {
    for (size_t i = 0; i < entryCount; ++i) {
      StringRecord& jp = records[3 * i + 2];
      StringRecord& en = records[3 * i + 3];
      std::swap(jp.offset, en.offset);
      std::swap(jp.length, en.length);
    }
  }
  std::vector<uint32_t> entryTable = chtx.entryTable;
  for (size_t m = 1; m < records.size(); ++m) entryTable[size_t(records[m].slot)] = uint32_t(records[m].offset);

  // The new strings start right after the table, whatever the old header
  // said, so the string area start is written to match.
  out.clear();
  out.reserve(size_t(tableEnd) + strings.size());
  out.insert(out.end(), chtx.header.bytes.begin(), chtx.header.bytes.end());
  StoreU32BE(out.data() + 8, uint32_t(tableEnd + strings.size()));
  StoreU32BE(out.data() + 12, chtx.header.entryCount);
  StoreU32BE(out.data() + 20, uint32_t(tableEnd));
  for (uint32_t value : entryTable) AppendU32BE(out, value);
  AppendBytes(out, strings);
  return {};
}

std::string_view ChtxRecordPrefix(size_t record) {
  if (record == 0 || record % 3 == 1) return {};
  return record % 3 == 2 ? kJpPrefix : kEnPrefix;
}

}  // namespace fpskit
