#pragma once
// The rows of every statistics section from one read of each table, joined in memory
// to the sessions the statistics count. Each section gets the rows its own statement
// gives, in the same order:
//  - groups of texts equal without regard to case (paths, browsers, systems) are
//    ordered by their folded texts, and a group's label is spelt as the first row the
//    statement's scan meets (sessions by identifier, then requests by number, the
//    scan with the filter off; with it on, the statement decides);
//  - the time distributions divide each group's sessions by one more than the days,
//    weeks or months from its first start to its last, with the database's own date
//    functions;
//  - countries are labelled "Code - Name" and ordered by that label.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reports/report_filter.h"

namespace weavil {

class DbSession;

using StatisticsRows = std::vector<std::pair<double, std::string>>;

// A section left empty is one whose rows depend on the statement's own scan: with the
// filter on, which spelling labels a group of paths differing only in case.
struct StatisticsSectionRows {
  std::optional<StatisticsRows> browsers, systems, hours, daysOfWeek, daysOfMonth, countries;
  std::optional<StatisticsRows> entry, exit, all, statusCodes;

  // The rows of the section with this title; null for a title not computed here.
  std::optional<StatisticsRows>* Section(std::string_view title);
};

// False when a statement fails or a row is not of the shape read here (a start that
// is no stored date, a null path, status or country name): the sections then run
// their own statements.
bool ComputeStatisticsRows(DbSession& db, const ReportFilter& filter, std::time_t now, StatisticsSectionRows& out);

}  // namespace weavil
