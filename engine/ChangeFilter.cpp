#include "engine/ChangeFilter.h"

namespace {

constexpr int kRenamedFrom = 4;
constexpr int kRenamedTo = 5;

}  // namespace

CChangeFilter::Step CChangeFilter::OnChange(int action, const std::string& path,
                                            const std::function<bool()>& idle) {
  Step step;
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
