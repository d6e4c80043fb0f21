#include "shell/UpdateChecker.h"

#include <curl/curl.h>

#include <QMessageBox>
#include <algorithm>
#include <cctype>

#include "platform/DesktopOpen.h"
#include "protocol/HttpTransport.h"
#include "shell/DialogKit.h"
#include "shell/LocalText.h"
#include "shell/WebHost.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

QMessageBox::StandardButton Box(QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons = QMessageBox::Ok) {
  return ShowBox(nullptr, icon, update::kTitleUtf8, text, buttons);
}

}  // namespace

std::string LocalSetupName() { return std::string(update::kSetupPrefix) + update::kBuildNumber + ".exe"; }

bool IsNewerClient(const std::string& answer) {
  const std::string server = Lower(answer);
  return server.find(Lower(update::kSetupPrefix)) != std::string::npos && server > Lower(LocalSetupName());
}

CUpdateChecker::CUpdateChecker(std::string webHost, bool quiet) : webHost_(std::move(webHost)), quiet_(quiet) {}

bool CUpdateChecker::Query() {
  answer_.clear();
  if (webHost_.empty() || !CurlReady()) return false;
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  const std::string url = webHost_ + web::kVersionQuery;
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(update::kConnectTimeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(update::kTransferTimeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, update::kUserAgent);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK || status != 200) return false;
  const auto end = std::find_if_not(body.rbegin(), body.rend(), [](unsigned char c) { return std::isspace(c); });
  answer_.assign(body.begin(), end.base());
  return true;
}

bool CUpdateChecker::Check() {
  if (!Query()) {
    if (!quiet_) Box(QMessageBox::Warning, QString::fromUtf8("暂时无法连接服务器检查更新，请稍后再试！"));
    return false;
  }
  if (!IsNewerClient(answer_)) {
    if (!quiet_) Box(QMessageBox::Information, QString::fromUtf8("当前已是最新版本！"));
    return false;
  }
  if (quiet_ && Box(QMessageBox::Question, QString::fromUtf8("Vessa当前有新版本，请问是否更新?"),
                    QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return false;
  }
  const QString details = QString::fromUtf8("当前本地版本为:") + QString::fromStdString(LocalSetupName()) + "\n" +
                          QString::fromUtf8("服务器有新版本:") + QString::fromStdString(answer_) + "\n" +
                          QString::fromUtf8("是否立即下载？");
  if (Box(QMessageBox::Question, details, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
    platform::OpenWithDesktop(webHost_ + web::kDownloadPage);
  }
  return true;
}
