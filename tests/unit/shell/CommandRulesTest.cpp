#include <gtest/gtest.h>

#include "shell/Commands.h"

namespace {

struct Rule {
  int id;
  bool noWorker, loggedOut, loggedInBusy, loggedInIdle;
};

}  // namespace

// The four situations: no worker; logged out; logged in during a run;
// logged in and idle.
TEST(CommandRulesTest, EachCommandFollowsItsEnableRule) {
  const WorkState noWorker{false, false, false};
  const WorkState loggedOut{true, false, false};
  const WorkState busy{true, true, false};
  const WorkState idle{true, true, true};
  const Rule rules[] = {
      {cmd::kLogin, false, true, false, false},       {cmd::kTrayLogin, false, true, false, false},
      {cmd::kLogout, false, false, true, true},       {cmd::kTrayLogout, false, false, true, true},
      {cmd::kSync, false, false, false, true},        {cmd::kTraySync, false, false, false, true},
      {cmd::kLocalFolder, false, false, true, true},  {cmd::kWebFolder, false, false, true, true},
      {cmd::kHelp, true, true, true, true},           {cmd::kOptions, true, true, true, true},
      {cmd::kAbout, true, true, true, true},          {cmd::kAboutMain, true, true, true, true},
      {cmd::kExit, true, true, true, true},           {cmd::kOptionsButton, true, true, true, true},
      {cmd::kCheckUpdateButton, true, true, true, true},
      // Main-menu items without a handler stay disabled.
      {cmd::kRegister, false, false, false, false},   {cmd::kShare, false, false, false, false},
      {cmd::kHistory, false, false, false, false},    {cmd::kMainOptions, false, false, false, false},
      // The recent-update commands; "None" (32900) is never enabled.
      {cmd::kRecentNone, false, false, false, false}, {32901, true, true, true, true},
      {32909, true, true, true, true},                {32910, false, false, false, false},
  };
  for (const Rule& rule : rules) {
    EXPECT_EQ(IsCommandEnabled(rule.id, noWorker), rule.noWorker) << rule.id;
    EXPECT_EQ(IsCommandEnabled(rule.id, loggedOut), rule.loggedOut) << rule.id;
    EXPECT_EQ(IsCommandEnabled(rule.id, busy), rule.loggedInBusy) << rule.id;
    EXPECT_EQ(IsCommandEnabled(rule.id, idle), rule.loggedInIdle) << rule.id;
  }
}

// The sync-enabled flag alone (without a worker it cannot be read) never
// enables synchronising.
TEST(CommandRulesTest, SyncNeedsAWorker) {
  EXPECT_FALSE(IsCommandEnabled(cmd::kSync, WorkState{false, false, true}));
}
