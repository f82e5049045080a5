#include "text/chtx/chtx.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "cli/modes.h"
#include "codetable/lines.h"
#include "tools/text/chtx_tool.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/recording_reporter.h"
#include "support/temp_dir.h"
#include "util/platform.h"

namespace fpskit {
namespace {

using namespace std::string_literals;
using support::ChtxBuilder;
using support::ToBytes;
using support::ToString;

ChtxFile Parse(const Bytes& file) {
  ChtxFile chtx;
  EXPECT_TRUE(ParseChtx(file, chtx).ok());
  return chtx;
}

std::string Dump(const Bytes& file, const CodeTable& codes = BuiltInCodeTable()) {
  return ToString(BuildChtxDump(Parse(file), codes, false).text);
}

struct Rebuilt {
  bool ok = false;
  Bytes file;
  std::string console;
  std::string warnings;  // standard error
};

Rebuilt Rebuild(const Bytes& file, const std::string& dump, bool share, bool swap,
                const CodeTable& gameCodes = BuiltInCodeTable(),
                const CodeTable& translatorCodes = BuiltInCodeTable()) {
  const ChtxFile chtx = Parse(file);
  InsertionInputs inputs{gameCodes, translatorCodes, "chat.txt", ToBytes(dump)};
  Rebuilt result;
  support::RecordingReporter recording;
  result.ok = RebuildChtx(chtx, inputs, ChtxInsertion{share, swap}, result.file);
  result.warnings = recording.notices();
  result.console = recording.output();
  return result;
}

// lead; entry 0 = three strings of its own; entry 1 shares entry 0's plain
// string in all three places.
Bytes SharedChat() {
  ChtxBuilder chat;
  chat.String("lead");
  const uint32_t hello = chat.String("hello");
  const uint32_t jp = chat.String("jp0");
  chat.Entry(hello, jp, chat.String("en0"), 7);
  chat.Entry(hello, hello, hello, 8);
  return chat.Build();
}

TEST(ChtxDump, ListsEveryRecordWithPrefixesAndEmptyLinesBetweenEntries) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a1", "j1", "e1").Entry("a2", "j2", "e2");
  EXPECT_EQ(Dump(chat.Build()),
            "lead\r\n\r\na1\r\n[JP]: j1\r\n[EN]: e1\r\n\r\na2\r\n[JP]: j2\r\n[EN]: e2\r\n");

  ChtxBuilder empty;
  empty.String("only");
  EXPECT_EQ(Dump(empty.Build()), "only\r\n");
}

TEST(ChtxDump, SharedStringsAreDumpedAtEveryRecordThatPointsAtThem) {
  ChtxBuilder chat;
  chat.String("lead");
  const uint32_t shared = chat.String("same");
  chat.Entry(shared, shared, shared).Entry(0, shared, 0);
  const ChtxFile chtx = Parse(chat.Build());
  const int32_t expectedFirst[] = {-1, -1, 1, 1, 0, 1, 0};
  for (size_t m = 0; m < chtx.records.size(); ++m) EXPECT_EQ(chtx.records[m].firstIndex, expectedFirst[m]) << m;
  EXPECT_EQ(Dump(chat.Build()), "lead\r\n\r\nsame\r\n[JP]: same\r\n[EN]: same\r\n\r\nlead\r\n[JP]: same\r\n[EN]: lead\r\n");
}

TEST(ChtxDump, StringsRunToTheNextDistinctOffsetPaddingIncluded) {
  // Entries point backwards and forwards; the last string runs to fileSize.
  ChtxBuilder chat;
  chat.String("L");
  const uint32_t ab = chat.String("ab");
  chat.Padding(3);
  const uint32_t cd = chat.String("cd");
  chat.Padding(2, 'x');
  chat.Entry(cd, ab, cd);
  const ChtxFile chtx = Parse(chat.Build());
  EXPECT_EQ(chtx.records[1].length, 5);
  EXPECT_EQ(chtx.records[2].length, 6);
  // Zero bytes of padding stay out of the line; other bytes after the last
  // zero are no text.
  EXPECT_EQ(Dump(chat.Build()), "L\r\n\r\ncd\r\n[JP]: ab\r\n[EN]: cd\r\n"s);
}

TEST(ChtxDump, ZeroBytesComeBackByteForByteWithoutStandingInTheDump) {
  // A file padded with zeros after its last string.
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "b", "c").Padding(14);
  const Bytes file = chat.Build();
  const std::string dump = Dump(file);
  EXPECT_EQ(dump, "lead\r\n\r\na\r\n[JP]: b\r\n[EN]: c\r\n");
  EXPECT_EQ(Rebuild(file, dump, true, false).file, file);

  // Zeros followed by other bytes could only come back from the line itself:
  // they stay in it, and the dump names the lines.
  ChtxBuilder odd;
  odd.String("lead");
  const uint32_t x = odd.String("x");
  odd.Padding(1).Padding(1, 'y').Padding(1);
  odd.Entry(x, 0, 0);
  const ChtxDump oddDump = BuildChtxDump(Parse(odd.Build()), BuiltInCodeTable(), false);
  EXPECT_EQ(ToString(oddDump.text), "lead\r\n\r\nx\0\0y\r\n[JP]: lead\r\n[EN]: lead\r\n"s);
  ASSERT_EQ(oddDump.zeroRecords.size(), 1u);
  EXPECT_EQ(oddDump.zeroRecords[0].line, 3u);
  EXPECT_EQ(Rebuild(odd.Build(), ToString(oddDump.text), true, false).file, odd.Build());
}

TEST(ChtxDump, EveryTextSurvivesARoundTripOfTheUnchangedDump) {
  // Entry 0's [JP] string is the tail of its plain string, and the area ends
  // without a zero: neither span ends in one.
  ChtxBuilder chat;
  chat.String("Lead");
  const uint32_t plain = chat.String("Hello there");
  chat.Entry(plain, plain + 6, plain);
  Bytes file = chat.Build();
  file.back() = '!';
  const std::string dump = Dump(file);
  EXPECT_EQ(dump, "Lead\r\n\r\nHello there!\r\n[JP]: there!\r\n[EN]: Hello there!\r\n");
  // The unedited dump writes the same texts back.
  const Rebuilt rebuilt = Rebuild(file, dump, false, false);
  ASSERT_TRUE(rebuilt.ok) << rebuilt.console;
  EXPECT_EQ(Dump(rebuilt.file), dump);

  // A leading string that begins with the bytes of the byte order mark gets
  // a mark before it, which insertion skips instead of the string's bytes.
  ChtxBuilder marked;
  marked.String("\xEF\xBB\xBFlead");
  const std::string markedDump = Dump(marked.Build());
  EXPECT_EQ(markedDump, "\xEF\xBB\xBF\xEF\xBB\xBFlead\r\n");
  EXPECT_EQ(Rebuild(marked.Build(), markedDump, false, false).file, marked.Build());
}

TEST(ChtxDump, ConvertsThroughTheTableAndReportsSplitLines) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("A<||>A<||>A", "one\x01two", "");
  const CodeTable codes = MakeCodeTable({support::Row("A", "alpha"), support::Row("\x01", "\r\n")});
  const ChtxDump dump = BuildChtxDump(Parse(chat.Build()), codes, true);
  EXPECT_EQ(ToString(dump.text), "\xEF\xBB\xBFlead\r\n\r\nalphaAalpha\r\n[JP]: one\r\ntwo\r\n[EN]: \r\n");
  ASSERT_EQ(dump.splitRecords.size(), 1u);
  EXPECT_EQ(dump.splitRecords[0].record, 2u);
  EXPECT_EQ(dump.splitRecords[0].line, 4u);
}

TEST(ChtxParse, RejectsFilesThatDoNotHoldWhatTheirHeaderSays) {
  const Bytes good = SharedChat();  // 2 entries, table ends at 64, 19 bytes of strings
  const struct {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* message;
  } cases[] = {
      {"magic", [](Bytes& f) { f[6] = 'Y'; }, "\nNot a ZK6CHTX"},
      {"shorter than the magic", [](Bytes& f) { f.resize(5); }, "\nNot a ZK6CHTX"},
      {"header", [](Bytes& f) { f.resize(20); }, "\nERROR: truncated ZK6CHTX header"},
      {"table", [](Bytes& f) { f.resize(50); }, "\nERROR: truncated ZK6CHTX entry table: 2 entries need 64 bytes, the file has 50"},
      {"count", [](Bytes& f) { StoreU32BE(&f[12], 0x10000000); }, "\nERROR: truncated ZK6CHTX entry table: 268435456 entries need 4294967328 bytes, the file has 83"},
      {"file size", [](Bytes& f) { StoreU32BE(&f[8], 84); }, "\nERROR: ZK6CHTX file size 84 is beyond the end of the file (83 bytes)"},
      {"area overlaps table", [](Bytes& f) { StoreU32BE(&f[20], 60); }, "\nERROR: ZK6CHTX string area start 60 overlaps the entry table (which ends at 64)"},
      {"no area", [](Bytes& f) { StoreU32BE(&f[20], 83); }, "\nERROR: ZK6CHTX has no string area (it starts at 83, the file ends at 83)"},
      {"offset", [](Bytes& f) { StoreU32BE(&f[32 + 16 + 8], 19); }, "\nERROR: ZK6CHTX entry 1: string offset 19 is outside the string area (19 bytes)"},
      {"negative offset", [](Bytes& f) { StoreU32BE(&f[32 + 4], 0xFFFFFFF0); }, "\nERROR: ZK6CHTX entry 0: string offset 4294967280 is outside the string area (19 bytes)"},
  };
  ASSERT_EQ(good.size(), 83u);
  for (const auto& c : cases) {
    Bytes file = good;
    c.damage(file);
    ChtxFile chtx;
    const ChtxFailure failure = ParseChtx(file, chtx);
    EXPECT_FALSE(failure.ok()) << c.name;
    EXPECT_EQ(DescribeChtxFailure(failure), c.message) << c.name;
  }
  // The fourth value of an entry is no offset, and trailing bytes past fileSize are ignored.
  Bytes file = good;
  StoreU32BE(&file[32 + 12], 0xFFFFFFFF);
  file.push_back(0xEE);
  ChtxFile chtx;
  EXPECT_TRUE(ParseChtx(file, chtx).ok());
}

TEST(ChtxInsert, UnchangedDumpStoresEveryRecordSeparatelyWithoutTheShareFlag) {
  const Bytes file = SharedChat();
  const Rebuilt plain = Rebuild(file, Dump(file), false, false);
  ASSERT_TRUE(plain.ok);
  ChtxBuilder expected;
  expected.String("lead");
  expected.Entry("hello", "jp0", "en0", 7).Entry("hello", "hello", "hello", 8);
  EXPECT_EQ(plain.file, expected.Build());

  // With the share flag a file packed in record order comes back identical.
  const Rebuilt shared = Rebuild(file, Dump(file), true, false);
  ASSERT_TRUE(shared.ok);
  EXPECT_EQ(shared.file, file);
}

TEST(ChtxInsert, SharedLinesTakeTheTextOfTheirFirstRecord) {
  const Bytes file = SharedChat();
  const std::string dump = Dump(file);
  std::string laterEdited = dump;
  laterEdited.replace(laterEdited.rfind("hello"), 5, "bye");
  const Rebuilt dropped = Rebuild(file, laterEdited, true, false);
  EXPECT_EQ(dropped.file, file);
  EXPECT_EQ(dropped.warnings, "WARNING: chat.txt line 9 differs from line 3, which shares its string; line 3 was kept\n");
  EXPECT_EQ(Rebuild(file, dump, true, false).warnings, "");
  EXPECT_EQ(Dump(Rebuild(file, laterEdited, false, false).file), laterEdited);

  std::string firstEdited = dump;
  firstEdited.replace(firstEdited.find("hello"), 5, "bye");
  std::string everyHello = dump;
  for (size_t at; (at = everyHello.find("hello")) != std::string::npos;) everyHello.replace(at, 5, "bye");
  EXPECT_EQ(Dump(Rebuild(file, firstEdited, true, false).file), everyHello);
}

TEST(ChtxInsert, SwapExchangesJpAndEnAfterSharing) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "jp", "en");
  const uint32_t both = chat.String("both");
  chat.Entry(chat.String("b"), both, both);
  const Bytes file = chat.Build();

  const Rebuilt swapped = Rebuild(file, Dump(file), true, true);
  ASSERT_TRUE(swapped.ok);
  EXPECT_EQ(Dump(swapped.file), "lead\r\n\r\na\r\n[JP]: en\r\n[EN]: jp\r\n\r\nb\r\n[JP]: both\r\n[EN]: both\r\n");
  const ChtxFile chtx = Parse(swapped.file);
  EXPECT_EQ(chtx.entryTable[5], chtx.entryTable[6]);  // both point at the one stored string
  EXPECT_EQ(chtx.records[5].firstIndex, -1);

  const Rebuilt unshared = Rebuild(file, Dump(file), false, true);
  EXPECT_NE(Parse(unshared.file).entryTable[5], Parse(unshared.file).entryTable[6]);
}

TEST(ChtxInsert, TakesTheDumpWithAByteOrderMarkAndWithOrWithoutTrailingLineEnds) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a1", "j1", "e1").Entry("a2", "j2", "e2");
  const Bytes file = chat.Build();
  const std::string edited = "lead\r\n\r\nA1\r\n[JP]: J1\r\n[EN]: E1\r\n\r\nA2\r\n[JP]: J2\r\n[EN]: E2";
  for (const std::string& dump : {edited, "\xEF\xBB\xBF" + edited, edited + "\r\n", edited + "\r\n\r\n\r\n"}) {
    const Rebuilt rebuilt = Rebuild(file, dump, false, false);
    ASSERT_TRUE(rebuilt.ok) << rebuilt.console;
    EXPECT_EQ(Dump(rebuilt.file), edited + "\r\n");
  }
}

TEST(ChtxInsert, RefusesDumpsWhoseLinesAreOutOfStep) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a1", "j1", "e1").Entry("a2", "j2", "e2");
  const Bytes file = chat.Build();
  const std::string dump = Dump(file);
  const struct {
    const char* from;
    const char* to;
    const char* message;
  } cases[] = {
      // Enter pressed inside a line: named where it was typed.
      {"a1", "a\r\n1", "line 3: a line break was typed inside its text, and line 4 goes on with it; join the two lines"},
      {"j1", "j\r\n1", "line 4: a line break was typed inside its text, and line 5 goes on with it; join the two lines"},
      {"e1", "e\r\n1", "line 5: a line break was typed inside its text, and line 6 goes on with it; join the two lines"},
      {"e2", "e\r\n2", "line 9: a line break was typed inside its text, and line 10 goes on with it; join the two lines"},
      {"lead", "le\r\nad", "line 1: a line break was typed inside its text, and line 2 goes on with it; join the two lines"},
      {"[EN]: e1", "[EN]:e1", "line 5 should begin with \"[EN]: \""},  // a mistyped or deleted prefix
      {"[JP]: j2", "j2", "line 8 should begin with \"[JP]: \""},
      {"[JP]: j1", "[jp]: j1", "line 4 should begin with \"[JP]: \""},
      {"lead\r\n\r\n", "lead\r\nnote\r\n", "line 2 should be empty: it separates the entries"},
      {"[EN]: e2\r\n", "[EN]: e2\r\n\r\nnote\r\n", "line 11 follows the last entry; only empty lines may follow it"},
      {"[EN]: e2\r\n", "", "has only 8 lines; this chat file needs 9"},
      {"\r\na2", "a2", "line 6 should be empty: it separates the entries"},
  };
  for (const auto& c : cases) {
    std::string broken = dump;
    broken.replace(broken.find(c.from), std::string(c.from).size(), c.to);
    const Rebuilt rebuilt = Rebuild(file, broken, false, false);
    EXPECT_FALSE(rebuilt.ok) << c.to;
    EXPECT_EQ(rebuilt.console, "\nERROR: chat.txt " + std::string(c.message)) << c.to;
  }
}

TEST(ChtxInsert, VerbatimTextSkipsOnlyTheTranslatorTable) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("x", "", "");
  const Bytes file = chat.Build();
  const CodeTable game = MakeCodeTable({support::Row("\x01", "b"), support::Row("\x02", "a")});
  const CodeTable translator = MakeCodeTable({support::Row("a", "b")});
  const Rebuilt rebuilt =
      Rebuild(file, "lead\r\n\r\na<||>a<||>a\r\n[JP]: \r\n[EN]: ", false, false, game, translator);
  ASSERT_TRUE(rebuilt.ok);
  const ChtxFile chtx = Parse(rebuilt.file);
  EXPECT_EQ(ToString(chtx.strings.subspan(5, 4)), std::string("\x01\x02\x01\0", 4));
}

TEST(ChtxInsert, RewritesTheHeaderAroundTheNewStrings) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "b", "c", 0xCAFEF00D).Gap(12);
  const Rebuilt rebuilt = Rebuild(chat.Build(), "lead\r\n\r\nlonger a\r\n[JP]: b\r\n[EN]: c\r\n", false, false);
  ASSERT_TRUE(rebuilt.ok);
  ChtxBuilder expected;  // same fields, no gap: the string area starts at 48
  expected.String("lead");
  expected.Entry("longer a", "b", "c", 0xCAFEF00D);
  EXPECT_EQ(rebuilt.file, expected.Build());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The tools on files, with code tables in the current directory.
class ChtxToolTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::vector<CodeTableEntry> rows = support::ShiftJisRows();
    ASSERT_GT(rows.size(), 6000u);
    ASSERT_TRUE(support::WriteTestFile(dir_ / "JPCODES.TXT", support::CodeTableText(rows, true)));
    chat_ = support::MakeShiftJisChat(20000, 7, rows);
    ASSERT_TRUE(support::WriteTestFile(dir_ / "chat.cht", chat_));
  }

  // Returns what the tool printed on standard output; standard error goes to
  // warnings_.
  std::string Run(const char* mode, const char* option, DispatchResult expected, const char* path = "chat.cht") {
    support::RecordingReporter recording;
    EXPECT_EQ(ModeDispatcher(mode, path, option), expected) << mode;
    warnings_ = recording.notices();
    return recording.output();
  }

  support::TempDir dir_;
  support::ScopedCurrentDirectory inside_{dir_.path()};
  Bytes chat_;
  std::string warnings_;
};

TEST_F(ChtxToolTest, RoundTripsThroughTheCodeTables) {
  EXPECT_EQ(Run("uncht", "utf8x", DispatchResult::kSuccess), "");
  const Bytes dump = support::ReadTestFile("chat.txt");
  ASSERT_EQ(ByteOrderMarkLength(dump), 3u);
  EXPECT_NE(ToString(dump).find("\xE3"), std::string::npos);  // Shift-JIS came out as UTF-8

  Run("cht", "1", DispatchResult::kSuccess);
  EXPECT_EQ(support::ReadTestFile("chat.cht"), chat_);
  Run("cht", "utf8", DispatchResult::kSuccess);  // no share flag: shared strings are copied
  EXPECT_GT(support::ReadTestFile("chat.cht").size(), chat_.size());
  Run("uncht", "UTF8", DispatchResult::kSuccess);
  EXPECT_EQ(support::ReadTestFile("chat.txt"), Bytes(dump.begin() + 3, dump.end()));

  // "cht_switch" exchanges the "[JP]" and "[EN]" lines of every entry.
  Run("cht_switch", "0", DispatchResult::kSuccess);
  Run("uncht", "ansi", DispatchResult::kSuccess);
  const std::vector<std::string> before = Lines(ToString(dump).substr(3));
  const std::vector<std::string> after = Lines(ToString(support::ReadTestFile("chat.txt")));
  ASSERT_EQ(after.size(), before.size());
  for (size_t line = 3; line < before.size(); line += 4) {
    EXPECT_EQ(after[line - 1], before[line - 1]);
    EXPECT_EQ(after[line].substr(6), before[line + 1].substr(6));
    EXPECT_EQ(after[line + 1].substr(6), before[line].substr(6));
  }
  // Each new dump differed from the one before (its mark, its exchanged lines), which is kept.
  EXPECT_EQ(support::ListDirectory("."),
            (std::vector<std::string>{"JPCODES.TXT", "chat.cht", "chat.txt", "chat.txt.bak"}));
}

TEST_F(ChtxToolTest, LeavesEverythingAsItWasWhenItFails) {
  const std::vector<std::string> before = support::ListDirectory(".");
  EXPECT_EQ(Run("cht", "0", DispatchResult::kToolFailed), "\nCan't open chat.txt");

  ASSERT_TRUE(support::WriteTestFile("chat.txt", std::string("lead\r\n\r\nonly one line\r\n")));
  EXPECT_EQ(Run("cht", "0", DispatchResult::kToolFailed).substr(0, 32), "\nERROR: chat.txt has only 3 line");
  // A dump saved by an editor in another form.
  ASSERT_TRUE(support::WriteTestFile("chat.txt", std::string("\xFF\xFEl\0e\0a\0d\0\r\0\n\0", 14)));
  EXPECT_EQ(Run("cht", "0", DispatchResult::kToolFailed), "\nERROR: chat.txt is saved as UTF-16; save it as UTF-8");
  ASSERT_TRUE(support::WriteTestFile("chat.txt", std::string("lead\n\nname\n[JP]: a\n[EN]: b\n")));
  EXPECT_EQ(Run("cht", "0", DispatchResult::kToolFailed),
            "\nERROR: chat.txt: its lines end in LF alone; fpskit dumps use CR LF");
  EXPECT_EQ(support::ReadTestFile("chat.cht"), chat_);
  std::remove("chat.txt");

  Bytes damaged = chat_;
  StoreU32BE(&damaged[8], uint32_t(damaged.size() + 1));
  ASSERT_TRUE(support::WriteTestFile("chat.cht", damaged));
  EXPECT_EQ(Run("uncht", "0", DispatchResult::kToolFailed),
            "\nERROR: ZK6CHTX file size " + std::to_string(chat_.size() + 1) + " is beyond the end of the file (" +
                std::to_string(chat_.size()) + " bytes)");
  EXPECT_EQ(support::ListDirectory("."), before);

  ASSERT_TRUE(support::WriteTestFile("chat.cht", chat_));
  ASSERT_TRUE(support::WriteTestFile("JPCODES.TXT", std::string("41 61\r\n")));
  EXPECT_EQ(Run("uncht", "0", DispatchResult::kToolFailed), "\nERROR: JPCODES.TXT line 1: expected ';' after the left column");
  EXPECT_EQ(support::ListDirectory("."), before);
  // A chat file named like its own dump is neither overwritten nor read as one.
  ASSERT_EQ(std::rename("chat.cht", "chat.txt"), 0);
  for (const char* mode : {"uncht", "cht"}) {
    EXPECT_EQ(Run(mode, "0", DispatchResult::kToolFailed, "chat.txt"),
              "\nERROR: chat.txt would be its own dump; rename it first");
  }
  EXPECT_EQ(support::ReadTestFile("chat.txt"), chat_);
  EXPECT_EQ(Run("uncht", "0", DispatchResult::kToolFailed), "\nCan't open chat.cht");
}

TEST_F(ChtxToolTest, WarnsAboutStringsThatSplitTheirLine) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "b", "two\r\nlines");
  ASSERT_TRUE(support::WriteTestFile("chat.cht", chat.Build()));
  EXPECT_EQ(Run("uncht", "0", DispatchResult::kSuccess), "");
  EXPECT_EQ(warnings_, "WARNING: record 3 (entry 0, [EN] string) holds CR LF and splits dump line 5; join it before \"cht\"\n");
  EXPECT_EQ(ToString(support::ReadTestFile("chat.txt")), "lead\r\n\r\na\r\n[JP]: b\r\n[EN]: two\r\nlines\r\n");

  // So are zero bytes followed by other bytes, which must stay in the line.
  ChtxBuilder zeros;
  zeros.String("lead");
  zeros.Entry("a", "b", "c").Padding(1).Padding(1, 'z').Padding(1);
  ASSERT_TRUE(support::WriteTestFile("chat.cht", zeros.Build()));
  EXPECT_EQ(Run("uncht", "0", DispatchResult::kSuccess), "");
  EXPECT_NE(warnings_.find("WARNING: record 3 (entry 0, [EN] string) holds zero bytes followed by other bytes; dump "
                           "line 5 shows them as they stand, and an editor may change or drop them\n"),
            std::string::npos)
      << warnings_;
}

TEST_F(ChtxToolTest, WarnsAboutCharactersThatNoRowConverts) {
  ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "b", "c");
  ASSERT_TRUE(support::WriteTestFile("chat.cht", chat.Build()));
  // 'é' is in no row of the Shift-JIS table, nor is the single byte E9 (a
  // letter of another 8-bit encoding); each is named once for its line.
  ASSERT_TRUE(support::WriteTestFile("chat.txt", std::string("lead\r\n\r\na\r\n[JP]: b\r\n[EN]: caf\xC3\xA9 \xC3\xA9 \xE9\r\n")));
  EXPECT_EQ(Run("cht", "0", DispatchResult::kSuccess), "");
  EXPECT_EQ(warnings_,
            "NOTE: no CODES.TXT in " + platform::CurrentDirectory() + " or " +
                platform::DirectoryPartOf(platform::ExecutablePath()) +
                "; the built-in table is used, which converts no byte\n"
                "WARNING: chat.txt line 5: '\xC3\xA9' (C3 A9) has no row in JPCODES.TXT and is written as it stands\n"
                "WARNING: chat.txt line 5: byte E9 has no row in JPCODES.TXT and is written as it stands\n");
  const Bytes bytes = support::ReadTestFile("chat.cht");
  const ChtxFile written = Parse(bytes);
  EXPECT_EQ(ToString(written.strings.subspan(size_t(written.records[3].offset))).substr(0, 11), std::string("caf\xC3\xA9 \xC3\xA9 \xE9\0", 11));
  // Without JPCODES.TXT the text is written as it stands, by design: no warning for each line.
  std::remove("JPCODES.TXT");
  Run("cht", "0", DispatchResult::kSuccess);
  EXPECT_EQ(warnings_.find("WARNING"), std::string::npos);
  EXPECT_NE(warnings_.find("NOTE: no JPCODES.TXT in "), std::string::npos);
}

}  // namespace
}  // namespace fpskit
