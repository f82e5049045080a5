// The dumps as PO catalogs: every translatable text of a chat, script or SCF
// dump as one PO entry, keyed by a msgctxt made from the dump's own tags, and
// the translations of a catalog written back into the dump's lines.
//
// Keys stay the same in every later dump of the same game file:
//   "entry 12"            chat entry 12 ([JP] line -> [EN] line)
//   "quad 000001F0.0"     script quad at 000001F0, pair 0 (JP line 1 -> EN
//   "quad 000001F0.1"     line 3) and pair 1 (JP line 2 -> EN line 4)
//   "block 0001A2C4.0"    SCF block tagged 0001A2C4, pairs as for quads
//   "SP"                  the script's SP line, translated in place
//   "line 000012"         numbered script line 12, translated in place (in a
//                         string dictionary: lines 12 -> 13)
// A container's member n prefixes its keys with "NNNN/".
//
// The game's line break, as the code table shows it in the dump (for example
// "\n"), is a real line break in the catalog. Nothing here prints or opens a
// file: failures come back as values naming the line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/limits.h"
#include "text/po/po.h"
#include "util/bytes.h"

namespace fpskit {

enum class DumpLayout { kChat, kScript, kScf };

// One text of a dump: where it lies, after its prefix.
struct DumpSlot {
  size_t offset = 0;  // in the dump
  size_t length = 0;
  size_t line = 0;             // from 1
  bool missingSpace = false;  // an empty text whose prefix lost its last space
};

// One translatable text: its source and the slot its translation goes into
// (the same slot for texts translated in place).
struct DumpUnit {
  std::string key;
  DumpSlot source;
  DumpSlot target;
  bool inPlace = false;
  std::string speaker;  // chat: the entry's first line
  std::vector<DumpSlot> otherPair;  // quads and blocks: the JP and EN text of the other pair
};

// A dump, or a catalog, that cannot be used: the line and what is wrong.
struct TextError {
  size_t line = 0;
  std::string what;
};

// Reads the translatable texts of a dump in its layout, in dump order.
// Lines between script quad groups, blocks and numbered lines that are none
// of them are notes and are skipped, as the dump readers skip them. A byte
// order mark is skipped. False, with `error` set, for a line that is not
// valid UTF-8, a chat dump whose lines are out of place, a quad group or
// block cut short or with a wrong prefix, a script dump without "[END]",
// a broken numbered or SP prefix, or a key that appears twice.
bool ReadDumpUnits(ByteSpan dump, DumpLayout layout, bool stringDictionary, std::vector<DumpUnit>& units,
                   TextError& error);

// Which text of a pair a catalog translates.
enum class CatalogSource {
  kJapanese,  // msgid: the JP text; msgstr: the EN text of the same pair
  kEnglish,   // msgid: the EN text, translated into the EN slot; msgstr empty
  kTemplate,  // as kJapanese with every msgstr empty
};

// The header field that records the source, so that the catalog is read
// back against the right text: "JP" or "EN".
inline constexpr std::string_view kSourceField = "X-Fpskit-Source";

// One dump of a catalog.
struct CatalogDump {
  ByteSpan text;              // the dump's bytes
  std::string reference;      // its name in "#:" lines, relative to the catalog
  std::string keyPrefix;      // "NNNN/" for a container member, else empty
  std::vector<DumpUnit> units;
  // The rule of "LIMITS.TXT" for each kind of dump line of this dump's game
  // file (by TextLine), or nullptr.
  std::array<const LimitRule*, kTextLineKinds> limits{};
};

// A dump text in catalog form: every `lineBreak` becomes a line feed. False
// when the text holds a control byte other than tab that is no line break
// (a catalog cannot carry it); `bad` is then that byte.
bool DumpTextToCatalog(ByteSpan text, std::string_view lineBreak, std::string& out, uint8_t& bad);
// A catalog text in dump form: every line feed becomes `lineBreak`. False
// for any other control byte but tab (it would break the dump's line).
bool CatalogTextToDump(std::string_view text, std::string_view lineBreak, Bytes& out, uint8_t& bad);

// Appends the entries of one dump: one per unit with a non-empty source, in
// dump order. An English text that is empty or the same as its Japanese one
// is untranslated (empty msgstr). A translation whose first or last line
// break does not match its source's is marked fuzzy, as the gettext checks
// require both to agree. A translation whose line has a limit of characters
// or bytes (`dump.limits`) gets "#, max-length:N" (the most characters that
// can fit: per line times lines with their line feeds, and no more than the
// bytes without the zero) and a "#." comment with the rule's limits. False, with `error` naming the dump line, when a
// text holds a byte a catalog cannot carry.
bool AppendCatalogEntries(const CatalogDump& dump, CatalogSource source, std::string_view lineBreak,
                          std::vector<PoEntry>& entries, TextError& error);

// The header entry: the fields gettext expects, "X-Generator: fpskit
// VERSION" and the source field. `date` is "YYYY-MM-DD HH:MM+ZZZZ".
PoEntry CatalogHeader(std::string_view project, CatalogSource source, std::string_view date);

// A line of a dump replaced by a translation.
struct DumpEdit {
  size_t dump = 0;  // index in the catalog's dumps
  DumpSlot slot;
  Bytes text;       // in dump form
};

struct CatalogProblem {
  size_t poLine = 0;
  std::string what;  // names the key and, for a stale entry, the dump line
};

struct CatalogApplication {
  std::vector<DumpEdit> edits;
  std::vector<CatalogProblem> problems;  // nothing may be written when any
  size_t fuzzySkipped = 0;
};

// Matches the catalog's entries to the dumps' units by key and collects the
// edits: an empty msgstr keeps the dump's line, a fuzzy entry is skipped
// unless `applyFuzzy`. A key that is not in the dumps, an entry without
// msgctxt, a key given twice, a plural entry, a msgstr a dump cannot carry
// and an entry whose msgid is no longer the dump's source text (stale) are
// problems. A text translated in place (or into the EN slot it came from)
// that already holds its msgstr is no problem: a catalog may be applied again.
CatalogApplication ApplyCatalog(const std::vector<CatalogDump>& dumps, const std::vector<PoEntry>& entries,
                                std::string_view lineBreak, bool applyFuzzy);

// The dump `text` with the edits whose `dump` is `index` written into it.
Bytes EditDump(ByteSpan text, size_t index, const std::vector<DumpEdit>& edits);

}  // namespace fpskit
