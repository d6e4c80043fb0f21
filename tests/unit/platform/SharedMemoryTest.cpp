// The shared status block's memory: owner-only, refused when someone else
// made the name first.
#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/Unprivileged.h"

namespace {

std::string TestName() { return "/vessa-shm-test-" + std::to_string(getpid()); }

TEST(SharedMemoryTest, CreatesAnOwnerOnlyBlockThatReadersSee) {
  const std::string name = TestName();
  {
    platform::CSharedMemory writer;
    ASSERT_TRUE(writer.Create(name, 1 << 20));
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 1 << 20);
    std::memcpy(writer.data(), "status", 7);

    platform::CSharedMemory reader;
    ASSERT_TRUE(reader.OpenReadOnly(name, 1 << 20));
    EXPECT_STREQ(static_cast<const char*>(reader.data()), "status");
    EXPECT_FALSE(reader.OpenReadOnly(name, 2 << 20));  // smaller than asked
  }
  EXPECT_TRUE(platform::CSharedMemory::Unlink(name));
  platform::CSharedMemory none;
  EXPECT_FALSE(none.OpenReadOnly(name, 1));
}

TEST(SharedMemoryTest, RefusesABlockAnotherUserMade) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  const std::string name = TestName() + "-foreign";
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  fchmod(fd, 0666);  // readable and writable by anyone, owned by root
  close(fd);
  const int created = RunUnprivileged([&] {
    platform::CSharedMemory memory;
    return memory.Create(name, 4096) ? 1 : 0;
  });
  platform::CSharedMemory::Unlink(name);
  EXPECT_EQ(created, 0);
}

}  // namespace
