#include "text/tss/tss.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "cli/modes.h"
#include "tools/text/tss_tool.h"
#include "support/builders.h"
#include "support/recording_reporter.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"

namespace fpskit {
namespace {

using support::MakeTssFile;
using support::Row;
using support::ToBytes;
using support::ToString;
using support::TssQuadGroup;
using support::TssScript;
using support::TssTestFile;

// Two quads, an SP string, and five references whose code order differs
// from their operand order: code refs 0..4 name "first", "second",
// "shared", "shared", "first".
TssScript SampleScript() {
  TssScript script;
  script.strings = {"second", "first", "shared"};
  script.references = {1, 0, 2, 2, 1};
  script.quads = {{"jp one", "jp two", "en one", "en two"}, {"a", "b", "", "d"}};
  script.sp = "sp text";
  return script;
}

struct Read {
  bool ok = false;
  std::string console;
  TssHeader header;
  TssText text;
};

Read ReadText(ByteSpan file) {
  Read read;
  TssFailure failure = ParseTssHeader(file, read.header);
  if (failure.ok()) failure = ParseTssText(file, read.header, read.text);
  read.ok = failure.ok();
  read.console = DescribeTssFailure(failure);
  return read;
}

std::string DumpOf(ByteSpan file, bool byteOrderMark = false, bool stringDictionary = false) {
  const Read read = ReadText(file);
  EXPECT_TRUE(read.ok) << read.console;
  return ToString(BuildTssDump(read.text, BuiltInCodeTable(), byteOrderMark, stringDictionary).text);
}

TEST(TssExtraction, DumpsQuadsSpAndReferencesInTheirLayout) {
  const TssTestFile tss = MakeTssFile(SampleScript());
  ASSERT_EQ(tss.quadPositions, (std::vector<uint32_t>{0x48, 0x68}));
  const std::string references =
      "[000000]: second\r\n[000001]: first\r\n[000002]: first\r\n[000003]: shared\r\n[000004]: shared\r\n";
  // The fingerprint line first: FNV-1a of the count and the code offsets.
  const std::string head = TssFingerprintLine(ReadText(tss.bytes).text.code) + "\r\n\r\n";
  EXPECT_EQ(head, "References: 5, fingerprint 966C4312\r\n\r\n");
  const std::string expected = head + TssQuadGroup(0x48, {"jp one", "jp two", "en one", "en two"}) +
                               TssQuadGroup(0x68, {"a", "b", "", "d"}) + "[END]\r\n\r\n[SP]: sp text\r\n\r\n" +
                               references;
  EXPECT_EQ(expected.substr(head.size(), 23), "[00000048_JP]: jp one\r\n");
  EXPECT_EQ(DumpOf(tss.bytes), expected);
  EXPECT_EQ(DumpOf(tss.bytes, true), "\xEF\xBB\xBF" + expected);
  // A string dictionary pairs the lines: empty lines after 1 and 3 only.
  EXPECT_EQ(DumpOf(tss.bytes, false, true).substr(expected.size() - references.size()),
            "[000000]: second\r\n[000001]: first\r\n\r\n[000002]: first\r\n[000003]: shared\r\n\r\n"
            "[000004]: shared\r\n");

  // Equal operands keep their code order: code ref 1 before code ref 4.
  const Read read = ReadText(tss.bytes);
  ASSERT_EQ(read.text.code.references.size(), 5u);
  EXPECT_EQ(read.text.code.references[1].codeOffset, tss.referenceWords[0]);
  EXPECT_EQ(read.text.code.references[2].codeOffset, tss.referenceWords[4]);

  // Neither quads nor SP: the dump begins with "[END]". A text holding
  // CR LF splits its line, and the dump says which.
  TssScript plain;
  plain.strings = {"only", "two\r\nlines"};
  plain.references = {0, 1};
  const TssTestFile split = MakeTssFile(plain);
  const std::string splitHead = TssFingerprintLine(ReadText(split.bytes).text.code) + "\r\n\r\n";
  EXPECT_EQ(DumpOf(split.bytes), splitHead + "[END]\r\n\r\n[000000]: only\r\n[000001]: two\r\nlines\r\n");
  const TssDump dump = BuildTssDump(ReadText(split.bytes).text, BuiltInCodeTable(), false, false);
  ASSERT_EQ(dump.splitLines.size(), 1u);
  EXPECT_EQ(dump.splitLines[0].line, 6u);
  EXPECT_EQ(dump.splitLines[0].owner, "reference 1");
}

// A script whose code area is given word by word, with a 64-byte string
// area of "s0", "s1", ... at every 8 bytes. (GCC 12 at -O3 takes the
// builder's appends here for an overflow of the vector it has just grown.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
Bytes ScriptWithCode(const std::vector<uint32_t>& code) {
  support::ByteBuilder b;
  const uint32_t textBase = uint32_t(32 + 4 * code.size());
  b.Raw(kTssMagic).U32BE(0).U32BE(0).U32BE(textBase).U32BE(0);
  b.U32BE(uint32_t(4 * code.size())).U32BE(64).U32BE(0);
  for (uint32_t word : code) b.U32BE(word);
  for (int i = 0; i < 8; ++i) b.CString("s" + std::to_string(i)).Zeros(5);
  return b.Take();
}
#pragma GCC diagnostic pop

TEST(TssExtraction, CodeScanTakesOperandsAndMarkersByTheirRules) {
  struct Case {
    const char* name;
    std::vector<uint32_t> code;
    std::vector<uint32_t> operands;  // in the reference order
    std::optional<uint32_t> spSlot;
    uint32_t scanLength = 0;  // 0: every word
  };
  const Case cases[] = {
      // An operand not below textSize is no reference; the word after it is
      // examined and is itself a reference.
      {"rejected operand", {0x02820001, 0x02820002, 0x00000010}, {0x10}, {}},
      // An accepted operand is consumed, even when it looks like a reference.
      {"accepted operand", {0x02820001, 0x00000008, 0x02820000, 0x00000018, 0x02820003}, {0x08, 0x18}, {}},
      // Only the first SP marker counts; its slot word is examined as code.
      {"two markers", {0x04830004, 0x02820000, 0x00000020, 0x04830004, 0x00000028}, {0x20}, 0x02820000},
      // A reference in the last scanned word takes its operand from beyond
      // the scanned range.
      {"last word", {0x01000000, 0x02820000, 0x00000030}, {0x30}, {}, 8},
  };
  for (const Case& c : cases) {
    Bytes file = ScriptWithCode(c.code);
    if (c.scanLength != 0) StoreU32BE(file.data() + 20, c.scanLength);
    TssHeader header;
    ASSERT_TRUE(ParseTssHeader(file, header).ok());
    TssCode code;
    // The SP slot 0x02820000 lies outside this file: a failure, but scanned.
    EXPECT_EQ(ScanTssCode(file, header, code).ok(), !c.spSlot) << c.name;
    std::vector<uint32_t> operands;
    for (const StringRef& ref : code.references) operands.push_back(ref.operand);
    EXPECT_EQ(operands, c.operands) << c.name;
    EXPECT_EQ(code.spFound, c.spSlot.has_value()) << c.name;
    if (c.spSlot) {
      EXPECT_EQ(code.spSlot, *c.spSlot) << c.name;
    }
  }
  // A reference word at the end of the file has no operand to read.
  Bytes cut = ScriptWithCode({0x01000000, 0x02820000});
  cut.resize(32 + 8);
  TssHeader header;
  ASSERT_TRUE(ParseTssHeader(cut, header).ok());
  TssCode code;
  EXPECT_TRUE(ScanTssCode(cut, header, code).ok());
  EXPECT_TRUE(code.references.empty());
}

TEST(TssExtraction, QuadTestFollowsItsThresholds) {
  using W = std::array<uint32_t, 4>;
  EXPECT_TRUE(IsTextQuad(W{0x40, 0x50, 0x60, 0x70}, 0x80, 0x3F));
  EXPECT_FALSE(IsTextQuad(W{0x40, 0x50, 0x60, 0x70}, 0x78, 0x3F));  // 0x70 is not below 0x78 - 8
  EXPECT_FALSE(IsTextQuad(W{0x40, 0x50, 0x60, 0x70}, 0x80, 0x40));  // the first string must lie beyond T
  EXPECT_FALSE(IsTextQuad(W{0x40, 0x240, 0x250, 0x260}, 0x300, 0x3F));  // 512 apart
  EXPECT_TRUE(IsTextQuad(W{0x40, 0x23F, 0x250, 0x260}, 0x300, 0x3F));
  EXPECT_FALSE(IsTextQuad(W{0x40, 0x50, 0x50, 0x70}, 0x80, 0x3F));  // not strictly rising
  EXPECT_TRUE(IsTextQuad(W{0x40, 0x50, 0x60, 0xFFFFFFF0}, 4, 0x3F));  // P - 8 wraps below 8

  // In the file, T follows the strings passed and the last quad: the first
  // quad of SampleScript starts right after the referenced strings.
  TssTestFile tss = MakeTssFile(SampleScript());
  // A second quad whose first string lies inside the first quad is no quad.
  StoreU32BE(tss.bytes.data() + tss.textBase + tss.quadPositions[1], tss.quadPositions[0] + 12);
  const Read read = ReadText(tss.bytes);
  ASSERT_TRUE(read.ok);
  ASSERT_EQ(read.text.quads.size(), 1u);
  EXPECT_EQ(read.text.quads[0].position, 0x48u);
}

TEST(TssExtraction, StringDictionaryIsFoundAnywhereInThePath) {
  EXPECT_TRUE(IsStringDictionary("x/STRING_DIC/a.tss"));
  EXPECT_TRUE(IsStringDictionary("a_STRING_DIC.tss"));
  EXPECT_FALSE(IsStringDictionary("string_dic.tss"));
  EXPECT_FALSE(IsStringDictionary("STRING_DI.tss"));
}

TEST(TssExtraction, RejectsWhatCannotBeReadAndStopsScansAtTheEnd) {
  const TssTestFile good = MakeTssFile(SampleScript());
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* message;  // nullptr: read fine
  };
  const Case cases[] = {
      {"short header", [](Bytes& f) { f.resize(31); }, "\nERROR: truncated TSS header"},
      {"text base", [](Bytes& f) { StoreU32BE(f.data() + 12, uint32_t(f.size() + 1)); },
       "lies beyond the end of the file"},
      {"text base in the header", [](Bytes& f) { StoreU32BE(f.data() + 12, 12); }, "lies inside the header"},
      // The last byte of the file is the low byte of the SP slot's value.
      {"no zero", [&](Bytes& f) {
         StoreU32BE(f.data() + good.referenceWords[1] + 4, uint32_t(f.size()) - 1 - good.textBase);
       },
       "(reference 4) has no terminating zero"},
      {"operand outside", [&](Bytes& f) {
         StoreU32BE(f.data() + 24, 0x7FFFFFFF);
         StoreU32BE(f.data() + good.referenceWords[0] + 4, 0x10000000);
       }, "(reference 4) lies outside the file"},
      {"sp slot outside", [&](Bytes& f) { StoreU32BE(f.data() + good.textBase - 4, 0x01000000); },
       "\nERROR: the TSS SP slot at 0x"},
      {"sp string", [&](Bytes& f) {
         StoreU32BE(f.data() + good.textBase + good.spSlot, uint32_t(f.size()) - 1 - good.textBase);
       }, "(SP string) has no terminating zero"},
      // Scans that run past the end of the file just stop there.
      {"long code scan", [](Bytes& f) { StoreU32BE(f.data() + 20, 0xFFFFFFF0); }, nullptr},
      {"long text size", [](Bytes& f) { StoreU32BE(f.data() + 24, 0xFFFFFFF0); }, nullptr},
  };
  for (const Case& c : cases) {
    Bytes file = good.bytes;
    c.damage(file);
    const Read read = ReadText(file);
    EXPECT_EQ(read.ok, c.message == nullptr) << c.name << ": " << read.console;
    if (c.message) {
      EXPECT_NE(read.console.find(c.message), std::string::npos) << c.name << ": " << read.console;
    } else {
      EXPECT_EQ(read.text.quads.size(), 2u) << c.name;
    }
  }
}

struct Parsed {
  bool ok = false;
  std::string console;
  std::string warnings;  // standard error's lines
  TssEdits edits;
};

Parsed Parse(const TssTestFile& tss, const std::string& dump, bool swap = false, bool stringDictionary = false) {
  Parsed parsed;
  TssHeader header;
  TssCode code;
  EXPECT_TRUE(ParseTssHeader(tss.bytes, header).ok() && ScanTssCode(tss.bytes, header, code).ok());
  TssDumpContext context;
  context.gameCodes = &BuiltInCodeTable();
  context.translatorCodes = &BuiltInCodeTable();
  context.swap = swap;
  context.stringDictionary = stringDictionary;
  support::RecordingReporter recording;
  parsed.ok = ParseTssDump(ToBytes(dump), "s.txt", tss.bytes, header, code, context, parsed.edits);
  parsed.console = recording.output();
  parsed.warnings = recording.notices();
  return parsed;
}

// The fingerprint line of a script as it is now.
std::string FingerprintOf(const TssTestFile& tss) {
  TssHeader header;
  TssCode code;
  EXPECT_TRUE(ParseTssHeader(tss.bytes, header).ok() && ScanTssCode(tss.bytes, header, code).ok());
  return TssFingerprintLine(code);
}

std::vector<std::string> Texts(const TssEdits& edits) {
  std::vector<std::string> texts;
  for (const std::optional<Bytes>& text : edits.references) texts.push_back(text ? ToString(*text) : "-");
  return texts;
}

TEST(TssDump, ReadsItsThreePhasesAndMayBeShortened) {
  const TssTestFile tss = MakeTssFile(SampleScript());
  const std::string dump = "\xEF\xBB\xBF" "a note\r\n" + TssQuadGroup(0x68, {"1", "2", "3", "4"}) +
                           "[END]\r\n\r\n"
                           "[SP]: new sp\r\n[000003]: three\r\n\r\n[3]: skipped\r\n[000000]: \r\n"
                           "[000003]: three again\r\n";
  Parsed parsed = Parse(tss, dump);
  ASSERT_TRUE(parsed.ok) << parsed.console;
  ASSERT_EQ(parsed.edits.quads.size(), 1u);
  EXPECT_EQ(parsed.edits.quads[0].position, 0x68u);
  EXPECT_EQ(ToString(parsed.edits.quads[0].slots[0]), "1");
  EXPECT_EQ(ToString(parsed.edits.quads[0].slots[3]), "4");
  ASSERT_TRUE(parsed.edits.sp);
  EXPECT_EQ(ToString(*parsed.edits.sp), "new sp");
  EXPECT_EQ(Texts(parsed.edits), (std::vector<std::string>{"", "-", "-", "three again", "-"}));

  // The exchange: the JP lines fill slots 2 and 3; references stay apart
  // outside a string dictionary.
  parsed = Parse(tss, TssQuadGroup(0x68, {"1", "2", "3", "4"}) + "[END]\r\n[000000]: a\r\n[000001]: b\r\n", true);
  ASSERT_TRUE(parsed.ok) << parsed.console;
  EXPECT_EQ(ToString(parsed.edits.quads[0].slots[0]), "3");
  EXPECT_EQ(ToString(parsed.edits.quads[0].slots[2]), "1");
  EXPECT_EQ(Texts(parsed.edits), (std::vector<std::string>{"a", "b", "-", "-", "-"}));

  // In a string dictionary, complete pairs exchange their texts.
  const std::string pairs = "[END]\r\n[000000]: a\r\n[000001]: b\r\n[000002]: c\r\n[000004]: e\r\n";
  parsed = Parse(tss, pairs, true, true);
  EXPECT_EQ(Texts(parsed.edits), (std::vector<std::string>{"b", "a", "c", "-", "e"}));
  parsed = Parse(tss, pairs, false, true);
  EXPECT_EQ(Texts(parsed.edits), (std::vector<std::string>{"a", "b", "c", "-", "e"}));

  // An "[SP]" line is taken only right after "[END]"; later it is not read,
  // and the translator is told.
  parsed = Parse(tss, FingerprintOf(tss) + "\r\n[END]\r\n[000001]: b\r\n[SP]: late\r\n");
  EXPECT_EQ(parsed.warnings,
            "WARNING: s.txt line 4 is not read: quad groups stand before \"[END]\" and the \"[SP]\" line right "
            "after it\n");
  ASSERT_TRUE(parsed.ok) << parsed.console;
  EXPECT_FALSE(parsed.edits.sp);
}

TEST(TssDump, RefusesBrokenDumps) {
  const TssTestFile tss = MakeTssFile(SampleScript());
  const std::string group = TssQuadGroup(0x48, {"a", "b", "c", "d"});
  struct Case {
    std::string dump;
    const char* message;
  };
  const Case cases[] = {
      {group + "a note\r\n", "\nERROR: s.txt: its \"[END]\" line is missing; it follows the quad groups"},
      {group + "[000001]: before the end\r\n[END]\r\n", "line 6: \"[END]\" is missing before this line"},
      {"[SP]: x\r\n\r\n[END]\r\n", "\nERROR: s.txt line 1: \"[END]\" is missing before this line"},
      // A line break typed inside a text that no prefix check follows.
      {group.substr(0, group.size() - 2) + "more\r\n[END]\r\n",
       "\nERROR: s.txt line 4: a line break was typed inside its text, and line 5 goes on with it; join the two "
       "lines (a note stands on a line of its own after an empty line)"},
      {"[END]\r\n[SP]: half\r\nrest\r\n", "s.txt line 2: a line break was typed inside its text, and line 3 goes on"},
      {"[END]\r\n[000001]: half\r\n[3]: rest\r\n", "line 2: a line break was typed inside its text, and line 3"},
      {group.substr(0, group.find("[00000048_EN]: d")), "\nERROR: s.txt line 1: the block ends after 3 of its 4 lines"},
      {group.substr(0, group.find("[00000048_EN]: d")) + "[END]\r\n",
       "\nERROR: s.txt line 4 should begin with \"[00000048_EN]: \""},
      {"[00000048_JP]: a\r\n[00000048_JP]\r\n", "\nERROR: s.txt line 2 should begin with \"[00000048_JP]: \""},
      {"[00000048_JP]: a\r\n[00000049_JP]: b\r\n", "line 2 should begin with \"[00000048_JP]: \""},
      {"[00000048_JP]: a\r\n[00000048_JP]:bb\r\n", "line 2 should begin with \"[00000048_JP]: \""},
      {"[00000048_EN]: a\r\n", "line 1 should begin with \"[00000048_JP]: \""},
      {"[0000x048_JP]: a\r\n", "\nERROR: s.txt line 1: a block's first line begins with"},
      {TssQuadGroup(0x4A, {"a", "b", "c", "d"}), "\nERROR: s.txt line 1: 0000004A is not a quad position"},
      {TssQuadGroup(0x1000, {"a", "b", "c", "d"}), "00001000 is not a quad position of this script"},
      {"[END]\r\n[SP]:x\r\n", "\nERROR: s.txt line 2: the SP line must begin with \"[SP]: \""},
      {"[END]\r\n[000005]: x\r\n", "\nERROR: s.txt line 2: reference 000005 does not exist: the script has 5"},
      {"[END]\r\n[00001a]: x\r\n", "line 2: a numbered line must begin with '[', six digits and \"]: \""},
      {"[END]\r\n[000001]:x\r\n", "line 2: a numbered line must begin with"},
      // Tags that fit the string area but name no quad: string bytes, and a
      // quad's tag a word off.
      {TssQuadGroup(0x00, {"a", "b", "c", "d"}),
       "\nERROR: s.txt line 1: 00000000 is not a quad position of this script (its 16 bytes are not four offsets"},
      {TssQuadGroup(0x4C, {"a", "b", "c", "d"}), "0000004C is not a quad position of this script (its 16 bytes"},
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(tss, c.dump);
    EXPECT_FALSE(parsed.ok) << c.dump;
    EXPECT_NE(parsed.console.find(c.message), std::string::npos) << c.dump << "\n" << parsed.console;
  }
}

TEST(TssDump, NumberedLinesNeedTheFingerprintOfTheScript) {
  const TssTestFile tss = MakeTssFile(SampleScript());
  const std::string own = FingerprintOf(tss) + "\r\n\r\n";
  const std::string other = "References: 5, fingerprint 0BADF00D\r\n\r\n";
  const std::string group = TssQuadGroup(0x48, {"a", "b", "c", "d"});
  const char* stale = "\nERROR: s.txt: the dump was made from another state of this script: dump again and copy "
                      "your numbered lines into the new dump";
  const char* missing = "WARNING: s.txt has no \"References:\" line (a dump written by hand or by an older tool)";
  struct Case {
    std::string dump;
    bool ok;
    const char* console;  // on standard output
    const char* warning;  // on standard error
  };
  const Case cases[] = {
      {own + group + "[END]\r\n[000001]: x\r\n", true, "", ""},
      {group + own + "[END]\r\n[000001]: x\r\n", true, "", ""},
      {other + group + "[END]\r\n[000001]: x\r\n", false, stale, ""},
      {other + "[END]\r\n\r\n[SP]: y\r\n[000001]: x\r\n", false, stale, ""},
      // Quad groups and the SP line carry their own places.
      {other + group + "[END]\r\n\r\n[SP]: y\r\n", true, "", ""},
      {group + "[END]\r\n[000001]: x\r\n", true, "", missing},
      {group + "[END]\r\n", true, "", ""},
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(tss, c.dump);
    const std::string& warned = parsed.warnings;
    EXPECT_EQ(parsed.ok, c.ok) << c.dump;
    EXPECT_EQ(parsed.console.find(c.console), 0u) << c.dump << "\n" << parsed.console;
    if (*c.console == 0) {
      EXPECT_EQ(parsed.console, "") << c.dump;
    }
    EXPECT_EQ(warned.find(c.warning), 0u) << c.dump << "\n" << warned;
    if (*c.warning == 0) {
      EXPECT_EQ(warned, "") << c.dump;
    }
  }
}

TEST(TssRebuild, AppendsStringsAndPatchesInOrder) {
  const TssTestFile tss = MakeTssFile(SampleScript());
  // The dump written back unchanged: every place points at a copy of its
  // old text, appended; nothing else but textSize changes.
  const Parsed parsed = Parse(tss, DumpOf(tss.bytes));
  ASSERT_TRUE(parsed.ok) << parsed.console;
  TssHeader header;
  TssCode code;
  ASSERT_TRUE(ParseTssHeader(tss.bytes, header).ok() && ScanTssCode(tss.bytes, header, code).ok());
  Bytes out;
  ASSERT_TRUE(RebuildTss(tss.bytes, header, code, parsed.edits, out).ok());
  const size_t appended = 7 + 7 + 7 + 7 + 2 + 2 + 1 + 2 + 8 + 7 + 6 + 6 + 7 + 7;
  ASSERT_EQ(out.size(), tss.bytes.size() + appended);
  EXPECT_EQ(LoadU32BE(out.data() + 24), out.size() - tss.textBase);
  // The first appended string is the first quad's slot 0.
  EXPECT_EQ(LoadU32BE(out.data() + tss.textBase + 0x48), tss.bytes.size() - tss.textBase);
  const std::vector<std::string> referenced = {"first", "second", "shared", "shared", "first"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(support::TssReferenceText(out, tss.referenceWords[i]), referenced[i]);
    EXPECT_GE(LoadU32BE(out.data() + tss.referenceWords[i] + 4), tss.bytes.size() - tss.textBase);
  }
  EXPECT_EQ(support::TssQuadText(out, 0x68, 3), "d");
  EXPECT_EQ(support::TssSpText(out, tss.spSlot), "sp text");
  Bytes unpatched(out.begin(), out.begin() + std::ptrdiff_t(tss.bytes.size()));
  for (uint32_t word : tss.referenceWords) std::copy_n(tss.bytes.begin() + word + 4, 4, unpatched.begin() + word + 4);
  for (uint32_t position : tss.quadPositions) {
    std::copy_n(tss.bytes.begin() + tss.textBase + position, 16, unpatched.begin() + tss.textBase + position);
  }
  std::copy_n(tss.bytes.begin() + tss.textBase + tss.spSlot, 4, unpatched.begin() + tss.textBase + tss.spSlot);
  std::copy_n(tss.bytes.begin() + 24, 4, unpatched.begin() + 24);
  EXPECT_EQ(unpatched, tss.bytes);

  // A dump made after the insertion lists no quads (their strings now lie
  // after them), and its references are numbered by the new operands.
  const std::string again = DumpOf(out);
  EXPECT_EQ(again.substr(again.find("\r\n\r\n") + 4, 7), "[END]\r\n");

  // What cannot be patched is refused, in the tools' words.
  TssEdits stray = parsed.edits;
  stray.quads[0].position = 0x4A;
  EXPECT_EQ(DescribeTssFailure(RebuildTss(tss.bytes, header, code, stray, out)),
            "\nERROR: 0000004A is not a quad position of this script; nothing was written");
  TssHeader beyond = header;
  beyond.textBase = uint32_t(tss.bytes.size() + 1);
  EXPECT_EQ(DescribeTssFailure(RebuildTss(tss.bytes, beyond, code, parsed.edits, out)),
            "\nERROR: the TSS header or code does not fit the file; nothing was written");
}

// Runs a mode word in `dir`; returns what it printed.
std::string RunMode(const support::TempDir& dir, const char* mode, const std::string& path, DispatchResult expected,
                const char* option = "0") {
  support::ScopedCurrentDirectory inside(dir.path());
  support::RecordingReporter recording;
  EXPECT_EQ(ModeDispatcher(mode, path, option), expected) << mode << " " << path;
  return recording.output();
}

TEST(TssInsertion, RoundTripsThroughBothTablesOnTheCommandLine) {
  support::TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "JPCODES.TXT",
                                     support::CodeTableText({Row("\x82\xA0", "\xE3\x81\x82"), Row("\x0A", "\\n")})));
  ASSERT_TRUE(support::WriteTestFile(dir / "CODES.TXT", support::CodeTableText({Row("\xE2\x80\x9C", "\"")})));
  TssScript script = SampleScript();
  script.quads[0][0] = "\x82\xA0\x0A";
  const TssTestFile tss = MakeTssFile(script);
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.tss", tss.bytes));
  EXPECT_EQ(RunMode(dir, "untss2", "talk.tss", DispatchResult::kSuccess, "utf8"), "");
  std::string dump = ToString(support::ReadTestFile(dir / "talk.txt"));
  const uint32_t quad = tss.quadPositions[0];
  ASSERT_EQ(dump.substr(0, 3), "\xEF\xBB\xBF");
  const size_t quads = dump.find("\r\n\r\n") + 4;
  ASSERT_EQ(dump.substr(quads, 23), TssQuadGroup(quad, {"\xE3\x81\x82\\n", "", "", ""}).substr(0, 23));

  // "tss_switch": the JP lines go to the EN slots; an edited reference.
  dump.replace(dump.find("[000003]: shared"), 16, "[000003]: \xE2\x80\x9Cquoted");
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.txt", dump));
  EXPECT_EQ(RunMode(dir, "tss_switch", "talk.tss", DispatchResult::kSuccess), "");
  const Bytes once = support::ReadTestFile(dir / "talk.tss");
  EXPECT_EQ(support::TssQuadText(once, quad, 2), "\x82\xA0\x0A");
  EXPECT_EQ(support::TssQuadText(once, quad, 0), "en one");
  EXPECT_EQ(support::TssReferenceText(once, tss.referenceWords[2]), "\"quoted");
  EXPECT_EQ(support::TssReferenceText(once, tss.referenceWords[3]), "shared");
  EXPECT_EQ(support::ListDirectory(dir.path()),
            (std::vector<std::string>{"CODES.TXT", "JPCODES.TXT", "talk.tss", "talk.txt"}));

  // No dump: " (missed)", a failure on a direct run, the file untouched.
  std::filesystem::remove(dir / "talk.txt");
  EXPECT_EQ(RunMode(dir, "tss", "talk.tss", DispatchResult::kToolFailed), " (missed)");
  EXPECT_EQ(support::ReadTestFile(dir / "talk.tss"), once);

  // A broken dump, or one an editor saved with LF line ends, leaves the
  // file untouched too.
  for (const char* broken : {"[00000048_JP]: a\r\n", "[END]\n[000000]: a\n"}) {
    ASSERT_TRUE(support::WriteTestFile(dir / "talk.txt", broken));
    EXPECT_NE(RunMode(dir, "tss2", "talk.tss", DispatchResult::kToolFailed), "");
    EXPECT_EQ(support::ReadTestFile(dir / "talk.tss"), once);
  }
  EXPECT_EQ(support::ListDirectory(dir.path()),
            (std::vector<std::string>{"CODES.TXT", "JPCODES.TXT", "talk.tss", "talk.txt"}));
}

TEST(TssInsertion, AShortenedDumpWrittenTwiceIsRefusedTheSecondTime) {
  support::TempDir dir;
  const TssTestFile tss = MakeTssFile(SampleScript());
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.tss", tss.bytes));
  EXPECT_EQ(RunMode(dir, "untss", "talk.tss", DispatchResult::kSuccess), "");
  const std::string full = ToString(support::ReadTestFile(dir / "talk.txt"));
  const std::string head = full.substr(0, full.find("\r\n") + 4);
  const std::string group = TssQuadGroup(tss.quadPositions[0], {"1", "2", "3", "4"});
  // Only reference 1 written back: its new operand lies past the others',
  // so the script's references are numbered anew.
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.txt", head + group + "[END]\r\n\r\n[000001]: edited\r\n"));
  EXPECT_EQ(RunMode(dir, "tss", "talk.tss", DispatchResult::kSuccess), "");
  const Bytes once = support::ReadTestFile(dir / "talk.tss");
  EXPECT_EQ(support::TssReferenceText(once, tss.referenceWords[0]), "edited");
  for (const char* mode : {"tss", "tss_switch", "tss2"}) {
    EXPECT_EQ(RunMode(dir, mode, "talk.tss", DispatchResult::kToolFailed),
              "\nERROR: talk.txt: the dump was made from another state of this script: dump again and copy your "
              "numbered lines into the new dump")
        << mode;
    EXPECT_EQ(support::ReadTestFile(dir / "talk.tss"), once) << mode;
  }
  // Its quad group alone still goes back: the tag names the quad "tss"
  // wrote. A fresh dump takes numbered lines again.
  ASSERT_TRUE(support::WriteTestFile(dir / "talk.txt", head + group + "[END]\r\n"));
  EXPECT_EQ(RunMode(dir, "tss", "talk.tss", DispatchResult::kSuccess), "");
  EXPECT_EQ(RunMode(dir, "untss", "talk.tss", DispatchResult::kSuccess), "");
  EXPECT_EQ(RunMode(dir, "tss", "talk.tss", DispatchResult::kSuccess), "");
}

TEST(TssInsertion, ScriptsWithoutTextAndOtherFilesAreLeftAlone) {
  support::TempDir dir;
  TssTestFile tss = MakeTssFile(SampleScript());
  StoreU32BE(tss.bytes.data() + 24, kTssNoTextSize);
  // Without text the rest of the header is not looked at by either tool.
  StoreU32BE(tss.bytes.data() + 12, 0x10000000);
  ASSERT_TRUE(support::WriteTestFile(dir / "empty.tss", tss.bytes));
  EXPECT_EQ(RunMode(dir, "untss", "empty.tss", DispatchResult::kSuccess), "");
  ASSERT_TRUE(support::WriteTestFile(dir / "empty.txt", "[END]\r\n[000000]: x\r\n"));
  EXPECT_EQ(RunMode(dir, "tss", "empty.tss", DispatchResult::kSuccess), "");
  EXPECT_EQ(support::ReadTestFile(dir / "empty.tss"), tss.bytes);
  EXPECT_EQ(support::ListDirectory(dir.path()), (std::vector<std::string>{"empty.tss", "empty.txt"}));

  ASSERT_TRUE(support::WriteTestFile(dir / "scel.bin", std::string("ZK6SCEL\1 and more", 17)));
  ASSERT_TRUE(support::WriteTestFile(dir / "tiny.bin", std::string("TSS", 3)));
  for (const char* mode : {"untss", "tss2"}) {
    EXPECT_EQ(RunMode(dir, mode, "scel.bin", DispatchResult::kToolFailed), "\nThis is not ZK6SCEL or TSS file");
    EXPECT_EQ(RunMode(dir, mode, "tiny.bin", DispatchResult::kToolFailed), "\nThis is not ZK6SCEL or TSS file");
  }
  EXPECT_EQ(RunMode(dir, "untss", "none.tss", DispatchResult::kToolFailed), "\nCan't open none.tss");

  // A container member that is no script at all and has no dump is missed,
  // not refused; with a dump it is refused.
  TssTables tables;
  Bytes out;
  {
    support::RecordingReporter recording;
    EXPECT_EQ(InsertTssDump(ToBytes("short"), dir / "member.dec", false, tables, out), TssOutcome::kMissed);
    EXPECT_EQ(recording.output(), " (missed)");
  }
  ASSERT_TRUE(support::WriteTestFile(dir / "member.txt", "[END]\r\n"));
  support::RecordingReporter recording;
  EXPECT_EQ(InsertTssDump(ToBytes("short"), dir / "member.dec", false, tables, out), TssOutcome::kFailed);
  EXPECT_EQ(recording.output(), "\nERROR: truncated TSS header");
}

TEST(TssExtraction, AQuadRunningPastTheStringAreaIsNone) {
  TssTestFile tss = MakeTssFile(SampleScript());
  StoreU32BE(tss.bytes.data() + 24, tss.quadPositions.back() + 8);  // textSize ends inside the last quad
  const Read read = ReadText(tss.bytes);
  ASSERT_TRUE(read.ok) << read.console;
  EXPECT_EQ(read.text.quads.size(), tss.quadPositions.size() - 1);
  // So the script's own dump can be written back.
  const Parsed parsed = Parse(tss, DumpOf(tss.bytes));
  EXPECT_TRUE(parsed.ok) << parsed.console;
}

}  // namespace
}  // namespace fpskit
