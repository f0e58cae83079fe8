#pragma once
// The tests' PostgreSQL server (started by the ctest fixture "postgres") and databases
// of their own on it, one per test, so tests that run at once never meet.
#include <string>

namespace weavil::test {

// The connection URI of the tests' server; empty when it is not running.
std::string TestServerUri();

// A new empty database on the tests' server, dropped by the destructor. Uri() is empty
// (and the test should skip) when there is no server.
class TestPgDatabase {
 public:
  TestPgDatabase();
  ~TestPgDatabase();
  TestPgDatabase(const TestPgDatabase&) = delete;
  TestPgDatabase& operator=(const TestPgDatabase&) = delete;
  const std::string& Uri() const { return uri_; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::string uri_;
};

// Runs SQL on the server's database given by uri; empty on success, else the server's message.
std::string RunOnServer(const std::string& uri, const std::string& sql);

}  // namespace weavil::test
