// The Keywords view: sessions under each search word they came with, then under the
// whole phrase.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "classify/url_unescape.h"
#include "reports/report_sessions.h"
#include "reports/session_view_rows.h"
#include "store/database.h"

namespace weavil {

namespace {

size_t EnterKeywordLabels(std::string phrase, std::string_view word, SessionGroups& groups) {
  UrlUnescapeInPlace(phrase);  // percent escapes only: "+" stays
  groups.EnterSortable(0, word);
  groups.EnterSortable(1, phrase);
  return 2;
}

size_t EnterKeywordGroups(const Statement& row, SessionGroups& groups) {
  return EnterKeywordLabels(row.Get<std::string>(7), row.Get<std::string>(8), groups);
}

constexpr size_t kWordKeyWidth = 25;
constexpr size_t kPhraseKeyWidth = 100;

// Texts by their number (Keyphrase, Keyword); a null text is kept as null.
struct NumberedTexts {
  TextArena kept;
  std::unordered_map<int64_t, uint32_t> indexOf;
  std::vector<std::optional<std::string_view>> texts;
};

bool ReadNumberedTexts(DbSession& db, const char* sql, NumberedTexts& out) {
  return ForEachRow(db, sql, [&](const Statement& row) {
    int64_t id = 0;
    if (!row.GetInt64(1, id)) return true;
    std::string_view text;
    std::optional<std::string_view> value;
    if (row.GetTextView(2, text)) value = out.kept.Keep(text);
    out.indexOf.emplace(id, static_cast<uint32_t>(out.texts.size()));
    out.texts.push_back(value);
    return true;
  });
}

// A session's link to a phrase or word, in the order the table was read.
struct TextLink {
  uint32_t session, text, read;
};

bool ReadLinks(DbSession& db, const std::string& sql, const ReportSessions& sessions, const NumberedTexts& texts,
               std::vector<TextLink>& links) {
  uint32_t count = 0;
  TextLookup sessionOf(sessions.ids);
  return ForEachRow(db, sql, [&](const Statement& row) {
    ++count;
    std::string_view id;
    int64_t number = 0;
    if (!row.GetTextView(1, id) || !row.GetInt64(2, number)) return true;
    uint32_t session = sessionOf.Find(id);
    auto found = texts.indexOf.find(number);
    if (session == kNoEntry || found == texts.indexOf.end()) return true;
    links.push_back({session, found->second, count});
    return texts.texts[found->second].has_value();
  });
}

// The rows of the view's statement: for each session every phrase with every word,
// ordered by the padded word and phrase and the start, ties in the order of the
// statement's scan (session, its phrases as stored, its words as stored).
bool BuildKeywordRows(DbSession& db, const ReportFilter& filter, std::time_t now, SessionGroups& groups) {
  ReportSessions sessions;
  NumberedTexts phrases, words;
  if (!StatementPrepares(db, BuildViewQuery(SessionViewKind::kKeyword, filter, now)) ||
      !ReadNumberedTexts(db, "SELECT KeyphraseId, Keyphrase FROM Keyphrase;", phrases) ||
      !ReadNumberedTexts(db, "SELECT KeywordId, Word FROM Keyword;", words))
    return false;
  if (phrases.texts.empty() || words.texts.empty()) return true;
  std::vector<TextLink> phraseLinks, wordLinks;
  const bool byNumber = JoinsByNumber(db);
  if (!LoadReportSessions(db, filter, now, sessions, SessionIds::kIndexed) ||
      !ReadLinks(db, SessionNamedRead(byNumber, "SessionKeyphrase", "", ", KeyphraseId"), sessions, phrases,
                 phraseLinks) ||
      !ReadLinks(db, SessionNamedRead(byNumber, "SessionKeywords", "", ", KeywordId"), sessions, words, wordLinks))
    return false;
  auto bySession = [](const TextLink& a, const TextLink& b) { return std::pair(a.session, a.read) < std::pair(b.session, b.read); };
  std::sort(phraseLinks.begin(), phraseLinks.end(), bySession);
  std::sort(wordLinks.begin(), wordLinks.end(), bySession);

  struct Row {
    uint32_t session, phrase, word, phraseRead, wordRead;
    std::string key;
  };
  std::vector<Row> rows;
  auto w = wordLinks.begin();
  for (auto p = phraseLinks.begin(); p != phraseLinks.end();) {
    auto pEnd = std::find_if(p, phraseLinks.end(), [&](const TextLink& l) { return l.session != p->session; });
    while (w != wordLinks.end() && w->session < p->session) ++w;
    auto wEnd = std::find_if(w, wordLinks.end(), [&](const TextLink& l) { return l.session != p->session; });
    for (auto phrase = p; phrase != pEnd; ++phrase) {
      for (auto word = w; word != wEnd; ++word) {
        Row row{p->session, phrase->text, word->text, phrase->read, word->read, {}};
        AppendPaddedKey(row.key, *words.texts[word->text], kWordKeyWidth);
        AppendPaddedKey(row.key, *phrases.texts[phrase->text], kPhraseKeyWidth);
        rows.push_back(std::move(row));
      }
    }
    p = pEnd;
  }
  std::vector<uint32_t> place = StartRanks(sessions, false);
  std::sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    return std::tie(a.key, place[a.session], a.phraseRead, a.wordRead) <
           std::tie(b.key, place[b.session], b.phraseRead, b.wordRead);
  });
  ReserveSessionRows(groups.Tree(), rows.size());
  char minute[17];
  for (const Row& row : rows) {
    const ReportSession& session = sessions.rows[row.session];
    size_t depth = EnterKeywordLabels(std::string(*phrases.texts[row.phrase]), *words.texts[row.word], groups);
    RowId leaf = groups.AppendSession(depth, session.Minute(minute), kImageLeaf);
    groups.Tree().SetKey(leaf, session.numId);
  }
  return true;
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
    BuildKeywordRows,
};

}  // namespace weavil
