#pragma once
// The kill -9 harness: two computers of one user, each `vessa-sync --once`
// with a HOME of its own, and the real vessa-service. Every round changes one
// computer's folder at random (small and large files, folders, edits in
// place, deletions, renames), then runs that computer and the other until a
// run of each finishes, killing the client (and now and then the service)
// with SIGKILL at random instants on the way. After every round both folders
// and the service must hold exactly the tree the changes made, every stored
// chunk must match its MD5 and every database must pass its integrity check.
#include <functional>
#include <string>
#include <vector>

struct SoakOptions {
  unsigned seed = 1;
  int clientKills = 40;   // rounds go on until this many client runs were killed
  int serviceKills = 4;   // and this many service processes
  int largeFileMiB = 24;  // the largest file a change makes
  int maxRounds = 300;
  std::string workFolder;  // empty: a temporary folder, kept only when something failed
  std::function<void(const std::string&)> progress;  // a line per round, when set
};

struct SoakResult {
  int rounds = 0;
  int clientKills = 0;
  int serviceKills = 0;
  int converged = 0;    // rounds that ended with every check passed
  int lost = 0;         // entries the changes made that a folder or the service lacked
  int resurrected = 0;  // entries deleted or renamed away that came back
  int corrupted = 0;    // other bytes, a chunk not matching its MD5, a failed integrity check
  int extra = 0;        // entries nobody made: conflict copies, temporary files
  int unfinished = 0;   // computers whose runs never finished within the attempts
  std::vector<std::string> problems;  // the first ones, each saying what and where
  std::string keptFolder;             // the work folder when something failed

  bool Clean() const {
    return lost == 0 && resurrected == 0 && corrupted == 0 && extra == 0 && unfinished == 0 && converged == rounds;
  }
};

SoakResult RunSoak(const SoakOptions& options);
