#include "classify/user_agent_classifier.h"

#include "classify/classification_store.h"
#include "classify/modern_agent_rules.h"
#include "classify/statement_steps.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

ClassRule::ClassRule(std::string_view ruleName, std::string_view rulePattern, int32_t ruleFixed)
    : name(ruleName), pattern(rulePattern), fixed(ruleFixed), regex(rulePattern) {}

namespace {

struct RuleText {
  const char* name;
  const char* pattern;
  int32_t fixed;
};

// Order matters: the first row that matches decides. User agents reach us with every
// blank written as "+", hence the "\+"; the few patterns with plain blanks only match
// a user agent that kept its blanks. An unescaped "+" is a repetition, so row 38 matches
// "searchcrawler", not "search+crawler".
constexpr RuleText kBrowserRuleTexts[] = {
    {"Robot/MSIECrawler", "MSIECrawler", 1},
    {"Robot/VoilaBot", "VoilaBot", 1},
    {"Robot/Girafabot", "Girafabot", 1},
    {"Opera/", R"(Opera(?:/|\+)([0-9.]*))", 0},
    {"Konqueror/", R"(^Mozilla/5(?:.*)Konqueror/([0-9.]*))", 0},
    {"Microsoft Internet Explorer/",
     R"(^Mozilla/(?:(?:[234])(?:[0-9.]*))\+\(compatible;\+MSIE\+((?:[23456])(?:[0-9.]*)))", 0},
    {"Netscape/", R"(^Mozilla/5(?:.*)Netscape(?:6/|/)([0-9.]*))", 0},
    {"Mozilla/", R"(^Mozilla/5(?:.*)rv:([0-9.]*)(?:.*)Gecko/(?:[0-9]{8}))", 0},
    {"Mozilla/", R"(^Mozilla/5(?:.+);\+((?:[m])[0-9.]*)(?:.*)Gecko/(?:[0-9]{8}))", 0},
    {"Mozilla/", R"(^Mozilla/5(?:.*[;].*[;].*[;].*[;])\+([0-9.]*)(?:.*)Gecko/(?:[0-9]{8}))", 0},
    {"Robot/Google", R"(^Googlebot/([0-9.]*))", 1},
    {"Robot/Google", R"(^Googlebot-Image/([0-9.]*))", 1},
    {"Robot/Ask Jeeves", "Ask Jeeves", 1},
    {"Robot/Inktomi", "Slurp|inktomi", 1},
    {"Robot/Alexa", "ia_archiver", 1},
    {"Robot/WISEnut", R"(ZyBorg/([0-9.]*))", 1},
    {"Robot/AltaVista", R"(^Scooter(/|-)([0-9.]*))", 1},
    {"Robot/FAST", R"(^FAST-WebCrawler/([0-9.]*))", 1},
    {"Robot/Mercator", R"(^Mercator-([0-9.]*))", 1},
    {"Robot/Robozilla", R"(^Robozilla/([0-9.]*))", 1},
    {"Robot/Teoma", "Teoma", 1},
    {"Robot/Aport", "Aport", 1},
    {"Robot/appie", R"(appie\+([0-9.]*))", 1},
    {"Robot/ASPseek", R"(ASPseek/([0-9.]*))", 1},
    {"Robot/BaiDuSpider", "BaiDuSpider", 1},
    {"Robot/BaiDuSpider", "Baiduspider", 1},
    {"Robot/bumblebee", "bumblebee", 1},
    {"Robot/FirstGov", "FirstGov", 1},
    {"Robot/Gaisbot", "Gaisbot", 1},
    {"Robot/gazz", "gazz", 1},
    {"Robot/Gigabot", "Gigabot", 1},
    {"Robot/almaden-ibm", "almaden", 1},
    {"Robot/Java", "Java", 1},
    {"Robot/larbin", "larbin", 1},
    {"Robot/perl", "libwww-perl", 1},
    {"Robot/Lycos", "Lycos_Spider", 1},
    {"Robot/SEARCH-UA", "META.UA", 1},  // the robot writes its domain in capitals; "." is any byte
    {"Robot/?", "search+crawler", 1},
    {"Robot/Fluffy", "Fluffy+the+spider", 1},
    {"Robot/PerMan", "PerMan+Surfer", 1},
    {"Robot/uasearch", "uasearch", 1},
    {"Robot/uasearch", "Uasearch", 1},
    {"Robot/Netcraft", "Netcraft Web Server Survey", 1},
    {"Robot/hhjhj", "hhjhj", 1},
    {"Robot/NetResearchServer", "NetResearchServer", 1},
    {"Robot/NG", R"(NG/([0-9.]*))", 1},
    {"Robot/Openbot", "Openbot", 1},
    {"Robot/polybot", "polybot", 1},
    {"Robot/Pompos", "Pompos", 1},
    {"Robot/Scrubby", "Scrubby", 1},
    {"Robot/search-ch", "search.ch", 1},  // "." is any byte, as for row 37
    {"Robot/SeekOn", "SeekOn", 1},
    {"Robot/SlySearch", "SlySearch", 1},
    {"Robot/Sqworm", "Sqworm", 1},
    {"Robot/Rambler", "StackRambler", 1},
    {"Robot/Szukacz", "Szukacz", 1},
    {"Robot/TurnitinBot", "TurnitinBot", 1},
    {"Robot/Turtle", "Turtle", 1},
    {"Robot/webcollage", "webcollage", 1},
    {"Robot/Yandex", "Yandex", 1},
    {"Robot/Zao", "Zao", 1},
    {"Robot/Zeus", "Zeus", 1},
    {"Robot/IAArchiver", "IAArchiver", 1},
    {"Robot/grub-client", "grub-client", 1},
    {"Robot/NPBot", "NPBot", 1},
    {"Robot/Denmex", "Denmex", 1},
    {"Robot/SideWinder", "SideWinder", 1},
    {"Robot/Gulli", "Gulli", 1},
    {"Robot/msnbot", "msnbot", 1},
    {"Robot/QuepasaCreep", "QuepasaCreep", 1},
    {"Robot/NutchOrg", "NutchOrg", 1},
    {"Robot/NaverRobot", "NaverRobot", 1},
    {"Robot/Python", "Python-urllib", 1},
    {"Robot/Vagabondo", "Vagabondo", 1},
    {"Robot/IPWorks", "IP*Works", 1},
    {"Robot/Cowbot", "Cowbot", 1},
    {"Robot/Xenu", "Xenu", 1},
    {"Robot/Link SQL", "gossamer-threads", 1},
    {"Robot/SearchGuild", "SearchGuild", 1},
    {"Robot/NetWORLD", "ColdFusion", 1},
    {"Robot/spam-bot", "Microsoft URL Control", 1},
    {"Robot/Generic", "Generic", 1},
    {"Netscape/", R"(^Mozilla/((?:[234])(?:[0-9.]*)))", 0},
};

// Several names end in a blank on purpose: it is part of the stored name.
constexpr RuleText kOsRuleTexts[] = {
    {"Windows 2000", R"(Windows\+NT\+5.0)", 1},
    {"Windows XP", R"(Windows\+NT\+5.1)", 1},
    {"Windows ME", R"(Win\+9x\+4.90)", 1},
    {"Windows ", R"(Windows\+([MENTXP0-9.]*))", 0},
    {"Windows 95", "Win32", 1},
    {"Windows 3.11", "Win16", 1},
    {"Windows ", R"(Win([MENTXP0-9.]*))", 0},
    {"MAC-OS", "MAC_PowerPC", 1},
    {"MAC-OS", "Macintosh", 1},
    {"Linux ", R"(Linux\+([0-9.]*))", 0},
    {"Linux ?.?", "Linux", 1},
    {"HP-UX ", "HP-UX", 1},
    {"IRIX ", "IRIX", 1},
    {"OSF1 ", "OSF1", 1},
    {"SunOS ", "SunOS", 1},
    {"FreeBSD ", "FreeBSD", 1},
    {"OS/2 ", "OS/2", 1},
};

template <size_t N>
std::vector<ClassRule> BuildRules(const RuleText (&texts)[N]) {
  std::vector<ClassRule> rules;
  rules.reserve(N);
  for (const RuleText& text : texts) rules.emplace_back(text.name, text.pattern, text.fixed);
  return rules;
}

// The first matching row gives the name; group 1 is appended unless the row is fixed.
// Returns the matching row, or nullptr.
const ClassRule* FirstMatch(const std::vector<ClassRule>& rules, std::string_view text, std::string& name) {
  RegexMatch match;
  for (const ClassRule& rule : rules) {
    if (!rule.regex.Search(text, match)) continue;
    name = rule.name;
    if (rule.fixed < 1) name.append(match.Group(1));
    return &rule;
  }
  return nullptr;
}

}  // namespace

std::string_view TextBeforeNul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

const std::vector<ClassRule>& BrowserRules() {
  static const std::vector<ClassRule> rules = BuildRules(kBrowserRuleTexts);
  return rules;
}

const std::vector<ClassRule>& OsRules() {
  static const std::vector<ClassRule> rules = BuildRules(kOsRuleTexts);
  return rules;
}

UserAgentClass ClassifyUserAgentText(std::string_view userAgent, bool modernRules) {
  userAgent = TextBeforeNul(userAgent);
  UserAgentClass result;
  const ClassRule* browserRule = FirstMatch(BrowserRules(), userAgent, result.browser);
  if (browserRule && browserRule->fixed >= 1) result.robot = 1;
  if (!browserRule && modernRules) ModernBrowserName(userAgent, result.browser, result.robot);
  if (!FirstMatch(OsRules(), userAgent, result.os) && modernRules) ModernOsName(userAgent, result.os);
  return result;
}

void StoreBrowserOs(std::string_view browser, std::string_view os, std::string_view sessionId,
                    DbSession& session) {
  // Each insert fails for a known name, which is fine: the selects find it.
  ExecuteIgnoringResult(session, "Insert Into Browser (Browser) Values (?);", browser);
  ExecuteIgnoringResult(session, "Insert Into OS (OS) Values (?);", os);
  int32_t browserId = SelectId(session, "Select BrowserId FROM Browser WHERE Browser=?;", browser);
  int32_t osId = SelectId(session, "Select OSId FROM OS WHERE OS=?;", os);
  if (browserId < 0 || osId < 0) return;
  ExecuteIgnoringResult(session, "Insert Into SessionBrowserOS (SessionId, BrowserId, OSId) Values (?, ?, ?);",
                        sessionId, browserId, osId);
}

int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, DbSession& session,
                          bool modernRules) {
  UserAgentClass userAgentClass = ClassifyUserAgentText(userAgent, modernRules);
  StoreBrowserOs(userAgentClass.browser, userAgentClass.os, sessionId, session);
  return userAgentClass.robot;
}

}  // namespace weavil
