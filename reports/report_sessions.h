#pragma once
// The sessions a report reads, loaded once with the filter's conditions, and the rows
// of the tables that hang off them, joined to them in memory by the session
// identifier. The session views and the page statistics order and group these rows
// here instead of sorting padded texts in the database: the rows and their order are
// those of the views' own statements, which stay the fallback whenever a row is not
// of the shape this path reads (a start that is no stored date, a null text).
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "reports/report_filter.h"
#include "reports/report_reads.h"
#include "reports/report_tree.h"
#include "reports/text_index.h"

namespace weavil {

// Who asks the filter's condition on the requests (FilterQueries::requestQuery): its
// own statement, or the view, from the requests it reads anyway.
enum class RequestCheck { kStatement, kView };

// The filter's condition on the requests, asked of requests a view has read.
class AskedPages {
 public:
  explicit AskedPages(const FilterQueries& queries);
  // Whether the filter has a condition on the requests.
  bool Applies() const { return applies_; }
  // Whether a request of this path, ASCII capitals folded to small, meets it.
  bool Holds(std::string_view foldedPath) const;
  // Per session number below sessions: whether one of its requests meets it. part(request)
  // gives a request's session number and its group of paths.
  template <class Requests, class Part>
  std::vector<bool> SessionsAsking(const FoldedGroups& paths, size_t sessions, const Requests& requests,
                                   Part part) const {
    std::vector<bool> holds(paths.GroupCount());
    for (uint32_t group = 0; group < paths.GroupCount(); ++group) holds[group] = Holds(paths.Folded(group));
    std::vector<bool> asking(sessions);
    for (const auto& request : requests) {
      const auto [session, group] = part(request);
      if (holds[group]) asking[session] = true;
    }
    return asking;
  }

 private:
  bool applies_ = false;
  std::vector<std::string> pages_;  // sorted; none: any request
};

// The filter's conditions read into memory (BuildFilterQueries): which sessions pass.
class FilterPass {
 public:
  FilterPass() = default;
  FilterPass(const FilterPass&) = delete;  // the lookups point into the sets
  FilterPass& operator=(const FilterPass&) = delete;
  // False when a statement fails. The condition on the addresses is the caller's to
  // ask as it reads them (FilterQueries::addressCondition).
  // With RequestCheck::kView the condition on the requests is left out.
  bool Load(DbSession& db, const FilterQueries& queries, RequestCheck requests = RequestCheck::kStatement);
  // Asked of the sessions in their stored order, most answers come from the next
  // identifier of each set (the sets are read in the same order).
  bool Passes(int64_t numId, std::string_view sessionId);

 private:
  struct IdSet {
    TextIndex index;
    std::vector<std::string_view> byRow;
    std::optional<OrderedLookup> lookup;
  };
  bool byNumId_ = false;
  std::vector<bool> numIds_;
  std::vector<IdSet> ids_;
};

// One session of a session view.
struct ReportSession {
  int32_t numId = 0;
  int32_t visited = 0;  // NumVisited, 0 when null
  int64_t start = 0;    // TimeEnter's digits, yyyymmddhhnnss: the order of the stored texts
  uint32_t visitor = 0; // its row of ReportSessions::visitors
  // Format(TimeEnter,'yyyy-mm-dd hh:mm'), written into buffer.
  std::string_view Minute(char (&buffer)[17]) const;
};

// A row of DNSLookUp.
struct ReportVisitor {
  std::string_view address;         // UserIP
  std::string_view rUrl, fullName;  // empty when null (the flags tell)
  bool nullRUrl = false, nullFullName = false;
  int32_t robot = 0;  // IsRobot, 0 when null
  bool passes = true;  // the filter's condition on the address holds
};

// The sessions of the session views: [Session] a joined to DNSLookUp b with the
// filter's conditions, in NumId order. The join is made here (both tables read in
// their stored order); with the filter on, the database names the sessions it passes.
struct ReportSessions {
  std::vector<ReportSession> rows;
  std::vector<ReportVisitor> visitors;
  TextIndex ids;                       // SessionId, when asked for
  std::vector<std::string_view> idList;  // SessionId by row, when asked for
  TextIndex addresses;                 // UserIP: the row of visitors
  TextArena texts, sessionTexts;       // those of visitors, those of sessions
};

// Each session's place when ordered by start, then by address when byAddress, then
// by NumId: the order in which the statements meet sessions of the same start.
std::vector<uint32_t> StartRanks(const ReportSessions& sessions, bool byAddress);

// Two 32-bit sort keys as one, the first the more significant.
constexpr uint64_t PairKey(uint32_t major, uint32_t minor) { return uint64_t{major} << 32 | minor; }

// True when the filter's period passes few of the sessions: the view's statement then
// finds them through the index on the start faster than all sessions are read here.
bool PeriodIsNarrow(DbSession& db, const ReportFilter& filter, std::time_t now);

// What is kept of the sessions' identifiers, for joining other tables' rows to them:
// nothing, an index (ReportSessions::ids) or the list by row (ReportSessions::idList).
enum class SessionIds { kNone, kIndexed, kListed };
// False when a statement fails or a start is not a stored date; the caller then runs
// the view's own statement. With RequestCheck::kView the sessions are those that pass
// every condition but the one on the requests, which the caller asks (AskedPages).
bool LoadReportSessions(DbSession& db, const ReportFilter& filter, std::time_t now, ReportSessions& out,
                        SessionIds ids, RequestCheck requests = RequestCheck::kStatement);

// Room in a session view's tree for its session rows and their group rows (room that
// is never written costs no memory).
void ReserveSessionRows(ReportTree& tree, size_t sessionRows);

}  // namespace weavil
