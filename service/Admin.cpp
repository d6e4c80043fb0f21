#include "service/Admin.h"

#include <signal.h>

#include <charconv>
#include <functional>
#include <map>
#include <ostream>

#include "service/Accounts.h"
#include "service/Chunks.h"
#include "service/ServerPath.h"
#include "service/Service.h"
#include "service/Tree.h"

namespace {

constexpr int64_t kDefaultMessageLifetime = 7 * 24 * 3600;

const char* const kUsage =
    "usage: vessa-service --data DIR COMMAND\n"
    "  init                                   create the data folder\n"
    "  adduser NAME PASSWORD                  add a user\n"
    "  passwd NAME PASSWORD                   change a user's password\n"
    "  share OWNER /path/in/owner/tree USER   share an owner's folder with a user\n"
    "  message TEXT [--expire-in SECONDS]     post a system message (default: 7 days)\n"
    "  stats                                  print the service's counters\n"
    "  serve [--bind ADDR] [--port N] [--compress-threshold N] [--max-body BYTES]\n"
    "        [--setup-name NAME] [--passport-lifetime SECONDS] [--threads N]\n";

struct Command {
  std::string data;
  std::string name;
  std::vector<std::string> words;               // positional arguments
  std::map<std::string, std::string> options;  // "--name" -> value
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool ToNumber(const std::string& text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

int64_t NumberOption(const Command& command, const char* name, int64_t fallback, int64_t low, int64_t high) {
  const auto found = command.options.find(name);
  if (found == command.options.end()) return fallback;
  int64_t value = 0;
  if (!ToNumber(found->second, value) || value < low || value > high) {
    throw UsageError(std::string(name) + " needs a number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  }
  return value;
}

Command Parse(const std::vector<std::string>& args) {
  Command command;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.rfind("--", 0) == 0) {
      if (i + 1 >= args.size()) throw UsageError(word + " needs a value");
      (word == "--data" ? command.data : command.options[word]) = args[++i];
    } else if (command.name.empty()) {
      command.name = word;
    } else {
      command.words.push_back(word);
    }
  }
  if (command.data.empty()) throw UsageError("--data DIR is required");
  if (command.name.empty()) throw UsageError("a command is required");
  return command;
}

void Expect(const Command& command, size_t words, const std::vector<std::string>& allowed = {}) {
  if (command.words.size() != words) throw UsageError(command.name + " takes " + std::to_string(words) + " arguments");
  for (const auto& [name, value] : command.options) {
    bool known = false;
    for (const std::string& option : allowed) known = known || option == name;
    if (!known) throw UsageError(command.name + " does not take " + name);
  }
}

// The database of an initialised data folder, for the commands that change it.
struct Store {
  CServiceDb db;
  CChunkStore chunks;
  CAccounts accounts;
  CTree tree;
  explicit Store(const std::string& data) : chunks(db, ChunkFolder(data)), accounts(db), tree(db, accounts, chunks) {}
};

int Fail(std::ostream& err, const std::string& text) {
  err << "vessa-service: " << text << "\n";
  return kExitFailed;
}

int Serve(const Command& command, std::ostream& out, std::ostream& err) {
  Expect(command, 0,
         {"--bind", "--port", "--compress-threshold", "--max-body", "--setup-name", "--passport-lifetime",
          "--threads"});
  ServiceOptions options;
  options.dataFolder = command.data;
  if (command.options.count("--bind")) options.bind = command.options.at("--bind");
  if (command.options.count("--setup-name")) options.setupName = command.options.at("--setup-name");
  options.port = static_cast<int>(NumberOption(command, "--port", options.port, 0, 65535));
  options.compressThreshold =
      static_cast<size_t>(NumberOption(command, "--compress-threshold", 1000, 0, 1LL << 40));
  options.maxBody = static_cast<size_t>(NumberOption(command, "--max-body", 16 << 20, 1024, 1LL << 32));
  options.passportLifetime = NumberOption(command, "--passport-lifetime", options.passportLifetime, 0, 1LL << 40);
  options.threads = static_cast<unsigned>(NumberOption(command, "--threads", options.threads, 1, 64));

  // The request threads inherit this mask: only this thread takes the signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  CService service(options);
  std::string error;
  if (!service.Start(error)) return Fail(err, error);
  out << "listening on " << service.Address() << std::endl;
  int received = 0;
  sigwait(&stopSignals, &received);
  service.Stop();
  return kExitOk;
}

int Execute(const Command& command, std::ostream& out, std::ostream& err) {
  std::string error;
  if (command.name == "init") {
    Expect(command, 0);
    if (!InitDataFolder(command.data, error)) return Fail(err, error);
    out << "initialised " << command.data << "\n";
    return kExitOk;
  }
  if (command.name == "serve") return Serve(command, out, err);
  const std::map<std::string, std::function<int(Store&)>> commands = {
      {"adduser",
       [&](Store& store) {
         Expect(command, 2);
         const std::string& name = command.words[0];
         if (!IsValidUserName(name)) return Fail(err, "invalid user name: " + name);
         if (command.words[1].empty()) return Fail(err, "the password is empty");
         if (!store.accounts.AddUser(name, command.words[1])) return Fail(err, "user exists: " + name);
         out << "added " << name << "\n";
         return kExitOk;
       }},
      {"passwd",
       [&](Store& store) {
         Expect(command, 2);
         if (command.words[1].empty()) return Fail(err, "the password is empty");
         if (!store.accounts.SetPassword(command.words[0], command.words[1])) {
           return Fail(err, "unknown user: " + command.words[0]);
         }
         out << "password changed for " << command.words[0] << "\n";
         return kExitOk;
       }},
      {"share",
       [&](Store& store) {
         Expect(command, 3);
         int64_t id = 0;
         if (store.tree.Share(command.words[0], command.words[1], command.words[2], id, error)) {
           return Fail(err, error);
         }
         out << "share " << id << "\n";
         return kExitOk;
       }},
      {"message",
       [&](Store& store) {
         Expect(command, 1, {"--expire-in"});
         const int64_t lifetime = NumberOption(command, "--expire-in", kDefaultMessageLifetime, 1, 1LL << 31);
         out << "message " << store.accounts.AddMessage(command.words[0], lifetime) << "\n";
         return kExitOk;
       }},
      {"stats",
       [&](Store& store) {
         Expect(command, 0);
         for (const auto& [name, value] : store.accounts.Counters()) out << name << " " << value << "\n";
         return kExitOk;
       }},
  };
  const auto found = commands.find(command.name);
  if (found == commands.end()) throw UsageError("unknown command: " + command.name);
  Store store(command.data);
  if (!store.db.Open(DatabasePath(command.data), false, error)) return Fail(err, error + " (run init first?)");
  return found->second(store);
}

}  // namespace

int RunAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kUsage;
    return kExitOk;
  }
  try {
    return Execute(Parse(args), out, err);
  } catch (const UsageError& usage) {
    err << "vessa-service: " << usage.what() << "\n" << kUsage;
    return kExitUsage;
  } catch (const std::exception& failure) {
    return Fail(err, failure.what());
  }
}
