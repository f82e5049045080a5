// The script tools on ZK6SCEL containers, and the entry of the five script
// mode words. The container format is text/scel/scel.h.
#pragma once

#include <string>

#include "text/scel/scel.h"

namespace fpskit {

// The message for a failure of the container functions, as the tools print
// it ("\nERROR: truncated ZK6SCEL header"), and the same printed.
std::string DescribeScelFailure(const ScelFailure& failure);
void ReportScelFailure(const ScelFailure& failure);

// Reads the container at `path` into `file` and parses it into `container`
// (whose members point into `file`). False, reported, when it cannot be read
// or is no container.
bool ReadScelFile(const std::string& path, Bytes& file, ScelContainer& container);

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

// What a script mode word asks for: "untss2" extracts raw members, "tss2"
// writes them back, "untss" extracts, "tss_switch" writes back swapped, "tss"
// writes back.
struct ScriptRun {
  bool extract = false;     // dump the text (or split the container) rather than write it back
  bool rawMembers = false;  // containers: members as raw ".bin" files instead of dumps
  bool swap = false;        // write back with each block's strings exchanged
};

// The entry of the five script mode words: a ZK6SCEL container goes to the
// container tools, a TSS file to DumpTssText / InsertTssText; anything else
// gets "\nThis is not ZK6SCEL or TSS file". True unless an error was printed.
bool ScriptTextEntry(const std::string& path, const std::string& option, const ScriptRun& run);

}  // namespace fpskit
