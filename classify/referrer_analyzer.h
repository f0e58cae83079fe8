#pragma once
// Referrer analysis: the referring host, the search engine that claims it, the search
// phrase from its query string and the words of that phrase.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regex/regex.h"

namespace weavil {

class DbSession;

struct SearchEngineRule {
  std::string hostPattern;   // searched in the referrer's host name
  std::string queryPattern;  // searched in the rest of the referrer; group 1 is the phrase
  std::string engine;        // stored as the referrer's group
  Regex hostRegex;
  Regex queryRegex;

  SearchEngineRule(std::string_view hostPattern, std::string_view queryPattern, std::string_view engine);
};

// 24 rows, built on first use (thread-safe) and never changed. The first row whose host
// pattern matches decides, even when its query pattern then fails.
const std::vector<SearchEngineRule>& SearchEngineRules();

// The group of a referrer that no engine claims.
inline constexpr std::string_view kUnclassifiedGroup = "Unclassified";
// The phrase is kept to this many bytes; a longer one is cut.
inline constexpr size_t kMaxPhraseLength = 251;

// The referrer split "(?<=//)([a-zA-Z0-9\.\-\_]+)[\:]?([0-9]*)[\/]?([a-zA-Z0-9\.\-\_]*)(.*)".
// Views into the referrer text.
struct ReferrerParts {
  std::string_view host;          // group 1
  std::string_view port;          // group 2, digits or empty
  std::string_view firstSegment;  // group 3, the first path segment
  std::string_view rest;          // group 4, the rest of the path and the query
  // The text before the "//" is empty or a scheme pages and apps send ("http:", "https:",
  // "ftp:", "android-app:"). Other referrers are not analysed: "javascript://www.google.com/
  // ...?q=x" names a host it never came from, and would give that host its group.
  bool webScheme = false;
};
// False for a referrer without "//" followed by a host character ("-", empty, ...).
// The text is read up to its first zero byte.
bool SplitReferrer(std::string_view referrer, ReferrerParts& parts);

// The index of the first rule whose host pattern matches the host, or -1.
int FindSearchEngineRule(std::string_view host);

// The rule's query pattern searched in rest: on a match, phrase becomes group 1 with
// every "+" turned into a blank, cut to kMaxPhraseLength bytes, and true is returned.
bool MatchSearchQuery(const SearchEngineRule& rule, std::string_view rest, std::string& phrase);

struct SearchEngineMatch {
  std::string phrase;  // empty when no engine applies
  std::string engine;  // empty when no engine applies
};
SearchEngineMatch MatchSearchEngine(std::string_view host, std::string_view rest);

// The words of a (percent-decoded) phrase by the word pattern: runs of ASCII letters,
// digits, "_" and the Windows-1251 Cyrillic letters 0xC0-0xFF that start and end at an
// ASCII word boundary. Case is kept; a repeated word is returned each time. Views into
// the phrase.
std::vector<std::string_view> CutKeywords(std::string_view decodedPhrase);

// Insert-then-select of each value and its link row to the session. Statement failures
// are silent; a link row is written only when an id came back.
void StoreReferer(std::string_view host, std::string_view group, std::string_view sessionId, DbSession& session);
void StoreKeyphrase(std::string_view phrase, std::string_view sessionId, DbSession& session);
void StoreKeywords(std::string_view decodedPhrase, std::string_view sessionId, DbSession& session);
void StoreKeyword(std::string_view word, std::string_view sessionId, DbSession& session);

// AnalyzeReferrer(referrer, sessionId, session) is declared in classification_store.h.

}  // namespace weavil
