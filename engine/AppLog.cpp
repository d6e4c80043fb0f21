#include "engine/AppLog.h"

#include <ctime>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "platform/Paths.h"

namespace {

constexpr int kLogKeepDays = 3;

std::string LogBase() {
  std::string root;
  if (CUtil::ReadRootPath(root) && !root.empty() && CUtil::CreateFolderIfMissing(root)) return root;
  const std::string state = platform::StateDir();
  platform::MakeDirs(state);
  return state;
}

}  // namespace

std::string AppLogFolder() { return LogBase() + "/.log"; }

std::unique_ptr<CLogger> OpenAppLog() {
  const std::string folder = AppLogFolder();
  CUtil::PurgeOldLogs(folder, kLogKeepDays);  // creates the folder (owner-only) when missing
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string path = StrFormat("%s/%4d-%02d-%02d-%02d-%02d-%02d.log", folder.c_str(), local.tm_year + 1900,
                                     local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  auto logger = std::make_unique<CLogger>();
  if (!logger->Open(path)) return nullptr;
  logger->SetLevel(CLogger::kAll);
  return logger;
}
