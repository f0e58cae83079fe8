#pragma once
// A user agent and the names and robot flag its classification gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classify/user_agent_classifier.h"

namespace weavil::test {

struct AgentCase {
  std::string agent, browser, os;
  int32_t robot;
};

// Classifies each agent as the import does with modernRules set as given and compares.
inline void ExpectAgentClasses(const std::vector<AgentCase>& cases, bool modernRules) {
  for (const AgentCase& c : cases) {
    UserAgentClass result = ClassifyUserAgentText(c.agent, modernRules);
    EXPECT_EQ(result.browser, c.browser) << c.agent;
    EXPECT_EQ(result.os, c.os) << c.agent;
    EXPECT_EQ(result.robot, c.robot) << c.agent;
  }
}

}  // namespace weavil::test
