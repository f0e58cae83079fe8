#pragma once
// Storing a session list on a thread of its own while the list is still being built,
// so parsing and storing overlap.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "import/import_mark.h"
#include "import/store_writer.h"

namespace weavil {

// What the building thread hands over of a deferred session (SessionList::Defer).
struct DeferredPart {
  enum class Kind : uint8_t { kStart, kMore, kEnd };
  Kind kind = Kind::kStart;
  uint32_t index = 0;   // the session's place in the list
  size_t position = 0;  // written once the sessions before it are (a start at its place)
  SessionRecord record;  // the requests handed over with it, and at the end the final values
};

// The building thread publishes how many leading sessions are final (closed, never to
// change, or deferred with their start handed over); they are written in list order,
// in one transaction, on a session of the shared data source, and the parts of
// deferred sessions among them as their positions come. Trace lines of failed
// statements are held back and handed out at the end, so the trace reads as if
// parsing and storing had run one after the other.
class SessionStoreThread {
 public:
  // Run first thing on every store thread, before it allocates (the import command
  // marks the thread's heap for huge pages with it). Set before an import starts.
  static void SetThreadStart(void (*start)());

  // expectedBytes: the log bytes to parse, a hint for how much will be written;
  // modernRules: classify with the rules for today's agents too ("IsModernRules").
  // countries: address ranges kept across imports (ImportOptions::countries), or null.
  SessionStoreThread(const SessionList& list, int64_t expectedBytes, bool modernRules = false,
                     std::shared_ptr<CountryRanges> countries = nullptr);
  ~SessionStoreThread();
  SessionStoreThread(const SessionStoreThread&) = delete;
  SessionStoreThread& operator=(const SessionStoreThread&) = delete;

  void Publish(size_t finalSessions);
  // Adds a deferred session's part (positions never decrease), published with the
  // next Publish or FinishBeforeMark. Call it on the building thread.
  void Hand(const DeferredPart& part);
  // Every session is final now (parsing ended), with the mark still to come (HandMark):
  // the last sessions are written while the building thread works the mark out (the
  // hash of the whole file read).
  void FinishBeforeMark(size_t sessionCount);
  // Where this import of a plain log ended, written with the sessions (without one the
  // database's mark is removed); the store waits for it before it writes the mark, or
  // for Cancel.
  void HandMark(std::optional<ImportMark> mark);
  // Stops and rolls back: nothing is stored.
  void Cancel();
  // Waits up to the given time (for ever when negative); true when storing has ended.
  bool Wait(int milliseconds);
  // The sessions before it are written (or dropped after a failure): the store reads
  // none of them again.
  int64_t Handled() const;
  // The parts before it are written (or dropped): the store reads none of them again.
  int64_t PartsHandled() const;

  // After Wait returned true:
  const StoreResult& Result() const;
  bool SourceOpened() const;
  const std::vector<std::string>& HeldTrace() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace weavil
