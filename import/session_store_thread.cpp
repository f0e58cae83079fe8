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

namespace {

std::atomic<void (*)()> threadStart{nullptr};

}  // namespace

void SessionStoreThread::SetThreadStart(void (*start)()) { threadStart = start; }

struct SessionStoreThread::Impl {
  Impl(const SessionList& sessions, int64_t bytes, bool modern, std::shared_ptr<CountryRanges> ranges)
      : list(sessions), expectedBytes(bytes), modernRules(modern), countries(std::move(ranges)) {
    thread = std::thread([this] {
      if (auto start = threadStart.load()) start();
      Run();
    });
  }

  // Waits for sessions or parts to store; false when there is nothing more to come.
  bool NextBatch(size_t done, size_t partsDone, size_t& ready, size_t& partsReady) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait(lock, [&] { return cancelled || finished || published > done || partsPublished > partsDone; });
    if (cancelled) return false;
    ready = published;
    partsReady = partsPublished;
    return ready > done || partsReady > partsDone;
  }

  void SetHandled(size_t done, size_t partsDone) {
    handled.store(static_cast<int64_t>(done), std::memory_order_release);
    partsHandled.store(static_cast<int64_t>(partsDone), std::memory_order_release);
  }

  // Nothing can be stored: the sessions still to come are taken and dropped, so the
  // building thread never waits for this one.
  void Drain(std::string error) {
    result.databaseFailed = true;
    result.error = std::move(error);
    size_t ready = 0, partsReady = 0;
    while (NextBatch(ready, partsReady, ready, partsReady)) SetHandled(ready, partsReady);
  }

  // Writes the sessions in list order, each deferred part once the sessions before its
  // position are written (a start in place of its session). After a failure the rest is
  // only taken, not written.
  void WriteAll(DbSession& db, SessionWriter& writer) {
    size_t done = 0, ready = 0, partsDone = 0, partsReady = 0;
    while (NextBatch(done, partsDone, ready, partsReady)) {
      for (;;) {
        const bool skip = db.FirstHardError().Failed();
        if (partsDone < partsReady && parts[partsDone].position <= done) {
          const DeferredPart& part = parts[partsDone];
          if (!skip && !cancelled.load(std::memory_order_relaxed)) {
            switch (part.kind) {
              case DeferredPart::Kind::kStart: writer.StartDeferred(part.index, part.record, result); break;
              case DeferredPart::Kind::kMore: writer.ContinueDeferred(part.index, part.record); break;
              case DeferredPart::Kind::kEnd: writer.EndDeferred(part.index, part.record, result); break;
            }
          }
          if (part.kind == DeferredPart::Kind::kStart) done = std::max(done, part.position + 1);
          SetHandled(done, ++partsDone);
          continue;
        }
        const size_t end = partsDone < partsReady ? std::min(ready, parts[partsDone].position) : ready;
        if (done >= end) break;
        if (skip) {
          done = end;
        } else {
          done = writer.StoreRange(done, end, result, [&](size_t index) {
            handled.store(static_cast<int64_t>(index), std::memory_order_release);
            return !cancelled.load(std::memory_order_relaxed);
          });
          // Stopped short without a failure: cancelled.
          if (done < end && !db.FirstHardError().Failed()) break;
        }
        SetHandled(done, partsDone);
      }
    }
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
        Store(db, bulk);
      }
      if (bulk) db.EndBulkWrite();
    }
    db.Close();
    End();
  }

  // bulk: a large import into a file that held no session (written through a rollback
  // journal).
  void Store(DbSession& db, bool bulk) {
    if (db.IsServer() && IsLargeFirstImport(db, expectedBytes)) db.CopyFrozenInto(RenewEmptyImportTables(db));
    // The tables a large first import fills from empty get their statistics from what
    // it counted as it wrote them.
    if (bulk) {
      db.StartTallies();
      WatchEmptyImportTables(db);
    }
    std::vector<HeldIndex> indexes = DropIndexesForImport(db, expectedBytes);
    std::vector<EndedDeferred> ended;
    {
      std::unique_ptr<SessionClassifier> classifier = MakeStoreClassifier(db, modernRules);
      SessionWriter writer(db, list, *classifier, &held, countries.get(), HoldsAddressKey(indexes));
      // Every address of such an import is new: the ranges their countries come from are
      // read while the first sessions are still being built.
      if (bulk) writer.ReadAddressRanges();
      WriteAll(db, writer);
      ended = writer.TakeEndedDeferred();
    }
    // The rows' pages are on their way to disk while the indexes are built, the
    // indexes' while the statistics are taken.
    db.StartWriteback();
    if (!db.FirstHardError().Failed()) RecreateIndexes(db, indexes);
    // The deferred sessions' final values go by their identifiers, through the indexes.
    if (!cancelled && !db.FirstHardError().Failed()) WriteDeferredEnds(db, list, ended);
    // Where this import ended, in the same transaction as its rows.
    if (!cancelled && !db.FirstHardError().Failed()) {
      std::optional<ImportMark> ended;
      bool known = false;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return markKnown || cancelled; });
        known = markKnown;
        ended = mark;
      }
      if (known) WriteImportMark(db, ended ? &*ended : nullptr);
    }
    result.cancelled = cancelled;
    // Statistics only when the tables changed: a second import of the same log stays cheap.
    if (!result.cancelled && !db.FirstHardError().Failed() && (result.stored > 0 || result.completed > 0)) {
      db.StartWriteback();
      RefreshPlannerStatistics(db);
    }
    db.EndTallies();
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
  std::shared_ptr<CountryRanges> countries;
  std::mutex mutex;
  std::condition_variable wake, endWake;
  size_t published = 0;
  // Deferred parts: appended by the building thread, the first partsPublished readable here.
  StableArray<DeferredPart> parts;
  size_t partsAdded = 0, partsPublished = 0;
  bool finished = false, ended = false;
  std::optional<ImportMark> mark;
  bool markKnown = false;  // HandMark came
  std::atomic<bool> cancelled{false};
  std::atomic<int64_t> handled{0}, partsHandled{0};
  // Written by the thread, read after it ended.
  StoreResult result;
  bool sourceOpened = false;
  std::vector<std::string> held;
  std::thread thread;
};

SessionStoreThread::SessionStoreThread(const SessionList& list, int64_t expectedBytes, bool modernRules,
                                       std::shared_ptr<CountryRanges> countries)
    : impl_(std::make_unique<Impl>(list, expectedBytes, modernRules, std::move(countries))) {}

SessionStoreThread::~SessionStoreThread() {
  if (impl_->thread.joinable()) {
    // Left without HandMark (an exception on the way): nothing half done is committed.
    if (!Wait(0)) Cancel();
    impl_->thread.join();
  }
}

void SessionStoreThread::Publish(size_t finalSessions) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (finalSessions > impl_->published || impl_->partsAdded > impl_->partsPublished) {
    impl_->published = std::max(impl_->published, finalSessions);
    impl_->partsPublished = impl_->partsAdded;
    impl_->wake.notify_all();
  }
}

void SessionStoreThread::Hand(const DeferredPart& part) {
  // Only this thread appends; the store reads no part beyond those published.
  impl_->parts.push_back(part);
  ++impl_->partsAdded;
}

void SessionStoreThread::FinishBeforeMark(size_t sessionCount) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->published = std::max(impl_->published, sessionCount);
  impl_->partsPublished = impl_->partsAdded;
  impl_->finished = true;
  impl_->wake.notify_all();
}

void SessionStoreThread::HandMark(std::optional<ImportMark> mark) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->mark = std::move(mark);
  impl_->markKnown = true;
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
int64_t SessionStoreThread::PartsHandled() const { return impl_->partsHandled.load(std::memory_order_acquire); }
const StoreResult& SessionStoreThread::Result() const { return impl_->result; }
bool SessionStoreThread::SourceOpened() const { return impl_->sourceOpened; }
const std::vector<std::string>& SessionStoreThread::HeldTrace() const { return impl_->held; }

}  // namespace weavil
