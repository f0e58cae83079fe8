// The Sessions view: sessions by year, month and day, each day row red on a weekend,
// each session row the time and the visitor with its page count.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"

namespace weavil {

const char* const kMonthNames[13] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                     "July", "August",  "September", "October", "November", "December"};

namespace {

// Local times of the Sessions view, computed once per date: the zone rules (and with
// them the zone file, which the C library looks at again on every call) are consulted
// twice a day of sessions instead of once per session or hour. A day whose hours are
// not all one hour apart (a change of summer time) has each hour asked for.
class LocalTimeCache {
 public:
  std::time_t HourStart(int year, int month, int day, int hour) {
    int64_t key = (static_cast<int64_t>(year) * 16 + month) * 32 + day;
    auto found = days_.find(key);
    if (found == days_.end()) {
      std::time_t midnight = LocalTimeOf(year, month, day, 0, 0);
      bool even = LocalTimeOf(year, month, day, 23, 0) - midnight == 23 * 3600;
      found = days_.emplace(key, Day{midnight, even}).first;
    }
    if (found->second.even) return found->second.midnight + static_cast<std::time_t>(hour) * 3600;
    auto [hourStart, added] = unevenHours_.try_emplace(key * 32 + hour, 0);
    if (added) hourStart->second = LocalTimeOf(year, month, day, hour, 0);
    return hourStart->second;
  }

 private:
  struct Day {
    std::time_t midnight;
    bool even;
  };
  std::unordered_map<int64_t, Day> days_;
  std::unordered_map<int64_t, std::time_t> unevenHours_;
};

int Digits(std::string_view text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return pos + count <= text.size() ? value : -1;
}

std::string_view Slice(std::string_view text, size_t pos, size_t count) {
  return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

// The date and time of "yyyy-mm-dd hh:mm" and its pieces as they stand in the text.
struct SessionTime {
  explicit SessionTime(std::string_view t)
      : text(t),
        year(Digits(t, 0, 4)),
        month(Digits(t, 5, 2)),
        day(Digits(t, 8, 2)),
        hour(Digits(t, 11, 2)),
        minute(Digits(t, 14, 2)),
        dated(year >= 0 && month >= 1 && month <= 12 && IsValidDate(year, month, day) && hour >= 0 && hour < 24 &&
              minute >= 0 && minute < 60),
        yearText(Slice(t, 0, 4)),
        monthText(Slice(t, 5, 2)),
        dayText(Slice(t, 8, 2)),
        monthName(dated ? kMonthNames[month] : "") {}

  std::string_view text;
  int year, month, day, hour, minute;
  bool dated;
  std::string_view yearText, monthText, dayText;
  const char* monthName;
};

// The year, month and day rows of a session; their key is minus the day's local midnight.
void EnterDateRows(SessionGroups& groups, const SessionTime& t, std::time_t midnight, std::string& text) {
  ReportTree& tree = groups.Tree();
  bool opened;
  RowId row = groups.Enter(0, t.yearText, opened);
  if (opened && t.dated) tree.SetKey(row, static_cast<int32_t>(-midnight));
  row = groups.Enter(1, t.monthText, opened);
  if (opened) {
    text.assign(t.monthName).append(" ").append(t.yearText);
    tree.SetText(row, 0, text);
    if (t.dated) tree.SetKey(row, static_cast<int32_t>(-midnight));
  }
  row = groups.Enter(2, t.dayText, opened);
  if (opened) {
    text.assign(t.dayText).append(" ").append(t.monthName).append(" ").append(t.yearText);
    tree.SetText(row, 0, text);
    if (t.dated) {
      tree.SetKey(row, static_cast<int32_t>(-midnight));
      if (IsWeekendDay(midnight)) tree.SetState(row, kStateRed);
    }
  }
}

// A session row below its year, month and day; name is the visitor's host name, or
// its address while unresolved.
void AddSessionRow(SessionGroups& groups, LocalTimeCache& times, std::string& text, int32_t numId,
                   std::string_view timeText, std::string_view name, int32_t visited, int32_t robot) {
  ReportTree& tree = groups.Tree();
  SessionTime t(timeText);
  std::time_t midnight = t.dated ? times.HourStart(t.year, t.month, t.day, 0) : 0;
  EnterDateRows(groups, t, midnight, text);

  text.assign(Slice(t.text, 11, 5)).append(" ").append(name);
  RowId session = groups.AppendSession(3, text, robot ? kImageRobotVisit : kImageVisit);
  tree.SetText(session, 1, std::to_string(visited));
  tree.SetKey(session, numId);
  if (t.dated) tree.SetItemParam(session, times.HourStart(t.year, t.month, t.day, t.hour) + t.minute * 60);
  if (robot != 0 || visited < 2) tree.SetState(session, kStateGrey);
}

void BuildSessionRows(Statement& statement, SessionGroups& groups, int32_t& step) {
  LocalTimeCache times;
  std::string text;
  while ((step = statement.MoveNext()) == kResultOk) {
    auto [numId, timeText, address, fullName, visited, robot] =
        statement.Row<int32_t, std::string, std::string, std::optional<std::string>, int32_t, int32_t>();
    // an unresolved visitor shows its address
    AddSessionRow(groups, times, text, numId, timeText, fullName ? *fullName : address, visited, robot);
  }
}

// The rows of the view's statement from the sessions read into memory: by start, ties
// in the order of the statement's scan (start, address, session).
bool BuildSessionRowsInMemory(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) {
  ReportSessions sessions;
  if (!StatementPrepares(db, BuildViewQuery(SessionViewKind::kVisits, filter, now)) ||
      !LoadReportSessions(db, filter, now, sessions, SessionIds::kNone))
    return false;
  std::vector<uint32_t> place = StartRanks(sessions, true);
  std::vector<uint32_t> order(place.size());
  for (size_t i = 0; i < place.size(); ++i) order[place[i]] = static_cast<uint32_t>(i);
  ReserveSessionRows(groups.Tree(), order.size());
  LocalTimeCache times;
  std::string text;
  char minute[17];
  for (uint32_t i : order) {
    const ReportSession& session = sessions.rows[i];
    const ReportVisitor& visitor = sessions.visitors[session.visitor];
    AddSessionRow(groups, times, text, session.numId, session.Minute(minute),
                  visitor.nullFullName ? visitor.address : visitor.fullName, session.visited, visitor.robot);
  }
  return true;
}

}  // namespace

extern const SessionViewDef kSessionsView = {
    {"Sessions", "Visits", 3,
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "a.SessionId FROM [Session] a, DNSLookUp b WHERE a.UserIP=b.UserIP ",
     "ORDER BY a.TimeEnter ASC;"},
    BuildSessionRows,
    nullptr,
    0,
    0,
    BuildSessionRowsInMemory,
};

std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

bool IsWeekendDay(std::time_t localTime) {
  std::tm local{};
  if (!localtime_r(&localTime, &local)) return false;
  return local.tm_wday == 0 || local.tm_wday == 6;
}

}  // namespace weavil
