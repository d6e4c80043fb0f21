#include "engine/PathSafety.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
  std::string path;
  bool relative;  // expected of IsSafeRelativePath
  bool server;    // expected of IsSafeServerPath
};

const PathCase kCases[] = {
    {"/docs/a.txt", true, false},
    {"R/docs/a.txt", false, true},
    {"77/x.txt", false, true},
    {"/a", true, false},
    {"R", false, true},
    {"/...", true, false},               // a name, not a step up
    {"/a..b/c", true, false},
    {"/\xe4\xb8\xad\xe6\x96\x87.txt", true, false},  // non-ASCII names pass
    {"", false, false},
    {"/", false, false},                 // the user folder itself
    {"/../evil", false, false},
    {"R/../evil", false, false},
    {"R/a/../../evil", false, false},
    {"/a/./b", false, false},
    {"R/./b", false, false},
    {"//etc/passwd", false, false},      // empty component
    {"/etc/passwd", true, false},        // fine below the user folder, not as a server path
    {"R//x", false, false},
    {"R/x/", false, false},
    {"/a\\..\\..\\evil", false, false},  // "\" becomes "/" on the way
    {"R\\..\\evil", false, false},
    {"\\evil", false, false},
    {std::string("/a\0b", 4), false, false},
    {"/a\nb", false, false},
    {"R/a\x1f", false, false},
    {"R/a\x7f", false, false},
    {"..", false, false},
    {".", false, false},
};

TEST(PathSafetyTest, RefusesEveryPathThatCouldLeaveTheUserFolder) {
  for (const PathCase& c : kCases) {
    EXPECT_EQ(IsSafeRelativePath(c.path), c.relative) << "relative: " << c.path;
    EXPECT_EQ(IsSafeServerPath(c.path), c.server) << "server: " << c.path;
  }
}

}  // namespace
