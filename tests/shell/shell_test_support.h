#pragma once
// The window tests' surroundings: an application object, settings and component
// registry in temporary folders, a fresh database per test, generated logs.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "tests/dialogs/source_database.h"
#include "tests/support/qt_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
class MainFrame;
}

namespace weavil::test {

// Creates the application once (offscreen) with XDG_CONFIG_HOME and XDG_DATA_HOME in a
// temporary folder for the whole run.
void EnsureShellApplication();


// The program folder of the build with a trailing "/".
std::string ProgramDirForTests();

// A fresh database as the data source, and the window's prompts answered by the test.
class ShellFixture {
 public:
  ShellFixture();
  ~ShellFixture();
  const std::string& DatabasePath() const { return db_.Path(); }
  TempDir& Dir() { return db_.Dir(); }
  // Creates the main window (not shown).
  MainFrame& Frame();
  void DestroyFrame();
  // Lets the idle work and every refresh finish.
  bool Settle(std::chrono::milliseconds limit = std::chrono::seconds(30));
  int64_t Scalar(const std::string& sql) { return db_.Count(sql); }
  // Runs a statement on the database from a connection of its own.
  void Run(const std::string& sql) { db_.Run(sql); }

 private:
  SourceDatabase db_;  // the working folder too: the trace file lands there
  std::unique_ptr<MainFrame> frame_;
};

// A combined-format log: each entry one session of two requests from its own address.
struct LogVisit {
  std::string date;  // dd/Mon/yyyy
  std::string time;  // hh:mm:ss
  std::string secondPage;
};
std::string MakeCombinedLog(const std::vector<LogVisit>& visits);

}  // namespace weavil::test
