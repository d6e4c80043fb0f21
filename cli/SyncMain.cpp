// vessa-sync: the sync engine without a window. It logs in with the given or
// remembered login, prints every notice of the engine as one line
//   status: TEXT | tray: STATE TIP | balloon: TITLE: TEXT | message: TEXT
//   icon: logged in USER | icon: logged out | question: TEXT -> OK|Cancel | error: TEXT
// and runs until SIGINT or SIGTERM (then logs out), or with --once until the
// first synchronisation run has ended.
//
// Exit status: 0 the run finished (or a clean stop), 1 the run ended
// unfinished, 2 the login failed or was refused, 3 bad arguments or the
// engine could not start.
#include <pthread.h>
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "engine/AppLog.h"
#include "engine/Work.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "platform/ComputerName.h"
#include "platform/MessageQueue.h"
#include "platform/NoticeSink.h"
#include "platform/UserPrompt.h"

namespace {

constexpr int kFinished = 0;
constexpr int kUnfinished = 1;
constexpr int kLoginFailed = 2;
constexpr int kCannotStart = 3;

constexpr uintptr_t kWindow = 1;      // this program as the requester of login and logout
constexpr unsigned kRunEnded = 1;     // wParam 1: finished
constexpr unsigned kSignalled = 2;

struct Options {
  std::string root;
  std::string user;
  std::string password;
  std::string hostName;
  std::string authServer;
  bool once = false;
  bool yes = false;
  bool help = false;
  int logLevel = -1;
  int lanes = 0;  // 0: as the settings say
};

constexpr const char* kUsage =
    "usage: vessa-sync [--root DIR] [--user NAME] [--password PW] [--host-name NAME]\n"
    "                  [--auth-server URL] [--once] [--yes] [--log-level N] [--lanes N]\n"
    "--lanes N: how many files travel at once (1 to 8; the setting transfer_lanes, else 3).\n"
    "The password may also come from the environment variable VESSA_PASSWORD.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vessa-sync: %s\n%s", problem, kUsage);
  return kCannotStart;
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& problem) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--once") {
      options.once = true;
      continue;
    }
    if (name == "--yes") {
      options.yes = true;
      continue;
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      return true;
    }
    if (i + 1 >= argc) {
      problem = "missing value after " + name;
      return false;
    }
    const std::string value = argv[++i];
    if (name == "--root") {
      options.root = value;
    } else if (name == "--user") {
      options.user = value;
    } else if (name == "--password") {
      options.password = value;
    } else if (name == "--host-name") {
      options.hostName = value;
    } else if (name == "--auth-server") {
      options.authServer = value;
    } else if (name == "--log-level" && value.size() == 1 && value[0] >= '0' && value[0] <= '6') {
      options.logLevel = value[0] - '0';
    } else if (name == "--lanes" && value.size() == 1 && value[0] >= '1' && value[0] <= '8') {
      options.lanes = value[0] - '0';
    } else {
      problem = "unknown option or bad value: " + name + " " + value;
      return false;
    }
  }
  return true;
}

// One notice, one line: a control character of a file name (a line feed)
// is printed as "?".
void PrintLine(std::string line) {
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

// Prints the notices; the answers and the end of each run go to the main
// thread's queue. A run ends with the first tray state other than 1 after a 1.
class CPrintingSink : public INoticeSink {
 public:
  explicit CPrintingSink(CMessageQueue& events) : events_(events) {}

  void Send(const Notice& notice) override {
    switch (notice.id) {
      case WM_SHOW_STATUS:
        PrintLine("status: " + notice.text);
        break;
      case WM_SET_TRAY_STATE:
        PrintLine("tray: " + std::to_string(notice.state) + " " + notice.text);
        TrackRun(notice.state);
        break;
      case WM_SHOW_BALLOON:
        PrintLine("balloon: " + notice.title + ": " + notice.text);
        break;
      case WM_SETMESSAGESTRING:
        PrintLine("message: " + notice.text);
        break;
      default:
        break;
    }
  }
  void ShowLoggedInIcon(const std::string& user) override { PrintLine("icon: logged in " + user); }
  void ShowLoggedOutIcon() override { PrintLine("icon: logged out"); }
  void Post(uintptr_t window, unsigned message, uintptr_t wParam) override {
    if (window == kWindow) events_.Post(message, wParam);
  }

 private:
  void TrackRun(int state) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state == 1) {
      inRun_ = true;
    } else if (inRun_) {
      inRun_ = false;
      events_.Post(kRunEnded, state == 2 ? 1 : 0);
    }
  }

  CMessageQueue& events_;
  std::mutex mutex_;
  bool inRun_ = false;
};

// Questions are answered OK only under --yes.
class CFlagPrompt : public IUserPrompt {
 public:
  explicit CFlagPrompt(bool yes) : yes_(yes) {}
  bool AskOkCancel(const std::string& text) override {
    PrintLine("question: " + text + (yes_ ? " -> OK" : " -> Cancel"));
    return yes_;
  }
  void ShowError(const std::string& text) override { PrintLine("error: " + text); }

 private:
  bool yes_;
};

std::string Local(const char* utf8) {
  std::string text = utf8;
  CUtil::Utf8ToAnsi(text);
  return text;
}

// Takes the login as the login dialog does: a different user than the
// remembered one is a new user (full first synchronisation) and must be
// confirmed; the password is remembered; a host name once set is kept.
bool TakeLogin(CWork& work, IUserPrompt& prompt, const Options& options) {
  CConfig& config = work.GetConfig();
  const std::string storedUser = config.Get(CConfig::kLoginUser);
  const std::string user = options.user.empty() ? storedUser : options.user;
  std::string password = options.password;
  if (password.empty() && std::getenv("VESSA_PASSWORD")) password = std::getenv("VESSA_PASSWORD");
  if (password.empty() && user == storedUser) password = config.Get(CConfig::kLoginPasswd);
  if (user.empty() || password.empty()) {
    PrintLine("error: " + Local("请输入完整数据"));
    return false;
  }
  if (user != storedUser) {
    if (!storedUser.empty() && !prompt.AskOkCancel(Local("更换用户？ 原用户数据将不再被自动同步到服务器..."))) {
      return false;
    }
    work.SetFirstSync(1);
  }
  config.Set(CConfig::kLoginUser, user);
  config.Set(CConfig::kLoginPasswd, password);
  if (config.Get(CConfig::kHostName).empty()) {
    config.Set(CConfig::kHostName, options.hostName.empty() ? platform::ComputerName() : options.hostName);
  }
  if (!options.authServer.empty()) config.Set(CConfig::kAuthServer, options.authServer);
  work.SetUser(user, password);
  return true;
}

// Waits for the engine's answers, the end of the run and the signals, and
// returns the exit status once the engine has logged out (or never logged in).
int RunUntilDone(CWork& work, CMessageQueue& events, bool once) {
  int status = kFinished;
  bool loggedIn = false;
  bool loggingOut = false;
  bool stopAsked = false;
  const auto logout = [&] {
    if (loggingOut) return;
    loggingOut = true;
    work.Request(WM_WORK_LOGOUT, kWindow);
  };
  work.Request(WM_WORK_LOGIN, kWindow);
  for (;;) {
    const QueuedMessage event = events.Get();
    switch (event.message) {
      case WM_WORK_LOGIN_DONE:
        if (!event.wParam) return kLoginFailed;
        loggedIn = true;
        if (stopAsked) logout();
        break;
      case kRunEnded:
        if (once && !loggingOut) {
          status = event.wParam ? kFinished : kUnfinished;
          logout();
        }
        break;
      case kSignalled:
        stopAsked = true;
        if (loggedIn) {
          logout();
        } else {
          work.SetLoginCancel(1);  // ends a login that keeps retrying
        }
        break;
      case WM_WORK_LOGOUT_DONE:
        return status;
      default:
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options options;
  std::string problem;
  if (!ParseOptions(argc, argv, options, problem)) return Usage(problem.c_str());
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  // The signals are taken by one thread with sigwait; every other thread,
  // the engine's included, inherits the blocked set.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);  // ends the signal thread
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  if (!options.root.empty()) {
    std::error_code error;
    const std::string root = std::filesystem::absolute(options.root, error).lexically_normal().string();
    if (error || !CUtil::WriteRootPath(root)) return Usage("cannot store the root folder");
  }
  std::unique_ptr<CLogger> logger = OpenAppLog();
  if (logger) SetAppLogger(logger.get());

  int status = kCannotStart;
  {
    CMessageQueue events;
    CPrintingSink sink(events);
    CFlagPrompt prompt(options.yes);
    CWork work(sink, prompt);
    if (!work.Init()) {
      PrintLine("error: Fail to start Worker!");
    } else {
      if (options.logLevel >= 0) {
        work.GetConfig().Set(CConfig::kLogLevel, std::to_string(options.logLevel));
        if (logger) logger->SetLevel(options.logLevel);
      }
      if (options.lanes > 0) work.GetConfig().Set(CConfig::kTransferLanes, std::to_string(options.lanes));
      std::thread signalThread([&] {
        int number = 0;
        if (sigwait(&signals, &number) == 0 && number != SIGUSR1) events.Post(kSignalled, number);
      });
      status = TakeLogin(work, prompt, options) ? RunUntilDone(work, events, options.once) : kLoginFailed;
      pthread_kill(signalThread.native_handle(), SIGUSR1);
      signalThread.join();
    }
  }
  SetAppLogger(nullptr);
  return status;
}
