// Writes the demo's sample inputs into a directory: code tables and synthetic
// game files built by the same builders as the tests.
#include <cstdio>
#include <string>

#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "support/tss_builder.h"
#include "util/files.h"

using namespace fpskit;
using namespace fpskit::support;

namespace {

// A small chat file: a leading string and three entries (a speaker, the
// Japanese line, the English line). The text is written here in UTF-8 and
// turned into the game's bytes through the game's own table, so the dump
// shows it as written. The third entry repeats the first speaker's name and
// has one untranslated line in both slots; both are stored once and shared.
Bytes ChatSample(const std::vector<CodeTableEntry>& game) {
  const CodeTable table = MakeCodeTable(game);
  ChtxBuilder chat;
  auto text = [&](std::string_view utf8) { return chat.String(ConvertSequences(ToBytes(utf8), true, table)); };
  text("チャット");
  const uint32_t taro = text("タロウ");
  const uint32_t morning = text("おはよう！\\n今日もいい天気だね。");
  chat.Entry(taro, morning, text("Good morning!\\nNice weather again today."), 1);
  const uint32_t hanako = text("ハナコ");
  const uint32_t go = text("うん、出かけよう。");
  chat.Entry(hanako, go, text("Yes, let's go out."), 2);
  const uint32_t silence = text("……");
  chat.Entry(taro, silence, silence, 3);
  return chat.Build();
}

// The sample archive "field.dat" (12-byte entries, members at 2048-byte
// steps): a plain member, the chat file, a TLZC-compressed member, a nested
// archive with named members, a texture pair (a DXT1 sign and an A8R8G8B8
// glow) and a last plain member.
Bytes ArchiveSample(const Bytes& chat) {
  Fps4Layout menu;
  menu.entrySize = 16;
  menu.members = {Member(ToBytes("title screen layout\n"), "name=menu/title x=0 y=0"),
                  Member(ToBytes("icon strip\n"), "name=menu/icons")};
  TxmLayout txm;
  txm.textures = {{8, 8, 1, 1, TxmFormatBytes(6, 4), "sign", 0},
                  {4, 4, 1, 1, TxmFormatBytes(5, 4), "glow", 32}};
  Bytes pixels = RandomBytes(32, 5);  // 8 x 8 DXT1: four 8-byte blocks
  for (uint32_t i = 0; i < 16; ++i) AppendU32BE(pixels, 0xFF000000u | (i * 0x101010u));  // 4 x 4, stored A R G B
  Fps4Layout field;
  field.members = {Member(ToBytes("Field data, stored as it is.\n")),
                   Member(chat),
                   Member(CompressTlzc(MixedGameData(100000, 11))),
                   Member(BuildFps4(menu)),
                   Member(BuildTxm(txm)),
                   Member(pixels),
                   Member(ToBytes("The last member.\n"))};
  return BuildFps4(field);
}

}  // namespace

// A SCFOMBIN file with two entries: a 24-byte one with all four slots, and a
// 20-byte one whose second Japanese and second English slots are empty. The
// Japanese text is Shift-JIS, with a 0A line break.
bool WriteScfSample(const std::string& dir) {
  ScfTestEntry greeting;
  greeting.texts = {"\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD",                  // konnichiwa
                    "\x82\xE6\x82\xA4\x82\xB1\x82\xBB\x81\x41\x0A"               // youkoso,
                    "\x97\xB7\x82\xCC\x90\x6C\x81\x42",                          // tabi no hito.
                    "Hello!", "Welcome,\ntraveller."};
  ScfTestEntry farewell;
  farewell.shortForm = true;
  farewell.texts = {"\x82\xDC\x82\xBD\x89\xEF\x82\xA8\x82\xA4", std::nullopt,  // mata aou
                    "See you again.", std::nullopt};
  ScfLayout layout;
  layout.entries = {greeting, farewell};
  const ScfTestFile scf = MakeScfFile(layout);
  const bool ok = WriteTestFile(dir + "/dialog.scf", scf.bytes);
  std::printf("%s %s/dialog.scf (SCFOMBIN, %zu bytes, %zu entries)\n", ok ? "wrote" : "FAILED writing", dir.c_str(),
              scf.bytes.size(), scf.tags.size());
  return ok;
}

// A script container with three members: a scene with two text quads, an SP
// string and referenced lines; a script without text; and a short one. As
// in the chat sample, the text is written in UTF-8 and stored as the game's
// bytes.
bool WriteScriptSample(const std::string& dir, const std::vector<CodeTableEntry>& game) {
  const CodeTable table = MakeCodeTable(game);
  auto bytes = [&](std::string_view utf8) { return ToString(ConvertSequences(ToBytes(utf8), true, table)); };
  TssScript scene;
  scene.strings = {bytes("ミレラ"), bytes("トーヴェン"), "This way!"};
  scene.references = {0, 1, 2, 0};
  scene.quads = {{bytes("港はもうすぐだ。"), bytes("急ごう。"), "The harbour is close now.", "Let's hurry."},
                 {bytes("船は出たのか？"), bytes("まだだよ。"), "Has the ship left?", "Not yet."}};
  scene.sp = bytes("第一章　港町");
  TssScript quiet;
  quiet.strings = {"x"};
  quiet.references = {0};
  Bytes noText = MakeTssFile(quiet).bytes;
  StoreU32BE(noText.data() + 24, 32);  // a script without text
  TssScript sign;
  sign.strings = {bytes("灯台まで２キロ"), "Lighthouse 2 km"};
  sign.references = {0, 1};
  const Bytes container = MakeScelContainer({MakeTssFile(scene).bytes, std::nullopt, noText, MakeTssFile(sign).bytes});
  const bool ok = WriteTestFile(dir + "/scene.scel", container);
  std::printf("%s %s/scene.scel (ZK6SCEL, %zu bytes, 3 members)\n", ok ? "wrote" : "FAILED writing", dir.c_str(),
              container.size());
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: make_samples DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (!MakeDirectory(dir)) {
    std::printf("cannot create %s\n", dir.c_str());
    return 1;
  }
  // The game's table: Shift-JIS double-byte codes and ASCII to UTF-8, and a
  // line-break control code shown as "\n" in dumps.
  std::vector<CodeTableEntry> game = ShiftJisRows();
  game.insert(game.begin(), Row("\x0A", "\\n"));
  // The translator's table: typographic quotes typed in the dump become the
  // game's plain ones.
  const std::vector<CodeTableEntry> translator = {Row("\xE2\x80\x9C", "\""), Row("\xE2\x80\x9D", "\"")};
  bool ok = WriteTestFile(dir + "/JPCODES.TXT", CodeTableText(game, true)) &&
            WriteTestFile(dir + "/CODES.TXT", CodeTableText(translator));
  std::printf("%s %s/JPCODES.TXT (%zu rows), %s/CODES.TXT (%zu rows)\n", ok ? "wrote" : "FAILED writing",
              dir.c_str(), game.size(), dir.c_str(), translator.size());
  const Bytes chatBytes = ChatSample(game);
  const bool chat = WriteTestFile(dir + "/chat.ZK6CHTX", chatBytes);
  std::printf("%s %s/chat.ZK6CHTX\n", chat ? "wrote" : "FAILED writing", dir.c_str());
  ok = chat && ok;
  const Bytes archive = ArchiveSample(chatBytes);
  const bool field = WriteTestFile(dir + "/field.dat", archive);
  std::printf("%s %s/field.dat (FPS4, %zu bytes, 7 members)\n", field ? "wrote" : "FAILED writing", dir.c_str(),
              archive.size());
  ok = field && ok;
  ok = WriteScriptSample(dir, game) && ok;
  ok = WriteScfSample(dir) && ok;
  return ok ? 0 : 1;
}
