// Build-time converter: reads uap-core's regexes.yaml and crawler-user-agents.json and
// writes the C++ tables declared in agent_rules_data.h. Every pattern is compiled here
// with the program's own regex engine; one that does not compile is left out with a
// warning naming the file and the entry, so a refreshed data file never breaks the
// program at run time.
//   agent_rules_converter REGEXES_YAML CRAWLERS_JSON OUTPUT_CPP
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "regex/regex.h"

namespace {

struct Parser {
  std::string pattern;
  const char* name;
  const char* major;
  const char* minor;
};

// Robots the list tags otherwise whose makers use them to feed an AI assistant.
const char* const kAlsoAiPatterns[] = {"Amazonbot"};

// A C++ string literal; octal escapes, so no following character can extend one.
std::string Literal(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string OptionalLiteral(const YAML::Node& entry, const char* key) {
  const YAML::Node value = entry[key];
  return value && !value.IsNull() ? Literal(value.as<std::string>()) : "nullptr";
}

bool Compiles(const std::string& pattern, const std::string& where) {
  try {
    weavil::Regex regex(pattern);
    return true;
  } catch (const std::exception& error) {
    std::cerr << "warning: " << where << ": left out: " << error.what() << '\n';
    return false;
  }
}

// One table of parsers. spidersOnly keeps the device rules that name a spider ahead of
// every other device rule: uap-core's first match wins, so those decide wherever they
// match, while a spider rule behind the brand rules only speaks for agents that no brand
// rule knows.
size_t WriteParsers(std::ostream& out, const YAML::Node& list, const std::string& where, const char* table,
                    const char* keys[3], bool spidersOnly) {
  if (!list || !list.IsSequence()) throw std::runtime_error(where + ": no sequence");
  out << "const AgentParserText " << table << "[] = {\n";
  size_t count = 0, index = 0;
  for (const YAML::Node& entry : list) {
    ++index;
    std::string at = where + " entry " + std::to_string(index);
    if (!entry["regex"]) throw std::runtime_error(at + ": no regex");
    if (spidersOnly && (!entry["device_replacement"] || entry["device_replacement"].as<std::string>() != "Spider"))
      break;
    std::string pattern = entry["regex"].as<std::string>();
    bool caseless = entry["regex_flag"] && entry["regex_flag"].as<std::string>() == "i";
    if (!Compiles(caseless ? "(?i)" + pattern : pattern, at)) continue;
    out << "    {" << Literal(pattern);
    for (int part = 0; part < 3; ++part) out << ", " << (spidersOnly ? "nullptr" : OptionalLiteral(entry, keys[part]));
    out << ", " << (caseless ? "true" : "false") << "},\n";
    ++count;
  }
  out << "    {nullptr, nullptr, nullptr, nullptr, false},  // never empty\n};\n\n";
  return count;
}

size_t WriteRobots(std::ostream& out, const nlohmann::json& list, const std::string& where) {
  if (!list.is_array()) throw std::runtime_error(where + ": not an array");
  struct Robot {
    std::string pattern;
    bool ai;
  };
  std::vector<Robot> robots;
  size_t index = 0;
  for (const nlohmann::json& entry : list) {
    ++index;
    std::string at = where + " entry " + std::to_string(index);
    if (!entry.contains("pattern") || !entry["pattern"].is_string()) throw std::runtime_error(at + ": no pattern");
    std::string pattern = entry["pattern"].get<std::string>();
    if (!Compiles(pattern, at)) continue;
    bool ai = std::find(std::begin(kAlsoAiPatterns), std::end(kAlsoAiPatterns), pattern) != std::end(kAlsoAiPatterns);
    if (entry.contains("tags") && entry["tags"].is_array())
      for (const nlohmann::json& tag : entry["tags"]) ai = ai || tag == "ai-crawler";
    robots.push_back({pattern, ai});
  }
  // The AI group is tried first, so a fetcher that also names its maker's search robot
  // lands there.
  std::stable_partition(robots.begin(), robots.end(), [](const Robot& robot) { return robot.ai; });
  out << "const RobotPatternText kRobots[] = {\n";
  for (const Robot& robot : robots) out << "    {" << Literal(robot.pattern) << ", " << (robot.ai ? "true" : "false") << "},\n";
  out << "    {nullptr, false},  // never empty\n};\n\n";
  return robots.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: agent_rules_converter REGEXES_YAML CRAWLERS_JSON OUTPUT_CPP\n";
    return 2;
  }
  std::ostringstream out;
  try {
    YAML::Node uap = YAML::LoadFile(argv[1]);
    std::ifstream crawlerFile(argv[2]);
    if (!crawlerFile) throw std::runtime_error(std::string(argv[2]) + ": cannot be read");
    nlohmann::json crawlers = nlohmann::json::parse(crawlerFile);

    out << "// Generated by agent_rules_converter from classify/data; do not edit.\n"
        << "#include \"classify/agent_rules_data.h\"\n\nnamespace weavil {\nnamespace {\n\n";
    std::string yamlName = argv[1];
    const char* browserKeys[3] = {"family_replacement", "v1_replacement", "v2_replacement"};
    const char* systemKeys[3] = {"os_replacement", "os_v1_replacement", "os_v2_replacement"};
    size_t browsers = WriteParsers(out, uap["user_agent_parsers"], yamlName + " user_agent_parsers", "kBrowsers",
                                   browserKeys, false);
    size_t systems = WriteParsers(out, uap["os_parsers"], yamlName + " os_parsers", "kSystems", systemKeys, false);
    size_t spiders =
        WriteParsers(out, uap["device_parsers"], yamlName + " device_parsers", "kSpiders", browserKeys, true);
    size_t robots = WriteRobots(out, crawlers, argv[2]);
    out << "}  // namespace\n\nconst AgentRuleTexts& GeneratedAgentRuleTexts() {\n"
        << "  static const AgentRuleTexts texts{kBrowsers, " << browsers << ", kSystems, " << systems
        << ", kSpiders, " << spiders << ", kRobots, " << robots << "};\n  return texts;\n}\n\n}  // namespace weavil\n";
  } catch (const std::exception& error) {
    std::cerr << "agent_rules_converter: " << error.what() << '\n';
    return 1;
  }
  std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
  file << out.str();
  if (!file.flush()) {
    std::cerr << "agent_rules_converter: " << argv[3] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
