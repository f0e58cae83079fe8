// Rules for today's agents: the program's own rows still decide what they name, the
// vendored data's real agents come out named and flagged, the heuristics catch what no
// list knows, and the switch off leaves the rows alone.
#include "classify/modern_agent_rules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "classify/literal_prefilter.h"
#include "classify/user_agent_classifier.h"
#include "regex/regex.h"
#include "tests/classify/agent_cases.h"

namespace weavil {
namespace {

std::string Logged(std::string agent) {
  for (char& c : agent)
    if (c == ' ') c = '+';
  return agent;
}

// The agents as written here, with blanks; the log gives them with "+".
void ExpectModern(std::vector<test::AgentCase> cases) {
  for (test::AgentCase& c : cases) c.agent = Logged(c.agent);
  test::ExpectAgentClasses(cases, true);
}

nlohmann::json Crawlers() {
  std::ifstream in(WEAVIL_AGENT_DATA_DIR "/crawler-user-agents.json");
  EXPECT_TRUE(in.good());
  return nlohmann::json::parse(in);
}

TEST(ModernAgentRulesTest, TheProgramsOwnRowsKeepTheirNamesAndFlags) {
  ExpectModern({
      {"Googlebot/2.1 (+http://www.google.com/bot.html)", "Robot/Google", "", 1},
      {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "Microsoft Internet Explorer/6.0", "Windows XP", 0},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0", "Mozilla/133.0",
       "Windows NT", 0},
      // A system row matched, so only the browser comes from the new rules.
      {"Mozilla/5.0 (Linux; Android 14; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.6778.81 Mobile "
       "Safari/537.36",
       "Chrome Mobile/131.0", "Linux ?.?", 0},
  });
}

TEST(ModernAgentRulesTest, NamesTodaysBrowsersSystemsRobotsAndAiCrawlers) {
  ExpectModern({
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/18.1 "
       "Mobile/15E148 Safari/604.1",
       "Mobile Safari/18.1", "iOS 18.1", 0},
      {"Mozilla/5.0 (X11; CrOS x86_64 14541.0.0) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Safari/537.36",
       "Chrome/131.0", "Chrome OS", 0},
      {"Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)", "Robot/bingbot", "", 1},
      {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Robot/Googlebot", "", 1},
      {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2; +https://openai.com/gptbot)",
       "Robot/AI/GPTBot", "", 1},
      {"Mozilla/5.0 (compatible; Amazonbot/0.1; +https://developer.amazon.com/support/amazonbot)", "Robot/AI/Amazonbot",
       "", 1},
  });
}

TEST(ModernAgentRulesTest, TheDatasOwnAgentsAreFlaggedAndBrowsersAreNot) {
  size_t agents = 0, flagged = 0, ai = 0, aiGroup = 0;
  for (const nlohmann::json& entry : Crawlers()) {
    bool isAi = false;
    for (const nlohmann::json& tag : entry["tags"]) isAi = isAi || tag == "ai-crawler";
    for (const nlohmann::json& instance : entry["instances"]) {
      std::string agent = Logged(instance.get<std::string>());
      if (!ClassifyUserAgentText(agent, false).browser.empty()) continue;  // the rows named it: theirs
      UserAgentClass result = ClassifyUserAgentText(agent, true);
      ++agents;
      if (result.robot) ++flagged;
      else ADD_FAILURE() << "not flagged: " << agent;
      if (isAi) ++ai, aiGroup += result.browser.rfind("Robot/AI/", 0) == 0;
    }
  }
  EXPECT_GT(agents, 1500u);
  EXPECT_EQ(flagged, agents);
  EXPECT_GT(ai, 50u);
  EXPECT_GE(aiGroup * 100, ai * 95);

  std::ifstream browsers(WEAVIL_AGENT_DATA_DIR "/browser-agents.txt");
  size_t lines = 0, named = 0;
  for (std::string agent; std::getline(browsers, agent); ++lines) {
    UserAgentClass result = ClassifyUserAgentText(Logged(agent), true);
    EXPECT_EQ(result.robot, 0) << agent;
    named += result.browser.find('/') != std::string::npos;  // "Chrome/131.0"
  }
  EXPECT_GE(lines, 50u);
  EXPECT_GE(named * 100, lines * 95);
}

TEST(ModernAgentRulesTest, HeuristicsCatchToolsAddressesRobotWordsAndEmptyAgents) {
  ExpectModern({
      {"curl/8.5.0", "Robot/curl", "", 1},
      {"WidgetTool/3.1 (+https://widget.example/about)", "Robot/Other", "", 1},
      {"contact me at ops@widget.example", "Robot/Other", "", 1},
      {"widgetfetcher/1.0", "Robot/Other", "", 1},
      {"-", "Robot/Other", "", 1},
      {"", "Robot/Other", "", 1},
      {"WidgetTool/3.1", "", "", 0},
      // "bot" inside a phone's name is no robot once a browser is named.
      {"MyPhone (Linux; Android 14; Cubot X30) AppleWebKit/537.36 Chrome/120.0.0.0 Mobile Safari/537.36",
       "Chrome Mobile/120.0", "Linux ?.?", 0},
  });
  // A version at an e-mail's place is no address.
  EXPECT_EQ(ClassifyUserAgentText(Logged("Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
                                         "Chrome/150.0.0.0 Mobile Safari/537.36 (Ecosia android@150.0.0.0)"),
                                  true)
                .robot,
            0);
}

TEST(ModernAgentRulesTest, SwitchedOffOnlyTheRowsSpeak) {
  for (const char* agent : {"Mozilla/5.0+AppleWebKit/537.36+(KHTML,+like+Gecko;+compatible;+GPTBot/1.2)", "-", "",
                            "Mozilla/5.0+(iPhone;+CPU+iPhone+OS+18_1+like+Mac+OS+X)+Version/18.1+Safari/604.1"}) {
    UserAgentClass result = ClassifyUserAgentText(agent, false);
    EXPECT_EQ(result.browser, "") << agent;
    EXPECT_EQ(result.os, "") << agent;
    EXPECT_EQ(result.robot, 0) << agent;
  }
}

// The sieve may only skip a rule whose pattern cannot match: every real agent a robot
// pattern matches holds one of the texts the sieve requires of it.
TEST(LiteralPrefilterTest, NeverSkipsARuleThatMatches) {
  EXPECT_EQ(RequiredLiterals("[Bb]ot|[Ss]pider"), (std::vector<std::string>{"bot", "spider"}));
  EXPECT_EQ(RequiredLiterals(R"((Chromium|Chrome)/(\d+)\.x?yz)"), (std::vector<std::string>{"chromium", "chrome"}));
  EXPECT_EQ(RequiredLiterals("(?:ab|)cd+ef"), (std::vector<std::string>{"cd"}));
  EXPECT_TRUE(RequiredLiterals(R"(^.{0,100}[a-z]\d)").empty());
  size_t checked = 0;
  for (const nlohmann::json& entry : Crawlers()) {
    std::string pattern = entry["pattern"].get<std::string>();
    LiteralPrefilter prefilter;
    prefilter.Add(pattern);
    prefilter.Finish();
    Regex regex(pattern);
    std::vector<uint8_t> marks;
    for (const nlohmann::json& instance : entry["instances"]) {
      std::string agent = instance.get<std::string>();
      if (!regex.Search(agent)) continue;
      prefilter.Candidates(agent, marks);
      EXPECT_EQ(marks.at(0), 1) << pattern << " skipped for " << agent;
      ++checked;
    }
  }
  EXPECT_GT(checked, 2000u);
}

}  // namespace
}  // namespace weavil
