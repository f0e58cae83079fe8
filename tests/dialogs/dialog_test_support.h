#pragma once
// What the dialog tests share: the application object, a fresh database as the data
// source, waiting for the event loop, and small W3C logs.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/dialogs/source_database.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace weavil::test {

// The data-source database of a dialog test, with the application object made.
class DialogDatabase : public SourceDatabase {
 public:
  DialogDatabase() { EnsureTestApplication(); }
};

// A W3C block with its "#Software:" header and one visitor per minute from first on.
std::string W3cLog(int first, int count);

}  // namespace weavil::test
