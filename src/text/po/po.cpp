#include "text/po/po.h"

#include <algorithm>

namespace fpskit {
namespace {

void AppendEscaped(Bytes& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\': AppendText(out, "\\\\"); break;
      case '"': AppendText(out, "\\\""); break;
      case '\n': AppendText(out, "\\n"); break;
      case '\t': AppendText(out, "\\t"); break;
      default: out.push_back(uint8_t(c));
    }
  }
}

// `keyword "text"`, or, when the text holds a line break before its last
// character, `keyword ""` and then one quoted line per line of the text,
// each ending after its line break: the layout "msgcat --no-wrap" keeps.
void AppendString(Bytes& out, std::string_view keyword, std::string_view text) {
  AppendText(out, keyword);
  const size_t firstBreak = text.find('\n');
  if (firstBreak == std::string_view::npos || firstBreak + 1 == text.size()) {
    AppendText(out, " \"");
    AppendEscaped(out, text);
    AppendText(out, "\"\n");
    return;
  }
  AppendText(out, " \"\"\n");
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    out.push_back('"');
    AppendEscaped(out, text.substr(start, end - start));
    AppendText(out, "\"\n");
    start = end;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// Reads one escape sequence of a quoted string, `rest[i]` being the
// character after the backslash, and appends its value. Null on success.
const char* AppendEscape(std::string_view rest, size_t& i, std::string& out) {
  const char e = rest[i++];
  switch (e) {
    case 'n': out += '\n'; return nullptr;
    case 't': out += '\t'; return nullptr;
    case 'r': out += '\r'; return nullptr;
    case 'a': out += '\a'; return nullptr;
    case 'b': out += '\b'; return nullptr;
    case 'f': out += '\f'; return nullptr;
    case 'v': out += '\v'; return nullptr;
    case '\\': case '"': case '\'': case '?': out += e; return nullptr;
    case 'x': {
      unsigned value = 0;
      size_t digits = 0;
      for (; digits < 2 && i < rest.size() && HexDigitValue(rest[i]) >= 0; ++digits) {
        value = value * 16 + unsigned(HexDigitValue(rest[i++]));
      }
      if (digits == 0) return "\\x must be followed by a hexadecimal digit";
      out += char(value);
      return nullptr;
    }
    default: break;
  }
  if (e < '0' || e > '7') return "unknown escape sequence";
  unsigned value = unsigned(e - '0');
  for (size_t digits = 1; digits < 3 && i < rest.size() && rest[i] >= '0' && rest[i] <= '7'; ++digits) {
    value = value * 8 + unsigned(rest[i++] - '0');
  }
  if (value > 0xFF) return "an octal escape is larger than a byte";
  out += char(value);
  return nullptr;
}

// Reads the quoted C strings that make up the rest of a line (blanks around
// them allowed; gettext joins strings side by side as it joins lines) and
// appends their value. Null on success, else what is wrong.
const char* AppendQuoted(std::string_view rest, std::string& out) {
  rest = TrimLeft(rest);
  if (rest.empty() || rest.front() != '"') return "a string must begin with '\"'";
  while (!rest.empty()) {
    if (rest.front() != '"') return "text follows the closing '\"'";
    size_t i = 1;
    for (;;) {
      if (i >= rest.size()) return "the string is not closed with '\"'";
      const char c = rest[i++];
      if (c == '"') break;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= rest.size()) return "the string is not closed with '\"'";
      if (const char* wrong = AppendEscape(rest, i, out)) return wrong;
    }
    rest = TrimLeft(rest.substr(i));
  }
  return nullptr;
}

// Reads a catalog line by line into entries.
class PoParser {
 public:
  PoParser(std::vector<PoEntry>& entries, PoError& error) : entries_(entries), error_(error) {}

  bool Parse(ByteSpan text) {
    entries_.clear();
    std::string_view rest(reinterpret_cast<const char*>(text.data()), text.size());
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++lineNumber_;
      if (!ParseLine(TrimLeft(line))) return false;
    }
    return Finish();
  }

 private:
  enum class Field { kNone, kContext, kId, kStr, kIgnored };

  bool Fail(std::string what, size_t line = 0) {
    error_.line = line != 0 ? line : lineNumber_;
    error_.what = std::move(what);
    return false;
  }

  // Ends the entry being read, if any.
  bool Finish() {
    if (field_ == Field::kNone) return true;
    if (!hasId_) return Fail("msgctxt without msgid");
    if (!hasStr_) return Fail("msgid without msgstr", entry_.line);
    for (const std::string* s : {&entry_.id, &entry_.str}) {
      if (!IsValidUtf8(ByteSpan(reinterpret_cast<const uint8_t*>(s->data()), s->size()))) {
        return Fail("the entry is not valid UTF-8; save the file as UTF-8", entry_.line);
      }
    }
    if (entry_.context &&
        !IsValidUtf8(ByteSpan(reinterpret_cast<const uint8_t*>(entry_.context->data()), entry_.context->size()))) {
      return Fail("the entry is not valid UTF-8; save the file as UTF-8", entry_.line);
    }
    entries_.push_back(std::move(entry_));
    entry_ = PoEntry();
    field_ = Field::kNone;
    hasId_ = hasStr_ = false;
    return true;
  }

  bool ParseLine(std::string_view line) {
    // An empty line ends an entry after its msgstr; elsewhere it is only
    // space, as gettext reads it. Comments and flags before an obsolete
    // entry belong to it and are dropped with it.
    const bool obsolete = line.starts_with("#~");
    if (line.empty() || obsolete) {
      if ((hasStr_ || obsolete) && !Finish()) return false;
      if (obsolete) entry_ = PoEntry();
      return true;
    }
    if (line.front() == '#') {
      // A comment after a msgstr begins the next entry.
      if (hasStr_ && !Finish()) return false;
      if (line.starts_with("#|")) return true;
      if (field_ != Field::kNone) return Fail("a comment inside an entry, before its msgstr");
      if (line.starts_with("#.")) {
        entry_.comments.emplace_back(TrimLeft(line.substr(2)));
      } else if (line.starts_with("#:")) {
        entry_.references.emplace_back(TrimLeft(line.substr(2)));
      } else if (line.starts_with("#,")) {
        for (std::string_view flags = line.substr(2); !flags.empty();) {
          const size_t comma = flags.find(',');
          std::string_view flag = TrimLeft(flags.substr(0, comma));
          while (!flag.empty() && IsBlank(flag.back())) flag.remove_suffix(1);
          if (flag == "fuzzy") entry_.fuzzy = true;
          flags = comma == std::string_view::npos ? std::string_view() : flags.substr(comma + 1);
        }
      }
      return true;
    }
    if (line.front() == '"') {
      if (field_ == Field::kNone) return Fail("a string outside an entry");
      std::string ignored;
      const char* wrong = AppendQuoted(line, Target(ignored));
      return wrong ? Fail(wrong) : true;
    }
    const size_t keywordEnd = std::min(line.find_first_of(" \t\""), line.size());
    const std::string_view keyword = line.substr(0, keywordEnd);
    if (keyword == "msgctxt") {
      if (hasStr_ && !Finish()) return false;
      if (field_ != Field::kNone) return Fail("msgctxt must come before msgid");
      entry_.context.emplace();
      field_ = Field::kContext;
    } else if (keyword == "msgid") {
      if (hasStr_ && !Finish()) return false;
      if (hasId_) return Fail("a second msgid before the msgstr");
      hasId_ = true;
      entry_.line = lineNumber_;
      field_ = Field::kId;
    } else if (keyword == "msgid_plural") {
      if (!hasId_ || hasStr_) return Fail("msgid_plural must follow msgid");
      entry_.plural = true;
      field_ = Field::kIgnored;
    } else if (keyword == "msgstr" || keyword == "msgstr[0]") {
      if (!hasId_) return Fail("msgstr without msgid");
      if (hasStr_) return Fail("a second msgstr");
      hasStr_ = true;
      field_ = Field::kStr;
    } else if (keyword.starts_with("msgstr[")) {
      if (!hasStr_) return Fail("msgstr[n] before msgstr[0]");
      field_ = Field::kIgnored;
    } else {
      return Fail("expected a comment, a keyword (msgctxt, msgid, msgstr) or a quoted string");
    }
    std::string ignored;
    const char* wrong = AppendQuoted(line.substr(keywordEnd), Target(ignored));
    return wrong ? Fail(wrong) : true;
  }

  std::string& Target(std::string& ignored) {
    switch (field_) {
      case Field::kContext: return *entry_.context;
      case Field::kId: return entry_.id;
      case Field::kStr: return entry_.str;
      default: return ignored;
    }
  }

  std::vector<PoEntry>& entries_;
  PoError& error_;
  PoEntry entry_;
  Field field_ = Field::kNone;
  bool hasId_ = false;
  bool hasStr_ = false;
  size_t lineNumber_ = 0;
};

}  // namespace

Bytes WritePo(const std::vector<PoEntry>& entries) {
  Bytes out;
  size_t estimate = 0;
  for (const PoEntry& entry : entries) estimate += entry.id.size() + entry.str.size() + 64;
  out.reserve(estimate + estimate / 8);
  for (size_t i = 0; i < entries.size(); ++i) {
    const PoEntry& entry = entries[i];
    if (i > 0) out.push_back('\n');
    for (const std::string& comment : entry.comments) {
      AppendText(out, comment.empty() ? "#." : "#. ");
      AppendText(out, comment);
      out.push_back('\n');
    }
    for (const std::string& reference : entry.references) {
      AppendText(out, "#: ");
      AppendText(out, reference);
      out.push_back('\n');
    }
    if (entry.fuzzy || entry.maxLength) {
      std::string flags = entry.fuzzy ? "fuzzy" : "";
      if (entry.maxLength) flags += (flags.empty() ? "max-length:" : ", max-length:") + std::to_string(*entry.maxLength);
      AppendText(out, "#, " + flags + "\n");
    }
    if (entry.context) AppendString(out, "msgctxt", *entry.context);
    AppendString(out, "msgid", entry.id);
    AppendString(out, "msgstr", entry.str);
  }
  return out;
}

bool ParsePo(ByteSpan text, std::vector<PoEntry>& entries, PoError& error) {
  return PoParser(entries, error).Parse(text);
}

std::optional<std::string> PoHeaderField(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find('\n');
    const std::string_view line = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
      return std::string(TrimLeft(line.substr(name.size() + 1)));
    }
  }
  return std::nullopt;
}

bool IsValidUtf8(ByteSpan text) {
  for (size_t i = 0; i < text.size();) {
    const uint8_t lead = text[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size() || text[i + 1] < low || text[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace fpskit
