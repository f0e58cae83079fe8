#pragma once
// Rules for today's agents, consulted only for an agent that the program's own rows left
// unnamed: robots from crawler-user-agents (AI crawlers and fetchers as "Robot/AI/<name>",
// the others as "Robot/<name>"), spiders and browsers ("Chrome/131.0") and operating
// systems ("Windows 10", "iOS 18.1", "macOS 10.15") from uap-core, and last a few
// heuristics for robots no list knows. The rules are compiled once per process, on
// first use; every call after that only reads them.
#include <cstdint>
#include <string>
#include <string_view>

namespace weavil {

// Names the browser or robot of an agent (blanks written as "+" or kept). Returns false
// and leaves name empty when no rule knows the agent; robot is 1 for a robot.
bool ModernBrowserName(std::string_view userAgent, std::string& name, int32_t& robot);

// Names the operating system; false and an empty name when no rule knows it.
bool ModernOsName(std::string_view userAgent, std::string& name);

// Compiles every rule now rather than at the first agent (for benchmarks and start-up).
void PrepareModernRules();

}  // namespace weavil
