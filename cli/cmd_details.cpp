#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "classify/url_unescape.h"
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "reports/country_names.h"
#include "reports/embedded_pages.h"
#include "reports/html_page.h"
#include "reports/visit_details.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

namespace {

void PrintDetailsUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] details NUMID [--html]\n"
         "\n"
         "Shows everything known about one visit: when it started and how long it\n"
         "lasted, the visitor's address, country, host name and comments, browser and\n"
         "system, the referrer with its search phrase, and the requested pages with the\n"
         "seconds spent on each. NUMID is the session's number (the key 'weavil report'\n"
         "prints).\n";
}

constexpr CliOption kDetailsOptions[] = {
    {.name = "--html", .help = "print the filled details page instead of text"},
};

bool ParseNumId(const std::string& text, int32_t& numId) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value <= 0 || value > 2147483647LL) return false;
  numId = static_cast<int32_t>(value);
  return true;
}

void Line(std::ostream& out, const char* label, const std::string& value) {
  std::string name = label;
  name.resize(12, ' ');
  out << name << TerminalSafe(value) << '\n';
}

}  // namespace

int RunDetailsCommand(CliContext& context, const CliArgs& args) {
  const bool html = args.Has("--html");
  const std::vector<std::string> words = args.Arguments();
  if (words.empty()) return CliUsage(context, "which session? give its number", "details");
  if (words.size() > 1) return CliUsage(context, "unexpected argument " + words[1], "details");
  const std::string& numText = words[0];
  int32_t numId = 0;
  if (!ParseNumId(numText, numId))
    return CliUsage(context, "a session number is a positive whole number, not " + numText, "details");

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  VisitDetails details;
  if (LoadVisitDetails(session, numId, details) != kResultOk)
    return CliFail(context, "no session with the number " + numText);
  if (details.refererQueryFailed) *context.err << "weavil: the referrer of session " << numText << " cannot be read\n";
  CountryNames countries;
  countries.Load(session);

  if (html) {
    HtmlPage page{std::string(DetailsPageHtml())};
    FillDetailsPage(page, details, countries);
    *context.out << page.Html();
    return kExitOk;
  }
  std::ostream& out = *context.out;
  Line(out, "Enter", details.enteredAt);
  Line(out, "Spent", details.spent);
  Line(out, "IP", details.address + "  " + CountryText(details.countryCode, countries));
  Line(out, "URL", details.url);
  Line(out, "Robot", details.robot ? "yes" : "no");
  Line(out, "Comments", details.description);
  Line(out, "Browser", details.browserName);
  Line(out, "OS", details.osName);
  std::string agent = details.userAgent;  // as the page shows it: "+" stands for a blank
  for (char& c : agent)
    if (c == '+') c = ' ';
  Line(out, "User agent", agent);
  bool referred = !details.referer.empty() && details.referer != "-";
  Line(out, "Referer", referred ? UrlUnescape(details.refererInfo) : "-");
  if (referred) Line(out, "", details.referer);
  out << "Pages\n";
  std::vector<std::string> times = PageTimes(details.requests);
  for (size_t i = 0; i < details.requests.size(); ++i)
    out << "  " << details.requests[i].status << '\t' << times[i] << '\t'
        << TerminalSafe(details.requests[i].stem) << '\n';
  return kExitOk;
}

const CliCommand kDetailsCommand = {.name = "details", .summary = "show everything known about one visit",
                                    .helpBefore = PrintDetailsUsage, .options = kDetailsOptions,
                                    .run = RunDetailsCommand, .readsOnly = true};

}  // namespace weavil
