#include "cli/stop_signals.h"

namespace weavil {

namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) { gStopRequested.store(true); }

}  // namespace

StopSignals::StopSignals(bool alsoTerm) : alsoTerm_(alsoTerm) {
  gStopRequested.store(false);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &oldInt_);
  if (alsoTerm_) ::sigaction(SIGTERM, &action, &oldTerm_);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &oldInt_, nullptr);
  if (alsoTerm_) ::sigaction(SIGTERM, &oldTerm_, nullptr);
}

const std::atomic<bool>& StopSignals::Requested() { return gStopRequested; }

}  // namespace weavil
