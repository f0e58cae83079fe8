#pragma once
// Host-name resolution of client addresses: the list of addresses still without a name,
// a dispatcher that runs up to 9 reverse lookups at once, and the update that writes the
// name, its reversed form for sorting by domain, and the country of the address.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "classify/country_lookup.h"

namespace weavil {

class DbSession;

inline constexpr int kMaxResolveWorkers = 9;

// The reverse name service: one lookup per call, from any thread.
class ReverseResolver {
 public:
  virtual ~ReverseResolver() = default;
  // True with the host's name when the address has one.
  virtual bool LookUp(const std::string& address, std::string& hostName) = 0;
};

// The system's resolver (getnameinfo): dotted IPv4 text as the standard conversion reads
// it, or an IPv6 text.
class SystemReverseResolver final : public ReverseResolver {
 public:
  bool LookUp(const std::string& address, std::string& hostName) override;
};

// The labels of a host name in reverse order: "a.b.c" gives "c.b.a". A name without dots
// and "-" come back unchanged.
std::string ReverseHostName(std::string_view hostName);

// Writes FullName, URL, rURL and CountryCode of one DNSLookUp row. A missing name ("-" or
// empty) is written as "-" with rURL "ip." followed by the address (an IPv6 address in
// its full form, UnresolvedReverseName). Negative when the update failed (a read-only or
// locked database); the session holds SQLite's message. The country comes from ranges,
// which answer as the country query does without reading the table for each address.
int32_t UpdateHostName(DbSession& session, std::string_view address, std::string_view hostName,
                       CountryRanges& ranges);

// The list queries: addresses without a name, and with allUnresolved also those whose
// lookup failed before.
std::string ResolveListQuery(bool allUnresolved);

// Receives what the dialog shows. Called from worker threads.
class ResolveObserver {
 public:
  virtual ~ResolveObserver() = default;
  // The row's "URL" column: "*" while its lookup runs, then the name or "-".
  virtual void RowChanged(size_t row, const std::string& url) = 0;
  // The dispatcher has seen every worker end. With autoClose the dialog closes itself
  // (as with Cancel); otherwise Start, OK and Cancel come back.
  virtual void RunFinished(bool autoClose) = 0;
};

struct ResolveRow {
  std::string ip;
  std::string url;
  bool done = false;
};

// The run state of one Resolve IP dialog: its rows, the stop and auto-close flags, the
// active and started counts, and the dispatcher thread. The session (the dialog's own)
// and the resolver must outlive the object; statements through the session are
// serialised, lookups run in parallel.
class ResolveRun {
 public:
  ResolveRun(DbSession& session, ReverseResolver& resolver, ResolveObserver* observer = nullptr);
  ~ResolveRun();  // stops a running dispatcher and waits for every worker
  ResolveRun(const ResolveRun&) = delete;
  ResolveRun& operator=(const ResolveRun&) = delete;

  // Refills the rows (all pending) from the list query. Refused (negative) during a run.
  int32_t FillList(bool allUnresolved);

  // Clears the stop flag and starts the dispatcher over the pending rows; false when a run
  // is already going.
  bool Start();
  // No new lookup starts; those running finish their row.
  void Stop();
  // Closing the window: stop and close when done. True when no run is active, so the
  // window may close at once.
  bool RequestClose();
  // Auto-start: the run closes the dialog itself when it ends.
  void SetAutoClose(bool on) { autoClose_.store(on); }
  bool AutoClose() const { return autoClose_.load(); }
  bool StopRequested() const { return stop_.load(); }

  // Waits until the dispatcher (if any) has ended.
  void Wait();
  bool IsRunning() const { return running_.load(); }

  int ActiveCount() const { return activeCount_.load(); }
  int StartedCount() const { return startedCount_.load(); }

  size_t RowCount() const;
  ResolveRow Row(size_t index) const;
  std::vector<ResolveRow> Rows() const;

  // Rows whose name could not be stored, and SQLite's message for the first of them. The
  // first failed write stops the run as Stop does: the names would be lost.
  int FailedWrites() const { return failedWrites_.load(); }
  std::string FirstWriteError() const;

 private:
  struct WorkerThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  void ResolveDispatcher();
  void ResolveWorker(size_t row);
  void ReapWorkers(bool all);

  DbSession& session_;
  ReverseResolver& resolver_;
  ResolveObserver* observer_;

  mutable std::mutex rowsMutex_;
  std::vector<ResolveRow> rows_;
  mutable std::mutex sessionMutex_;  // one statement at a time on the shared session
  std::atomic<int> failedWrites_{0};
  std::string firstWriteError_;  // under sessionMutex_
  // The country ranges, read through the session at the run's first update (under
  // sessionMutex_): each country query reads every range below the address, 11 to 18 ms
  // of a serialized write per address, where the ranges in memory take a binary search.
  CountryRanges countries_;

  std::atomic<bool> stop_{false};
  std::atomic<bool> autoClose_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> activeCount_{0};
  std::atomic<int> startedCount_{0};

  // Wakes the dispatcher when a worker begins or ends, instead of polling.
  std::mutex wakeMutex_;
  std::condition_variable wake_;

  std::mutex controlMutex_;  // Start, Wait and the destructor
  std::thread dispatcher_;
  std::list<WorkerThread> workers_;  // touched by the dispatcher only
};

}  // namespace weavil
