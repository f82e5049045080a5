// "uncht": dumps every string of a chat file into an editable text file.
#include <algorithm>

#include "codetable/lines.h"
#include "text/chtx/chtx.h"
#include "text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

size_t CountCrlf(ByteSpan text) {
  size_t count = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') ++count;
  }
  return count;
}

void AppendCrlf(Bytes& out) {
  out.push_back('\r');
  out.push_back('\n');
}

void PrintSplitWarning(const SplitRecord& split) {
  if (split.record == 0) {
    Printf("\nWARNING: the leading string holds CR LF and splits dump line %zu; join it before \"cht\"",
           split.line);
    return;
  }
  const size_t entry = (split.record - 1) / 3;
  const char* field = split.record % 3 == 1 ? "first" : split.record % 3 == 2 ? "[JP]" : "[EN]";
  Printf("\nWARNING: record %zu (entry %zu, %s string) holds CR LF and splits dump line %zu; join it before \"cht\"",
         split.record, entry, field, split.line);
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
    // The last byte of the string (normally its NUL) is not dumped; padding
    // before it is, like text.
    const ByteSpan content = chtx.strings.subspan(size_t(record.offset), size_t(record.length) - 1);
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
  if (!ReplaceFileSafely(dumpPath, dump.text)) return false;
  std::for_each(dump.splitRecords.begin(), dump.splitRecords.end(), PrintSplitWarning);
  return true;
}

}  // namespace fpskit
