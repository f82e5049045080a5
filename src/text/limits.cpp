#include "text/limits.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codetable/lines.h"

namespace fpskit {
namespace {

constexpr uint32_t kLargestNumber = 1000000000;
constexpr size_t kMaxCodeLength = 100;  // as a code table's column

std::string Lower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return lower;
}

bool ParseHexPair(std::string_view token, uint8_t& byte) {
  if (token.size() != 2 || HexDigitValue(token[0]) < 0 || HexDigitValue(token[1]) < 0) return false;
  byte = uint8_t(HexDigitValue(token[0]) * 16 + HexDigitValue(token[1]));
  return true;
}

bool ParseNumber(std::string_view token, uint32_t& value) {
  if (token.empty() || token.size() > 10) return false;
  uint64_t n = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + uint64_t(c - '0');
  }
  if (n > kLargestNumber) return false;
  value = uint32_t(n);
  return true;
}

// The words of a line before its comment, split at spaces and tabs.
std::vector<std::string_view> Words(ByteSpan line) {
  std::string_view text(reinterpret_cast<const char*>(line.data()), line.size());
  text = text.substr(0, text.find(';'));
  std::vector<std::string_view> words;
  size_t p = 0;
  while (p < text.size()) {
    if (text[p] == ' ' || text[p] == '\t') {
      ++p;
      continue;
    }
    const size_t end = std::min(text.find_first_of(" \t", p), text.size());
    words.push_back(text.substr(p, end - p));
    p = end;
  }
  return words;
}

// Bytes written as hexadecimal pairs from words[first] on, up to the first
// word that is no pair; `next` is that word's index.
Bytes TakeBytes(const std::vector<std::string_view>& words, size_t first, size_t& next) {
  Bytes bytes;
  uint8_t byte = 0;
  for (next = first; next < words.size() && ParseHexPair(words[next], byte); ++next) bytes.push_back(byte);
  return bytes;
}

const char* ParseBreak(const std::vector<std::string_view>& words, Bytes& code) {
  size_t next = 0;
  code = TakeBytes(words, 1, next);
  if (code.empty() || next != words.size()) return "expected the code's bytes, two hexadecimal digits each";
  if (code.size() > kMaxCodeLength) return "more than 100 bytes in a code";
  return nullptr;
}

// Marks a one-byte code whose width is not (yet) listed.
constexpr uint32_t kUnlisted = 0xFFFFFFFF;

const char* ParseWidth(const std::vector<std::string_view>& words, TextLimits& limits, bool& defaultSeen) {
  uint32_t width = 0;
  if (words.size() < 2 || !ParseNumber(words.back(), width)) {
    return "expected the width in pixels, a decimal number, at the end of the line";
  }
  const size_t codeWords = words.size() - 2;
  if (codeWords == 0) {
    if (defaultSeen) return "a second default width (\"width N\")";
    defaultSeen = true;
    limits.defaultWidth = width;
  } else if (uint8_t first = 0, second = 0; codeWords == 1 && ParseHexPair(words[1], first)) {
    limits.singleWidths[first] = width;
  } else if (codeWords == 2 && ParseHexPair(words[1], first) && ParseHexPair(words[2], second)) {
    limits.doubleWidths[uint32_t(first) << 8 | second] = width;
    limits.listedLeads[first] = true;
  } else if (codeWords == 1 && words[1].size() == 5 && words[1][2] == '-' && ParseHexPair(words[1].substr(0, 2), first) &&
             ParseHexPair(words[1].substr(3), second) && first <= second) {
    for (uint32_t code = first; code <= second; ++code) limits.singleWidths[code] = width;
  } else {
    return "expected one code (\"HH\" or \"HH HH\") or a range (\"HH-HH\") before the width";
  }
  return nullptr;
}

const char* ParseControl(const std::vector<std::string_view>& words, TextLimits& limits) {
  ControlCode control;
  size_t next = 0;
  control.bytes = TakeBytes(words, 1, next);
  if (control.bytes.empty()) return "expected the control code's bytes, two hexadecimal digits each";
  if (control.bytes.size() > kMaxCodeLength) return "more than 100 bytes in a code";
  for (; next < words.size(); next += 2) {
    const std::string word = Lower(words[next]);
    uint32_t* value = word == "chars" ? &control.chars : word == "pixels" ? &control.pixels : nullptr;
    if (value == nullptr) return "a control code is followed by \"chars N\" or \"pixels N\"";
    if (next + 1 >= words.size() || !ParseNumber(words[next + 1], *value)) {
      return "expected a decimal number after \"chars\" or \"pixels\"";
    }
  }
  limits.controls.push_back(std::move(control));
  return nullptr;
}

// Which dump lines each format has.
bool FormatHasLine(TextFormat format, TextLine line) {
  switch (format) {
    case TextFormat::kChat: return line != TextLine::kNumbered;
    case TextFormat::kScript: return true;
    case TextFormat::kScf: return line == TextLine::kJp || line == TextLine::kEn;
  }
  return false;
}

const char* ParseRule(const std::vector<std::string_view>& words, TextFormat format, LimitRule& rule) {
  rule.format = format;
  bool patternSeen = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string word = Lower(words[i]);
    if (word == "file") {
      if (patternSeen) return "a second \"file\" in one rule";
      if (++i >= words.size()) return "expected a file name pattern after \"file\"";
      rule.pattern = std::string(words[i]);
      patternSeen = true;
      continue;
    }
    static constexpr std::pair<const char*, TextLine> kLines[] = {
        {"jp", TextLine::kJp}, {"en", TextLine::kEn}, {"speaker", TextLine::kSpeaker}, {"numbered", TextLine::kNumbered}};
    const auto line = std::find_if(std::begin(kLines), std::end(kLines), [&](const auto& l) { return word == l.first; });
    if (line != std::end(kLines)) {
      if (!FormatHasLine(format, line->second)) return "this format's dumps have no such lines";
      rule.lines |= uint8_t(1u << unsigned(line->second));
      continue;
    }
    uint32_t* limit = word == "chars"    ? &rule.chars
                      : word == "lines"  ? &rule.lineCount
                      : word == "bytes"  ? &rule.bytes
                      : word == "pixels" ? &rule.pixels
                                         : nullptr;
    if (limit == nullptr) {
      return "expected \"file\", a line (JP, EN, speaker, numbered) or a limit (chars, lines, bytes, pixels)";
    }
    if (*limit != 0) return "the same limit twice in one rule";
    if (++i >= words.size() || !ParseNumber(words[i], *limit) || *limit == 0) {
      return "expected a limit of at least 1, a decimal number, after its word";
    }
  }
  if (rule.chars == 0 && rule.lineCount == 0 && rule.bytes == 0 && rule.pixels == 0) {
    return "a rule needs at least one limit: chars, lines, bytes or pixels and a number";
  }
  return nullptr;
}

bool Matches(ByteSpan text, size_t p, const Bytes& code) {
  return !code.empty() && code.size() <= text.size() - p && std::memcmp(text.data() + p, code.data(), code.size()) == 0;
}

bool IsLeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

}  // namespace

bool ParseTextLimits(ByteSpan text, TextLimits& limits, size_t& errorLine, std::string& error) {
  limits = TextLimits();
  limits.singleWidths.fill(kUnlisted);
  CrlfLineReader reader(text, ByteOrderMarkLength(text));
  ByteSpan line;
  size_t lineNumber = 0;
  bool lineBreakSeen = false;
  size_t pageBreakLine = 0;
  bool defaultWidthSeen = false;
  auto fail = [&](size_t at, const char* what) {
    errorLine = at;
    error = what;
    return false;
  };
  while (reader.ReadCrlfLine(line)) {
    ++lineNumber;
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    const std::string first = Lower(words[0]);
    const char* what = nullptr;
    if (first == "linebreak") {
      what = lineBreakSeen ? "a second \"linebreak\" line" : ParseBreak(words, limits.lineBreak);
      lineBreakSeen = true;
    } else if (first == "pagebreak") {
      what = pageBreakLine != 0 ? "a second \"pagebreak\" line" : ParseBreak(words, limits.pageBreak);
      pageBreakLine = lineNumber;
    } else if (first == "width") {
      what = ParseWidth(words, limits, defaultWidthSeen);
    } else if (first == "control") {
      what = ParseControl(words, limits);
    } else if (first == "chat" || first == "script" || first == "scf") {
      LimitRule rule;
      rule.fileLine = lineNumber;
      const TextFormat format = first == "chat" ? TextFormat::kChat : first == "script" ? TextFormat::kScript : TextFormat::kScf;
      what = ParseRule(words, format, rule);
      limits.rules.push_back(std::move(rule));
    } else {
      what = "a line begins with linebreak, pagebreak, width, control, chat, script or scf";
    }
    if (what != nullptr) return fail(lineNumber, what);
  }
  if (limits.lineBreak == limits.pageBreak) {
    return fail(pageBreakLine, "the page break is the same code as the line break");
  }
  limits.specialBytes.fill(false);
  for (const Bytes* code : {&limits.lineBreak, &limits.pageBreak}) {
    if (!code->empty()) limits.specialBytes[(*code)[0]] = true;
  }
  for (const ControlCode& control : limits.controls) limits.specialBytes[control.bytes[0]] = true;
  for (uint32_t& width : limits.singleWidths) {
    if (width == kUnlisted) width = limits.defaultWidth;
  }
  for (const LimitRule& rule : limits.rules) {
    if (rule.pixels != 0 && !defaultWidthSeen) {
      return fail(rule.fileLine, "a pixel limit needs the width of every code: add a line \"width N\"");
    }
  }
  return true;
}

bool MatchFilePattern(std::string_view pattern, std::string_view name) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  // The usual backtracking match: after a '*', a mismatch moves the '*' on by one.
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

const LimitRule* FindLimitRule(const TextLimits& limits, TextFormat format, std::string_view fileName, TextLine line) {
  for (const LimitRule& rule : limits.rules) {
    if (rule.format != format) continue;
    if (rule.lines != 0 && (rule.lines & (1u << unsigned(line))) == 0) continue;
    if (!rule.pattern.empty() && !MatchFilePattern(rule.pattern, fileName)) continue;
    return &rule;
  }
  return nullptr;
}

std::vector<LimitExcess> MeasureText(const TextLimits& limits, const LimitRule& rule, ByteSpan game) {
  using Kind = LimitExcess::Kind;
  std::vector<LimitExcess> excesses;
  std::vector<LimitExcess> pages;
  const std::array<bool, 256>& special = limits.specialBytes;

  size_t line = 1;
  size_t page = 1;
  uint64_t linesInPage = 1;
  uint64_t chars = 0;
  uint64_t pixels = 0;
  auto endLine = [&] {
    if (rule.chars != 0 && chars > rule.chars) excesses.push_back({Kind::kChars, line, chars, rule.chars});
    if (rule.pixels != 0 && pixels > rule.pixels) excesses.push_back({Kind::kPixels, line, pixels, rule.pixels});
    chars = pixels = 0;
    ++line;
  };
  auto endPage = [&] {
    if (rule.lineCount != 0 && linesInPage > rule.lineCount) {
      pages.push_back({Kind::kLines, limits.pageBreak.empty() ? 0 : page, linesInPage, rule.lineCount});
    }
    linesInPage = 1;
    ++page;
  };
  size_t p = 0;
  while (p < game.size()) {
    const uint8_t byte = game[p];
    if (special[byte]) {
      if (Matches(game, p, limits.pageBreak)) {
        endLine();
        endPage();
        p += limits.pageBreak.size();
        continue;
      }
      if (Matches(game, p, limits.lineBreak)) {
        endLine();
        ++linesInPage;
        p += limits.lineBreak.size();
        continue;
      }
      const auto control = std::find_if(limits.controls.begin(), limits.controls.end(),
                                        [&](const ControlCode& c) { return Matches(game, p, c.bytes); });
      if (control != limits.controls.end()) {
        chars += control->chars;
        pixels += control->pixels;
        p += control->bytes.size();
        continue;
      }
    }
    const bool twoBytes = IsLeadByte(byte) && p + 1 < game.size();
    ++chars;
    if (rule.pixels != 0) {
      if (!twoBytes) {
        pixels += limits.singleWidths[byte];
      } else if (!limits.listedLeads[byte]) {
        pixels += limits.defaultWidth;
      } else {
        const auto width = limits.doubleWidths.find(uint32_t(byte) << 8 | game[p + 1]);
        pixels += width != limits.doubleWidths.end() ? width->second : limits.defaultWidth;
      }
    }
    p += twoBytes ? 2 : 1;
  }
  endLine();
  endPage();
  excesses.insert(excesses.end(), pages.begin(), pages.end());
  if (rule.bytes != 0 && game.size() + 1 > rule.bytes) excesses.push_back({Kind::kBytes, 0, game.size() + 1, rule.bytes});
  return excesses;
}

std::string DescribeExcess(const LimitExcess& excess) {
  const std::string measure = std::to_string(excess.measure);
  const std::string limit = ", limit " + std::to_string(excess.limit);
  const std::string where = std::to_string(excess.where);
  switch (excess.kind) {
    case LimitExcess::Kind::kChars: return "line " + where + " of the text is " + measure + " characters" + limit;
    case LimitExcess::Kind::kPixels: return "line " + where + " of the text is " + measure + " pixels" + limit;
    case LimitExcess::Kind::kLines:
      return (excess.where == 0 ? "the text has " : "page " + where + " of the text has ") + measure + " lines" + limit;
    case LimitExcess::Kind::kBytes: return "the text is " + measure + " bytes" + limit;
  }
  return {};
}

}  // namespace fpskit
