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

class CountryRanges;
class DbSession;
struct DbError;

// What the writer asks of classification for each new session.
class SessionClassifier {
 public:
  virtual ~SessionClassifier() = default;
  // Robot flag 0 or 1; stores the browser and operating system. numId: the session's
  // NumId, for the links a file keeps by it (0 on a server).
  virtual int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, int64_t numId) = 0;
  virtual void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, int64_t numId) = 0;
  // Writes what it holds back; called before the transaction's end.
  virtual void Flush() {}
};

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

// A deferred session as it ended: one stored new by this import gets the final values
// of last; a stored one it continued (completion) the pages, exit, referrer and byte
// sums given here, as a completed session gets them.
struct EndedDeferred {
  std::string id;
  SessionRecord last;
  bool completion = false;
  int64_t pages = 0, bytes = 0, bytesIn = 0;
  std::string exit, referrer;
  bool moreBytes = false;
};

// The ended deferred sessions' rows get their final values: after the writer flushed,
// once the indexes by session are there (statements by SessionId, one per session).
void WriteDeferredEnds(DbSession& db, const SessionList& list, const std::vector<EndedDeferred>& ended);

// Writes the sessions on an open database session, in list order, in one transaction.
// classifier may be null: the classification store of the session is used, with the
// rules for today's agents when modernRules is set (the setting "IsModernRules"). When the
// caller holds the transaction, a failure is reported and rolling back is the caller's.
StoreResult StoreSessionList(const SessionList& list, DbSession& db, SessionClassifier* classifier,
                             const StoreProgress& progress = {}, bool modernRules = false);

// The stored sessions whose last request lies within the session gap of the newest
// stored request, oldest first: those a continuation of the log may still extend.
std::vector<StoredSession> ReadOpenStoredSessions(DbSession& db);

// What became of one built session.
enum class StoreOutcome {
  kNew,            // stored with a new identifier
  kAlreadyStored,  // the stored session holds everything it has: nothing written
  kCompleted,      // the stored session got the page requests and bytes it lacked
  kUntouched,      // a seeded session no request joined: nothing written
};

// One session at a time (StoreSessionList and the store thread use it). A session is
// stored before when a stored one has its start time and address. When the built one
// holds more (pages, a later exit, more bytes) the stored one is completed: the
// missing page requests are appended and NumVisited, TimeExit and the byte sums
// updated; its identifier, referrer and classification stay. StoreSession gives the
// new identifier's text (and NumId) with kNew; StoreResources then writes its page
// requests.
class SessionWriter {
 public:
  // heldTrace: failed statements are collected there instead of written to the trace.
  // countries: address ranges kept across imports (CountryRanges::UseSession), used
  // instead of a set of the writer's own. uncheckedAddresses: the address table was
  // empty and its key is held back (HoldsAddressKey): each new address is copied
  // without the look for a stored one (on a server, at the end of the import).
  SessionWriter(DbSession& db, const SessionList& list, SessionClassifier& classifier,
                std::vector<std::string>* heldTrace = nullptr, CountryRanges* countries = nullptr,
                bool uncheckedAddresses = false);
  ~SessionWriter();
  SessionWriter(const SessionWriter&) = delete;
  SessionWriter& operator=(const SessionWriter&) = delete;

  // newNumId: the new session's NumId when the file keeps its requests by it (else 0).
  StoreOutcome StoreSession(const SessionRecord& session, std::string& newId, int64_t& newNumId);
  void StoreResources(const SessionRecord& session, std::string_view sessionId, int64_t numId);
  // Stores or completes the sessions from index next up to end, in list order, with
  // the page requests and referrer of each new one, and counts what became of them
  // in result. Stops before a session once a statement has failed or when
  // proceed(index) says no. Gives the index it stopped at.
  size_t StoreRange(size_t next, size_t end, StoreResult& result, const std::function<bool(size_t index)>& proceed);
  // A deferred session (SessionList::Defer) in parts: at its place in list order as it
  // was then, each later part's page requests as they are handed over, and at its end
  // what changed since its start. The rows keep what a session stored whole would have,
  // but its requests follow the sessions stored meanwhile. A seeded session is
  // completed so, as its whole would be. index: its place in the list.
  void StartDeferred(size_t index, const SessionRecord& part, StoreResult& result);
  void ContinueDeferred(size_t index, const SessionRecord& part);
  void EndDeferred(size_t index, const SessionRecord& last, StoreResult& result);
  // The deferred sessions that ended, with their identifiers, for WriteDeferredEnds.
  std::vector<EndedDeferred> TakeEndedDeferred();
  // Session, SessionBytes and Resource rows are written in batches; this writes what
  // is held back (the destructor does too).
  void Flush();
  // Reads the IPv4 address ranges now, unless they are read already: the first new
  // address would.
  void ReadAddressRanges();
  // The session's referrer, "-" while none came from outside.
  std::string_view ReferrerText(const SessionRecord& session) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The classification store of the session as the writer's classifier, with the rules
// for today's agents when modernRules is set.
std::unique_ptr<SessionClassifier> MakeStoreClassifier(DbSession& db, bool modernRules);

// "cannot store the sessions in the database PATH: SQLite's message".
std::string StoreFailureText(DbSession& db, const DbError& error);

// Ends an import's store: commits (when the transaction is its own) unless it was
// cancelled or a statement failed, in which case it rolls back (again only its own) and
// the counts go to 0, so they tell only what was committed.
void EndStoreTransaction(DbSession& db, bool ownTransaction, StoreResult& result);

}  // namespace weavil
