#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>

#include "codetable/lines.h"
#include "text/scf/scf.h"
#include "tools/text/text_tool.h"
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

}  // namespace fpskit
