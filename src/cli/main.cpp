#include "cli/modes.h"
#include "util/platform.h"

int main(int argc, char** argv) {
  fpskit::platform::IgnoreFileSizeSignal();
  fpskit::platform::InstallInterruptCleanup();
  return fpskit::RunCommandLine(argc, argv);
}
