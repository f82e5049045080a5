// The tree words: "dump", "insert" and "check" run the text tools on every
// game text file under a directory (or on one file), found by their first
// bytes whatever their names. Each file is done exactly as its single-file
// word would do it ("uncht" / "cht", "untss" / "tss", "unscf" / "scf"; and
// "dump2po" / "po2dump" for the translation words given a directory), on
// all cores, with the code tables selected once for the run; each file's
// lines are printed whole, in path order, under a line naming the file and
// its outcome, and a summary line ends the run.
#pragma once

#include <string>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

// The game text files the tree words know, by their first bytes.
enum class TextFileKind { kNone, kChat, kScript, kContainer, kTable };

// The kind of a file whose first bytes are `head` (up to 8 are looked at).
TextFileKind SniffTextFile(ByteSpan head);

// Every regular file under `root` (or `root` itself when it is a file),
// sorted by path; symbolic links, the temporary files of an interrupted
// replacement and backups ("*.bak") are left out. False, with a message, when `root` cannot be
// read.
bool ListTreeFiles(const std::string& root, std::vector<std::string>& files);

// "dump DIR [utf8]": writes the dump of every game text file under `root`.
// "insert DIR [1]": writes every dump found beside its game file back into
// it; a file whose dump holds exactly the texts the file already holds is
// left untouched. "1" shares strings as "cht 1" does.
// "check DIR": everything "insert" does, without writing anything.
// "dump2po DIR [en|pot]": writes the PO file of every game text file under
// `root` that has its dump ("no dump" otherwise, not a failure).
// "po2dump DIR [fuzzy]": writes every PO file found beside its game file into
// the file's dump ("no PO file" otherwise); a file whose dumps do not change
// is "unchanged".
// The run is not atomic as a whole: a file that fails is reported and the
// others are still done (each one replaced safely). True when no file failed.
enum class TreeWord { kDump, kInsert, kCheck, kDumpToPo, kPoToDump };
bool RunTextTree(const std::string& root, TreeWord word, const std::string& option, unsigned workers = 0);

// True when the rebuilt file `after` holds the same texts as `before` in
// every place the text tool of `kind` writes, so that writing it would change
// nothing the game shows. Silent; false when either cannot be read.
bool SameGameTexts(TextFileKind kind, ByteSpan before, ByteSpan after);

}  // namespace fpskit
