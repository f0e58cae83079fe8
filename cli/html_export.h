#pragma once
// The HTML report as `weavil export html` and the window's "Export HTML..." write it:
// the six reports under one filter, their charts drawn as SVG by the chart controls.
#include <ctime>
#include <string>

#include "reports/report_filter.h"

namespace weavil {

class DbSession;

struct HtmlExportStats {
  int charts = 0;        // charts drawn
  int chartsFailed = 0;  // charts the controls could not draw (left out of the page)
  std::string chartError;  // why the first one failed
};

// Writes the page to path (through a temporary file beside it, so a failed export
// leaves no half page). Needs a QGuiApplication for the chart texts. False with the
// reason in error when the page cannot be written; charts that cannot be drawn are
// counted and left out.
bool ExportHtmlReport(const std::string& programDir, DbSession& session, const ReportFilter& filter,
                      std::time_t now, const std::string& path, HtmlExportStats& stats, std::string& error);

}  // namespace weavil
