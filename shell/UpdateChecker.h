#pragma once
// The update check: asks the service's web site which client setup is
// current and compares it with the setup name built into this program. At
// start (quiet) it speaks only when a newer client exists; from the About
// dialog it also reports "up to date" and connection failures.
#include <string>

namespace update {
constexpr const char* kSetupPrefix = "VessaSetup";
constexpr const char* kBuildNumber = "101203";
constexpr const char* kUserAgent = "Vessa client";
constexpr int kConnectTimeoutSeconds = 10;
// A server that accepts the connection but never answers must not hold the
// start-up forever.
constexpr int kTransferTimeoutSeconds = 30;
constexpr const char* kTitleUtf8 = "Vessa 更新";
}  // namespace update

// "VessaSetup101203.exe"
std::string LocalSetupName();

// The answer names a newer setup: it holds the prefix and compares greater
// than the local setup name, both lower-cased (byte-wise).
bool IsNewerClient(const std::string& answer);

class CUpdateChecker {
 public:
  // `webHost` is "scheme://host:port" of the service's site; `quiet` for
  // the start-up check.
  CUpdateChecker(std::string webHost, bool quiet);

  // GET <webHost>/vorportal/clientVersion. True on HTTP 200; the answer is
  // the body without trailing white space.
  bool Query();
  const std::string& Answer() const { return answer_; }

  // The whole check with its message boxes (no owner, title "Vessa 更新").
  // True only when a newer client exists and the user went along with
  // updating: then the download page has been opened (on OK to the last
  // question) and the program should end.
  bool Check();

 private:
  std::string webHost_;
  bool quiet_;
  std::string answer_;
};
