#include <cstdio>
#include <cstring>

#include "text/scel/scel.h"
#include "text/tss/tss.h"
#include "tools/text/scel_tool.h"
#include "tools/text/tss_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

bool ScriptTextEntry(const std::string& path, const std::string& option, bool extract, bool container, bool swap) {
  uint8_t magic[8] = {};
  size_t length = 0;
  {
    FileHandle file = OpenFile(path, "rb");
    if (!file) {
      Printf("\nCan't open %s", path.c_str());
      return false;
    }
    length = std::fread(magic, 1, sizeof magic, file.get());
  }
  if (length == sizeof magic && std::memcmp(magic, kScelMagic, sizeof kScelMagic) == 0) {
    return extract ? SplitScel(path, option, container) : MergeScel(path, container, swap);
  }
  if (length >= sizeof kTssMagic && std::memcmp(magic, kTssMagic, sizeof kTssMagic) == 0) {
    return extract ? DumpTssText(path, option) : InsertTssText(path, swap);
  }
  Print("\nThis is not ZK6SCEL or TSS file");
  return false;
}

}  // namespace fpskit
