#include "engine/ChangeFilter.h"

#include "store/FileCache.h"

namespace {

constexpr int kRenamedFrom = 4;
constexpr int kRenamedTo = 5;

}  // namespace

CChangeFilter::Step CChangeFilter::OnChange(int action, const std::string& path,
                                            const std::function<bool()>& idle) {
  Step step;
  const std::size_t slash = path.find_last_of("/\\");
  if (IsTemporaryName(slash == std::string::npos ? path : path.substr(slash + 1))) {
    // The engine's own file under construction: its end shows as the change
    // of the file it becomes, and a write that failed must not repeat the
    // pass that made it (for ever, when it fails every time).
    lastAction_ = 0;
    return step;
  }
  if (!idle()) {
    step.kind = Step::kResync;
  } else if (action == kRenamedTo && lastAction_ == kRenamedFrom) {
    step.kind = Step::kRename;
    step.renameText = lastPath_ + "|" + path;
  } else if (action == kRenamedFrom) {
    // The new name follows; the old one is remembered below.
  } else {
    // A new name without its old one (the old one came during a run) is a
    // plain change: the run's scans find out what it was.
    step.kind = idle() ? Step::kSync : Step::kResync;
  }
  lastAction_ = action;
  lastPath_ = path;
  return step;
}
