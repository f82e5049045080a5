#include "codetable/codetable.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "codetable/lines.h"
#include "tools/text/code_table_files.h"
#include "util/paths.h"
#include "util/platform.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/recording_reporter.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace fpskit {
namespace {

using support::Row;
using support::ToBytes;
using support::ToString;

std::vector<std::string> Lines(const std::string& text) {
  const Bytes data = ToBytes(text);
  CrlfLineReader reader(data);
  std::vector<std::string> lines;
  ByteSpan line;
  while (reader.ReadCrlfLine(line)) lines.push_back(ToString(line));
  return lines;
}

TEST(CrlfLineReader, OnlyCrLfEndsALine) {
  EXPECT_EQ(Lines("ab\rc\ndef\r\n"), std::vector<std::string>{"ab\rc\ndef"});
  EXPECT_EQ(Lines("\r\n"), std::vector<std::string>{""});
  EXPECT_EQ(Lines("\r\n\r\nx\r\n"), (std::vector<std::string>{"", "", "x"}));
  EXPECT_EQ(Lines("a\r\r\nb"), (std::vector<std::string>{"a\r", "b"}));
}

TEST(CrlfLineReader, AMissingLastCrLfEndsTheLineAtTheEnd) {
  EXPECT_EQ(Lines("one\r\ntwo"), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(Lines("trailing cr\r"), std::vector<std::string>{"trailing cr\r"});
  EXPECT_TRUE(Lines("").empty());
}

TEST(ByteOrderMark, IsRecognisedAndRequested) {
  EXPECT_EQ(ByteOrderMarkLength(ToBytes("\xEF\xBB\xBFx")), 3u);
  EXPECT_EQ(ByteOrderMarkLength(ToBytes("\xEF\xBB")), 0u);
  EXPECT_TRUE(WantsByteOrderMark("utf8"));
  EXPECT_TRUE(WantsByteOrderMark("utf8-whatever"));
  EXPECT_FALSE(WantsByteOrderMark("UTF8"));
  EXPECT_FALSE(WantsByteOrderMark("utf"));
  EXPECT_FALSE(WantsByteOrderMark("0"));
}

struct Parsed {
  bool ok;
  CodeTable table;
  std::string printed;  // the message a tool prints for the failure
};

Parsed Parse(const std::string& text) {
  Parsed result;
  const CodeTableFailure failure = ParseCodeTable(ToBytes(text), "JPCODES.TXT", result.table);
  result.ok = failure.ok();
  if (!failure.ok()) result.printed = DescribeCodeTableFailure("JPCODES.TXT", failure);
  return result;
}

std::string Left(const CodeTableEntry& e) { return std::string(e.leftBytes.begin(), e.leftBytes.begin() + e.leftLength); }
std::string Right(const CodeTableEntry& e) { return std::string(e.rightBytes.begin(), e.rightBytes.begin() + e.rightLength); }

TEST(ParseCodeTable, ReadsTheRowGrammar) {
  const Parsed p = Parse(
      "\xEF\xBB\xBF"
      "41; 61\r\n"
      "41 42;  61 62 63\r\n"
      "0a;\t0B\r\n"
      "81 40; 20;any comment; with more\r\n"
      "0A;\t5C 6E;note\r\n");
  ASSERT_TRUE(p.ok) << p.printed;
  EXPECT_TRUE(p.printed.empty());
  ASSERT_EQ(p.table.entries.size(), 5u);
  EXPECT_EQ(Left(p.table.entries[0]), "A");
  EXPECT_EQ(Right(p.table.entries[0]), "a");
  EXPECT_EQ(Left(p.table.entries[1]), "AB");
  EXPECT_EQ(Right(p.table.entries[1]), "abc");
  EXPECT_EQ(Left(p.table.entries[2]), "\x0A");
  EXPECT_EQ(Right(p.table.entries[2]), "\x0B");
  EXPECT_EQ(Left(p.table.entries[3]), "\x81\x40");
  EXPECT_EQ(Right(p.table.entries[3]), " ");
  EXPECT_EQ(Right(p.table.entries[4]), "\\n");
}

TEST(ParseCodeTable, SkipsBlankLinesAndTrailingBlanksAndToleratesAMissingLastCrLf) {
  const Parsed p = Parse("\r\n41; 61 \r\n\r\n42; 62\t \r\n43; 63;note \r\n44 45;\t46");
  ASSERT_TRUE(p.ok) << p.printed;
  ASSERT_EQ(p.table.entries.size(), 4u);
  EXPECT_EQ(Right(p.table.entries[0]), "a");
  EXPECT_EQ(Right(p.table.entries[1]), "b");
  EXPECT_EQ(Right(p.table.entries[3]), "F");
  EXPECT_EQ(p.table.name, "JPCODES.TXT");
  EXPECT_TRUE(Parse("").ok);
  EXPECT_TRUE(Parse("\xEF\xBB\xBF").ok);
}

TEST(ParseCodeTable, LoadsColumnsOfExactlyOneHundredBytes) {
  std::string column;
  for (int i = 0; i < 100; ++i) column += (i ? " " : "") + std::string("7E");
  const Parsed p = Parse(column + "; " + column + "\r\n");
  ASSERT_TRUE(p.ok) << p.printed;
  EXPECT_EQ(p.table.entries[0].leftLength, 100);
  EXPECT_EQ(p.table.entries[0].rightLength, 100);
  const Parsed tooLong = Parse("41; " + column + " 7E\r\n");
  EXPECT_FALSE(tooLong.ok);
  EXPECT_EQ(tooLong.printed, "\nERROR: JPCODES.TXT line 1: more than 100 bytes in a column");
}

TEST(ParseCodeTable, ReportsBrokenLinesWithTheirNumber) {
  const std::pair<std::string, std::string> cases[] = {
      {"41 61", "line 2: expected ';' after the left column"},
      {"41;61", "line 2: expected a space or tab after ';'"},
      {"41 ; 61", "line 2: expected two hexadecimal digits"},
      {"4; 61", "line 2: expected two hexadecimal digits"},
      {"4G; 61", "line 2: expected two hexadecimal digits"},
      {"41;  ", "line 2: missing right column"},
      {"41; 61 62 ;", "line 2: expected two hexadecimal digits"},
      {"41; 612", "line 2: expected ';' or the end of the line after the right column"},
      {"41;\t61  ; x", "line 2: expected two hexadecimal digits"},
  };
  for (const auto& [line, message] : cases) {
    const Parsed p = Parse("20; 20\r\n" + line + "\r\n");
    EXPECT_FALSE(p.ok) << line;
    EXPECT_EQ(p.printed, "\nERROR: JPCODES.TXT " + message) << line;
  }
  // Saved by an editor in another form: the whole file is refused, with the cause.
  EXPECT_EQ(Parse("\xFF\xFE" "4\0" "1\0" ";\0").printed, "\nERROR: JPCODES.TXT is saved as UTF-16; save it as UTF-8");
  EXPECT_EQ(Parse("41; 61\n42; 62\n").printed, "\nERROR: JPCODES.TXT: its lines end in LF alone; code tables use CR LF");
}

TEST(SelectCodeTable, FallsBackOnlyForAMissingFileAndSaysSo) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  CodeTable table;
  std::optional<support::RecordingReporter> console;
  console.emplace();
  // A game file in the current directory: the program's directory is searched too.
  EXPECT_TRUE(SelectCodeTable(kGameCodesFile, "chat.bin", table));
  EXPECT_EQ(console->notices(),
            "NOTE: no JPCODES.TXT in " + platform::CurrentDirectory() + " or " +
                platform::DirectoryPartOf(platform::ExecutablePath()) +
                "; the built-in table is used, which converts no byte\n");
  EXPECT_EQ(console->output(), "");
  EXPECT_EQ(table.entries.size(), 2u);
  EXPECT_EQ(table.name, "");

  ASSERT_TRUE(support::WriteTestFile(kGameCodesFile, std::string("41; 61\r\n")));
  console.emplace();
  ASSERT_TRUE(SelectCodeTable(kGameCodesFile, "chat.bin", table));
  EXPECT_EQ(console->notices(), "");
  ASSERT_EQ(table.entries.size(), 1u);

  // A table that exists but cannot be read, or breaks the grammar, stops the tool.
  ASSERT_TRUE(support::WriteTestFile(kTranslatorCodesFile, std::string("41; 61\r\nzz\r\n")));
  console.emplace();
  EXPECT_FALSE(SelectCodeTable(kTranslatorCodesFile, "chat.bin", table));
  EXPECT_EQ(console->output(), "\nERROR: CODES.TXT line 2: expected two hexadecimal digits");
  std::filesystem::remove(kTranslatorCodesFile);
  std::filesystem::create_directory(kTranslatorCodesFile);
  console.emplace();
  EXPECT_FALSE(SelectCodeTable(kTranslatorCodesFile, "chat.bin", table));
  EXPECT_EQ(console->output(), "\nERROR: can't read the code table CODES.TXT: Is a directory");
#ifndef _WIN32  // Windows has no permission bits that stop the owner reading
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(kGameCodesFile, 0), 0);
    console.emplace();
    EXPECT_FALSE(SelectCodeTable(kGameCodesFile, "chat.bin", table));
    EXPECT_EQ(console->output(), "\nERROR: can't read the code table JPCODES.TXT: Permission denied");
  }
#endif
}

// Run from another folder (a shortcut, a file dropped onto the program), the
// table beside the game file is used, then the one beside the program; the
// current directory's always wins, and a note names any other one used.
TEST(SelectCodeTable, LooksBesideTheGameFileThenBesideTheProgram) {
  support::TempDir dir;
  for (const char* sub : {"work", "game", "program"}) std::filesystem::create_directory(dir / sub);
  // The real program, copied where no test's table lies beside it.
  std::string binary = FPSKIT_BINARY;
  if (DirectoryOf(binary).empty()) binary = platform::DirectoryPartOf(platform::ExecutablePath()) + binary;
  const std::string program = dir / ("program/" + FileNameOf(binary));
  std::filesystem::copy_file(binary, program);
  support::ChtxBuilder chat;
  chat.String("A");
  ASSERT_TRUE(support::WriteTestFile(dir / "game/chat.bin", chat.Build()));
  // Each place maps "A" to its own letter.
  ASSERT_TRUE(support::WriteTestFile(dir / "game/JPCODES.TXT", std::string("41; 67\r\n")));
  ASSERT_TRUE(support::WriteTestFile(dir / "program/JPCODES.TXT", std::string("41; 70\r\n")));
  const auto dumpOf = [&](const std::string& note) {
    std::filesystem::remove(dir / "game/chat.txt");
    const support::ToolRun run = support::RunTool(program, {"uncht", "../game/chat.bin"}, dir / "work");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("NOTE: "), note.empty() ? std::string::npos : run.output.find(note)) << run.output;
    const Bytes dump = support::ReadTestFile(dir / "game/chat.txt");
    return std::string(dump.begin(), dump.end());
  };
  EXPECT_EQ(dumpOf("NOTE: no JPCODES.TXT in the current directory; ../game/JPCODES.TXT is used\n"), "g\r\n");
  std::filesystem::remove(dir / "game/JPCODES.TXT");
  // Named as the system gives the program's path (with '\\' on Windows).
  EXPECT_EQ(dumpOf("NOTE: no JPCODES.TXT in the current directory; " + dir.path()), "p\r\n");
  ASSERT_TRUE(support::WriteTestFile(dir / "game/JPCODES.TXT", std::string("41; 67\r\n")));
  ASSERT_TRUE(support::WriteTestFile(dir / "work/JPCODES.TXT", std::string("41; 77\r\n")));
  EXPECT_EQ(dumpOf(""), "w\r\n");
}

std::string Convert(const std::string& content, const std::vector<CodeTableEntry>& rows, bool swap = false) {
  return ToString(ConvertSequences(ToBytes(content), swap, MakeCodeTable(rows)));
}

TEST(ConvertSequences, TheFirstMatchingRowWinsNotTheLongest) {
  EXPECT_EQ(Convert("AB", {Row("A", "a"), Row("AB", "b")}), "aB");
  EXPECT_EQ(Convert("AB", {Row("AB", "b"), Row("A", "a")}), "b");
  // A one-byte row hides every later row starting with its byte, but not the
  // earlier ones.
  EXPECT_EQ(Convert("ABC", {Row("ABC", "1"), Row("A", "2"), Row("AB", "3")}), "1");
  EXPECT_EQ(Convert("ABD", {Row("ABC", "1"), Row("A", "2"), Row("AB", "3")}), "2BD");
  // Rows sharing their first two bytes are tried in table order.
  EXPECT_EQ(Convert("ABCD", {Row("ABX", "1"), Row("ABCD", "2"), Row("ABC", "3")}), "2");
  EXPECT_EQ(Convert("ABCE", {Row("ABX", "1"), Row("ABCD", "2"), Row("ABC", "3")}), "3E");
}

TEST(ConvertSequences, ASourceLongerThanWhatRemainsIsNotMatched) {
  EXPECT_EQ(Convert("xAB", {Row("ABC", "1"), Row("B", "2")}), "xA2");
  EXPECT_EQ(Convert("A", {Row("AB", "1"), Row("A", "2")}), "2");
}

TEST(ConvertSequences, VerbatimMarkersSwitchConversionOffAndOn) {
  const std::vector<CodeTableEntry> rows = {Row("A", "x"), Row("C", "z")};
  EXPECT_EQ(Convert("A<||>A<||>C", rows), "xAz");
  EXPECT_EQ(Convert("A<||>AC", rows), "xAC");
  EXPECT_EQ(Convert("AC<||>", rows), "xz");
  EXPECT_EQ(Convert("AC<||", rows), "xz<||");
  EXPECT_EQ(Convert("<||><||>", rows), "");
  // Each call starts converting again.
  const CodeTable table = MakeCodeTable(rows);
  EXPECT_EQ(ToString(ConvertSequences(ToBytes("<||>A"), false, table)), "A");
  EXPECT_EQ(ToString(ConvertSequences(ToBytes("A"), false, table)), "x");
}

TEST(ConvertSequences, AMarkerInsideAMatchedSequenceIsNotSeen) {
  EXPECT_EQ(Convert("X<||>A", {Row("X<", "1"), Row("A", "a")}), "1||>a");
  // A row may itself convert to or from the marker's bytes.
  EXPECT_EQ(Convert("<||>", {Row("<||>", "m")}), "");
}

TEST(ConvertSequences, SwapMatchesTheRightColumn) {
  EXPECT_EQ(Convert(" ", {Row("\x81\x40", " ")}, true), "\x81\x40");
  EXPECT_EQ(Convert("\x81\x40", {Row("\x81\x40", " ")}, true), "\x81\x40");
  EXPECT_EQ(Convert("ab", {Row("1", "a"), Row("2", "ab")}, true), "1b");
}

TEST(ConvertSequences, TheBuiltInTableOnlyRemovesMarkers) {
  const std::string every = [] {
    std::string s;
    for (int c = 0; c < 256; ++c) s += char(c);
    return s;
  }();
  const CodeTable& table = BuiltInCodeTable();
  EXPECT_EQ(ToString(ConvertSequences(ToBytes(every), false, table)), every);
  EXPECT_EQ(ToString(ConvertSequences(ToBytes(every), true, table)), every);
  EXPECT_EQ(ToString(ConvertSequences(ToBytes("a<||>b"), false, table)), "ab");
  EXPECT_TRUE(ConvertSequences({}, false, table).empty());
}

// The index must give the same answer as trying every row in order.
TEST(ConvertSequences, AgreesWithAPlainScanOfTheRows) {
  support::Random random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<CodeTableEntry> rows;
    const int rowCount = 1 + int(random.Below(30));
    auto randomText = [&](size_t length) {
      std::string s;
      for (size_t i = 0; i < length; ++i) s += char("AB<|>"[random.Below(5)]);
      return s;
    };
    for (int i = 0; i < rowCount; ++i) rows.push_back(Row(randomText(1 + random.Below(5)), randomText(random.Below(5) + 1)));
    const std::string content = randomText(random.Below(40));
    for (bool swap : {false, true}) {
      std::string expected;
      bool converting = true;
      for (size_t p = 0; p < content.size();) {
        if (content.size() - p >= 4 && content.compare(p, 4, "<||>") == 0) {
          converting = !converting;
          p += 4;
          continue;
        }
        bool matched = false;
        for (const CodeTableEntry& row : rows) {
          const std::string source = swap ? Right(row) : Left(row);
          if (converting && content.compare(p, source.size(), source) == 0 && source.size() <= content.size() - p) {
            expected += swap ? Left(row) : Right(row);
            p += source.size();
            matched = true;
            break;
          }
        }
        if (!matched) expected += content[p++];
      }
      EXPECT_EQ(Convert(content, rows, swap), expected) << content;
    }
  }
}

TEST(ConvertSequences, ShiftJisTableRoundTrips) {
  const std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  ASSERT_GT(rows.size(), 6000u);
  const CodeTable table = MakeCodeTable(rows);
  const Bytes text = support::ShiftJisText(4096, 3, rows);
  const Bytes utf8 = ConvertSequences(text, false, table);
  EXPECT_EQ(ConvertSequences(utf8, true, table), text);
  EXPECT_EQ(ToString(ConvertSequences(ToBytes("\x82\xA0"), false, table)), "\xE3\x81\x82");
}

}  // namespace
}  // namespace fpskit
