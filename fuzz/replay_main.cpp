// Runs a fuzz target without libFuzzer: every regular file of the corpus
// directories (or the files) named on the command line is handed to
// LLVMFuzzerTestOneInput once, in name order. Built with every compiler, so
// the test command replays each corpus in the sanitizer build and an input
// that once crashed a target stays fixed. A target signals a broken property
// by aborting; the replay then dies with it and names the input first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "util/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (std::filesystem::is_directory(argv[i], error)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else {
      inputs.emplace_back(argv[i]);
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs in the corpus\n");
    return 1;
  }
  for (const auto& path : inputs) {
    fpskit::Bytes data;
    if (!fpskit::ReadWholeFile(path.string(), data)) {
      std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
      return 1;
    }
    // Written before the run, so a crash or a failed check is attributed.
    std::fprintf(stderr, "%s\n", path.string().c_str());
    // Copied into a buffer of exactly the input's size, as libFuzzer does,
    // so that AddressSanitizer sees a read one byte past the end.
    std::vector<uint8_t> exact(data.begin(), data.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  }
  std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
  return 0;
}
