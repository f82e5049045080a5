// PO catalogs on arbitrary bytes: the input is read as a catalog, and what
// the reader accepts must survive the writer unchanged; it is also read as a
// dump of each layout, whose catalog must apply back to it without a
// problem or an edit.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "text/po/catalog.h"
#include "text/po/po.h"

namespace {

using namespace fpskit;

bool Writable(const std::string& text) {
  for (char c : text) {
    if ((uint8_t(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

void CheckCatalogRoundTrip(ByteSpan input) {
  std::vector<PoEntry> entries;
  PoError error;
  if (!ParsePo(input, entries, error)) {
    FUZZ_CHECK(error.line != 0 && !error.what.empty());
    return;
  }
  for (PoEntry& entry : entries) {
    if (entry.plural || !Writable(entry.id) || !Writable(entry.str) || (entry.context && !Writable(*entry.context))) {
      return;
    }
    entry.comments.clear();  // comment lines keep what a line holds, not checked here
    entry.references.clear();
  }
  std::vector<PoEntry> again;
  FUZZ_CHECK(ParsePo(WritePo(entries), again, error));
  FUZZ_CHECK(again.size() == entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    FUZZ_CHECK(again[i].context == entries[i].context);
    FUZZ_CHECK(again[i].id == entries[i].id);
    FUZZ_CHECK(again[i].str == entries[i].str);
    FUZZ_CHECK(again[i].fuzzy == entries[i].fuzzy);
  }
}

void CheckDumpRoundTrip(ByteSpan input, DumpLayout layout) {
  std::vector<CatalogDump> dumps(1);
  dumps[0].text = input;
  dumps[0].reference = "fuzz.txt";
  TextError error;
  if (!ReadDumpUnits(input, layout, input.size() % 2 == 1, dumps[0].units, error)) return;
  std::vector<PoEntry> entries{CatalogHeader("fuzz", CatalogSource::kJapanese, "2000-01-01 00:00+0000")};
  if (!AppendCatalogEntries(dumps[0], CatalogSource::kJapanese, "\\n", entries, error)) return;
  std::vector<PoEntry> read;
  PoError poError;
  FUZZ_CHECK(ParsePo(WritePo(entries), read, poError));
  const CatalogApplication result = ApplyCatalog(dumps, read, "\\n", true);
  FUZZ_CHECK(result.problems.empty());
  FUZZ_CHECK(result.edits.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteSpan input(data, size);
  CheckCatalogRoundTrip(input);
  for (DumpLayout layout : {DumpLayout::kChat, DumpLayout::kScript, DumpLayout::kScf}) CheckDumpRoundTrip(input, layout);
  return 0;
}
