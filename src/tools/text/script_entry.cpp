#include <cstdio>
#include <cstring>

#include "text/scel/scel.h"
#include "text/tss/tss.h"
#include "tools/text/scel_tool.h"
#include "tools/text/text_tool.h"
#include "tools/text/tss_tool.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {

std::string DescribeScelFailure(const ScelFailure& failure) {
  char message[160] = "";
  switch (failure.error) {
    case ScelError::kNone: break;
    case ScelError::kTruncatedHeader: return "\nERROR: truncated ZK6SCEL header";
    case ScelError::kTruncatedTable:
      std::snprintf(message, sizeof message, "\nERROR: truncated ZK6SCEL member table (%llu rows)",
                    static_cast<unsigned long long>(failure.count));
      break;
    case ScelError::kMemberOutsideFile:
      std::snprintf(message, sizeof message, "\nERROR: ZK6SCEL member %zu (0x%X bytes at 0x%llX) lies outside the file",
                    failure.member, failure.size, static_cast<unsigned long long>(failure.offset));
      break;
    case ScelError::kMemberDamaged:
      std::snprintf(message, sizeof message,
                    "\nERROR: ZK6SCEL member %zu is damaged: its LZSS stream does not decode to the size its header "
                    "declares",
                    failure.member);
      break;
    case ScelError::kTableRunsPastDataBase:
      std::snprintf(message, sizeof message,
                    "\nERROR: the ZK6SCEL member table runs past dataBase (0x%llX); the container cannot be rebuilt",
                    static_cast<unsigned long long>(failure.offset));
      break;
    case ScelError::kBlockOutsideFile:
      std::snprintf(message, sizeof message, "\nERROR: the ZK6SCEL block at dataBase (0x%llX) lies outside the file",
                    static_cast<unsigned long long>(failure.offset));
      break;
    case ScelError::kMemberCountMismatch: return "\nERROR: the ZK6SCEL member count does not match its table";
    case ScelError::kRebuiltTooLarge:
      return "\nERROR: the rebuilt ZK6SCEL would be larger than 4 GiB; nothing was written";
  }
  return message;
}

void ReportScelFailure(const ScelFailure& failure) { Print(DescribeScelFailure(failure)); }

bool ReadScelFile(const std::string& path, Bytes& file, ScelContainer& container) {
  if (!ReadGameFile(path, file)) return false;
  const ScelFailure failure = ParseScel(file, container);
  if (!failure.ok()) ReportScelFailure(failure);
  return failure.ok();
}

bool ScriptTextEntry(const std::string& path, const std::string& option, const ScriptRun& run) {
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
    return run.extract ? SplitScel(path, option, run.rawMembers) : MergeScel(path, run.rawMembers, run.swap);
  }
  if (length >= sizeof kTssMagic && std::memcmp(magic, kTssMagic, sizeof kTssMagic) == 0) {
    return run.extract ? DumpTssText(path, option) : InsertTssText(path, run.swap);
  }
  Print("\nThis is not ZK6SCEL or TSS file");
  return false;
}

}  // namespace fpskit
