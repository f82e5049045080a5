// gettext PO catalogs: the plain UTF-8 text files that translation tools
// read and write. An entry is a run of comment lines and keyword lines:
//
//   #. extracted comment          written by the tool that made the catalog
//   #: file:line                  where the text comes from
//   #, fuzzy                      flags
//   msgctxt "key"                 optional context: makes the entry unique
//   msgid "source text"           the text to translate (empty: the header)
//   msgstr "translation"          empty: not translated yet
//
// Strings are double-quoted C strings; a string may continue on the lines
// after its keyword as further quoted strings, which are joined. The first
// entry, with an empty msgid and no msgctxt, is the header: its msgstr holds
// "Name: value\n" fields.
//
// The writer produces exactly what the gettext tools accept and keep: UTF-8
// without a byte order mark, LF line ends, escapes only \\ \" \n \t, and a
// string split only after its line breaks, as "msgcat --no-wrap" writes it.
// The reader takes what translation platforms save: strings split anywhere,
// a byte order mark, CR LF line ends, every C escape; obsolete entries (#~)
// and previous strings (#|) are skipped. Neither prints nor opens a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace fpskit {

struct PoEntry {
  std::vector<std::string> comments;    // "#." lines, without the "#. "
  std::vector<std::string> references;  // "#:" lines, without the "#: "
  bool fuzzy = false;
  std::optional<uint32_t> maxLength;   // written as "#, max-length:N" (translation platforms read it)
  std::optional<std::string> context;  // msgctxt
  std::string id;                      // msgid
  std::string str;                     // msgstr (msgstr[0] of a plural entry)
  bool plural = false;                 // read with msgid_plural
  size_t line = 0;                     // reader: the line of its msgid (from 1)
};

// The bytes of a catalog: the entries in order, each after an empty line but
// the first. Comments and references must not hold line breaks; strings
// must not hold bytes below 0x20 other than line feed and tab.
Bytes WritePo(const std::vector<PoEntry>& entries);

// What made a catalog unreadable: the line (from 1) and what is wrong there.
struct PoError {
  size_t line = 0;
  std::string what;
};

// Reads the entries of a catalog, the header included, in file order.
// Translator comments, flags other than "fuzzy", obsolete entries and
// previous strings are skipped. False, with `error` set, for a line that is
// none of these, a string that is not closed or not valid UTF-8, a bad
// escape, or an entry without msgid or msgstr.
bool ParsePo(ByteSpan text, std::vector<PoEntry>& entries, PoError& error);

// The value of the header field `name` ("Language") in a header's msgstr,
// without its line break; nullopt when the field is not there.
std::optional<std::string> PoHeaderField(std::string_view header, std::string_view name);

// True when `text` is valid UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(ByteSpan text);

}  // namespace fpskit
