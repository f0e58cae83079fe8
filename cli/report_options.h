#pragma once
// What `report` and `export` share: the view names and the filter options.
#include <ctime>
#include <string>
#include <vector>

#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"

namespace weavil {

struct CliContext;
class DbSession;

struct ReportViewName {
  const char* name;  // "sessions", ..., "statistics"
  bool statistics;
  SessionViewKind kind;  // for the five session views
};

// The six views in tab order.
const std::vector<ReportViewName>& ReportViewNames();

// True when args[i] is a filter option (--no-filter, --period, --no-robots, --pages,
// --countries, --keywords, --referers); i then stands on its last word and filter holds
// the change. code is kExitUsage (already printed) when its value is wrong.
bool TakeFilterOption(CliContext& context, const std::vector<std::string>& args, size_t& i, ReportFilter& filter,
                      const char* command, int& code);

ReportTree BuildReport(const ReportViewName& view, DbSession& session, const ReportFilter& filter, std::time_t now);

}  // namespace weavil
