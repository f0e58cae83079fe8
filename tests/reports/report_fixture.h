#pragma once
// A fresh database per test with helpers that insert sessions and their rows the way
// the import stores them, so the report tests need no log files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "reports/report_filter.h"
#include "reports/session_views.h"
#include "store/database.h"
#include "store/result.h"
#include "store/sql_text.h"
#include "tests/support/test_support.h"

namespace weavil::test {

class ReportDb {
 public:
  // byText: the tables naming sessions keyed by the SessionId text, as a file the
  // upgrade left so keeps them.
  explicit ReportDb(bool byText = false) : path_(dir_.File("log.db")) {
    CopyTemplateDatabase(path_);
    if (Failed(session_.OpenFile(path_))) throw std::runtime_error("cannot open " + path_);
    if (byText && !KeepSessionTablesByText(session_)) throw std::runtime_error("cannot keep the tables by text");
  }

  DbSession& Session() { return session_; }
  const std::string& Path() const { return path_; }

  void Exec(const std::string& sql) {
    Statement statement;
    ASSERT_FALSE(Failed(statement.Execute(session_, sql))) << sql;
  }

  int64_t Scalar(const std::string& sql) {
    Statement statement;
    int64_t value = -1;
    if (!Failed(statement.Execute(session_, sql)) && statement.MoveNext() == kResultOk) statement.GetInt64(1, value);
    return value;
  }

  // A visitor row; fullName empty stores NULL.
  void AddVisitor(const std::string& ip, const std::string& fullName = "", const std::string& rUrl = "",
                  int robot = 0, const std::string& country = "") {
    std::string r = rUrl.empty() ? "ip." + ip : rUrl;
    Exec("INSERT INTO DNSLookUp (UserIP, FullName, URL, rURL, CountryCode, IsRobot, Description) VALUES (" +
         QuoteSql(ip) + ", " + (fullName.empty() ? std::string("NULL") : QuoteSql(fullName)) + ", " +
         (fullName.empty() ? std::string("NULL") : QuoteSql(fullName)) + ", " + QuoteSql(r) + ", " +
         QuoteSql(country) + ", " + std::to_string(robot) + ", '')");
  }

  // A session; returns its NumId.
  int32_t AddSession(const std::string& ip, const std::string& timeEnter, int numVisited = 2,
                     const std::string& timeExit = "", const std::string& referer = "-",
                     const std::string& userAgent = "Mozilla/4.0") {
    std::string id = "00000000-0000-0000-0000-" + Twelve(++sessions_);
    Exec("INSERT INTO Session (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, NumVisited) "
         "VALUES (" + QuoteSql(id) + ", " + QuoteSql(timeEnter) + ", " +
         QuoteSql(timeExit.empty() ? timeEnter : timeExit) + ", " + QuoteSql(ip) + ", 200, " + QuoteSql(userAgent) +
         ", " + QuoteSql(referer) + ", " + std::to_string(numVisited) + ")");
    ids_.push_back(id);
    return static_cast<int32_t>(Scalar("SELECT NumId FROM Session WHERE SessionId = " + QuoteSql(id)));
  }

  // An unresolved visitor with count sessions on 5 March 2004, one each full hour from
  // 10:00 on; their NumIds.
  std::vector<int32_t> AddVisitorSessions(const std::string& ip, int count) {
    AddVisitor(ip);
    std::vector<int32_t> numIds;
    for (int hour = 10; hour < 10 + count; ++hour)
      numIds.push_back(AddSession(ip, "2004-03-05 " + std::to_string(hour) + ":00:00"));
    return numIds;
  }

  const std::string& SessionId(int32_t numId) { return ids_.at(static_cast<size_t>(numId - 1)); }

  void AddResource(int32_t numId, const std::string& time, const std::string& stem, int status = 200) {
    Exec("INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad) "
         "VALUES (" + QuoteSql(SessionId(numId)) + ", " + QuoteSql(time) + ", " + QuoteSql(stem) + ", " +
         std::to_string(status) + ", ' ', 100, 10, 0)");
  }

  void AddKeywords(int32_t numId, const std::string& phrase, const std::vector<std::string>& words) {
    Exec("INSERT OR IGNORE INTO Keyphrase (Keyphrase) VALUES (" + QuoteSql(phrase) + ")");
    Exec("INSERT INTO SessionKeyphrase (SessionId, KeyphraseId) SELECT " + QuoteSql(SessionId(numId)) +
         ", KeyphraseId FROM Keyphrase WHERE Keyphrase=" + QuoteSql(phrase));
    for (const std::string& word : words) {
      Exec("INSERT OR IGNORE INTO Keyword (Word) VALUES (" + QuoteSql(word) + ")");
      Exec("INSERT INTO SessionKeywords (SessionId, KeywordId) SELECT " + QuoteSql(SessionId(numId)) +
           ", KeywordId FROM Keyword WHERE Word=" + QuoteSql(word));
    }
  }

  void AddReferer(int32_t numId, const std::string& url, const std::string& group) {
    Exec("INSERT OR IGNORE INTO Referer (Url, \"Group\") VALUES (" + QuoteSql(url) + ", " + QuoteSql(group) + ")");
    Exec("INSERT INTO SessionReferer (SessionId, RefererId) SELECT " + QuoteSql(SessionId(numId)) +
         ", RefererId FROM Referer WHERE Url=" + QuoteSql(url));
  }

  void AddBrowserOs(int32_t numId, const std::string& browser, const std::string& os) {
    Exec("INSERT OR IGNORE INTO Browser (Browser) VALUES (" + QuoteSql(browser) + ")");
    Exec("INSERT OR IGNORE INTO OS (OS) VALUES (" + QuoteSql(os) + ")");
    Exec("INSERT INTO SessionBrowserOS (SessionId, BrowserId, OSId) SELECT " + QuoteSql(SessionId(numId)) +
         ", BrowserId, OSId FROM Browser, OS WHERE Browser=" + QuoteSql(browser) + " AND OS=" + QuoteSql(os));
  }

 private:
  static std::string Twelve(int n) {
    std::string digits = std::to_string(n);
    return std::string(12 - digits.size(), '0') + digits;
  }

  TempDir dir_;
  std::string path_;
  DbSession session_;
  std::vector<std::string> ids_;
  int sessions_ = 0;
};

// The test database as the shared data source "Log", with the filter off, the way the
// views of the window open it; released again at the end.
class ScopedLogSource {
 public:
  explicit ScopedLogSource(ReportDb& db) {
    db.Session().Close();
    LogDataSource::Release();
    LogDataSource::UseDatabaseFile(db.Path());
    StoreReportFilter(ReportFilter());
  }
  ~ScopedLogSource() { LogDataSource::Release(); }
  ScopedLogSource(const ScopedLogSource&) = delete;
  ScopedLogSource& operator=(const ScopedLogSource&) = delete;
};

// The texts of column 0 of parent's children, in order.
inline std::vector<std::string> ChildTexts(const ReportTree& tree, RowId parent) {
  std::vector<std::string> texts;
  for (RowId r = tree.FirstChild(parent); r != kNoRow; r = tree.NextSibling(r)) texts.emplace_back(tree.Text(r, 0));
  return texts;
}

// A group row the column sort may move (its own handle as item parameter), with count
// in column 1 unless it is null.
inline RowId AddSortableGroup(ReportTree& tree, RowId parent, std::string_view text, const char* count = nullptr) {
  RowId row = tree.AppendRow(parent, text, kImageGroup);
  tree.SetItemParam(row, row);
  if (count) tree.SetText(row, 1, count);
  return row;
}

// Local calendar time of a date read as local time.
inline std::time_t LocalTime(int year, int month, int day, int hour = 0, int minute = 0) {
  return LocalTimeOf(year, month, day, hour, minute);
}

}  // namespace weavil::test
