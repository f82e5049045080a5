// What the three text formats' tools share: the dump beside a game file, and
// what an insertion needs before it can rebuild one.
#pragma once

#include <string>

#include "codetable/codetable.h"
#include "util/bytes.h"

namespace fpskit {

// Names the dump of `path`: StripExtension(path) + ".txt". A game file whose
// own name ends in ".txt" would be its own dump (dumping would overwrite it,
// inserting would read it as the dump), so that is refused with a message
// and the result is false.
bool TextDumpPath(const std::string& path, std::string& dumpPath);

// The code tables and the dump that an insertion works from.
struct InsertionInputs {
  CodeTable gameCodes;        // "JPCODES.TXT", applied right to left
  CodeTable translatorCodes;  // "CODES.TXT", applied first, left to right
  Bytes dump;
};

// Selects both code tables and reads the dump. False, with a message, when a
// table cannot be loaded or the dump cannot be read; the tool then stops
// before it writes anything.
bool LoadInsertionInputs(const std::string& dumpPath, InsertionInputs& inputs);

// One dump line back to game bytes: through "CODES.TXT" left to right, then
// through "JPCODES.TXT" right to left.
Bytes ConvertDumpLine(ByteSpan line, const CodeTable& translatorCodes, const CodeTable& gameCodes);

}  // namespace fpskit
