// "tss" and "tss_switch": write an edited dump back into its script.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "codetable/lines.h"
#include "text/tss/tss.h"
#include "tools/text/text_tool.h"
#include "tools/text/tss_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

bool IsDecimalDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// A numbered line's beginning: '[' and, seven characters on, ']'.
bool LooksNumbered(ByteSpan line) { return line.size() >= 8 && line[0] == '[' && line[7] == ']'; }

// The lines a script dump is made of, whatever their phase: quad group
// lines, "[END]", the "[SP]" line and numbered lines.
bool IsScriptDumpLine(ByteSpan line) {
  return IsTaggedBlockStart(line) || StartsWith(line, "[END]") || StartsWith(line, "[SP]") || LooksNumbered(line);
}

uint32_t ParseDecimal(ByteSpan digits) {
  uint32_t value = 0;
  for (uint8_t c : digits) value = value * 10 + (c - '0');
  return value;
}

class DumpParser {
 public:
  DumpParser(ByteSpan dump, const std::string& dumpName, ByteSpan file, const TssHeader& header,
             const TssCode& code, const TssDumpContext& context, TssEdits& edits)
      : dump_(dump), reader_(dump, ByteOrderMarkLength(dump)), dumpName_(dumpName), file_(file), header_(header),
        code_(code), context_(context), edits_(edits), fingerprint_(TssFingerprintLine(code)) {}

  bool Parse() {
    edits_ = TssEdits();
    edits_.references.resize(code_.references.size());
    if (!ReadQuads()) return false;
    if (code_.spFound && !ReadSp()) return false;
    if (!ReadReferences()) return false;
    if (numberedLines_ > 0 && fingerprintSeen_ == Fingerprint::kNone) {
      Warnf("WARNING: %s has no \"%.*s\" line (a dump written by hand or by an older tool): its numbered lines "
            "are taken for the references of the script as it is now",
            dumpName_.c_str(), int(kTssFingerprintPrefix.size() - 1), kTssFingerprintPrefix.data());
    }
    if (context_.stringDictionary && context_.swap) SwapPairs();
    return !failed_;
  }

 private:
  bool NextLine(ByteSpan& line) {
    if (!reader_.ReadCrlfLine(line)) return false;
    ++lineNumber_;
    return true;
  }

  Bytes Convert(ByteSpan text, size_t line, TextLine kind) const {
    Bytes game = ConvertDumpLine(text, dumpName_, line, *context_.translatorCodes, *context_.gameCodes);
    if (context_.limits != nullptr) context_.limits->Measure(kind, line, game);
    return game;
  }

  bool Fail(const char* what) const {
    Printf("\nERROR: %s line %zu: %s", dumpName_.c_str(), lineNumber_, what);
    return false;
  }

  // A note stands on a line of its own after an empty line. A non-empty
  // line right after a text line (a group's last line, the "[SP]" line, a
  // numbered line) that is no line of the dump is the rest of that text,
  // broken by a line break typed inside it: reported, and true.
  bool BreaksText(ByteSpan line) {
    const size_t textLine = std::exchange(textLine_, 0);
    if (textLine == 0 || line.empty() || IsScriptDumpLine(line)) return false;
    ReportTypedLineBreak(dumpName_, textLine, lineNumber_, true);
    return true;
  }

  // After a problem was reported: true to stop there, or false when a check
  // reads on to report the next one (the result is a failure either way).
  bool StopAfterProblem() {
    failed_ = true;
    return !CheckingWholeDump();
  }

  // Quad groups up to "[END]": a line beginning "[0" starts a group of four
  // lines tagged with the quad's position, two "_JP]: " lines and two
  // "_EN]: " lines; other lines are notes.
  bool ReadQuads() {
    static constexpr size_t kStraightOrder[kTssQuadSlotCount] = {0, 1, 2, 3};
    static constexpr size_t kSwappedOrder[kTssQuadSlotCount] = {2, 3, 0, 1};
    const size_t* order = context_.swap ? kSwappedOrder : kStraightOrder;
    ByteSpan line;
    bool skipping = false;  // a check reads on after a broken group from the next empty line
    while (NextLine(line)) {
      if (skipping) skipping = !line.empty();
      if (skipping) continue;
      if (BreaksText(line)) {
        skipping = true;
        if (StopAfterProblem()) return false;
        continue;
      }
      if (StartsWith(line, kTssFingerprintPrefix)) {
        const bool same = std::equal(line.begin(), line.end(), fingerprint_.begin(), fingerprint_.end());
        fingerprintSeen_ = same ? Fingerprint::kSame : Fingerprint::kDifferent;
        continue;
      }
      if (line.size() < 4) continue;
      if (StartsWith(line, "[END]")) return true;
      if (StartsWith(line, "[SP]") || LooksNumbered(line)) {
        return Fail("\"[END]\" is missing before this line: the quad groups end at \"[END]\", and the \"[SP]\" "
                    "line and the numbered lines follow it");
      }
      if (!IsTaggedBlockStart(line)) continue;
      TaggedBlock tagged;
      if (const DumpFailure failure = ParseTaggedBlock(reader_, line, lineNumber_, tagged); !failure.ok()) {
        ReportDumpFailure(dumpName_, failure);
        skipping = true;
        if (StopAfterProblem()) return false;
        continue;
      }
      textLine_ = lineNumber_;
      if (!QuadFitsStringArea(file_.size(), header_, tagged.tag)) {
        Printf("\nERROR: %s line %zu: %08X is not a quad position of this script (its string area holds 0x%X "
               "bytes)",
               dumpName_.c_str(), tagged.lines[0], tagged.tag, header_.textSize);
        if (StopAfterProblem()) return false;
        continue;
      }
      if (!NamesQuad(file_, header_, tagged.tag)) {
        Printf("\nERROR: %s line %zu: %08X is not a quad position of this script (its 16 bytes are not four "
               "offsets of strings)",
               dumpName_.c_str(), tagged.lines[0], tagged.tag);
        if (StopAfterProblem()) return false;
        continue;
      }
      TssQuadEdit quad;
      quad.position = tagged.tag;
      for (size_t k = 0; k < kTssQuadSlotCount; ++k) {
        quad.slots[order[k]] = Convert(tagged.texts[k], tagged.lines[k], k < 2 ? TextLine::kJp : TextLine::kEn);
      }
      edits_.quads.push_back(std::move(quad));
    }
    Printf("\nERROR: %s: its \"[END]\" line is missing; it follows the quad groups, and stands even when there "
           "are none",
           dumpName_.c_str());
    return false;
  }

  // The first line of at least 3 characters beginning with '[' after
  // "[END]" is the SP line when it begins "[SP]"; otherwise it is left to
  // the numbered lines.
  bool ReadSp() {
    ByteSpan line;
    for (;;) {
      const size_t start = reader_.position();
      if (!NextLine(line)) return true;
      if (BreaksText(line)) return !StopAfterProblem();
      if (line.size() < 3 || line[0] != '[') continue;
      if (!StartsWith(line, "[SP]")) {
        reader_ = CrlfLineReader(dump_, start);
        --lineNumber_;
        return true;
      }
      ByteSpan text;
      if (!TakePrefixedText(line, "[SP]: ", text)) {
        Fail("the SP line must begin with \"[SP]: \"");
        return !StopAfterProblem();
      }
      edits_.sp = Convert(text, lineNumber_, TextLine::kSpeaker);
      textLine_ = lineNumber_;
      return true;
    }
  }

  // Numbered lines "[NNNNNN]: text": a line whose first character is '['
  // and whose eighth is ']'. A later line with the same number wins.
  bool ReadReferences() {
    ByteSpan line;
    while (NextLine(line)) {
      if (BreaksText(line)) {
        if (StopAfterProblem()) return false;
        continue;
      }
      if (!LooksNumbered(line)) {
        if (StartsWith(line, "[SP]") || StartsWith(line, "[END]") || (line.size() >= 4 && StartsWith(line, "[0"))) {
          Warnf("WARNING: %s line %zu is not read: quad groups stand before \"[END]\" and the \"[SP]\" line "
                "right after it",
                dumpName_.c_str(), lineNumber_);
        }
        continue;
      }
      const ByteSpan digits = line.subspan(1, 6);
      const std::string prefix = std::string(line.begin(), line.begin() + 8) + ": ";
      ByteSpan text;
      if (!std::all_of(digits.begin(), digits.end(), IsDecimalDigit) || !TakePrefixedText(line, prefix, text)) {
        Fail("a numbered line must begin with '[', six digits and \"]: \"");
        if (StopAfterProblem()) return false;
        continue;
      }
      const uint32_t number = ParseDecimal(digits);
      if (number >= edits_.references.size()) {
        char what[96];
        std::snprintf(what, sizeof what, "reference %06u does not exist: the script has %zu", number,
                      edits_.references.size());
        Fail(what);
        if (StopAfterProblem()) return false;
        continue;
      }
      // Quad groups carry their position and the SP slot stays where it
      // is; only the numbered lines depend on the reference order.
      if (fingerprintSeen_ == Fingerprint::kDifferent) {
        Printf("\nERROR: %s: the dump was made from another state of this script: dump again and copy your "
               "numbered lines into the new dump",
               dumpName_.c_str());
        return false;
      }
      ++numberedLines_;
      edits_.references[number] = Convert(text, lineNumber_, TextLine::kNumbered);
      textLine_ = lineNumber_;
    }
    return true;
  }

  // References 0 and 1, 2 and 3, ... exchange their new texts when both
  // were given.
  void SwapPairs() {
    std::vector<std::optional<Bytes>>& references = edits_.references;
    for (size_t j = 0; j + 1 < references.size(); j += 2) {
      if (references[j] && references[j + 1]) std::swap(references[j], references[j + 1]);
    }
  }

  ByteSpan dump_;
  CrlfLineReader reader_;
  size_t lineNumber_ = 0;
  size_t textLine_ = 0;  // the line before, when it held a text
  bool failed_ = false;
  const std::string& dumpName_;
  ByteSpan file_;
  const TssHeader& header_;
  const TssCode& code_;
  const TssDumpContext& context_;
  TssEdits& edits_;
  // The script's fingerprint line, and what the dump's own said.
  enum class Fingerprint { kNone, kSame, kDifferent };
  const std::string fingerprint_;
  Fingerprint fingerprintSeen_ = Fingerprint::kNone;
  size_t numberedLines_ = 0;
};

}  // namespace

bool ParseTssDump(ByteSpan dump, const std::string& dumpName, ByteSpan file, const TssHeader& header,
                  const TssCode& code, const TssDumpContext& context, TssEdits& edits) {
  return DumpParser(dump, dumpName, file, header, code, context, edits).Parse();
}

TssOutcome InsertTssDump(ByteSpan file, const std::string& path, bool swap, TssTables& tables, Bytes& out) {
  // A script without text, or without a dump, is left as it is before its
  // header is checked: a container member that is no script at all goes
  // back unchanged when nobody wrote a dump for it.
  if (TssHasNoText(file)) return TssOutcome::kNoText;
  std::string dumpPath;
  if (!TextDumpPath(path, dumpPath)) return TssOutcome::kFailed;
  if (!FileExists(dumpPath)) {
    Print(" (missed)");
    return TssOutcome::kMissed;
  }
  TssHeader header;
  if (const TssFailure failure = ParseTssHeader(file, header); !failure.ok()) {
    ReportTssFailure(failure);
    return TssOutcome::kFailed;
  }
  if (!tables.loaded) {
    const std::string& gameFile = tables.gameFile.empty() ? path : tables.gameFile;
    if (!SelectCodeTable(kGameCodesFile, gameFile, tables.inputs.gameCodes) ||
        !SelectCodeTable(kTranslatorCodesFile, gameFile, tables.inputs.translatorCodes) ||
        !SelectTextLimits(gameFile, tables.inputs.limits)) {
      return TssOutcome::kFailed;
    }
    tables.loaded = true;
  }
  // The dump is read and its form checked (UTF-8, CR LF) as for every tool.
  if (!ReadTextDump(dumpPath, tables.inputs)) return TssOutcome::kFailed;
  TssCode code;
  if (const TssFailure failure = ScanTssCode(file, header, code); !failure.ok()) {
    ReportTssFailure(failure);
    return TssOutcome::kFailed;
  }
  TssDumpContext context;
  context.gameCodes = &tables.inputs.gameCodes;
  context.translatorCodes = &tables.inputs.translatorCodes;
  context.swap = swap;
  context.stringDictionary = IsStringDictionary(path);
  TextLimitCheck limits(tables.inputs.limits, TextFormat::kScript, path, dumpPath);
  context.limits = &limits;
  TssEdits edits;
  bool rebuilt = ParseTssDump(tables.inputs.dump, dumpPath, file, header, code, context, edits);
  if (rebuilt) {
    const TssFailure failure = RebuildTss(file, header, code, edits, out);
    if (!failure.ok()) ReportTssFailure(failure);
    rebuilt = failure.ok();
  }
  ReportTextLimits(limits);  // after what would stop the write-back
  return rebuilt ? TssOutcome::kDone : TssOutcome::kFailed;
}

bool InsertTssText(const std::string& path, bool swap) {
  Bytes file;
  if (!ReadGameFile(path, file)) return false;
  TssTables tables;
  Bytes rebuilt;
  switch (InsertTssDump(file, path, swap, tables, rebuilt)) {
    case TssOutcome::kDone: return ReplaceFileSafely(path, rebuilt);
    case TssOutcome::kNoText: return true;
    case TssOutcome::kMissed: {
      std::string dumpPath;
      if (TextDumpPath(path, dumpPath)) Warnf("NOTE: there is no dump %s to write back", dumpPath.c_str());
      return false;
    }
    case TssOutcome::kFailed: return false;
  }
  return false;
}

}  // namespace fpskit
