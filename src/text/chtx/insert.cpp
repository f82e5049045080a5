// "cht" and "cht_switch": write an edited dump back into its chat file.
#include <limits>
#include <utility>

#include "codetable/lines.h"
#include "text/chtx/chtx.h"
#include "text/text_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

bool RebuildChtx(const ChtxFile& chtx, ByteSpan dump, const std::string& dumpName, const ChtxInsertion& insertion,
                 Bytes& out) {
  const size_t entryCount = chtx.header.entryCount;
  const size_t last = chtx.records.size() - 1;
  const uint64_t tableEnd = kChtxHeaderSize + uint64_t(kChtxEntrySize) * entryCount;
  // The rebuilt file must parse again: its size and offsets stay below 2 GiB.
  const uint64_t stringLimit = uint64_t(std::numeric_limits<int32_t>::max()) - tableEnd;

  CrlfLineReader reader(dump, ByteOrderMarkLength(dump));
  size_t linesRead = 0;
  auto nextLine = [&](ByteSpan& line) {
    if (!reader.ReadCrlfLine(line)) {
      Printf("\nERROR: %s has only %zu lines; this chat file needs %zu", dumpName.c_str(), linesRead,
             4 * entryCount + 1);
      return false;
    }
    ++linesRead;
    return true;
  };

  std::vector<StringRecord> records = chtx.records;
  Bytes strings;
  strings.reserve(chtx.strings.size() + chtx.strings.size() / 4 + 16);
  for (size_t m = 0; m <= last; ++m) {
    StringRecord& record = records[m];
    ByteSpan line;
    if (!nextLine(line)) return false;
    // "[JP]: " and "[EN]: " are skipped by length, unchecked. A line shorter
    // than that would make the skip run into the next line and put every
    // later line out of step.
    const std::string_view prefix = ChtxRecordPrefix(m);
    if (!prefix.empty()) {
      if (line.size() < kChtxPrefixLength) {
        Printf("\nERROR: %s line %zu is shorter than its \"%.*s\" prefix", dumpName.c_str(), linesRead,
               int(prefix.size()), prefix.data());
        return false;
      }
      line = line.subspan(kChtxPrefixLength);
    }
    record.offset = int32_t(strings.size());
    // A record that shares an earlier record's string keeps pointing there
    // when sharing is asked for; its own line is not stored.
    if (!(insertion.share && record.firstIndex != -1)) {
      const Bytes game = ConvertDumpLine(line, *insertion.translatorCodes, *insertion.gameCodes);
      if (strings.size() + game.size() + 1 > stringLimit) {
        Print("\nERROR: the rebuilt ZK6CHTX would be larger than 2 GiB");
        return false;
      }
      strings.insert(strings.end(), game.begin(), game.end());
      strings.push_back(0);
      record.length = int32_t(game.size() + 1);
    }
    // The empty line after the leading string and after every "[EN]" line is
    // passed over, whatever it holds.
    if (m % 3 == 0 && m != last && !nextLine(line)) return false;
  }

  if (insertion.share) {
    for (StringRecord& record : records) {
      if (record.firstIndex == -1) continue;
      const StringRecord& first = records[size_t(record.firstIndex)];
      record.offset = first.offset;
      record.length = first.length;
    }
  }
  // After sharing, so a shared string still points at its first record's text.
  if (insertion.swap) {
    for (size_t i = 0; i < entryCount; ++i) {
      StringRecord& jp = records[3 * i + 2];
      StringRecord& en = records[3 * i + 3];
      std::swap(jp.offset, en.offset);
      std::swap(jp.length, en.length);
    }
  }
  std::vector<uint32_t> entryTable = chtx.entryTable;
  for (size_t m = 1; m <= last; ++m) entryTable[size_t(records[m].slot)] = uint32_t(records[m].offset);

  // The new strings start right after the table, whatever the old header
  // said, so the string area start is written to match.
  out.clear();
  out.reserve(size_t(tableEnd) + strings.size());
  out.insert(out.end(), chtx.header.bytes.begin(), chtx.header.bytes.end());
  StoreU32BE(out.data() + 8, uint32_t(tableEnd + strings.size()));
  StoreU32BE(out.data() + 12, chtx.header.entryCount);
  StoreU32BE(out.data() + 20, uint32_t(tableEnd));
  for (uint32_t value : entryTable) AppendU32BE(out, value);
  AppendBytes(out, strings);
  return true;
}

bool InsertChtx(const std::string& path, bool share, bool swap) {
  std::string dumpPath;
  Bytes data;
  ChtxFile chtx;
  if (!ReadChtxFile(path, data, chtx) || !TextDumpPath(path, dumpPath)) return false;
  InsertionInputs inputs;
  if (!LoadInsertionInputs(dumpPath, inputs)) return false;

  ChtxInsertion insertion;
  insertion.gameCodes = &inputs.gameCodes;
  insertion.translatorCodes = &inputs.translatorCodes;
  insertion.share = share;
  insertion.swap = swap;
  Bytes rebuilt;
  if (!RebuildChtx(chtx, inputs.dump, dumpPath, insertion, rebuilt)) return false;
  return ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit
