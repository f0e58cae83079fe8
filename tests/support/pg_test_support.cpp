#include "tests/support/pg_test_support.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>

#include "store/pg_backend.h"

namespace weavil::test {
namespace {

struct ConnectionCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

// The URI with its database name replaced.
std::string WithDatabase(const std::string& uri, const std::string& name) {
  size_t scheme = uri.find("://");
  size_t slash = uri.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (slash == std::string::npos) return uri;
  size_t end = uri.find('?', slash);
  return uri.substr(0, slash + 1) + name + (end == std::string::npos ? std::string() : uri.substr(end));
}

}  // namespace

std::string TestServerUri() {
  std::ifstream in(WEAVIL_TEST_PG_DIR "/uri");
  std::string uri;
  if (!std::getline(in, uri)) return std::string();
  Connection probe(PQconnectdb(uri.c_str()));
  if (!probe || PQstatus(probe.get()) != CONNECTION_OK) return std::string();
  return uri;
}

std::string RunOnServer(const std::string& uri, const std::string& sql) {
  Connection c(PQconnectdb(uri.c_str()));
  if (!c || PQstatus(c.get()) != CONNECTION_OK) return c ? PQerrorMessage(c.get()) : "no connection";
  PQsetNoticeProcessor(c.get(), [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(c.get(), sql.c_str());
  ExecStatusType status = PQresultStatus(result);
  std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(result);
  PQclear(result);
  return error;
}

TestPgDatabase::TestPgDatabase() {
  std::string server = TestServerUri();
  if (server.empty()) return;
  pg::UseServerTemplate(WEAVIL_DB_TEMPLATE);
  static std::atomic<int> counter{0};
  name_ = "weavil_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  RunOnServer(server, "DROP DATABASE IF EXISTS " + name_);
  if (!RunOnServer(server, "CREATE DATABASE " + name_).empty()) {
    name_.clear();
    return;
  }
  uri_ = WithDatabase(server, name_);
}

TestPgDatabase::~TestPgDatabase() {
  if (name_.empty()) return;
  RunOnServer(TestServerUri(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
}

}  // namespace weavil::test
