#include "base/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <utility>

namespace weavil {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFdTest, ClosesOnceWhenMovedResetOrDestroyed) {
  int raw = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(raw, 0);
  {
    UniqueFd first(raw);
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.Valid());
    EXPECT_EQ(second.Get(), raw);
    UniqueFd third;
    third = std::move(second);
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));

  int kept = ::open("/dev/null", O_RDONLY);
  UniqueFd owner(kept);
  EXPECT_EQ(owner.Release(), kept);
  EXPECT_TRUE(IsOpen(kept));
  owner.Reset(kept);
  EXPECT_EQ(owner.Reset(), 0);
  EXPECT_FALSE(IsOpen(kept));
}

}  // namespace
}  // namespace weavil
