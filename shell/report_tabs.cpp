#include "shell/report_tabs.h"

#include <QMetaObject>

#include <new>
#include <utility>

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
    view.SetFinishingCallback([this, tab](const std::shared_ptr<ReportTree>& tree) { Prepare(tab, tree); });
    connect(list, &TreeListView::DetailsRequested, this, &ReportTabs::DetailsRequested);
    connect(list, &TreeListView::SelectionNotice, this, [this, tab] {
      NoteOrder(tab);
      emit SelectionNotice(tab);
    });
  }
}

ReportTabs::~ReportTabs() {
  for (auto& view : views_) {
    view->SetRefreshedCallback({});
    view->SetFinishingCallback({});
  }
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
  NoteOrder(tab);
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

void ReportTabs::NoteOrder(int tab) {
  TreeListView* list = lists_[static_cast<size_t>(tab)];
  SortOrder order = list->IsSortable() ? list->Order() : SortOrder{};
  std::lock_guard<std::mutex> lock(preparedMutex_);
  prepared_[static_cast<size_t>(tab)].order = order;
}

void ReportTabs::Prepare(int tab, const std::shared_ptr<ReportTree>& tree) {
  SortOrder order;
  {
    std::lock_guard<std::mutex> lock(preparedMutex_);
    order = prepared_[static_cast<size_t>(tab)].order;
  }
  SortOrder sortedBy;
  ReportTreeIndex index;
  try {
    if (order.column >= 0) {
      SortReportTree(*tree, order);
      sortedBy = order;
    }
    index = IndexReportTree(*tree);
  } catch (const std::bad_alloc&) {
    return;  // nothing is left for this tree: the list sorts and indexes it when it is shown
  }
  std::lock_guard<std::mutex> lock(preparedMutex_);
  Prepared& prepared = prepared_[static_cast<size_t>(tab)];
  prepared.tree = tree;
  prepared.sortedBy = sortedBy;
  prepared.index = std::move(index);
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
  // What the worker made is taken out in any case: a stale one is not kept for later.
  Prepared made;
  {
    std::lock_guard<std::mutex> lock(preparedMutex_);
    Prepared& slot = prepared_[static_cast<size_t>(tab)];
    std::swap(made.tree, slot.tree);
    std::swap(made.index, slot.index);
    made.sortedBy = slot.sortedBy;
  }
  if (!stale) {
    std::shared_ptr<ReportTree> tree = views_[static_cast<size_t>(tab)]->Tree();
    if (tree && made.tree.lock() == tree) list->SetPreparedTree(std::move(tree), made.sortedBy, std::move(made.index));
    else list->SetTree(std::move(tree));
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
