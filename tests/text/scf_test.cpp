#include "text/scf/scf.h"

#include <gtest/gtest.h>

#include "cli/modes.h"
#include "support/builders.h"
#include "support/recording_reporter.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "tools/text/scf_tools.h"

namespace fpskit {
namespace {

using support::MakeScfFile;
using support::Row;
using support::ScfDumpBlock;
using support::ScfLayout;
using support::ScfSlotText;
using support::ScfTestEntry;
using support::ScfTestFile;
using support::ToBytes;
using support::ToString;

ScfTestEntry Entry(std::optional<std::string> a, std::optional<std::string> b, std::optional<std::string> c,
                   std::optional<std::string> d, bool shortForm = false) {
  ScfTestEntry entry;
  entry.texts = {a, b, c, d};
  entry.shortForm = shortForm;
  return entry;
}

// The dump of a file through the built-in table; empty when the file was
// rejected, with the console text in `console`.
std::string DumpOf(ByteSpan file, bool* ok = nullptr, std::string* console = nullptr) {
  ScfHeader header;
  std::vector<ScfRecord> records;
  ScfFailure failure = ParseScfHeader(file, header);
  if (failure.ok()) failure = ParseScfEntries(file, header, records);
  const bool valid = failure.ok() && header.HasTextTable();
  if (ok) *ok = valid;
  if (console) *console = DescribeScfFailure(failure);
  Bytes dump;
  ScfDumpProgress progress;
  for (const ScfRecord& record : records) AppendScfBlock(dump, record, BuiltInCodeTable(), progress);
  return valid ? ToString(dump) : std::string();
}

TEST(ScfExtraction, DumpsBothEntryFormsAsTaggedBlocks) {
  // A 24-byte entry, a 20-byte entry with two empty slots, a 24-byte entry.
  const ScfTestFile scf = MakeScfFile(
      {.entries = {Entry("jp1", "jp2", "en1", "en2"), Entry("a", std::nullopt, "", std::nullopt, true),
                   Entry("x", "y", "z", "w")}});
  ASSERT_EQ(scf.tags, (std::vector<uint32_t>{scf.tableStart + 8, scf.tableStart + 28, scf.tableStart + 52}));
  const std::string expected = ScfDumpBlock(scf.tags[0], {"jp1", "jp2", "en1", "en2"}) +
                               ScfDumpBlock(scf.tags[1], {"a", "", "", ""}) +
                               ScfDumpBlock(scf.tags[2], {"x", "y", "z", "w"});
  EXPECT_EQ(DumpOf(scf.bytes), expected);
  EXPECT_EQ(expected.substr(0, 17), "[00001A90_JP]: jp");
}

TEST(ScfExtraction, StopsQuietlyAtTheEndOfTheTable) {
  const ScfTestEntry a = Entry("a", "b", "c", "d");
  const std::string firstOnly = "[00001A90_JP]: a\r\n[00001A90_JP]: b\r\n[00001A90_EN]: c\r\n[00001A90_EN]: d\r\n\r\n";

  // An entry whose four pointers are 0 ends the table, though more follow.
  EXPECT_EQ(DumpOf(MakeScfFile({.entries = {a, Entry({}, {}, {}, {}), a}}).bytes), firstOnly);

  // A pointer beyond the end of the file ends it too.
  ScfTestFile beyond = MakeScfFile({.entries = {a, a}});
  StoreU32BE(beyond.bytes.data() + beyond.tags[1] + 8, 0x82000200 + uint32_t(beyond.bytes.size()) + 1);
  EXPECT_EQ(DumpOf(beyond.bytes), firstOnly);

  // So does the entry limit from entryAreaEnd: (6280 + 39 - 6280) / 20 = 1.
  EXPECT_EQ(DumpOf(MakeScfFile({.entries = {a, a}, .entryAreaEnd = 6280 + 39}).bytes), firstOnly);

  // And fewer than 16 bytes before stringAreaStart, or pointers that do not
  // all lie before it (insertion could not patch them).
  ScfTestFile crowded = MakeScfFile({.entries = {a, a}});
  StoreU32BE(crowded.bytes.data() + 32, crowded.tags[1] - 8 + 15);
  EXPECT_EQ(DumpOf(crowded.bytes), firstOnly);
  StoreU32BE(crowded.bytes.data() + 32, crowded.tags[1] + 15);
  EXPECT_EQ(DumpOf(crowded.bytes), firstOnly);
  StoreU32BE(crowded.bytes.data() + 32, crowded.tags[1] + 16);
  EXPECT_NE(DumpOf(crowded.bytes), firstOnly);

  // An entry limit far beyond the table: the string area still ends it.
  const ScfTestFile unbounded = MakeScfFile({.entries = {a, a}, .endEntry = false, .entryAreaEnd = 0xFFFFFFFF});
  EXPECT_EQ(DumpOf(unbounded.bytes), firstOnly + ScfDumpBlock(unbounded.tags[1], {"a", "b", "c", "d"}));

  // No entry at all: an empty dump.
  bool ok = false;
  EXPECT_EQ(DumpOf(MakeScfFile({}).bytes, &ok), "");
  EXPECT_TRUE(ok);
}

TEST(ScfExtraction, MovesTheTableOnlyInFilesLongerThan32768WithTheMarker) {
  // A 20-byte entry whose first pointer is exactly the start of the string area.
  const std::vector<ScfTestEntry> entries = {Entry("t", "", "", "", true)};
  const ScfTestFile exact = MakeScfFile({.entries = entries, .marker = true, .minimumSize = 32768});
  ASSERT_EQ(exact.bytes.size(), 32768u);
  EXPECT_EQ(DumpOf(exact.bytes), ScfDumpBlock(exact.tags[0], {"t", "", "", ""}));

  const ScfTestFile moved =
      MakeScfFile({.entries = entries, .alternateTable = true, .marker = true, .minimumSize = 32769});
  EXPECT_EQ(moved.tags[0], 0x200u + 6988 + 4);
  EXPECT_EQ(DumpOf(moved.bytes), ScfDumpBlock(moved.tags[0], {"t", "", "", ""}));

  // With the marker in a longer file, a table at 6280 is not looked at.
  EXPECT_EQ(DumpOf(MakeScfFile({.entries = entries, .marker = true, .minimumSize = 32769}).bytes), "");
}

TEST(ScfExtraction, RejectsHeadersAndStringsThatCannotBeRead) {
  const ScfTestFile good = MakeScfFile({.entries = {Entry("a", "b", "c", "d")}});
  struct Case {
    const char* name;
    size_t offset;  // a header word to change, or SIZE_MAX
    uint32_t value;
    const char* message;
  };
  const Case cases[] = {
      {"magic", 4, 0x4D42494F, "\nThis is not a SCFOMBIN"},
      {"entryAreaEnd", 24, 6279, "\nERROR: bad SCFOMBIN header: entry area end 6279 is below 6280"},
      {"sectionOffset", 36, 0x7FFFFFF0, "the entry table at 0x80001878 lies beyond the end of the file"},
      {"stringAreaStart", 32, uint32_t(good.bytes.size() + 1), "the string area at"},
      {"no NUL", SIZE_MAX, 0, "\nERROR: the SCFOMBIN string at"},
  };
  for (const Case& c : cases) {
    Bytes file = good.bytes;
    if (c.offset != SIZE_MAX) {
      StoreU32BE(file.data() + c.offset, c.value);
    } else {
      // Slot 3 points at the last byte of the file, which is not a NUL.
      file.back() = 'x';
      StoreU32BE(file.data() + good.tags[0] + 12, 0x82000000 - 0x200 + uint32_t(file.size() - 1));
    }
    bool ok = true;
    std::string console;
    DumpOf(file, &ok, &console);
    EXPECT_FALSE(ok) << c.name;
    EXPECT_NE(console.find(c.message), std::string::npos) << c.name << ": " << console;
  }
  bool ok = true;
  std::string console;
  DumpOf(ByteSpan(good.bytes).first(100), &ok, &console);
  EXPECT_EQ(console, "\nERROR: truncated SCFOMBIN header");
}

// Runs a tool in `dir` and returns what it printed on standard output; what
// it printed on standard error goes to `warnings`.
template <typename Tool>
std::string RunIn(const support::TempDir& dir, bool& ok, Tool tool, std::string* warnings = nullptr) {
  support::ScopedCurrentDirectory inside(dir.path());
  support::RecordingReporter console;
  ok = tool();
  if (warnings) *warnings = console.notices();
  return console.output();
}

TEST(ScfExtraction, WritesTheDumpBesideTheFileThroughTheGameTable) {
  support::TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "JPCODES.TXT",
                                     support::CodeTableText({Row("\x82\xA0", "\xE3\x81\x82"), Row("\x0A", "\\n")})));
  const ScfTestFile scf = MakeScfFile({.entries = {Entry("\x82\xA0\x0A", {}, "Hi", {})}});
  ASSERT_TRUE(support::WriteTestFile(dir / "menu.scf", scf.bytes));
  bool ok = false;
  EXPECT_EQ(RunIn(dir, ok, [] { return ExtractScf("menu.scf", "utf8"); }), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(ToString(support::ReadTestFile(dir / "menu.txt")),
            "\xEF\xBB\xBF" + ScfDumpBlock(scf.tags[0], {"\xE3\x81\x82\\n", "", "Hi", ""}));

  // A string holding CR LF splits its line (no row of this table converts
  // it); the dump is written with a warning.
  ASSERT_TRUE(support::WriteTestFile(dir / "JPCODES.TXT", support::CodeTableText({Row("\x82\xA0", "\xE3\x81\x82")})));
  const ScfTestFile split = MakeScfFile({.entries = {Entry("a", {}, "two\r\nlines", {})}});
  ASSERT_TRUE(support::WriteTestFile(dir / "split.scf", split.bytes));
  std::string warnings;
  EXPECT_EQ(RunIn(dir, ok, [] { return ExtractScf("split.scf", "0"); }, &warnings), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(warnings, "WARNING: the string of entry 00001A90, slot 2 holds CR LF and splits dump line 3; join it before \"scf\"\n");
  std::remove((dir / "split.scf").c_str());
  std::remove((dir / "split.txt").c_str());

  // A file without a text table: nothing is said and nothing is written.
  Bytes noTable = scf.bytes;
  StoreU32BE(noTable.data() + 80, 0);
  ASSERT_TRUE(support::WriteTestFile(dir / "none.scf", noTable));
  EXPECT_EQ(RunIn(dir, ok, [] { return ExtractScf("none.scf", "0"); }), "");
  EXPECT_TRUE(ok);

  // A rejected file leaves no dump either.
  Bytes bad = scf.bytes;
  StoreU32BE(bad.data() + 24, 0);
  ASSERT_TRUE(support::WriteTestFile(dir / "bad.scf", bad));
  RunIn(dir, ok, [] { return ExtractScf("bad.scf", "0"); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(RunIn(dir, ok, [] { return ExtractScf("missing.scf", "0"); }), "\nCan't open missing.scf");
  EXPECT_FALSE(ok);
  EXPECT_EQ(support::ListDirectory(dir.path()),
            (std::vector<std::string>{"JPCODES.TXT", "bad.scf", "menu.scf", "menu.txt", "none.scf"}));
}

std::vector<ScfBlock> ParseDump(const std::string& dump, bool swap, bool* ok = nullptr,
                                std::string* console = nullptr) {
  const InsertionInputs inputs{BuiltInCodeTable(), BuiltInCodeTable(), "d.txt", ToBytes(dump)};
  const ScfDump parsed = ParseScfDump(inputs, swap, {0x1A90, 0x1AA8});
  support::RecordingReporter reporter;
  ReportScfDumpProblems(inputs.dumpName, inputs.gameCodes.name, parsed);
  if (ok) *ok = parsed.ok();
  if (console) *console = reporter.output();
  return parsed.blocks;
}

std::array<std::string, 4> SlotsOf(const ScfBlock& block) {
  return {ToString(block.slots[0]), ToString(block.slots[1]), ToString(block.slots[2]), ToString(block.slots[3])};
}

TEST(ScfDump, FindsBlocksByTheirFirstLineAndFillsSlotsInOrder) {
  const std::string dump = "\xEF\xBB\xBFnote before\r\n\r\n" + ScfDumpBlock(0x1A90, {"a", "b", "c", "d"}) +
                           "[1FFFFFFF_JP]: not a block\r\n" +
                           "[00001AA8_JP]: 1\r\n[00001AA8_JP]: 2\r\n[00001AA8_EN]: 3\r\n[00001AA8_EN]: 4";
  bool ok = false;
  const std::vector<ScfBlock> blocks = ParseDump(dump, false, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].tag, 0x1A90u);
  EXPECT_EQ(SlotsOf(blocks[0]), (std::array<std::string, 4>{"a", "b", "c", "d"}));
  EXPECT_EQ(blocks[1].tag, 0x1AA8u);
  EXPECT_EQ(SlotsOf(blocks[1]), (std::array<std::string, 4>{"1", "2", "3", "4"}));

  const std::vector<ScfBlock> swapped = ParseDump(dump, true);
  ASSERT_EQ(swapped.size(), 2u);
  EXPECT_EQ(SlotsOf(swapped[0]), (std::array<std::string, 4>{"c", "d", "a", "b"}));
}

TEST(ScfDump, RefusesBlocksThatWouldPutTextInTheWrongPlace) {
  const std::string block = ScfDumpBlock(0x1A90, {"a", "b", "c", "d"});
  const struct {
    const char* from;
    const char* to;
    const char* message;
  } cases[] = {
      {"[00001A90_EN]: d\r\n\r\n", "", "line 1: the block ends after 3 of its 4 lines"},
      {"d\r\n", "d\r\nmore\r\n", "line 4: a line break was typed inside its text, and line 5 goes on with it; join the two lines (a note stands on a line of its own after an empty line)"},
      {"[00001A90_EN]: c", "[00001A90_EN]:c", "line 3 should begin with \"[00001A90_EN]: \""},
      {"[00001A90_JP]: b", "[00001A90_EN]: b", "line 2 should begin with \"[00001A90_JP]: \""},  // labels count
      {"[00001A90_JP]: b", "[00001A91_JP]: b", "line 2 should begin with \"[00001A90_JP]: \""},
      {"b\r\n", "b\r\nmore\r\n", "line 2: a line break was typed inside its text, and line 3 goes on with it; join the two lines (a note stands on a line of its own after an empty line)"},  // Enter inside a text
      {"[00001A90_", "[00001a90_", "line 1 should begin with \"[00001A90_JP]: \""},
      {"[00001A90_", "[0001A9G0_", "line 1: a block's first line begins with \"[\", its 8-digit hexadecimal tag and \"_JP]: \""},
      {"[00001A90_", "[00001A91_", "line 1: tag 00001A91 is not an entry of this SCFOMBIN file; keep the tags that \"unscf\" wrote"},
  };
  for (const auto& c : cases) {
    std::string dump = block;
    // A tag alone is changed on all four lines.
    const bool everyLine = std::string(c.from) == "[00001A90_";
    for (size_t at = 0, n = 0; (at = dump.find(c.from, at)) != std::string::npos && (everyLine || n == 0); ++n) {
      dump.replace(at, std::string(c.from).size(), c.to);
      at += std::string(c.to).size();
    }
    bool ok = true;
    std::string console;
    ParseDump(dump, false, &ok, &console);
    EXPECT_FALSE(ok) << c.to;
    EXPECT_EQ(console, "\nERROR: d.txt " + std::string(c.message)) << c.to;
  }
}

// A check reads the whole dump; the problems come back in dump order, so the
// tool prints the errors and the warnings for characters written as they
// stand in the order the lines hold them.
TEST(ScfDump, ListsEveryProblemInDumpOrderWhenReadWhole) {
  CodeTable gameCodes = MakeCodeTable({Row("a", "a")});
  gameCodes.name = "JPCODES.TXT";
  const std::string dump = ScfDumpBlock(0x1A90, {"a", "b", "caf\xC3\xA9", "d"}) +
                           ScfDumpBlock(0x1AA8, {"a", "b", "c", "d"}).replace(15, 1, "x\r\ny") +
                           ScfDumpBlock(0x1AA8, {"\xE9", "", "", ""});
  const InsertionInputs inputs{gameCodes, BuiltInCodeTable(), "d.txt", ToBytes(dump)};
  const ScfDump whole = ParseScfDump(inputs, false, {0x1A90, 0x1AA8}, nullptr, DumpReading::kWhole);
  EXPECT_FALSE(whole.ok());
  ASSERT_EQ(whole.problems.size(), 3u);
  EXPECT_EQ(whole.problems[0].error, ScfDumpError::kUnconverted);
  EXPECT_EQ(whole.problems[1].error, ScfDumpError::kBrokenLines);
  EXPECT_EQ(whole.problems[2].error, ScfDumpError::kUnconverted);
  EXPECT_EQ(whole.blocks.size(), 2u);
  support::RecordingReporter console;
  ReportScfDumpProblems("d.txt", gameCodes.name, whole);
  EXPECT_EQ(console.output(), "\nERROR: d.txt line 6: a line break was typed inside its text, and line 7 goes on "
                              "with it; join the two lines (a note stands on a line of its own after an empty line)");
  EXPECT_EQ(console.notices(),
            "WARNING: d.txt line 3: '\xC3\xA9' (C3 A9) has no row in JPCODES.TXT and is written as it stands\n"
            "WARNING: d.txt line 12: byte E9 has no row in JPCODES.TXT and is written as it stands\n");
  // An insertion stops at the first error.
  const ScfDump first = ParseScfDump(inputs, false, {0x1A90, 0x1AA8});
  EXPECT_EQ(first.problems.size(), 2u);
  EXPECT_EQ(first.blocks.size(), 1u);
}

ScfHeader HeaderOf(const ScfTestFile& scf) {
  ScfHeader header;
  EXPECT_TRUE(ParseScfHeader(scf.bytes, header).ok());
  return header;
}

ScfBlock Block(uint32_t tag, std::array<std::string, 4> texts) {
  ScfBlock block;
  block.tag = tag;
  for (size_t slot = 0; slot < 4; ++slot) block.slots[slot] = ToBytes(texts[slot]);
  return block;
}

TEST(ScfRebuild, AppendsStringsAndRepointsOnlyTheTaggedEntries) {
  const ScfTestFile scf = MakeScfFile(
      {.entries = {Entry("a", "b", "c", "d"), Entry("e", {}, "g", {}, true)}, .minimumSize = 0x2000 + 5});
  ASSERT_EQ(scf.bytes.size() % 16, 5u);
  const ScfHeader header = HeaderOf(scf);

  // No block: the file padded to 16 with its length at offset 12.
  Bytes out;
  ASSERT_TRUE(BuildScfFile(scf.bytes, header, {}, out).ok());
  Bytes expected = scf.bytes;
  expected.resize(scf.bytes.size() + 11, 0);
  StoreU32BE(expected.data() + 12, uint32_t(expected.size()));
  EXPECT_EQ(out, expected);

  // One block for the second entry, its tag given twice: both sets of strings
  // are appended, the later one is pointed at; the first entry is untouched.
  ASSERT_TRUE(BuildScfFile(scf.bytes, header,
                           {Block(scf.tags[1], {"old", "", "", ""}), Block(scf.tags[1], {"E", "F", "", "H"})}, out)
                  .ok());
  EXPECT_EQ(out.size() % 16, 0u);
  EXPECT_EQ(LoadU32BE(out.data() + 12), out.size());
  EXPECT_EQ(out.size(), (scf.bytes.size() + 4 + 4 + 2 + 2 + 1 + 2 + 15) / 16 * 16);
  // Below the old end only fileSize and the tagged entry's pointers changed.
  Bytes unpatched(out.begin(), out.begin() + std::ptrdiff_t(scf.bytes.size()));
  std::copy_n(scf.bytes.begin() + scf.tags[1], 16, unpatched.begin() + scf.tags[1]);
  StoreU32BE(unpatched.data() + 12, LoadU32BE(scf.bytes.data() + 12));
  EXPECT_EQ(unpatched, scf.bytes);
  for (size_t slot = 0; slot < 4; ++slot) EXPECT_EQ(ScfSlotText(out, scf.tags[0], slot), std::string(1, "abcd"[slot]));
  EXPECT_EQ(ScfSlotText(out, scf.tags[1], 0), "E");
  EXPECT_EQ(ScfSlotText(out, scf.tags[1], 1), "F");
  EXPECT_EQ(ScfSlotText(out, scf.tags[1], 2), "");  // a slot that had pointer 0 gets an empty string
  EXPECT_EQ(ScfSlotText(out, scf.tags[1], 3), "H");
}

TEST(ScfRebuild, RefusesTagsOutsideTheEntryTable) {
  const ScfTestFile scf = MakeScfFile({.entries = {Entry("a", "b", "c", "d")}});
  const ScfHeader header = HeaderOf(scf);
  for (uint32_t tag : {scf.tableStart - 1, scf.stringAreaStart - 15, 0x00000010u, 0x0FFFFFFFu}) {
    Bytes out;
    const ScfFailure failure = BuildScfFile(scf.bytes, header, {Block(scf.tags[0], {}), Block(tag, {})}, out);
    EXPECT_FALSE(failure.ok()) << tag;
    EXPECT_NE(DescribeScfFailure(failure).find("lies outside the SCFOMBIN entry table"), std::string::npos);
  }
  Bytes out;
  EXPECT_TRUE(
      BuildScfFile(scf.bytes, header, {Block(scf.tableStart, {}), Block(scf.stringAreaStart - 16, {})}, out).ok());
}

// Callers that skip a check get no entry and no write outside the file.
TEST(ScfRebuild, NeedsAWholeHeaderAndATextTable) {
  const ScfTestFile scf = MakeScfFile({.entries = {Entry("a", "b", "c", "d")}});
  ScfHeader header = HeaderOf(scf);
  Bytes out;
  EXPECT_EQ(BuildScfFile(ByteSpan(scf.bytes).first(100), header, {}, out).error, ScfError::kTruncatedHeader);
  header.sectionAddress = 0;
  header.entryAreaEnd = 0;
  std::vector<ScfRecord> records;
  EXPECT_TRUE(ParseScfEntries(scf.bytes, header, records).ok());
  EXPECT_TRUE(records.empty());
}

TEST(ScfInsertion, RoundTripsAnEditedDumpThroughBothTables) {
  support::TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "JPCODES.TXT",
                                     support::CodeTableText({Row("\x82\xA0", "\xE3\x81\x82"), Row("\x0A", "\\n")})));
  ASSERT_TRUE(support::WriteTestFile(
      dir / "CODES.TXT", support::CodeTableText({Row("\xE2\x80\x9C", "\""), Row("\xE2\x80\x9D", "\"")})));
  const ScfTestFile scf =
      MakeScfFile({.entries = {Entry("\x82\xA0", "x\x0Ay", "Hello", {}), Entry("s", "t", "u", "v", true)}});
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.scf", scf.bytes));
  bool ok = false;
  RunIn(dir, ok, [] { return ModeDispatcher("unscf", "talk.scf", "utf8") == DispatchResult::kSuccess; });
  ASSERT_TRUE(ok);
  ASSERT_EQ(support::ReadTestFile(dir / "talk.txt")[0], 0xEF);

  // Unchanged text comes back byte for byte.
  EXPECT_EQ(RunIn(dir, ok, [] { return ModeDispatcher("scf", "talk.scf", "0") == DispatchResult::kSuccess; }), "");
  ASSERT_TRUE(ok);
  Bytes once = support::ReadTestFile(dir / "talk.scf");
  for (size_t e = 0; e < 2; ++e) {
    for (size_t slot = 0; slot < 4; ++slot) {
      EXPECT_EQ(ScfSlotText(once, scf.tags[e], slot).value_or(""),
                ScfSlotText(scf.bytes, scf.tags[e], slot).value_or(""));
    }
  }

  // An edited English line, through the dispatcher with the JP/EN exchange.
  std::string dump = ToString(support::ReadTestFile(dir / "talk.txt"));
  const size_t at = dump.find("Hello");
  dump.replace(at, 5, "\xE2\x80\x9CHi\xE2\x80\x9D");
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.txt", dump));
  {
    support::ScopedCurrentDirectory inside(dir.path());
    support::RecordingReporter console;
    EXPECT_EQ(ModeDispatcher("scf_switch", "talk.scf", "0"), DispatchResult::kSuccess);
    EXPECT_EQ(console.output(), "");
  }
  const Bytes twice = support::ReadTestFile(dir / "talk.scf");
  EXPECT_GT(twice.size(), once.size());
  EXPECT_EQ(ScfSlotText(twice, scf.tags[0], 0), "\"Hi\"");
  EXPECT_EQ(ScfSlotText(twice, scf.tags[0], 2), "\x82\xA0");
  EXPECT_EQ(ScfSlotText(twice, scf.tags[0], 3), "x\x0Ay");
  EXPECT_EQ(ScfSlotText(twice, scf.tags[1], 0), "u");
  EXPECT_EQ(support::ListDirectory(dir.path()),
            (std::vector<std::string>{"CODES.TXT", "JPCODES.TXT", "talk.scf", "talk.txt"}));
}

TEST(ScfInsertion, LeavesTheFileUntouchedWhenTheDumpCannotBeUsed) {
  support::TempDir dir;
  const ScfTestFile scf = MakeScfFile({.entries = {Entry("a", "b", "c", "d")}});
  ASSERT_TRUE(support::WriteTestFile(dir / "f.scf", scf.bytes));
  bool ok = true;
  EXPECT_EQ(RunIn(dir, ok, [] { return InsertScf("f.scf", {}); }), "\nCan't open f.txt");
  EXPECT_FALSE(ok);

  const std::string block = ScfDumpBlock(scf.tags[0], {"A", "B", "C", "D"});
  const std::string brokenDumps[] = {
      block.substr(0, block.find("EN]: D")),                  // cut short
      ScfDumpBlock(0x00000020, {"A", "B", "C", "D"}),          // a tag inside the header
      ScfDumpBlock(scf.tags[0] + 4, {"A", "B", "C", "D"}),     // inside the table, but no entry's
  };
  for (const std::string& dump : brokenDumps) {
    ASSERT_TRUE(support::WriteTestFile(dir / "f.txt", dump));
    EXPECT_NE(RunIn(dir, ok, [] { return InsertScf("f.scf", {}); }), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(support::ReadTestFile(dir / "f.scf"), scf.bytes);
  }

  // A dump without a block changes nothing, and says so.
  ASSERT_TRUE(support::WriteTestFile(dir / "f.txt", std::string("notes only\r\n\r\n")));
  std::string warnings;
  EXPECT_EQ(RunIn(dir, ok, [] { return InsertScf("f.scf", {}); }, &warnings), "");
  EXPECT_TRUE(ok);
  EXPECT_NE(warnings.find("NOTE: f.txt holds no block; f.scf was not changed\n"), std::string::npos) << warnings;
  EXPECT_EQ(support::ReadTestFile(dir / "f.scf"), scf.bytes);

  // A code table that cannot be loaded stops the tool before anything is written.
  ASSERT_TRUE(support::WriteTestFile(dir / "f.txt", block));
  ASSERT_TRUE(support::WriteTestFile(dir / "CODES.TXT", "41 61\r\n"));
  EXPECT_EQ(RunIn(dir, ok, [] { return InsertScf("f.scf", {}); }),
            "\nERROR: CODES.TXT line 1: expected ';' after the left column");
  EXPECT_FALSE(ok);
  EXPECT_EQ(support::ReadTestFile(dir / "f.scf"), scf.bytes);
  EXPECT_EQ(support::ListDirectory(dir.path()), (std::vector<std::string>{"CODES.TXT", "f.scf", "f.txt"}));

  // A SCFOMBIN file named like its own dump is neither overwritten nor read as one.
  ASSERT_TRUE(support::WriteTestFile(dir / "g.txt", scf.bytes));
  EXPECT_EQ(RunIn(dir, ok, [] { return ExtractScf("g.txt", "0"); }), "\nERROR: g.txt would be its own dump; rename it first");
  EXPECT_FALSE(ok);
  EXPECT_EQ(RunIn(dir, ok, [] { return InsertScf("g.txt", {}); }), "\nERROR: g.txt would be its own dump; rename it first");
  EXPECT_FALSE(ok);
  EXPECT_EQ(support::ReadTestFile(dir / "g.txt"), scf.bytes);
}

}  // namespace
}  // namespace fpskit
