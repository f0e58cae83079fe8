#pragma once
// The five session report views: sessions by date, by visitor domain, by search word,
// by referrer and by page. Each runs one query whose ORDER BY already yields tree
// order and builds its tree in one pass, appending group rows and session rows. Each
// view has a file of its own (sessions_view.cpp, visitors_view.cpp, keywords_view.cpp,
// referers_view.cpp, pages_view.cpp) with its statement text; session_views.cpp runs
// them.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "reports/report_view.h"

namespace weavil {

class DbSession;

enum class SessionViewKind { kVisits, kDomain, kKeyword, kReferer, kPage };

struct SessionViewInfo {
  const char* tab;      // "Sessions", ...
  const char* caption;  // column 0 caption
  int levels;           // grouping levels
  const char* baseQuery;
  const char* orderBy;
};

const SessionViewInfo& ViewInfo(SessionViewKind kind);

// Column 1 of every report view.
inline constexpr const char* kCountCaption = "Count";
inline constexpr int kCaptionColumnWidth = 320;
inline constexpr int kCountColumnWidth = 85;
inline constexpr const char* kLoadingText = "Loading...";

// "January" ... "December" at 1 to 12 (index 0 is empty).
extern const char* const kMonthNames[13];

// Base query + ORDER BY, with the filter's conditions between them when it is on.
std::string BuildViewQuery(SessionViewKind kind, const ReportFilter& filter, std::time_t now);

// How a view's rows are read: kInMemory reads the sessions and their rows into memory
// and orders them there whenever it can, kStatement always runs the view's own
// statement. Both give the same tree.
enum class ReportRows { kInMemory, kStatement };

// Builds the view's tree from its query's rows. A failed query is traced with its full
// text and gives an empty tree. The Sessions view reloads the country names first.
ReportTree BuildSessionReport(SessionViewKind kind, DbSession& session, const ReportFilter& filter,
                              std::time_t now, ReportRows rows = ReportRows::kInMemory);

// The labels DomainView groups a reversed host name by: up to 6 pieces, each label the
// first k pieces read as a host-name suffix (or in stored order for "ip." addresses);
// labels below the top level are cut to 49 characters. An unresolved IPv6 address
// ("ip." and the address, stored in full form so that prefixes sort together) gives 6
// levels: "ip", its /16, /32, /48 and /64 prefixes ("ip.2001:db8::/32") and the address
// in canonical form ("ip.2001:db8::1").
std::vector<std::string> DomainLabels(std::string_view reversedUrl);

// Local calendar time of a date and hour (for keys and item parameters of the Sessions view).
std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute);
// True for a local Saturday or Sunday: red day rows, and ALT in the day charts.
bool IsWeekendDay(std::time_t localTime);

class SessionReportView : public ReportView {
 public:
  explicit SessionReportView(SessionViewKind kind) : kind_(kind) {}
  SessionViewKind Kind() const { return kind_; }
  const char* TabName() const override { return ViewInfo(kind_).tab; }
  const char* Caption() const override { return ViewInfo(kind_).caption; }

  // One root row "Loading..." (image 4).
  void ResetView() override;
  // Opens a session on the data source "Log" and rebuilds the tree with a copy of the
  // filter; an unreachable database leaves it empty.
  void RefreshView() override;

 private:
  SessionViewKind kind_;
};

}  // namespace weavil
