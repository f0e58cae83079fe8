#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <ctime>

#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"

namespace fs = std::filesystem;

namespace weavil::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "weavil-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

WorkFolder::WorkFolder() : previous_(fs::current_path().string()) {
  CloseTrace();  // a trace still open elsewhere would keep its old folder
  fs::current_path(Path());
}

WorkFolder::~WorkFolder() {
  CloseTrace();
  std::error_code ec;
  fs::current_path(previous_, ec);
}

std::string WorkFolder::Trace() const {
  CloseTrace();
  return ReadFile(File("RovanTrace.txt"));
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  const char* old = std::getenv("TZ");
  hadOld_ = old != nullptr;
  if (hadOld_) old_ = old;
  setenv("TZ", zone, 1);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (hadOld_) {
    setenv("TZ", old_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

int64_t QueryNumber(DbSession& session, const std::string& sql) {
  Statement statement;
  int64_t value = -1;
  if (Succeeded(statement.Execute(session, sql)) && statement.MoveNext() == kResultOk) statement.GetInt64(1, value);
  return value;
}

int64_t QueryNumber(const std::string& databasePath, const std::string& sql) {
  DbSession session;
  if (Failed(session.OpenFile(databasePath))) return -1;
  return QueryNumber(session, sql);
}

namespace {

// The tables naming sessions as a file kept them before it kept them by number.
const char* const kTablesByText =
    "DROP VIEW FirstSessionResource; DROP VIEW LastSessionResource; DROP VIEW Resource; DROP TABLE ResourceRow; "
    "CREATE TABLE Resource (ResourceId INTEGER PRIMARY KEY AUTOINCREMENT, SessionId TEXT, TimeEnter TEXT, "
    "UriStem TEXT COLLATE NOCASE, StatusCode INTEGER, UriQuery TEXT, BytesLoad INTEGER, Bytes2 INTEGER, "
    "TimeLoad INTEGER); CREATE INDEX ResourceSessionId ON Resource (SessionId);"
    "CREATE VIEW FirstSessionResource AS SELECT SessionId, Min(ResourceId) AS \"'ResourceId'\" FROM Resource "
    "GROUP BY SessionId; CREATE VIEW LastSessionResource AS SELECT SessionId, Max(ResourceId) AS \"'ResourceId'\" "
    "FROM Resource GROUP BY SessionId;"
    "DROP VIEW SessionBytes; DROP TABLE SessionBytesRow; CREATE TABLE SessionBytes (SessionId TEXT, Bytes INTEGER, "
    "BytesIn INTEGER); CREATE INDEX SessionBytesSessionId ON SessionBytes (SessionId);"
    "DROP VIEW SessionReferer; DROP TABLE SessionRefererRow; CREATE TABLE SessionReferer (SessionId TEXT, "
    "RefererId INTEGER); CREATE INDEX SessionRefererSessionId ON SessionReferer (SessionId); "
    "CREATE INDEX SessionRefererRefererId ON SessionReferer (RefererId);"
    "DROP VIEW SessionKeyphrase; DROP TABLE SessionKeyphraseRow; CREATE TABLE SessionKeyphrase (SessionId TEXT, "
    "KeyphraseId INTEGER); CREATE INDEX SessionKeyphraseSessionId ON SessionKeyphrase (SessionId); "
    "CREATE INDEX SessionKeyphraseKeyphraseId ON SessionKeyphrase (KeyphraseId);"
    "DROP VIEW SessionKeywords; DROP TABLE SessionKeywordsRow; CREATE TABLE SessionKeywords (SessionId TEXT, "
    "KeywordId INTEGER); CREATE INDEX SessionKeywordsSessionId ON SessionKeywords (SessionId); "
    "CREATE INDEX SessionKeywordsKeywordId ON SessionKeywords (KeywordId);"
    "DROP VIEW SessionBrowserOS; DROP TABLE SessionBrowserOSRow; CREATE TABLE SessionBrowserOS (SessionId TEXT, "
    "BrowserId INTEGER, OSId INTEGER); CREATE INDEX SessionBrowserOSSessionId ON SessionBrowserOS (SessionId);";

}  // namespace

bool KeepSessionTablesByText(DbSession& session) {
  Statement step;
  for (std::string_view rest = kTablesByText; !rest.empty();) {
    size_t end = rest.find(';');
    std::string sql(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (sql.find_first_not_of(' ') == std::string::npos) continue;
    if (Failed(step.Execute(session, sql))) return false;
  }
  return true;
}

bool KeepRequestTimesAsText(DbSession& session) {
  Statement read, step;
  std::vector<std::string> again;
  if (Failed(read.Execute(session, "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND name <> 'ResourceRow' "
                                   "AND (tbl_name = 'ResourceRow' OR sql LIKE '%ResourceRow%') ORDER BY CASE type "
                                   "WHEN 'index' THEN 0 WHEN 'view' THEN 1 ELSE 2 END, rowid;")))
    return false;
  std::string sql;
  while (read.MoveNext() == kResultOk)
    if (read.GetText(1, sql)) again.push_back(sql);
  read = Statement();
  for (const char* change : {"DROP VIEW FirstSessionResource", "DROP VIEW LastSessionResource", "DROP VIEW Resource",
                           "DROP TABLE ResourceRow",
                           "CREATE TABLE ResourceRow (ResourceId INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "SessionNum INTEGER, TimeEnter TEXT, UriStem TEXT COLLATE NOCASE, StatusCode INTEGER, "
                           "UriQuery TEXT, BytesLoad INTEGER, Bytes2 INTEGER, TimeLoad INTEGER)"})
    if (Failed(step.Execute(session, change))) return false;
  for (const std::string& create : again)
    if (Failed(step.Execute(session, create))) return false;
  return true;
}

bool KeepSessionsAsTable(DbSession& session) {
  Statement read, step;
  std::vector<std::string> again;
  if (Failed(read.Execute(session, "SELECT sql FROM sqlite_master WHERE type IN ('view', 'trigger') AND tbl_name <> "
                                   "'Session' AND sql LIKE '%SessionRow%' ORDER BY CASE type WHEN 'view' THEN 0 "
                                   "ELSE 1 END, rowid;")))
    return false;
  std::string sql;
  while (read.MoveNext() == kResultOk)
    if (read.GetText(1, sql)) {
      for (size_t at = sql.find("SessionRow"); at != std::string::npos; at = sql.find("SessionRow", at))
        sql.replace(at, 10, "Session");
      again.push_back(sql);
    }
  read = Statement();
  std::vector<std::string> changes;
  if (Failed(read.Execute(session, "SELECT name FROM sqlite_master WHERE type = 'view' AND name <> 'Session' AND sql "
                                   "LIKE '%SessionRow%';")))
    return false;
  while (read.MoveNext() == kResultOk)
    if (read.GetText(1, sql)) changes.push_back("DROP VIEW \"" + sql + "\"");
  read = Statement();
  for (const char* change :
       {"DROP VIEW Session",
        "CREATE TABLE Session (NumId INTEGER PRIMARY KEY AUTOINCREMENT, SessionId TEXT NOT NULL, TimeEnter TEXT, "
        "TimeExit TEXT, UserIP TEXT, ErrorCode INTEGER, UserAgent TEXT, Referer TEXT, NumVisited INTEGER)",
        "INSERT INTO Session SELECT s.NumId, s.SessionId, s.TimeEnter, s.TimeExit, s.UserIP, s.ErrorCode, a.Text, "
        "s.Referer, s.NumVisited FROM SessionRow s LEFT JOIN Agent a ON a.AgentId = s.AgentId ORDER BY s.NumId",
        "INSERT INTO sqlite_sequence (name, seq) SELECT 'Session', seq FROM sqlite_sequence WHERE name = 'SessionRow' "
        "AND seq > coalesce((SELECT max(seq) FROM sqlite_sequence WHERE name = 'Session'), 0)",
        "DROP TABLE SessionRow", "DROP TABLE Agent", "CREATE UNIQUE INDEX SessionSessionId ON Session (SessionId)",
        "CREATE INDEX SessionTimeEnterUserIP ON Session (TimeEnter, UserIP)"})
    changes.emplace_back(change);
  for (const std::string& change : changes)
    if (Failed(step.Execute(session, change))) return false;
  for (const std::string& create : again)
    if (Failed(step.Execute(session, create))) return false;
  return true;
}

void CopyTemplateDatabase(const std::string& path) {
  std::error_code ec;
  fs::copy_file(WEAVIL_DB_TEMPLATE, path, fs::copy_options::overwrite_existing, ec);
  if (ec) throw std::runtime_error("cannot copy " + std::string(WEAVIL_DB_TEMPLATE) + ": " + ec.message());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string Shell(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int raw = ::pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::string BuildBinDir() { return WEAVIL_BIN_DIR; }

}  // namespace weavil::test
