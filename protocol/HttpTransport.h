#pragma once
// One HTTP POST at a time over libcurl: a time-out for the whole call, an
// optional HTTP proxy, and an abort that another thread may raise to end a
// call in flight at once (the heartbeat's Stop at logout).
#include <atomic>
#include <mutex>
#include <string>

// libcurl's process-wide set-up, done once; false when it failed.
bool CurlReady();

struct HttpReply {
  long status = 0;          // HTTP status of the final answer
  std::string contentType;  // its Content-Type header ("" when none)
  std::string body;
};

class CHttpTransport {
 public:
  CHttpTransport() = default;
  ~CHttpTransport();
  CHttpTransport(const CHttpTransport&) = delete;
  CHttpTransport& operator=(const CHttpTransport&) = delete;

  // Makes the libcurl handles. False, with the reason in `error`, when they
  // cannot be made.
  bool Open(std::string& error);

  void SetTimeout(int milliseconds);
  // An HTTP proxy; an empty host means a direct connection, whatever the
  // proxy variables of the environment say.
  void SetProxy(const std::string& host, const std::string& port, const std::string& user,
                const std::string& password);

  // Sends `body` and waits for the answer. 0 when an answer came (whatever
  // its status); otherwise the libcurl error code, with `error` describing it
  // (connection refused, time-out, no answer, stopped).
  int Post(const std::string& url, const std::string& contentType, const std::string& body, HttpReply& reply,
           std::string& error);

  // Safe from any thread: ends the call in flight and makes every later
  // call fail at once.
  void Abort();

 private:
  void Close();

  std::mutex handlesMutex_;  // Abort may run while another thread closes
  void* easy_ = nullptr;     // CURL*
  void* multi_ = nullptr;    // CURLM*, so that Abort can wake the wait
  std::atomic<bool> aborted_{false};
  int timeoutMs_ = 0;
  std::string proxy_;
  std::string proxyUser_;
  std::string proxyPassword_;
};
