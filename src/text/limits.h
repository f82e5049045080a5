// Text limits: the lengths the team knows the game's text boxes take, written
// down in "LIMITS.TXT", and the measurement of a text's game bytes (after
// both code tables) against them, in the game's own units.
//
// The file follows the code tables' conventions: lines end in CR LF (a last
// line without one ends at the end of the data), a leading UTF-8 byte order
// mark is skipped, everything from ';' to the end of a line is a comment,
// blank lines are skipped. Words are read without regard to case; bytes are
// two hexadecimal digits each, separated by spaces; numbers are decimal.
//
//   linebreak HH [HH ...]            the game's line-break code (default 0A)
//   pagebreak HH [HH ...]            a page-break code: lines count per page
//   width N                          the pixel width of a code not listed
//   width HH [HH] N                  the width of one code (one or two bytes)
//   width HH-HH N                    the width of each single-byte code in a range
//   control HH [HH ...] [chars N] [pixels N]
//                                    a control code (a name placeholder, a
//                                    colour), counted as N characters and N
//                                    pixels (0 when not given)
//   FORMAT [file PATTERN] [JP] [EN] [speaker] [numbered] LIMIT [LIMIT ...]
//                                    a rule: FORMAT is chat, script or scf;
//                                    PATTERN matches the game file's name
//                                    ('*' any run, '?' one character); the line
//                                    words pick the dump's lines (none: every
//                                    line); LIMIT is "chars N" (per line),
//                                    "lines N" (per box, or per page), "bytes N"
//                                    (the terminating zero included) or
//                                    "pixels N" (per line, needs "width N")
//
// The first rule that matches a text applies. A character is one code of the
// game's encoding: a Shift-JIS lead byte (81-9F, E0-FC) and the byte after it
// count once; a control code counts as it says; the break codes separate lines
// and count nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

enum class TextFormat : uint8_t { kChat, kScript, kScf };

// The dump's lines a rule can name: "[JP]" and "[EN]" lines (chat, quad and
// SCF lines), the speaker (a chat entry's line without prefix and the
// leading string, a script's "[SP]" line) and a script's numbered lines.
enum class TextLine : uint8_t { kJp, kEn, kSpeaker, kNumbered };
inline constexpr size_t kTextLineKinds = 4;

struct LimitRule {
  TextFormat format = TextFormat::kChat;
  std::string pattern;  // empty: every file
  uint8_t lines = 0;    // a bit (1 << TextLine) for each line named; 0: every line
  // The limits; 0 where none is set.
  uint32_t chars = 0;
  uint32_t lineCount = 0;
  uint32_t bytes = 0;
  uint32_t pixels = 0;
  size_t fileLine = 0;  // the rule's line in the limits file
};

struct ControlCode {
  Bytes bytes;
  uint32_t chars = 0;
  uint32_t pixels = 0;
};

struct TextLimits {
  Bytes lineBreak{0x0A};
  Bytes pageBreak;  // empty: no pages
  uint32_t defaultWidth = 0;
  // The width of every one-byte code (the default where none is listed), and
  // of the two-byte codes listed, by first << 8 | second; `listedLeads`
  // marks the first bytes of those, so that other codes need no lookup.
  std::array<uint32_t, 256> singleWidths{};
  std::array<bool, 256> listedLeads{};
  std::unordered_map<uint32_t, uint32_t> doubleWidths;
  std::vector<ControlCode> controls;
  std::vector<LimitRule> rules;
  // The bytes that may begin a break or a control code (the line break's
  // by default), so that the measurement tries those only there.
  std::array<bool, 256> specialBytes = [] {
    std::array<bool, 256> special{};
    special[0x0A] = true;
    return special;
  }();
};

// Parses the text of a limits file. False, with the line (from 1) and what is
// wrong in `errorLine` and `error`, on the first line that breaks the grammar.
// Silent.
bool ParseTextLimits(ByteSpan text, TextLimits& limits, size_t& errorLine, std::string& error);

// True when `name` matches `pattern`: '*' any run of characters, '?' one,
// ASCII letters without regard to case.
bool MatchFilePattern(std::string_view pattern, std::string_view name);

// The first rule for a text of `format` in the file named `fileName` (no
// directory) on a dump line of kind `line`; nullptr when none matches.
const LimitRule* FindLimitRule(const TextLimits& limits, TextFormat format, std::string_view fileName, TextLine line);

// One limit a text is over.
struct LimitExcess {
  enum class Kind : uint8_t { kChars, kPixels, kLines, kBytes };
  Kind kind = Kind::kChars;
  size_t where = 0;  // the line (chars, pixels) or page (lines) of the text, from 1; 0 for the whole text
  uint64_t measure = 0;
  uint32_t limit = 0;
};

// Measures `game`, a text's bytes as they go into the game file (without the
// terminating zero), against `rule`: every line over the characters or
// pixels, every page (or the text) over the lines, the text over the bytes,
// in that order.
std::vector<LimitExcess> MeasureText(const TextLimits& limits, const LimitRule& rule, ByteSpan game);

// "line 2 of the text is 35 characters, limit 32", "the text has 4 lines,
// limit 3", "page 2 of the text has 4 lines, limit 3", "the text is 70
// bytes, limit 64".
std::string DescribeExcess(const LimitExcess& excess);

}  // namespace fpskit
