#include "text/po/catalog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "codetable/lines.h"
#include "text/dump.h"

namespace fpskit {
namespace {

struct DumpLine {
  ByteSpan text;
  size_t offset = 0;
  size_t number = 0;
};

// The text after `prefix` on `line`, or false when the line does not begin
// with it. A line that is the prefix without its last space (an editor
// trimmed it) holds an empty text.
bool SlotAfter(const DumpLine& line, std::string_view prefix, DumpSlot& slot) {
  slot.line = line.number;
  if (StartsWith(line.text, prefix)) {
    slot.offset = line.offset + prefix.size();
    slot.length = line.text.size() - prefix.size();
    slot.missingSpace = false;
    return true;
  }
  if (prefix.back() == ' ' && AsText(line.text) == prefix.substr(0, prefix.size() - 1)) {
    slot.offset = line.offset + line.text.size();
    slot.length = 0;
    slot.missingSpace = true;
    return true;
  }
  return false;
}

bool Fail(TextError& error, size_t line, std::string what) {
  error.line = line;
  error.what = std::move(what);
  return false;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

class DumpReader {
 public:
  DumpReader(ByteSpan dump, std::vector<DumpUnit>& units, TextError& error)
      : dump_(dump), units_(units), error_(error) {}

  bool Read(DumpLayout layout, bool stringDictionary) {
    units_.clear();
    CrlfLineReader reader(dump_, ByteOrderMarkLength(dump_));
    for (;;) {
      DumpLine line;
      line.offset = reader.position();
      if (!reader.ReadCrlfLine(line.text)) break;
      line.number = lines_.size() + 1;
      if (!IsValidUtf8(line.text)) return Fail(error_, line.number, "is not valid UTF-8; keep the dump in UTF-8");
      lines_.push_back(line);
    }
    isText_.assign(lines_.size(), false);
    switch (layout) {
      case DumpLayout::kChat: return ReadChat();
      case DumpLayout::kScript: return ReadScript(stringDictionary) && CheckUnique();
      case DumpLayout::kScf: return ReadBlocks(0, lines_.size(), "block ") && CheckUnique();
    }
    return false;
  }

 private:
  // The leading string, an empty line, then per entry its first line, its
  // "[JP]: " line, its "[EN]: " line and an empty line (none after the
  // last); empty lines may follow the dump.
  bool ReadChat() {
    size_t count = lines_.size();
    while (count > 1 && lines_[count - 1].text.empty()) --count;
    if (count > 1 && !lines_[1].text.empty()) {
      return Fail(error_, 2, "should be empty: it follows the leading string");
    }
    for (size_t base = 2, entry = 0; base < count; base += 4, ++entry) {
      if (base + 2 >= count) {
        return Fail(error_, lines_[base].number, "begins an entry that ends before its [JP] and [EN] lines");
      }
      DumpUnit unit;
      unit.key = "entry " + std::to_string(entry);
      unit.speaker.assign(AsText(lines_[base].text));
      if (!SlotAfter(lines_[base + 1], "[JP]: ", unit.source)) {
        return Fail(error_, base + 2, "should begin with \"[JP]: \"");
      }
      if (!SlotAfter(lines_[base + 2], "[EN]: ", unit.target)) {
        return Fail(error_, base + 3, "should begin with \"[EN]: \"");
      }
      if (base + 3 < count && !lines_[base + 3].text.empty()) {
        return Fail(error_, base + 4, "should be empty: it separates the entries");
      }
      units_.push_back(std::move(unit));
    }
    return true;
  }

  // Tagged blocks of four lines among notes, in lines [first, end): each
  // gives two units, pair 0 (lines 1 and 3) and pair 1 (lines 2 and 4).
  bool ReadBlocks(size_t first, size_t end, const std::string& keyWord) {
    for (size_t i = first; i < end; ++i) {
      const DumpLine& line = lines_[i];
      if (!IsTaggedBlockStart(line.text)) {
        if (!CheckNote(i)) return false;
        continue;
      }
      uint32_t tag = 0;
      for (size_t k = 1; k < 9; ++k) {
        const char c = k < line.text.size() ? char(line.text[k]) : 'x';
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) {
          return Fail(error_, line.number, "a block's first line begins with \"[\", its 8-digit tag and \"_JP]: \"");
        }
        tag = tag * 16 + uint32_t(digit);
      }
      std::array<DumpSlot, kTaggedBlockLines> slots;
      for (size_t k = 0; k < kTaggedBlockLines; ++k) {
        const std::string prefix = TaggedLinePrefix(tag, k);
        if (i + k >= end) return Fail(error_, line.number, "the block ends before its 4 lines");
        if (!SlotAfter(lines_[i + k], prefix, slots[k])) {
          return Fail(error_, lines_[i + k].number, "should begin with \"" + prefix + "\"");
        }
        isText_[i + k] = true;
      }
      for (size_t pair = 0; pair < 2; ++pair) {
        DumpUnit unit;
        unit.key = keyWord + Hex8(tag) + "." + std::to_string(pair);
        unit.source = slots[pair];
        unit.target = slots[pair + 2];
        unit.otherPair = {slots[1 - pair], slots[3 - pair]};
        units_.push_back(std::move(unit));
      }
      i += kTaggedBlockLines - 1;
    }
    return true;
  }

  // Quad groups up to "[END]", then the "[SP]: " line if the first line
  // after it that begins with '[' is one, then numbered lines.
  bool ReadScript(bool stringDictionary) {
    size_t end = 0;
    while (end < lines_.size() && !StartsWith(lines_[end].text, "[END]")) ++end;
    if (end == lines_.size()) return Fail(error_, lines_.size(), "the script dump has no \"[END]\" line");
    if (!ReadBlocks(0, end, "quad ")) return false;
    size_t i = end + 1;
    for (; i < lines_.size() && (lines_[i].text.size() < 3 || lines_[i].text[0] != '['); ++i) {
      if (!CheckNote(i)) return false;
    }
    if (i < lines_.size() && StartsWith(lines_[i].text, "[SP]")) {
      DumpUnit unit;
      unit.key = "SP";
      if (!SlotAfter(lines_[i], "[SP]: ", unit.source)) {
        return Fail(error_, lines_[i].number, "the SP line must begin with \"[SP]: \"");
      }
      unit.target = unit.source;
      unit.inPlace = true;
      units_.push_back(std::move(unit));
      isText_[i++] = true;
    }
    std::vector<std::pair<uint32_t, DumpSlot>> numbered;
    for (; i < lines_.size(); ++i) {
      const ByteSpan text = lines_[i].text;
      if (text.size() < 8 || text[0] != '[' || text[7] != ']') {
        if (!CheckNote(i)) return false;
        continue;
      }
      uint32_t number = 0;
      for (size_t k = 1; k < 7; ++k) {
        if (text[k] < '0' || text[k] > '9') {
          return Fail(error_, lines_[i].number, "a numbered line must begin with '[', six digits and \"]: \"");
        }
        number = number * 10 + uint32_t(text[k] - '0');
      }
      DumpSlot slot;
      if (!SlotAfter(lines_[i], std::string(AsText(text.first(7))) + "]: ", slot)) {
        return Fail(error_, lines_[i].number, "a numbered line must begin with '[', six digits and \"]: \"");
      }
      numbered.emplace_back(number, slot);
      isText_[i] = true;
    }
    // A string dictionary's lines stand in pairs: line 2k is the source of
    // line 2k + 1 when both are in the dump.
    std::unordered_map<uint32_t, size_t> byNumber;
    if (stringDictionary) {
      for (size_t k = 0; k < numbered.size(); ++k) byNumber.emplace(numbered[k].first, k);
    }
    for (const auto& [number, slot] : numbered) {
      char key[16];
      std::snprintf(key, sizeof key, "line %06u", number);
      DumpUnit unit;
      unit.key = key;
      unit.source = slot;
      if (stringDictionary && number % 2 == 1 && byNumber.count(number - 1)) continue;
      const auto partner = stringDictionary && number % 2 == 0 ? byNumber.find(number + 1) : byNumber.end();
      unit.inPlace = partner == byNumber.end();
      unit.target = unit.inPlace ? slot : numbered[partner->second].second;
      units_.push_back(std::move(unit));
    }
    return true;
  }

  // A line that is not read as a text of the dump is a note, or empty; one
  // right after a text line is a line break typed inside that text, which
  // would otherwise cut the text short.
  bool CheckNote(size_t i) {
    if (i == 0 || !isText_[i - 1] || lines_[i].text.empty()) return true;
    return Fail(error_, lines_[i].number,
                "continues the text of line " + std::to_string(lines_[i - 1].number) +
                    ": a line break typed inside a text; join the two lines (notes stand after an empty line)");
  }

  bool CheckUnique() {
    std::unordered_map<std::string, size_t> lines;
    for (const DumpUnit& unit : units_) {
      const auto [at, fresh] = lines.emplace(unit.key, unit.source.line);
      if (!fresh) {
        return Fail(error_, unit.source.line,
                    "repeats \"" + unit.key + "\" of line " + std::to_string(at->second) + "; keep one of them");
      }
    }
    return true;
  }

  ByteSpan dump_;
  std::vector<DumpUnit>& units_;
  TextError& error_;
  std::vector<DumpLine> lines_;
  std::vector<bool> isText_;  // read as a text of the dump
};

ByteSpan SlotText(ByteSpan dump, const DumpSlot& slot) { return dump.subspan(slot.offset, slot.length); }

// A text for a "#." comment: one line, the line break as the dump shows it.
std::string CommentText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += uint8_t(c) < 0x20 && c != '\t' ? ' ' : c;
    }
  }
  return out;
}

bool BreaksAgree(std::string_view id, std::string_view str) {
  const bool idFirst = !id.empty() && id.front() == '\n', strFirst = !str.empty() && str.front() == '\n';
  const bool idLast = !id.empty() && id.back() == '\n', strLast = !str.empty() && str.back() == '\n';
  return idFirst == strFirst && idLast == strLast;
}

bool IsCatalogControl(uint8_t c) { return (c < 0x20 && c != '\t') || c == 0x7F; }

}  // namespace

bool ReadDumpUnits(ByteSpan dump, DumpLayout layout, bool stringDictionary, std::vector<DumpUnit>& units,
                   TextError& error) {
  return DumpReader(dump, units, error).Read(layout, stringDictionary);
}

bool DumpTextToCatalog(ByteSpan text, std::string_view lineBreak, std::string& out, uint8_t& bad) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (!lineBreak.empty() && StartsWith(text.subspan(i), lineBreak)) {
      out += '\n';
      i += lineBreak.size();
      continue;
    }
    if (IsCatalogControl(text[i])) {
      bad = text[i];
      return false;
    }
    out += char(text[i++]);
  }
  return true;
}

bool CatalogTextToDump(std::string_view text, std::string_view lineBreak, Bytes& out, uint8_t& bad) {
  out.clear();
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      AppendText(out, lineBreak);
    } else if (IsCatalogControl(uint8_t(c))) {
      bad = uint8_t(c);
      return false;
    } else {
      out.push_back(uint8_t(c));
    }
  }
  return true;
}

namespace {

// The kind of dump line a unit's translation goes into: a chat entry's,
// quad's or block's EN line, the SP line, or a numbered line.
TextLine TranslationLine(const DumpUnit& unit) {
  if (unit.key == "SP") return TextLine::kSpeaker;
  return unit.key.starts_with("line") ? TextLine::kNumbered : TextLine::kEn;
}

// "#, max-length:N" and "#. max-length N: 32 characters a line, 3 lines
// (LIMITS.TXT line 5)" for a rule with a limit of characters or bytes.
void AddLimit(const LimitRule& rule, PoEntry& entry) {
  if (rule.chars == 0 && rule.bytes == 0) return;
  uint64_t most = UINT64_MAX;
  if (rule.chars != 0) most = rule.lineCount == 0 ? rule.chars : uint64_t(rule.chars) * rule.lineCount + rule.lineCount - 1;
  if (rule.bytes != 0) most = std::min<uint64_t>(most, rule.bytes - 1);
  entry.maxLength = uint32_t(std::min<uint64_t>(most, UINT32_MAX));
  std::string limits;
  auto add = [&](uint32_t value, const char* what) {
    if (value != 0) limits += (limits.empty() ? "" : ", ") + std::to_string(value) + what;
  };
  add(rule.chars, " characters a line");
  add(rule.lineCount, " lines");
  add(rule.bytes, " bytes with the terminating zero");
  add(rule.pixels, " pixels a line");
  entry.comments.push_back("max-length " + std::to_string(*entry.maxLength) + ": " + limits + " (LIMITS.TXT line " +
                           std::to_string(rule.fileLine) + ")");
}

}  // namespace

bool AppendCatalogEntries(const CatalogDump& dump, CatalogSource source, std::string_view lineBreak,
                          std::vector<PoEntry>& entries, TextError& error) {
  auto toCatalog = [&](const DumpSlot& slot, std::string& out) {
    uint8_t bad = 0;
    if (DumpTextToCatalog(SlotText(dump.text, slot), lineBreak, out, bad)) return true;
    char what[96];
    std::snprintf(what, sizeof what, "holds the control byte %02X, which a PO file cannot carry", bad);
    return Fail(error, slot.line, what);
  };
  for (const DumpUnit& unit : dump.units) {
    const bool english = source == CatalogSource::kEnglish;
    const DumpSlot& idSlot = english ? unit.target : unit.source;
    PoEntry entry;
    if (!toCatalog(idSlot, entry.id)) return false;
    if (entry.id.empty()) continue;
    entry.context = dump.keyPrefix + unit.key;
    const ByteSpan sourceText = SlotText(dump.text, unit.source), targetText = SlotText(dump.text, unit.target);
    const bool untranslated =
        unit.inPlace || targetText.empty() || std::equal(sourceText.begin(), sourceText.end(), targetText.begin(),
                                                         targetText.end());
    if (source == CatalogSource::kJapanese && !untranslated) {
      if (!toCatalog(unit.target, entry.str)) return false;
      entry.fuzzy = !BreaksAgree(entry.id, entry.str);
    }
    if (!unit.speaker.empty()) entry.comments.push_back("speaker: " + CommentText(unit.speaker));
    if (english && !unit.inPlace) entry.comments.push_back("JP: " + CommentText(AsText(sourceText)));
    if (unit.otherPair.size() == 2) {
      entry.comments.push_back("other JP: " + CommentText(AsText(SlotText(dump.text, unit.otherPair[0]))));
      entry.comments.push_back("other EN: " + CommentText(AsText(SlotText(dump.text, unit.otherPair[1]))));
    }
    if (const LimitRule* rule = dump.limits[size_t(TranslationLine(unit))]) AddLimit(*rule, entry);
    entry.references.push_back(dump.reference + ":" + std::to_string(idSlot.line));
    entries.push_back(std::move(entry));
  }
  return true;
}

PoEntry CatalogHeader(std::string_view project, CatalogSource source, std::string_view date) {
  const std::string_view language = source == CatalogSource::kJapanese ? "en" : "";
  const std::string_view revision = source == CatalogSource::kTemplate ? "YEAR-MO-DA HO:MI+ZONE" : date;
  PoEntry header;
  header.str = "Project-Id-Version: " + std::string(project) +
               "\n"
               "Report-Msgid-Bugs-To: \n"
               "POT-Creation-Date: " +
               std::string(date) + "\nPO-Revision-Date: " + std::string(revision) +
               "\n"
               "Last-Translator: \n"
               "Language-Team: \n"
               "Language: " +
               std::string(language) +
               "\n"
               "MIME-Version: 1.0\n"
               "Content-Type: text/plain; charset=UTF-8\n"
               "Content-Transfer-Encoding: 8bit\n"
               "X-Generator: fpskit " FPSKIT_VERSION "\n" +
               std::string(kSourceField) + ": " + (source == CatalogSource::kEnglish ? "EN" : "JP") + "\n";
  return header;
}

CatalogApplication ApplyCatalog(const std::vector<CatalogDump>& dumps, const std::vector<PoEntry>& entries,
                                std::string_view lineBreak, bool applyFuzzy) {
  CatalogApplication result;
  struct Place {
    size_t dump;
    const DumpUnit* unit;
    size_t poLine = 0;  // the entry that gave it, once one has
  };
  std::unordered_map<std::string, Place> places;
  for (size_t d = 0; d < dumps.size(); ++d) {
    for (const DumpUnit& unit : dumps[d].units) places.emplace(dumps[d].keyPrefix + unit.key, Place{d, &unit});
  }
  bool english = false;
  auto problem = [&](const PoEntry& entry, std::string what) {
    result.problems.push_back({entry.line, std::move(what)});
  };
  for (const PoEntry& entry : entries) {
    if (!entry.context && entry.id.empty()) {
      english = PoHeaderField(entry.str, kSourceField) == "EN";
      continue;
    }
    if (!entry.context) {
      problem(entry, "has no msgctxt, so it names no text of the dump");
      continue;
    }
    const std::string& key = *entry.context;
    const auto found = places.find(key);
    if (found == places.end()) {
      problem(entry, "\"" + key + "\" is not in the dump");
      continue;
    }
    Place& place = found->second;
    if (place.poLine != 0) {
      problem(entry, "\"" + key + "\" was given before, at line " + std::to_string(place.poLine));
      continue;
    }
    place.poLine = entry.line;
    if (entry.plural) {
      problem(entry, "\"" + key + "\" has plural forms, which no dump text has");
      continue;
    }
    if (entry.fuzzy && !applyFuzzy) {
      ++result.fuzzySkipped;
      continue;
    }
    if (entry.str.empty()) continue;
    const CatalogDump& dump = dumps[place.dump];
    const DumpUnit& unit = *place.unit;
    Bytes id, str;
    uint8_t bad = 0;
    if (!CatalogTextToDump(entry.str, lineBreak, str, bad) || !CatalogTextToDump(entry.id, lineBreak, id, bad)) {
      char what[96];
      std::snprintf(what, sizeof what, "holds the control byte %02X, which would break its dump line", bad);
      problem(entry, "\"" + key + "\" " + what);
      continue;
    }
    const DumpSlot& idSlot = english ? unit.target : unit.source;
    const ByteSpan current = SlotText(dump.text, idSlot), target = SlotText(dump.text, unit.target);
    const bool sameTarget = std::equal(str.begin(), str.end(), target.begin(), target.end());
    if (!std::equal(id.begin(), id.end(), current.begin(), current.end())) {
      // A text translated in its own slot holds the translation once it
      // has been written back: the same catalog may be applied again.
      if ((unit.inPlace || english) && sameTarget) continue;
      problem(entry, "\"" + key + "\" was made from another text than " + dump.reference + " line " +
                         std::to_string(idSlot.line) + " now holds (a stale translation); update the PO file with "
                         "msgmerge");
      continue;
    }
    if (sameTarget) continue;
    result.edits.push_back({place.dump, unit.target, std::move(str)});
  }
  return result;
}

Bytes EditDump(ByteSpan text, size_t index, const std::vector<DumpEdit>& edits) {
  std::vector<const DumpEdit*> mine;
  for (const DumpEdit& edit : edits) {
    if (edit.dump == index) mine.push_back(&edit);
  }
  std::sort(mine.begin(), mine.end(), [](const DumpEdit* a, const DumpEdit* b) { return a->slot.offset < b->slot.offset; });
  Bytes out;
  out.reserve(text.size() + text.size() / 4);
  size_t copied = 0;
  for (const DumpEdit* edit : mine) {
    AppendBytes(out, text.subspan(copied, edit->slot.offset - copied));
    if (edit->slot.missingSpace) out.push_back(' ');
    AppendBytes(out, edit->text);
    copied = edit->slot.offset + edit->slot.length;
  }
  AppendBytes(out, text.subspan(copied));
  return out;
}

}  // namespace fpskit
