// Any bytes as a TLZC container: decompression must stay inside the input and
// the result, and give the same bytes and the same verdict on one thread and
// on several.
#include <cstdlib>

#include "compress/tlzc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fpskit::ByteSpan container(data, size);
  fpskit::Bytes oneThread;
  fpskit::Bytes threeThreads;
  const fpskit::TlzcDecodeResult one = fpskit::DecompressTlzc(container, oneThread, 1);
  const fpskit::TlzcDecodeResult three = fpskit::DecompressTlzc(container, threeThreads, 3);
  if (one.status != three.status || one.streamsEndedEarly != three.streamsEndedEarly || oneThread != threeThreads) {
    std::abort();
  }
  return 0;
}
