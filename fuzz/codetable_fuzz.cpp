// Parses arbitrary bytes as a code table and converts them through the result
// in both directions.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "codetable/codetable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
  (void)quiet;
  fpskit::ByteSpan bytes(data, size);
  fpskit::CodeTable table;
  if (!fpskit::ParseCodeTable(bytes, "fuzz", table)) table = fpskit::BuiltInCodeTable();
  fpskit::ConvertSequences(bytes, false, table);
  fpskit::ConvertSequences(bytes, true, table);
  return 0;
}
