// The status block's entries stay one per path when the block changes
// behind a writer's back (another writer appends or clears it).
#include <gtest/gtest.h>

#include <string>

#include "platform/SharedMemory.h"
#include "store/Sharedfilestatus.h"
#include "tests/unit/store/FileCacheFixture.h"

namespace {

std::vector<SharedStatusEntry> Entries(const std::string& name) {
  platform::CSharedMemory view;
  EXPECT_TRUE(view.OpenReadOnly(name, kStatusBlockSize));
  return ReadStatusEntries(view.data(), view.size());
}

TEST(SharedStatusWritersTest, EachPathKeepsOneEntryWhateverTheOtherWriterDid) {
  const std::string name = UniqueBlockName();
  {
    CSharedFileStatus first;
    CSharedFileStatus second;
    ASSERT_EQ(first.Create(name), 1);
    ASSERT_EQ(second.Create(name), 1);
    first.Clear();
    ASSERT_EQ(first.Update("/root/a", 1, -1, -1), 1);
    ASSERT_EQ(second.Update("/root/b", 2, -1, -1), 1);  // appended behind the first writer's back
    ASSERT_EQ(first.Update("/root/B", 3, 10, 4), 1);    // the same path: its entry, not a new one
    ASSERT_EQ(first.Update("/root/a", 2, -1, -1), 1);
    std::vector<SharedStatusEntry> entries = Entries(name);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].path, "/root/a");
    EXPECT_EQ(entries[0].status, 2);
    EXPECT_STREQ(entries[1].path, "/root/b");
    EXPECT_EQ(entries[1].status, 3);
    EXPECT_EQ(entries[1].total, 10);
    EXPECT_EQ(entries[1].done, 4);

    second.Clear();
    ASSERT_EQ(first.Update("/root/b", 1, -1, -1), 1);  // the cleared block starts again
    entries = Entries(name);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].path, "/root/b");
    EXPECT_EQ(entries[0].total, 0);
  }
  platform::CSharedMemory::Unlink(name);
}

}  // namespace
