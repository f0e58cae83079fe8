#pragma once
// Runs the program's command line in process, inside a temporary home: the settings,
// the data-source list and the component registry go to folders of its own, the trace
// file to its working folder. Everything is put back when it ends.
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace weavil::test {

class CliHarness {
 public:
  CliHarness();  // not copied: it owns its folder
  ~CliHarness();

  // Runs "weavil" followed by words (a fresh run: the data source opens anew) and
  // returns the exit code; Out() and Err() hold what it printed.
  int Run(std::vector<std::string> words);

  const WorkFolder& Dir() const { return dir_; }
  std::string Out() const { return out_.str(); }
  std::string Err() const { return err_.str(); }

 private:
  WorkFolder dir_;
  std::ostringstream out_, err_;
};

// Runs one statement on the database file; false when it does not open or the statement fails.
bool ExecuteSql(const std::string& databasePath, const std::string& sql);

}  // namespace weavil::test
