#include "util/replacement_catcher.h"

namespace fpskit {
namespace {

thread_local const ReplacementCatcher* currentCatcher = nullptr;

}  // namespace

const ReplacementCatcher* CurrentReplacementCatcher() { return currentCatcher; }

ScopedReplacementCatcher::ScopedReplacementCatcher(const ReplacementCatcher* catcher) : previous_(currentCatcher) {
  currentCatcher = catcher;
}

ScopedReplacementCatcher::~ScopedReplacementCatcher() { currentCatcher = previous_; }

}  // namespace fpskit
