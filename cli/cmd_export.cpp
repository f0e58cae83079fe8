// `weavil export html FILE`: every report with its charts in one self-contained page.
#include <QGuiApplication>

#include <ctime>
#include <iostream>
#include <memory>

#include "cli/chart_control.h"
#include "cli/cli.h"
#include "cli/html_export.h"
#include "cli/huge_page_heap.h"
#include "cli/report_options.h"
#include "store/database.h"

namespace weavil {

namespace {

void PrintExportUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] export html FILE [FILTER...]\n"
         "\n"
         "Writes one self-contained HTML page (no scripts, nothing fetched when it is\n"
         "viewed) with the time span and the filter in force, the six reports as\n"
         "collapsible trees (their first level open) and their charts as inline SVG,\n"
         "drawn by the Plotwell chart controls: the months of every year and the days of\n"
         "the latest months, the first level of the visitors, keywords, referers and\n"
         "pages, and every statistics section. A chart of more than 30 items keeps the\n"
         "largest. It needs no display.\n";
}

// The FILE of "html FILE"; nullptr after the usage error.
const std::string* ReadExportPath(CliContext& context, const std::vector<std::string>& words) {
  if (words.empty()) CliUsage(context, "export what? 'export html FILE'", "export");
  else if (words[0] != "html") CliUsage(context, "unknown export form " + words[0] + " (html)", "export");
  else if (words.size() < 2) CliUsage(context, "export html needs the FILE to write", "export");
  else if (words.size() > 2) CliUsage(context, "unexpected argument " + words[2], "export");
  else return &words[1];
  return nullptr;
}

}  // namespace

int RunExportCommand(CliContext& context, const CliArgs& args) {
  UseHugePageHeap();
  ReportFilter filter = CopyReportFilter();
  if (int code = ApplyFilterOptions(context, args, filter, "export"); code != kExitOk) return code;
  const std::vector<std::string> words = args.Arguments();
  const std::string* found = ReadExportPath(context, words);
  if (!found) return kExitUsage;
  const std::string& path = *found;

  DbSession session;
  if (!OpenCliDatabase(context, session)) return kExitFailure;
  std::unique_ptr<QGuiApplication> app;
  EnsureGuiApplication(app);
  HtmlExportStats stats;
  std::string error;
  if (!ExportHtmlReport(context.programDir, session, filter, std::time(nullptr), path, stats, error))
    return CliFail(context, error);
  *context.out << "Wrote " << path << " (" << stats.charts << (stats.charts == 1 ? " chart" : " charts") << ")\n";
  if (stats.chartsFailed > 0) {
    *context.err << "weavil: " << stats.chartsFailed << " charts left out: " << stats.chartError << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

const CliCommand kExportCommand = {.name = "export", .summary = "write every report with its charts into one HTML page",
                                   .helpBefore = PrintExportUsage, .moreOptions = kFilterGroups,
                                   .run = RunExportCommand, .readsOnly = true};

}  // namespace weavil
