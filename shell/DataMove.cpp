#include "shell/DataMove.h"

#include <errno.h>
#include <stdio.h>

#include <filesystem>
#include <system_error>

#include "foundation/Util.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDataFolderName = "VessaData";

}  // namespace

std::string NewDataFolder(const std::string& chosen) {
  if (!chosen.empty() && chosen.back() == '/') return chosen + kDataFolderName;
  return chosen + "/" + kDataFolderName;
}

MoveRefusal CheckDataMove(const std::string& oldFolder, const std::string& newFolder) {
  if (newFolder.size() + 1 > CUtil::kRootPathBuffer) return MoveRefusal::kPathTooLong;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(newFolder, ec);
  if (fs::exists(status)) {
    if (!fs::is_directory(status) || !fs::is_empty(newFolder, ec) || ec) return MoveRefusal::kDestinationNotEmpty;
  }
  if (CUtil::IsInsideFolder(newFolder, oldFolder)) return MoveRefusal::kInsideOldFolder;
  return MoveRefusal::kNone;
}

std::string RefusalMessage(MoveRefusal refusal, const std::string& newFolderUtf8) {
  switch (refusal) {
    case MoveRefusal::kDestinationNotEmpty:
      return "目标目录已存在且不为空，数据未移动：\n" + newFolderUtf8 + "\n请选择其他目录";
    case MoveRefusal::kInsideOldFolder:
      return "不能把数据移动到原数据目录之内，请选择其他目录";
    case MoveRefusal::kPathTooLong:
      return "目录路径过长，请选择其他目录";
    case MoveRefusal::kNone:
      break;
  }
  return "";
}

MoveResult MoveDataFolder(const std::string& oldFolder, const std::string& newFolder, int& error) {
  error = 0;
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(newFolder, ec))) fs::remove(newFolder, ec);  // empty, as checked
  fs::create_directories(fs::path(newFolder).parent_path(), ec);
  if (rename(oldFolder.c_str(), newFolder.c_str()) == 0) return MoveResult::kMoved;
  error = errno;
  if (error != EXDEV) return MoveResult::kFailed;
  // Another file system: copy everything, and only then delete the old folder.
  if (!CUtil::CopyFiles(oldFolder, newFolder)) {
    error = errno ? errno : EIO;
    CUtil::DeleteFiles(newFolder);  // the incomplete copy; the data is still in the old folder
    return MoveResult::kFailed;
  }
  error = 0;
  return CUtil::DeleteFiles(oldFolder) ? MoveResult::kMoved : MoveResult::kMovedOldInUse;
}
