#pragma once
// User-agent classification: two ordered rule lists, one naming the browser or
// recognising a robot, one naming the operating system. The first matching row wins.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regex/regex.h"

namespace weavil {

class DbSession;

struct ClassRule {
  std::string name;     // display name, or the prefix of it
  std::string pattern;  // Perl syntax, case-sensitive, searched anywhere
  int32_t fixed = 0;    // 1: store name unchanged (a robot in the browser list); 0: append group 1
  Regex regex;          // pattern, compiled once

  ClassRule(std::string_view name, std::string_view pattern, int32_t fixed);
};

// Built on first use (thread-safe) and never changed afterwards.
const std::vector<ClassRule>& BrowserRules();  // 83 rows
const std::vector<ClassRule>& OsRules();       // 17 rows

struct UserAgentClass {
  std::string browser;  // empty when no row matched
  std::string os;       // empty when no row matched
  int32_t robot = 0;    // 1 when the matching browser row is a robot row
};

// The pure part of ClassifyUserAgent: walks both lists, touches no database. The text
// is read up to its first zero byte, as the log field it comes from. With modernRules
// the rules for today's agents name what the lists left unnamed, the browser (or robot)
// and the operating system each on its own; a name the lists gave is never changed.
UserAgentClass ClassifyUserAgentText(std::string_view userAgent, bool modernRules = false);

// Stores both names (empty ones too) by insert-then-select and links them to the
// session when both ids came back. Statement failures are silent.
void StoreBrowserOs(std::string_view browser, std::string_view os, std::string_view sessionId,
                    DbSession& session);

// ClassifyUserAgent(userAgent, sessionId, session) is declared in classification_store.h.

// Text up to the first zero byte: the classifiers see log fields as C strings would.
std::string_view TextBeforeNul(std::string_view text);

}  // namespace weavil
