#include <iostream>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/cli.h"
#include "reports/country_names.h"
#include "reports/visit_details.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

namespace {

void PrintVisitorUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] visitor ADDRESS [--url U] [--country CC] [--robot 0|1]\n"
         "                                     [--comments TEXT]\n"
         "       weavil [--db FILE] visitor --countries\n"
         "\n"
         "Corrects what is stored about one client address, as the Visitor information\n"
         "dialog does: its host name (URL), country code, robot flag and comments. Values\n"
         "not given keep what is stored; a visitor without a country gets the one its\n"
         "address range belongs to.\n";
}

constexpr CliOption kVisitorOptions[] = {
    {.name = "--url", .value = "U", .help = "the host name; an empty one stores the address itself as the "
                                            "visitor's domain"},
    {.name = "--country",
     .value = "CC",
     .help = "a two-letter code of the Countries table (any letter case; an empty one clears it)"},
    {.name = "--robot", .value = "0|1", .help = "the robot flag"},
    {.name = "--comments", .value = "TEXT", .help = "the comments, cut to 499 characters"},
    {.name = "--countries", .help = "list the codes of the Countries table"},
};

int ListCountries(CliContext& context) {
  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  CountryNames countries;
  if (!countries.Load(session)) return CliFail(context, "cannot read the Countries table");
  countries.ForEach([&](const std::string& code, const std::string& name) { *context.out << code << '\t' << name << '\n'; });
  return kExitOk;
}

}  // namespace

int RunVisitorCommand(CliContext& context, const CliArgs& args) {
  const std::vector<std::string> words = args.Arguments();
  if (words.size() > 1) return CliUsage(context, "unexpected argument " + words[1], "visitor");
  if (args.Has("--countries")) return ListCountries(context);
  if (words.empty()) return CliUsage(context, "which visitor? give the client address", "visitor");
  const std::string& address = words[0];
  const std::string* url = args.Last("--url");
  const std::string* robot = args.Last("--robot");
  const std::string* comments = args.Last("--comments");
  const std::string* countryGiven = args.Last("--country");
  std::string country = countryGiven ? *countryGiven : std::string();
  if (robot && *robot != "0" && *robot != "1") return CliUsage(context, "--robot takes 0 or 1, not " + *robot, "visitor");

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  VisitorUpdate record;
  int32_t found = LoadVisitorRecord(session, address, record);
  if (Failed(found)) return CliFail(context, "cannot read the visitor " + address);
  if (found != kResultOk) return CliFail(context, "no visitor with the address " + address);
  if (record.countryCode.empty()) record.countryCode = LookupVisitorCountryCode(session, address);

  CountryNames countries;
  countries.Load(session);
  if (!country.empty()) {
    const std::string code = ToUpperAscii(country);
    if (code.size() != 2 || countries.NameOf(code).empty())
      return CliUsage(context, "unknown country code " + country + ": give a two-letter code of the Countries table ('weavil visitor --countries' lists them)", "visitor");
    country = code;
  }

  VisitorUpdate update = VisitorDialogResult(address, url ? *url : record.url, robot ? *robot == "1" : record.robot,
                                             countryGiven ? country : record.countryCode,
                                             comments ? *comments : record.comments);
  if (Failed(UpdateVisitor(session, update))) return CliFail(context, "cannot store the visitor " + address);

  *context.out << "Visitor " << address << ": URL " << (update.url.empty() ? "-" : update.url) << ", country "
               << CountryText(update.countryCode, countries) << ", robot " << (update.robot ? 1 : 0) << '\n';
  return kExitOk;
}

const CliCommand kVisitorCommand = {.name = "visitor",
                                    .summary = "correct a visitor's host name, country, robot flag, comments",
                                    .helpBefore = PrintVisitorUsage, .options = kVisitorOptions,
                                    .run = RunVisitorCommand};

}  // namespace weavil
