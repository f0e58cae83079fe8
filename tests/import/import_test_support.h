#pragma once
// Helpers shared by the import tests: a line source over fixed lines, parsing a text
// into a session list, combined lines, and the stored sessions as one text.
#include <sqlite3.h>

#include <deque>
#include <string>
#include <vector>

#include "import/log_parser.h"
#include "import/session_builder.h"

namespace weavil::test {

class FixedLines : public LineSource {
 public:
  explicit FixedLines(std::vector<std::string> lines) : lines_(lines.begin(), lines.end()) {}
  bool NextPhysicalLine(std::string_view& raw) override {
    if (held_) {
      held_ = false;
      raw = current_;
      return true;
    }
    if (lines_.empty()) return false;
    current_ = lines_.front();
    lines_.pop_front();
    raw = current_;
    return true;
  }
  void UnreadLine() override { held_ = true; }

 private:
  std::deque<std::string> lines_;
  std::string current_;
  bool held_ = false;
};

// Parses every line of text (physical lines) and feeds the records to the list.
inline void ParseInto(SessionList& list, ParserState& state, const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  FixedLines source(lines);
  std::string_view raw;
  RequestRecord record;
  while (source.NextPhysicalLine(raw)) {
    if (ParseLogLine(state, CutLine(raw), &source, record) == ParseOutcome::kRecord) AddRequest(list, record);
  }
  FinishSessionList(list);
}

// A combined line at the given time of 2003-03-07 (seconds from midnight).
inline std::string Combined(const std::string& ip, int seconds, const std::string& path, int status = 200,
                            const std::string& bytes = "100", const std::string& referrer = "-",
                            const std::string& agent = "Agent/1.0") {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "07/Mar/2003:%02d:%02d:%02d +0100", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return ip + " - - [" + stamp + "] \"GET " + path + " HTTP/1.1\" " + std::to_string(status) + " " + bytes + " \"" +
         referrer + "\" \"" + agent + "\"\n";
}

// The stored sessions, pages and byte sums as one text, keyed by start and address
// (identifiers differ from database to database).
inline std::string StoredContent(const std::string& database) {
  sqlite3* db = nullptr;
  std::string text;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK) return "cannot open";
  const char* sql =
      "SELECT s.TimeEnter || s.UserIP || '|' || s.TimeExit || '|' || s.NumVisited || '|' || s.Referer || '|' || "
      "quote(s.UserAgent) || '|' || b.Bytes || '|' || (SELECT count(*) FROM SessionBrowserOS o WHERE o.SessionId = s.SessionId) || '|' || "
      "(SELECT count(*) FROM SessionReferer r WHERE r.SessionId = s.SessionId) || '|' || "
      "(SELECT group_concat(TimeEnter || UriStem, ',') FROM (SELECT TimeEnter, UriStem FROM Resource r "
      "WHERE r.SessionId = s.SessionId ORDER BY ResourceId)) FROM [Session] s JOIN SessionBytes b "
      "ON b.SessionId = s.SessionId ORDER BY 1";
  sqlite3_exec(db, sql, [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "NULL") + "\n";
    return 0;
  }, &text, nullptr);
  sqlite3_close(db);
  return text;
}

}  // namespace weavil::test
