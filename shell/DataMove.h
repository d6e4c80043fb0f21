#pragma once
// Moving the local data folder (the root folder with every user folder, the
// database and the logs) to another place. The checks come before anything
// is touched; the move itself runs once the worker has logged out and is
// gone, so no file of the folder is open.
#include <string>

// `chosen` + "VessaData", with a "/" between unless `chosen` ends with one.
std::string NewDataFolder(const std::string& chosen);

enum class MoveRefusal {
  kNone,
  kDestinationNotEmpty,  // something other than an empty folder is there
  kInsideOldFolder,      // the data would be moved into itself
  kPathTooLong,          // the new place could not be remembered
};
MoveRefusal CheckDataMove(const std::string& oldFolder, const std::string& newFolder);

// The message for a refusal (UTF-8, shown with the title "提示").
std::string RefusalMessage(MoveRefusal refusal, const std::string& newFolderUtf8);

enum class MoveResult {
  kMoved,
  kMovedOldInUse,  // copied, but the old folder could not be deleted
  kFailed,         // nothing changed: the data is where it was
};

// Moves `oldFolder` to `newFolder` (which must have passed CheckDataMove):
// a rename, or between file systems a copy followed by the deletion of the
// old folder. A copy that fails is removed again. `error` gets the errno of
// the failure.
MoveResult MoveDataFolder(const std::string& oldFolder, const std::string& newFolder, int& error);
