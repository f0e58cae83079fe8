#include "tests/support/cli_harness.h"

#include <cstdlib>
#include <filesystem>

#include "cli/cli.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"

namespace weavil::test {

CliHarness::CliHarness() {
  setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
  setenv("XDG_DATA_HOME", dir_.File("data").c_str(), 1);
}

CliHarness::~CliHarness() {
  LogDataSource::Release();
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
}

int CliHarness::Run(std::vector<std::string> words) {
  LogDataSource::Release();
  words.insert(words.begin(), "weavil");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  out_.str("");
  err_.str("");
  return RunCli(static_cast<int>(words.size()), argv.data(), out_, err_);
}

bool ExecuteSql(const std::string& databasePath, const std::string& sql) {
  DbSession session;
  Statement statement;
  return Succeeded(session.OpenFile(databasePath)) && Succeeded(statement.Execute(session, sql));
}

}  // namespace weavil::test
