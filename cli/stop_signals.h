#pragma once
// Ctrl+C (and, when asked, SIGTERM) as a request to stop: while a StopSignals lives, the
// signal sets a flag the command polls instead of ending the process; the handlers the
// process had come back when it ends.
#include <signal.h>

#include <atomic>

namespace weavil {

class StopSignals {
 public:
  explicit StopSignals(bool alsoTerm = false);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Set by the signal since the latest StopSignals was made.
  static const std::atomic<bool>& Requested();

 private:
  bool alsoTerm_;
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace weavil
