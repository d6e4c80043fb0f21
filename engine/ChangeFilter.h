#pragma once
// What one change reported by the folder watcher asks of the worker. While
// the worker is idle a change asks for a run, and the two halves of a rename
// (old name, then new name) become one rename request; while a run is in
// progress a change only marks that the run must repeat its pass. Changes of
// the engine's own temporary files ask nothing. Used by the watcher thread only.
#include <functional>
#include <string>

class CChangeFilter {
 public:
  struct Step {
    enum Kind { kNothing, kSync, kRename, kResync };
    Kind kind = kNothing;
    std::string renameText;  // kRename: "old|new"
  };

  // `action` as the watcher reports it (1 added, 2 removed, 3 modified, 4/5
  // renamed from/to, -1 changes lost). `idle` reads the worker's sync-enabled
  // flag; a plain change reads it a second time just before asking for a
  // run, so a run that started in between gets a resync instead.
  Step OnChange(int action, const std::string& path, const std::function<bool()>& idle);

 private:
  int lastAction_ = 0;
  std::string lastPath_;
};
