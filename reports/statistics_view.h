#pragma once
// The statistics report: sessions per browser, operating system, hour, weekday, day of
// month and country, entry, exit and all pages, and requests per status code and page.
// Each section is one GROUP BY query; result labels are cut into pieces at the
// section's separator, so page paths become a folder tree and every row shows the sum
// of the values below it.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "reports/group_levels.h"
#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "reports/report_view.h"
#include "reports/session_views.h"

namespace weavil {

class DbSession;

struct StatisticsSection {
  const char* title;
  int level;  // 1 or 2; 0 marks a group row without a query
  char separator;
  const char* head;
  const char* wherePart;
  const char* tail;
};

// The sections and group rows in display order.
const std::vector<StatisticsSection>& StatisticsSections();

inline constexpr int kStatisticsDepths = 8;  // depth 0 is the invisible root

// "%.1lf" with the decimal point written as a comma: 12.5 -> "12,5", 3 -> "3,0".
std::string FormatStatValue(double sum);

// Builds the statistics tree: the current row, label and running sum of each depth.
class StatisticsBuilder {
 public:
  explicit StatisticsBuilder(ReportTree& tree);

  // A root row (group rows "Time distribution", "Countries", "Pages"), current at depth 1.
  RowId AddGroupRow(std::string_view title);
  // A section row below the current row of depth level - 1, current at depth level.
  RowId AddSectionRow(std::string_view title, int level);

  // One result row: its label cut at the separator (runs count as one cut, none at the
  // ends; at most 8 - firstDepth pieces), each piece a row at depth firstDepth + i that
  // is reused while its label stays the same, the value added to every piece's sum.
  void AddStatisticsRow(int firstDepth, double value, std::string_view label, char separator);
  // Writes the sums of depth and every deeper one with a current row and forgets them.
  void CloseStatisticsLevels(int depth);

 private:
  // Depth d is level d - 1.
  GroupLevels<double> levels_;
};

// Runs every section on the session into a fresh tree. Failed queries are traced with
// their text and leave their section row without children.
ReportTree BuildStatisticsReport(DbSession& session, const ReportFilter& filter, std::time_t now,
                                 ReportRows rows = ReportRows::kInMemory);

// The statistics view: its refresh always runs on a worker thread of its own, one at a
// time; a request while one runs is dropped.
class StatisticsView : public ReportView {
 public:
  StatisticsView() = default;
  ~StatisticsView() override;
  const char* TabName() const override { return "Statistics"; }
  const char* Caption() const override { return "Statistics"; }

  // Empties the tree (no "Loading..." row here) and marks the view for loading.
  void ResetView() override;
  // Starts the worker unless a refresh is running; returns at once.
  void RefreshView() override;
  bool RefreshRunning() const { return running_.load(); }
  // Waits for a running refresh to end (tests, shutdown).
  void WaitForRefresh();

 private:
  void Refresh();

  std::atomic<bool> running_{false};
  std::mutex threadMutex_;
  std::thread worker_;
};

}  // namespace weavil
