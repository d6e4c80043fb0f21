#include "protocol/HttpTransport.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

struct BodyTarget {
  CURL* easy;
  std::string* body;
};

// A 4 MiB chunk answer grown by appends would reallocate and copy it
// several times and hold up to twice its size: the room its announced
// length asks for is taken at once (within a bound, whatever it announces).
size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  constexpr curl_off_t kMostReserved = 8 << 20;
  auto* into = static_cast<BodyTarget*>(target);
  if (into->body->empty()) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(into->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0) {
      into->body->reserve(static_cast<std::size_t>(std::min(length, kMostReserved)));
    }
  }
  into->body->append(data, size * count);
  return size * count;
}

// libcurl asks between reads; a raised abort ends the transfer.
int CheckAbort(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

constexpr const char* kStopped = "call stopped";

}  // namespace

bool CurlReady() {
  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  return global == CURLE_OK;
}

CHttpTransport::~CHttpTransport() { Close(); }

bool CHttpTransport::Open(std::string& error) {
  Close();
  if (!CurlReady()) {
    error = "libcurl cannot be initialised";
    return false;
  }
  std::lock_guard<std::mutex> lock(handlesMutex_);
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (!easy_ || !multi_) {
    error = "libcurl handles cannot be created";
    return false;
  }
  aborted_ = false;
  return true;
}

void CHttpTransport::Close() {
  std::lock_guard<std::mutex> lock(handlesMutex_);
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  if (easy_) curl_easy_cleanup(static_cast<CURL*>(easy_));
  multi_ = nullptr;
  easy_ = nullptr;
}

void CHttpTransport::SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

void CHttpTransport::SetProxy(const std::string& host, const std::string& port, const std::string& user,
                              const std::string& password) {
  proxy_ = host.empty() ? "" : host + ":" + port;
  proxyUser_ = user;
  proxyPassword_ = password;
}

void CHttpTransport::Abort() {
  aborted_ = true;
  std::lock_guard<std::mutex> lock(handlesMutex_);
  if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

int CHttpTransport::Post(const std::string& url, const std::string& contentType, const std::string& body,
                         HttpReply& reply, std::string& error) {
  reply = HttpReply();
  if (!easy_ || !multi_) {
    error = "no connection handle";
    return CURLE_FAILED_INIT;
  }
  if (aborted_) {
    error = kStopped;
    return CURLE_ABORTED_BY_CALLBACK;
  }
  CURL* easy = static_cast<CURL*>(easy_);
  CURLM* multi = static_cast<CURLM*>(multi_);

  curl_easy_reset(easy);  // the connection stays cached for the next call
  char detail[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
  const std::string typeHeader = "Content-Type: " + contentType;
  curl_slist* headers = curl_slist_append(nullptr, typeHeader.c_str());
  headers = curl_slist_append(headers, "Expect:");  // send the body at once, as SOAP engines do
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  BodyTarget target{easy, &reply.body};
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &target);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs_));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckAbort);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &aborted_);
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy_.c_str());  // "" = direct, never the environment's
  if (!proxy_.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    if (!proxyUser_.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }
  }

  CURLcode code = CURLE_OK;
  curl_multi_add_handle(multi, easy);
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) break;
    if (aborted_) break;
    // Abort wakes this wait through curl_multi_wakeup.
    curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) code = message->data.result;
  }
  if (running > 0) code = aborted_ ? CURLE_ABORTED_BY_CALLBACK : CURLE_RECV_ERROR;
  curl_multi_remove_handle(multi, easy);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headers);

  if (code != CURLE_OK) {
    error = code == CURLE_ABORTED_BY_CALLBACK ? kStopped : detail[0] ? detail : curl_easy_strerror(code);
    return code;
  }
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
  const char* type = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) reply.contentType = type;
  return CURLE_OK;
}
