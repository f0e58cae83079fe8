#pragma once
// What each session view file gives the runner in session_views.cpp (its row of the
// view table), and the group rows they all build their trees with. Only the files of
// reports/ include this.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "reports/group_levels.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"

namespace weavil {

class DbSession;
class Statement;

// The group rows of a session view: a group row's count is the number of sessions
// below it.
class SessionGroups : public GroupLevels<int32_t> {
 public:
  SessionGroups(ReportTree& tree, int levels);

  // The open group row of level (0 = outermost) for label; opened is true when a new
  // row was appended (its text is the label until the caller changes it).
  RowId Enter(size_t level, std::string_view label, bool& opened);
  // Enter for the views whose group rows the column sort reorders: a new group row
  // carries its own handle as item parameter (session rows keep their query order).
  RowId EnterSortable(size_t level, std::string_view label);
  // A session row below the group of level depth - 1; counts it in levels 0 .. depth - 1.
  RowId AppendSession(size_t depth, std::string_view text, int32_t image);
};

// One view's row of the view table. In the statement texts "||" joins texts where Jet
// joins them with "+", and the sort keys say COLLATE NOCASE, as Jet compares texts
// without regard to case, so that rows differing only in case still arrive together. The Sessions view builds its rows itself; the
// others enter the group rows of each result row and hang a leaf below them.
struct SessionViewDef {
  SessionViewInfo info;
  // Steps through every row (step is the last MoveNext result).
  void (*buildRows)(Statement& statement, SessionGroups& groups, int32_t& step);
  // Enters the row's group rows and returns the depth of its session row, a leaf that
  // shows column timeColumn and carries column numIdColumn as its key.
  size_t (*enterGroups)(const Statement& row, SessionGroups& groups);
  int numIdColumn;
  int timeColumn;
  // Builds the same rows from the sessions and their rows read into memory; false,
  // before any row is entered, when it cannot (the statement then runs). May be null.
  bool (*buildInMemory)(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) = nullptr;
};

extern const SessionViewDef kSessionsView;
extern const SessionViewDef kVisitorsView;
extern const SessionViewDef kKeywordsView;
extern const SessionViewDef kReferersView;
extern const SessionViewDef kPagesView;

}  // namespace weavil
