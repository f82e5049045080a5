// The text dump beside a game file: StripExtension(path) + ".txt".
#pragma once

#include <string>

namespace fpskit {

// Names the dump of `path`. A game file whose own name ends in ".txt" would be
// its own dump (dumping would overwrite it, inserting would read it as the
// dump), so that is refused with a message and the result is false.
bool TextDumpPath(const std::string& path, std::string& dumpPath);

}  // namespace fpskit
