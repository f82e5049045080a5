// TSS script text on arbitrary bytes. The input is a script, optionally
// followed by kDumpMark and a dump to write into it. The script's own dump,
// written back unedited, must parse and give a script whose references,
// quads and SP slot lead to the same texts as before; a foreign dump must
// be refused or give a script whose header reads again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "text/tss/tss.h"
#include "tools/text/tss_tool.h"

namespace {

using namespace fpskit;

constexpr std::string_view kDumpMark = "\n==DUMP==\n";

bool SameString(ByteSpan file, const TssHeader& header, uint32_t offset, ByteSpan expected) {
  ByteSpan text;
  return TerminatedStringAt(file, uint64_t(header.textBase) + offset, text) &&
         std::equal(text.begin(), text.end(), expected.begin(), expected.end());
}

// A dump shows "<||>" nowhere: the marker switches conversion off and on and
// is dropped, so a text holding it cannot come back the same.
bool HoldsVerbatimMarker(const TssText& text) {
  constexpr std::string_view marker = "<||>";
  auto holds = [&](ByteSpan s) { return std::search(s.begin(), s.end(), marker.begin(), marker.end()) != s.end(); };
  for (const StringRef& r : text.code.references) {
    if (holds(r.text)) return true;
  }
  for (const TextQuad& q : text.quads) {
    for (ByteSpan s : q.strings) {
      if (holds(s)) return true;
    }
  }
  return text.sp && holds(*text.sp);
}

// The file ranges the insertion patches: every reference's operand word,
// every quad and the SP slot. Where two overlap, one patch overwrites the
// other and the texts cannot all be the same; such scripts are only read.
bool PatchesOverlap(const TssHeader& header, const TssText& text) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const StringRef& r : text.code.references) ranges.push_back({uint64_t(r.codeOffset) + 4, 4});
  for (const TextQuad& q : text.quads) ranges.push_back({uint64_t(header.textBase) + q.position, kTssQuadSize});
  if (text.code.spFound) ranges.push_back({uint64_t(header.textBase) + text.code.spSlot, 4});
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i - 1].first + ranges[i - 1].second > ranges[i].first) return true;
  }
  return false;
}

void CheckOwnDumpWritesTheSameTexts(ByteSpan script, const TssHeader& header, const TssText& text,
                                    const TssDumpContext& context, bool byteOrderMark) {
  const TssDump dump = BuildTssDump(text, *context.gameCodes, byteOrderMark, context.stringDictionary);
  if (!dump.splitLines.empty()) return;
  TssEdits edits;
  FUZZ_CHECK(ParseTssDump(dump.text, "fuzz.txt", script, header, text.code, context, edits));
  Bytes rebuilt;
  if (!RebuildTss(script, header, text.code, edits, rebuilt).ok()) return;
  TssHeader again;
  FUZZ_CHECK(ParseTssHeader(rebuilt, again).ok() && again.textBase == header.textBase);
  if (PatchesOverlap(header, text) || HoldsVerbatimMarker(text)) return;
  for (const StringRef& r : text.code.references) {
    FUZZ_CHECK(SameString(rebuilt, again, LoadU32BE(rebuilt.data() + r.codeOffset + 4), r.text));
  }
  for (const TextQuad& q : text.quads) {
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) {
      const uint32_t offset = LoadU32BE(rebuilt.data() + header.textBase + q.position + 4 * slot);
      FUZZ_CHECK(SameString(rebuilt, again, offset, q.strings[slot]));
    }
  }
  if (text.sp) {
    FUZZ_CHECK(SameString(rebuilt, again, LoadU32BE(rebuilt.data() + header.textBase + text.code.spSlot), *text.sp));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteSpan input(data, size);
  const auto mark = std::search(input.begin(), input.end(), kDumpMark.begin(), kDumpMark.end());
  const ByteSpan script(data, size_t(mark - input.begin()));
  const bool hasDump = mark != input.end();
  const ByteSpan dump = hasDump ? input.subspan(script.size() + kDumpMark.size()) : ByteSpan();

  if (script.size() < 4 || std::memcmp(script.data(), kTssMagic, 4) != 0) return 0;
  TssHeader header;
  if (!ParseTssHeader(script, header).ok()) return 0;
  TssDumpContext context;
  context.gameCodes = &BuiltInCodeTable();
  context.translatorCodes = &BuiltInCodeTable();
  context.stringDictionary = size % 2 == 1;
  TssText text;
  if (ParseTssText(script, header, text).ok()) CheckOwnDumpWritesTheSameTexts(script, header, text, context, size % 3 == 0);

  if (!hasDump) return 0;
  TssCode code;
  if (!ScanTssCode(script, header, code).ok()) return 0;
  context.swap = size % 5 == 0;
  TssEdits edits;
  if (!ParseTssDump(dump, "fuzz.txt", script, header, code, context, edits)) return 0;
  Bytes rebuilt;
  TssHeader again;
  if (RebuildTss(script, header, code, edits, rebuilt).ok()) FUZZ_CHECK(ParseTssHeader(rebuilt, again).ok());
  return 0;
}
