#include "cli/modes.h"
#include "util/files.h"

int main(int argc, char** argv) {
  fpskit::IgnoreFileSizeSignal();
  return fpskit::RunCommandLine(argc, argv);
}
