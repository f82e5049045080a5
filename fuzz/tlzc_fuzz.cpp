// Any bytes as a TLZC container: decompression must stay inside the input and
// the result, and give the same bytes on one thread and on several.
#include <cstdio>
#include <cstdlib>

#include "compress/tlzc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fpskit::ByteSpan container(data, size);
  fpskit::Bytes oneThread;
  fpskit::Bytes threeThreads;
  const bool complete = fpskit::DecompressTlzc(container, oneThread, 1);
  if (fpskit::DecompressTlzc(container, threeThreads, 3) != complete || oneThread != threeThreads) std::abort();
  return 0;
}
