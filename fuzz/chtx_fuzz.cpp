// ZK6CHTX parsing, dumping and rebuilding on arbitrary bytes: the input is
// read as a chat file, dumped, and rebuilt both from its own dump (which must
// give a file that parses again) and from the input read as a dump.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "text/chtx/chtx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  const ByteSpan input(data, size);
  ChtxFile chtx;
  if (!ParseChtx(input, chtx)) return 0;
  const ChtxDump dump = BuildChtxDump(chtx, BuiltInCodeTable(), size % 2 == 1);
  ChtxInsertion insertion;
  insertion.gameCodes = &BuiltInCodeTable();
  insertion.translatorCodes = &BuiltInCodeTable();
  insertion.share = size % 3 == 0;
  insertion.swap = size % 5 == 0;
  Bytes rebuilt;
  if (dump.splitRecords.empty() && RebuildChtx(chtx, dump.text, "fuzz.txt", insertion, rebuilt)) {
    ChtxFile again;
    if (!ParseChtx(rebuilt, again)) std::abort();
  }
  RebuildChtx(chtx, input, "fuzz.txt", insertion, rebuilt);
  return 0;
}
