// The Pages view: sessions under each page they asked for, pages differing only in
// case under one group.
#include "base/text.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

size_t EnterPageGroup(const Statement& row, SessionGroups& groups) {
  groups.EnterSortable(0, ToLowerAscii(row.Get<std::string>(7)));
  return 1;
}

}  // namespace

extern const SessionViewDef kPagesView = {
    {"Pages", "Page", 1,
     "Select Distinct a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, "
     "b.IsRobot, c.UriStem, (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || "
     "Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE FROM [Session] a, DNSLookUp b, Resource c WHERE "
     "a.UserIP=b.UserIP and c.SessionId=a.SessionId ",
     "ORDER BY (left(c.UriStem,50) || Space(50-Len(left(c.UriStem,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) "
     "COLLATE NOCASE;"},
    nullptr,
    EnterPageGroup,
    1,
    2,
};

}  // namespace weavil
