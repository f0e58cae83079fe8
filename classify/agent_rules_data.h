#pragma once
// The user-agent rule tables made at build time from the vendored data in classify/data
// (uap-core's regexes.yaml, crawler-user-agents.json) by agent_rules_converter. Every
// pattern here compiled when the tables were made; the order is the data's own.
#include <cstddef>

namespace weavil {

// One rule of regexes.yaml. Each result part is a replacement text in which $1 to $9
// stand for capture groups, or nullptr to take that part's own group (name: 1, major: 2,
// minor: 3).
struct AgentParserText {
  const char* pattern;
  const char* name;   // family_replacement, os_replacement
  const char* major;  // v1_replacement, os_v1_replacement
  const char* minor;  // v2_replacement, os_v2_replacement
  bool caseless;      // regex_flag 'i'
};

// One robot of crawler-user-agents.json; ai: tagged as an AI crawler or fetcher.
struct RobotPatternText {
  const char* pattern;
  bool ai;
};

struct AgentRuleTexts {
  const AgentParserText* browsers;
  size_t browserCount;
  const AgentParserText* systems;
  size_t systemCount;
  const AgentParserText* spiders;  // the device rules that name an agent a spider
  size_t spiderCount;
  const RobotPatternText* robots;  // AI crawlers first, then the others, each in file order
  size_t robotCount;
};

const AgentRuleTexts& GeneratedAgentRuleTexts();

}  // namespace weavil
