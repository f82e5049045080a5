// "uncht": dumps every string of a chat file into an editable text file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "codetable/lines.h"
#include "text/chtx/chtx.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"
#include "util/platform.h"

namespace fpskit {
namespace {

// "the leading string", "record 3 (entry 0, [EN] string)".
std::string DescribeRecord(size_t record) {
  if (record == 0) return "the leading string";
  const char* field = record % 3 == 1 ? "first" : record % 3 == 2 ? "[JP]" : "[EN]";
  return "record " + std::to_string(record) + " (entry " + std::to_string((record - 1) / 3) + ", " + field +
         " string)";
}

}  // namespace

std::string DescribeChtxFailure(const ChtxFailure& failure) {
  const auto tableEnd = static_cast<unsigned long long>(failure.tableEnd);
  char message[160] = "";
  switch (failure.error) {
    case ChtxError::kNone: break;
    case ChtxError::kNotChtx: return "\nNot a ZK6CHTX";
    case ChtxError::kTruncatedHeader: return "\nERROR: truncated ZK6CHTX header";
    case ChtxError::kTruncatedTable:
      std::snprintf(message, sizeof message,
                    "\nERROR: truncated ZK6CHTX entry table: %u entries need %llu bytes, the file has %zu",
                    failure.entryCount, tableEnd, failure.dataSize);
      break;
    case ChtxError::kFileSizeBeyondData:
      std::snprintf(message, sizeof message, "\nERROR: ZK6CHTX file size %u is beyond the end of the file (%zu bytes)",
                    failure.fileSize, failure.dataSize);
      break;
    case ChtxError::kFileSizeTooLarge:
      std::snprintf(message, sizeof message, "\nERROR: ZK6CHTX file size %u is too large", failure.fileSize);
      break;
    case ChtxError::kStringAreaOverlapsTable:
      std::snprintf(message, sizeof message,
                    "\nERROR: ZK6CHTX string area start %u overlaps the entry table (which ends at %llu)",
                    failure.stringAreaStart, tableEnd);
      break;
    case ChtxError::kNoStringArea:
      std::snprintf(message, sizeof message, "\nERROR: ZK6CHTX has no string area (it starts at %u, the file ends at %u)",
                    failure.stringAreaStart, failure.fileSize);
      break;
    case ChtxError::kOffsetOutsideStringArea:
      std::snprintf(message, sizeof message,
                    "\nERROR: ZK6CHTX entry %zu: string offset %u is outside the string area (%u bytes)",
                    failure.entry, failure.offset, failure.areaSize);
      break;
    case ChtxError::kRebuiltTooLarge: return "\nERROR: the rebuilt ZK6CHTX would be larger than 2 GiB";
  }
  return message;
}

void ReportChtxFailure(const ChtxFailure& failure) { Print(DescribeChtxFailure(failure)); }

bool ReadChtxFile(const std::string& path, Bytes& data, ChtxFile& chtx) {
  if (!ReadGameFile(path, data)) return false;
  const ChtxFailure failure = ParseChtx(data, chtx);
  if (!failure.ok()) ReportChtxFailure(failure);
  return failure.ok();
}

ChtxDump BuildChtxDump(const ChtxFile& chtx, const CodeTable& gameCodes, bool byteOrderMark) {
  ChtxDump dump;
  Bytes& out = dump.text;
  // Written record by record from `used` on into a buffer that only grows,
  // then cut to its end: no record costs an allocation of its own, and the
  // buffer is lengthened only as it is written (LengthenForWriting).
  // Two bytes of Shift-JIS become three of UTF-8; a prefix and CR LF a record.
  out.reserve(chtx.strings.size() / 2 * 3 + chtx.records.size() * 8 + 3 + 256);
  platform::AdviseLargePages(out.data(), out.capacity());
  size_t used = 0;
  auto put = [&](ByteSpan bytes) {
    if (bytes.empty()) return;
    LengthenForWriting(out, used + bytes.size());
    std::memcpy(out.data() + used, bytes.data(), bytes.size());
    used += bytes.size();
  };
  static constexpr uint8_t kCrlf[] = {'\r', '\n'};
  if (byteOrderMark) put(kByteOrderMark);
  const size_t last = chtx.records.size() - 1;
  size_t line = 1;
  for (size_t m = 0; m <= last; ++m) {
    const StringRecord& record = chtx.records[m];
    const ChtxRecordText content = ChtxRecordTextOf(chtx.strings, record);
    if (content.zerosInText) dump.zeroRecords.push_back({m, line});
    const std::string_view prefix = ChtxRecordPrefix(m);
    put(ByteSpan(reinterpret_cast<const uint8_t*>(prefix.data()), prefix.size()));
    const size_t start = used;
    used = ConvertSequencesInto(content.text, false, gameCodes, out, used);
    const size_t splits = CountCrlf(ByteSpan(out.data() + start, used - start));
    put(kCrlf);
    if (splits > 0) dump.splitRecords.push_back({m, line});
    line += 1 + splits;
    // An empty line after the leading string and after every entry but the last.
    if (m % 3 == 0 && m != last) {
      put(kCrlf);
      ++line;
    }
  }
  out.resize(used);
  // A leading string whose text begins with the bytes of the mark would lose
  // them to insertion, which skips a mark: the mark is written before it.
  if (!byteOrderMark && ByteOrderMarkLength(out) != 0) {
    out.insert(out.begin(), std::begin(kByteOrderMark), std::end(kByteOrderMark));
  }
  return dump;
}

bool ExtractChtx(const std::string& path, const std::string& option) {
  std::string dumpPath;
  Bytes data;
  ChtxFile chtx;
  if (!ReadChtxFile(path, data, chtx) || !TextDumpPath(path, dumpPath)) return false;
  CodeTable gameCodes;
  if (!SelectCodeTable(kGameCodesFile, path, gameCodes)) return false;

  const ChtxDump dump = BuildChtxDump(chtx, gameCodes, WantsByteOrderMark(option.c_str()));
  if (!KeepBackupIfDifferent(dumpPath, dump.text) ||
      !ReplaceFileSafely(dumpPath, dump.text, Durability::kRenameOnly)) {
    return false;
  }
  for (const DumpedRecord& split : dump.splitRecords) WarnSplitLine(DescribeRecord(split.record), split.line, "cht");
  for (const DumpedRecord& zeros : dump.zeroRecords) {
    Warnf("WARNING: %s holds zero bytes followed by other bytes; dump line %zu shows them as they stand, and an "
          "editor may change or drop them",
          DescribeRecord(zeros.record).c_str(), zeros.line);
  }
  return true;
}

}  // namespace fpskit
