#include "tools/text/scf_tools.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>

#include "codetable/lines.h"
#include "tools/text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

std::string DescribeScfFailure(const ScfFailure& failure) {
  char text[160];
  switch (failure.error) {
    case ScfError::kNone:
      return "";
    case ScfError::kNotScf:
      return "\nThis is not a SCFOMBIN";
    case ScfError::kTruncatedHeader:
      return "\nERROR: truncated SCFOMBIN header";
    case ScfError::kEntryAreaEndTooLow:
      std::snprintf(text, sizeof text, "\nERROR: bad SCFOMBIN header: entry area end %u is below %u", failure.value,
                    kScfTableStart);
      break;
    case ScfError::kTableBeyondFile:
      std::snprintf(text, sizeof text,
                    "\nERROR: bad SCFOMBIN header: the entry table at 0x%llX lies beyond the end of the file",
                    static_cast<unsigned long long>(failure.offset));
      break;
    case ScfError::kStringAreaBeyondFile:
      std::snprintf(text, sizeof text,
                    "\nERROR: bad SCFOMBIN header: the string area at 0x%llX lies beyond the end of the file",
                    static_cast<unsigned long long>(failure.offset));
      break;
    case ScfError::kTruncatedEntry:
      std::snprintf(text, sizeof text, "\nERROR: truncated SCFOMBIN entry at 0x%llX",
                    static_cast<unsigned long long>(failure.offset));
      break;
    case ScfError::kUnterminatedString:
      std::snprintf(text, sizeof text, "\nERROR: the SCFOMBIN string at 0x%llX (entry %08X) has no terminating zero",
                    static_cast<unsigned long long>(failure.offset), failure.tag);
      break;
    case ScfError::kTagOutsideTable:
      std::snprintf(text, sizeof text,
                    "\nERROR: tag %08X lies outside the SCFOMBIN entry table (0x%llX to 0x%X); nothing was written",
                    failure.tag, static_cast<unsigned long long>(failure.offset), failure.value);
      break;
    case ScfError::kTooLarge:
      return "\nERROR: the SCFOMBIN file would grow beyond 4 GiB; nothing was written";
  }
  return text;
}

void ReportScfDumpProblems(const std::string& dumpName, const std::string& tableName, const ScfDump& dump) {
  for (const ScfDumpProblem& problem : dump.problems) {
    switch (problem.error) {
      case ScfDumpError::kNone:
        break;
      case ScfDumpError::kBrokenLines:
        ReportDumpFailure(dumpName, problem.lines);
        break;
      case ScfDumpError::kUnknownTag:
        Printf("\nERROR: %s line %zu: tag %08X is not an entry of this SCFOMBIN file; keep the tags that \"unscf\" "
               "wrote",
               dumpName.c_str(), problem.line, problem.tag);
        break;
      case ScfDumpError::kUnconverted:
        WarnUnconverted(dumpName, tableName, {problem.character});
        break;
    }
  }
}

namespace {

// Reads a SCFOMBIN file whole, parses its header and its entries, and names
// its dump in `dumpName`. False, with a message, when the file cannot be
// read ("\nCan't open <path>"), its header or an entry is refused, or the file
// would be its own dump; a file without a text table has no entry and no dump.
bool ReadScfFile(const std::string& path, Bytes& file, ScfHeader& header, std::vector<ScfRecord>& records,
                 std::string& dumpName) {
  if (!ReadGameFile(path, file)) return false;
  ScfFailure failure = ParseScfHeader(file, header);
  if (failure.ok() && !header.HasTextTable()) return true;
  if (failure.ok() && !TextDumpPath(path, dumpName)) return false;
  if (failure.ok()) failure = ParseScfEntries(file, header, records);
  if (!failure.ok()) Print(DescribeScfFailure(failure));
  return failure.ok();
}

}  // namespace

bool ExtractScf(const std::string& path, const std::string& option) {
  Bytes file;
  ScfHeader header;
  std::vector<ScfRecord> records;
  std::string dumpName;
  if (!ReadScfFile(path, file, header, records, dumpName)) return false;
  if (!header.HasTextTable()) return true;
  CodeTable gameCodes;
  if (!SelectCodeTable(kGameCodesFile, path, gameCodes)) return false;

  // Made block by block: slots may share long strings, so the dump can be
  // much larger than the file. `take` gets the mark, then every block.
  const bool byteOrderMark = WantsByteOrderMark(option.c_str());
  auto makeDump = [&](ScfDumpProgress& progress, const std::function<bool(ByteSpan)>& take) {
    if (byteOrderMark && !take(kByteOrderMark)) return false;
    Bytes block;
    for (const ScfRecord& record : records) {
      block.clear();
      AppendScfBlock(block, record, gameCodes, progress);
      if (!take(block)) return false;
    }
    return true;
  };
  // An earlier dump that differs is kept first; it is compared block by block.
  const bool kept = KeepBackupIf(dumpName, [&](ByteSpan earlier) {
    size_t compared = 0;
    ScfDumpProgress ignored;
    const bool same = makeDump(ignored, [&](ByteSpan bytes) {
      if (bytes.size() > earlier.size() - compared ||
          !std::equal(bytes.begin(), bytes.end(), earlier.begin() + ptrdiff_t(compared))) {
        return false;
      }
      compared += bytes.size();
      return true;
    });
    return !same || compared != earlier.size();
  });
  if (!kept) return false;
  ScfDumpProgress progress;
  const bool written = ReplaceFileWith(dumpName, [&](std::FILE* out) {
    return makeDump(progress, [out](ByteSpan bytes) {
      return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    });
  }, Durability::kRenameOnly);
  if (!written) return false;
  for (const ScfDumpProgress::Split& split : progress.splits) {
    char what[48];
    std::snprintf(what, sizeof what, "the string of entry %08X, slot %zu", split.tag, split.slot);
    WarnSplitLine(what, split.line, "scf");
  }
  return true;
}

bool InsertScf(const std::string& path, const ScfInsertion& insertion) {
  Bytes file;
  ScfHeader header;
  std::vector<ScfRecord> entries;
  std::string dumpName;
  if (!ReadScfFile(path, file, header, entries, dumpName)) return false;
  if (!header.HasTextTable()) return true;
  std::vector<uint32_t> entryTags;
  for (const ScfRecord& entry : entries) entryTags.push_back(entry.tag);
  std::sort(entryTags.begin(), entryTags.end());
  InsertionInputs inputs;
  if (!LoadInsertionInputs(dumpName, inputs)) return false;
  TextLimitCheck limits(inputs.limits, TextFormat::kScf, path, dumpName);
  const ScfDump dump = ParseScfDump(inputs, insertion.swap, entryTags, &limits, CurrentDumpReading());
  ReportScfDumpProblems(dumpName, inputs.gameCodes.name, dump);
  // Appending nothing would only pad the file: leave it as it is.
  if (dump.ok() && dump.blocks.empty()) {
    Warnf("NOTE: %s holds no block; %s was not changed", dumpName.c_str(), path.c_str());
    return true;
  }
  Bytes rebuilt;
  bool built = dump.ok();
  if (built) {
    const ScfFailure failure = BuildScfFile(file, header, dump.blocks, rebuilt);
    if (!failure.ok()) Print(DescribeScfFailure(failure));
    built = failure.ok();
  }
  ReportTextLimits(limits);  // after what would stop the write-back
  return built && ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit
