#include "text/dump.h"

#include <algorithm>
#include <cstdio>

#include "util/paths.h"

namespace fpskit {
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

}  // namespace

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

std::string TaggedLinePrefix(uint32_t tag, size_t k) {
  char prefix[kTaggedPrefixLength + 1];
  std::snprintf(prefix, sizeof prefix, "[%08X_%s", tag, k < 2 ? "JP]: " : "EN]: ");
  return prefix;
}

bool IsTaggedBlockStart(ByteSpan line) { return line.size() >= 4 && line[0] == '[' && line[1] == '0'; }

DumpFailure ParseTaggedBlock(CrlfLineReader& reader, ByteSpan first, size_t& lineNumber, TaggedBlock& block) {
  DumpFailure failure;
  const size_t firstLine = lineNumber;
  if (first.size() < 9 || !std::all_of(first.begin() + 1, first.begin() + 9, [](uint8_t c) { return HexDigitValue(c) >= 0; })) {
    failure.error = DumpError::kBadTag;
    failure.line = lineNumber;
    return failure;
  }
  uint32_t tag = 0;
  for (size_t i = 1; i < 9; ++i) tag = tag * 16 + uint32_t(HexDigitValue(first[i]));
  block.tag = tag;
  ByteSpan line = first;
  for (size_t k = 0; k < kTaggedBlockLines; ++k) {
    if (k > 0) {
      if (!reader.ReadCrlfLine(line)) {
        failure.error = DumpError::kBlockCut;
        failure.line = firstLine;
        failure.linesRead = k;
        return failure;
      }
      ++lineNumber;
    }
    std::string prefix = TaggedLinePrefix(tag, k);
    if (!TakePrefixedText(line, prefix, block.texts[k])) {
      // A line that begins with no prefix at all, followed by the line that
      // should stand here, is the rest of the line before, in which a line
      // break was typed.
      CrlfLineReader ahead = reader;
      ByteSpan next;
      if (k > 0 && (line.empty() || line[0] != '[') && ahead.ReadCrlfLine(next) &&
          TakePrefixedText(next, prefix, next)) {
        failure.error = DumpError::kTypedLineBreak;
        failure.line = lineNumber - 1;
        failure.nextLine = lineNumber;
      } else {
        failure.error = DumpError::kWrongPrefix;
        failure.line = lineNumber;
        failure.prefix = std::move(prefix);
      }
      return failure;
    }
    block.lines[k] = lineNumber;
  }
  return failure;
}

Bytes ConvertDumpLine(ByteSpan line, size_t lineNumber, const CodeTable& translatorCodes, const CodeTable& gameCodes,
                      std::vector<UnconvertedCharacter>& unconverted) {
  const Bytes typed = ConvertSequences(line, false, translatorCodes);
  if (gameCodes.name.empty()) return ConvertSequences(typed, true, gameCodes);
  std::vector<size_t> positions;
  Bytes game = ConvertSequencesListingUnconverted(typed, true, gameCodes, positions);
  const size_t lineStart = unconverted.size();
  size_t covered = 0;  // a character's later bytes are not listed again
  for (size_t p : positions) {
    if (p < covered) continue;
    const size_t length = Utf8Length(typed, p);
    const ByteSpan character = ByteSpan(typed).subspan(p, std::max<size_t>(length, 1));
    covered = p + character.size();
    const bool seen = std::any_of(unconverted.begin() + std::ptrdiff_t(lineStart), unconverted.end(),
                                  [&](const UnconvertedCharacter& other) {
                                    return std::equal(other.bytes.begin(), other.bytes.end(), character.begin(),
                                                      character.end());
                                  });
    if (seen) continue;
    unconverted.push_back({lineNumber, Bytes(character.begin(), character.end()), length != 0});
  }
  return game;
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
  for (const LimitExcess& excess : excesses) excesses_.push_back({dumpLine, excess});
}

}  // namespace fpskit
