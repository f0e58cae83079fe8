#include "shell/report_tabs.h"

#include <QMetaObject>

#include "cli/huge_page_heap.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "shell/tree_list_view.h"

namespace weavil {

ReportTabs::ReportTabs(QWidget* parent) : QTabWidget(parent) {
  views_[kSessionsTab] = std::make_unique<SessionReportView>(SessionViewKind::kVisits);
  views_[kVisitorsTab] = std::make_unique<SessionReportView>(SessionViewKind::kDomain);
  views_[kKeywordsTab] = std::make_unique<SessionReportView>(SessionViewKind::kKeyword);
  views_[kReferersTab] = std::make_unique<SessionReportView>(SessionViewKind::kReferer);
  views_[kPagesTab] = std::make_unique<SessionReportView>(SessionViewKind::kPage);
  views_[kStatisticsTab] = std::make_unique<StatisticsView>();
  // Two workers: a background reload of all views beside the refresh of the current one.
  pool_.setMaxThreadCount(2);

  for (int tab = 0; tab < kReportTabCount; ++tab) {
    ReportView& view = *views_[static_cast<size_t>(tab)];
    auto* list = new TreeListView(this);
    list->SetColumns(QString::fromUtf8(view.Caption()), kCaptionColumnWidth, QString::fromUtf8(kCountCaption),
                     kCountColumnWidth);
    list->SetColumnAlignment(1, Qt::AlignRight);
    // The Sessions tree stays in time order; the others sort by a header click.
    list->SetSortable(tab != kSessionsTab);
    list->SetLoading(true);
    lists_[static_cast<size_t>(tab)] = list;
    addTab(list, QString::fromUtf8(view.TabName()));

    view.SetRefreshedCallback([this, tab] {
      // Called on the refreshing thread: only a queued call reaches the widgets.
      QMetaObject::invokeMethod(this, [this, tab] { OnRefreshed(tab); }, Qt::QueuedConnection);
    });
    connect(list, &TreeListView::DetailsRequested, this, &ReportTabs::DetailsRequested);
    connect(list, &TreeListView::SelectionNotice, this, [this, tab] { emit SelectionNotice(tab); });
  }
}

ReportTabs::~ReportTabs() {
  for (auto& view : views_) view->SetRefreshedCallback({});
  pool_.waitForDone();
  static_cast<StatisticsView&>(*views_[kStatisticsTab]).WaitForRefresh();
}

ReportView& ReportTabs::View(int tab) const { return *views_.at(static_cast<size_t>(tab)); }

TreeListView* ReportTabs::ListView(int tab) const {
  if (tab < 0 || tab >= kReportTabCount) return nullptr;
  return lists_[static_cast<size_t>(tab)];
}

void ReportTabs::ResetAll() {
  for (int tab = 0; tab < kReportTabCount; ++tab) {
    ViewState& state = state_[static_cast<size_t>(tab)];
    ReportView& view = *views_[static_cast<size_t>(tab)];
    view.ResetView();
    ++state.generation;  // a refresh still running now delivers a stale tree
    state.needsLoad = true;
    state.again = false;
    TreeListView* list = lists_[static_cast<size_t>(tab)];
    list->SetTree(view.Tree());
    list->SetLoading(true);
  }
}

void ReportTabs::Refresh(int tab) {
  if (tab < 0 || tab >= kReportTabCount) return;
  ViewState& state = state_[static_cast<size_t>(tab)];
  if (state.refreshing) {
    state.again = true;
    return;
  }
  BeginRefresh(tab);
  ReportView* view = views_[static_cast<size_t>(tab)].get();
  pool_.start([view] {
    view->RefreshView();
    ReturnFreeHeap();
  });
}

void ReportTabs::BeginRefresh(int tab) {
  ViewState& state = state_[static_cast<size_t>(tab)];
  state.refreshing = true;
  state.startedGeneration = state.generation;
  TreeListView* list = lists_[static_cast<size_t>(tab)];
  list->SetLoading(true);
  list->ShowLoadingPane(true);
}

void ReportTabs::RefreshAllInBackground() {
  std::vector<ReportView*> views;
  for (int tab = 0; tab < kReportTabCount; ++tab) {
    ViewState& state = state_[static_cast<size_t>(tab)];
    if (state.refreshing) {
      state.again = true;
      continue;
    }
    BeginRefresh(tab);
    views.push_back(views_[static_cast<size_t>(tab)].get());
  }
  if (!views.empty()) pool_.start([views] {
    RefreshAllWorker(views);
    ReturnFreeHeap();
  });
}

bool ReportTabs::AnyRefreshing() const {
  for (const ViewState& state : state_)
    if (state.refreshing) return true;
  return false;
}

void ReportTabs::OnRefreshed(int tab) {
  ViewState& state = state_[static_cast<size_t>(tab)];
  if (!state.refreshing) return;
  state.refreshing = false;
  TreeListView* list = lists_[static_cast<size_t>(tab)];
  const bool stale = state.startedGeneration != state.generation;
  list->ShowLoadingPane(false);
  if (!stale) {
    list->SetTree(views_[static_cast<size_t>(tab)]->Tree());
    list->SetLoading(false);
    state.needsLoad = false;
  }
  if (state.again || (stale && tab == currentIndex())) {
    state.again = false;
    Refresh(tab);
    return;
  }
  if (!stale) emit ViewRefreshed(tab);
}

}  // namespace weavil
