#include "import/store_writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "classify/classification_store.h"
#include "classify/country_lookup.h"
#include "classify/ip_address.h"
#include "store/batch_inserter.h"
#include "import/session_guid.h"
#include "store/database.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/stored_times.h"
#include "store/trace.h"

namespace weavil {

// ---------------------------------------------------------------- writer

namespace {

// The byte sums of the sessions s, joined as b. Kept by number they are joined in their
// table: the view on the right of a LEFT JOIN would be read whole for each statement.
const char* BytesJoin(bool byNumber) {
  return byNumber ? "LEFT JOIN SessionBytesRow b ON b.SessionNum = s.NumId "
                  : "LEFT JOIN SessionBytes b ON b.SessionId = s.SessionId ";
}

class StoreClassifier : public SessionClassifier {
 public:
  StoreClassifier(DbSession& db, bool modernRules) : store_(db, modernRules) {}
  int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, int64_t numId) override {
    return store_.ClassifyUserAgent(userAgent, sessionId, numId);
  }
  void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, int64_t numId) override {
    store_.AnalyzeReferrer(referrer, sessionId, numId);
  }
  void Flush() override { store_.Flush(); }

 private:
  ClassificationStore store_;
};

// The table the sessions are written to: SessionRow where the file keeps them so (read
// as the view Session), else Session.
std::string SessionTable(DbSession& db) { return db.KeptByNumber("Session") ? "SessionRow" : "[Session]"; }

// The update of a stored session that a later import completes: its pages, exit and
// referrer, by its SessionId. Where the file keeps the times as numbers, the exit's text
// bound goes in as its seconds.
std::string CompletionSql(DbSession& db, bool timesAsNumbers) {
  if (!timesAsNumbers)
    return "UPDATE " + SessionTable(db) + " SET NumVisited=?, TimeExit=?, Referer=? WHERE SessionId=?;";
  return "UPDATE SessionRow SET NumVisited=?1, TimeExit=" + SecondsOfTimeText("?2") +
         ", Referer=?3 WHERE SessionId=?4;";
}

// IPv4 addresses in an open-addressing table of their 32 bits, at most three quarters
// full: a large log's visitors take four to eight bytes each.
class Ipv4Set {
 public:
  // False when the address is in the set already.
  bool Insert(uint32_t bits) {
    if (bits == kFree) return !std::exchange(hasAllOnes_, true);
    if (4 * (count_ + 1) > 3 * slots_.size()) Grow();
    size_t at = Probe(bits);
    if (slots_[at] == bits) return false;
    slots_[at] = bits;
    ++count_;
    return true;
  }

 private:
  static constexpr uint32_t kFree = UINT32_MAX;  // 255.255.255.255 is held aside
  size_t Probe(uint32_t bits) const {
    const size_t mask = slots_.size() - 1;
    size_t at = static_cast<size_t>((bits * 0x9e3779b97f4a7c15ULL) >> 20) & mask;
    while (slots_[at] != kFree && slots_[at] != bits) at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(std::max<size_t>(4096, 2 * old.size()), kFree);
    for (uint32_t bits : old)
      if (bits != kFree) slots_[Probe(bits)] = bits;
  }
  std::vector<uint32_t> slots_;
  size_t count_ = 0;
  bool hasAllOnes_ = false;
};

// (start, address) pairs in an open-addressing table, each with a place: those of the
// sessions one lookup asks the database for (their places in its answers), and those of
// the sessions this import stored (StartAddressSet), as a large import asks once for
// each of its hundreds of thousands of sessions.
class StartAddressIndex {
 public:
  static constexpr int32_t kAbsent = -1;
  int32_t Find(int64_t start, AddressKey address) const {
    return slots_.empty() ? kAbsent : slots_[Probe(start, address.value)].ordinal;
  }
  // The pair's place: the one it has, or ordinal when it is new.
  int32_t Insert(int64_t start, AddressKey address, int32_t ordinal) {
    return Insert(start, address.value, ordinal);
  }
  void Clear() {
    std::fill(slots_.begin(), slots_.end(), Slot());
    count_ = 0;
  }

 private:
  int32_t Insert(int64_t start, uint64_t address, int32_t ordinal) {
    if (2 * (count_ + 1) > slots_.size()) Grow();
    Slot& slot = slots_[Probe(start, address)];
    if (slot.ordinal != kAbsent) return slot.ordinal;
    slot = {start, address, ordinal};
    ++count_;
    return ordinal;
  }
  struct Slot {
    int64_t start = 0;
    uint64_t address = 0;
    int32_t ordinal = kAbsent;
  };
  size_t Probe(int64_t start, uint64_t address) const {
    uint64_t h = (static_cast<uint64_t>(start) * 0x9e3779b97f4a7c15ULL) ^ (address * 0xbf58476d1ce4e5b9ULL);
    const size_t mask = slots_.size() - 1;
    size_t at = static_cast<size_t>(h ^ (h >> 31)) & mask;
    while (slots_[at].ordinal != kAbsent && !(slots_[at].start == start && slots_[at].address == address))
      at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max<size_t>(1024, old.size() * 2), Slot());
    count_ = 0;
    for (const Slot& slot : old)
      if (slot.ordinal != kAbsent) Insert(slot.start, slot.address, slot.ordinal);
  }
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// The (start, address) pairs of the sessions this import stored. The newest are held in
// a hash table; every kRun of them are frozen into a sorted run of 12 bytes a pair (the
// start as seconds after the run's earliest, unless its span is over 136 years) that
// knows its earliest and latest start, so a large import's set takes a fraction of a
// table's memory, and a lookup searches only the runs whose span holds the start (one
// or two when the log is in time order).
class StartAddressSet {
 public:
  bool Contains(int64_t start, AddressKey address) const {
    // A log in time order asks mostly for starts later than every one it holds.
    if (start > latest_) return false;
    if (recent_.Find(start, address) != StartAddressIndex::kAbsent) return true;
    // Newest first: once no earlier run reaches the start, none of them holds it.
    for (size_t i = runs_.size(); i-- > 0;) {
      const Run& run = runs_[i];
      if (run.latestSoFar < start) break;
      if (start >= run.first && start <= run.last && run.Contains(start, address.value)) return true;
    }
    return false;
  }
  void Insert(int64_t start, AddressKey address) {
    latest_ = std::max(latest_, start);
    if (recent_.Find(start, address) != StartAddressIndex::kAbsent) return;
    recent_.Insert(start, address, 0);
    pending_.push_back({start, address});
    if (pending_.size() == kRun) Freeze();
  }

 private:
  // The hash table of so many pairs stays within a core's cache beside the database's
  // pages (twice as many made each store of a session wait for memory: 0.035 s of a
  // million-line import's 224,000).
  static constexpr size_t kRun = size_t{1} << 13;
  struct Pair {
    int64_t start;
    AddressKey address;
  };
  struct Run {
    // In order; the addresses of equal starts in order too. Starts are seconds after
    // first, or (a span too long for 32 bits) as they are.
    std::vector<uint32_t> offsets;
    std::vector<int64_t> starts;
    std::vector<uint64_t> addresses;
    int64_t first = 0, last = 0;
    int64_t latestSoFar = 0;  // the latest start of this run and those frozen before it
    bool Contains(int64_t start, uint64_t address) const {
      size_t at = 0, end = addresses.size();
      if (starts.empty()) {
        const uint32_t offset = static_cast<uint32_t>(start - first);
        at = static_cast<size_t>(std::lower_bound(offsets.begin(), offsets.end(), offset) - offsets.begin());
        for (; at < end && offsets[at] == offset; ++at)
          if (addresses[at] == address) return true;
        return false;
      }
      at = static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), start) - starts.begin());
      for (; at < end && starts[at] == start; ++at)
        if (addresses[at] == address) return true;
      return false;
    }
  };
  void Freeze() {
    std::sort(pending_.begin(), pending_.end(), [](const Pair& a, const Pair& b) {
      return a.start != b.start ? a.start < b.start : a.address.value < b.address.value;
    });
    Run run;
    run.first = pending_.front().start;
    run.last = pending_.back().start;
    run.latestSoFar = runs_.empty() ? run.last : std::max(runs_.back().latestSoFar, run.last);
    const bool narrow = static_cast<uint64_t>(run.last) - static_cast<uint64_t>(run.first) <= UINT32_MAX;
    if (narrow) run.offsets.reserve(pending_.size());
    else run.starts.reserve(pending_.size());
    run.addresses.reserve(pending_.size());
    for (const Pair& pair : pending_) {
      if (narrow) run.offsets.push_back(static_cast<uint32_t>(pair.start - run.first));
      else run.starts.push_back(pair.start);
      run.addresses.push_back(pair.address.value);
    }
    runs_.push_back(std::move(run));
    pending_.clear();
    recent_.Clear();
  }

  StartAddressIndex recent_;
  std::vector<Pair> pending_;
  std::vector<Run> runs_;
  int64_t latest_ = INT64_MIN;  // the latest start inserted
};

}  // namespace

struct SessionWriter::Impl {
  Impl(DbSession& session, const SessionList& sessions, SessionClassifier& classify, std::vector<std::string>* held,
       CountryRanges* shared, bool uncheckedAddresses)
      : db(session),
        list(sessions),
        classifier(classify),
        trace([held](const std::string& line) {
          if (held) held->push_back(line);
          else WriteTrace(line);
        }),
        givesNumIds(!db.IsServer()),
        requestsByNumber(db.KeptByNumber("Resource")),
        timesAsNumbers(requestsByNumber && TimesKeptAsNumbers(db, "ResourceRow")),
        bytesByNumber(db.KeptByNumber("SessionBytes")),
        agentsByNumber(db.KeptByNumber("Session")),
        sessionTimesAsNumbers(SessionTimesKeptAsNumbers(db)),
        sessionTable(SessionTable(db)),
        nextNumId(givesNumIds ? NextNumId(db, agentsByNumber ? "SessionRow" : "Session") : 0),
        sessionRows(db, sessionTable, SessionColumns(givesNumIds, agentsByNumber),
                    SessionQuoted(givesNumIds, agentsByNumber), &trace),
        bytesRows(db, db.StoredTable("SessionBytes"),
                  bytesByNumber ? "SessionNum, Bytes, BytesIn" : "SessionId, Bytes, BytesIn",
                  {!bytesByNumber, true, true}, nullptr),
        nextResourceId(db.CopiesFrozenInto("Resource") ? NextResourceId(db) : 0),
        resourceRows(db, db.StoredTable("Resource"), ResourceColumns(nextResourceId > 0, requestsByNumber),
                     ResourceQuoted(nextResourceId > 0, requestsByNumber), &trace) {
    // A row written in another form is traced as the insert it stands for: the
    // session's columns without the NumId, the request's with its session's identifier
    // text (kept after the written values).
    // Times written as numbers are traced as their text.
    if (givesNumIds)
      sessionRows.TraceAs("[Session]", SessionColumns(false, false),
                          {1, 2, 3, 4, 5, agentsByNumber ? kSessionTraceAgent : 6, 7, 8}, SessionQuoted(false, false),
                          {false, true, true});
    if (agentsByNumber) {
      agentRows = std::make_unique<BatchInserter>(db, "Agent", "AgentId, Text", std::vector<bool>{false, true}, &trace);
      ReadAgents();
    }
    if (requestsByNumber)
      resourceRows.TraceAs("Resource", ResourceColumns(false, false), {kResourceTraceId, 1, 2, 3, 4, 5, 6, 7},
                           ResourceQuoted(false, false), {false, true});
    // An address costs a statement of its own unless it goes with others (a
    // million-line import writes 150,000 of them): the known ones are left out as the
    // single insert's failure leaves them.
    addressRows = std::make_unique<BatchInserter>(db, "DNSLookUp", "UserIP, rURL, CountryCode, IsRobot",
                                                  std::vector<bool>{true, true, true, false}, nullptr,
                                                  !uncheckedAddresses);
    // Where the times are numbers the visits are looked up in SessionRow, by the start's
    // seconds, so that its index serves: the view's text of a time is no column of it.
    if (sessionTimesAsNumbers)
      existsStatement.Prepare(db, "SELECT SessionId, NumVisited, " + TimeTextOf("TimeExit") +
                                      ", Referer, NumId FROM SessionRow WHERE TimeEnter=" + SecondsOfTimeText("?1") +
                                      " AND UserIP=?2 ORDER BY NumId;");
    else
      existsStatement.Prepare(db,
                              "SELECT SessionId, NumVisited, TimeExit, Referer, NumId FROM [Session] WHERE TimeEnter=? "
                              "AND UserIP=? ORDER BY NumId;");
    bytesStatement.Prepare(db, "SELECT Bytes, BytesIn FROM SessionBytes WHERE SessionId=?;");
    updateSession.Prepare(db, CompletionSql(db, sessionTimesAsNumbers));
    updateBytes.Prepare(db, "UPDATE SessionBytes SET Bytes=?, BytesIn=? WHERE SessionId=?;");
    ReadStoredSpan();
    if (shared) {
      shared->UseSession(&db, db.FilePath());
      countries = shared;
    }
    // Copied without a look for a stored one, a server's new addresses can wait for the
    // end of the import: the ranges their countries come from are read meanwhile, by a
    // connection of their own, instead of holding up the rows of this one. (A file,
    // written through a rollback journal then, has no second reader.)
    holdAddresses = uncheckedAddresses && db.IsServer();
    // The IPv6 ranges only when an address other than IPv4 came while the IPv4 ones
    // were read: a log without one spares the server that read, and else the first
    // IPv6 lookup makes it.
    if (holdAddresses && !countries->HoldsTablesOf(db.FilePath())) countries->ReadAhead(nonIpv4Seen);
  }

  ~Impl() {
    Flush();
    // Ranges kept for the next import keep no pointer to this session.
    if (countries != &ownCountries) countries->UseSession(nullptr, db.FilePath());
  }

  // The session columns, with the NumId first when the import gives it and the agent by
  // its number when the file keeps it so, and which of them a traced statement shows
  // between quotes.
  static std::string SessionColumns(bool withNumId, bool agentByNumber) {
    return std::string(withNumId ? "NumId, " : "") + "SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, " +
           (agentByNumber ? "AgentId" : "UserAgent") + ", Referer, NumVisited";
  }
  static std::vector<bool> SessionQuoted(bool withNumId, bool agentByNumber) {
    std::vector<bool> quoted{true, true, true, true, false, !agentByNumber, true, true};
    if (withNumId) quoted.insert(quoted.begin(), false);
    return quoted;
  }
  // Where a session row written with its agent's number keeps the agent's text for the
  // trace (after the NumId and the eight written values).
  static constexpr size_t kSessionTraceAgent = 9;
  // The request columns, with the key when the import gives it, the session by its
  // NumId when the file keeps them so, and which of them a traced statement shows
  // between quotes (all but the numbers).
  static std::string ResourceColumns(bool keyed, bool numbered) {
    return std::string(keyed ? "ResourceId, " : "") + (numbered ? "SessionNum" : "SessionId") +
           ", TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, TimeLoad";
  }
  static std::vector<bool> ResourceQuoted(bool keyed, bool numbered) {
    std::vector<bool> quoted(8, true);
    if (numbered) quoted[0] = false;
    if (keyed) quoted.insert(quoted.begin(), false);
    return quoted;
  }
  // Where a request row written by number keeps its session's identifier for the trace.
  static constexpr size_t kResourceTraceId = 8;

  // The times a view gives back as the text written (its datetime() covers the years 0
  // to 9999; a time outside is written as its text).
  static constexpr int64_t kFirstNumberedTime = -62167219200;  // 0000-01-01 00:00:00
  static constexpr int64_t kLastNumberedTime = 253402300799;   // 9999-12-31 23:59:59
  // A time written to a column that keeps numbers: its seconds, or its text.
  static void SetTime(SqlValue& value, int64_t seconds) {
    if (seconds >= kFirstNumberedTime && seconds <= kLastNumberedTime) value.SetNumber(seconds);
    else value.SetText(FormatEpochSeconds(seconds));
  }

  // The NumId the next new session takes, as the table's AUTOINCREMENT would give it:
  // after the largest it ever gave and the largest there. The import's transaction
  // holds the file's write lock, so no other writer takes one meanwhile. A file's
  // sessions get their NumId so, for the rows kept by it.
  static int64_t NextNumId(DbSession& db, const std::string& table) {
    Statement next;
    int64_t id = 1;
    if (Succeeded(next.Execute(db, "SELECT max(coalesce((SELECT max(seq) FROM sqlite_sequence WHERE name = '" + table +
                                       "'), 0), coalesce((SELECT max(NumId) FROM " + table + "), 0)) + 1;")) &&
        next.MoveNext() == kResultOk)
      next.GetInt64(1, id);
    return id;
  }

  // The agents the file keeps, and the number the next new one takes (as the key of
  // Agent would give it: the import holds the write lock).
  void ReadAgents() {
    Statement read;
    if (Failed(read.Execute(db, "SELECT AgentId, Text FROM Agent;"))) return;
    std::string text;
    int64_t id = 0;
    while (read.MoveNext() == kResultOk)
      if (read.GetInt64(1, id) && read.GetText(2, text)) {
        agentIds.emplace(text, id);
        nextAgentId = std::max(nextAgentId, id + 1);
      }
  }
  // The number of an agent's text, added to Agent the first time a session names it.
  int64_t AgentNumber(std::string_view text) {
    auto found = agentIds.find(text);
    if (found != agentIds.end()) return found->second;
    const int64_t id = nextAgentId++;
    agentIds.emplace(std::string(text), id);
    std::vector<SqlValue>& row = agentRows->Add();
    row[0].SetNumber(id);
    row[1].SetText(text);
    return id;
  }

  // Resource renewed by this transaction is written by no other session before the
  // commit: the request keys are given here, as its identity would give them, which
  // spares the server a call of the sequence per row. 0 when the identity gives them
  // (or its sequence cannot be read).
  static int64_t NextResourceId(DbSession& db) {
    Statement next;
    int64_t id = 0;
    if (Failed(next.Execute(db, "SELECT nextval(pg_get_serial_sequence('resource', 'resourceid'));")) ||
        next.MoveNext() != kResultOk || !next.GetInt64(1, id))
      return 0;
    return id;
  }

  void Flush() {
    if (agentRows) agentRows->Flush();
    sessionRows.Flush();
    bytesRows.Flush();
    resourceRows.Flush();
    // The sequence goes on after the keys given, as if it had given them.
    if (nextResourceId > 0) {
      Statement set;
      set.Execute(db, "SELECT setval(pg_get_serial_sequence('resource', 'resourceid'), " +
                          std::to_string(nextResourceId) + ", false);");
    }
    WriteHeldAddresses();
    addressRows->Flush();
    classifier.Flush();
  }

  void WriteHeldAddresses() {
    char buffer[16];
    for (const HeldAddress& held : heldAddresses)
      AddAddressRow(held.address, list.AddressText(held.address, buffer), held.robotFlag);
    heldAddresses = {};
  }

  void AddAddressRow(AddressKey key, std::string_view address, std::optional<int32_t> robotFlag) {
    std::vector<SqlValue>& row = addressRows->Add();
    row[0].SetText(address);
    row[1].SetText(UnresolvedReverseName(address));
    row[2].SetText(CountryOf(key, address));
    row[3].SetNumber(robotFlag ? std::optional<int64_t>(*robotFlag) : std::nullopt);
  }

  // A session can be in the database already only when its start lies within the
  // span of the stored sessions' starts, or when this import stored it; the query is
  // made only for the first case.
  void ReadStoredSpan() {
    Statement span;
    if (Failed(span.Execute(db, StoredStartsSql(db))) ||
        span.MoveNext() != kResultOk) {
      anyStored = true;  // unknown: ask for every session
      return;
    }
    anyStored = span.GetText(1, firstStored) && span.GetText(2, lastStored);
    if (!anyStored) firstStored = lastStored = std::string();
  }

  bool MayBeStored(const std::string& enter) const {
    return anyStored && (firstStored.empty() || (enter >= firstStored && enter <= lastStored));
  }

  struct StoredRow {
    std::string id, exit, referrer;
    int64_t numId = 0;
    int64_t pages = 0, bytes = 0, bytesIn = 0;
    bool hasBytes = false;  // a SessionBytes row is there for the byte sums' update
  };

  // What the database holds for one (start, address) pair of a lookup.
  struct Answer {
    bool failed = false;
    bool found = false;
    int64_t numId = 0;
    std::optional<StoredRow> row;
  };

  struct LookupPair {
    std::string enter;
    std::string address;
  };

  // The pairs one statement looks up at most. On a server each lookup is a round trip,
  // so a repeat import of hundreds of thousands of sessions costs a few hundred; the
  // answers held stay as few.
  static constexpr size_t kLookupPairs = 1024;

  // Looks up, with one statement, the sessions from index from on (no further than end,
  // and up to kLookupPairs distinct pairs) that may be stored before; their answers serve
  // StoredBefore until the next lookup. Gives the index after the last session covered.
  size_t LookUpStored(size_t from, size_t end) {
    lookupIndex.Clear();
    lookupPairs.clear();
    answers.clear();
    // Into a database that held no session, none of them may be stored before.
    if (!anyStored) return end;
    size_t next = from;
    for (; next < end && lookupPairs.size() < kLookupPairs; ++next) {
      const SessionRecord& session = list.At(next);
      if (storedHere.Contains(session.enterTime, session.address)) continue;
      std::string enter = FormatEpochSeconds(session.enterTime);
      if (!MayBeStored(enter)) continue;
      int32_t ordinal = static_cast<int32_t>(lookupPairs.size());
      if (lookupIndex.Insert(session.enterTime, session.address, ordinal) == ordinal)
        lookupPairs.push_back({std::move(enter), list.AddressText(session.address)});
    }
    if (lookupPairs.empty()) return next;
    answers.assign(lookupPairs.size(), Answer());

    // The statement for the next power of two of pairs, the last pair repeated to fill it.
    size_t width = std::bit_ceil(lookupPairs.size());
    Statement& lookup = LookupStatement(width);
    bool ok = lookup.IsOpen();
    if (ok) {
      for (size_t i = 0; i < width; ++i) {
        size_t at = std::min(i, lookupPairs.size() - 1);
        int index = static_cast<int>(3 * i);
        lookup.BindTextNoCopy(index + 1, lookupPairs[at].enter);
        lookup.BindTextNoCopy(index + 2, lookupPairs[at].address);
        lookup.BindInt64(index + 3, static_cast<int64_t>(at));
      }
      ok = Succeeded(lookup.Run());
    }
    int32_t step = ok ? lookup.MoveNext() : kResultFail;
    for (; step == kResultOk; step = lookup.MoveNext()) {
      int64_t ordinal = -1, numId = 0;
      if (!lookup.GetInt64(1, ordinal) || ordinal < 0 || ordinal >= static_cast<int64_t>(answers.size())) continue;
      lookup.GetInt64(2, numId);
      Answer& answer = answers[static_cast<size_t>(ordinal)];
      // Several stored sessions with the pair: the first stored, as the single check picks.
      if (answer.found && answer.numId <= numId) continue;
      answer.found = true;
      answer.numId = numId;
      answer.row.reset();
      StoredRow found;
      found.numId = numId;
      if (!lookup.GetText(3, found.id)) continue;
      lookup.GetInt64(4, found.pages);
      lookup.GetText(5, found.exit);
      lookup.GetText(6, found.referrer);
      std::string bytesId;
      found.hasBytes = lookup.GetText(7, bytesId);
      lookup.GetInt64(8, found.bytes);
      lookup.GetInt64(9, found.bytesIn);
      answer.row = std::move(found);
    }
    // A lookup that failed, or broke off, answers "stored" for each of its pairs.
    if (step != kResultFalse)
      for (Answer& answer : answers) answer.failed = true;
    return next;
  }

  Statement& LookupStatement(size_t width) {
    Statement& statement = lookupStatements[static_cast<size_t>(std::countr_zero(width))];
    if (statement.IsOpen()) return statement;
    std::string sql = "SELECT k.column3, s.NumId, s.SessionId, s.NumVisited, " +
                      (sessionTimesAsNumbers ? TimeTextOf("s.TimeExit") : std::string("s.TimeExit")) + ", s.Referer, " +
                      (bytesByNumber ? "b.SessionNum" : "b.SessionId") + ", b.Bytes, b.BytesIn FROM (VALUES ";
    for (size_t i = 0; i < width; ++i) sql += i ? ", (?, ?, ?)" : "(?, ?, ?)";
    // The pairs drive the join: each is one search of the (TimeEnter, UserIP) index.
    if (sessionTimesAsNumbers)
      sql += ") k JOIN SessionRow s ON s.TimeEnter = " + SecondsOfTimeText("k.column1") + " AND s.UserIP = k.column2 ";
    else
      sql += ") k JOIN [Session] s ON s.TimeEnter = k.column1 AND s.UserIP = k.column2 ";
    sql += BytesJoin(bytesByNumber);
    sql += ";";
    statement.Prepare(db, sql);
    return statement;
  }

  // The stored session with this start and address. A failed check counts as stored,
  // so nothing is written twice.
  bool StoredBefore(const SessionRecord& session, const std::string& enter, std::string_view address,
                    std::optional<StoredRow>& row) {
    if (storedHere.Contains(session.enterTime, session.address)) return true;
    if (!MayBeStored(enter)) return false;
    int32_t looked = lookupIndex.Find(session.enterTime, session.address);
    if (looked != StartAddressIndex::kAbsent) {
      const Answer& answer = answers[static_cast<size_t>(looked)];
      if (answer.failed) return true;
      if (answer.found) row = answer.row;
      return answer.found;
    }
    if (!existsStatement.IsOpen()) return true;
    if (Failed(existsStatement.Run(enter, address))) return true;
    int32_t next = existsStatement.MoveNext();
    if (next == kResultFalse) return false;
    StoredRow found;
    if (next == kResultOk && existsStatement.GetText(1, found.id)) {
      existsStatement.GetInt64(2, found.pages);
      existsStatement.GetText(3, found.exit);
      existsStatement.GetText(4, found.referrer);
      existsStatement.GetInt64(5, found.numId);
      if (Succeeded(bytesStatement.Run(found.id)) && bytesStatement.MoveNext() == kResultOk) {
        found.hasBytes = true;
        bytesStatement.GetInt64(1, found.bytes);
        bytesStatement.GetInt64(2, found.bytesIn);
      }
      row = std::move(found);
    }
    return true;
  }

  // Appends what the built session holds beyond the stored one. A seeded session lists
  // only the requests of this import; a session built again from the whole log lists
  // the stored ones first. row becomes what the database holds afterwards.
  // What a built session holds beyond the stored row it matches.
  struct Beyond {
    std::string exit;  // the built session's exit
    std::string_view referrer;
    int64_t newPages = 0;
    bool later = false, moreBytes = false, newReferrer = false;
    bool Nothing() const { return newPages <= 0 && !later && !moreBytes && !newReferrer; }
  };

  Beyond BeyondStored(const SessionRecord& session, const StoredRow& row) const {
    Beyond beyond;
    beyond.exit = FormatEpochSeconds(session.exitTime);
    beyond.newPages = static_cast<int64_t>(session.resourceCount) - row.pages;
    beyond.later = beyond.exit > row.exit;
    beyond.moreBytes = session.bytes > row.bytes || session.bytesIn > row.bytesIn;
    // A referrer from outside that came after the stored part replaces the stored "-".
    beyond.referrer = ReferrerText(session);
    beyond.newReferrer = row.referrer.substr(0, 1) == "-" && beyond.referrer.substr(0, 1) != "-" &&
                         beyond.referrer != row.referrer;
    return beyond;
  }

  // How many of the requests the list holds for the session the stored row has already:
  // a seeded session lists only those of this import, one built again from the whole
  // log the stored ones first.
  int64_t ListedAndStored(const SessionRecord& session, const StoredRow& row) const {
    int64_t listed = 0;
    list.ForEachResource(session, [&](const ResourceRecord&) { ++listed; });
    return std::max<int64_t>(0, listed - (static_cast<int64_t>(session.resourceCount) - row.pages));
  }

  StoreOutcome Complete(const SessionRecord& session, StoredRow& row) {
    Beyond beyond = BeyondStored(session, row);
    if (beyond.Nothing()) return session.seeded ? StoreOutcome::kUntouched : StoreOutcome::kAlreadyStored;
    const bool later = beyond.later, moreBytes = beyond.moreBytes, newReferrer = beyond.newReferrer;
    const std::string_view referrer = beyond.referrer;
    int64_t pages = row.pages;
    if (beyond.newPages > 0) {
      int64_t skip = ListedAndStored(session, row);
      list.ForEachResource(session, [&](const ResourceRecord& resource) {
        if (skip > 0) --skip;
        else AddResource(resource, row.id, row.numId);
      });
      pages = static_cast<int64_t>(session.resourceCount);
    }
    updateSession.RunDeferred(pages, later ? beyond.exit : row.exit,
                              newReferrer ? referrer : std::string_view(row.referrer), row.id);
    if (newReferrer) classifier.AnalyzeReferrer(referrer, row.id, row.numId);
    if (moreBytes)
      updateBytes.RunDeferred(std::max(session.bytes, row.bytes), std::max(session.bytesIn, row.bytesIn), row.id);
    row.pages = pages;
    if (later) row.exit = std::move(beyond.exit);
    if (newReferrer) row.referrer = std::string(referrer);
    if (moreBytes && row.hasBytes) {
      row.bytes = std::max(session.bytes, row.bytes);
      row.bytesIn = std::max(session.bytesIn, row.bytesIn);
    }
    return StoreOutcome::kCompleted;
  }

  StoreOutcome StoreSession(const SessionRecord& session, std::string& newId, int64_t& newNumId) {
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    // The start's text is compared with the stored starts' and written where the times
    // are texts; a first import into a file of seconds needs it for neither.
    const std::string enter =
        anyStored || !sessionTimesAsNumbers ? FormatEpochSeconds(session.enterTime) : std::string();
    char addressBuffer[16];
    std::string_view address = list.AddressText(session.address, addressBuffer);
    std::optional<StoredRow> stored;
    if (StoredBefore(session, enter, address, stored)) {
      if (!stored) return session.seeded ? StoreOutcome::kUntouched : StoreOutcome::kAlreadyStored;
      StoreOutcome outcome = Complete(session, *stored);
      // A later session of the lookup with the same pair finds the completed row, as the
      // database would give it.
      int32_t looked = lookupIndex.Find(session.enterTime, session.address);
      if (outcome == StoreOutcome::kCompleted && looked != StartAddressIndex::kAbsent)
        answers[static_cast<size_t>(looked)].row = std::move(stored);
      return outcome;
    }

    std::string id = sessionIds.Next(now);
    std::string_view userAgent = list.Text(session.userAgent);
    std::vector<SqlValue>& whole = sessionRows.Add();
    SqlValue* row = whole.data();
    if (givesNumIds) {
      newNumId = nextNumId++;
      (row++)->SetNumber(newNumId);
    }
    row[0].SetText(id);
    if (sessionTimesAsNumbers) {
      SetTime(row[1], session.enterTime);
      SetTime(row[2], session.exitTime);
    } else {
      row[1].SetText(enter);
      row[2].SetText(FormatEpochSeconds(session.exitTime));
    }
    row[3].SetText(address);
    row[4].SetNumber(session.status);
    if (agentsByNumber) {
      row[5].SetNumber(AgentNumber(userAgent));
      whole[kSessionTraceAgent].SetText(userAgent);
    } else {
      row[5].SetText(userAgent);
    }
    row[6].SetText(ReferrerText(session));
    row[7].SetNumber(static_cast<int64_t>(session.resourceCount));
    storedHere.Insert(session.enterTime, session.address);

    int32_t robot = classifier.ClassifyUserAgent(userAgent, id, newNumId);

    // A known address keeps its row (and robot flag): the insert fails for it, every
    // time, so it is tried once per import.
    if (FirstTry(session.address)) {
      std::optional<int32_t> robotFlag;
      if (robot == 1) robotFlag = 1;
      if (holdAddresses) {
        heldAddresses.push_back({session.address, robotFlag});
        if (!session.address.IsIpv4()) nonIpv4Seen->store(true, std::memory_order_relaxed);
      } else {
        AddAddressRow(session.address, address, robotFlag);
      }
    }

    std::vector<SqlValue>& bytes = bytesRows.Add();
    if (bytesByNumber) bytes[0].SetNumber(newNumId);
    else bytes[0].SetText(id);
    bytes[1].SetNumber(session.bytes);
    bytes[2].SetNumber(session.bytesIn);
    newId = std::move(id);
    return StoreOutcome::kNew;
  }

  void AddResource(const ResourceRecord& resource, std::string_view id, int64_t numId) {
    std::vector<SqlValue>& whole = resourceRows.Add();
    SqlValue* row = whole.data();
    if (nextResourceId > 0) (row++)->SetNumber(nextResourceId++);
    if (requestsByNumber) {
      row[0].SetNumber(numId);
      whole[kResourceTraceId].SetText(id);
    } else {
      row[0].SetText(id);
    }
    if (timesAsNumbers) SetTime(row[1], resource.time);
    else row[1].SetText(FormatEpochSeconds(resource.time));
    row[2].SetText(list.Text(resource.path));
    row[3].SetNumber(resource.status);
    row[4].SetText(resource.query == kNoText ? std::string_view(" ") : list.Text(resource.query));
    row[5].SetNumber(resource.scBytes);
    row[6].SetNumber(resource.csBytes);
    row[7].SetNumber(resource.timeTaken);
  }

  void StoreResources(const SessionRecord& session, std::string_view id, int64_t numId) {
    list.ForEachResource(session, [&](const ResourceRecord& resource) { AddResource(resource, id, numId); });
  }

  // A deferred session still taking parts.
  struct Deferred {
    std::string id;
    int64_t numId = 0;
    bool written = false;           // stored new at its start, or found stored (else its parts are not written)
    bool referrerAnalysed = false;  // its referrer was final at its start
    bool completing = false;        // completes row, stored before
    bool seeded = false;
    int64_t skip = 0;               // requests still to pass over: the stored row holds them
    StoredRow row;
  };

  // A referrer a joining request can no longer replace: one from outside, not "-".
  bool FinalReferrer(const SessionRecord& session) const {
    return session.referrer != kNoText && ReferrerText(session).substr(0, 1) != "-";
  }

  void StartDeferred(size_t index, const SessionRecord& part, StoreResult& result) {
    Deferred& deferred = deferredSessions[index];
    std::optional<StoredRow> row;
    char addressBuffer[16];
    if (StoredBefore(part, FormatEpochSeconds(part.enterTime), list.AddressText(part.address, addressBuffer), row)) {
      // Stored before: completed as Complete would, its requests beyond the stored
      // ones appended as they come. Without a row (a failed check, a twin of this
      // import) nothing is written for it.
      if (!row) {
        if (!part.seeded) ++result.alreadyStored;
        return;
      }
      deferred.written = deferred.completing = true;
      deferred.seeded = part.seeded;
      deferred.id = row->id;
      deferred.numId = row->numId;
      deferred.skip = ListedAndStored(part, *row);
      deferred.row = std::move(*row);
      AppendBeyondStored(deferred, part);
      return;
    }
    switch (StoreSession(part, deferred.id, deferred.numId)) {
      case StoreOutcome::kNew:
        deferred.written = true;
        StoreResources(part, deferred.id, deferred.numId);
        if (FinalReferrer(part)) {
          classifier.AnalyzeReferrer(ReferrerText(part), deferred.id, deferred.numId);
          deferred.referrerAnalysed = true;
        }
        ++result.stored;
        break;
      case StoreOutcome::kAlreadyStored: ++result.alreadyStored; break;
      case StoreOutcome::kCompleted: ++result.completed; break;
      case StoreOutcome::kUntouched: break;
    }
  }

  void ContinueDeferred(size_t index, const SessionRecord& part) {
    auto found = deferredSessions.find(index);
    if (found == deferredSessions.end() || !found->second.written) return;
    if (found->second.completing) AppendBeyondStored(found->second, part);
    else StoreResources(part, found->second.id, found->second.numId);
  }

  void AppendBeyondStored(Deferred& deferred, const SessionRecord& part) {
    list.ForEachResource(part, [&](const ResourceRecord& resource) {
      if (deferred.skip > 0) --deferred.skip;
      else AddResource(resource, deferred.id, deferred.numId);
    });
  }

  void EndDeferred(size_t index, const SessionRecord& last, StoreResult& result) {
    auto found = deferredSessions.find(index);
    if (found == deferredSessions.end()) return;
    Deferred deferred = std::move(found->second);
    deferredSessions.erase(found);
    if (!deferred.written) return;
    if (deferred.completing) {
      AppendBeyondStored(deferred, last);
      EndCompletion(deferred, last, result);
      return;
    }
    StoreResources(last, deferred.id, deferred.numId);
    if (!deferred.referrerAnalysed) classifier.AnalyzeReferrer(ReferrerText(last), deferred.id, deferred.numId);
    EndedDeferred& ended = endedDeferred.emplace_back();
    ended.id = std::move(deferred.id);
    ended.last = last;
  }

  // As Complete decides: already stored (a seeded session: untouched) when the stored
  // row holds everything, else it is completed, by WriteDeferredEnds.
  void EndCompletion(Deferred& deferred, const SessionRecord& last, StoreResult& result) {
    const StoredRow& row = deferred.row;
    Beyond beyond = BeyondStored(last, row);
    if (beyond.Nothing()) {
      if (!deferred.seeded) ++result.alreadyStored;
      return;
    }
    if (beyond.newReferrer) classifier.AnalyzeReferrer(beyond.referrer, deferred.id, deferred.numId);
    EndedDeferred& ended = endedDeferred.emplace_back();
    ended.id = std::move(deferred.id);
    ended.last = last;
    ended.completion = true;
    ended.pages = beyond.newPages > 0 ? static_cast<int64_t>(last.resourceCount) : row.pages;
    ended.exit = beyond.later ? std::move(beyond.exit) : row.exit;
    ended.referrer = beyond.newReferrer ? std::string(beyond.referrer) : row.referrer;
    ended.moreBytes = beyond.moreBytes;
    ended.bytes = std::max(last.bytes, row.bytes);
    ended.bytesIn = std::max(last.bytesIn, row.bytesIn);
    ++result.completed;
  }

  // The first session of this address in this import.
  bool FirstTry(AddressKey address) {
    if (address.IsIpv4()) return ipv4Tried.Insert(address.Bits());
    const size_t id = static_cast<size_t>(address.value);
    if (id >= addressesTried.size()) addressesTried.resize(std::max<size_t>(id + 1, 2 * addressesTried.size()));
    if (addressesTried[id]) return false;
    addressesTried[id] = true;
    return true;
  }

  // A new address gets its country at once, from the ranges read into memory when
  // the first address of their family needs them; an IPv4 one by its number, not read
  // back from its text.
  std::string CountryOf(AddressKey key, std::string_view address) {
    return key.IsIpv4() ? countries->LookupIpv4(key.Bits()) : countries->Lookup(address);
  }

  // A list still being built has no "-" filled in yet for sessions without referrer.
  std::string_view ReferrerText(const SessionRecord& session) const {
    return session.referrer == kNoText ? std::string_view("-") : list.Text(session.referrer);
  }

  DbSession& db;
  const SessionList& list;
  SessionClassifier& classifier;
  TraceSink trace;
  const bool givesNumIds;       // a file: new sessions get their NumId here
  const bool requestsByNumber;  // the file keeps the requests by their session's NumId
  const bool timesAsNumbers;    // and their times as numbers
  const bool bytesByNumber;     // and the byte sums
  const bool agentsByNumber;    // the file keeps the sessions' agents by number, in Agent
  const bool sessionTimesAsNumbers;  // and their times as numbers
  const std::string sessionTable;  // the table the sessions are written to
  int64_t nextNumId = 0;        // NextNumId's, counting on
  // The agents' numbers by their text, the next one's, and the rows of new ones.
  std::map<std::string, int64_t, std::less<>> agentIds;
  int64_t nextAgentId = 1;
  std::unique_ptr<BatchInserter> agentRows;
  BatchInserter sessionRows, bytesRows;
  int64_t nextResourceId = 0;  // NextResourceId's, counting on
  BatchInserter resourceRows;
  std::unique_ptr<BatchInserter> addressRows;
  Statement existsStatement, bytesStatement, updateSession, updateBytes;
  // Deferred sessions still taking parts, by their place in the list, and the ended ones.
  std::unordered_map<size_t, Deferred> deferredSessions;
  std::vector<EndedDeferred> endedDeferred;
  bool anyStored = true;
  std::string firstStored, lastStored;
  StartAddressSet storedHere;
  // The latest lookup of stored sessions: its pairs, their places and answers, and the
  // list index it covered up to.
  StartAddressIndex lookupIndex;
  std::vector<LookupPair> lookupPairs;
  std::vector<Answer> answers;
  size_t lookupFrom = 0, lookedUpTo = 0;
  std::array<Statement, std::countr_zero(kLookupPairs) + 1> lookupStatements;
  std::vector<bool> addressesTried;  // by the address's text in the list's pool
  Ipv4Set ipv4Tried;
  CountryRanges ownCountries{&db};
  CountryRanges* countries = &ownCountries;  // or those the caller keeps across imports
  struct HeldAddress {
    AddressKey address;
    std::optional<int32_t> robotFlag;
  };
  bool holdAddresses = false;
  std::vector<HeldAddress> heldAddresses;  // new ones, written by WriteHeldAddresses
  std::shared_ptr<std::atomic<bool>> nonIpv4Seen = std::make_shared<std::atomic<bool>>(false);
  SessionIdSequence sessionIds;
};

SessionWriter::SessionWriter(DbSession& db, const SessionList& list, SessionClassifier& classifier,
                             std::vector<std::string>* heldTrace, CountryRanges* countries, bool uncheckedAddresses)
    : impl_(std::make_unique<Impl>(db, list, classifier, heldTrace, countries, uncheckedAddresses)) {}

std::string_view SessionWriter::ReferrerText(const SessionRecord& session) const { return impl_->ReferrerText(session); }

SessionWriter::~SessionWriter() = default;

StoreOutcome SessionWriter::StoreSession(const SessionRecord& session, std::string& newId, int64_t& newNumId) {
  return impl_->StoreSession(session, newId, newNumId);
}

void SessionWriter::StoreResources(const SessionRecord& session, std::string_view sessionId, int64_t numId) {
  impl_->StoreResources(session, sessionId, numId);
}

void SessionWriter::Flush() { impl_->Flush(); }
void SessionWriter::ReadAddressRanges() { impl_->countries->ReadIpv4Ranges(); }

void SessionWriter::StartDeferred(size_t index, const SessionRecord& part, StoreResult& result) {
  impl_->StartDeferred(index, part, result);
}
void SessionWriter::ContinueDeferred(size_t index, const SessionRecord& part) { impl_->ContinueDeferred(index, part); }
void SessionWriter::EndDeferred(size_t index, const SessionRecord& last, StoreResult& result) {
  impl_->EndDeferred(index, last, result);
}
std::vector<EndedDeferred> SessionWriter::TakeEndedDeferred() { return std::move(impl_->endedDeferred); }

void WriteDeferredEnds(DbSession& db, const SessionList& list, const std::vector<EndedDeferred>& ended) {
  if (ended.empty()) return;
  Statement session, completion, bytes;
  const std::string table = SessionTable(db);
  const bool timesAsNumbers = SessionTimesKeptAsNumbers(db);
  if (timesAsNumbers)
    session.Prepare(db, "UPDATE SessionRow SET TimeEnter=" + SecondsOfTimeText("?1") + ", TimeExit=" +
                            SecondsOfTimeText("?2") + ", ErrorCode=?3, Referer=?4, NumVisited=?5 WHERE SessionId=?6;");
  else
    session.Prepare(db, "UPDATE " + table + " SET TimeEnter=?, TimeExit=?, ErrorCode=?, Referer=?, NumVisited=? "
                        "WHERE SessionId=?;");
  completion.Prepare(db, CompletionSql(db, timesAsNumbers));
  bytes.Prepare(db, "UPDATE SessionBytes SET Bytes=?, BytesIn=? WHERE SessionId=?;");
  for (const EndedDeferred& one : ended) {
    if (one.completion) {
      completion.Run(one.pages, one.exit, one.referrer, one.id);
      if (one.moreBytes) bytes.Run(one.bytes, one.bytesIn, one.id);
      continue;
    }
    const SessionRecord& last = one.last;
    // A list still being built has no "-" filled in yet for sessions without referrer.
    std::string_view referrer = last.referrer == kNoText ? std::string_view("-") : list.Text(last.referrer);
    session.Run(FormatEpochSeconds(last.enterTime), FormatEpochSeconds(last.exitTime), last.status, referrer,
                static_cast<int64_t>(last.resourceCount), one.id);
    bytes.Run(last.bytes, last.bytesIn, one.id);
  }
}

size_t SessionWriter::StoreRange(size_t next, size_t end, StoreResult& result,
                                 const std::function<bool(size_t index)>& proceed) {
  for (; next < end; ++next) {
    if (impl_->db.FirstHardError().Failed() || !proceed(next)) break;
    if (next >= impl_->lookedUpTo || next < impl_->lookupFrom) {
      impl_->lookupFrom = next;
      impl_->lookedUpTo = impl_->LookUpStored(next, end);
    }
    const SessionRecord& session = impl_->list.At(next);
    std::string id;
    int64_t numId = 0;
    switch (StoreSession(session, id, numId)) {
      case StoreOutcome::kNew:
        StoreResources(session, id, numId);
        impl_->classifier.AnalyzeReferrer(ReferrerText(session), id, numId);
        ++result.stored;
        break;
      case StoreOutcome::kAlreadyStored: ++result.alreadyStored; break;
      case StoreOutcome::kCompleted: ++result.completed; break;
      case StoreOutcome::kUntouched: break;
    }
  }
  return next;
}

std::unique_ptr<SessionClassifier> MakeStoreClassifier(DbSession& db, bool modernRules) {
  return std::make_unique<StoreClassifier>(db, modernRules);
}

std::string StoreFailureText(DbSession& db, const DbError& error) {
  std::string path = db.ShownPath();
  return "cannot store the sessions in the database " + (path.empty() ? std::string("\"Log\"") : path) + ": " +
         (error.message.empty() ? std::string("a statement failed") : error.message);
}

void EndStoreTransaction(DbSession& db, bool ownTransaction, StoreResult& result) {
  DbError failure = db.FirstHardError();
  bool keep = !result.cancelled && !failure.Failed();
  if (keep && ownTransaction && Failed(db.Commit())) {
    failure = db.LastError();
    keep = false;
  }
  if (keep) return;
  if (ownTransaction) db.Abort();
  if (!result.cancelled) {
    result.databaseFailed = true;
    result.error = StoreFailureText(db, failure);
  }
  result.stored = result.alreadyStored = result.completed = 0;
}

StoreResult StoreSessionList(const SessionList& list, DbSession& db, SessionClassifier* classifier,
                             const StoreProgress& progress, bool modernRules) {
  StoreResult result;
  db.ClearErrors();
  bool ownTransaction = !db.InTransaction();
  if (ownTransaction && Failed(db.StartTransaction())) {
    result.databaseFailed = true;
    result.error = StoreFailureText(db, db.LastError());
    return result;
  }
  {
    std::unique_ptr<SessionClassifier> own;
    if (!classifier) {
      own = MakeStoreClassifier(db, modernRules);
      classifier = own.get();
    }
    SessionWriter writer(db, list, *classifier);
    writer.StoreRange(0, list.Count(), result, [&](size_t index) {
      if (progress && index % 256 == 0 && !progress(static_cast<int64_t>(index))) result.cancelled = true;
      return !result.cancelled;
    });
    if (progress && !result.cancelled) progress(static_cast<int64_t>(list.Count()));
  }
  EndStoreTransaction(db, ownTransaction, result);
  return result;
}

std::vector<StoredSession> ReadOpenStoredSessions(DbSession& db) {
  std::vector<StoredSession> sessions;
  auto seconds = [](const std::string& text, int64_t& out) {
    DateTimeParts parts;
    if (!ParseDateTime(text, parts)) return false;
    out = EpochSecondsFromParts(parts);
    return true;
  };
  // The sessions that ended within a session gap of the last exit (the bound computed
  // here, so that the statement reads the same on every database).
  Statement last;
  std::string lastExit;
  int64_t lastSeconds = 0;
  if (Failed(last.Execute(db, LatestExitSql(db))) || last.MoveNext() != kResultOk || !last.GetText(1, lastExit) ||
      !seconds(lastExit, lastSeconds))
    return sessions;
  Statement read;
  const std::string columns =
      std::string("SELECT s.TimeEnter, s.TimeExit, s.UserIP, s.ErrorCode, s.UserAgent, s.Referer, s.NumVisited, "
                  "b.Bytes, b.BytesIn FROM [Session] s ") +
      BytesJoin(db.KeptByNumber("SessionBytes"));
  const int64_t since = lastSeconds - kSessionGap;
  // Where the times are seconds the visits are picked in SessionRow, which compares
  // them as they are kept: the view's text of each visit's exit took most of a small
  // import into a large file.
  const int32_t asked =
      SessionTimesKeptAsNumbers(db)
          ? read.Query(db,
                       columns + "WHERE s.NumId IN (SELECT NumId FROM SessionRow WHERE " + ExitNotBeforeCondition() +
                           ") ORDER BY s.NumId;",
                       since, FormatEpochSeconds(since))
          : read.Query(db, columns + "WHERE s.TimeExit >= ? ORDER BY s.NumId;", FormatEpochSeconds(since));
  if (Failed(asked)) return sessions;
  while (read.MoveNext() == kResultOk) {
    StoredSession session;
    std::string enter, exit;
    int64_t pages = 0;
    if (!read.GetText(1, enter) || !read.GetText(2, exit) || !seconds(enter, session.enterTime) ||
        !seconds(exit, session.exitTime) || !read.GetText(3, session.address))
      continue;
    read.Read(4, session.status);
    read.GetText(5, session.userAgent);
    read.GetText(6, session.referrer);
    read.GetInt64(7, pages);
    session.resourceCount = static_cast<uint32_t>(pages);
    read.GetInt64(8, session.bytes);
    read.GetInt64(9, session.bytesIn);
    sessions.push_back(std::move(session));
  }
  return sessions;
}

}  // namespace weavil
