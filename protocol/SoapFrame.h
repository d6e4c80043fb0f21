#pragma once
// The frame shared by the three SOAP clients of the service (back server,
// transmitter, heartbeat): set-up, proxy and time-out, the request head with
// its sequence counter, the answer head check, the element check, one call on
// the wire, and the "request:" / answer log records (password and passport
// values shown as ***).
//
// A client object is used by one thread at a time; only AbortCall may come
// from another thread. Every failure is logged under "<Class>::<Method>".
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "protocol/HttpTransport.h"
#include "protocol/ProxySetting.h"
#include "protocol/SoapMessage.h"

// What differs between the clients.
struct SoapClientProfile {
  const char* className;     // "CBack": the prefix of every log function name
  int timeoutMs;             // call time-out unless SetCallTimeout says otherwise
  bool sendsSource;          // src="windows" on the operation element
  bool sendsPassport;        // passport attribute in the head
  bool checksSequence;       // the answer's rsp_sequence must echo the request's
  bool keepsLastReason;      // a second copy of the reason; no-answer texts become the reason
  const char* answerDump;    // "reponse:" or "reqonse:"
  const char* noAnswerFormat;      // %d error number, %s its text
  const char* missingReasonText;   // a failed head without its reason element
  const char* nullNodeFormat;      // element check on no node (%s: expected name); null: as notElementFormat
  const char* notElementFormat;    // element check on a node that is no element
  const char* mismatchFormat;      // element check, other name (%s found, %s expected)
};

// Error numbers of a call that got no answer, as the no-answer lines show them.
enum SoapCallError {
  kSoapTransportError = 1,  // no connection, time-out, connection closed
  kSoapHttpStatus = 2,      // an HTTP status other than 200
  kSoapFault = 3,
  kSoapBadAnswer = 4,       // malformed XML or multipart, no envelope
  kSoapStopped = 5,         // AbortCall
  kSoapNotReady = 6,        // no Init
};

class CSoapFrame {
 public:
  virtual ~CSoapFrame();
  CSoapFrame(const CSoapFrame&) = delete;
  CSoapFrame& operator=(const CSoapFrame&) = delete;

  // Stored for the next Init, which applies them. Every accepted mode
  // ("HTTP", "SOCKS4", "SOCKS5", browser settings) means an HTTP proxy here.
  void SetProxy(const std::string& mode, const std::string& address, const std::string& user,
                const std::string& password);
  // Replaces the client's call time-out from the next Init on.
  void SetCallTimeout(int milliseconds);
  // Releases the connection and restarts the request count; Init may follow.
  // (InitAxis2c/FreeAxis2c keep the names of the SOAP engine the client was
  // first built on; here they make and free the HTTP transport.)
  void FreeAxis2c();

  std::string GetReason() const { return reason_; }
  int RequestSequence() const { return requestSequence_; }

  // The head's password form: the first 16 digits of the password's MD5,
  // upper case; "" for an empty password.
  static std::string PasswordDigest(const std::string& password);

 protected:
  explicit CSoapFrame(const SoapClientProfile& profile);

  // Set-up shared by every Init: stores the values (the password as given),
  // restarts the count, InitAxis2c, ApplyProxy. 1 when the client is ready.
  int SetUp(const std::string& endpoint, const std::string& user, const std::string& password,
            const std::string& hostId);
  int InitAxis2c();
  // 1 when a proxy was set, 0 for a direct connection.
  int ApplyProxy();

  // The operation element with its request head; the caller appends the body.
  pugi::xml_node BuildOmHead(pugi::xml_document& document, const char* operation);
  void LogRequest(const std::string& function, pugi::xml_node payload) const;
  // Sends the payload and decodes the answer into `answer`. The answer's
  // payload, or an empty node when none came (the reason kept for the
  // no-answer line).
  pugi::xml_node Send(pugi::xml_node payload, CSoapAnswer& answer,
                      const std::vector<SoapAttachment>& attachments = {});
  int ParseOmHead(pugi::xml_node response, std::string& result, pugi::xml_node& body);
  int PareseOmElementValue(pugi::xml_node node, const char* name, std::string* text, pugi::xml_node* element);

  // One operation: head, body (filled by `fillBody`), request log, call,
  // head check; a result other than "OK" is logged with `nonOkFormat`
  // (result, reason) at `nonOkLevel`. 1 only when the head said "OK", with
  // `body` the answer's body node; `result` holds the head's result.
  struct Operation {
    const char* method;  // "Login": logs go under "<Class>::Login"
    const char* name;    // "login": the operation and body element name
    const char* nonOkFormat;
    int nonOkLevel;
  };
  using BodyBuilder = std::function<void(pugi::xml_node body, std::vector<SoapAttachment>& attachments)>;
  int Call(const Operation& operation, const BodyBuilder& fillBody, std::string& result, CSoapAnswer& answer,
           pugi::xml_node& body);

  // Ends the call in flight (and every later one); safe from any thread.
  void AbortCall();

  std::string Function(const char* method) const;
  int LastError() const { return lastError_; }
  const std::string& LastErrorText() const { return lastErrorText_; }

  std::string user_;
  std::string password_;  // as sent in the head
  std::string hostId_;
  std::string passport_;
  std::string reason_;
  std::string lastReason_;

 private:
  void NoAnswer(int error, const std::string& text);

  const SoapClientProfile& profile_;
  std::string endpoint_;
  ProxySetting proxy_;
  int timeoutMs_;
  int requestSequence_ = 0;
  int lastError_ = 0;
  std::string lastErrorText_;
  std::mutex transportMutex_;  // AbortCall against FreeAxis2c
  std::unique_ptr<CHttpTransport> transport_;
};

// True when a record of `level` would be written (to skip building big texts).
bool LogWanted(int level);

// `text` with the values of password="..." and passport="..." as ***.
std::string MaskSecrets(std::string text);
