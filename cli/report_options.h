#pragma once
// What `report` and `export` share: the view names and the filter options.
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli_options.h"
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

inline constexpr CliOption kFilterOptions[] = {
    {.name = "--no-filter", .help = "no filter at all"},
    {.name = "--period",
     .value = "NAME",
     .help = "sessions since the start of Year+, Month+, Week+ or Day+ (the year, month, week or day before the "
             "present one)"},
    {.name = "--no-robots", .help = "leave out sessions of robots"},
    {.name = "--pages", .value = "LIST", .help = "sessions that requested one of these pages"},
    {.name = "--countries", .value = "LIST", .help = "sessions from these country codes"},
    {.name = "--keywords", .value = "LIST", .help = "sessions found by one of these search words"},
    {.name = "--referers", .value = "LIST", .help = "sessions referred by one of these hosts"},
};
inline constexpr CliOptionGroup kFilterGroups[] = {
    {"The filter comes from the settings; these options change it for this run only:", kFilterOptions,
     "LIST items are separated by blanks, commas or semicolons."}};

// Applies the filter options of args to filter, in the order given (--no-filter drops
// what came before it). kExitOk, or kExitUsage after the error when a value is wrong.
int ApplyFilterOptions(CliContext& context, const CliArgs& args, ReportFilter& filter, const char* command);

ReportTree BuildReport(const ReportViewName& view, DbSession& session, const ReportFilter& filter, std::time_t now);

}  // namespace weavil
