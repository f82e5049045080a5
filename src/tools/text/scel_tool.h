// The script tools on ZK6SCEL containers, and the entry of the five script
// mode words. The container format is text/scel/scel.h.
#pragma once

#include <cstdio>
#include <string>

#include "text/scel/scel.h"
#include "util/console.h"

namespace fpskit {

// The message for a failure of the container functions, as the tools print
// it ("\nERROR: truncated ZK6SCEL header"), and the same printed. Defined
// here, as every tool that reads a container words its failures alike.
inline std::string DescribeScelFailure(const ScelFailure& failure) {
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

inline void ReportScelFailure(const ScelFailure& failure) { Print(DescribeScelFailure(failure)); }

// "untss" (raw false: one dump per member, no member files) and "untss2"
// (raw true: the decompressed members as ".bin" files) on a container.
// Members that cannot be decoded or dumped are reported and the others are
// still written; the result is then false.
bool SplitScel(const std::string& path, const std::string& option, bool raw, unsigned workers = 0);

// "tss", "tss_switch" (raw false: each member gets its dump written back;
// a member without one goes back unchanged, " (missed)") and "tss2" (raw
// true: each member is taken from its ".bin" file when there is one). The
// container is replaced safely; on any error it is left untouched.
bool MergeScel(const std::string& path, bool raw, bool swap, unsigned workers = 0);

// The entry of the five script mode words: a ZK6SCEL container goes to the
// container tools, a TSS file to DumpTssText / InsertTssText; anything else
// gets "\nThis is not ZK6SCEL or TSS file". True unless an error was printed.
bool ScriptTextEntry(const std::string& path, const std::string& option, bool extract, bool container, bool swap);

}  // namespace fpskit
