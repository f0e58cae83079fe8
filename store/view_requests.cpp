#include "store/view_requests.h"

#include <atomic>

namespace weavil {
namespace {
std::atomic<bool> g_resetViews{false};
std::atomic<bool> g_reloadViews{false};
}  // namespace

void RaiseResetViews() { g_resetViews.store(true); }
void RaiseReloadViews() { g_reloadViews.store(true); }
bool TakeResetViews() { return g_resetViews.exchange(false); }
bool TakeReloadViews() { return g_reloadViews.exchange(false); }
bool ResetViewsRaised() { return g_resetViews.load(); }
bool ReloadViewsRaised() { return g_reloadViews.load(); }

}  // namespace weavil
