#pragma once
// A report view as the main window holds it: a tree handed over whole when a refresh
// ends, and a loading flag. The five session views refresh on the calling thread, the
// statistics view starts its own; only the pointer to the finished tree changes hands,
// under a lock.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "reports/report_tree.h"

namespace weavil {

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
  // Called on the refreshing thread with each tree a refresh has built, before it is
  // published: no one else holds it yet, so the callback may sort it in place and make
  // what its display needs of it.
  void SetFinishingCallback(std::function<void(const std::shared_ptr<ReportTree>&)> callback);

 protected:
  void Publish(std::shared_ptr<ReportTree> tree, bool loading);
  void NotifyRefreshed();

  std::atomic<bool> loading_{true};

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<ReportTree> tree_ = std::make_shared<ReportTree>();
  std::function<void()> refreshed_;
  std::function<void(const std::shared_ptr<ReportTree>&)> finishing_;
};

// The background reload: refreshes the views in the order given (the statistics view
// starts its own worker).
void RefreshAllWorker(const std::vector<ReportView*>& views);

}  // namespace weavil
