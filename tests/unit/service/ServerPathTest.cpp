// The checks that keep client-given names inside the service's own data.
#include <gtest/gtest.h>

#include "service/Identifiers.h"
#include "service/ServerPath.h"

namespace {

TEST(ServicePathTest, SplitAcceptsOnlyPlainPaths) {
  struct Case {
    std::string path;
    bool valid;
    const char* head;
    const char* rest;
  };
  const std::vector<Case> cases = {
      {"ann", true, "ann", ""},
      {"ann/docs/a b.txt", true, "ann", "/docs/a b.txt"},
      {"77/x", true, "77", "/x"},
      {"ann/维护/a", true, "ann", "/维护/a"},
      {"", false, "", ""},
      {"ann/", false, "", ""},
      {"/ann", false, "", ""},
      {"ann//a", false, "", ""},
      {"ann/./a", false, "", ""},
      {"ann/../b", false, "", ""},
      {"..", false, "", ""},
      {"ann/a\\b", false, "", ""},
      {std::string("ann/a\x01", 6), false, "", ""},
      {"ann/" + std::string(kMaxServerPath, 'x'), false, "", ""},
  };
  for (const Case& c : cases) {
    ServerPathParts parts;
    EXPECT_EQ(SplitServerPath(c.path, parts), c.valid) << c.path;
    if (c.valid) {
      EXPECT_EQ(parts.head, c.head);
      EXPECT_EQ(parts.rest, c.rest);
    }
  }
}

TEST(ServicePathTest, PrefixesStopAtSlashes) {
  EXPECT_TRUE(IsBelow("/a/b", "/a"));
  EXPECT_FALSE(IsBelow("/ab", "/a"));
  EXPECT_FALSE(IsBelow("/a", "/a"));
  EXPECT_TRUE(IsBelow("/a", ""));
  EXPECT_TRUE(IsAtOrBelow("/a", "/a"));
  EXPECT_EQ(Rebase("/a/b/c", "/a/b", "/x"), "/x/c");
  EXPECT_EQ(ParentPath("/a/b"), "/a");
  EXPECT_EQ(ParentPath("/a"), "");
  EXPECT_EQ(BaseName("/a/b"), "b");
}

TEST(ServicePathTest, NamesAndIds) {
  int64_t id = 0;
  EXPECT_TRUE(ParseShareId("100", id));
  EXPECT_EQ(id, 100);
  for (const char* bad : {"1", "0", "-5", "+5", "12a", "", "2147483648", "99999999999"}) {
    EXPECT_FALSE(ParseShareId(bad, id)) << bad;
  }
  for (const char* good : {"ann", "Ann.Lee", "张三", "r2d2"}) EXPECT_TRUE(IsValidUserName(good)) << good;
  for (const char* bad : {"", "42", "a/b", "a:b", "a\\b", " ann", "..", "a\"b"}) {
    EXPECT_FALSE(IsValidUserName(bad)) << bad;
  }
  std::string treePath;
  EXPECT_TRUE(NormalizeTreePath("docs/x", treePath));
  EXPECT_EQ(treePath, "/docs/x");
  EXPECT_TRUE(NormalizeTreePath("/", treePath));
  EXPECT_EQ(treePath, "");
  EXPECT_FALSE(NormalizeTreePath("/docs/../x", treePath));

  EXPECT_TRUE(IsStorageKey(NewStorageKey()));
  for (const char* bad : {"../../service.db", "0123456789ABCDEF0123456789abcdef", "0123"}) {
    EXPECT_FALSE(IsStorageKey(bad)) << bad;
  }
  EXPECT_EQ(ChunkId("0123456789ABCDEF0123456789abcdef"), "0123456789abcdef0123456789abcdef");
}

}  // namespace
