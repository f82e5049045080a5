#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "codetable/lines.h"
#include "text/scf/scf.h"
#include "text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

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

bool ExtractScf(const std::string& path, const std::string& option) {
  Bytes file;
  ScfHeader header;
  std::string dumpName;
  const ScfHeaderStatus status = ReadScfFile(path, file, header, dumpName);
  if (status != ScfHeaderStatus::kValid) return status == ScfHeaderStatus::kNoTextTable;
  std::vector<ScfRecord> records;
  if (!ReadScfEntries(file, header, records)) return false;
  CodeTable gameCodes;
  if (!SelectCodeTable(kGameCodesFile, gameCodes)) return false;

  // Written block by block: slots may share long strings, so the dump can be
  // much larger than the file.
  // An earlier dump is compared with the blocks as they are written, and
  // kept as a backup before it is replaced when it differs.
  Bytes earlier;
  const bool hadDump = FileExists(dumpName);
  if (hadDump && !ReadWholeFile(dumpName, earlier)) {
    Printf("\nERROR: can't read %s to keep it as %s.bak; it was not written over", dumpName.c_str(),
           dumpName.c_str());
    return false;
  }
  size_t compared = 0;  // bytes of the new dump that match the earlier one
  auto emit = [&](std::FILE* out, ByteSpan bytes) {
    if (compared != SIZE_MAX) {
      const bool same = bytes.size() <= earlier.size() - compared &&
                        std::equal(bytes.begin(), bytes.end(), earlier.begin() + ptrdiff_t(compared));
      compared = same ? compared + bytes.size() : SIZE_MAX;
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  };
  const bool byteOrderMark = WantsByteOrderMark(option.c_str());
  ScfDumpProgress progress;
  const bool written = ReplaceFileWithStatus(dumpName, [&](std::FILE* out) {
    if (byteOrderMark && !emit(out, kByteOrderMark)) return WriterStatus::kWriteFailed;
    Bytes block;
    for (const ScfRecord& record : records) {
      block.clear();
      AppendScfBlock(block, record, gameCodes, progress);
      if (!emit(out, block)) return WriterStatus::kWriteFailed;
    }
    if (hadDump && compared != earlier.size() && !KeepBackup(dumpName, earlier)) return WriterStatus::kReported;
    return WriterStatus::kWritten;
  });
  if (!written) return false;
  for (const ScfDumpProgress::Split& split : progress.splits) {
    char what[48];
    std::snprintf(what, sizeof what, "the string of entry %08X, slot %zu", split.tag, split.slot);
    WarnSplitLine(what, split.line, "scf");
  }
  return true;
}

}  // namespace fpskit
