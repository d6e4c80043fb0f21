// CWork: the upload phase. Sending local additions, changes, removals and
// renames to the service comes with the next part of the engine; until then
// the phase only checks that the journal can be opened, and a rename the
// watcher reports is left to the next run's scans.
#include "engine/Work.h"
#include "foundation/Logger.h"
#include "store/FileJournal.h"

int CWork::Upload() {
  if (!fileJournal_->OpenDB()) {
    LogText(CLogger::kError, "CWork::Upload", "Fail to open DB of FileJournaler");
    return 0;
  }
  fileJournal_->CloseDB();
  return 1;
}

int CWork::Rename(const std::string& oldPath, const std::string& newPath) {
  LogF(CLogger::kInfo, "CWork::Rename", "Rename %s -> %s: left to the next run", oldPath.c_str(), newPath.c_str());
  CheckSync();
  return 0;
}
