// `weavil export html FILE`: every report with its charts in one self-contained page.
#include <QGuiApplication>

#include <ctime>
#include <iostream>
#include <memory>

#include "cli/chart_control.h"
#include "cli/cli.h"
#include "cli/html_export.h"
#include "cli/report_options.h"
#include "store/database.h"

namespace weavil {

void PrintExportHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] export html FILE [FILTER...]\n"
         "\n"
         "Writes one self-contained HTML page (no scripts, nothing fetched when it is\n"
         "viewed) with the time span and the filter in force, the six reports as\n"
         "collapsible trees (their first level open) and their charts as inline SVG,\n"
         "drawn by the Plotwell chart controls: the months of every year and the days of\n"
         "the latest months, the first level of the visitors, keywords, referers and\n"
         "pages, and every statistics section. A chart of more than 30 items keeps the\n"
         "largest. It needs no display.\n"
         "\n"
         "FILTER: the options of 'weavil report' (--no-filter, --period NAME, --no-robots,\n"
         "--pages LIST, --countries LIST, --keywords LIST, --referers LIST); without them\n"
         "the filter of the settings applies.\n";
}

int RunExportCommand(CliContext& context, const std::vector<std::string>& args) {
  std::string form, path;
  ReportFilter filter = CopyReportFilter();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    int code = kExitOk;
    if (TakeFilterOption(context, args, i, filter, "export", code)) {
      if (code != kExitOk) return code;
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsage(context, "unknown option " + arg, "export");
    } else if (form.empty()) {
      form = arg;
      if (form != "html") return CliUsage(context, "unknown export form " + form + " (html)", "export");
    } else if (path.empty()) {
      path = arg;
    } else {
      return CliUsage(context, "unexpected argument " + arg, "export");
    }
  }
  if (form.empty()) return CliUsage(context, "export what? 'export html FILE'", "export");
  if (path.empty()) return CliUsage(context, "export html needs the FILE to write", "export");

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

}  // namespace weavil
