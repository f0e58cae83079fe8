#pragma once
// The six report tabs. Each tab is a tree list view over one report view of the report
// engine; refreshes build their trees off the user-interface thread and the finished
// tree is swapped in here.
#include <QTabWidget>
#include <QThreadPool>

#include <array>
#include <memory>
#include <mutex>

#include "reports/report_tree.h"
#include "shell/report_tree_model.h"

namespace weavil {

class ReportView;
class StatisticsView;
class TreeListView;

// Tab order.
enum ReportTabIndex : int {
  kSessionsTab = 0,
  kVisitorsTab,
  kKeywordsTab,
  kReferersTab,
  kPagesTab,
  kStatisticsTab,
  kReportTabCount
};

class ReportTabs : public QTabWidget {
  Q_OBJECT

 public:
  explicit ReportTabs(QWidget* parent = nullptr);
  ~ReportTabs() override;

  ReportView& View(int tab) const;
  TreeListView* ListView(int tab) const;
  TreeListView* CurrentListView() const { return ListView(currentIndex()); }

  // Every view shows "Loading..." and is marked for loading.
  void ResetAll();
  // Starts a refresh of one view on a worker; its tree is swapped in when it is done.
  void Refresh(int tab);
  // All six views one after another on one background thread, in tab order.
  void RefreshAllInBackground();
  // The view still shows a reset (or stale) tree and wants a refresh.
  bool NeedsLoad(int tab) const { return state_[static_cast<size_t>(tab)].needsLoad; }
  bool Refreshing(int tab) const { return state_[static_cast<size_t>(tab)].refreshing; }
  bool AnyRefreshing() const;

 signals:
  // A refresh ended and its tree is shown.
  void ViewRefreshed(int tab);
  // A tree list view asks for the details command.
  void DetailsRequested();
  // The selection or order of a view changed.
  void SelectionNotice(int tab);

 private:
  struct ViewState {
    bool needsLoad = true;
    bool refreshing = false;
    bool again = false;       // a refresh was asked for while one ran
    int generation = 0;       // bumped by every reset
    int startedGeneration = 0;
  };

  // What the refreshing thread makes of a view's new tree for its list: the tree sorted
  // by the order the list shows, and its index, so that showing it here walks no rows.
  struct Prepared {
    SortOrder order;                 // the list's order, kept current from here
    std::weak_ptr<ReportTree> tree;  // the tree the rest was made for
    SortOrder sortedBy;
    ReportTreeIndex index;
  };

  void BeginRefresh(int tab);
  void NoteOrder(int tab);
  void Prepare(int tab, const std::shared_ptr<ReportTree>& tree);
  void OnRefreshed(int tab);

  std::array<std::unique_ptr<ReportView>, kReportTabCount> views_;
  std::array<TreeListView*, kReportTabCount> lists_{};
  std::array<ViewState, kReportTabCount> state_{};
  std::mutex preparedMutex_;
  std::array<Prepared, kReportTabCount> prepared_{};
  QThreadPool pool_;
};

}  // namespace weavil
