// Decodes arbitrary bytes as an LZSS stream (nothing may be read or written
// out of bounds, whatever the header says), and checks that encoding the
// same bytes decodes back to them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "compress/lzss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fpskit::ByteSpan input(data, size);
  fpskit::Bytes out;
  fpskit::LzssDecode(input, out);

  fpskit::Bytes stream;
  if (!fpskit::LzssEncodeStream(input, stream)) std::abort();
  if (!fpskit::LzssDecode(stream, out) || out.size() != size || !std::equal(out.begin(), out.end(), data)) {
    std::abort();
  }
  return 0;
}
