// "dump2po" and "po2dump", judged by the gettext tools: every catalog passes
// "msgfmt -c", "msgcat --no-wrap" keeps it as it is, an unedited catalog
// gives back its dump byte for byte, and a catalog edited the way
// translation platforms save it applies the same translations.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/run_tool.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"

namespace fpskit {
namespace {

using support::ReadTestFile;
using support::RunTool;
using support::ToolRun;
using support::ToString;
using support::WriteTestFile;

bool HaveGettext() { return RunTool("sh", {"-c", "command -v msgfmt && command -v msgcat && command -v msgmerge"}).status == 0; }

// The game's line break (byte 0A) shows as "\n" in the dumps.
void WriteTables(const support::TempDir& dir) {
  ASSERT_TRUE(WriteTestFile(dir / "JPCODES.TXT", support::CodeTableText({support::Row("\n", "\\n")})));
}

ToolRun Fpskit(const support::TempDir& dir, std::vector<std::string> arguments) {
  return RunTool(FPSKIT_BINARY, arguments, dir.path());
}

Bytes Chat() {
  support::ChtxBuilder chat;
  chat.String("lead");
  chat.Entry("Mira", "おはよう\nございます", "Good\nmorning");
  chat.Entry("Tobin", "まだ", "");        // untranslated: empty
  chat.Entry("Tobin", "同じ", "同じ");    // untranslated: the same text
  chat.Entry("Mira", "\n始め", "Start");  // breaks disagree: fuzzy
  return chat.Build();
}

Bytes Script() {
  support::TssScript script;
  script.strings = {"参照\nひとつ", "参照ふたつ"};
  script.references = {0, 1, 0};
  script.quads = {{"名前", "本文\n二行", "Name", "Body\ntwo lines"}};
  script.sp = "エスピー";
  return support::MakeTssFile(script).bytes;
}

Bytes Scf() {
  support::ScfLayout layout;
  support::ScfTestEntry entry;
  entry.texts = {"表", "裏\n行", "Front", std::nullopt};
  layout.entries = {entry, entry};
  return support::MakeScfFile(layout).bytes;
}

TEST(DumpToPo, CatalogsPassTheGettextToolsAndComeBackUnchanged) {
  if (!HaveGettext()) GTEST_SKIP() << "the gettext tools are not installed";
  struct Case {
    const char* file;
    Bytes bytes;
    const char* dumpMode;
    const char* option;
    const char* catalog;
    std::string expected;  // an entry the catalog holds
  };
  const Case cases[] = {
      {"chat.cht", Chat(), "uncht", "0", "chat.po",
       "#. speaker: Mira\n#: chat.txt:4\nmsgctxt \"entry 0\"\nmsgid \"\"\n\"おはよう\\n\"\n\"ございます\"\nmsgstr \"\"\n"
       "\"Good\\n\"\n\"morning\"\n"},
      {"chat.cht", Chat(), "uncht", "0", "chat.po", "#, fuzzy\nmsgctxt \"entry 3\"\nmsgid \"\"\n\"\\n\"\n\"始め\"\n"},
      {"chat.cht", Chat(), "uncht", "0", "chat.po", "msgctxt \"entry 2\"\nmsgid \"同じ\"\nmsgstr \"\"\n"},
      {"chat.cht", Chat(), "uncht", "en", "chat.po",
       "#. JP: おはよう\\nございます\n#: chat.txt:5\nmsgctxt \"entry 0\"\nmsgid \"\"\n\"Good\\n\"\n\"morning\"\nmsgstr \"\"\n"},
      {"chat.cht", Chat(), "uncht", "pot", "chat.pot", "msgid \"\"\n\"おはよう\\n\"\n\"ございます\"\nmsgstr \"\"\n"},
      {"main.tss", Script(), "untss", "0", "main.po",
       "#. other JP: 名前\n#. other EN: Name\n#: main.txt:4\nmsgctxt \"quad 00000054.1\"\nmsgid \"\"\n\"本文\\n\"\n"
       "\"二行\"\nmsgstr \"\"\n\"Body\\n\"\n\"two lines\"\n"},
      {"main.tss", Script(), "untss", "0", "main.po", "msgctxt \"SP\"\nmsgid \"エスピー\"\nmsgstr \"\"\n"},
      {"main.tss", Script(), "untss", "0", "main.po", "msgctxt \"line 000001\"\nmsgid \"\"\n\"参照\\n\"\n\"ひとつ\"\n"},
      // A string dictionary's lines 0 and 1 are one pair.
      {"STRING_DIC.tss", Script(), "untss", "0", "STRING_DIC.po",
       "#: STRING_DIC.txt:12\nmsgctxt \"line 000000\"\nmsgid \"\"\n\"参照\\n\"\n\"ひとつ\"\nmsgstr \"\"\n\n"
       "#: STRING_DIC.txt:15\nmsgctxt \"line 000002\"\n"},
      {"scene.scel", support::MakeScelContainer({Script(), std::nullopt, Script()}), "untss", "0", "scene.po",
       "#: scene/scene_0001.txt:10\nmsgctxt \"0001/SP\"\n"},
      {"table.scf", Scf(), "unscf", "0", "table.po", "msgctxt \"block 00001A90.1\"\nmsgid \"\"\n\"裏\\n\"\n\"行\"\nmsgstr \"\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.option + ": " + c.expected);
    support::TempDir dir;
    WriteTables(dir);
    ASSERT_TRUE(WriteTestFile(dir / c.file, c.bytes));
    ASSERT_EQ(Fpskit(dir, {c.dumpMode, c.file}).status, 0);
    const support::TreeSnapshot dumps = support::SnapshotTree(dir.path());
    const ToolRun made = Fpskit(dir, {"dump2po", c.file, c.option});
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string catalog = ToString(ReadTestFile(dir / c.catalog));
    EXPECT_NE(catalog.find(c.expected), std::string::npos) << catalog;
    EXPECT_NE(catalog.find("\"X-Generator: fpskit " FPSKIT_VERSION "\\n\"\n"), std::string::npos);
    const ToolRun check = RunTool("msgfmt", {"-c", "-o", "/dev/null", c.catalog}, dir.path());
    EXPECT_EQ(check.status, 0) << check.output;
    ASSERT_EQ(RunTool("msgcat", {"--no-wrap", "-o", "again.po", c.catalog}, dir.path()).status, 0);
    EXPECT_EQ(ToString(ReadTestFile(dir / "again.po")), catalog);
    // Written back unchanged, the catalog changes no byte of any dump.
    if (std::string(c.option) != "pot") {
      const ToolRun back = Fpskit(dir, {"po2dump", c.file});
      EXPECT_EQ(back.status, 0) << back.output;
      support::TreeSnapshot after = support::SnapshotTree(dir.path());
      after.erase(c.catalog);
      after.erase("again.po");
      EXPECT_EQ(after, dumps);
    }
  }
}

TEST(DumpToPo, RefusesWhatACatalogCannotCarry) {
  struct Case {
    const char* file;
    Bytes bytes;
    std::string dump;
    std::string message;
  };
  const Case cases[] = {
      {"chat.cht", Chat(), "lead\r\n\r\nMira\r\n[JP]: \xE3\x81\r\n[EN]: x\r\n", "chat.txt line 4: is not valid UTF-8"},
      {"chat.cht", Chat(), "lead\r\n\r\nMira\r\n[JP]: a\x01z\r\n[EN]: x\r\n",
       "chat.txt line 4: holds the control byte 01"},
      {"chat.cht", Chat(), "lead\r\n\r\nMira\r\n[EN]: a\r\n[EN]: x\r\n", "chat.txt line 4: should begin with \"[JP]: \""},
      {"main.tss", Script(), "[END]\r\n\r\n[000000]: a\r\nb\r\n", "main.txt line 4: continues the text of line 3"},
      {"main.tss", Script(), "[END]\r\n[000000]: a\r\n[000000]: b\r\n", "main.txt line 3: repeats \"line 000000\" of line 2"},
  };
  for (const Case& c : cases) {
    support::TempDir dir;
    WriteTables(dir);
    ASSERT_TRUE(WriteTestFile(dir / c.file, c.bytes));
    const std::string dumpName = std::string(c.file).substr(0, std::string(c.file).find('.'));
    ASSERT_TRUE(WriteTestFile(dir / (dumpName + ".txt"), c.dump));
    const ToolRun run = Fpskit(dir, {"dump2po", c.file});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_TRUE(ReadTestFile(dir / (dumpName + ".po")).empty());
  }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string CrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(PoToDump, AppliesTranslationsByKeyAndRefusesStaleOnes) {
  const std::string entry1 = "msgctxt \"entry 1\"\nmsgid \"まだ\"\nmsgstr \"\"\n";
  const std::string translated = "msgctxt \"entry 1\"\nmsgid \"まだ\"\nmsgstr \"Not\\n\"\n\"yet\"\n";
  struct Case {
    const char* name;
    std::function<std::string(const std::string&)> edit;
    const char* option;
    int status;
    std::string expected;  // the dump's line 9, or a message
  };
  const Case cases[] = {
      {"plain edit", [&](const std::string& po) { return Replace(po, entry1, translated); }, "0", 0, "[EN]: Not\\nyet"},
      {"as a platform saves it: BOM, CR LF, split anywhere, reordered, obsolete and previous entries",
       [&](const std::string& po) {
         const std::string header = po.substr(0, po.find("\n\n") + 2);
         const std::string rest = Replace(po.substr(header.size()), entry1, "");
         return "\xEF\xBB\xBF" + CrLf(header + "#, fuzzy\n#~ msgctxt \"entry 1\"\n#~ msgid \"old\"\n#~ msgstr \"x\"\n\n" +
                                      "#| msgid \"older\"\nmsgctxt \"entry \" \"1\"\nmsgid \"ま\"\n  \"だ\"\nmsgstr "
                                      "\"No\"\n\"t\\n\"\n\"yet\"\n\n" + rest);
       },
       "0", 0, "[EN]: Not\\nyet"},
      {"empty msgstr keeps the line", [](const std::string& po) { return po; }, "0", 0, "[EN]: "},
      {"fuzzy is skipped", [&](const std::string& po) { return Replace(po, entry1, "#, fuzzy\n" + translated); }, "0",
       0, "[EN]: "},
      {"fuzzy applied on request",
       [&](const std::string& po) { return Replace(po, entry1, "#, fuzzy\n" + translated); }, "fuzzy", 0,
       "[EN]: Not\\nyet"},
      {"stale", [&](const std::string& po) { return Replace(po, entry1, Replace(translated, "まだ", "もう")); }, "0", 1,
       "chat.po line 29: \"entry 1\" was made from another text than chat.txt line 8 now holds"},
      {"unknown key", [&](const std::string& po) { return Replace(po, entry1, Replace(translated, "entry 1", "entry 9")); },
       "0", 1, "chat.po line 29: \"entry 9\" is not in the dump"},
      {"syntax", [&](const std::string& po) { return Replace(po, entry1, "msgid \"a\nmsgstr \"\"\n"); }, "0", 1,
       "chat.po line 28: the string is not closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    support::TempDir dir;
    WriteTables(dir);
    ASSERT_TRUE(WriteTestFile(dir / "chat.cht", Chat()));
    ASSERT_EQ(Fpskit(dir, {"uncht", "chat.cht"}).status, 0);
    ASSERT_EQ(Fpskit(dir, {"dump2po", "chat.cht"}).status, 0);
    const std::string po = ToString(ReadTestFile(dir / "chat.po"));
    ASSERT_NE(po.find(entry1), std::string::npos);
    const Bytes dump = ReadTestFile(dir / "chat.txt");
    ASSERT_TRUE(WriteTestFile(dir / "chat.po", c.edit(po)));
    const ToolRun run = Fpskit(dir, {"po2dump", "chat.cht", c.option});
    EXPECT_EQ(run.status, c.status) << run.output;
    if (c.status != 0) {
      EXPECT_NE(run.output.find(c.expected), std::string::npos) << run.output;
      EXPECT_EQ(ReadTestFile(dir / "chat.txt"), dump);
      continue;
    }
    const std::string edited = ToString(ReadTestFile(dir / "chat.txt"));
    EXPECT_NE(edited.find("\r\n[JP]: まだ\r\n" + c.expected + "\r\n"), std::string::npos) << edited;
    // A dump that changed is kept first; one that did not is not touched.
    EXPECT_EQ(ReadTestFile(dir / "chat.txt.bak"), ToString(dump) == edited ? Bytes() : dump);
    // The dump goes back into the chat file through "cht" as before.
    EXPECT_EQ(Fpskit(dir, {"cht", "chat.cht"}).status, 0);
  }
}

TEST(PoToDump, MsgmergeCarriesTranslationsIntoANewVersion) {
  if (!HaveGettext()) GTEST_SKIP() << "the gettext tools are not installed";
  support::TempDir dir;
  WriteTables(dir);
  ASSERT_TRUE(WriteTestFile(dir / "chat.cht", Chat()));
  ASSERT_EQ(Fpskit(dir, {"uncht", "chat.cht"}).status, 0);
  ASSERT_EQ(Fpskit(dir, {"dump2po", "chat.cht"}).status, 0);
  const std::string po = ToString(ReadTestFile(dir / "chat.po"));
  ASSERT_TRUE(WriteTestFile(dir / "chat.po", Replace(po, "msgid \"まだ\"\nmsgstr \"\"", "msgid \"まだ\"\nmsgstr \"Not yet\"")));

  // The new version changes the first entry's text.
  support::ChtxBuilder next;
  next.String("lead");
  next.Entry("Mira", "おはよう\nございます!", "Good\nmorning");
  next.Entry("Tobin", "まだ", "");
  next.Entry("Tobin", "同じ", "同じ");
  next.Entry("Mira", "\n始め", "Start");
  ASSERT_TRUE(WriteTestFile(dir / "chat.cht", next.Build()));
  ASSERT_EQ(Fpskit(dir, {"uncht", "chat.cht"}).status, 0);
  ASSERT_EQ(Fpskit(dir, {"dump2po", "chat.cht", "pot"}).status, 0);
  const ToolRun merged = RunTool("msgmerge", {"--no-wrap", "-q", "-U", "chat.po", "chat.pot"}, dir.path());
  ASSERT_EQ(merged.status, 0) << merged.output;
  EXPECT_EQ(RunTool("msgfmt", {"-c", "-o", "/dev/null", "chat.po"}, dir.path()).status, 0);
  const ToolRun back = Fpskit(dir, {"po2dump", "chat.cht"});
  ASSERT_EQ(back.status, 0) << back.output;
  const std::string dump = ToString(ReadTestFile(dir / "chat.txt"));
  EXPECT_NE(dump.find("[JP]: まだ\r\n[EN]: Not yet\r\n"), std::string::npos) << dump;
  // The changed text's old translation is fuzzy now and not applied.
  EXPECT_NE(dump.find("[JP]: おはよう\\nございます!\r\n[EN]: Good\\nmorning\r\n"), std::string::npos) << dump;
}

// The dates of a catalog's header, which two runs a minute apart write
// differently, left out.
support::TreeSnapshot WithoutDates(support::TreeSnapshot tree) {
  for (auto& [name, text] : tree) {
    for (const char* field : {"POT-Creation-Date: ", "PO-Revision-Date: "}) {
      const size_t at = text.find(field);
      if (at != std::string::npos) text.erase(at, text.find("\\n", at) - at);
    }
  }
  return tree;
}

// "dump2po DIR" and "po2dump DIR" do what the single-file words do to every
// game text file of a tree, pass over a file without its dump or PO file, and
// a stale catalog fails its own file only.
TEST(PoTree, DoesWhatTheSingleFileWordsDo) {
  struct Case {
    const char* file;
    Bytes bytes;
    const char* dumped;  // its line of the "dump2po" run
    std::string from, to;  // the edit made to its catalog
    const char* applied;   // its line of the "po2dump" run, and what follows
  };
  const Case cases[] = {
      {"a/chat.cht", Chat(), "written", "msgid \"まだ\"\nmsgstr \"\"", "msgid \"まだ\"\nmsgstr \"Not yet\"", "written"},
      {"a/main.tss", Script(), "written", "msgid \"エスピー\"\nmsgstr \"\"", "msgid \"別\"\nmsgstr \"Espy\"",
       "failed\nERROR: tree/a/main.po line "},
      {"b/other.cht", Chat(), "no dump", "", "", "no PO file"},
      {"b/table.scf", Scf(), "written", "", "", "unchanged"},
  };
  namespace fs = std::filesystem;
  support::TempDir dir;
  WriteTables(dir);
  for (const Case& c : cases) {
    fs::create_directories(fs::path(dir / (std::string("tree/") + c.file)).parent_path());
    ASSERT_TRUE(WriteTestFile(dir / (std::string("tree/") + c.file), c.bytes));
  }
  ASSERT_EQ(Fpskit(dir, {"dump", "tree"}).status, 0);
  ASSERT_TRUE(fs::remove(dir / "tree/b/other.txt"));
  fs::copy(dir / "tree", dir / "single", fs::copy_options::recursive);

  const ToolRun made = Fpskit(dir, {"dump2po", "tree"});
  EXPECT_EQ(made.status, 0) << made.output;
  EXPECT_NE(made.output.find("\n4 files: 3 written, 0 unchanged, 1 without a dump, 0 failed"), std::string::npos)
      << made.output;
  for (const Case& c : cases) {
    EXPECT_NE(made.output.find(std::string("\ntree/") + c.file + ": " + c.dumped), std::string::npos) << made.output;
    if (std::string(c.dumped) == "no dump") continue;
    EXPECT_EQ(Fpskit(dir, {"dump2po", std::string("single/") + c.file}).status, 0) << c.file;
    for (const char* root : {"tree/", "single/"}) {
      const std::string catalog = dir / (root + std::string(c.file).substr(0, std::string(c.file).size() - 4) + ".po");
      ASSERT_TRUE(WriteTestFile(catalog, Replace(ToString(ReadTestFile(catalog)), c.from, c.to)));
    }
  }
  EXPECT_EQ(WithoutDates(support::SnapshotTree(dir / "tree")), WithoutDates(support::SnapshotTree(dir / "single")));

  const ToolRun applied = Fpskit(dir, {"po2dump", "tree"});
  EXPECT_EQ(applied.status, 1) << applied.output;
  EXPECT_NE(applied.output.find("\n4 files: 1 written, 1 unchanged, 1 without a PO file, 1 failed"), std::string::npos)
      << applied.output;
  for (const Case& c : cases) {
    EXPECT_NE(applied.output.find(std::string("\ntree/") + c.file + ": " + c.applied), std::string::npos)
        << applied.output;
    if (std::string(c.dumped) == "no dump") continue;
    const bool failed = std::string(c.applied).starts_with("failed");
    EXPECT_EQ(Fpskit(dir, {"po2dump", std::string("single/") + c.file}).status, failed ? 1 : 0) << c.file;
  }
  EXPECT_NE(ToString(ReadTestFile(dir / "tree/a/chat.txt")).find("[JP]: まだ\r\n[EN]: Not yet\r\n"), std::string::npos);
  EXPECT_EQ(WithoutDates(support::SnapshotTree(dir / "tree")), WithoutDates(support::SnapshotTree(dir / "single")));
}

}  // namespace
}  // namespace fpskit
