#include "text/chtx/chtx.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

bool ParseChtx(ByteSpan data, ChtxFile& chtx) {
  if (data.size() < sizeof kChtxMagic || std::memcmp(data.data(), kChtxMagic, sizeof kChtxMagic) != 0) {
    Print("\nNot a ZK6CHTX");
    return false;
  }
  if (data.size() < kChtxHeaderSize) {
    Print("\nERROR: truncated ZK6CHTX header");
    return false;
  }
  ChtxHeader& header = chtx.header;
  std::copy_n(data.begin(), kChtxHeaderSize, header.bytes.begin());
  header.fileSize = LoadU32BE(data.data() + 8);
  header.entryCount = LoadU32BE(data.data() + 12);
  header.stringAreaStart = LoadU32BE(data.data() + 20);

  const uint64_t tableEnd = kChtxHeaderSize + uint64_t(kChtxEntrySize) * header.entryCount;
  if (tableEnd > data.size()) {
    Printf("\nERROR: truncated ZK6CHTX entry table: %u entries need %llu bytes, the file has %zu",
           header.entryCount, static_cast<unsigned long long>(tableEnd), data.size());
    return false;
  }
  if (header.fileSize > data.size()) {
    Printf("\nERROR: ZK6CHTX file size %u is beyond the end of the file (%zu bytes)", header.fileSize,
           data.size());
    return false;
  }
  // Offsets are compared as signed 32-bit numbers; a file this small keeps
  // every one of them positive.
  if (header.fileSize > uint32_t(std::numeric_limits<int32_t>::max())) {
    Printf("\nERROR: ZK6CHTX file size %u is too large", header.fileSize);
    return false;
  }
  if (header.stringAreaStart < tableEnd) {
    Printf("\nERROR: ZK6CHTX string area start %u overlaps the entry table (which ends at %llu)",
           header.stringAreaStart, static_cast<unsigned long long>(tableEnd));
    return false;
  }
  // The leading string sits at offset 0, so the area holds at least one byte.
  if (header.stringAreaStart >= header.fileSize) {
    Printf("\nERROR: ZK6CHTX has no string area (it starts at %u, the file ends at %u)", header.stringAreaStart,
           header.fileSize);
    return false;
  }
  const uint32_t areaSize = header.fileSize - header.stringAreaStart;

  ByteReader reader(data, kChtxHeaderSize);
  chtx.entryTable.resize(size_t(header.entryCount) * 4);
  for (uint32_t& value : chtx.entryTable) value = reader.U32BE();
  for (size_t slot = 0; slot < chtx.entryTable.size(); ++slot) {
    // Every string needs at least its last byte inside the area.
    if (slot % 4 != 3 && chtx.entryTable[slot] >= areaSize) {
      Printf("\nERROR: ZK6CHTX entry %zu: string offset %u is outside the string area (%u bytes)", slot / 4,
             chtx.entryTable[slot], areaSize);
      return false;
    }
  }
  chtx.strings = data.subspan(header.stringAreaStart, areaSize);
  chtx.records = BuildStringRecords(chtx.entryTable, areaSize);
  return true;
}

bool ReadChtxFile(const std::string& path, Bytes& data, ChtxFile& chtx) {
  if (!ReadGameFile(path, data)) return false;
  return ParseChtx(data, chtx);
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

  // Sorting by offset groups the records of one string together; the sort is
  // stable, so the first record of each group is the earliest in record order
  // and the one the others share.
  std::vector<int32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return records[a].offset < records[b].offset; });
  for (size_t start = 0; start < order.size();) {
    const int32_t offset = records[order[start]].offset;
    size_t end = start + 1;
    while (end < order.size() && records[order[end]].offset == offset) ++end;
    // A string runs to the next distinct string, or to the end of the area.
    const int32_t next = end < order.size() ? records[order[end]].offset : int32_t(areaSize);
    for (size_t j = start; j < end; ++j) {
      StringRecord& record = records[order[j]];
      record.length = next - offset;
      record.firstIndex = j == start ? -1 : order[start];
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

std::string_view ChtxRecordPrefix(size_t record) {
  if (record == 0 || record % 3 == 1) return {};
  return record % 3 == 2 ? kJpPrefix : kEnPrefix;
}

}  // namespace fpskit
