// "cht" and "cht_switch": write an edited dump back into its chat file.
#include <algorithm>
#include <limits>
#include <utility>

#include "codetable/lines.h"
#include "text/chtx/chtx.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

// The kind of dump line record `m` stands on: the leading string and each
// entry's first line (its speaker), then its "[JP]" and "[EN]" lines.
TextLine ChtxRecordLine(size_t m) {
  if (m == 0 || m % 3 == 1) return TextLine::kSpeaker;
  return m % 3 == 2 ? TextLine::kJp : TextLine::kEn;
}

}  // namespace

bool RebuildChtx(const ChtxFile& chtx, const InsertionInputs& inputs, const ChtxInsertion& insertion, Bytes& out) {
  const std::string& dumpName = inputs.dumpName;
  const size_t entryCount = chtx.header.entryCount;
  const size_t last = chtx.records.size() - 1;
  const uint64_t tableEnd = kChtxHeaderSize + uint64_t(kChtxEntrySize) * entryCount;
  // The rebuilt file must parse again: its size and offsets stay below 2 GiB.
  const uint64_t stringLimit = uint64_t(std::numeric_limits<int32_t>::max()) - tableEnd;

  CrlfLineReader reader(inputs.dump, ByteOrderMarkLength(inputs.dump));
  size_t lineNumber = 0;
  auto nextLine = [&](ByteSpan& line) {
    if (!reader.ReadCrlfLine(line)) {
      Printf("\nERROR: %s has only %zu lines; this chat file needs %zu", dumpName.c_str(), lineNumber,
             4 * entryCount + 1);
      return false;
    }
    ++lineNumber;
    return true;
  };
  auto refuse = [&](const char* what) {
    Printf("\nERROR: %s line %zu %s", dumpName.c_str(), lineNumber, what);
    return false;
  };
  // A line that does not fit its place, followed by one that does, is the
  // rest of the text before it, in which a line break was typed.
  auto refuseOutOfStep = [&](const auto& fits, const char* what) {
    CrlfLineReader ahead = reader;
    ByteSpan next;
    if (!ahead.ReadCrlfLine(next) || !fits(next)) return refuse(what);
    ReportTypedLineBreak(dumpName, lineNumber - 1, lineNumber, false);
    return false;
  };
  auto isEmpty = [](ByteSpan line) { return line.empty(); };

  std::vector<StringRecord> records = chtx.records;
  // Each record's line, after its prefix, and the line's number: a shared
  // string's later lines are compared with its first.
  std::vector<ByteSpan> texts(records.size());
  std::vector<size_t> lines(records.size());
  Bytes strings;
  strings.reserve(chtx.strings.size() + chtx.strings.size() / 4 + 16);
  for (size_t m = 0; m <= last; ++m) {
    StringRecord& record = records[m];
    ByteSpan line;
    if (!nextLine(line)) return false;
    // The dump names no record, so a line out of place would put every later
    // line in the wrong slot: the prefixes are checked, not skipped by length.
    const std::string_view prefix = ChtxRecordPrefix(m);
    ByteSpan text;
    if (!TakePrefixedText(line, prefix, text)) {
      auto hasPrefix = [&](ByteSpan next) { return TakePrefixedText(next, prefix, next); };
      return refuseOutOfStep(hasPrefix, m % 3 == 2 ? "should begin with \"[JP]: \"" : "should begin with \"[EN]: \"");
    }
    line = text;
    texts[m] = line;
    lines[m] = lineNumber;
    record.offset = int32_t(strings.size());
    // A record that shares an earlier record's string keeps pointing there
    // when sharing is asked for; its own line is not stored.
    if (insertion.share && record.firstIndex != -1) {
      const size_t first = size_t(record.firstIndex);
      if (!std::equal(line.begin(), line.end(), texts[first].begin(), texts[first].end())) {
        WarnDroppedSharedLine(dumpName, lineNumber, lines[first]);
      }
    } else {
      const Bytes game = ConvertDumpLine(line, lineNumber, inputs);
      if (insertion.limits != nullptr) insertion.limits->Measure(ChtxRecordLine(m), lineNumber, game);
      const uint32_t padding = ChtxRecordTextOf(chtx.strings, chtx.records[m]).padding;
      if (strings.size() + game.size() + 1 + padding > stringLimit) {
        ReportChtxFailure({ChtxError::kRebuiltTooLarge});
        return false;
      }
      strings.insert(strings.end(), game.begin(), game.end());
      strings.insert(strings.end(), 1 + padding, 0);
      record.length = int32_t(game.size() + 1 + padding);
    }
    // The empty line after the leading string and after every "[EN]" line.
    if (m % 3 == 0 && m != last) {
      if (!nextLine(line)) return false;
      if (!line.empty()) return refuseOutOfStep(isEmpty, "should be empty: it separates the entries");
    }
  }
  // Empty lines may follow the last entry (an editor may add one), nothing else.
  for (ByteSpan line; reader.ReadCrlfLine(line);) {
    ++lineNumber;
    if (line.empty()) continue;
    if (lineNumber == lines[last] + 1) {
      ReportTypedLineBreak(dumpName, lines[last], lineNumber, false);
      return false;
    }
    return refuse("follows the last entry; only empty lines may follow it");
  }

  const ChtxFailure failure = BuildChtx(chtx, std::move(records), strings, insertion.share, insertion.swap, out);
  if (!failure.ok()) ReportChtxFailure(failure);
  return failure.ok();
}

bool InsertChtx(const std::string& path, ChtxInsertion insertion) {
  std::string dumpPath;
  Bytes data;
  ChtxFile chtx;
  if (!ReadChtxFile(path, data, chtx) || !TextDumpPath(path, dumpPath)) return false;
  InsertionInputs inputs;
  if (!LoadInsertionInputs(dumpPath, inputs)) return false;
  Bytes rebuilt;
  TextLimitCheck limits(inputs.limits, TextFormat::kChat, path, dumpPath);
  insertion.limits = &limits;
  const bool rebuiltOk = RebuildChtx(chtx, inputs, insertion, rebuilt);
  ReportTextLimits(limits);  // after what would stop the write-back
  return rebuiltOk && ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit
