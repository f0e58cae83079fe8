// The Referers view: sessions under the pieces of their referrer's group ("Search
// Engine/Google"), then under the referring address.
#include <string>
#include <string_view>

#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

constexpr size_t kMaxRefererGroupLevels = 4;

size_t EnterRefererGroups(const Statement& row, SessionGroups& groups) {
  std::string url = row.Get<std::string>(7);
  std::string group = row.Get<std::string>(8);
  size_t level = 0;
  std::string_view rest = group;
  // Up to 4 pieces cut at "/"; a group without "/" is one piece.
  while (level < kMaxRefererGroupLevels) {
    size_t slash = rest.find('/');
    groups.EnterSortable(level++, rest.substr(0, slash));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  groups.EnterSortable(level++, url);
  return level;
}

}  // namespace

extern const SessionViewDef kReferersView = {
    {"Referers", "Referer", static_cast<int>(kMaxRefererGroupLevels + 1),
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "c.Url, c.[Group] FROM [Session] a, DNSLookUp b, Referer c, SessionReferer e WHERE a.UserIP=b.UserIP and "
     "e.SessionId=a.SessionId and c.RefererId=e.RefererId ",
     "ORDER BY (left(c.[Group],50) || Space(50-Len(left(c.[Group],50))) || left(c.Url,50) || "
     "Space(50-Len(left(c.Url,50))) || Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE;"},
    nullptr,
    EnterRefererGroups,
    1,
    2,
};

}  // namespace weavil
