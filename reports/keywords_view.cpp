// The Keywords view: sessions under each search word they came with, then under the
// whole phrase.
#include <string>

#include "classify/url_unescape.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

size_t EnterKeywordGroups(const Statement& row, SessionGroups& groups) {
  std::string phrase = row.Get<std::string>(7);
  UrlUnescapeInPlace(phrase);  // percent escapes only: "+" stays
  groups.EnterSortable(0, row.Get<std::string>(8));
  groups.EnterSortable(1, phrase);
  return 2;
}

}  // namespace

extern const SessionViewDef kKeywordsView = {
    {"Keywords", "KeyWord", 2,
     "Select a.NumId, Format(a.TimeEnter,'yyyy-mm-dd hh:mm'), a.UserIP, b.FullName, a.NumVisited, b.IsRobot, "
     "c.Keyphrase, d.Word FROM [Session] a, DNSLookUp b, Keyphrase c, Keyword d, SessionKeyphrase e, "
     "SessionKeywords f WHERE a.UserIP=b.UserIP and e.SessionId=a.SessionId and f.SessionId=a.SessionId and "
     "c.KeyphraseId=e.KeyphraseId and d.KeywordId=f.KeywordId ",
     "ORDER BY (left(d.Word,25) || Space(25-Len(left(d.Word,25))) || left(c.Keyphrase,100) || "
     "Space(100-Len(left(c.Keyphrase,100))) || Format(a.TimeEnter,'yyyymmddhhnnss')) COLLATE NOCASE;"},
    nullptr,
    EnterKeywordGroups,
    1,
    2,
};

}  // namespace weavil
