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

void PrintVisitorHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] visitor ADDRESS [--url U] [--country CC] [--robot 0|1]\n"
         "                                     [--comments TEXT]\n"
         "       weavil [--db FILE] visitor --countries\n"
         "\n"
         "Corrects what is stored about one client address, as the Visitor information\n"
         "dialog does: its host name (URL), country code, robot flag and comments. Values\n"
         "not given keep what is stored; a visitor without a country gets the one its\n"
         "address range belongs to. An empty --url stores the address itself as the\n"
         "visitor's domain. --country takes a two-letter code of the Countries table\n"
         "(any letter case; an empty one clears it); 'weavil visitor --countries' lists\n"
         "them. The comments are cut to 499 characters.\n";
}

int RunVisitorCommand(CliContext& context, const std::vector<std::string>& args) {
  std::string address;
  std::string url, country, robot, comments;
  bool haveUrl = false, haveCountry = false, haveRobot = false, haveComments = false, listCountries = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto take = [&](std::string& value, bool& have) {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      have = true;
      return true;
    };
    bool ok = true;
    if (arg == "--url") ok = take(url, haveUrl);
    else if (arg == "--country") ok = take(country, haveCountry);
    else if (arg == "--robot") ok = take(robot, haveRobot);
    else if (arg == "--comments") ok = take(comments, haveComments);
    else if (arg == "--countries") listCountries = true;
    else if (!arg.empty() && arg[0] == '-') return CliUsage(context, "unknown option " + arg, "visitor");
    else if (address.empty()) address = arg;
    else return CliUsage(context, "unexpected argument " + arg, "visitor");
    if (!ok) return CliUsage(context, arg + " needs a value", "visitor");
  }
  if (listCountries) {
    DbSession session;
    if (!OpenCliDatabase(context, session)) return kExitFailure;
    CountryNames countries;
    if (!countries.Load(session)) return CliFail(context, "cannot read the Countries table");
    countries.ForEach([&](const std::string& code, const std::string& name) { *context.out << code << '\t' << name << '\n'; });
    return kExitOk;
  }
  if (address.empty()) return CliUsage(context, "which visitor? give the client address", "visitor");
  if (haveRobot && robot != "0" && robot != "1") return CliUsage(context, "--robot takes 0 or 1, not " + robot, "visitor");

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  VisitorUpdate record;
  int32_t found = LoadVisitorRecord(session, address, record);
  if (Failed(found)) return CliFail(context, "cannot read the visitor " + address);
  if (found != kResultOk) return CliFail(context, "no visitor with the address " + address);
  if (record.countryCode.empty()) record.countryCode = LookupVisitorCountryCode(session, address);

  CountryNames countries;
  countries.Load(session);
  if (haveCountry && !country.empty()) {
    const std::string code = ToUpperAscii(country);
    if (code.size() != 2 || countries.NameOf(code).empty())
      return CliUsage(context, "unknown country code " + country + ": give a two-letter code of the Countries table ('weavil visitor --countries' lists them)", "visitor");
    country = code;
  }

  VisitorUpdate update = VisitorDialogResult(address, haveUrl ? url : record.url,
                                             haveRobot ? robot == "1" : record.robot,
                                             haveCountry ? country : record.countryCode,
                                             haveComments ? comments : record.comments);
  if (Failed(UpdateVisitor(session, update))) return CliFail(context, "cannot store the visitor " + address);

  *context.out << "Visitor " << address << ": URL " << (update.url.empty() ? "-" : update.url) << ", country "
               << CountryText(update.countryCode, countries) << ", robot " << (update.robot ? 1 : 0) << '\n';
  return kExitOk;
}

}  // namespace weavil
