#include <algorithm>
#include <cstdlib>
#include <limits>

#include "codetable/lines.h"
#include "text/text_tool.h"
#include "text/scf/scf.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

// The block's tag: the 8 characters after "[", read as strtol reads them in
// base 16 (they begin with '0', so the value stays below 0x10000000).
uint32_t ParseTag(ByteSpan line) {
  const size_t end = std::min<size_t>(line.size(), 9);
  const std::string digits(line.begin() + 1, line.begin() + end);
  return uint32_t(std::strtol(digits.c_str(), nullptr, 16));
}

bool IsBlockStart(ByteSpan line) { return line.size() >= 4 && line[0] == '[' && line[1] == '0'; }

}  // namespace

bool ParseScfDump(ByteSpan dump, const std::string& dumpName, bool swap, const CodeTable& gameCodes,
                  const CodeTable& translatorCodes, std::vector<ScfBlock>& blocks) {
  static constexpr size_t kStraightOrder[kScfSlotCount] = {0, 1, 2, 3};
  static constexpr size_t kSwappedOrder[kScfSlotCount] = {2, 3, 0, 1};
  const size_t* order = swap ? kSwappedOrder : kStraightOrder;
  blocks.clear();
  CrlfLineReader reader(dump, ByteOrderMarkLength(dump));
  ByteSpan line;
  long lineNumber = 0;
  while (reader.ReadCrlfLine(line)) {
    ++lineNumber;
    if (!IsBlockStart(line)) continue;  // an empty separator line or a translator's note
    const long blockLine = lineNumber;
    ScfBlock block;
    block.tag = ParseTag(line);
    for (size_t k = 0; k < kScfSlotCount; ++k) {
      if (k > 0) {
        if (!reader.ReadCrlfLine(line)) {
          Printf("\nERROR: %s line %ld: the block ends after %zu of its 4 lines", dumpName.c_str(), blockLine, k);
          return false;
        }
        ++lineNumber;
      }
      if (line.size() < kScfPrefixLength) {
        Printf("\nERROR: %s line %ld: the line is shorter than its %zu-character prefix", dumpName.c_str(),
               lineNumber, kScfPrefixLength);
        return false;
      }
      block.slots[order[k]] = ConvertDumpLine(line.subspan(kScfPrefixLength), translatorCodes, gameCodes);
    }
    blocks.push_back(std::move(block));
  }
  return true;
}

bool BuildScfFile(ByteSpan file, const ScfHeader& header, const std::vector<ScfBlock>& blocks, Bytes& out) {
  for (const ScfBlock& block : blocks) {
    if (block.tag < header.tableStart || uint64_t(block.tag) + kScfPointersSize > header.stringAreaStart ||
        !InRange(file.size(), block.tag, kScfPointersSize)) {
      Printf("\nERROR: tag %08X lies outside the SCFOMBIN entry table (0x%llX to 0x%X); nothing was written",
             block.tag, static_cast<unsigned long long>(header.tableStart), header.stringAreaStart);
      return false;
    }
  }
  // The old strings stay where they are; the new ones go to the end.
  out.assign(file.begin(), file.end());
  std::vector<std::array<uint32_t, kScfSlotCount>> pointers(blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      pointers[i][slot] = uint32_t(out.size()) - header.sectionOffset + header.sectionAddress;
      AppendBytes(out, blocks[i].slots[slot]);
      out.push_back(0);
    }
  }
  out.resize((out.size() + 15) / 16 * 16, 0);
  if (out.size() > std::numeric_limits<uint32_t>::max()) {
    Print("\nERROR: the SCFOMBIN file would grow beyond 4 GiB; nothing was written");
    return false;
  }
  StoreU32BE(out.data() + 12, uint32_t(out.size()));
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      StoreU32BE(out.data() + blocks[i].tag + 4 * slot, pointers[i][slot]);
    }
  }
  return true;
}

bool InsertScf(const std::string& path, bool swap) {
  Bytes file;
  ScfHeader header;
  std::string dumpName;
  const ScfHeaderStatus status = ReadScfFile(path, file, header, dumpName);
  if (status != ScfHeaderStatus::kValid) return status == ScfHeaderStatus::kNoTextTable;
  InsertionInputs inputs;
  if (!LoadInsertionInputs(dumpName, inputs)) return false;
  std::vector<ScfBlock> blocks;
  if (!ParseScfDump(inputs.dump, dumpName, swap, inputs.gameCodes, inputs.translatorCodes, blocks)) return false;
  Bytes rebuilt;
  if (!BuildScfFile(file, header, blocks, rebuilt)) return false;
  return ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit
