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

// The length of the UTF-8 character that begins at `p`, or 0 when the bytes
// there are no valid UTF-8 (a dump in another encoding).
size_t Utf8Length(ByteSpan text, size_t p) {
  const uint8_t lead = text[p];
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  }
  if (length == 0 || p + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[p + i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

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

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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
  if (!CheckCrlfText(text, path, CrlfTextKind::kCodeTable)) return false;
  size_t line = 0;
  std::string error;
  if (ParseTextLimits(text, limits, line, error)) return true;
  Printf("\nERROR: %s line %zu: %s", path.c_str(), line, error.c_str());
  return false;
}

TextLimitCheck::TextLimitCheck(const TextLimits& limits, TextFormat format, const std::string& gamePath,
                               std::string dumpName)
    : limits_(limits), dumpName_(std::move(dumpName)) {
  const std::string fileName = FileNameOf(gamePath);
  for (size_t line = 0; line < kTextLineKinds; ++line) {
    rules_[line] = FindLimitRule(limits, format, fileName, TextLine(line));
  }
}

void TextLimitCheck::Measure(TextLine line, size_t dumpLine, ByteSpan game) {
  const LimitRule* rule = rules_[size_t(line)];
  if (rule == nullptr) return;
  const std::vector<LimitExcess> excesses = MeasureText(limits_, *rule, game);
  if (excesses.empty()) return;
  ++textsOver_;
  for (const LimitExcess& excess : excesses) {
    warnings_.push_back("WARNING: " + dumpName_ + " line " + std::to_string(dumpLine) + ": " + DescribeExcess(excess));
  }
}

size_t TextLimitCheck::Report() const {
  for (const std::string& warning : warnings_) Warn(warning);
  textsOverLimits += textsOver_;
  return textsOver_;
}

bool ReadTextDump(const std::string& dumpPath, InsertionInputs& inputs) {
  inputs.dumpName = dumpPath;
  if (!ReadWholeFile(dumpPath, inputs.dump)) {
    Printf("\nCan't open %s", dumpPath.c_str());
    return false;
  }
  return CheckCrlfText(inputs.dump, dumpPath, CrlfTextKind::kDump);
}

Bytes ConvertDumpLine(ByteSpan line, size_t lineNumber, const InsertionInputs& inputs) {
  return ConvertDumpLine(line, inputs.dumpName, lineNumber, inputs.translatorCodes, inputs.gameCodes);
}

Bytes ConvertDumpLine(ByteSpan line, const std::string& dumpName, size_t lineNumber,
                      const CodeTable& translatorCodes, const CodeTable& gameCodes) {
  const Bytes typed = ConvertSequences(line, false, translatorCodes);
  if (gameCodes.name.empty()) return ConvertSequences(typed, true, gameCodes);
  std::vector<size_t> unconverted;
  Bytes game = ConvertSequencesListingUnconverted(typed, true, gameCodes, unconverted);
  std::vector<ByteSpan> reported;
  size_t covered = 0;  // a character's later bytes are not reported again
  for (size_t p : unconverted) {
    if (p < covered) continue;
    const size_t length = Utf8Length(typed, p);
    const ByteSpan character = ByteSpan(typed).subspan(p, std::max<size_t>(length, 1));
    covered = p + character.size();
    const bool seen = std::any_of(reported.begin(), reported.end(), [&](ByteSpan other) {
      return std::equal(other.begin(), other.end(), character.begin(), character.end());
    });
    if (seen) continue;
    reported.push_back(character);
    Warnf("WARNING: %s line %zu: %s has no row in %s and is written as it stands", dumpName.c_str(), lineNumber,
          DescribeCharacter(character, length != 0).c_str(), gameCodes.name.c_str());
  }
  return game;
}

void WarnSplitLine(std::string_view what, size_t line, std::string_view insertMode) {
  Warnf("WARNING: %.*s holds CR LF and splits dump line %zu; join it before \"%.*s\"", int(what.size()), what.data(),
        line, int(insertMode.size()), insertMode.data());
}

void WarnDroppedSharedLine(const std::string& dumpName, size_t dropped, size_t kept) {
  Warnf("WARNING: %s line %zu differs from line %zu, which shares its string; line %zu was kept", dumpName.c_str(),
        dropped, kept, kept);
}

bool TakePrefixedText(ByteSpan line, std::string_view prefix, ByteSpan& text) {
  if (line.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), line.begin())) {
    text = line.subspan(prefix.size());
    return true;
  }
  const std::string_view trimmed = prefix.substr(0, prefix.size() - (prefix.ends_with(' ') ? 1 : 0));
  if (trimmed.size() < prefix.size() && std::equal(line.begin(), line.end(), trimmed.begin(), trimmed.end())) {
    text = ByteSpan();
    return true;
  }
  return false;
}

void ReportTypedLineBreak(const std::string& dumpName, size_t textLine, size_t nextLine, bool notes) {
  const char* noteRule = notes ? " (a note stands on a line of its own after an empty line)" : "";
  Printf("\nERROR: %s line %zu: a line break was typed inside its text, and line %zu goes on with it; join the "
         "two lines%s",
         dumpName.c_str(), textLine, nextLine, noteRule);
}

std::string TaggedLinePrefix(uint32_t tag, size_t k) {
  char prefix[kTaggedPrefixLength + 1];
  std::snprintf(prefix, sizeof prefix, "[%08X_%s", tag, k < 2 ? "JP]: " : "EN]: ");
  return prefix;
}

bool IsTaggedBlockStart(ByteSpan line) { return line.size() >= 4 && line[0] == '[' && line[1] == '0'; }

bool ReadTaggedBlock(CrlfLineReader& reader, ByteSpan first, const std::string& dumpName, size_t& lineNumber,
                     TaggedBlock& block) {
  const size_t firstLine = lineNumber;
  if (first.size() < 9 || !std::all_of(first.begin() + 1, first.begin() + 9, [](uint8_t c) { return HexValue(c) >= 0; })) {
    Printf("\nERROR: %s line %zu: a block's first line begins with \"[\", its 8-digit hexadecimal tag and \"_JP]: \"",
           dumpName.c_str(), lineNumber);
    return false;
  }
  uint32_t tag = 0;
  for (size_t i = 1; i < 9; ++i) tag = tag * 16 + uint32_t(HexValue(first[i]));
  block.tag = tag;
  ByteSpan line = first;
  for (size_t k = 0; k < kTaggedBlockLines; ++k) {
    if (k > 0) {
      if (!reader.ReadCrlfLine(line)) {
        Printf("\nERROR: %s line %zu: the block ends after %zu of its 4 lines", dumpName.c_str(), firstLine, k);
        return false;
      }
      ++lineNumber;
    }
    const std::string prefix = TaggedLinePrefix(tag, k);
    if (!TakePrefixedText(line, prefix, block.texts[k])) {
      // A line that begins with no prefix at all, followed by the line that
      // should stand here, is the rest of the line before, in which a line
      // break was typed.
      CrlfLineReader ahead = reader;
      ByteSpan next;
      if (k > 0 && (line.empty() || line[0] != '[') && ahead.ReadCrlfLine(next) &&
          TakePrefixedText(next, prefix, next)) {
        ReportTypedLineBreak(dumpName, lineNumber - 1, lineNumber, true);
      } else {
        Printf("\nERROR: %s line %zu should begin with \"%s\"", dumpName.c_str(), lineNumber, prefix.c_str());
      }
      return false;
    }
    block.lines[k] = lineNumber;
  }
  return true;
}

}  // namespace fpskit
