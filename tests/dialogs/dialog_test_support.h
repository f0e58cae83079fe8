#pragma once
// What the dialog tests share: the application object, a fresh database as the data
// source, waiting for the event loop, and small W3C logs.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace weavil::test {

// A copy of the database template used as the data source, the trace log in the folder.
class DialogDatabase {
 public:
  DialogDatabase();
  ~DialogDatabase();
  const std::string& Path() const { return path_; }
  WorkFolder& Dir() { return dir_; }
  // The first column of the first row as text ("" when none).
  std::string Value(const std::string& sql);
  int64_t Count(const std::string& sql);
  void Run(const std::string& sql);

 private:
  WorkFolder dir_;  // the trace log lands here
  std::string path_;
};

// A W3C block with its "#Software:" header and one visitor per minute from first on.
std::string W3cLog(int first, int count);

}  // namespace weavil::test
