#include <algorithm>
#include <limits>

#include "codetable/lines.h"
#include "tools/text/text_tool.h"
#include "text/scf/scf.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
bool ParseScfDump(const InsertionInputs& inputs, bool swap, const std::vector<uint32_t>& entryTags,
                  std::vector<ScfBlock>& blocks, TextLimitCheck* limits) {
  static constexpr size_t kStraightOrder[kScfSlotCount] = {0, 1, 2, 3};
  static constexpr size_t kSwappedOrder[kScfSlotCount] = {2, 3, 0, 1};
  const size_t* order = swap ? kSwappedOrder : kStraightOrder;
  blocks.clear();
  CrlfLineReader reader(inputs.dump, ByteOrderMarkLength(inputs.dump));
  ByteSpan line;
  size_t lineNumber = 0;
  bool ok = true;
  bool skipping = false;  // a check reads on after a broken block from the next empty line
  size_t textLine = 0;    // the block's last line, when it came right before
  while (reader.ReadCrlfLine(line)) {
    ++lineNumber;
    if (skipping) skipping = !line.empty();
    if (skipping) continue;
    if (!IsTaggedBlockStart(line)) {
      // An empty separator line, or a note on a line of its own after one.
      // A line right after a block's last text is the rest of that text.
      if (!line.empty() && textLine != 0) {
        ReportTypedLineBreak(inputs.dumpName, textLine, lineNumber, true);
        ok = false;
        textLine = 0;
        skipping = true;
        if (CheckingWholeDump()) continue;
        return false;
      }
      textLine = 0;
      continue;
    }
    TaggedBlock tagged;
    if (!ReadTaggedBlock(reader, line, inputs.dumpName, lineNumber, tagged)) {
      ok = false;
      textLine = 0;
      skipping = true;
      if (CheckingWholeDump()) continue;
      return false;
    }
    textLine = lineNumber;
    if (!std::binary_search(entryTags.begin(), entryTags.end(), tagged.tag)) {
      Printf("\nERROR: %s line %zu: tag %08X is not an entry of this SCFOMBIN file; keep the tags that \"unscf\" wrote",
             inputs.dumpName.c_str(), tagged.lines[0], tagged.tag);
      ok = false;
      if (CheckingWholeDump()) continue;
      return false;
    }
    ScfBlock block;
    block.tag = tagged.tag;
    for (size_t k = 0; k < kScfSlotCount; ++k) {
      block.slots[order[k]] = ConvertDumpLine(tagged.texts[k], tagged.lines[k], inputs);
      if (limits != nullptr) limits->Measure(k < 2 ? TextLine::kJp : TextLine::kEn, tagged.lines[k], block.slots[order[k]]);
    }
    blocks.push_back(std::move(block));
  }
  return ok;
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
  std::vector<ScfRecord> entries;
  if (!ReadScfEntries(file, header, entries)) return false;
  std::vector<uint32_t> entryTags;
  for (const ScfRecord& entry : entries) entryTags.push_back(entry.tag);
  std::sort(entryTags.begin(), entryTags.end());
  InsertionInputs inputs;
  if (!LoadInsertionInputs(dumpName, inputs)) return false;
  std::vector<ScfBlock> blocks;
  TextLimitCheck limits(inputs.limits, TextFormat::kScf, path, dumpName);
  const bool parsed = ParseScfDump(inputs, swap, entryTags, blocks, &limits);
  // Appending nothing would only pad the file: leave it as it is.
  if (parsed && blocks.empty()) {
    Warnf("NOTE: %s holds no block; %s was not changed", dumpName.c_str(), path.c_str());
    return true;
  }
  Bytes rebuilt;
  const bool built = parsed && BuildScfFile(file, header, blocks, rebuilt);
  limits.Report();  // after what would stop the write-back
  return built && ReplaceFileSafely(path, rebuilt);
}

}  // namespace fpskit
