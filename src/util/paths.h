// Naming helpers: every tool names its outputs from its input path with these.
// Both '/' and '\\' separate path parts, so paths may be written either way.
#pragma once

#include <string>
#include <string_view>

namespace fpskit {

// The path without the extension of its file name: only a '.' after the last
// separator counts ('v1.2/chat.bin' -> 'v1.2/chat'). A file name without one
// gets "_" appended instead ('v1.2/CHAT' -> 'v1.2/CHAT_', './CHAT' ->
// './CHAT_'), and so does one whose only '.' opens it ('.cfg' -> '.cfg_'), so
// that "path.txt" never names the input itself and no output lands in the
// parent directory or under an empty name.
std::string StripExtension(std::string_view path);

// The part after the last separator (the whole path when there is none).
std::string FileNameOf(std::string_view path);

// The part before the last separator; empty when there is none, or when the
// only separator is the first character ('/x' -> '').
std::string DirectoryOf(std::string_view path);

// Joins a directory (possibly empty, meaning the current one) and a name.
std::string JoinPath(std::string_view directory, std::string_view name);

// True when a name taken from a game file can be placed inside an output
// directory: not empty, not absolute, no drive letter, no '..' part.
bool IsContainedRelativePath(std::string_view name);

}  // namespace fpskit
