// "untss": dumps the text of a script into an editable text file.
#include <cstdio>

#include "codetable/lines.h"
#include "tools/text/text_tool.h"
#include "text/tss/tss.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

// Appends one dump line: the prefix, the converted string and CR LF, and
// notes the line when the text splits it.
class DumpWriter {
 public:
  DumpWriter(const CodeTable& gameCodes, TssDump& dump) : gameCodes_(gameCodes), dump_(dump) {}

  template <typename Owner>
  void Line(const char* prefix, ByteSpan string, Owner owner) {
    const Bytes converted = ConvertSequences(string, false, gameCodes_);
    AppendText(dump_.text, prefix);
    AppendBytes(dump_.text, converted);
    AppendText(dump_.text, "\r\n");
    const size_t splits = CountCrlf(converted);
    if (splits > 0) dump_.splitLines.push_back({line_, owner()});
    line_ += 1 + splits;
  }
  void PlainLine(std::string_view text) {
    AppendText(dump_.text, text);
    AppendText(dump_.text, "\r\n");
    ++line_;
  }
  void EmptyLine() { PlainLine(""); }

 private:
  const CodeTable& gameCodes_;
  TssDump& dump_;
  size_t line_ = 1;
};

}  // namespace

TssDump BuildTssDump(const TssText& text, const CodeTable& gameCodes, bool byteOrderMark, bool stringDictionary) {
  TssDump dump;
  if (byteOrderMark) dump.text.assign(std::begin(kByteOrderMark), std::end(kByteOrderMark));
  DumpWriter writer(gameCodes, dump);
  // The fingerprint line comes first, where every reader of dumps takes a
  // line for a note, and an empty line after it.
  writer.PlainLine(TssFingerprintLine(text.code));
  writer.EmptyLine();
  char prefix[32];
  for (const TextQuad& quad : text.quads) {
    for (size_t slot = 0; slot < kTssQuadSlotCount; ++slot) {
      std::snprintf(prefix, sizeof prefix, "[%08X_%s", quad.position, slot < 2 ? "JP]: " : "EN]: ");
      writer.Line(prefix, quad.strings[slot], [&] {
        char owner[32];
        std::snprintf(owner, sizeof owner, "quad %08X slot %zu", quad.position, slot);
        return std::string(owner);
      });
    }
    writer.EmptyLine();
  }
  writer.PlainLine("[END]");
  writer.EmptyLine();
  if (text.sp) {
    writer.Line("[SP]: ", *text.sp, [] { return std::string("SP string"); });
    writer.EmptyLine();
  }
  const std::vector<StringRef>& references = text.code.references;
  for (size_t i = 0; i < references.size(); ++i) {
    std::snprintf(prefix, sizeof prefix, "[%06zu]: ", i);
    writer.Line(prefix, references[i].text, [&] { return "reference " + std::to_string(i); });
    if (stringDictionary && i % 2 == 1) writer.EmptyLine();
  }
  return dump;
}

TssOutcome WriteTssDump(ByteSpan file, const std::string& path, bool byteOrderMark, const CodeTable& gameCodes) {
  if (TssHasNoText(file)) return TssOutcome::kNoText;
  TssHeader header;
  if (!ReadTssHeader(file, header)) return TssOutcome::kFailed;
  std::string dumpPath;
  TssText text;
  if (!TextDumpPath(path, dumpPath) || !ReadTssText(file, header, text)) return TssOutcome::kFailed;
  const TssDump dump = BuildTssDump(text, gameCodes, byteOrderMark, IsStringDictionary(path));
  if (!KeepBackupIfDifferent(dumpPath, dump.text) ||
      !ReplaceFileSafely(dumpPath, dump.text, Durability::kRenameOnly)) {
    return TssOutcome::kFailed;
  }
  for (const TssSplitLine& split : dump.splitLines) {
    WarnSplitLine("the string of " + split.owner + " in " + dumpPath, split.line, "tss");
  }
  return TssOutcome::kDone;
}

bool DumpTssText(const std::string& path, const std::string& option) {
  Bytes file;
  if (!ReadGameFile(path, file)) return false;
  CodeTable gameCodes;
  if (!SelectCodeTable(kGameCodesFile, path, gameCodes)) return false;
  return WriteTssDump(file, path, WantsByteOrderMark(option.c_str()), gameCodes) != TssOutcome::kFailed;
}

}  // namespace fpskit
