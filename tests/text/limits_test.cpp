#include "text/limits.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/recording_reporter.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"
#include "text/chtx/chtx.h"
#include "text/scf/scf.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/text_tool.h"

namespace fpskit {
namespace {

using support::ToBytes;

TextLimits ParseLimits(const std::string& text) {
  TextLimits limits;
  size_t line = 0;
  std::string error;
  EXPECT_TRUE(ParseTextLimits(ToBytes(text), limits, line, error)) << "line " << line << ": " << error;
  return limits;
}

struct MeasureCase {
  const char* limits;  // the limits file; its last line is the rule measured
  std::string game;    // the text's game bytes
  std::vector<std::string> excesses;
};

void ExpectMeasures(const std::vector<MeasureCase>& cases) {
  for (const MeasureCase& c : cases) {
    const TextLimits limits = ParseLimits(c.limits);
    ASSERT_FALSE(limits.rules.empty()) << c.limits;
    std::vector<std::string> described;
    for (const LimitExcess& excess : MeasureText(limits, limits.rules.back(), ToBytes(c.game))) {
      described.push_back(DescribeExcess(excess));
    }
    EXPECT_EQ(described, c.excesses) << c.limits << " / " << c.game;
  }
}

TEST(TextLimits, CountsCharactersAsCodesOfTheGamesEncoding) {
  ExpectMeasures({
      {"chat chars 3", "\x82\xA0\x82\xA2\x82\xA4", {}},  // three double-byte codes
      {"chat chars 3", "\x82\xA0\x82\xA2\x82\xA4\x82\xA6", {"line 1 of the text is 4 characters, limit 3"}},
      {"chat chars 3", "\xE0\x40" "ab", {}},                      // a lead byte from the upper range
      {"chat chars 3", "\xB1\xB2\xB3\xB4", {"line 1 of the text is 4 characters, limit 3"}},  // half-width kana: one byte each
      {"chat chars 3", "ab\x82", {}},                             // a lead byte at the end counts once
      {"chat chars 3", "abcd\n\x82\xA0\nabcde",
       {"line 1 of the text is 4 characters, limit 3", "line 3 of the text is 5 characters, limit 3"}},
      {"linebreak FF 01\r\nchat chars 3", "abc\xFF\x01" "abc\n", {"line 2 of the text is 4 characters, limit 3"}},
  });
}

TEST(TextLimits, CountsLinesPerBoxOrPerPage) {
  ExpectMeasures({
      {"chat lines 2", "a\nb", {}},
      {"chat lines 2", "a\nb\n", {"the text has 3 lines, limit 2"}},  // a break at the end opens a line
      {"chat lines 2", "", {}},
      {"pagebreak 0C\r\nchat lines 2", "a\nb\x0C" "c\nd\ne\x0C" "f", {"page 2 of the text has 3 lines, limit 2"}},
      {"pagebreak 0C\r\nchat chars 1", "a\x0C" "bc", {"line 2 of the text is 2 characters, limit 1"}},
  });
}

TEST(TextLimits, CountsBytesWithTheTerminatingZero) {
  ExpectMeasures({
      {"scf bytes 4", "abc", {}},
      {"scf bytes 4", "abcd", {"the text is 5 bytes, limit 4"}},
      {"scf bytes 4", "\x82\xA0\x82\xA2", {"the text is 5 bytes, limit 4"}},
  });
}

TEST(TextLimits, MeasuresPixelsThroughTheWidthTable) {
  const char* widths = "width 10\r\nwidth 20-7E 6\r\nwidth 81 40 4\r\nwidth 41 8\r\nscript pixels 20";
  ExpectMeasures({
      {widths, "abc", {}},
      {widths, "abcd", {"line 1 of the text is 24 pixels, limit 20"}},
      {widths, "\x82\xA0\x82\xA0", {}},                 // the default width, once per double-byte code
      {widths, "\x82\xA0\x82\xA0" "a", {"line 1 of the text is 26 pixels, limit 20"}},
      {widths, "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40", {}},  // a listed double-byte code
      {widths, "\x81\x41\x81\x41\x81\x40", {"line 1 of the text is 24 pixels, limit 20"}},  // its neighbours are not
      {widths, "AAA", {"line 1 of the text is 24 pixels, limit 20"}},  // a later line overrides the range
      {widths, "abcd\nab", {"line 1 of the text is 24 pixels, limit 20"}},
  });
}

TEST(TextLimits, CountsNamedControlCodesAsTheySay) {
  const char* controls = "control 1B 4E chars 8 pixels 60\r\ncontrol 1B 43 02\r\nwidth 6\r\nchat chars 10 pixels 80";
  ExpectMeasures({
      {controls, "Hi \x1B\x4E!",
       {"line 1 of the text is 12 characters, limit 10", "line 1 of the text is 84 pixels, limit 80"}},
      {controls, "\x1B\x43\x02" "abcdefgh\x1B\x43\x02", {}},  // a colour code counts nothing
      {controls, "\x1B\x4E\n\x1B\x4E", {}},
  });
}

TEST(TextLimits, PicksTheFirstRuleThatMatchesFormatFileAndLine) {
  const TextLimits limits = ParseLimits(
      "\xEF\xBB\xBF; the team's limits\r\n"
      "CHAT file menu_*.chtx  EN  chars 10   ; menus are narrow\r\n"
      "\r\n"
      "chat en speaker chars 20\r\n"
      "chat chars 30\r\n"
      "script file scene?_0*.dec numbered bytes 5");
  auto lineOf = [&](TextFormat format, std::string_view name, TextLine line) {
    const LimitRule* rule = FindLimitRule(limits, format, name, line);
    return rule == nullptr ? size_t(0) : rule->fileLine;
  };
  EXPECT_EQ(lineOf(TextFormat::kChat, "MENU_01.chtx", TextLine::kEn), 2u);
  EXPECT_EQ(lineOf(TextFormat::kChat, "talk.chtx", TextLine::kEn), 4u);
  EXPECT_EQ(lineOf(TextFormat::kChat, "menu_01.chtx", TextLine::kSpeaker), 4u);
  EXPECT_EQ(lineOf(TextFormat::kChat, "menu_01.chtx", TextLine::kJp), 5u);
  EXPECT_EQ(lineOf(TextFormat::kScript, "scene1_0003.dec", TextLine::kNumbered), 6u);
  EXPECT_EQ(lineOf(TextFormat::kScript, "scene12_0003.dec", TextLine::kNumbered), 0u);
  EXPECT_EQ(lineOf(TextFormat::kScript, "scene1_0003.dec", TextLine::kJp), 0u);
  EXPECT_EQ(lineOf(TextFormat::kScf, "menu_01.chtx", TextLine::kEn), 0u);
  EXPECT_TRUE(MatchFilePattern("*a*b", "xxaxxab"));
  EXPECT_FALSE(MatchFilePattern("*a*b", "xxaxxabc"));
}

TEST(TextLimits, NamesTheLineThatBreaksTheGrammar) {
  struct Case {
    const char* text;
    size_t line;
    const char* error;
  };
  const Case cases[] = {
      {"chat chars 32\r\nchat chars\r\n", 2, "expected a limit of at least 1"},
      {"chat chars 0", 1, "expected a limit of at least 1"},
      {"chat chars 3 chars 4", 1, "the same limit twice"},
      {"width 6\r\n\r\n; a note\r\nscf numbered chars 3", 4, "no such lines"},
      {"chat speaker", 1, "needs at least one limit"},
      {"chat file", 1, "expected a file name pattern"},
      {"chat wide 3", 1, "expected \"file\", a line"},
      {"chat chars 3\r\nchat pixels 100\r\nwidth 41 6", 2, "add a line \"width N\""},
      {"linebreak 0A\r\nlinebreak 0D 0A", 2, "a second \"linebreak\""},
      {"linebreak 0a\r\nchat lines 3\r\npagebreak 0A", 3, "the same code as the line break"},
      {"linebreak", 1, "expected the code's bytes"},
      {"pagebreak 0C x", 1, "expected the code's bytes"},
      {"width 8G 6", 1, "expected one code"},
      {"width 41 42 43 6", 1, "expected one code"},
      {"width 7E-20 6", 1, "expected one code"},
      {"width 6\r\nwidth 8", 2, "a second default width"},
      {"width", 1, "expected the width in pixels"},
      {"width 41 six", 1, "expected the width in pixels"},
      {"control chars 8", 1, "expected the control code's bytes"},
      {"control 1B 4E width 5", 1, "\"chars N\" or \"pixels N\""},
      {"control 1B 4E chars", 1, "expected a decimal number"},
      {"chats chars 3", 1, "a line begins with linebreak"},
  };
  for (const Case& c : cases) {
    TextLimits limits;
    size_t line = 0;
    std::string error;
    EXPECT_FALSE(ParseTextLimits(ToBytes(c.text), limits, line, error)) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " -> " << error;
  }
}

// The insertion tools measure each text on its own dump line, by the line's
// kind, and still write it.
TEST(TextLimits, InsertionWarnsForEveryTextOverItsLimitAndWritesIt) {
  support::TempDir dir;
  support::TssScript script;
  script.strings = {"first", "second"};
  script.references = {0, 1};
  script.quads = {{"jp one", "jp", "en one", "en two"}};
  script.sp = "sp text";
  ASSERT_TRUE(support::WriteTestFile(dir / "s.tss", support::MakeTssFile(script).bytes));
  ASSERT_TRUE(support::WriteTestFile(dir / "LIMITS.TXT", "script speaker chars 6\r\nscript numbered bytes 6\r\n"
                                                         "script JP chars 5\r\nscript EN lines 1\r\n"));
  const std::string binary = FPSKIT_BINARY;
  ASSERT_EQ(support::RunTool(binary, {"untss", "s.tss"}, dir.path()).status, 0);
  // The dump: fingerprint line, an empty line, four quad lines (3 to 6), an
  // empty line, "[END]", an empty line, "[SP]" (line 10), an empty line,
  // the numbered lines (12, 13).
  const Bytes before = support::ReadTestFile(dir / "s.tss");
  const support::ToolRun run = support::RunTool(binary, {"tss", "s.tss"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(support::ReadTestFile(dir / "s.tss"), before);
  // After the code tables' notes, the three texts over a limit and no other.
  const std::string warnings = run.output.substr(run.output.find("WARNING"));
  EXPECT_EQ(warnings,
            "WARNING: s.txt line 3: line 1 of the text is 6 characters, limit 5\n"
            "WARNING: s.txt line 10: line 1 of the text is 7 characters, limit 6\n"
            "WARNING: s.txt line 13: the text is 7 bytes, limit 6\n"
            "\n");

  // A chat file: the speaker, [JP] and [EN] lines; a SCF dump's JP and EN lines.
  ChtxFile chtx;
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("Speaker", "jp text", "en text that is long");
  const Bytes chatFile = chat.Build();
  ASSERT_TRUE(ParseChtx(chatFile, chtx).ok());
  InsertionInputs inputs{BuiltInCodeTable(), BuiltInCodeTable(), "c.txt",
                         ToBytes("lead\r\n\r\nSpeaker\r\n[JP]: jp text\r\n[EN]: en text that is long\r\n")};
  inputs.limits = ParseLimits("chat EN chars 10\r\nchat speaker bytes 6\r\n");
  TextLimitCheck chatLimits(inputs.limits, TextFormat::kChat, "dir/c.chtx", "c.txt");
  Bytes rebuilt;
  ASSERT_TRUE(RebuildChtx(chtx, inputs, ChtxInsertion{false, false, &chatLimits}, rebuilt));
  std::optional<support::RecordingReporter> console;
  console.emplace();
  EXPECT_EQ(ReportTextLimits(chatLimits), 2u);
  EXPECT_EQ(console->notices(),
            "WARNING: c.txt line 3: the text is 8 bytes, limit 6\n"
            "WARNING: c.txt line 5: line 1 of the text is 20 characters, limit 10\n");

  inputs.dump = ToBytes("[00001A90_JP]: abc\r\n[00001A90_JP]: abcd\r\n[00001A90_EN]: ab\r\n[00001A90_EN]: abcd\r\n");
  inputs.limits = ParseLimits("scf file *.scf JP chars 3\r\nscf EN bytes 4\r\n");
  TextLimitCheck scfLimits(inputs.limits, TextFormat::kScf, "menu.scf", "d.txt");
  ASSERT_TRUE(ParseScfDump(inputs, true, {0x1A90}, &scfLimits).ok());
  console.emplace();
  EXPECT_EQ(ReportTextLimits(scfLimits), 2u);
  EXPECT_EQ(console->notices(),
            "WARNING: d.txt line 2: line 1 of the text is 4 characters, limit 3\n"
            "WARNING: d.txt line 4: the text is 5 bytes, limit 4\n");
}

// "check" says by its exit status what it found: 0 nothing, 3 texts over a
// limit, 1 a dump that could not be written back (whatever the limits).
// "insert" writes texts over a limit and warns.
TEST(TextLimits, CheckExitStatusTellsTextsOverALimitFromFailures) {
  support::TempDir dir;
  const std::string binary = FPSKIT_BINARY;
  std::filesystem::create_directories(dir / "t");
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("Speaker", "jp text", "a rather long line");
  ASSERT_TRUE(support::WriteTestFile(dir / "t/talk.bin", chat.Build()));
  auto run = [&](const char* word) { return support::RunTool(binary, {word, "t"}, dir.path()); };
  ASSERT_EQ(run("dump").status, 0);

  EXPECT_EQ(run("check").status, 0);
  ASSERT_TRUE(support::WriteTestFile(dir / "LIMITS.TXT", "chat EN chars 10\r\n"));
  const support::ToolRun over = run("check");
  EXPECT_EQ(over.status, 3) << over.output;
  EXPECT_NE(over.output.find("WARNING: t/talk.txt line 5: line 1 of the text is 18 characters, limit 10"),
            std::string::npos)
      << over.output;

  ASSERT_TRUE(support::WriteTestFile(dir / "t/talk.txt", "lead\r\n\r\nSpeaker\r\n[JP]: jp text\r\n"
                                                         "[EN]: a rather long line, longer\r\n"));
  const support::ToolRun inserted = run("insert");
  EXPECT_EQ(inserted.status, 0) << inserted.output;
  EXPECT_NE(inserted.output.find("line 1 of the text is 26 characters, limit 10"), std::string::npos);
  EXPECT_NE(support::ToString(support::ReadTestFile(dir / "t/talk.bin")).find("longer"), std::string::npos);

  ASSERT_TRUE(support::WriteTestFile(dir / "t/talk.txt", "lead\r\n\r\nSpeaker\r\n[JP]: jp text\r\n"));
  EXPECT_EQ(run("check").status, 1);
  ASSERT_TRUE(support::WriteTestFile(dir / "LIMITS.TXT", "chat EN chars\r\n"));
  const support::ToolRun badLimits = run("check");
  EXPECT_EQ(badLimits.status, 1);
  EXPECT_NE(badLimits.output.find("ERROR: LIMITS.TXT line 1: expected a limit"), std::string::npos)
      << badLimits.output;
}

// "dump2po" gives an entry whose translation has a limit of characters or
// bytes the flag translation platforms read, and the limit in a comment.
TEST(TextLimits, CatalogEntriesCarryTheirLimit) {
  support::TempDir dir;
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("Speaker", "jp one", "en one");
  chat.Entry("Speaker", "jp two", "");
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.bin", chat.Build()));
  ASSERT_TRUE(support::WriteTestFile(dir / "LIMITS.TXT", "chat file other* EN bytes 5\r\nchat EN chars 20 lines 2 bytes 40\r\n"));
  const std::string binary = FPSKIT_BINARY;
  ASSERT_EQ(support::RunTool(binary, {"uncht", "talk.bin"}, dir.path()).status, 0);
  const support::ToolRun made = support::RunTool(binary, {"dump2po", "talk.bin"}, dir.path());
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string catalog = support::ToString(support::ReadTestFile(dir / "talk.po"));
  const std::string limit =
      "#. max-length 39: 20 characters a line, 2 lines, 40 bytes with the terminating zero (LIMITS.TXT line 2)\n";
  // 20 a line, 2 lines and the line feed between them: 41; 40 bytes hold 39.
  for (const char* entry : {"msgctxt \"entry 0\"", "msgctxt \"entry 1\""}) {
    const size_t at = catalog.find(entry);
    ASSERT_NE(at, std::string::npos) << catalog;
    const std::string head = catalog.substr(catalog.rfind("\n\n", at), at - catalog.rfind("\n\n", at));
    EXPECT_NE(head.find(limit), std::string::npos) << head;
    EXPECT_NE(head.find("#, max-length:39\n"), std::string::npos) << head;
  }
}

}  // namespace
}  // namespace fpskit
