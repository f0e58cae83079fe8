#pragma once
// The five session report views: sessions by date, by visitor domain, by search word,
// by referrer and by page. Each runs one query whose ORDER BY already yields tree
// order and builds its tree in one pass, appending group rows and session rows.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_filter.h"
#include "reports/report_tree.h"

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

// Runs the view's query on the session and builds its tree. A failed query is traced
// with its full text and gives an empty tree. The Sessions view reloads the country
// names first.
ReportTree BuildSessionReport(SessionViewKind kind, DbSession& session, const ReportFilter& filter,
                              std::time_t now);

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

// A report view as the main window holds it: a tree handed over whole when a refresh
// ends, and a loading flag. Refreshes build on the calling thread (the statistics view
// starts its own); only the pointer to the finished tree changes hands, under a lock.
class ReportView {
 public:
  virtual ~ReportView() = default;
  virtual const char* TabName() const = 0;
  virtual const char* Caption() const = 0;

  // Empties the tree and marks the view for loading.
  virtual void ResetView() = 0;
  virtual void RefreshView() = 0;

  bool IsLoading() const { return loading_.load(); }
  // The current tree. The caller may keep it; a refresh replaces the view's pointer and
  // never touches a tree it has handed out.
  std::shared_ptr<ReportTree> Tree() const;

  // Called (on the refreshing thread) after each refresh has published its tree.
  void SetRefreshedCallback(std::function<void()> callback);

 protected:
  void Publish(std::shared_ptr<ReportTree> tree, bool loading);
  void NotifyRefreshed();

  std::atomic<bool> loading_{true};

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<ReportTree> tree_ = std::make_shared<ReportTree>();
  std::function<void()> refreshed_;
};

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

// The background reload: refreshes the views in the order given (the statistics view
// starts its own worker).
void RefreshAllWorker(const std::vector<ReportView*>& views);

}  // namespace weavil
