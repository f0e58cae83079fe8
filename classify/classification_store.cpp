#include "classify/classification_store.h"

#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "classify/referrer_analyzer.h"
#include "classify/url_unescape.h"
#include "classify/user_agent_classifier.h"
#include "store/batch_inserter.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};
template <typename Value>
using TextMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

// The name columns compare with NOCASE, which folds ASCII letters only: "Web" and "web"
// are one row, whichever came first.
void FoldAsciiCase(std::string_view text, std::string& out) {
  out.assign(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

// One name table (Browser, OS, Referer, Keyphrase, Keyword) reached by insert-then-select
// through prepared statements, with the ids already known. An id is only remembered once
// the select gave it, so a name whose lookup failed is tried again next time, as the
// one-statement-at-a-time path does. The sessions' link rows are written many to a
// statement, in the order they came (Flush writes those held back).
class NameTable {
 public:
  // linkTable may be empty for a table whose link row another table writes (OS);
  // linkColumns are those after the session's. A file that keeps the table by number
  // gets its rows by the session's NumId, into the table itself.
  bool Prepare(DbSession& session, std::string_view insertSql, std::string_view selectSql, std::string_view linkTable,
               std::string_view linkColumns = {}, size_t numbers = 1) {
    session_ = &session;
    if (!linkTable.empty()) {
      byNumber_ = session.KeptByNumber(linkTable);
      std::vector<bool> quoted(1 + numbers, false);
      quoted[0] = !byNumber_;
      links_ = std::make_unique<BatchInserter>(session, session.StoredTable(linkTable),
                                               (byNumber_ ? "SessionNum, " : "SessionId, ") + std::string(linkColumns),
                                               std::move(quoted), nullptr);
    }
    return Succeeded(insert_.Prepare(session, insertSql)) && Succeeded(select_.Prepare(session, selectSql));
  }

  // extra is bound as the insert's second value when the table has one (Referer's group).
  int32_t Id(std::string_view name, std::string_view extra = {}, bool hasExtra = false) {
    FoldAsciiCase(name, key_);
    if (auto found = ids_.find(key_); found != ids_.end()) return found->second;
    int32_t id = -1;
    int32_t inserted = hasExtra ? insert_.Run(name, extra) : insert_.Run(name);
    if (Succeeded(inserted) && session_->Changes() == 1) {
      // A new row: its key is the id the select would find, without asking again.
      id = static_cast<int32_t>(session_->LastInsertId());
    } else {
      // Known already (the insert failed on the unique name), or the insert went wrong.
      if (Failed(select_.Run(name)) || select_.MoveNext() != kResultOk || !select_.Read(1, id)) id = -1;
    }
    if (id < 0) return -1;
    ids_.emplace(key_, id);
    return id;
  }

  bool ByNumber() const { return byNumber_; }

  // numId: the session's, when the table is kept by number (a link without one, of a
  // session that is not stored, is not written, as the table's view refuses it).
  void Link(std::string_view sessionId, int64_t numId, int32_t id, int32_t second = -1) {
    if (byNumber_ && numId <= 0) return;
    std::vector<SqlValue>& row = links_->Add();
    if (byNumber_) row[0].SetNumber(numId);
    else row[0].SetText(sessionId);
    row[1].SetNumber(id);
    if (row.size() > 2) row[2].SetNumber(second);
  }

  void Flush() {
    if (links_) links_->Flush();
  }
  // After a rollback: the ids and the link rows held back belong to what was undone.
  void Forget() {
    ids_.clear();
    if (links_) links_->Discard();
  }

 private:
  DbSession* session_ = nullptr;
  Statement insert_, select_;
  std::unique_ptr<BatchInserter> links_;
  bool byNumber_ = false;
  TextMap<int32_t> ids_;
  std::string key_;
};

struct UserAgentEntry {
  UserAgentClass userAgentClass;
  int32_t browserId = -1;
  int32_t osId = -1;
};

}  // namespace

struct ClassificationStore::Impl {
  Impl(DbSession& db, bool modern) : session(db), modernRules(modern) {
    prepared = browsers.Prepare(session, "Insert Into Browser (Browser) Values (?);",
                                "Select BrowserId FROM Browser WHERE Browser=?;", "SessionBrowserOS",
                                "BrowserId, OSId", 2) &&
               systems.Prepare(session, "Insert Into OS (OS) Values (?);", "Select OSId FROM OS WHERE OS=?;", "") &&
               referers.Prepare(session, "Insert Into Referer (Url, [Group]) Values (?, ?);",
                                "Select RefererId FROM Referer WHERE Url=?;", "SessionReferer", "RefererId") &&
               keyphrases.Prepare(session, "Insert Into Keyphrase (Keyphrase) Values (?);",
                                  "Select KeyphraseId FROM Keyphrase WHERE Keyphrase=?;", "SessionKeyphrase",
                                  "KeyphraseId") &&
               keywords.Prepare(session, "Insert Into Keyword (Word) Values (?);",
                                "Select KeywordId FROM Keyword WHERE Word=?;", "SessionKeywords", "KeywordId");
    if (prepared && (browsers.ByNumber() || referers.ByNumber() || keyphrases.ByNumber() || keywords.ByNumber()))
      prepared = Succeeded(numberOf.Prepare(session, "SELECT NumId FROM [Session] WHERE SessionId=? ORDER BY NumId;"));
  }

  // The session's NumId: the one given, or else that of the stored session with the
  // identifier (0 when none is stored).
  int64_t NumIdOf(std::string_view sessionId, int64_t numId) {
    if (numId > 0 || !numberOf.IsOpen()) return numId;
    int64_t found = 0;
    if (Succeeded(numberOf.Run(sessionId)) && numberOf.MoveNext() == kResultOk) numberOf.GetInt64(1, found);
    return found;
  }

  int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, int64_t numId) {
    userAgent = TextBeforeNul(userAgent);
    auto found = userAgents.find(userAgent);
    if (found == userAgents.end()) {
      found = userAgents.emplace(std::string(userAgent), UserAgentEntry{ClassifyUserAgentText(userAgent, modernRules)}).first;
    }
    UserAgentEntry& entry = found->second;
    // Same order of inserts per table as StoreBrowserOs, so new names get the same ids.
    if (entry.browserId < 0) entry.browserId = browsers.Id(entry.userAgentClass.browser);
    if (entry.osId < 0) entry.osId = systems.Id(entry.userAgentClass.os);
    if (entry.browserId >= 0 && entry.osId >= 0) {
      browsers.Link(sessionId, browsers.ByNumber() ? NumIdOf(sessionId, numId) : 0, entry.browserId, entry.osId);
    }
    return entry.userAgentClass.robot;
  }

  void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, int64_t numId) {
    ReferrerParts parts;
    if (!SplitReferrer(referrer, parts) || !parts.webScheme) return;
    if (referers.ByNumber() || keyphrases.ByNumber() || keywords.ByNumber()) numId = NumIdOf(sessionId, numId);

    // The engine row depends on the host alone; the phrase needs the rest every time.
    auto host = hostRules.find(parts.host);
    if (host == hostRules.end()) host = hostRules.emplace(std::string(parts.host), FindSearchEngineRule(parts.host)).first;
    phrase.clear();
    std::string_view group = kUnclassifiedGroup;
    if (host->second >= 0) {
      const SearchEngineRule& rule = SearchEngineRules()[static_cast<size_t>(host->second)];
      if (MatchSearchQuery(rule, parts.rest, phrase)) group = rule.engine;
    }

    int32_t refererId = referers.Id(parts.host, group, true);
    if (refererId >= 0) referers.Link(sessionId, numId, refererId);
    int32_t keyphraseId = keyphrases.Id(phrase);
    if (keyphraseId >= 0) keyphrases.Link(sessionId, numId, keyphraseId);

    UrlUnescapeInPlace(phrase);
    for (std::string_view word : CutKeywords(phrase)) {
      int32_t keywordId = keywords.Id(word);
      if (keywordId >= 0) keywords.Link(sessionId, numId, keywordId);
    }
  }

  void Flush() {
    for (NameTable* table : {&browsers, &referers, &keyphrases, &keywords}) table->Flush();
  }

  void Forget() {
    for (auto& [text, entry] : userAgents) entry.browserId = entry.osId = -1;
    browsers.Forget();
    systems.Forget();
    referers.Forget();
    keyphrases.Forget();
    keywords.Forget();
  }

  DbSession& session;
  bool modernRules = false;
  bool prepared = false;
  NameTable browsers, systems, referers, keyphrases, keywords;
  Statement numberOf;  // a session's NumId by its identifier
  TextMap<UserAgentEntry> userAgents;
  TextMap<int> hostRules;
  std::string phrase;
};

ClassificationStore::ClassificationStore(DbSession& session, bool modernRules)
    : impl_(std::make_unique<Impl>(session, modernRules)) {}

// Rows held back are written on the session as it stands, as the writer's own are.
ClassificationStore::~ClassificationStore() { impl_->Flush(); }

int32_t ClassificationStore::ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, int64_t numId) {
  // Without its statements (a database lacking a table) the store takes the plain path,
  // which then fails statement by statement exactly as it would have anyway.
  if (!impl_->prepared) return weavil::ClassifyUserAgent(userAgent, sessionId, impl_->session, impl_->modernRules);
  return impl_->ClassifyUserAgent(userAgent, sessionId, numId);
}

void ClassificationStore::AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, int64_t numId) {
  if (!impl_->prepared) return weavil::AnalyzeReferrer(referrer, sessionId, impl_->session);
  impl_->AnalyzeReferrer(referrer, sessionId, numId);
}

void ClassificationStore::Flush() { impl_->Flush(); }

void ClassificationStore::ForgetIds() { impl_->Forget(); }

}  // namespace weavil
