#include "text/text_tool.h"

#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"

namespace fpskit {

bool TextDumpPath(const std::string& path, std::string& dumpPath) {
  dumpPath = StripExtension(path) + ".txt";
  if (dumpPath != path) return true;
  Printf("\nERROR: %s would be its own dump; rename it first", path.c_str());
  return false;
}

bool LoadInsertionInputs(const std::string& dumpPath, InsertionInputs& inputs) {
  if (!SelectCodeTable(kGameCodesFile, inputs.gameCodes) ||
      !SelectCodeTable(kTranslatorCodesFile, inputs.translatorCodes)) {
    return false;
  }
  if (!ReadWholeFile(dumpPath, inputs.dump)) {
    Printf("\nCan't open %s", dumpPath.c_str());
    return false;
  }
  return true;
}

Bytes ConvertDumpLine(ByteSpan line, const CodeTable& translatorCodes, const CodeTable& gameCodes) {
  return ConvertSequences(ConvertSequences(line, false, translatorCodes), true, gameCodes);
}

}  // namespace fpskit
