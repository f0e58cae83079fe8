// How well the rules name a set of agents: reads one agent a line (blanks as they are,
// or written as "+"), optionally followed by a tab and the expected browser family, and
// prints for the program's own rows alone and with the rules for today's agents the
// share named (a browser name or the robot flag), the share flagged as robots, and the
// share whose browser name begins with the expected family. With --list every agent is
// printed with its names; --left-by-rows counts only the agents the program's own browser
// and robot rows leave unnamed.
//   agent_share FILE [--list] [--modern-only] [--left-by-rows]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "classify/modern_agent_rules.h"
#include "classify/user_agent_classifier.h"

namespace {

struct Case {
  std::string agent, family;
};

struct Tally {
  size_t total = 0, named = 0, robots = 0, withFamily = 0, rightFamily = 0, classicFamily = 0;
};

// "Chrome/131.0" is of the family Chrome; a robot's name never is a browser family.
bool SameFamily(const std::string& name, const std::string& family) {
  return name == family ||
         (name.size() > family.size() && name.compare(0, family.size(), family) == 0 && name[family.size()] == '/');
}

// The program's own rows name a few families their way.
bool ClassicFamily(const std::string& name, const std::string& family) {
  static const std::pair<const char*, const char*> kSame[] = {
      {"Microsoft Internet Explorer/", "IE"}, {"Mozilla/", "Firefox"}, {"Opera/", "Opera"}};
  for (const auto& [prefix, same] : kSame)
    if (name.rfind(prefix, 0) == 0 && family.rfind(same, 0) == 0) return true;
  return false;
}

Tally Count(const std::vector<Case>& cases, bool modern, bool list) {
  Tally tally;
  for (const Case& c : cases) {
    weavil::UserAgentClass result = weavil::ClassifyUserAgentText(c.agent, modern);
    ++tally.total;
    if (!result.browser.empty() || result.robot) ++tally.named;
    if (result.robot) ++tally.robots;
    // Families are counted for browsers: neither the data's "Other" nor our robots.
    if (!c.family.empty() && c.family != "Other" && !result.robot) {
      ++tally.withFamily;
      if (SameFamily(result.browser, c.family)) ++tally.rightFamily;
      if (SameFamily(result.browser, c.family) || ClassicFamily(result.browser, c.family)) ++tally.classicFamily;
    }
    if (list)
      std::cout << (result.robot ? "R " : "  ") << result.browser << " | " << result.os << " | " << c.agent
                << (c.family.empty() ? "" : " | expected " + c.family) << '\n';
  }
  return tally;
}

void Print(const char* label, const Tally& t) {
  auto share = [&](size_t n, size_t of) { return of ? 100.0 * static_cast<double>(n) / static_cast<double>(of) : 0.0; };
  std::printf("%-10s agents %zu  named %.1f%%  robots %.1f%%", label, t.total, share(t.named, t.total),
              share(t.robots, t.total));
  if (t.withFamily)
    std::printf("  right family %.1f%% (%.1f%% with the rows' own names) of %zu browsers", share(t.rightFamily, t.withFamily),
                share(t.classicFamily, t.withFamily), t.withFamily);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: agent_share FILE [--list] [--modern-only] [--left-by-rows]\n";
    return 2;
  }
  bool list = false, modernOnly = false, leftByRows = false;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    list = list || option == "--list";
    modernOnly = modernOnly || option == "--modern-only";
    leftByRows = leftByRows || option == "--left-by-rows";
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  std::vector<Case> cases;
  for (std::string line; std::getline(in, line);) {
    size_t tab = line.find('\t');
    Case c{line.substr(0, tab), tab == std::string::npos ? std::string() : line.substr(tab + 1)};
    if (leftByRows && !weavil::ClassifyUserAgentText(c.agent, false).browser.empty()) continue;
    cases.push_back(c);
  }
  auto start = std::chrono::steady_clock::now();
  weavil::PrepareModernRules();
  double prepare = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!modernOnly) Print("classic", Count(cases, false, false));
  start = std::chrono::steady_clock::now();
  Tally modern = Count(cases, true, list);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Print("modern", modern);
  std::printf("rules compiled in %.0f ms; %.1f us per agent\n", prepare * 1e3,
              cases.empty() ? 0.0 : seconds * 1e6 / static_cast<double>(cases.size()));
  return 0;
}
