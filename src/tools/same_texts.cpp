// Whether an insertion would change any text of a file: the insertion tools
// rebuild a file even from an unedited dump (the script and table tools
// append every string again), so the tree insertion compares the texts the
// old and the rebuilt file hold, slot by slot, and leaves the file untouched
// when they agree.
#include <algorithm>
#include <optional>
#include <vector>

#include "text/chtx/chtx.h"
#include "text/scel/scel.h"
#include "text/scf/scf.h"
#include "text/tss/tss.h"
#include "tools/tree.h"
#include "util/reporter.h"

namespace fpskit {
namespace {

// The zero-terminated string at `offset`, without its zero; nothing when it
// lies outside the file or has no zero.
std::optional<ByteSpan> StringAt(ByteSpan file, uint64_t offset) {
  if (offset >= file.size()) return std::nullopt;
  const ByteSpan rest = file.subspan(size_t(offset));
  const auto end = std::find(rest.begin(), rest.end(), 0);
  if (end == rest.end()) return std::nullopt;
  return rest.first(size_t(end - rest.begin()));
}

bool SameBytes(ByteSpan a, ByteSpan b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

// A record's text as the chat dump shows it: its span without the last byte,
// or up to its first zero when the span does not end in one.
ByteSpan ChatRecordText(const ChtxFile& chtx, const StringRecord& record) {
  const ByteSpan span = chtx.strings.subspan(size_t(record.offset), size_t(record.length));
  if (!span.empty() && span.back() == 0) return span.first(span.size() - 1);
  return StringAt(chtx.strings, size_t(record.offset)).value_or(span);
}

bool SameChatTexts(ByteSpan before, ByteSpan after) {
  ChtxFile old;
  ChtxFile rebuilt;
  if (!ParseChtx(before, old).ok() || !ParseChtx(after, rebuilt).ok() ||
      old.records.size() != rebuilt.records.size()) {
    return false;
  }
  for (size_t m = 0; m < old.records.size(); ++m) {
    if (!SameBytes(ChatRecordText(old, old.records[m]), ChatRecordText(rebuilt, rebuilt.records[m]))) return false;
  }
  return true;
}

bool SameTableTexts(ByteSpan before, ByteSpan after) {
  ScfHeader oldHeader;
  ScfHeader newHeader;
  std::vector<ScfRecord> old;
  std::vector<ScfRecord> rebuilt;
  if (!ParseScfHeader(before, oldHeader).ok() || !oldHeader.HasTextTable() || !ParseScfHeader(after, newHeader).ok() ||
      !newHeader.HasTextTable() || !ParseScfEntries(before, oldHeader, old).ok() ||
      !ParseScfEntries(after, newHeader, rebuilt).ok() || old.size() != rebuilt.size()) {
    return false;
  }
  for (size_t i = 0; i < old.size(); ++i) {
    if (old[i].tag != rebuilt[i].tag) return false;
    for (size_t slot = 0; slot < kScfSlotCount; ++slot) {
      if (!SameBytes(old[i].strings[slot], rebuilt[i].strings[slot])) return false;
    }
  }
  return true;
}

// A script insertion appends strings and repoints words at them: quad slots
// and the SP slot in the string area, reference operands in the code, and
// textSize. Every word that differs must point at the same text as before,
// and no other byte of the old file may differ.
bool SameScriptTexts(ByteSpan before, ByteSpan after) {
  if (before.size() > after.size()) return false;
  if (SameBytes(before, after)) return true;
  TssHeader header;
  TssCode code;
  if (!ParseTssHeader(before, header).ok() || !ScanTssCode(before, header, code).ok()) return false;
  std::vector<bool> checked(before.size(), false);
  for (size_t i = kTssTextSizeOffset; i < kTssTextSizeOffset + 4; ++i) checked[i] = true;
  bool same = true;
  auto checkWord = [&](uint64_t at) {
    if (!same || !InRange(before.size(), at, 4)) return;
    const uint32_t oldOffset = ByteReader(before, at).U32BE();
    const uint32_t newOffset = ByteReader(after, at).U32BE();  // the new file is not shorter
    if (oldOffset == newOffset) return;
    const std::optional<ByteSpan> oldText = StringAt(before, uint64_t(header.textBase) + oldOffset);
    const std::optional<ByteSpan> newText = StringAt(after, uint64_t(header.textBase) + newOffset);
    same = oldText && newText && SameBytes(*oldText, *newText);
    std::fill_n(checked.begin() + ptrdiff_t(at), 4, true);
  };
  for (uint64_t at = header.textBase; at + 4 <= before.size() && same; at += 4) checkWord(at);
  if (code.spFound) checkWord(uint64_t(header.textBase) + code.spSlot);
  for (const StringRef& reference : code.references) checkWord(uint64_t(reference.codeOffset) + 4);
  for (size_t i = 0; i < before.size() && same; ++i) same = checked[i] || before[i] == after[i];
  return same;
}

// Every member decoded from both containers holds the same script texts.
bool SameContainerTexts(ByteSpan before, ByteSpan after) {
  ScelContainer old;
  ScelContainer rebuilt;
  if (!ParseScel(before, old).ok() || !ParseScel(after, rebuilt).ok() ||
      old.members.size() != rebuilt.members.size()) {
    return false;
  }
  Bytes oldMember;
  Bytes newMember;
  for (size_t number = 0; number < old.members.size(); ++number) {
    if (!DecodeScelMember(before, old, number, oldMember).ok() ||
        !DecodeScelMember(after, rebuilt, number, newMember).ok() ||
        !SameScriptTexts(oldMember, newMember)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SameGameTexts(TextFileKind kind, ByteSpan before, ByteSpan after) {
  // The readers report what they cannot read; here that only means "not the same".
  BufferedReporter silent;
  ScopedReporter scoped(silent);
  switch (kind) {
    case TextFileKind::kChat: return SameChatTexts(before, after);
    case TextFileKind::kScript: return SameScriptTexts(before, after);
    case TextFileKind::kContainer: return SameContainerTexts(before, after);
    case TextFileKind::kTable: return SameTableTexts(before, after);
    case TextFileKind::kNone: break;
  }
  return false;
}

}  // namespace fpskit
