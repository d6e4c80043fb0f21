#include "tests/e2e/soak/KillHarness.h"

#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "foundation/Util.h"
#include "tests/e2e/engine/ServerUser.h"
#include "tests/e2e/engine/ServiceProcess.h"
#include "tests/e2e/engine/TreeState.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "soak";
constexpr const char* kPassword = "soak-password";
constexpr int kRunTimeoutMs = 180000;  // a run that takes longer has hung
constexpr int kAttempts = 8;           // runs of one computer in one round
constexpr int kKillingAttempts = 4;    // the later attempts run undisturbed
constexpr std::size_t kMaxFiles = 60;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kMaxProblems = 30;
constexpr const char* kAnchor = "/anchor.txt";  // never removed: an emptied folder would ask the user first

// splitmix64: small, fast and the same everywhere, so a seed replays a soak.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0) < p; }

 private:
  uint64_t state_;
};

std::string Bytes(std::size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  Random random(seed);
  std::size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    const uint64_t value = random.Next();
    std::memcpy(&bytes[at], &value, 8);
  }
  for (; at < size; ++at) bytes[at] = static_cast<char>(random.Next());
  return bytes;
}

// ---------------------------------------------------------------------------
// Random changes of one user folder

class FolderChanger {
 public:
  FolderChanger(Random& random, int largeFileMiB) : random_(random), largeBytes_(largeFileMiB * kMiB) {}

  // Makes `count` changes in `folder`; a line naming each goes to `done`.
  void Change(const std::string& folder, int count, std::vector<std::string>& done) {
    folder_ = folder;
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) done.push_back(ChangeOnce());
  }

 private:
  void Look() {
    files_.clear();
    folders_ = {""};
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      const std::string rel = "/" + fs::relative(entry.path(), folder_).string();
      const std::string name = entry.path().filename().string();
      if (name == "desktop.ini" || name == ".vessashare") continue;
      (entry.is_directory() ? folders_ : files_).push_back(rel);
    }
  }

  std::string Full(const std::string& rel) const { return folder_ + rel; }
  std::string AnyFolder() { return folders_[random_.Below(folders_.size())]; }
  std::string NewName(const char* extension) {
    static const char* const kStems[] = {"notes", "报告", "photo 01", "data", "a", "Mixed Case", "文档"};
    return std::string(kStems[random_.Below(std::size(kStems))]) + "-" + std::to_string(++made_) + extension;
  }
  // A file or folder other than the anchor, "" when there is none.
  std::string AnyFile() {
    std::vector<std::string> choices;
    for (const std::string& file : files_) {
      if (file != kAnchor) choices.push_back(file);
    }
    return choices.empty() ? "" : choices[random_.Below(choices.size())];
  }
  std::string AnySubfolder() { return folders_.size() < 2 ? "" : folders_[1 + random_.Below(folders_.size() - 1)]; }

  std::size_t LargeSize() {
    switch (random_.Below(4)) {
      case 0: return kChunk;      // exactly one chunk
      case 1: return kChunk + 1;  // one byte into the second
      default: return kMiB + random_.Below(largeBytes_ - kMiB + 1);
    }
  }

  void Write(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(Full(rel)).parent_path());
    WriteFile(Full(rel), bytes);
  }

  std::string ChangeOnce() {
    Look();
    if (!fs::exists(Full(kAnchor))) {
      Write(kAnchor, "this file stays");
      return std::string("made ") + kAnchor;
    }
    const std::size_t pick = random_.Below(100);
    const bool room = files_.size() < kMaxFiles;
    if (pick < 22 && room) {
      const std::string rel = NewFolderPath(AnyFolder()) + "/" + NewName(".txt");
      Write(rel, Bytes(random_.Below(300 * 1024), random_.Next()));
      return "made " + rel;
    }
    if (pick < 30 && room) {
      const std::string rel = AnyFolder() + "/" + NewName(".bin");
      Write(rel, Bytes(LargeSize(), random_.Next()));
      return "made large " + rel;
    }
    const std::string file = AnyFile();
    const std::string folder = AnySubfolder();
    if (pick < 45 && !file.empty()) return EditFile(file);
    if (pick < 58 && !file.empty()) {
      fs::remove(Full(file));
      return "deleted " + file;
    }
    if (pick < 62 && !folder.empty()) {
      fs::remove_all(Full(folder));
      return "deleted folder " + folder;
    }
    if (pick < 72 && !file.empty()) {
      const std::string to = AnyFolder() + "/" + NewName(fs::path(file).extension().string().c_str());
      fs::rename(Full(file), Full(to));
      return "renamed " + file + " to " + to;
    }
    if (pick < 77 && !folder.empty()) {
      const std::string to = folder.substr(0, folder.rfind('/')) + "/" + NewName("");
      fs::rename(Full(folder), Full(to));
      return "renamed folder " + folder + " to " + to;
    }
    if (pick < 85) {
      const std::string rel = NewFolderPath(AnyFolder());
      fs::create_directories(Full(rel));
      return "made folder " + rel;
    }
    if (!file.empty()) {
      // Only the time moves: the client must not send the same bytes again.
      const auto when = fs::last_write_time(Full(file));
      fs::last_write_time(Full(file), when + std::chrono::seconds(1 + random_.Below(100000)));
      return "touched " + file;
    }
    Write("/" + NewName(".txt"), Bytes(random_.Below(1000), random_.Next()));
    return "made a small file";
  }

  // A folder below `parent`: an existing one, or a new path one to three levels down.
  std::string NewFolderPath(const std::string& parent) {
    if (random_.Chance(0.5) || parent.size() > 120) return parent;
    std::string path = parent;
    for (std::size_t level = 0, levels = 1 + random_.Below(3); level < levels; ++level) path += "/" + NewName("");
    return path;
  }

  std::string EditFile(const std::string& rel) {
    const std::string full = Full(rel);
    const std::size_t size = static_cast<std::size_t>(fs::file_size(full));
    if (size < kMiB || random_.Chance(0.2)) {
      Write(rel, Bytes(size < kMiB ? random_.Below(300 * 1024) : LargeSize(), random_.Next()));
      return "rewrote " + rel;
    }
    switch (random_.Below(3)) {
      case 0: {
        const std::size_t length = 1 + random_.Below(64 * 1024);
        const std::size_t at = random_.Below(size - std::min(size, length));
        std::fstream file(full, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(at));
        const std::string bytes = Bytes(length, random_.Next());
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return "changed bytes in " + rel;
      }
      case 1: {
        std::ofstream file(full, std::ios::app | std::ios::binary);
        const std::string bytes = Bytes(1 + random_.Below(2 * kMiB), random_.Next());
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return "appended to " + rel;
      }
      default:
        fs::resize_file(full, random_.Below(size));
        return "cut " + rel;
    }
  }

  static constexpr std::size_t kChunk = 4 * kMiB;
  Random& random_;
  std::size_t largeBytes_;
  std::string folder_;
  std::vector<std::string> files_;
  std::vector<std::string> folders_;
  int made_ = 0;
};

// ---------------------------------------------------------------------------
// Computers and runs

struct Computer {
  explicit Computer(std::string computerName) : name(std::move(computerName)) {}

  std::string name;
  std::string home;
  std::string root;
  double typicalMs = 2000;  // how long a run that finished took, smoothed

  std::string Folder() const { return root + "/" + kUser; }
  std::string ClientDb() const { return root + "/.db/client.db"; }
  std::string Output() const { return home + "/vessa-sync.out"; }
  std::vector<std::string> Environment() const {
    return {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config", "XDG_STATE_HOME=" + home + "/state",
            "XDG_RUNTIME_DIR=" + home + "/runtime", "XDG_CACHE_HOME=" + home + "/cache",
            std::string("VESSA_PASSWORD=") + kPassword};
  }
};

enum class Kill { kNone, kClient, kService };

// "ok" when the database passes; otherwise what it says.
std::string IntegrityOf(const std::string& path) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    } else {
      verdict = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return verdict;
}

// The stored chunks whose bytes do not have the MD5 (or size) they are filed under.
std::vector<std::string> BadChunks(const std::string& dataFolder) {
  std::vector<std::string> bad;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((dataFolder + "/service.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"service.db cannot be opened"};
  }
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db, "SELECT md5, storage_key, size FROM chunks WHERE stored=1", -1, &rows, nullptr);
  while (rows && sqlite3_step(rows) == SQLITE_ROW) {
    const std::string md5 = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
    const std::string key = reinterpret_cast<const char*>(sqlite3_column_text(rows, 1));
    const std::string bytes = ReadFile(dataFolder + "/chunks/" + key);
    std::string digest;
    CUtil::Md5Hex(bytes.data(), bytes.size(), digest);
    if (strcasecmp(digest.c_str(), md5.c_str()) != 0 || static_cast<int64_t>(bytes.size()) != sqlite3_column_int64(rows, 2)) {
      bad.push_back(key + " filed as " + md5 + " holds " + digest);
    }
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  return bad;
}

class Harness {
 public:
  Harness(const SoakOptions& options, std::string work)
      : options_(options), work_(std::move(work)), random_(options.seed), changer_(random_, options.largeFileMiB),
        service_(work_ + "/service") {}

  SoakResult Run() {
    if (!SetUp()) return result_;
    // The first runs on empty folders: a folder that holds files before the
    // first login is a question to the user.
    if (!RunUntilFinished(a_, false) || !RunUntilFinished(b_, false)) return result_;
    // A failed round leaves a state later rounds cannot judge: the soak stops there.
    for (int round = 1; round <= options_.maxRounds && !Done(); ++round) {
      if (!RunRound(round)) break;
    }
    service_.Stop();
    return result_;
  }

 private:
  bool SetUp() {
    for (Computer* computer : {&a_, &b_}) {
      computer->home = work_ + "/home-" + computer->name;
      computer->root = work_ + "/" + computer->name;
      for (const char* sub : {"config", "state", "runtime", "cache"}) fs::create_directories(computer->home + "/" + sub);
      fs::permissions(computer->home + "/runtime", fs::perms::owner_all);
      fs::create_directories(computer->root);
    }
    if (service_.Admin({"adduser", kUser, kPassword}) != 0 || !service_.Start()) {
      Problem("the service did not start");
      return false;
    }
    port_ = service_.Port();
    return true;
  }

  bool Done() const {
    return result_.clientKills >= options_.clientKills && result_.serviceKills >= options_.serviceKills;
  }

  // False when a check failed.
  bool RunRound(int round) {
    round_ = round;
    ++result_.rounds;
    Computer& writer = random_.Chance(0.5) ? a_ : b_;
    Computer& other = &writer == &a_ ? b_ : a_;
    std::vector<std::string> changes;
    changer_.Change(writer.Folder(), round == 1 ? 12 : 1 + static_cast<int>(random_.Below(5)), changes);
    const TreeState expected = LocalTree(writer.Folder());
    for (const auto& [path, state] : expected) everMade_.insert(path);

    const int killsBefore = result_.clientKills + result_.serviceKills;
    const std::size_t problemsBefore = Problems();
    const bool finished = RunUntilFinished(writer, true) && RunUntilFinished(other, true) &&
                          RunUntilFinished(writer, false);
    Compare(expected, LocalTree(a_.Folder()), "computer a");
    Compare(expected, LocalTree(b_.Folder()), "computer b");
    CheckService(expected);
    CheckStores();
    const bool agreed = finished && Problems() == problemsBefore;
    if (agreed) ++result_.converged;
    if (options_.progress) {
      std::string line = "round " + std::to_string(round) + ": " + writer.name + " " +
                         std::to_string(changes.size()) + " changes (" + changes.front() + (changes.size() > 1 ? ", ..." : "") +
                         "), " + std::to_string(result_.clientKills + result_.serviceKills - killsBefore) + " kills, " +
                         (agreed ? "agreed" : "FAILED");
      options_.progress(line);
    }
    return agreed;
  }

  std::size_t Problems() const {
    return static_cast<std::size_t>(result_.lost + result_.resurrected + result_.corrupted + result_.extra +
                                    result_.unfinished);
  }

  void Problem(const std::string& text) {
    if (result_.problems.size() < kMaxProblems) result_.problems.push_back("round " + std::to_string(round_) + ": " + text);
  }

  // ---- runs ----

  bool RunUntilFinished(Computer& computer, bool mayKill) {
    int lastCode = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      const Kill kill = mayKill && attempt < kKillingAttempts ? ChooseKill() : Kill::kNone;
      const int delayMs = static_cast<int>(random_.Below(static_cast<std::size_t>(computer.typicalMs * 1.1) + 1));
      bool killed = false;
      lastCode = RunOnce(computer, kill, delayMs, killed);
      if (!killed && lastCode == 0) return true;
    }
    ++result_.unfinished;
    Problem(computer.name + " never finished a run (last exit " + std::to_string(lastCode) + "; see " +
            computer.Output() + ")");
    return false;
  }

  Kill ChooseKill() {
    if (result_.serviceKills < options_.serviceKills && random_.Chance(0.12)) return Kill::kService;
    if (result_.clientKills < options_.clientKills && random_.Chance(0.6)) return Kill::kClient;
    return Kill::kNone;
  }

  // One `vessa-sync --once`; its exit code, -1 when it was killed.
  int RunOnce(Computer& computer, Kill kill, int delayMs, bool& killed) {
    std::ofstream(computer.Output(), std::ios::app) << "==== round " << round_ << "\n";
    ChildProgram sync;
    const std::vector<std::string> args = {"--root", computer.root, "--user", kUser, "--host-name", computer.name,
                                           "--auth-server", service_.AuthUrl(), "--once"};
    const auto started = Clock::now();
    if (!sync.StartToFile(VESSA_SYNC_PROGRAM, args, computer.Environment(), computer.Output())) {
      Problem("vessa-sync could not be started");
      return -1;
    }
    int code = 0;
    if (kill != Kill::kNone && !sync.WaitFor(delayMs, code)) {
      if (kill == Kill::kClient) {
        sync.Signal(SIGKILL);
        sync.WaitFor(kRunTimeoutMs, code);
        ++result_.clientKills;
        killed = true;
        return -1;
      }
      service_.Kill();
      ++result_.serviceKills;
      if (!StartServiceAgain()) return -1;
    }
    if (!sync.WaitFor(kRunTimeoutMs, code)) {
      sync.Signal(SIGKILL);
      sync.WaitFor(kRunTimeoutMs, code);
      Problem(computer.name + ": a run did not end within " + std::to_string(kRunTimeoutMs / 1000) + " s");
      return -1;
    }
    if (code == 0) {
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
      computer.typicalMs = 0.6 * computer.typicalMs + 0.4 * ms;
    }
    return code;
  }

  bool StartServiceAgain() {
    // The clients keep the address they were given: the service comes back on its port.
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (service_.Start({}, port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Problem("the service did not start again on port " + std::to_string(port_));
    return false;
  }

  // ---- checks ----

  void Compare(const TreeState& expected, const TreeState& found, const std::string& where) {
    for (const auto& [path, state] : expected) {
      const auto it = found.find(path);
      if (it == found.end()) {
        ++result_.lost;
        Problem(where + " lacks " + path);
      } else if (it->second != state) {
        ++result_.corrupted;
        Problem(where + " holds " + path + " as " + it->second + " instead of " + state);
      }
    }
    for (const auto& [path, state] : found) {
      if (expected.count(path)) continue;
      if (everMade_.count(path)) {
        ++result_.resurrected;
        Problem(where + " holds " + path + " again");
      } else {
        ++result_.extra;
        Problem(where + " holds " + path + ", which nobody made");
      }
    }
  }

  void CheckService(const TreeState& expected) {
    ServerUser reader(service_.AuthUrl(), kUser, kPassword, "soak-check");
    if (!reader.Ready()) {
      ++result_.corrupted;
      Problem("the service's tree cannot be read");
      return;
    }
    Compare(expected, ServiceTree(reader, service_), "the service");
  }

  void CheckStores() {
    for (const std::string& chunk : BadChunks(service_.DataFolder())) {
      ++result_.corrupted;
      Problem("stored chunk " + chunk);
    }
    for (const std::string& db : {service_.DataFolder() + "/service.db", a_.ClientDb(), b_.ClientDb()}) {
      const std::string verdict = IntegrityOf(db);
      if (verdict == "ok") continue;
      ++result_.corrupted;
      Problem(db + ": integrity check says " + verdict);
    }
  }

  const SoakOptions& options_;
  std::string work_;
  Random random_;
  FolderChanger changer_;
  ServiceProcess service_;
  int port_ = 0;
  Computer a_{"a"};
  Computer b_{"b"};
  std::set<std::string> everMade_;
  int round_ = 0;
  SoakResult result_;
};

std::string MakeWorkFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vessa-soak-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

}  // namespace

SoakResult RunSoak(const SoakOptions& options) {
  const bool own = options.workFolder.empty();
  const std::string work = own ? MakeWorkFolder() : options.workFolder;
  fs::create_directories(work);
  SoakResult result = Harness(options, work).Run();
  if (own && result.Clean()) {
    std::error_code ignored;
    fs::remove_all(work, ignored);
  } else {
    result.keptFolder = work;
  }
  return result;
}
