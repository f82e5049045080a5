#include <cstdio>
#include <string>
#include <vector>

#include "cli/modes.h"
#include "util/console.h"
#include "util/platform.h"

namespace {

// Started from Explorer (a double-click, a file dropped onto fpskit.exe), the
// console window closes with the process: say how the tool is meant to be run
// and keep the window open until the translator has read it.
void HoldExplorerWindow(int status) {
  if (status == fpskit::kExitUsage) {
    fpskit::Warn(
        "\nfpskit is run from a command prompt in the folder of your code tables: fpskit MODE FILE"
        "\n(for example: fpskit unfps world.dat). To drop files onto it instead, make a shortcut"
        "\nper mode word whose target ends in that word (fpskit.exe unfps) and whose \"Start in\""
        "\nis the folder of the code tables; the README's \"Windows\" section shows how.");
  }
  fpskit::Warn("\nPress Enter to close this window.");
  fpskit::platform::WaitForEnter();
}

}  // namespace

int main(int argc, char** argv) {
  // Standard error unbuffered, as C has it: Windows' runtime buffers it when
  // it is redirected, which would move every note after the console text
  // that followed it.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  fpskit::platform::IgnoreFileSizeSignal();
  fpskit::platform::InstallInterruptCleanup();
  // UTF-8 on every system, whatever characters the paths hold.
  const std::vector<std::string> arguments = fpskit::platform::CommandLineArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);
  const int status = fpskit::RunCommandLine(int(arguments.size()), pointers.data());
  if (fpskit::platform::StartedOnItsOwnConsole()) HoldExplorerWindow(status);
  return status;
}
