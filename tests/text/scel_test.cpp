#include "text/scel/scel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "cli/modes.h"
#include "tools/text/scel_tool.h"
#include "support/builders.h"
#include "support/lzss_builder.h"
#include "support/recording_reporter.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"

namespace fpskit {
namespace {

using support::MakeScelContainer;
using support::ReadTestFile;
using support::ScelMemberContents;
using support::ToString;
using support::WriteTestFile;

support::TssTestFile ScriptFile(const std::string& name) {
  support::TssScript script;
  script.strings = {name + " line", name + " other"};
  script.references = {0, 1};
  script.quads = {{name + " jp", "jp 2", name + " en", "en 2"}};
  return support::MakeTssFile(script);
}

Bytes Script(const std::string& name) { return ScriptFile(name).bytes; }

Bytes ScriptWithoutText() {
  Bytes script = Script("none");
  StoreU32BE(script.data() + 24, 32);
  return script;
}

std::string RunMode(const support::TempDir& dir, const char* mode, const std::string& path,
                    DispatchResult expected) {
  support::ScopedCurrentDirectory inside(dir.path());
  support::RecordingReporter recording;
  EXPECT_EQ(ModeDispatcher(mode, path, "0"), expected) << mode;
  return recording.output();
}

std::vector<std::optional<Bytes>> Members(std::vector<Bytes> members) {
  return std::vector<std::optional<Bytes>>(members.begin(), members.end());
}

TEST(ScelRaw, SplitsIntoMemberFilesAndJoinsThemBack) {
  support::TempDir dir;
  const Bytes a = Script("a");
  const Bytes b = support::ScriptLikeBytes(5000, 7);
  const Bytes c = Script("c");
  const Bytes container = MakeScelContainer({a, std::nullopt, b, std::nullopt, c});
  std::filesystem::create_directory(dir / "sub");
  ASSERT_TRUE(WriteTestFile(dir / "sub/scene.scel", container));

  // Empty rows get no number; the files go to sub/scene/, named from the
  // bare file name.
  EXPECT_EQ(RunMode(dir, "untss2", "sub/scene.scel", DispatchResult::kSuccess),
            "\nscene_0000.bin\nscene_0001.bin\nscene_0002.bin");
  EXPECT_EQ(support::ListDirectory(dir / "sub/scene"),
            (std::vector<std::string>{"scene_0000.bin", "scene_0001.bin", "scene_0002.bin"}));
  EXPECT_EQ(ReadTestFile(dir / "sub/scene/scene_0001.bin"), b);

  // Joined back unchanged: the same bytes, as every member is encoded again
  // exactly as before.
  EXPECT_EQ(RunMode(dir, "tss2", "sub/scene.scel", DispatchResult::kSuccess),
            "\n+ scene_0000.bin\n+ scene_0001.bin\n+ scene_0002.bin");
  EXPECT_EQ(ReadTestFile(dir / "sub/scene.scel"), container);

  // An edited member file replaces its member; a missing one keeps it.
  const Bytes edited = support::ScriptLikeBytes(7001, 8);
  ASSERT_TRUE(WriteTestFile(dir / "sub/scene/scene_0001.bin", edited));
  std::filesystem::remove(dir / "sub/scene/scene_0002.bin");
  EXPECT_EQ(RunMode(dir, "tss2", "sub/scene.scel", DispatchResult::kSuccess),
            "\n+ scene_0000.bin\n+ scene_0001.bin\n+ scene_0002.bin");
  const Bytes merged = ReadTestFile(dir / "sub/scene.scel");
  EXPECT_EQ(ScelMemberContents(merged), Members({a, edited, c}));
  EXPECT_EQ(merged.size() % 16, 0u);
  EXPECT_EQ(LoadU32BE(merged.data() + 8), merged.size());
  EXPECT_EQ(LoadU32LE(merged.data() + 24), merged.size());
  // The other header fields, the empty rows and every fourth word as read.
  for (size_t at : {12, 16, 20, 28}) EXPECT_EQ(LoadU32BE(merged.data() + at), LoadU32BE(container.data() + at));
  for (size_t row = 0; row < 6; ++row) {
    const size_t from = 32 + 16 * row + (row % 2 == 1 ? 0 : 12);
    EXPECT_TRUE(std::equal(merged.begin() + from, merged.begin() + 32 + 16 * row + 16, container.begin() + from));
  }
  EXPECT_EQ(support::ListDirectory(dir / "sub"), (std::vector<std::string>{"scene", "scene.scel"}));
}

TEST(ScelRaw, TheContainerDoesNotDependOnTheThreadCount) {
  std::vector<Bytes> members;
  std::vector<std::optional<Bytes>> rows;
  for (uint32_t i = 0; i < 7; ++i) {
    members.push_back(support::ScriptLikeBytes(3000 + 1000 * i, i));
    rows.push_back(members.back());
  }
  rows.insert(rows.begin() + 3, std::nullopt);
  const Bytes container = MakeScelContainer(rows);
  ScelContainer parsed;
  ASSERT_TRUE(ParseScel(container, parsed).ok());
  ASSERT_EQ(parsed.members.size(), 7u);
  for (unsigned workers : {1u, 3u, 8u}) {
    Bytes out;
    ASSERT_TRUE(BuildScel(container, parsed, members, workers, out).ok());
    EXPECT_EQ(out, container) << workers;
  }
}

TEST(ScelText, DumpsEveryMemberAndWritesTheDumpsBack) {
  support::TempDir dir;
  const Bytes a = Script("a");
  const Bytes c = Script("c");
  const Bytes container = MakeScelContainer({a, ScriptWithoutText(), std::nullopt, c});
  ASSERT_TRUE(WriteTestFile(dir / "scene.scel", container));

  // A member without text prints its name and leaves no dump.
  EXPECT_EQ(RunMode(dir, "untss", "scene.scel", DispatchResult::kSuccess),
            "\nscene_0000.txt\nscene_0001.txt\nscene_0002.txt");
  EXPECT_EQ(support::ListDirectory(dir / "scene"), (std::vector<std::string>{"scene_0000.txt", "scene_0002.txt"}));
  std::string dump = ToString(ReadTestFile(dir / "scene/scene_0000.txt"));
  ASSERT_NE(dump.find("[000001]: a other\r\n"), std::string::npos) << dump;
  dump.replace(dump.find("a other"), 7, "a edited");
  ASSERT_TRUE(WriteTestFile(dir / "scene/scene_0000.txt", dump));
  std::filesystem::remove(dir / "scene/scene_0002.txt");

  // A member without a dump goes back as it was, and the merge succeeds.
  EXPECT_EQ(RunMode(dir, "tss", "scene.scel", DispatchResult::kSuccess),
            "\n+ scene_0000.txt\n+ scene_0001.txt\n+ scene_0002.txt (missed)");
  const Bytes merged = ReadTestFile(dir / "scene.scel");
  const std::vector<std::optional<Bytes>> members = ScelMemberContents(merged);
  ASSERT_EQ(members.size(), 3u);
  ASSERT_TRUE(members[0]);
  const support::TssTestFile layout = ScriptFile("a");
  EXPECT_EQ(support::TssReferenceText(*members[0], layout.referenceWords[1]), "a edited");
  EXPECT_EQ(support::TssReferenceText(*members[0], layout.referenceWords[0]), "a line");
  EXPECT_EQ(support::TssQuadText(*members[0], layout.quadPositions[0], 2), "a en");
  EXPECT_GT(members[0]->size(), a.size());
  EXPECT_EQ(members[1], ScriptWithoutText());
  EXPECT_EQ(members[2], c);

  // A broken dump stops the merge; the container stays as it was.
  ASSERT_TRUE(WriteTestFile(dir / "scene/scene_0002.txt", "[END]\r\n[000009]: x\r\n"));
  EXPECT_EQ(RunMode(dir, "tss_switch", "scene.scel", DispatchResult::kToolFailed),
            "\n+ scene_0000.txt\n+ scene_0001.txt\n+ scene_0002.txt"
            "\nERROR: scene/scene_0002.txt line 2: reference 000009 does not exist: the script has 2");
  EXPECT_EQ(ReadTestFile(dir / "scene.scel"), merged);
  EXPECT_EQ(support::ListDirectory(dir.path()), (std::vector<std::string>{"scene", "scene.scel"}));

  // A member dump shortened to one numbered line goes back once; a second
  // time its number would name another reference, and it is refused.
  std::filesystem::remove(dir / "scene/scene_0002.txt");
  const std::string shortened = dump.substr(0, dump.find("\r\n") + 4) + "[END]\r\n\r\n[000000]: a first\r\n";
  ASSERT_TRUE(WriteTestFile(dir / "scene/scene_0000.txt", shortened));
  EXPECT_EQ(RunMode(dir, "tss", "scene.scel", DispatchResult::kSuccess),
            "\n+ scene_0000.txt\n+ scene_0001.txt\n+ scene_0002.txt (missed)");
  const Bytes twice = ReadTestFile(dir / "scene.scel");
  EXPECT_EQ(RunMode(dir, "tss", "scene.scel", DispatchResult::kToolFailed),
            "\n+ scene_0000.txt\nERROR: scene/scene_0000.txt: the dump was made from another state of this script: "
            "dump again and copy your numbered lines into the new dump");
  EXPECT_EQ(ReadTestFile(dir / "scene.scel"), twice);
}

TEST(ScelDamage, BadContainersAreReportedAndNeverReplaced) {
  const Bytes good = MakeScelContainer({Script("a"), Script("b"), Script("c")});
  const uint32_t dataBase = LoadU32BE(good.data() + 20);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* message;
    bool memberLevel;  // the header and table are sound: the split writes the other members
  };
  const Case cases[] = {
      {"header", [](Bytes& f) { f.resize(20); }, "\nERROR: truncated ZK6SCEL header", false},
      {"table", [](Bytes& f) { StoreU32BE(f.data() + 16, 0x40000000); }, "\nERROR: truncated ZK6SCEL member table",
       false},
      {"outside", [](Bytes& f) { StoreU32BE(f.data() + 32 + 16, 0x7FFFFFF0); },
       "\nERROR: ZK6SCEL member 1 (0x", true},
      // The stream header declares one byte more than the tokens give.
      {"short stream", [&](Bytes& f) {
         const uint32_t at = dataBase + LoadU32BE(f.data() + 32 + 16) + 5;
         StoreU32LE(f.data() + at, LoadU32LE(f.data() + at) + 1);
       }, "\nERROR: ZK6SCEL member 1 is damaged", true},
      {"stream cut", [&](Bytes& f) { StoreU32BE(f.data() + 32 + 16 + 4, LoadU32BE(f.data() + 32 + 20) - 3); },
       "\nERROR: ZK6SCEL member 1 is damaged", true},
  };
  for (const Case& c : cases) {
    support::TempDir dir;
    Bytes file = good;
    c.damage(file);
    ASSERT_TRUE(WriteTestFile(dir / "scene.scel", file));
    const std::string split = RunMode(dir, "untss2", "scene.scel", DispatchResult::kToolFailed);
    const std::string merge = RunMode(dir, "tss2", "scene.scel", DispatchResult::kToolFailed);
    if (c.memberLevel) {
      EXPECT_EQ(split.substr(0, 30), "\nscene_0000.bin\nscene_0001.bin") << c.name;
      EXPECT_EQ(split.substr(split.size() - 15), "\nscene_0002.bin") << c.name;
      EXPECT_EQ(merge.substr(0, 34), "\n+ scene_0000.bin\n+ scene_0001.bin") << c.name;
      EXPECT_EQ(support::ListDirectory(dir / "scene"), (std::vector<std::string>{"scene_0000.bin", "scene_0002.bin"}));
    }
    EXPECT_NE(split.find(c.message), std::string::npos) << c.name << ": " << split;
    EXPECT_NE(merge.find(c.message), std::string::npos) << c.name << ": " << merge;
    EXPECT_EQ(ReadTestFile(dir / "scene.scel"), file) << c.name;
    const std::vector<std::string> left =
        c.memberLevel ? std::vector<std::string>{"scene", "scene.scel"} : std::vector<std::string>{"scene.scel"};
    EXPECT_EQ(support::ListDirectory(dir.path()), left) << c.name;
  }

  // A table that runs into the members cannot be written back.
  Bytes overlapping = good;
  StoreU32BE(overlapping.data() + 20, 32 + 16 * 3);
  ScelContainer parsed;
  ASSERT_TRUE(ParseScel(overlapping, parsed).ok());
  Bytes out;
  const ScelFailure failure = BuildScel(overlapping, parsed, std::vector<Bytes>(3), 1, out);
  EXPECT_FALSE(failure.ok());
  EXPECT_EQ(DescribeScelFailure(failure),
            "\nERROR: the ZK6SCEL member table runs past dataBase (0x50); the container cannot be rebuilt");
}

}  // namespace
}  // namespace fpskit
