// "uncht": dumps every string of a chat file into an editable text file.
#include <algorithm>
#include <string>

#include "codetable/lines.h"
#include "text/chtx/chtx.h"
#include "text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

void AppendCrlf(Bytes& out) {
  out.push_back('\r');
  out.push_back('\n');
}

// "the leading string", "record 3 (entry 0, [EN] string)".
std::string DescribeRecord(size_t record) {
  if (record == 0) return "the leading string";
  const char* field = record % 3 == 1 ? "first" : record % 3 == 2 ? "[JP]" : "[EN]";
  return "record " + std::to_string(record) + " (entry " + std::to_string((record - 1) / 3) + ", " + field +
         " string)";
}

}  // namespace

ChtxDump BuildChtxDump(const ChtxFile& chtx, const CodeTable& gameCodes, bool byteOrderMark) {
  ChtxDump dump;
  Bytes& out = dump.text;
  if (byteOrderMark) out.assign(std::begin(kByteOrderMark), std::end(kByteOrderMark));
  out.reserve(chtx.strings.size() * 2 + chtx.records.size() * 8 + 3);
  const size_t last = chtx.records.size() - 1;
  size_t line = 1;
  for (size_t m = 0; m <= last; ++m) {
    const StringRecord& record = chtx.records[m];
    const ChtxRecordText content = ChtxRecordTextOf(chtx.strings, record);
    const Bytes text = ConvertSequences(content.text, false, gameCodes);
    if (content.zerosInText) dump.zeroRecords.push_back({m, line});
    AppendText(out, ChtxRecordPrefix(m));
    AppendBytes(out, text);
    AppendCrlf(out);
    const size_t splits = CountCrlf(text);
    if (splits > 0) dump.splitRecords.push_back({m, line});
    line += 1 + splits;
    // An empty line after the leading string and after every entry but the last.
    if (m % 3 == 0 && m != last) {
      AppendCrlf(out);
      ++line;
    }
  }
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
