#include "classify/modern_agent_rules.h"

#include <optional>
#include <stdexcept>
#include <vector>

#include "classify/agent_rules_data.h"
#include "classify/literal_prefilter.h"
#include "regex/regex.h"

namespace weavil {
namespace {

constexpr size_t kMaxNamePart = 40;
constexpr size_t kMaxVersionPart = 12;

struct Parser {
  Regex regex;
  const AgentParserText* text;
};

struct Robot {
  Regex regex;
  bool ai;
};

// The agent as the data's patterns expect it: the log wrote each blank as "+", the
// patterns spell a blank as a blank. A pattern with a "+" of its own ("\+") is also
// searched in the agent as logged.
struct AgentText {
  std::string_view logged;
  std::string blanks;
};

// An ordered list with its sieve: rule i needs searching only where marks[i] is set.
template <typename Rule>
struct RuleList {
  std::vector<Rule> rules;
  std::vector<uint8_t> plus;  // the pattern spells a "+" of its own
  LiteralPrefilter prefilter;

  void Add(Rule rule, const char* pattern) {
    rules.push_back(std::move(rule));
    plus.push_back(std::string_view(pattern).find("\\+") != std::string_view::npos);
    prefilter.Add(pattern, plus.back());
  }
  // The first rule that matches, with its match; nullptr when none does.
  const Rule* First(const AgentText& agent, RegexMatch& match) const {
    thread_local std::vector<uint8_t> marks;
    prefilter.Candidates(agent.blanks, marks);
    for (size_t i = 0; i < rules.size(); ++i) {
      if (!marks[i]) continue;
      if (rules[i].regex.Search(agent.blanks, match) || (plus[i] && rules[i].regex.Search(agent.logged, match)))
        return &rules[i];
    }
    return nullptr;
  }
};

struct Rules {
  RuleList<Parser> browsers, systems, spiders;
  RuleList<Robot> robots;
  // For robots no list knows: a bare tool or library, a web or mail address, the words
  // robots use for themselves.
  Regex tool{R"((?i)(?:^|[^a-z])(curl|wget|python-requests|python-urllib|aiohttp|go-http-client|okhttp|java/|)"
             R"(libwww|scrapy|headlesschrome|axios|node-fetch))"};
  Regex address{R"((?i)https?://|www\.|[a-z0-9._%-]+@[a-z0-9-]+(?:\.[a-z0-9-]+)*\.[a-z]{2,})"};
  Regex words{R"((?i)bot|crawl|spider|scraper|fetcher|monitor|preview|headless)"};
};

std::optional<Regex> Compile(const char* pattern, bool caseless) {
  try {
    return Regex(caseless ? "(?i)" + std::string(pattern) : std::string(pattern));
  } catch (const std::invalid_argument&) {
    return std::nullopt;  // checked when the tables were made; never leave the rules half-built
  }
}

void AddParsers(RuleList<Parser>& out, const AgentParserText* texts, size_t count) {
  out.rules.reserve(count);
  for (size_t i = 0; i < count; ++i)
    if (std::optional<Regex> regex = Compile(texts[i].pattern, texts[i].caseless))
      out.Add({std::move(*regex), &texts[i]}, texts[i].pattern);
}

const Rules& CompiledRules() {
  static const Rules rules = [] {
    Rules built;
    const AgentRuleTexts& texts = GeneratedAgentRuleTexts();
    AddParsers(built.browsers, texts.browsers, texts.browserCount);
    AddParsers(built.systems, texts.systems, texts.systemCount);
    AddParsers(built.spiders, texts.spiders, texts.spiderCount);
    built.robots.rules.reserve(texts.robotCount);
    for (size_t i = 0; i < texts.robotCount; ++i)
      if (std::optional<Regex> regex = Compile(texts.robots[i].pattern, false))
        built.robots.Add({std::move(*regex), texts.robots[i].ai}, texts.robots[i].pattern);
    for (auto* list : {&built.browsers, &built.systems, &built.spiders}) list->prefilter.Finish();
    built.robots.prefilter.Finish();
    return built;
  }();
  return rules;
}

AgentText WithBlanks(std::string_view userAgent) {
  AgentText agent{userAgent, std::string(userAgent)};
  for (char& c : agent.blanks)
    if (c == '+') c = ' ';
  return agent;
}

// A replacement text with $1 to $9 filled in from the match.
std::string Replace(const char* replacement, const RegexMatch& match) {
  std::string out;
  for (const char* p = replacement; *p; ++p) {
    if (p[0] == '$' && p[1] >= '1' && p[1] <= '9') {
      out.append(match.Group(static_cast<size_t>(p[1] - '0')));
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

std::string Part(const char* replacement, const RegexMatch& match, size_t group) {
  return replacement ? Replace(replacement, match) : std::string(match.Group(group));
}

// Printable words only (a word with other bytes is left out whole, as the database's
// texts are single bytes), blanks collapsed and trimmed, "/" (the statistics' level
// separator) turned into "-", and cut to a sane length.
std::string CleanName(std::string_view text, size_t limit = kMaxNamePart) {
  std::string out;
  size_t wordStart = 0;
  bool wordClean = true;
  auto endWord = [&] {
    if (!wordClean) out.resize(wordStart);
    wordClean = true;
  };
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ' ' || u < 0x20) {
      endWord();
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
      wordStart = out.size();
      continue;
    }
    if (u >= 0x7F) wordClean = false;
    else out.push_back(c == '/' ? '-' : c);
  }
  endWord();
  if (out.size() > limit) out.resize(limit);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A robot's name from the text its pattern matched: "Googlebot/" gives "Googlebot".
std::string RobotName(std::string_view matched) {
  auto isWordChar = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  };
  while (!matched.empty() && !isWordChar(matched.front())) matched.remove_prefix(1);
  while (!matched.empty() && !isWordChar(matched.back())) matched.remove_suffix(1);
  std::string name = CleanName(matched);
  return name.empty() ? "Other" : name;
}

struct Parsed {
  std::string name, major, minor;
};

// The first parser that matches decides, as in uap-core. "Other" is its word for none.
bool Parse(const RuleList<Parser>& parsers, const AgentText& agent, Parsed& out) {
  RegexMatch match;
  const Parser* parser = parsers.First(agent, match);
  if (!parser) return false;
  out.name = CleanName(Part(parser->text->name, match, 1));
  out.major = CleanName(Part(parser->text->major, match, 2), kMaxVersionPart);
  out.minor = CleanName(Part(parser->text->minor, match, 3), kMaxVersionPart);
  return !out.name.empty() && out.name != "Other";
}

// What no list knows: a bare tool or library, or the words robots use for themselves.
bool ToolOrRobotWords(const Rules& rules, std::string_view text, std::string& name) {
  RegexMatch match;
  if (rules.tool.Search(text, match)) {
    name = "Robot/" + RobotName(match.Group(1));
    return true;
  }
  if (rules.words.Search(text)) {
    name = "Robot/Other";
    return true;
  }
  return false;
}

std::string BrowserName(const Parsed& browser) {
  std::string name = browser.name;
  if (!browser.major.empty()) {
    name += '/' + browser.major;
    if (!browser.minor.empty()) name += '.' + browser.minor;
  }
  return name;
}

// The name, or empty; robot tells which kind of name it is.
std::string NameAgent(const Rules& rules, const AgentText& agent, int32_t& robot) {
  robot = 1;
  std::string_view trimmed = agent.blanks;
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  if (trimmed.empty() || trimmed == "-") return "Robot/Other";  // browsers always say who they are

  RegexMatch match;
  if (const Robot* rule = rules.robots.First(agent, match))
    return (rule->ai ? "Robot/AI/" : "Robot/") + RobotName(match.Group(0));
  // uap-core names robots as it names browsers; its spider rules and the robot words in
  // the family it gives tell them apart.
  Parsed browser;
  bool named = Parse(rules.browsers, agent, browser);
  if (rules.spiders.First(agent, match) || (named && rules.words.Search(browser.name)))
    return "Robot/" + (named && browser.name != "Spider" ? browser.name : std::string("Other"));
  // A browser never carries a web or mail address; robots put theirs after a browser's
  // agent text, which would name the browser.
  if (rules.address.Search(agent.blanks)) return "Robot/" + (named ? browser.name : std::string("Other"));
  if (named) {
    robot = 0;
    return BrowserName(browser);
  }
  std::string name;
  if (ToolOrRobotWords(rules, agent.blanks, name)) return name;
  robot = 0;
  return {};
}

}  // namespace

void PrepareModernRules() { CompiledRules(); }

bool ModernBrowserName(std::string_view userAgent, std::string& name, int32_t& robot) {
  name = NameAgent(CompiledRules(), WithBlanks(userAgent), robot);
  return !name.empty();
}

bool ModernOsName(std::string_view userAgent, std::string& name) {
  name.clear();
  Parsed system;
  if (!Parse(CompiledRules().systems, WithBlanks(userAgent), system)) return false;
  // The system's own name of today, and no build number where the data gives one.
  if (system.name == "Mac OS X") system.name = "macOS";
  name = system.name;
  if (system.name != "Chrome OS" && !system.major.empty()) {
    name += ' ' + system.major;
    if (!system.minor.empty()) name += '.' + system.minor;
  }
  return true;
}

}  // namespace weavil
