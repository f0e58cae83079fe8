#pragma once
// A copy of the database template as the shared data source, in a work folder of its
// own where the trace lands too. The window and the dialog tests start from it.
#include <cstdint>
#include <string>

#include "tests/support/test_support.h"

namespace weavil::test {

class SourceDatabase {
 public:
  SourceDatabase();
  ~SourceDatabase();

  const std::string& Path() const { return path_; }
  WorkFolder& Dir() { return dir_; }
  // The first column of the first row, as text ("" when none) or as a number (-1 when none).
  std::string Value(const std::string& sql);
  int64_t Count(const std::string& sql);
  // Runs a statement that must not fail, from a connection of its own.
  void Run(const std::string& sql);

 private:
  WorkFolder dir_;
  std::string path_;
};

}  // namespace weavil::test
