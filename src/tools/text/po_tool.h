// "dump2po" and "po2dump": a game file's dump as a gettext PO catalog for
// translation tools, and the catalog's translations back into the dump.
//
// FILE is the game file, as for "cht", "tss" and "scf": its first bytes say
// which dump layout to read (a chat file, a TSS script, a ZK6SCEL container
// with one dump per member, a SCFOMBIN file), and the dump lies beside it
// (StripExtension(FILE) + ".txt", a container's member dumps in its
// directory). The catalog is StripExtension(FILE) + ".po" (".pot" for a
// template).
#pragma once

#include <string>

namespace fpskit {

// False, with the message the word prints, when `option` is not one that
// "dump2po" (`toPo`) or "po2dump" takes.
bool CheckPoOption(bool toPo, const std::string& option);

// "dump2po FILE [en|pot]": writes the catalog beside FILE, replaced safely;
// the game's line break is taken from the "JPCODES.TXT" row for byte 0A.
// Prints "\n<catalog>" when written. True when the catalog was written.
bool DumpToPo(const std::string& path, const std::string& option);

// "po2dump FILE [fuzzy]": writes the catalog's translations into the dump
// (or member dumps), each replaced safely when it changes ("\n<dump>" is
// printed for each). Nothing is written when any entry is a problem (stale,
// unknown key, ...): each is printed with the catalog's line. True when
// every dump was written or unchanged; `changed` (when given) is set when any
// dump was rewritten.
bool PoToDump(const std::string& path, const std::string& option, bool* changed = nullptr);

}  // namespace fpskit
