#include "reports/report_view.h"

namespace weavil {

std::shared_ptr<ReportTree> ReportView::Tree() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tree_;
}

void ReportView::SetRefreshedCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  refreshed_ = std::move(callback);
}

void ReportView::SetFinishingCallback(std::function<void(const std::shared_ptr<ReportTree>&)> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  finishing_ = std::move(callback);
}

void ReportView::Publish(std::shared_ptr<ReportTree> tree, bool loading) {
  if (!loading && tree) {
    std::function<void(const std::shared_ptr<ReportTree>&)> finishing;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing = finishing_;
    }
    if (finishing) finishing(tree);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  tree_ = std::move(tree);
  loading_.store(loading);
}

void ReportView::NotifyRefreshed() {
  std::function<void()> callback;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callback = refreshed_;
  }
  if (callback) callback();
}

void RefreshAllWorker(const std::vector<ReportView*>& views) {
  for (ReportView* view : views)
    if (view) view->RefreshView();
}

}  // namespace weavil
