#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "cli/report_options.h"
#include "reports/chart_export.h"
#include "reports/report_filter.h"
#include "reports/report_output.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "store/database.h"

namespace weavil {

void PrintReportHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] report VIEW [--format FORM] [FILTER...] [--chart ROWPATH]\n"
         "\n"
         "Prints a report view as the window shows it. VIEW is one of:\n"
         "  sessions     sessions by year, month and day\n"
         "  visitors     sessions by the visitor's domain\n"
         "  keywords     sessions by search word and phrase\n"
         "  referers     sessions by referrer group and host\n"
         "  pages        sessions by requested page\n"
         "  statistics   browsers, systems, time distribution, countries, pages, status codes\n"
         "\n"
         "--format FORM chooses the output; --json is short for --format json:\n"
         "  text   (the default) one line per row: two blanks of indent per level, the\n"
         "         row's text, a tab and its count\n"
         "  json   the rows nested as an array of objects with \"text\", \"count\" (a\n"
         "         number: sessions below a group row, the pages of a visit in the sessions\n"
         "         view, the statistics' sums with a decimal point; null where the window\n"
         "         shows none), \"state\" (0 normal, 1 grey: a robot or a one-page visit,\n"
         "         2 red: a weekend day), \"key\" (a session's NumId when positive) and\n"
         "         \"children\"; session rows also carry \"session\": {\"start\" (yyyy-mm-dd\n"
         "         hh:mm:ss), \"visitor\" (host name or address), \"address\", \"pages\",\n"
         "         \"robot\" (true or false), \"numId\"}\n"
         "  csv    a header row, then one row per tree row: the texts of its path from\n"
         "         the top level down (Level 1, Level 2, ...), Count, State, Key and for\n"
         "         session rows Start, Visitor, Address, Pages and Robot (0 or 1); texts\n"
         "         starting with = + - or @ get a leading ' so that no spreadsheet runs\n"
         "         them as formulas\n"
         "  tsv    the same separated by tabs\n"
         "\n"
         "The filter comes from the settings; these options change it for this run only:\n"
         "  --no-filter        no filter at all\n"
         "  --period NAME      sessions since the start of Year+, Month+, Week+ or Day+\n"
         "                     (the year, month, week or day before the present one)\n"
         "  --no-robots        leave out sessions of robots\n"
         "  --pages LIST       sessions that requested one of these pages\n"
         "  --countries LIST   sessions from these country codes\n"
         "  --keywords LIST    sessions found by one of these search words\n"
         "  --referers LIST    sessions referred by one of these hosts\n"
         "LIST items are separated by blanks, commas or semicolons.\n"
         "\n"
         "--chart ROWPATH prints the chart data document for the row whose texts, from the\n"
         "top level down, are joined by \"|\" (for example \"2004|March 2004\").\n"
         "\n"
         "A --db FILE that does not exist is refused: import a log into it first.\n";
}

const std::vector<ReportViewName>& ReportViewNames() {
  static const std::vector<ReportViewName> names = {
      {"sessions", false, SessionViewKind::kVisits},   {"visitors", false, SessionViewKind::kDomain},
      {"keywords", false, SessionViewKind::kKeyword},  {"referers", false, SessionViewKind::kReferer},
      {"pages", false, SessionViewKind::kPage},        {"statistics", true, SessionViewKind::kVisits},
  };
  return names;
}

bool TakeFilterOption(CliContext& context, const std::vector<std::string>& args, size_t& i, ReportFilter& filter,
                      const char* command, int& code) {
  const std::string& arg = args[i];
  code = kExitOk;
  auto value = [&](std::string& out) {
    if (i + 1 >= args.size()) {
      code = CliUsage(context, arg + " needs a value", command);
      return false;
    }
    out = args[++i];
    return true;
  };
  std::string text;
  if (arg == "--no-filter") {
    filter = ReportFilter();
  } else if (arg == "--no-robots") {
    filter.noRobots = 1;
    filter.applyFilter = 1;
  } else if (arg == "--period") {
    if (!value(text)) return true;
    if (!PeriodStart(text, std::time(nullptr))) {
      code = CliUsage(context, "unknown period " + text + " (Year+, Month+, Week+ or Day+)", command);
      return true;
    }
    filter.isPeriod = 1;
    filter.period = text;
    filter.applyFilter = 1;
  } else if (arg == "--pages" || arg == "--countries" || arg == "--keywords" || arg == "--referers") {
    if (!value(text)) return true;
    // The same cleaning as the filter dialog's: quotes never reach the statement.
    text = SanitizeListText(text);
    if (arg == "--pages") filter.isPages = 1, filter.pages = text;
    else if (arg == "--countries") filter.isCountries = 1, filter.countries = text;
    else if (arg == "--keywords") filter.isKeywords = 1, filter.keywords = text;
    else filter.isReferers = 1, filter.referers = text;
    filter.applyFilter = 1;
  } else {
    return false;
  }
  return true;
}

ReportTree BuildReport(const ReportViewName& view, DbSession& session, const ReportFilter& filter, std::time_t now) {
  return view.statistics ? BuildStatisticsReport(session, filter, now)
                         : BuildSessionReport(view.kind, session, filter, now);
}

namespace {

enum class ReportForm { kText, kJson, kCsv, kTsv };

void WriteTextRows(std::ostream& out, const ReportTree& tree) {
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row)) {
    out << std::string(static_cast<size_t>(2 * tree.Depth(row)), ' ') << TerminalSafe(tree.Text(row, 0)) << '\t'
        << TerminalSafe(tree.Text(row, 1)) << '\n';
  }
}

int PrintChart(CliContext& context, const ReportTree& tree, const std::string& chartPath, const char* viewName) {
  RowId row = tree.FindPath(chartPath);
  std::string trimmed = chartPath;
  if (!trimmed.empty() && trimmed.back() == '|') trimmed.pop_back();
  if (row == kNoRow || tree.PathOf(row) != trimmed + "|")
    return CliFail(context, "no row " + chartPath + " in the " + viewName + " report");
  SelectionChart selection = ShowSelectionChart(&tree, row, tree.Key(row));
  switch (selection.pane) {
    case RightPane::kDetails:
      return CliFail(context, "row " + chartPath + " is a session: 'weavil details " +
                                  std::to_string(selection.numId) + "' shows it");
    case RightPane::kStartPage:
      return CliFail(context, "row " + chartPath + " has no chart: only sessions are below it");
    case RightPane::kTimeSeries:
    case RightPane::kItemsChart:
      break;
  }
  *context.out << selection.document << '\n';
  return kExitOk;
}

}  // namespace

int RunReportCommand(CliContext& context, const std::vector<std::string>& args) {
  const ReportViewName* view = nullptr;
  ReportForm form = ReportForm::kText;
  bool chart = false;
  std::string chartPath;
  ReportFilter filter = CopyReportFilter();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    int code = kExitOk;
    if (TakeFilterOption(context, args, i, filter, "report", code)) {
      if (code != kExitOk) return code;
    } else if (arg == "--json") {
      form = ReportForm::kJson;
    } else if (arg == "--format") {
      if (i + 1 >= args.size()) return CliUsage(context, "--format needs text, json, csv or tsv", "report");
      const std::string& name = args[++i];
      if (name == "text") form = ReportForm::kText;
      else if (name == "json") form = ReportForm::kJson;
      else if (name == "csv") form = ReportForm::kCsv;
      else if (name == "tsv") form = ReportForm::kTsv;
      else return CliUsage(context, "unknown format " + name + " (text, json, csv or tsv)", "report");
    } else if (arg == "--chart") {
      if (i + 1 >= args.size()) return CliUsage(context, "--chart needs a value", "report");
      chartPath = args[++i];
      chart = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsage(context, "unknown option " + arg, "report");
    } else if (!view) {
      for (const ReportViewName& candidate : ReportViewNames())
        if (arg == candidate.name) view = &candidate;
      if (!view) return CliUsage(context, "unknown view " + arg, "report");
    } else {
      return CliUsage(context, "unexpected argument " + arg, "report");
    }
  }
  if (!view) return CliUsage(context, "which view? sessions, visitors, keywords, referers, pages or statistics", "report");

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  ReportTree tree = BuildReport(*view, session, filter, std::time(nullptr));
  if (chart) return PrintChart(context, tree, chartPath, view->name);

  switch (form) {
    case ReportForm::kText:
      WriteTextRows(*context.out, tree);
      break;
    case ReportForm::kJson:
      WriteReportJson(*context.out, tree, LoadSessionFields(session, tree));
      break;
    case ReportForm::kCsv:
    case ReportForm::kTsv:
      WriteReportDelimited(*context.out, tree, LoadSessionFields(session, tree), form == ReportForm::kCsv ? ',' : '\t');
      break;
  }
  return kExitOk;
}

}  // namespace weavil
