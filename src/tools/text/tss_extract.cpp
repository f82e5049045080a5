// "untss": dumps the text of a script into an editable text file.
#include <cstdio>

#include "codetable/lines.h"
#include "text/tss/tss.h"
#include "tools/text/text_tool.h"
#include "tools/text/tss_tool.h"
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

std::string DescribeTssFailure(const TssFailure& failure) {
  char owner[48] = "";
  switch (failure.owner) {
    case TssStringOwner::kReference: std::snprintf(owner, sizeof owner, "reference %zu", failure.index); break;
    case TssStringOwner::kQuadSlot:
      std::snprintf(owner, sizeof owner, "quad %08X slot %zu", unsigned(failure.index), failure.slot);
      break;
    case TssStringOwner::kSp: std::snprintf(owner, sizeof owner, "SP string"); break;
  }
  const auto offset = static_cast<unsigned long long>(failure.offset);
  char message[160] = "";
  switch (failure.error) {
    case TssError::kNone: break;
    case TssError::kTruncatedHeader: return "\nERROR: truncated TSS header";
    case TssError::kFileTooLarge: return "\nERROR: the TSS file is 4 GiB or larger";
    case TssError::kStringAreaInHeader:
      std::snprintf(message, sizeof message, "\nERROR: bad TSS header: the string area at 0x%llX lies inside the header",
                    offset);
      break;
    case TssError::kStringAreaBeyondFile:
      std::snprintf(message, sizeof message,
                    "\nERROR: bad TSS header: the string area at 0x%llX lies beyond the end of the file", offset);
      break;
    case TssError::kStringOutsideFile:
      std::snprintf(message, sizeof message, "\nERROR: the TSS string at 0x%llX (%s) lies outside the file", offset,
                    owner);
      break;
    case TssError::kStringUnterminated:
      std::snprintf(message, sizeof message, "\nERROR: the TSS string at 0x%llX (%s) has no terminating zero", offset,
                    owner);
      break;
    case TssError::kSpSlotOutsideFile:
      std::snprintf(message, sizeof message, "\nERROR: the TSS SP slot at 0x%llX lies outside the file", offset);
      break;
    case TssError::kCodeDoesNotFit: return "\nERROR: the TSS header or code does not fit the file; nothing was written";
    case TssError::kNotAQuad:
      std::snprintf(message, sizeof message, "\nERROR: %08llX is not a quad position of this script; nothing was written",
                    offset);
      break;
    case TssError::kRebuiltTooLarge: return "\nERROR: the TSS file would grow beyond 4 GiB; nothing was written";
  }
  return message;
}

void ReportTssFailure(const TssFailure& failure) { Print(DescribeTssFailure(failure)); }

bool WriteTssDump(ByteSpan file, const std::string& path, bool byteOrderMark, const CodeTable& gameCodes) {
  if (TssHasNoText(file)) return true;
  TssHeader header;
  TssFailure failure = ParseTssHeader(file, header);
  std::string dumpPath;
  TssText text;
  if (failure.ok()) {
    if (!TextDumpPath(path, dumpPath)) return false;
    failure = ParseTssText(file, header, text);
  }
  if (!failure.ok()) {
    ReportTssFailure(failure);
    return false;
  }
  const TssDump dump = BuildTssDump(text, gameCodes, byteOrderMark, IsStringDictionary(path));
  if (!KeepBackupIfDifferent(dumpPath, dump.text) ||
      !ReplaceFileSafely(dumpPath, dump.text, Durability::kRenameOnly)) {
    return false;
  }
  for (const TssSplitLine& split : dump.splitLines) {
    WarnSplitLine("the string of " + split.owner + " in " + dumpPath, split.line, "tss");
  }
  return true;
}

bool DumpTssText(const std::string& path, const std::string& option) {
  Bytes file;
  if (!ReadGameFile(path, file)) return false;
  CodeTable gameCodes;
  if (!SelectCodeTable(kGameCodesFile, path, gameCodes)) return false;
  return WriteTssDump(file, path, WantsByteOrderMark(option.c_str()), gameCodes);
}

}  // namespace fpskit
