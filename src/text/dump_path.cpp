#include "text/dump_path.h"

#include "util/console.h"
#include "util/paths.h"

namespace fpskit {

bool TextDumpPath(const std::string& path, std::string& dumpPath) {
  dumpPath = StripExtension(path) + ".txt";
  if (dumpPath != path) return true;
  Printf("\nERROR: %s would be its own dump; rename it first", path.c_str());
  return false;
}

}  // namespace fpskit
