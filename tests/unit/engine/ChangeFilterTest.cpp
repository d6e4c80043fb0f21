#include "engine/ChangeFilter.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "store/FileCache.h"

namespace {

using Kind = CChangeFilter::Step::Kind;

struct Change {
  int action;
  std::string path;
  std::deque<bool> idleReads;  // what each read of the sync-enabled flag gives
  Kind expected;
  std::string renameText = "";
};

struct Sequence {
  const char* name;
  std::vector<Change> changes;
};

const std::string kTemporary = "docs/" + NewTemporaryName();

const Sequence kSequences[] = {
    {"idle change asks for a run", {{1, "a.txt", {true, true}, Kind::kSync}}},
    {"change during a run only resyncs", {{3, "a.txt", {false}, Kind::kResync}}},
    {"run starting between the two reads resyncs", {{2, "a.txt", {true, false}, Kind::kResync}}},
    {"idle rename joins old and new name",
     {{4, "docs/old.txt", {true}, Kind::kNothing}, {5, "docs/new.txt", {true}, Kind::kRename, "docs/old.txt|docs/new.txt"}}},
    {"old name seen during a run, new name idle",
     {{4, "old", {false}, Kind::kResync}, {5, "new", {true}, Kind::kRename, "old|new"}}},
    {"rename during a run is only a resync",
     {{4, "old", {false}, Kind::kResync}, {5, "new", {false}, Kind::kResync}}},
    {"new name without its old name is a plain change",
     {{1, "x", {true, true}, Kind::kSync}, {5, "y", {true, true}, Kind::kSync}}},
    {"lost changes ask for a run", {{-1, "", {true, true}, Kind::kSync}}},
    {"a second rename pairs with its own old name",
     {{4, "a", {true}, Kind::kNothing},
      {5, "b", {true}, Kind::kRename, "a|b"},
      {4, "c", {true}, Kind::kNothing},
      {5, "d", {true}, Kind::kRename, "c|d"}}},
    // A download that fails every time must not repeat its pass for ever.
    {"the engine's temporary file asks nothing",
     {{1, kTemporary, {}, Kind::kNothing}, {3, kTemporary, {}, Kind::kNothing}, {2, kTemporary, {}, Kind::kNothing}}},
    {"a temporary file moved into place is a change of its target, not a rename",
     {{4, kTemporary, {}, Kind::kNothing}, {5, "docs/a.txt", {true, true}, Kind::kSync}}},
    {"a user's file that merely begins like a temporary one is a change",
     {{1, "docs/.vessatmp-notes", {true, true}, Kind::kSync}}},
};

TEST(ChangeFilterTest, TurnsWatcherChangesIntoRequests) {
  for (const Sequence& sequence : kSequences) {
    SCOPED_TRACE(sequence.name);
    CChangeFilter filter;
    for (const Change& change : sequence.changes) {
      std::deque<bool> reads = change.idleReads;
      const auto idle = [&reads] {
        EXPECT_FALSE(reads.empty()) << "read the flag more often than expected";
        if (reads.empty()) return false;
        const bool value = reads.front();
        reads.pop_front();
        return value;
      };
      const CChangeFilter::Step step = filter.OnChange(change.action, change.path, idle);
      EXPECT_EQ(step.kind, change.expected) << change.action << " " << change.path;
      EXPECT_EQ(step.renameText, change.renameText);
      EXPECT_TRUE(reads.empty()) << "read the flag less often than expected";
    }
  }
}

}  // namespace
