// A run that decides for itself whether a rebuilt file is written (an
// insertion over a tree leaves a file whose texts did not change untouched;
// a check writes nothing) catches the replacements of the tools it calls: while
// a catcher is installed on a thread, ReplaceFileSafely on that thread hands
// it the target, the new contents and the durability asked for instead of
// writing them, and returns what the catcher returns.
#pragma once

#include "util/tools_only.h"

#include <functional>
#include <string>

#include "util/bytes.h"
#include "util/files.h"

namespace fpskit {

using ReplacementCatcher = std::function<bool(const std::string& target, ByteSpan contents, Durability durability)>;

// The catcher of the calling thread, or null.
const ReplacementCatcher* CurrentReplacementCatcher();

// Installs `catcher` for the calling thread for its lifetime.
class ScopedReplacementCatcher {
 public:
  explicit ScopedReplacementCatcher(const ReplacementCatcher* catcher);
  ~ScopedReplacementCatcher();
  ScopedReplacementCatcher(const ScopedReplacementCatcher&) = delete;
  ScopedReplacementCatcher& operator=(const ScopedReplacementCatcher&) = delete;

 private:
  const ReplacementCatcher* previous_;
};

}  // namespace fpskit
