#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "reports/chart_export.h"
#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "store/database.h"

namespace weavil {

void PrintReportHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] report VIEW [--json] [FILTER...] [--chart ROWPATH]\n"
         "\n"
         "Prints a report view as the window shows it. VIEW is one of:\n"
         "  sessions     sessions by year, month and day\n"
         "  visitors     sessions by the visitor's domain\n"
         "  keywords     sessions by search word and phrase\n"
         "  referers     sessions by referrer group and host\n"
         "  pages        sessions by requested page\n"
         "  statistics   browsers, systems, time distribution, countries, pages, status codes\n"
         "\n"
         "Each row is one line: two blanks of indent per level, the row's text, a tab and\n"
         "its count. --json prints the rows nested as objects with \"text\", \"count\",\n"
         "\"state\" (0 normal, 1 grey, 2 red), \"key\" (a session's number when positive)\n"
         "and \"children\".\n"
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
         "top level down, are joined by \"|\" (for example \"2004|March 2004\").\n";
}

namespace {

struct ViewName {
  const char* name;
  bool statistics;
  SessionViewKind kind;
};

const ViewName kViewNames[] = {
    {"sessions", false, SessionViewKind::kVisits},   {"visitors", false, SessionViewKind::kDomain},
    {"keywords", false, SessionViewKind::kKeyword},  {"referers", false, SessionViewKind::kReferer},
    {"pages", false, SessionViewKind::kPage},        {"statistics", true, SessionViewKind::kVisits},
};

// JSON string: valid UTF-8 passes, any other byte is read as Latin-1.
void WriteJsonString(std::ostream& out, std::string_view text) {
  out << '"';
  static const char* const kHex = "0123456789abcdef";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out << '\\' << static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      switch (c) {
        case '\n': out << "\\n"; break;
        case '\r': out << "\\r"; break;
        case '\t': out << "\\t"; break;
        default: out << "\\u00" << kHex[c >> 4] << kHex[c & 15];
      }
      ++i;
    } else if (c < 0x80) {
      out << static_cast<char>(c);
      ++i;
    } else {
      size_t length = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      bool valid = length > 0 && i + length <= text.size();
      for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
      if (valid) {
        out << text.substr(i, length);
        i += length;
      } else {
        out << "\\u00" << kHex[c >> 4] << kHex[c & 15];
        ++i;
      }
    }
  }
  out << '"';
}

void WriteJsonRows(std::ostream& out, const ReportTree& tree, RowId parent, int indent) {
  out << '[';
  bool first = true;
  for (RowId row = tree.FirstChild(parent); row != kNoRow; row = tree.NextSibling(row)) {
    out << (first ? "\n" : ",\n") << std::string(static_cast<size_t>(indent + 2), ' ') << "{\"text\": ";
    WriteJsonString(out, tree.Text(row, 0));
    out << ", \"count\": ";
    WriteJsonString(out, tree.Text(row, 1));
    out << ", \"state\": " << tree.State(row) << ", \"key\": " << tree.Key(row) << ", \"children\": ";
    WriteJsonRows(out, tree, row, indent + 2);
    out << '}';
    first = false;
  }
  if (!first) out << '\n' << std::string(static_cast<size_t>(indent), ' ');
  out << ']';
}

void WriteTextRows(std::ostream& out, const ReportTree& tree) {
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row)) {
    out << std::string(static_cast<size_t>(2 * tree.Depth(row)), ' ') << TerminalSafe(tree.Text(row, 0)) << '\t'
        << TerminalSafe(tree.Text(row, 1)) << '\n';
  }
}

bool TakeValue(CliContext& context, const std::vector<std::string>& args, size_t& i, std::string& value) {
  if (i + 1 >= args.size()) {
    CliUsage(context, args[i] + " needs a value", "report");
    return false;
  }
  value = args[++i];
  return true;
}

}  // namespace

int RunReportCommand(CliContext& context, const std::vector<std::string>& args) {
  const ViewName* view = nullptr;
  bool json = false, chart = false;
  std::string chartPath;
  ReportFilter filter = CopyReportFilter();
  bool overridden = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == "--json") {
      json = true;
    } else if (arg == "--chart") {
      if (!TakeValue(context, args, i, chartPath)) return kExitUsage;
      chart = true;
    } else if (arg == "--no-filter") {
      filter = ReportFilter();
    } else if (arg == "--no-robots") {
      filter.noRobots = 1;
      overridden = true;
    } else if (arg == "--period") {
      if (!TakeValue(context, args, i, value)) return kExitUsage;
      if (!PeriodStart(value, std::time(nullptr)))
        return CliUsage(context, "unknown period " + value + " (Year+, Month+, Week+ or Day+)", "report");
      filter.isPeriod = 1;
      filter.period = value;
      overridden = true;
    } else if (arg == "--pages" || arg == "--countries" || arg == "--keywords" || arg == "--referers") {
      if (!TakeValue(context, args, i, value)) return kExitUsage;
      // The same cleaning as the filter dialog's: quotes never reach the statement.
      value = SanitizeListText(value);
      if (arg == "--pages") filter.isPages = 1, filter.pages = value;
      else if (arg == "--countries") filter.isCountries = 1, filter.countries = value;
      else if (arg == "--keywords") filter.isKeywords = 1, filter.keywords = value;
      else filter.isReferers = 1, filter.referers = value;
      overridden = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsage(context, "unknown option " + arg, "report");
    } else if (!view) {
      for (const ViewName& candidate : kViewNames)
        if (arg == candidate.name) view = &candidate;
      if (!view) return CliUsage(context, "unknown view " + arg, "report");
    } else {
      return CliUsage(context, "unexpected argument " + arg, "report");
    }
  }
  if (!view) return CliUsage(context, "which view? sessions, visitors, keywords, referers, pages or statistics", "report");
  if (overridden) filter.applyFilter = 1;

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  std::time_t now = std::time(nullptr);
  ReportTree tree = view->statistics ? BuildStatisticsReport(session, filter, now)
                                     : BuildSessionReport(view->kind, session, filter, now);

  if (chart) {
    RowId row = tree.FindPath(chartPath);
    std::string trimmed = chartPath;
    if (!trimmed.empty() && trimmed.back() == '|') trimmed.pop_back();
    if (row == kNoRow || tree.PathOf(row) != trimmed + "|")
      return CliFail(context, "no row " + chartPath + " in the " + view->name + " report");
    SelectionChart selection = ShowSelectionChart(&tree, row, tree.Key(row));
    switch (selection.pane) {
      case RightPane::kDetails:
        return CliFail(context, "row " + chartPath + " is a session: 'weavil details " +
                                    std::to_string(selection.numId) + "' shows it");
      case RightPane::kStartPage:
        return CliFail(context, "row " + chartPath + " has no chart: only sessions are below it");
      case RightPane::kTimeSeries:
      case RightPane::kItemsChart:
        *context.out << selection.document << '\n';
        return kExitOk;
    }
  }

  if (json) {
    WriteJsonRows(*context.out, tree, kRootRow, 0);
    *context.out << '\n';
  } else {
    WriteTextRows(*context.out, tree);
  }
  return kExitOk;
}

}  // namespace weavil
