#include <cstdio>

#include "codetable/lines.h"
#include "text/scf/scf.h"
#include "util/files.h"

namespace fpskit {

void AppendScfBlock(Bytes& out, const ScfRecord& record, const CodeTable& gameCodes) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "[%08X_", record.tag);
  for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
    AppendText(out, tag);
    AppendText(out, slot < 2 ? "JP]: " : "EN]: ");
    if (record.pointers[slot] != 0) AppendBytes(out, ConvertSequences(record.strings[slot], false, gameCodes));
    AppendText(out, "\r\n");
  }
  AppendText(out, "\r\n");
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
  const bool byteOrderMark = WantsByteOrderMark(option.c_str());
  return ReplaceFileWith(dumpName, [&](std::FILE* out) {
    if (byteOrderMark && std::fwrite(kByteOrderMark, 1, sizeof kByteOrderMark, out) != sizeof kByteOrderMark) {
      return false;
    }
    Bytes block;
    for (const ScfRecord& record : records) {
      block.clear();
      AppendScfBlock(block, record, gameCodes);
      if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) return false;
    }
    return true;
  });
}

}  // namespace fpskit
