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

void PrintSplitWarning(const SplitRecord& split) {
  if (split.record == 0) {
    WarnSplitLine("the leading string", split.line, "cht");
    return;
  }
  const size_t entry = (split.record - 1) / 3;
  const char* field = split.record % 3 == 1 ? "first" : split.record % 3 == 2 ? "[JP]" : "[EN]";
  WarnSplitLine("record " + std::to_string(split.record) + " (entry " + std::to_string(entry) + ", " + field +
                    " string)",
                split.line, "cht");
}

// The bytes of a record that its dump line shows.
ByteSpan DumpedContent(ByteSpan strings, const StringRecord& record) {
  const ByteSpan span = strings.subspan(size_t(record.offset), size_t(record.length));
  if (span.back() == 0) return span.first(span.size() - 1);
  // The next string starts inside this one (or the area ends without a
  // zero): the text runs on to its first zero byte.
  const ByteSpan rest = strings.subspan(size_t(record.offset));
  return rest.first(size_t(std::find(rest.begin(), rest.end(), 0) - rest.begin()));
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
    const ByteSpan content = DumpedContent(chtx.strings, record);
    const Bytes text = ConvertSequences(content, false, gameCodes);
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
  if (!SelectCodeTable(kGameCodesFile, gameCodes)) return false;

  const ChtxDump dump = BuildChtxDump(chtx, gameCodes, WantsByteOrderMark(option.c_str()));
  if (!ReplaceFileSafely(dumpPath, dump.text, Durability::kRenameOnly)) return false;
  std::for_each(dump.splitRecords.begin(), dump.splitRecords.end(), PrintSplitWarning);
  return true;
}

}  // namespace fpskit
