#include "import/session_store_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "import/index_rebuild.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

struct SessionStoreThread::Impl {
  Impl(const SessionList& sessions, int64_t bytes, bool modern)
      : list(sessions), expectedBytes(bytes), modernRules(modern) {
    thread = std::thread([this] { Run(); });
  }

  // Waits for sessions to store; false when there is nothing more to come.
  bool NextBatch(size_t done, size_t& ready) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait(lock, [&] { return cancelled || finished || published > done; });
    if (cancelled) return false;
    ready = published;
    return ready > done;
  }

  // Nothing can be stored: the sessions still to come are taken and dropped, so the
  // building thread never waits for this one.
  void Drain(std::string error) {
    result.databaseFailed = true;
    result.error = std::move(error);
    size_t ready = 0;
    while (NextBatch(ready, ready)) handled.store(static_cast<int64_t>(ready), std::memory_order_release);
  }

  void Run() {
    DbSession db;
    std::string error;
    sourceOpened = SourceIsOpen(&error);
    if (!sourceOpened || Failed(OpenSourceSession(db, &error))) {
      Drain("cannot open " + error);
    } else {
      // The import appends rows and looks stored sessions up in the order they were
      // stored, so a small page cache serves it as well as a large one. Nothing is
      // memory-mapped, and the index rebuild sorts through temporary files: mapped
      // pages and sorts held in memory would count in the process's memory.
      Statement pragma;
      pragma.Execute(db, "PRAGMA cache_size=-16384;");
      pragma.Execute(db, "PRAGMA mmap_size=0;");
      pragma.Execute(db, "PRAGMA temp_store=FILE;");
      pragma.Close();
      const bool bulk = IsLargeFirstImport(db, expectedBytes) && db.StartBulkWrite();
      if (Failed(db.StartTransaction())) {
        // Another writer kept the lock longer than the busy time, or the file is read-only.
        Drain(StoreFailureText(db, db.LastError()));
      } else {
        Store(db);
      }
      if (bulk) db.EndBulkWrite();
    }
    db.Close();
    End();
  }

  void Store(DbSession& db) {
    std::vector<HeldIndex> indexes = DropIndexesForImport(db, expectedBytes);
    {
      std::unique_ptr<SessionClassifier> classifier = MakeStoreClassifier(db, modernRules);
      SessionWriter writer(db, list, *classifier, &held);
      size_t done = 0, ready = 0;
      while (NextBatch(done, ready)) {
        done = writer.StoreRange(done, ready, result, [&](size_t index) {
          handled.store(static_cast<int64_t>(index), std::memory_order_release);
          return !cancelled.load(std::memory_order_relaxed);
        });
        handled.store(static_cast<int64_t>(done), std::memory_order_release);
        // After a failure the rest is only taken, not written.
        if (db.FirstHardError().Failed()) done = ready;
      }
    }
    if (!db.FirstHardError().Failed()) RecreateIndexes(db, indexes);
    // Where this import ended, in the same transaction as its rows.
    if (!cancelled && !db.FirstHardError().Failed()) {
      std::optional<ImportMark> ended;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ended = mark;
      }
      WriteImportMark(db, ended ? &*ended : nullptr);
    }
    result.cancelled = cancelled;
    // Statistics only when the tables changed: a second import of the same log stays cheap.
    if (!result.cancelled && !db.FirstHardError().Failed() && (result.stored > 0 || result.completed > 0))
      RefreshPlannerStatistics(db);
    EndStoreTransaction(db, true, result);
  }

  void End() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    endWake.notify_all();
  }

  const SessionList& list;
  int64_t expectedBytes;
  bool modernRules;
  std::mutex mutex;
  std::condition_variable wake, endWake;
  size_t published = 0;
  bool finished = false, ended = false;
  std::optional<ImportMark> mark;
  std::atomic<bool> cancelled{false};
  std::atomic<int64_t> handled{0};
  // Written by the thread, read after it ended.
  StoreResult result;
  bool sourceOpened = false;
  std::vector<std::string> held;
  std::thread thread;
};

SessionStoreThread::SessionStoreThread(const SessionList& list, int64_t expectedBytes, bool modernRules)
    : impl_(std::make_unique<Impl>(list, expectedBytes, modernRules)) {}

SessionStoreThread::~SessionStoreThread() {
  if (impl_->thread.joinable()) {
    // Left without Finish (an exception on the way): nothing half done is committed.
    if (!Wait(0)) Cancel();
    impl_->thread.join();
  }
}

void SessionStoreThread::Publish(size_t finalSessions) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (finalSessions > impl_->published) {
    impl_->published = finalSessions;
    impl_->wake.notify_all();
  }
}

void SessionStoreThread::Finish(size_t sessionCount, std::optional<ImportMark> mark) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->mark = std::move(mark);
  impl_->published = std::max(impl_->published, sessionCount);
  impl_->finished = true;
  impl_->wake.notify_all();
}

void SessionStoreThread::Cancel() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->cancelled = true;
  impl_->wake.notify_all();
}

bool SessionStoreThread::Wait(int milliseconds) {
  {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (milliseconds < 0) impl_->endWake.wait(lock, [&] { return impl_->ended; });
    else if (!impl_->endWake.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return impl_->ended; }))
      return false;
  }
  if (impl_->thread.joinable()) impl_->thread.join();
  return true;
}

int64_t SessionStoreThread::Handled() const { return impl_->handled.load(std::memory_order_acquire); }
const StoreResult& SessionStoreThread::Result() const { return impl_->result; }
bool SessionStoreThread::SourceOpened() const { return impl_->sourceOpened; }
const std::vector<std::string>& SessionStoreThread::HeldTrace() const { return impl_->held; }

}  // namespace weavil
