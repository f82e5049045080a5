#include <algorithm>
#include <limits>

#include "codetable/lines.h"
#include "text/scf/scf.h"

namespace fpskit {
namespace {

ScfDumpProblem BrokenLines(DumpFailure lines) {
  ScfDumpProblem problem;
  problem.error = ScfDumpError::kBrokenLines;
  problem.lines = std::move(lines);
  return problem;
}

ScfDumpProblem UnknownTag(uint32_t tag, size_t line) {
  ScfDumpProblem problem;
  problem.error = ScfDumpError::kUnknownTag;
  problem.tag = tag;
  problem.line = line;
  return problem;
}

ScfDumpProblem Unconverted(UnconvertedCharacter character) {
  ScfDumpProblem problem;
  problem.error = ScfDumpError::kUnconverted;
  problem.character = std::move(character);
  return problem;
}

}  // namespace

bool ScfDump::ok() const {
  return std::all_of(problems.begin(), problems.end(),
                     [](const ScfDumpProblem& problem) { return problem.error == ScfDumpError::kUnconverted; });
}

ScfDump ParseScfDump(const InsertionInputs& inputs, bool swap, const std::vector<uint32_t>& entryTags,
                     TextLimitCheck* limits, DumpReading reading) {
  static constexpr size_t kStraightOrder[kScfSlotCount] = {0, 1, 2, 3};
  static constexpr size_t kSwappedOrder[kScfSlotCount] = {2, 3, 0, 1};
  const size_t* order = swap ? kSwappedOrder : kStraightOrder;
  ScfDump result;
  auto stop = [&](ScfDumpProblem problem) {
    result.problems.push_back(std::move(problem));
    return reading == DumpReading::kToFirstProblem;
  };
  CrlfLineReader reader(inputs.dump, ByteOrderMarkLength(inputs.dump));
  ByteSpan line;
  size_t lineNumber = 0;
  bool skipping = false;  // a check reads on after a broken block from the next empty line
  size_t textLine = 0;    // the block's last line, when it came right before
  std::vector<UnconvertedCharacter> unconverted;
  while (reader.ReadCrlfLine(line)) {
    ++lineNumber;
    if (skipping) skipping = !line.empty();
    if (skipping) continue;
    if (!IsTaggedBlockStart(line)) {
      // An empty separator line, or a note on a line of its own after one.
      // A line right after a block's last text is the rest of that text.
      if (!line.empty() && textLine != 0) {
        DumpFailure typed;
        typed.error = DumpError::kTypedLineBreak;
        typed.line = textLine;
        typed.nextLine = lineNumber;
        textLine = 0;
        skipping = true;
        if (stop(BrokenLines(typed))) return result;
        continue;
      }
      textLine = 0;
      continue;
    }
    TaggedBlock tagged;
    DumpFailure failure = ParseTaggedBlock(reader, line, lineNumber, tagged);
    if (!failure.ok()) {
      textLine = 0;
      skipping = true;
      if (stop(BrokenLines(std::move(failure)))) return result;
      continue;
    }
    textLine = lineNumber;
    if (!std::binary_search(entryTags.begin(), entryTags.end(), tagged.tag)) {
      if (stop(UnknownTag(tagged.tag, tagged.lines[0]))) return result;
      continue;
    }
    ScfBlock block;
    block.tag = tagged.tag;
    for (size_t k = 0; k < kScfSlotCount; ++k) {
      block.slots[order[k]] =
          ConvertDumpLine(tagged.texts[k], tagged.lines[k], inputs.translatorCodes, inputs.gameCodes, unconverted);
      for (UnconvertedCharacter& character : unconverted) {
        result.problems.push_back(Unconverted(std::move(character)));
      }
      unconverted.clear();
      if (limits != nullptr) limits->Measure(k < 2 ? TextLine::kJp : TextLine::kEn, tagged.lines[k], block.slots[order[k]]);
    }
    result.blocks.push_back(std::move(block));
  }
  return result;
}

ScfFailure BuildScfFile(ByteSpan file, const ScfHeader& header, const std::vector<ScfBlock>& blocks, Bytes& out) {
  if (file.size() < kScfHeaderSize) return ScfFailure::Of(ScfError::kTruncatedHeader);
  for (const ScfBlock& block : blocks) {
    if (block.tag < header.tableStart || uint64_t(block.tag) + kScfPointersSize > header.stringAreaStart ||
        !InRange(file.size(), block.tag, kScfPointersSize)) {
      return ScfFailure::Of(ScfError::kTagOutsideTable, header.tableStart, header.stringAreaStart, block.tag);
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
  if (out.size() > std::numeric_limits<uint32_t>::max()) return ScfFailure::Of(ScfError::kTooLarge);
  // Every place written lies inside `file`, checked above, and `out` begins
  // with it.
  StoreU32BE(out.data() + 12, uint32_t(out.size()));
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      StoreU32BE(out.data() + blocks[i].tag + 4 * slot, pointers[i][slot]);
    }
  }
  return {};
}

}  // namespace fpskit
