#include "protocol/HeartBeat.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "platform/Messages.h"

namespace {

const SoapClientProfile kHeartBeatProfile = {
    "CHeartBeat",
    120000,
    /*sendsSource=*/false,
    /*sendsPassport=*/false,
    /*checksSequence=*/false,
    /*keepsLastReason=*/false,
    "reqonse:",
    "Stub invoke FAILED: Error code:  %d :: %s",
    "Fail to get a element",
    nullptr,
    "Fail to get a element",
    "Mismatched element KEY %s with %s",
};

constexpr const char* kVersion = "version01";

}  // namespace

CHeartBeat::CHeartBeat() : CSoapFrame(kHeartBeatProfile) {}

int CHeartBeat::Init(CMessageQueue* worker, const std::string& endpoint, const std::string& user,
                     const std::string& password, const std::string& hostId, const std::string& /*installFolder*/) {
  worker_ = worker;
  if (!SetUp(endpoint, user, PasswordDigest(password), hostId)) return 0;
  state_ = kRunning;  // before the thread starts, so that an early Stop is not lost
  try {
    std::thread(HeartThreadProc, this).detach();
  } catch (const std::system_error&) {
    state_ = kStopRequested;
    std::string text = "创建心跳线程失败！";
    CUtil::Utf8ToAnsi(text);
    LogText(CLogger::kError, "CHeartBeat::Init", text);
    return 0;
  }
  return 1;
}

int CHeartBeat::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == kRunning) {
    state_ = kStopRequested;
    AbortCall();
    wake_.notify_all();
  }
  return 1;
}

void CHeartBeat::HeartThreadProc(CHeartBeat* self) {
  if (!self) {
    LogText(CLogger::kFatal, "CHeartBeat::HeartThreadProc", "Failed for getting a NULL param!");
    return;
  }
  self->Run();
  self->state_ = kStopped;
  { std::lock_guard<std::mutex> lock(self->mutex_); }  // a Stop in progress has finished
  std::promise<void> ended = std::move(self->ended_);
  delete self;
  ended.set_value();
}

void CHeartBeat::Run() {
  std::string answer;
  while (state_ == kRunning) {
    if (!WaitInterval()) break;
    const int beat = Beat(answer);
    if (beat == 1 && answer == "yes") {
      Notify();
    } else if (beat == 1 && lastRunOk_ == 0) {
      Notify();
    } else if (beat == 0 && lastRunOk_ != 0 && state_ == kRunning) {
      Notify();
    }
  }
}

bool CHeartBeat::WaitInterval() {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::chrono::milliseconds interval(ProcessTiming().heartbeatIntervalMs.load());
  wake_.wait_for(lock, interval, [this] { return state_ != kRunning; });
  return state_ == kRunning;
}

void CHeartBeat::Notify() {
  if (worker_) worker_->Post(WM_WORK_CHANGED, 0, 0);
}

int CHeartBeat::Beat(std::string& answer) {
  pugi::xml_document request;
  const pugi::xml_node payload = BuildOmRequest(request);
  CSoapAnswer reply;
  return ParseOmResponse(Send(payload, reply), answer);
}

pugi::xml_node CHeartBeat::BuildOmRequest(pugi::xml_document& document) {
  pugi::xml_node root = BuildOmHead(document, "heartbeat");
  root.append_child("heartbeat");
  LogRequest("CHeartBeat::BuildOmRequest", root);
  return root;
}

int CHeartBeat::ParseOmResponse(pugi::xml_node response, std::string& text) {
  const char* fn = "CHeartBeat::ParseOmResponse";
  if (!response) {
    LogF(CLogger::kError, fn, "Stub invoke FAILED: Error code:  %d :: %s", LastError(), LastErrorText().c_str());
    return 0;
  }
  if (LogWanted(CLogger::kInfo)) LogText(CLogger::kInfo, fn, "reqonse:" + MaskSecrets(SerializePayload(response)));
  const std::string_view name = response.attribute("name").value();
  if (name != "heartbeat_rsp") {
    LogF(CLogger::kError, fn, "Mismatched operation %s with %s", response.attribute("name").value(), "heartbeat_rsp");
    return 0;
  }
  const std::string_view version = response.attribute("version").value();
  if (version != kVersion) {
    LogF(CLogger::kError, fn, "Mismatched version %s with %s", response.attribute("version").value(), kVersion);
    return 0;
  }
  const pugi::xml_node head = response.first_child();
  if (!head) {
    LogText(CLogger::kError, fn, "Fail to get a node HEAD");
    return 0;
  }
  const pugi::xml_node body = head.next_sibling();
  if (body.type() != pugi::node_element || LocalName(body.name()) != "heartbeat_rsp") {
    LogText(CLogger::kError, fn, "Fail to get a element");
    return 0;
  }
  text = body.attribute("new_event").value();
  return 1;
}
