#include "import/write_behind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/support/test_support.h"

namespace weavil {
namespace {

void Append(const std::string& path, int64_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  const std::string block(1 << 20, 'x');
  for (int64_t left = bytes; left > 0; left -= static_cast<int64_t>(block.size()))
    out.write(block.data(), static_cast<std::streamsize>(std::min<int64_t>(left, block.size())));
}

// The write-out starts once per step of growth, not at every batch, and counts only
// what grew after the file was opened; a file that cannot be opened is left alone.
TEST(WriteBehindTest, StartsTheWriteOutOncePerStepOfGrowth) {
  constexpr int64_t kStep = 1 << 20;
  test::TempDir dir;
  const std::string path = dir.File("grows.db");
  Append(path, kStep);  // there before: not counted
  WriteBehind behind(path, kStep);
  behind.Poke();
  EXPECT_EQ(behind.Started(), 0);
  Append(path, kStep - 1);
  behind.Poke();
  EXPECT_EQ(behind.Started(), 0);
  Append(path, 1);
  behind.Poke();
  behind.Poke();
  EXPECT_EQ(behind.Started(), 1);
  Append(path, kStep + 5);
  behind.Poke();
  EXPECT_EQ(behind.Started(), 2);

  WriteBehind missing(dir.File("no-such.db"));
  missing.Poke();
  EXPECT_EQ(missing.Started(), 0);
}

}  // namespace
}  // namespace weavil
