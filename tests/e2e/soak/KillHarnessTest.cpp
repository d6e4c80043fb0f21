// The kill -9 harness, bounded: random changes on two computers, vessa-sync
// and vessa-service killed at random instants, and after every round both
// folders and the service hold exactly what the changes made.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/soak/KillHarness.h"

namespace {

#ifdef VESSA_SANITIZED_BUILD
constexpr int kClientKills = 12;  // the sanitizer build runs about three times slower
#else
constexpr int kClientKills = 40;
#endif

std::string Report(const SoakResult& result) {
  std::string text = std::to_string(result.rounds) + " rounds, " + std::to_string(result.converged) + " converged, " +
                     std::to_string(result.clientKills) + " client and " + std::to_string(result.serviceKills) +
                     " service kills\n";
  for (const std::string& problem : result.problems) text += "  " + problem + "\n";
  if (!result.keptFolder.empty()) text += "  kept in " + result.keptFolder + "\n";
  return text;
}

SoakResult Soak(unsigned seed, int clientKills, int serviceKills) {
  SoakOptions options;
  options.seed = seed;
  options.clientKills = clientKills;
  options.serviceKills = serviceKills;
  options.largeFileMiB = 16;
  return RunSoak(options);
}

// A new seed every run (VESSA_SOAK_SEED replays one); a failing seed joins
// the fixed ones below.
TEST(KillHarnessTest, EveryKillLeavesAStateTheNextRunsComplete) {
  const char* given = std::getenv("VESSA_SOAK_SEED");
  const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                              : static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
  std::printf("kill harness seed %u (VESSA_SOAK_SEED=%u replays it)\n", seed, seed);
  const SoakResult result = Soak(seed, kClientKills, 3);
  EXPECT_TRUE(result.Clean()) << "seed " << seed << ": " << Report(result);
  EXPECT_GE(result.clientKills, kClientKills);
  EXPECT_GE(result.serviceKills, 3);
}

// Seeds that once failed, replayed on every run. Seed 6 brought a deleted
// folder back within 17 kills, before a removal the listing found was kept
// pending across a crash (seeds 2 and 5 did too, later: `make soak` replays
// them).
TEST(KillHarnessTest, SeedsThatOnceFailedStayFixed) {
  for (const unsigned seed : {6u}) {
    const SoakResult result = Soak(seed, 20, 2);
    EXPECT_TRUE(result.Clean()) << "seed " << seed << ": " << Report(result);
  }
}

}  // namespace
