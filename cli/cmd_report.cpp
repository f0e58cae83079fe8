#include <algorithm>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/huge_page_heap.h"
#include "cli/report_options.h"
#include "cli/terminal_text.h"
#include "reports/chart_export.h"
#include "reports/report_filter.h"
#include "reports/report_output.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "store/database.h"

namespace weavil {

namespace {

void PrintReportUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] report VIEW [--format FORM] [FILTER...] [--chart ROWPATH]\n"
         "\n"
         "Prints a report view as the window shows it. VIEW is one of:\n"
         "  sessions     sessions by year, month and day\n"
         "  visitors     sessions by the visitor's domain\n"
         "  keywords     sessions by search word and phrase\n"
         "  referers     sessions by referrer group and host\n"
         "  pages        sessions by requested page\n"
         "  statistics   browsers, systems, time distribution, countries, pages, status codes\n";
}

void PrintReportForms(std::ostream& out) {
  out << "The output forms:\n"
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
         "A --db FILE that does not exist is refused: import a log into it first.\n";
}

constexpr CliOption kReportOptions[] = {
    {.name = "--format", .value = "FORM", .help = "the output form: text, json, csv or tsv (see below)",
     .needs = "text, json, csv or tsv"},
    {.name = "--json", .help = "short for --format json"},
    {.name = "--chart",
     .value = "ROWPATH",
     .help = "print the chart data document for the row whose texts, from the top level down, are joined by "
             "\"|\" (for example \"2004|March 2004\")"},
};

}  // namespace

const std::vector<ReportViewName>& ReportViewNames() {
  static const std::vector<ReportViewName> names = {
      {"sessions", false, SessionViewKind::kVisits},   {"visitors", false, SessionViewKind::kDomain},
      {"keywords", false, SessionViewKind::kKeyword},  {"referers", false, SessionViewKind::kReferer},
      {"pages", false, SessionViewKind::kPage},        {"statistics", true, SessionViewKind::kVisits},
  };
  return names;
}

namespace {

// The list options of the filter and the fields each one sets.
struct ListFilter {
  const char* name;
  int32_t ReportFilter::*isSet;
  std::string ReportFilter::*list;
};
constexpr ListFilter kListFilters[] = {
    {"--pages", &ReportFilter::isPages, &ReportFilter::pages},
    {"--countries", &ReportFilter::isCountries, &ReportFilter::countries},
    {"--keywords", &ReportFilter::isKeywords, &ReportFilter::keywords},
    {"--referers", &ReportFilter::isReferers, &ReportFilter::referers},
};

}  // namespace

int ApplyFilterOptions(CliContext& context, const CliArgs& args, ReportFilter& filter, const char* command) {
  for (const CliWord& word : args.Words()) {
    if (!word.option) continue;
    const std::string_view name = word.option->name;
    if (name == "--no-filter") {
      filter = ReportFilter();
      continue;
    }
    if (name == "--no-robots") {
      filter.noRobots = 1;
    } else if (name == "--period") {
      if (!PeriodStart(word.value, std::time(nullptr)))
        return CliUsage(context, "unknown period " + word.value + " (Year+, Month+, Week+ or Day+)", command);
      filter.isPeriod = 1;
      filter.period = word.value;
    } else {
      auto list = std::find_if(std::begin(kListFilters), std::end(kListFilters),
                               [&](const ListFilter& candidate) { return name == candidate.name; });
      if (list == std::end(kListFilters)) continue;
      // The same cleaning as the filter dialog's: quotes never reach the statement.
      filter.*list->isSet = 1;
      filter.*list->list = SanitizeListText(word.value);
    }
    filter.applyFilter = 1;
  }
  return kExitOk;
}

ReportTree BuildReport(const ReportViewName& view, DbSession& session, const ReportFilter& filter, std::time_t now) {
  return view.statistics ? BuildStatisticsReport(session, filter, now)
                         : BuildSessionReport(view.kind, session, filter, now);
}

namespace {

enum class ReportForm { kText, kJson, kCsv, kTsv };

void WriteTextRows(std::ostream& out, const ReportTree& tree) {
  // Lines gather in a buffer written a block at a time: a view prints up to a few
  // hundred thousand of them.
  constexpr size_t kBlock = size_t{1} << 16;
  std::string lines;
  lines.reserve(kBlock + 4096);
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row)) {
    lines.append(static_cast<size_t>(2 * tree.Depth(row)), ' ');
    AppendTerminalSafe(lines, tree.Text(row, 0));
    lines.push_back('\t');
    AppendTerminalSafe(lines, tree.Text(row, 1));
    lines.push_back('\n');
    if (lines.size() >= kBlock) {
      out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
      lines.clear();
    }
  }
  out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
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

// The form of --format or --json, the last one given; false (with the name) when unknown.
bool ReadReportForm(const CliArgs& args, ReportForm& form, std::string& name) {
  constexpr std::pair<std::string_view, ReportForm> kForms[] = {
      {"text", ReportForm::kText}, {"json", ReportForm::kJson}, {"csv", ReportForm::kCsv}, {"tsv", ReportForm::kTsv}};
  for (const CliWord& word : args.Words()) {
    if (!word.option) continue;
    const std::string_view option = word.option->name;
    if (option == "--json") form = ReportForm::kJson;
    if (option != "--format") continue;
    auto found = std::find_if(std::begin(kForms), std::end(kForms), [&](const auto& f) { return word.value == f.first; });
    if (found == std::end(kForms)) {
      name = word.value;
      return false;
    }
    form = found->second;
  }
  return true;
}

// The view the one argument names; nullptr after the usage error.
const ReportViewName* ReadReportView(CliContext& context, const CliArgs& args) {
  std::vector<std::string> words = args.Arguments();
  if (words.empty()) {
    CliUsage(context, "which view? sessions, visitors, keywords, referers, pages or statistics", "report");
    return nullptr;
  }
  auto view = std::find_if(ReportViewNames().begin(), ReportViewNames().end(),
                           [&](const ReportViewName& candidate) { return words[0] == candidate.name; });
  if (view == ReportViewNames().end()) {
    CliUsage(context, "unknown view " + words[0], "report");
    return nullptr;
  }
  if (words.size() > 1) {
    CliUsage(context, "unexpected argument " + words[1], "report");
    return nullptr;
  }
  return &*view;
}

}  // namespace

int RunReportCommand(CliContext& context, const CliArgs& args) {
  UseHugePageHeap();
  ReportForm form = ReportForm::kText;
  std::string formName;
  if (!ReadReportForm(args, form, formName))
    return CliUsage(context, "unknown format " + formName + " (text, json, csv or tsv)", "report");
  ReportFilter filter = CopyReportFilter();
  if (int code = ApplyFilterOptions(context, args, filter, "report"); code != kExitOk) return code;
  const ReportViewName* view = ReadReportView(context, args);
  if (!view) return kExitUsage;

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  ReportTree tree = BuildReport(*view, session, filter, std::time(nullptr));
  if (const std::string* chartPath = args.Last("--chart")) return PrintChart(context, tree, *chartPath, view->name);

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

const CliCommand kReportCommand = {.name = "report",
                                   .summary = "print a report view (sessions, visitors, keywords, ...)",
                                   .helpBefore = PrintReportUsage, .options = kReportOptions,
                                   .moreOptions = kFilterGroups, .helpAfter = PrintReportForms, .run = RunReportCommand,
                                   .readsOnly = true};

}  // namespace weavil
