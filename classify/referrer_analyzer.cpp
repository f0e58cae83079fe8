#include "classify/referrer_analyzer.h"

#include <algorithm>

#include "classify/classification_store.h"
#include "classify/statement_steps.h"
#include "classify/url_unescape.h"
#include "classify/user_agent_classifier.h"

namespace weavil {

SearchEngineRule::SearchEngineRule(std::string_view host, std::string_view query, std::string_view engineName)
    : hostPattern(host), queryPattern(query), engine(engineName), hostRegex(host), queryRegex(query) {}

namespace {

struct EngineText {
  const char* host;
  const char* query;
  const char* engine;
};

// Order matters: ".*av\..*" claims every host holding "av." that no earlier row took.
constexpr EngineText kEngineTexts[] = {
    {R"(.*google\..*)", R"([\?|\&]{1}(?:q=|as_q=)([^\&|^$]*)[\&|$]*)", "Search Engine/Google"},
    {R"(.*yahoo\..*)", R"([\?|\&]{1}p=([^\&|^$]*)[\&|$]*)", "Search Engine/Yahoo"},
    {R"(.*msn\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Msn"},
    {R"(.*directhit\..*)", R"([\?|\&]{1}qry=([^\&|^$]*)[\&|$]*)", "Search Engine/Directhit"},
    {R"(.*aol\..*)", R"([\?|\&]{1}query=([^\&|^$]*)[\&|$]*)", "Search Engine/Aol"},
    {R"(.*lycos\..*)", R"([\?|\&]{1}query=([^\&|^$]*)[\&|$]*)", "Search Engine/Lycos"},
    {R"(.*alltheweb\..*)", R"([\?|\&]{1}(?:q=|query=)([^\&|^$]*)[\&|$]*)", "Search Engine/Alltheweb"},
    {R"(.*vivisimo\..*)", R"([\?|\&]{1}query=([^\&|^$]*)[\&|$]*)", "Search Engine/Vivisimo"},
    {R"(.*altavista\..*)", R"([\?|\&]{1}(?:q=|aqa=|aqp=|r=)([^\&|^$]*)[\&|$]*)", "Search Engine/Altavista"},
    {R"(.*av\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Altavista"},
    {R"(.*searchhippo\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Searchhippo"},
    {R"(.*ixquick\..*)", R"([\?|\&]{1}query=([^\&|^$]*)[\&|$]*)", "Search Engine/Ixquick"},
    {R"(.*excite\..*)", R"([\?|\&]{1}qkw=([^\&|^$]*)[\&|$]*)", "Search Engine/Excite"},
    {R"(.*metacrawler\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Metacrawler"},
    {R"(.*netscape\..*)", R"([\?|\&]{1}query=([^\&|^$]*)[\&|$]*)", "Search Engine/Netscape"},
    {R"(.*dogpile\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Dogpile"},
    {R"(.*earthlink\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Earthlink"},
    {R"(.*teoma\..*)", R"([\?|\&]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Teoma"},
    {R"(.*ask\..*)", R"([\?|\&]{1}MetaTopic=([^\&|^$]*)[\&|$]*)", "Search Engine/Teoma"},
    {R"(.*rambler\..*)", R"([\?|\&]{1}words=([^\&|^$]*)[\&|$]*)", "Search Engine/Rambler"},
    {R"(.*yandex\..*)", R"([\?|\&|\=]{1}(?:text=|qs=text|qs=rpt)([^\&|^$]*)[\&|$]*)", "Search Engine/Yandex"},
    {R"(.*ya\..*)", R"([\?|\&|\=]{1}text=([^\&|^$]*)[\&|$]*)", "Search Engine/Yandex"},
    {R"(.*aport\..*)", R"([\?|\&|\=]{1}r=([^\&|^$]*)[\&|$]*)", "Search Engine/Yandex"},
    {R"(.*meta-ukraine\..*)", R"([\?|\&|\=]{1}q=([^\&|^$]*)[\&|$]*)", "Search Engine/Yandex"},
};

const Regex& SplitPattern() {
  static const Regex regex(R"((?<=//)([a-zA-Z0-9\.\-\_]+)[\:]?([0-9]*)[\/]?([a-zA-Z0-9\.\-\_]*)(.*))");
  return regex;
}

// Letters are ASCII plus the two Windows-1251 Cyrillic ranges (lower 0xE0-0xFF, upper
// 0xC0-0xDF); "\b" itself knows only ASCII word characters.
const Regex& WordPattern() {
  static const Regex regex(std::string("\\b([a-zA-Z") + "\xE0-\xFF" + "\xC0-\xDF" + "0-9\\_]+)\\b");
  return regex;
}

bool IsWebScheme(std::string_view scheme) {
  std::string lower(scheme);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.empty() || lower == "http:" || lower == "https:" || lower == "ftp:" || lower == "android-app:";
}

}  // namespace

const std::vector<SearchEngineRule>& SearchEngineRules() {
  static const std::vector<SearchEngineRule> rules = [] {
    std::vector<SearchEngineRule> built;
    built.reserve(std::size(kEngineTexts));
    for (const EngineText& text : kEngineTexts) built.emplace_back(text.host, text.query, text.engine);
    return built;
  }();
  return rules;
}

bool SplitReferrer(std::string_view referrer, ReferrerParts& parts) {
  referrer = TextBeforeNul(referrer);
  RegexMatch match;
  if (!SplitPattern().Search(referrer, match)) return false;
  parts.host = match.Group(1);
  parts.port = match.Group(2);
  parts.firstSegment = match.Group(3);
  parts.rest = match.Group(4);
  size_t slashes = static_cast<size_t>(parts.host.data() - referrer.data()) - 2;  // the "//" before the host
  parts.webScheme = IsWebScheme(referrer.substr(0, slashes));
  return true;
}

int FindSearchEngineRule(std::string_view host) {
  const std::vector<SearchEngineRule>& rules = SearchEngineRules();
  for (size_t i = 0; i < rules.size(); ++i) {
    if (rules[i].hostRegex.Search(host)) return static_cast<int>(i);
  }
  return -1;
}

bool MatchSearchQuery(const SearchEngineRule& rule, std::string_view rest, std::string& phrase) {
  RegexMatch match;
  if (!rule.queryRegex.Search(rest, match)) return false;
  phrase.assign(match.Group(1));
  // The plus pattern "\+" replaced by " " everywhere: a byte-for-byte swap.
  std::replace(phrase.begin(), phrase.end(), '+', ' ');
  if (phrase.size() > kMaxPhraseLength) phrase.resize(kMaxPhraseLength);
  return true;
}

SearchEngineMatch MatchSearchEngine(std::string_view host, std::string_view rest) {
  SearchEngineMatch result;
  int index = FindSearchEngineRule(host);
  if (index < 0) return result;
  const SearchEngineRule& rule = SearchEngineRules()[static_cast<size_t>(index)];
  if (MatchSearchQuery(rule, rest, result.phrase)) result.engine = rule.engine;
  return result;
}

std::vector<std::string_view> CutKeywords(std::string_view decodedPhrase) {
  std::vector<std::string_view> words;
  const Regex& pattern = WordPattern();
  RegexMatch match;
  size_t offset = 0;
  while (offset <= decodedPhrase.size() && pattern.Search(decodedPhrase, match, offset)) {
    words.push_back(match.Group(1));
    offset = match.End(0);
  }
  return words;
}

namespace {

// Insert the value (failure ignored), select its id, link it to the session.
template <class... V>
void StoreLinkedValue(DbSession& session, std::string_view sessionId, std::string_view insertSql,
                      std::string_view selectSql, std::string_view linkSql, std::string_view value,
                      const V&... moreValues) {
  ExecuteIgnoringResult(session, insertSql, value, moreValues...);
  int32_t id = SelectId(session, selectSql, value);
  if (id < 0) return;
  ExecuteIgnoringResult(session, linkSql, sessionId, id);
}

}  // namespace

void StoreReferer(std::string_view host, std::string_view group, std::string_view sessionId, DbSession& session) {
  StoreLinkedValue(session, sessionId, "Insert Into Referer (Url, [Group]) Values (?, ?);",
                   "Select RefererId FROM Referer WHERE Url=?;",
                   "Insert Into SessionReferer (SessionId, RefererId) Values (?, ?);", host, group);
}

void StoreKeyphrase(std::string_view phrase, std::string_view sessionId, DbSession& session) {
  StoreLinkedValue(session, sessionId, "Insert Into Keyphrase (Keyphrase) Values (?);",
                   "Select KeyphraseId FROM Keyphrase WHERE Keyphrase=?;",
                   "Insert Into SessionKeyphrase (SessionId, KeyphraseId) Values (?, ?);", phrase);
}

void StoreKeyword(std::string_view word, std::string_view sessionId, DbSession& session) {
  StoreLinkedValue(session, sessionId, "Insert Into Keyword (Word) Values (?);",
                   "Select KeywordId FROM Keyword WHERE Word=?;",
                   "Insert Into SessionKeywords (SessionId, KeywordId) Values (?, ?);", word);
}

void StoreKeywords(std::string_view decodedPhrase, std::string_view sessionId, DbSession& session) {
  for (std::string_view word : CutKeywords(decodedPhrase)) StoreKeyword(word, sessionId, session);
}

void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, DbSession& session) {
  ReferrerParts parts;
  if (!SplitReferrer(referrer, parts) || !parts.webScheme) return;
  SearchEngineMatch found = MatchSearchEngine(parts.host, parts.rest);
  StoreReferer(parts.host, found.engine.empty() ? kUnclassifiedGroup : std::string_view(found.engine), sessionId,
               session);
  StoreKeyphrase(found.phrase, sessionId, session);  // the empty phrase too
  UrlUnescapeInPlace(found.phrase);
  StoreKeywords(found.phrase, sessionId, session);
}

}  // namespace weavil
