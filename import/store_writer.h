#pragma once
// The store writer: writes every session of an import that is not in the database yet,
// with its page requests, byte sums, address row and classification. Sessions are
// recognised as stored by their start time and client address, so importing a file
// again writes nothing. Everything goes into one transaction through prepared
// statements; a failed Session or Resource insert is traced with its full text.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "import/session_builder.h"

namespace weavil {

class DbSession;

// What the writer asks of classification for each new session.
class SessionClassifier {
 public:
  virtual ~SessionClassifier() = default;
  // Robot flag 0 or 1; stores the browser and operating system.
  virtual int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId) = 0;
  virtual void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId) = 0;
};

// A 128-bit identifier in its platform group layout.
struct SessionGuid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  uint8_t data4[8] = {};
  bool IsNil() const;
};

// A new random identifier whose second and third groups are mixed with now (seconds
// since 1970): data2 = (data1 >> 16) ^ (now >> 16), data3 = data1 ^ now, each kept to
// 16 bits. Never nil.
SessionGuid MakeSessionGuid(int64_t now);
// Lower-case hyphenated 8-4-4-4-12 form without braces.
std::string FormatSessionId(const SessionGuid& guid);
std::string MakeSessionId(int64_t now);

// 'yyyy-mm-dd hh:mm:ss' of a request time.
std::string FormatRequestTime(int64_t seconds);

struct StoreResult {
  int64_t stored = 0;  // committed; 0 whenever the store was rolled back
  int64_t alreadyStored = 0;
  int64_t completed = 0;  // stored sessions that got the requests they lacked
  // No data source, no session, no write lock, or a statement failed (other than the
  // duplicate insert that the insert-then-select pattern expects): nothing was stored.
  bool databaseFailed = false;
  bool cancelled = false;  // rolled back at the caller's request
  std::string error;       // with databaseFailed: the database and SQLite's message
};

// Called every few hundred sessions with the number handled; false cancels.
using StoreProgress = std::function<bool(int64_t handled)>;

// Writes the sessions on an open database session, in list order, in one transaction.
// classifier may be null: the classification store of the session is used, with the
// rules for today's agents when modernRules is set (the setting "IsModernRules"). When the
// caller holds the transaction, a failure is reported and rolling back is the caller's.
StoreResult StoreSessionList(const SessionList& list, DbSession& db, SessionClassifier* classifier,
                             const StoreProgress& progress = {}, bool modernRules = false);

// The stored sessions whose last request lies within the session gap of the newest
// stored request, oldest first: those a continuation of the log may still extend.
std::vector<StoredSession> ReadOpenStoredSessions(DbSession& db);

// Stores a session list on a thread of its own while the list is still being built,
// so parsing and storing overlap. The building thread publishes how many leading
// sessions are final (closed, never to change); they are written in list order, in
// one transaction. Trace lines of failed statements are held back and handed out at
// the end, so the trace reads as if parsing and storing had run one after the other.
class SessionStoreThread {
 public:
  // expectedBytes: the log bytes to parse, a hint for how much will be written;
  // modernRules: classify with the rules for today's agents too ("IsModernRules").
  SessionStoreThread(const SessionList& list, int64_t expectedBytes, bool modernRules = false);
  ~SessionStoreThread();
  SessionStoreThread(const SessionStoreThread&) = delete;
  SessionStoreThread& operator=(const SessionStoreThread&) = delete;

  void Publish(size_t finalSessions);
  // Every session is final now (parsing ended).
  void Finish(size_t sessionCount);
  // Stops and rolls back: nothing is stored.
  void Cancel();
  // Waits up to the given time (for ever when negative); true when storing has ended.
  bool Wait(int milliseconds);
  int64_t Handled() const;

  // After Wait returned true:
  const StoreResult& Result() const;
  bool SourceOpened() const;
  const std::vector<std::string>& HeldTrace() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What became of one built session.
enum class StoreOutcome {
  kNew,            // stored with a new identifier
  kAlreadyStored,  // the stored session holds everything it has: nothing written
  kCompleted,      // the stored session got the page requests and bytes it lacked
  kUntouched,      // a seeded session no request joined: nothing written
};

// One session at a time (the writer above uses this). A session is stored before when
// a stored one has its start time and address. When the built one holds more (pages,
// a later exit, more bytes) the stored one is completed: the missing page requests
// are appended and NumVisited, TimeExit and the byte sums updated; its identifier,
// referrer and classification stay. StoreSession gives the new identifier's text with
// kNew; StoreResources then writes its page requests.
class SessionWriter {
 public:
  // heldTrace: failed statements are collected there instead of written to the trace.
  SessionWriter(DbSession& db, const SessionList& list, SessionClassifier& classifier,
                std::vector<std::string>* heldTrace = nullptr);
  ~SessionWriter();
  SessionWriter(const SessionWriter&) = delete;
  SessionWriter& operator=(const SessionWriter&) = delete;

  StoreOutcome StoreSession(const SessionRecord& session, std::string& newId);
  void StoreResources(const SessionRecord& session, std::string_view sessionId);
  // Session, SessionBytes and Resource rows are written in batches; this writes what
  // is held back (the destructor does too).
  void Flush();
  // The session's referrer, "-" while none came from outside.
  std::string_view ReferrerText(const SessionRecord& session) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace weavil
