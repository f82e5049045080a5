#include "tools/text/text_tool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/platform.h"

namespace fpskit {

namespace {

std::atomic<bool> checkingWholeDump{false};

}  // namespace

bool CheckingWholeDump() { return checkingWholeDump; }

ScopedDumpCheck::ScopedDumpCheck() : previous_(checkingWholeDump.exchange(true)) {}

ScopedDumpCheck::~ScopedDumpCheck() { checkingWholeDump = previous_; }

bool ReadGameFile(const std::string& path, Bytes& file) {
  if (ReadWholeFile(path, file)) return true;
  Printf("\nCan't open %s", path.c_str());
  return false;
}

namespace {

// "'é' (C3 A9)" for a UTF-8 character, "byte E9" for a byte that is none.
std::string DescribeCharacter(ByteSpan character, bool utf8) {
  std::string hex;
  char digits[4];
  for (uint8_t byte : character) {
    std::snprintf(digits, sizeof digits, hex.empty() ? "%02X" : " %02X", byte);
    hex += digits;
  }
  if (!utf8) return "byte " + hex;
  return "'" + std::string(character.begin(), character.end()) + "' (" + hex + ")";
}

}  // namespace

bool TextDumpPath(const std::string& path, std::string& dumpPath) {
  dumpPath = StripExtension(path) + ".txt";
  if (dumpPath != path) return true;
  Printf("\nERROR: %s would be its own dump; rename it first", path.c_str());
  return false;
}

bool LoadInsertionInputs(const std::string& dumpPath, InsertionInputs& inputs) {
  // The dump lies beside its game file: the tables and limits are looked up there too.
  return SelectCodeTable(kGameCodesFile, dumpPath, inputs.gameCodes) &&
         SelectCodeTable(kTranslatorCodesFile, dumpPath, inputs.translatorCodes) &&
         SelectTextLimits(dumpPath, inputs.limits) && ReadTextDump(dumpPath, inputs);
}

namespace {

std::atomic<const TextLimits*> selectedLimits{nullptr};
std::atomic<size_t> textsOverLimits{0};

}  // namespace

ScopedSelectedLimits::ScopedSelectedLimits(const TextLimits& limits) { selectedLimits = &limits; }

ScopedSelectedLimits::~ScopedSelectedLimits() { selectedLimits = nullptr; }

size_t TextsOverLimitsReported() { return textsOverLimits; }

bool SelectTextLimits(const std::string& gameFile, TextLimits& limits) {
  if (const TextLimits* selected = selectedLimits.load()) {
    limits = *selected;
    return true;
  }
  limits = TextLimits();
  // Where the code tables are looked for, in the same order: the current
  // directory, beside the game file, beside the program.
  std::string path = kLimitsFile;
  if (!platform::EntryExists(path)) {
    const std::string program = platform::ExecutablePath();
    path.clear();
    for (const std::string& directory :
         {platform::DirectoryPartOf(gameFile), program.empty() ? std::string() : platform::DirectoryPartOf(program)}) {
      if (directory.empty() || !platform::EntryExists(directory + kLimitsFile)) continue;
      path = directory + kLimitsFile;
      Warnf("NOTE: no %s in the current directory; %s is used", kLimitsFile, path.c_str());
      break;
    }
    if (path.empty()) return true;
  }
  Bytes text;
  if (!ReadWholeFile(path, text)) {
    Printf("\nERROR: can't read %s", path.c_str());
    return false;
  }
  if (!CheckCrlfTextFile(text, path, CrlfTextKind::kCodeTable)) return false;
  size_t line = 0;
  std::string error;
  if (ParseTextLimits(text, limits, line, error)) return true;
  Printf("\nERROR: %s line %zu: %s", path.c_str(), line, error.c_str());
  return false;
}

size_t ReportTextLimits(const TextLimitCheck& check) {
  for (const TextLimitCheck::Excess& excess : check.excesses()) {
    Warnf("WARNING: %s line %zu: %s", check.dumpName().c_str(), excess.dumpLine, DescribeExcess(excess.excess).c_str());
  }
  textsOverLimits += check.textsOver();
  return check.textsOver();
}

bool ReadTextDump(const std::string& dumpPath, InsertionInputs& inputs) {
  inputs.dumpName = dumpPath;
  if (!ReadWholeFile(dumpPath, inputs.dump)) {
    Printf("\nCan't open %s", dumpPath.c_str());
    return false;
  }
  return CheckCrlfTextFile(inputs.dump, dumpPath, CrlfTextKind::kDump);
}

Bytes ConvertDumpLine(ByteSpan line, size_t lineNumber, const InsertionInputs& inputs) {
  return ConvertDumpLine(line, inputs.dumpName, lineNumber, inputs.translatorCodes, inputs.gameCodes);
}

Bytes ConvertDumpLine(ByteSpan line, const std::string& dumpName, size_t lineNumber,
                      const CodeTable& translatorCodes, const CodeTable& gameCodes) {
  std::vector<UnconvertedCharacter> unconverted;
  Bytes game = ConvertDumpLine(line, lineNumber, translatorCodes, gameCodes, unconverted);
  WarnUnconverted(dumpName, gameCodes.name, unconverted);
  return game;
}

void WarnUnconverted(const std::string& dumpName, const std::string& tableName,
                     const std::vector<UnconvertedCharacter>& characters) {
  for (const UnconvertedCharacter& character : characters) {
    Warnf("WARNING: %s line %zu: %s has no row in %s and is written as it stands", dumpName.c_str(), character.line,
          DescribeCharacter(character.bytes, character.utf8).c_str(), tableName.c_str());
  }
}

void WarnSplitLine(std::string_view what, size_t line, std::string_view insertMode) {
  Warnf("WARNING: %.*s holds CR LF and splits dump line %zu; join it before \"%.*s\"", int(what.size()), what.data(),
        line, int(insertMode.size()), insertMode.data());
}

void WarnDroppedSharedLine(const std::string& dumpName, size_t dropped, size_t kept) {
  Warnf("WARNING: %s line %zu differs from line %zu, which shares its string; line %zu was kept", dumpName.c_str(),
        dropped, kept, kept);
}

void ReportTypedLineBreak(const std::string& dumpName, size_t textLine, size_t nextLine, bool notes) {
  const char* noteRule = notes ? " (a note stands on a line of its own after an empty line)" : "";
  Printf("\nERROR: %s line %zu: a line break was typed inside its text, and line %zu goes on with it; join the "
         "two lines%s",
         dumpName.c_str(), textLine, nextLine, noteRule);
}

void ReportDumpFailure(const std::string& dumpName, const DumpFailure& failure) {
  switch (failure.error) {
    case DumpError::kNone:
      return;
    case DumpError::kBadTag:
      Printf("\nERROR: %s line %zu: a block's first line begins with \"[\", its 8-digit hexadecimal tag and \"_JP]: \"",
             dumpName.c_str(), failure.line);
      return;
    case DumpError::kBlockCut:
      Printf("\nERROR: %s line %zu: the block ends after %zu of its 4 lines", dumpName.c_str(), failure.line,
             failure.linesRead);
      return;
    case DumpError::kTypedLineBreak:
      ReportTypedLineBreak(dumpName, failure.line, failure.nextLine, true);
      return;
    case DumpError::kWrongPrefix:
      Printf("\nERROR: %s line %zu should begin with \"%s\"", dumpName.c_str(), failure.line, failure.prefix.c_str());
      return;
  }
}

}  // namespace fpskit
