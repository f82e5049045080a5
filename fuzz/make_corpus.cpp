// Writes the seed corpora of the fuzz targets: make_corpus DIRECTORY writes
// DIRECTORY/<target>/<seed> for every target (fuzz/corpus/ in the
// repository). The seeds are small game files made by the test builders,
// whole and damaged, so that fuzzing starts from inputs that pass the magic
// and header checks, and the replays in the test command cover the parsers'
// real paths. Inputs that once crashed a target are added beside them by
// hand, under libFuzzer's own names, and are never rewritten by this program.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "compress/lzss.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/lzss_builder.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "support/tss_builder.h"
#include "text/po/catalog.h"
#include "texture/dds.h"
#include "texture/txm.h"

using namespace fpskit;
using namespace fpskit::support;

namespace {

using Seeds = std::map<std::string, Bytes>;

// The whole file, then the same file cut at a few points (inside the header,
// inside the table, one byte short), so that each seed's truncation paths are
// replayed too.
void AddWithCuts(Seeds& seeds, const std::string& name, const Bytes& file, std::initializer_list<size_t> cuts) {
  seeds[name] = file;
  for (size_t cut : cuts) {
    if (cut >= file.size()) continue;
    seeds[name + "-cut" + std::to_string(cut)] = Bytes(file.begin(), file.begin() + ptrdiff_t(cut));
  }
  if (!file.empty()) seeds[name + "-short1"] = Bytes(file.begin(), file.end() - 1);
}

Seeds ChtxSeeds() {
  Seeds seeds;
  ChtxBuilder empty;
  empty.String("lead");
  AddWithCuts(seeds, "only-lead", empty.Build(), {6, 24});

  ChtxBuilder two;
  two.String("lead");
  two.Entry("speaker", "jp line", "en line", 1).Entry("other", "jp two", "en two", 2);
  AddWithCuts(seeds, "two-entries", two.Build(), {12, 30, 40});

  ChtxBuilder shared;
  shared.String("lead");
  const uint32_t same = shared.String("same");
  shared.Entry(same, same, same).Entry(0, same, 0);
  AddWithCuts(seeds, "shared-strings", shared.Build(), {});

  ChtxBuilder padded;
  padded.String("L");
  const uint32_t ab = padded.String("ab");
  padded.Padding(3);
  const uint32_t cd = padded.String("cd");
  padded.Padding(2, 'x');
  padded.Entry(cd, ab, cd).Gap(8);
  AddWithCuts(seeds, "padding-and-gap", padded.Build(), {});

  ChtxBuilder split;
  split.String("lead");
  split.Entry("a<||>b", "one\r\ntwo", "");
  AddWithCuts(seeds, "split-lines", split.Build(), {});

  const std::vector<CodeTableEntry> rows = ShiftJisRows();
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    AddWithCuts(seeds, "shift-jis-" + std::to_string(seed), MakeShiftJisChat(400 * seed, seed, rows), {100});
  }
  // A dump: the target also reads its input as one.
  seeds["dump-text"] = ToBytes("lead\r\n\r\nname\r\n[JP]: jp\r\n[EN]: en\r\n");
  return seeds;
}

Seeds CodeTableSeeds() {
  Seeds seeds;
  const std::vector<CodeTableEntry> rows = ShiftJisRows();
  seeds["ascii"] = ToBytes(CodeTableText({Row("A", "alpha"), Row("\x0A", "\\n"), Row("B", "b")}));
  seeds["with-byte-order-mark"] = ToBytes(CodeTableText({Row("\x81\x40", " "), Row("xy", "z")}, true));
  seeds["shift-jis-rows"] = ToBytes(CodeTableText(std::vector<CodeTableEntry>(rows.begin(), rows.begin() + 64)));
  seeds["long-rows"] = ToBytes(CodeTableText({Row("abcdefgh", "12345678"), Row("abc", "3"), Row("ab", "2")}));
  seeds["no-final-crlf"] = ToBytes("41; 42\r\n43 44; 45");
  seeds["empty-lines"] = ToBytes("\r\n41; 61\r\n\r\n\r\n42; 62\r\n");
  seeds["broken-hex"] = ToBytes("41; 4G\r\n");
  seeds["missing-separator"] = ToBytes("41 42\r\n");
  seeds["lf-only"] = ToBytes("41; 61\n42; 62\n");
  seeds["empty"] = {};
  return seeds;
}

Seeds LzssSeeds() {
  Seeds seeds;
  LzssTokenWriter tokens;
  tokens.Literals(ToBytes("abcdefgh")).Match(4078, 5).Literal('z').Match(0, 18);
  seeds["hand-tokens"] = LzssStream(1, tokens.data(), 8 + 5 + 1 + 18);
  seeds["hand-tokens-long-header"] = LzssStream(1, tokens.data(), 8 + 5 + 1 + 18, true);
  LzssTokenWriter runs;
  runs.Literal('q').Run('r', 4).Run('s', 200).Match(10, 17);
  seeds["type3-runs"] = LzssStream(3, runs.data(), 1 + 4 + 200 + 17);
  seeds["size-too-large"] = LzssStream(1, tokens.data(), 4000);
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    Bytes stream;
    LzssEncodeStream(ScriptLikeBytes(300 * seed, seed), stream);
    AddWithCuts(seeds, "script-" + std::to_string(seed), stream, {5, 40});
  }
  seeds["random"] = RandomBytes(256, 7);
  seeds["header-only"] = LzssStream(1, {}, 0);
  return seeds;
}

Seeds ScfSeeds() {
  Seeds seeds;
  ScfTestEntry full;
  full.texts = {"jp one", "jp two", "en one", "en two"};
  ScfTestEntry shortForm;
  shortForm.shortForm = true;
  shortForm.texts = {"short", std::nullopt, "form", std::nullopt};
  const struct {
    const char* name;
    ScfLayout layout;
  } layouts[] = {
      {"two-entries", {.entries = {full, shortForm}}},
      {"alternate-table", {.entries = {full}, .alternateTable = true}},
      {"no-end-entry", {.entries = {full, full}, .endEntry = false}},
      {"marker", {.entries = {shortForm}, .marker = true}},
      {"no-entries", {}},
  };
  for (const auto& [name, layout] : layouts) {
    const ScfTestFile scf = MakeScfFile(layout);
    AddWithCuts(seeds, name, scf.bytes, {64, scf.tableStart + 10});
    if (scf.tags.empty()) continue;
    // The file with its own dump after it: the target reads the input as
    // the dump too, so these blocks name entries that exist.
    Bytes withDump = scf.bytes;
    for (uint32_t tag : scf.tags) AppendText(withDump, ScfDumpBlock(tag, {"a", "b", "c", "d"}));
    seeds[std::string(name) + "-with-dump"] = withDump;
    Bytes cutBlock = scf.bytes;
    AppendText(cutBlock, ScfDumpBlock(scf.tags[0], {"a", "b", "c", "d"}).substr(0, 30));
    seeds[std::string(name) + "-with-cut-block"] = cutBlock;
  }
  return seeds;
}

Seeds TlzcSeeds() {
  Seeds seeds;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    const Bytes data = MixedGameData(2000 * seed, seed);
    AddWithCuts(seeds, "zlib-" + std::to_string(seed), TlzcZlibContainer(data), {8, 24, 100});
    const size_t half = data.size() / 2;
    const Bytes lzma = TlzcLzmaContainer(
        uint32_t(data.size()), {CompressedTlzcBlock(ByteSpan(data).first(half)),
                                StoredTlzcBlock(ByteSpan(data).subspan(half))});
    AddWithCuts(seeds, "lzma-" + std::to_string(seed), lzma, {8, 30, 60});
  }
  seeds["compressed-by-us"] = CompressTlzc(MixedGameData(70000, 9), 1);
  seeds["empty-zlib"] = TlzcZlibContainer({});
  return seeds;
}

Fps4Layout Layout(uint16_t entrySize, uint16_t flags, uint32_t alignment, std::vector<Fps4Member> members) {
  Fps4Layout layout;
  layout.entrySize = entrySize;
  layout.flags = flags;
  layout.alignment = alignment;
  layout.members = std::move(members);
  return layout;
}

// Archives of every entry layout, with texture pairs, a nested archive, TLZC
// containers, and names that try to leave the unpack directory.
Seeds ArchiveSeeds() {
  Seeds seeds;
  const Bytes pixels = RandomBytes(64, 5);
  const Bytes txm = BuildTxm({4, false, {TxmTexture{}}});
  Fps4Layout plain = Layout(12, 0, 16, {Member("first member"), Member(std::string("TSS\0 script", 11)), Member("")});
  Fps4Layout eight = Layout(8, 0, 1, {Member("lead"), Member("more"), Member("after")});
  eight.members[1].continuation = true;
  const Fps4Layout named =
      Layout(16, 0, 16, {Member("a", "name=ui/Title x=1"), Member("b", "plain"), Member("c")});
  const Fps4Layout extensions = Layout(
      20, 0, 16, {Member("x", "dat"), Member("y"), {txm, "TEX", false, std::nullopt}, {pixels, "DMY", false, std::nullopt}});
  const Fps4Layout longNames =
      Layout(32, 0, 16, {Member("one", "one.bin"), {txm, "pic.TXM", false, std::nullopt},
                         {pixels, "pic.dat", false, std::nullopt}, Member("sub", "dir/sub.bin")});
  const Fps4Layout shortLayout = Layout(24, 0x8D, 1, {Member("m", "m.bin"), Member("n", "n.bin"), {{}, "none", false, 0}});
  Fps4Layout textures = Layout(12, 7, 16, {{txm, std::nullopt, false, std::nullopt}, {pixels, std::nullopt, false, std::nullopt}});
  textures.type = "txmv";
  const Fps4Layout hostile =
      Layout(40, 0, 16, {Member("up", "../up.bin"), Member("abs", "/tmp/abs.bin"), Member("drive", "C:\\d.bin"),
                         Member("back", "a\\..\\..\\b.bin"), Member("ok", "ok.bin")});
  const struct {
    const char* name;
    const Fps4Layout& layout;
  } layouts[] = {{"plain", plain},          {"eight-byte", eight},   {"name-strings", named},
                 {"extensions", extensions}, {"long-names", longNames}, {"short-layout", shortLayout},
                 {"texture-archive", textures}, {"hostile-names", hostile}};
  for (const auto& [name, layout] : layouts) {
    const Bytes archive = BuildFps4(layout);
    AddWithCuts(seeds, name, archive, {20, 40});
  }
  const Bytes inner = BuildFps4(plain);
  const Fps4Layout nested =
      Layout(32, 0, 16, {{inner, "inner.bin", false, std::nullopt}, Member("z", "z.bin"),
                         {TlzcZlibContainer(inner), "packed.bin", false, std::nullopt},
                         {TlzcZlibContainer(ToBytes("compressed member")), "c.bin", false, std::nullopt}});
  seeds["nested"] = BuildFps4(nested);
  seeds["tlzc-wrapped"] = TlzcZlibContainer(BuildFps4(longNames));
  seeds["tlzc-wrapped-lzma"] = CompressTlzc(BuildFps4(plain), 1);
  return seeds;
}

// TXM members of both header forms and with image counts, each followed by
// its texture data member.
Seeds TxmSeeds() {
  Seeds seeds;
  auto texture = [](uint16_t size, uint32_t images, uint32_t mips, std::array<uint8_t, 4> format, std::string name,
                    uint32_t offset) {
    TxmTexture t;
    t.width = size;
    t.height = size;
    t.imageCount = images;
    t.mipCount = mips;
    t.format = format;
    t.name = std::move(name);
    t.dataOffset = offset;
    return t;
  };
  const struct {
    const char* name;
    TxmLayout layout;
    size_t dataSize;
  } pairs[] = {
      {"one-dxt1", {4, false, {texture(4, 1, 1, {0x0A, 0, 0, 0x0B}, "tex", 0)}}, 8},
      {"two-textures", {4, false, {texture(8, 1, 2, {0x0A, 0, 0, 0x0B}, "a", 0), texture(4, 1, 1, {0x05, 0, 0, 0x02}, "b", 64)}}, 128},
      {"short-version", {10, false, {texture(4, 1, 1, {0x05, 0, 0, 0}, "short", 0)}}, 64},
      {"image-counts", {4, true, {texture(4, 3, 1, {0x0A, 0, 0, 0x0B}, "cube", 0)}}, 96},
      {"duplicate", {16, false, {texture(4, 1, 1, {0x01, 0, 0, 0}, "x", 0), texture(4, 1, 1, {0x01, 0, 0, 0}, "y", 0)}}, 32},
      {"hostile-name", {4, false, {texture(4, 1, 1, {0x0A, 0, 0, 0x0B}, "../../up", 0)}}, 8},
  };
  for (const auto& [name, layout, dataSize] : pairs) {
    Bytes pair = BuildTxm(layout);
    AppendText(pair, "==DATA==");
    AppendBytes(pair, RandomBytes(dataSize, uint32_t(dataSize)));
    AddWithCuts(seeds, name, pair, {10, 40});
    // The first image's DDS file edited: new pixels, and a file cut to its header.
    Bytes edited = pair;
    AppendText(edited, "==DDS==");
    AppendBytes(edited, RandomBytes(128 + dataSize, 11));
    seeds[std::string(name) + "-edited"] = edited;
    // Edited pixels behind the header the texture was exported with.
    TextureSet set;
    if (ParseTextureRecords(BuildTxm(layout), dataSize, set).ok() && !set.textures[0].duplicate) {
      const TextureRecord& first = set.textures[0];
      const DdsHeader header = MakeDdsHeader(first, TextureFormatCode(first, set.mapsFormats));
      Bytes matching(pair);
      AppendText(matching, "==DDS==");
      AppendBytes(matching, header);
      AppendBytes(matching, RandomBytes(ImageSize(first), 13));
      seeds[std::string(name) + "-edited-header"] = matching;
    }
    AppendText(pair, "==DDS==");
    AppendBytes(pair, RandomBytes(100, 12));
    seeds[std::string(name) + "-edited-short"] = pair;
  }
  return seeds;
}

Seeds TssSeeds() {
  Seeds seeds;
  const TssScript scripts[] = {
      {{"hello", "world"}, {0, 1, 0}, {}, std::nullopt},
      {{"name"}, {0}, {{"jp a", "jp b", "en a", "en b"}}, std::nullopt},
      {{"one", "two", "three"}, {2, 1}, {{"q", "r", "s", "t"}, {"u", "v", "w", "x"}}, "speaker"},
      {{}, {}, {}, "alone"},
      {{}, {}, {}, std::nullopt},
  };
  const std::string_view mark = "\n==DUMP==\n";
  int n = 0;
  for (const TssScript& script : scripts) {
    const std::string name = "script-" + std::to_string(n++);
    const TssTestFile tss = MakeTssFile(script);
    AddWithCuts(seeds, name, tss.bytes, {20, tss.textBase + 2});
    // An edited dump after the script: new texts for a quad and a reference.
    Bytes edited = tss.bytes;
    AppendText(edited, mark);
    for (uint32_t position : tss.quadPositions) AppendText(edited, TssQuadGroup(position, {"A", "B", "C", "D"}));
    AppendText(edited, "[END]\r\n\r\n");
    if (script.sp) AppendText(edited, "[SP]: new speaker\r\n\r\n");
    if (!script.references.empty()) AppendText(edited, "[000000]: changed\r\n");
    seeds[name + "-edited-dump"] = edited;
  }
  const std::vector<CodeTableEntry> rows = ShiftJisRows();
  for (uint32_t seed = 1; seed <= 2; ++seed) {
    seeds["shift-jis-" + std::to_string(seed)] = MakeShiftJisScript(600 * seed, seed, rows);
  }
  const TssTestFile plain = MakeTssFile(scripts[0]);
  Bytes broken = plain.bytes;
  AppendText(broken, mark);
  AppendText(broken, "[000000]: no end line\r\n[00000");
  seeds["dump-without-end"] = broken;
  return seeds;
}

Seeds ScelSeeds() {
  Seeds seeds;
  const Bytes script = MakeTssFile({{"line"}, {0}, {}, std::nullopt}).bytes;
  const Bytes other = MakeTssFile({{"a", "b"}, {1, 0}, {}, "sp"}).bytes;
  const struct {
    const char* name;
    std::vector<std::optional<Bytes>> rows;
  } containers[] = {
      {"one-member", {script}},
      {"two-members", {script, other}},
      {"empty-rows", {std::nullopt, script, std::nullopt, other}},
      {"no-members", {std::nullopt, std::nullopt}},
      {"script-like", {ScriptLikeBytes(900, 3), RandomBytes(64, 4), Bytes{}}},
  };
  for (const auto& [name, rows] : containers) {
    const Bytes container = MakeScelContainer(rows);
    AddWithCuts(seeds, name, container, {16, 40, 60});
  }
  return seeds;
}

Seeds PoSeeds() {
  Seeds seeds;
  const struct {
    const char* name;
    DumpLayout layout;
    std::string dump;
  } dumps[] = {
      {"chat", DumpLayout::kChat,
       "lead\r\n\r\nMira\r\n[JP]: one\\ntwo\r\n[EN]: One\\nTwo\r\n\r\nTobin\r\n[JP]: same\r\n[EN]: same\r\n"},
      {"script", DumpLayout::kScript,
       "References: 2, fingerprint 1A2B3C4D\r\n\r\n[00000054_JP]: a\r\n[00000054_JP]: b\\n\r\n[00000054_EN]: A\r\n[00000054_EN]:\r\n\r\n[END]\r\n\r\n"
       "[SP]: sp\r\n\r\n[000000]: x\r\n[000001]: y\r\n"},
      {"scf", DumpLayout::kScf,
       "note\r\n[00001A90_JP]: \\nfront\r\n[00001A90_JP]: b\r\n[00001A90_EN]: Front\r\n[00001A90_EN]: \r\n\r\n"},
  };
  for (const auto& dump : dumps) {
    CatalogDump catalog;
    catalog.text = ByteSpan(reinterpret_cast<const uint8_t*>(dump.dump.data()), dump.dump.size());
    catalog.reference = std::string(dump.name) + ".txt";
    TextError error;
    std::vector<PoEntry> entries{CatalogHeader(dump.name, CatalogSource::kJapanese, "2000-01-01 00:00+0000")};
    if (!ReadDumpUnits(catalog.text, dump.layout, false, catalog.units, error) ||
        !AppendCatalogEntries(catalog, CatalogSource::kJapanese, "\\n", entries, error)) {
      std::printf("po seed %s: line %zu: %s\n", dump.name, error.line, error.what.c_str());
      continue;
    }
    seeds[std::string(dump.name) + "-dump"] = ToBytes(dump.dump);
    const Bytes po = WritePo(entries);
    seeds[std::string(dump.name) + "-po"] = po;
    // As platforms save it: a byte order mark, CR LF, obsolete entries.
    std::string saved = "\xEF\xBB\xBF";
    for (uint8_t c : po) saved += c == '\n' ? std::string("\r\n") : std::string(1, char(c));
    saved += "\r\n#~ msgid \"old\"\r\n#~ msgstr \"x\"\r\n#| msgid \"a\" \"b\"\r\nmsgid \"\\x41\\101\"\r\nmsgstr \"\"";
    seeds[std::string(dump.name) + "-saved"] = ToBytes(saved);
  }
  seeds["broken-string"] = ToBytes("msgid \"a\\q\"\nmsgstr \"\n");
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: make_corpus DIRECTORY\n");
    return 2;
  }
  const std::map<std::string, std::function<Seeds()>> targets = {
      {"chtx", ChtxSeeds}, {"codetable", CodeTableSeeds}, {"fps4", ArchiveSeeds}, {"lzss", LzssSeeds}, {"po", PoSeeds}, {"repack", ArchiveSeeds}, {"scel", ScelSeeds},
      {"scf", ScfSeeds},   {"tlzc", TlzcSeeds},           {"tss", TssSeeds}, {"txm", TxmSeeds},      {"unpack", ArchiveSeeds},
  };
  bool ok = true;
  for (const auto& [target, makeSeeds] : targets) {
    const std::string dir = std::string(argv[1]) + "/" + target;
    std::filesystem::create_directories(dir);
    const Seeds seeds = makeSeeds();
    for (const auto& [name, bytes] : seeds) ok = WriteTestFile(dir + "/" + name, bytes) && ok;
    std::printf("%s: %zu seeds\n", dir.c_str(), seeds.size());
  }
  return ok ? 0 : 1;
}
