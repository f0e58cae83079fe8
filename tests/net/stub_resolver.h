#pragma once
// A reverse name service for tests: it answers from a table after a pause and keeps count
// of how many lookups run at once. With the gate closed every lookup waits until it opens.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "net/host_resolver.h"

namespace weavil::test {

class StubResolver : public ReverseResolver {
 public:
  bool LookUp(const std::string& address, std::string& hostName) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++running_;
      ++calls_;
      peak_ = std::max(peak_, running_);
      changed_.notify_all();
      changed_.wait(lock, [&] { return gateOpen_; });
    }
    std::this_thread::sleep_for(pause_);
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    auto found = names_.find(address);
    if (found == names_.end()) return false;
    hostName = found->second;
    return true;
  }

  void SetName(const std::string& address, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_[address] = name;
  }
  void SetPause(std::chrono::milliseconds pause) { pause_ = pause; }
  void CloseGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = false;
  }
  void OpenGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = true;
    changed_.notify_all();
  }
  bool WaitForCalls(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_ >= count; });
  }
  int Calls() { return Read(calls_); }
  int Running() { return Read(running_); }
  int Peak() { return Read(peak_); }

 private:
  int Read(const int& count) {
    std::lock_guard<std::mutex> lock(mutex_);
    return count;
  }

  std::map<std::string, std::string> names_;
  std::chrono::milliseconds pause_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool gateOpen_ = true;
  int running_ = 0;
  int peak_ = 0;
  int calls_ = 0;
};

}  // namespace weavil::test
