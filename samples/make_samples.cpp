// Writes the demo's sample inputs into a directory: code tables and synthetic
// game files built by the same builders as the tests.
#include <cstdio>
#include <string>

#include "support/builders.h"
#include "support/temp_dir.h"
#include "util/files.h"

using namespace fpskit;
using namespace fpskit::support;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: make_samples DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (!MakeDirectory(dir)) {
    std::printf("cannot create %s\n", dir.c_str());
    return 1;
  }
  // The game's table: Shift-JIS double-byte codes and ASCII to UTF-8, and a
  // line-break control code shown as "\n" in dumps.
  std::vector<CodeTableEntry> game = ShiftJisRows();
  game.insert(game.begin(), Row("\x0A", "\\n"));
  // The translator's table: typographic quotes typed in the dump become the
  // game's plain ones.
  const std::vector<CodeTableEntry> translator = {Row("\xE2\x80\x9C", "\""), Row("\xE2\x80\x9D", "\"")};
  bool ok = WriteTestFile(dir + "/JPCODES.TXT", CodeTableText(game, true)) &&
            WriteTestFile(dir + "/CODES.TXT", CodeTableText(translator));
  std::printf("%s %s/JPCODES.TXT (%zu rows), %s/CODES.TXT (%zu rows)\n", ok ? "wrote" : "FAILED writing",
              dir.c_str(), game.size(), dir.c_str(), translator.size());
  return ok ? 0 : 1;
}
