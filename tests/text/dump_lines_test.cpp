// What every dump format shares: prefixes an editor trimmed, and the backup
// of an edited dump that a new dump would overwrite.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "cli/modes.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/recording_reporter.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"
#include "text/chtx/chtx.h"

namespace fpskit {
namespace {

using support::ReadTestFile;
using support::ToString;
using support::WriteTestFile;

// One game file of each format, with the tools that dump and write it back.
struct GameFile {
  const char* name;
  Bytes bytes;
  const char* dumpMode;
  const char* insertMode;
};

Bytes Chat() {
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("a", "j", "e");
  return chat.Build();
}

support::TssTestFile Script() {
  support::TssScript script;
  script.strings = {"r0", "r1"};
  script.references = {0, 1};
  script.quads = {{"q0", "q1", "q2", "q3"}};
  script.sp = "sp";
  return support::MakeTssFile(script);
}

support::ScfTestFile Table() {
  support::ScfTestEntry entry;
  entry.texts = {"a", "b", "c", "d"};
  return support::MakeScfFile({.entries = {entry}});
}

// Runs a mode in the current directory; standard error goes to `warnings`.
DispatchResult RunMode(const char* mode, const char* path, std::string* warnings = nullptr) {
  support::RecordingReporter console;
  const DispatchResult result = ModeDispatcher(mode, path, "0");
  if (warnings) *warnings = console.notices();
  return result;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST(DumpLines, APrefixThatLostItsFinalSpaceIsAnEmptyText) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  const support::TssTestFile tss = Script();
  const support::ScfTestFile scf = Table();
  const struct {
    GameFile file;
    const char* from;  // a line's prefix and text in the dump
    const char* to;    // the prefix alone, its final space trimmed
    std::function<std::optional<std::string>(ByteSpan)> text;  // the edited string in the file
  } cases[] = {
      {{"c.cht", Chat(), "uncht", "cht"}, "[EN]: e", "[EN]:",
       [](ByteSpan file) {
         ChtxFile chtx;
         if (!ParseChtx(file, chtx).ok()) return std::optional<std::string>();
         return std::optional(ToString(ChtxRecordTextOf(chtx.strings, chtx.records[3]).text));
       }},
      {{"t.scf", scf.bytes, "unscf", "scf"}, "_EN]: d", "_EN]:",
       [&](ByteSpan file) { return support::ScfSlotText(file, scf.tags[0], 3); }},
      {{"s.tss", tss.bytes, "untss", "tss"}, "_EN]: q3", "_EN]:",
       [&](ByteSpan file) { return support::TssQuadText(file, tss.quadPositions[0], 3); }},
      {{"s.tss", tss.bytes, "untss", "tss"}, "[SP]: sp", "[SP]:",
       [&](ByteSpan file) { return support::TssSpText(file, tss.spSlot); }},
      {{"s.tss", tss.bytes, "untss", "tss"}, "[000001]: r1", "[000001]:",
       [&](ByteSpan file) { return support::TssReferenceText(file, tss.referenceWords[1]); }},
  };
  for (const auto& c : cases) {
    const GameFile& game = c.file;
    ASSERT_TRUE(WriteTestFile(game.name, game.bytes));
    ASSERT_EQ(RunMode(game.dumpMode, game.name), DispatchResult::kSuccess);
    const std::string dumpName = std::string(game.name).substr(0, 2) + "txt";
    std::string dump = ToString(ReadTestFile(dumpName));
    Replace(dump, c.from, c.to);
    ASSERT_TRUE(WriteTestFile(dumpName, dump));
    EXPECT_EQ(RunMode(game.insertMode, game.name), DispatchResult::kSuccess) << c.to;
    EXPECT_EQ(c.text(ReadTestFile(game.name)), "") << c.to;
  }
}

TEST(DumpLines, AnEditedDumpIsKeptBeforeANewDumpReplacesIt) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  const GameFile files[] = {
      {"c.cht", Chat(), "uncht", "cht"},
      {"s.tss", Script().bytes, "untss", "tss"},
      {"t.scf", Table().bytes, "unscf", "scf"},  // written block by block
  };
  for (const GameFile& game : files) {
    const std::string dumpName = std::string(game.name).substr(0, 2) + "txt";
    const std::string backup = dumpName + ".bak";
    ASSERT_TRUE(WriteTestFile(game.name, game.bytes));
    ASSERT_EQ(RunMode(game.dumpMode, game.name), DispatchResult::kSuccess);
    const Bytes fresh = ReadTestFile(dumpName);
    const std::string edited = ToString(fresh) + "\r\nmy notes\r\n";
    ASSERT_TRUE(WriteTestFile(dumpName, edited));
    std::string warnings;
    ASSERT_EQ(RunMode(game.dumpMode, game.name, &warnings), DispatchResult::kSuccess);
    EXPECT_NE(warnings.find("NOTE: " + dumpName + " differs from what is written over it now; the earlier file is "
                            "kept as " + backup + "\n"),
              std::string::npos)
        << warnings;
    EXPECT_EQ(ReadTestFile(dumpName), fresh);
    EXPECT_EQ(ToString(ReadTestFile(backup)), edited);
    // The same dump again keeps no backup, so the edited one stays.
    ASSERT_EQ(RunMode(game.dumpMode, game.name, &warnings), DispatchResult::kSuccess);
    EXPECT_EQ(warnings.find(" differs "), std::string::npos) << warnings;
    EXPECT_EQ(ToString(ReadTestFile(backup)), edited);
  }
  // A backup that cannot be written leaves the edited dump where it is.
  ASSERT_TRUE(WriteTestFile("c.txt", std::string("edited\r\n")));
  ASSERT_TRUE(std::filesystem::remove("c.txt.bak"));
  std::filesystem::create_directory("c.txt.bak");
  EXPECT_EQ(RunMode("uncht", "c.cht"), DispatchResult::kToolFailed);
  EXPECT_EQ(ToString(ReadTestFile("c.txt")), "edited\r\n");
}

}  // namespace
}  // namespace fpskit
