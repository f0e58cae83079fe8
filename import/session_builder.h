#pragma once
// The session builder: groups the requests of one import into visitor sessions. A
// request joins the first open session (in creation order) of its address within 20
// minutes of the session's span (lines may come out of time order); failing that, with
// agent chaining on, the first open session with the same user agent whose referrer
// continues its navigation; failing that, it starts a new session. A session whose
// latest request lies more than 20 minutes behind a request is closed for good. A
// session's enter and exit times are its earliest and latest request.
//
// Texts are interned once per import (addresses, user agents, referrers, paths and
// queries repeat endlessly); records keep their ids. An IPv4 address in its plain
// dotted form is kept as its 32 bits instead: most visitors of a large log come once,
// and their addresses would fill the pool. The matching looks only at open
// sessions through indexes by address, user agent and (user agent, referrer), and a
// min-tree over the sessions' exit times closes exactly the sessions a scan in creation
// order would have closed, so the result is that of the plain scan over every session.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/log_parser.h"
#include "import/stable_containers.h"
#include "settings/settings.h"

namespace weavil {

inline constexpr int64_t kSessionGap = 1200;       // seconds; a request within it joins
inline constexpr int64_t kStatusThreshold = 399;   // a status above it is an error
inline constexpr size_t kPageKeyLength = 10;       // characters of a file extension compared
inline constexpr uint32_t kNoText = UINT32_MAX;    // an absent text

// The address of a session. A dotted IPv4 address in its one plain form (four decimal
// numbers from 0 to 255 without leading zeros) is its 32 bits, tagged; any other text
// is its id in the list's pool. Equal texts have equal keys, different texts different
// ones, so keys compare as the texts do.
struct AddressKey {
  uint64_t value = kNoText;
  static constexpr uint64_t kIpv4 = uint64_t{1} << 32;
  bool IsIpv4() const { return (value & ~uint64_t{0xFFFFFFFF}) == kIpv4; }
  uint32_t Bits() const { return static_cast<uint32_t>(value); }
  friend bool operator==(AddressKey a, AddressKey b) { return a.value == b.value; }
};

// The 32 bits of an IPv4 address in its plain dotted form; none for any other text.
std::optional<uint32_t> PlainIpv4(std::string_view text);
// The plain dotted form of an IPv4 address, written into buffer.
std::string_view FormatIpv4(uint32_t bits, char (&buffer)[16]);

// A stored page request (a page by its extension, or a failed request).
struct ResourceRecord {
  int64_t time = 0;                  // request time; date and time are written from it
  uint32_t path = kNoText;           // UriStem
  uint32_t query = kNoText;          // UriQuery, kNoText when the log has none
  std::optional<int64_t> status;     // StatusCode; none when not a decimal integer
  int64_t scBytes = 0;               // BytesLoad: 0 when absent or not numeric
  int64_t csBytes = 0;               // Bytes2
  int64_t timeTaken = 0;             // TimeLoad
  uint32_t next = UINT32_MAX;        // next resource of the same session
};

struct SessionRecord {
  int64_t enterTime = 0;             // earliest request (TimeEnter)
  int64_t exitTime = 0;              // latest request (TimeExit)
  AddressKey address;                // UserIP
  uint32_t userAgent = kNoText;      // UserAgent
  uint32_t referrer = kNoText;       // Referer, absent until a referrer from outside came
  std::optional<int64_t> status;     // ErrorCode; none when not a decimal integer
  int64_t bytes = 0;                 // sum of sc-bytes
  int64_t bytesIn = 0;               // sum of cs-bytes
  bool hasStatus = false;
  bool closed = false;
  bool seeded = false;               // stored by an earlier import, continued by this one
  bool deferred = false;             // stored while still open, in parts (SessionList::Defer)
  uint32_t resourceCount = 0;        // NumVisited (a seeded session counts its stored pages)
  // The page requests not handed over yet (all of them unless the session is deferred).
  uint32_t firstResource = UINT32_MAX;
  uint32_t lastResource = UINT32_MAX;
  uint32_t lastPath = kNoText;       // path of the latest page request
  uint32_t resourcesBefore = 0;      // the list's resources when it started: all of its own come later
};

// A session an earlier import stored that may still be open: its last request lies
// within the gap of the newest stored request. Seeding the builder with it lets the
// requests of a later import that starts where the stored data ended join it.
struct StoredSession {
  int64_t enterTime = 0, exitTime = 0;
  std::string address, userAgent, referrer;  // referrer "-" when none came from outside
  std::optional<int64_t> status;
  int64_t bytes = 0, bytesIn = 0;
  uint32_t resourceCount = 0;
};

class SessionList {
 public:
  // agentChaining: a request from a new address may continue an open session of the
  // same user agent (setting "IsAgentChaining"); off, a session has one address.
  explicit SessionList(std::string extensions = kDefaultExtensions, bool agentChaining = false);
  ~SessionList();
  SessionList(const SessionList&) = delete;
  SessionList& operator=(const SessionList&) = delete;

  size_t Count() const { return sessions_.size(); }
  const SessionRecord& At(size_t index) const { return sessions_[index]; }
  std::string_view Text(uint32_t id) const { return id == kNoText ? std::string_view() : pool_.Text(id); }
  // An address's text: an IPv4 address is written into buffer, any other stays in the pool.
  std::string_view AddressText(AddressKey key, char (&buffer)[16]) const {
    return key.IsIpv4() ? FormatIpv4(key.Bits(), buffer) : Text(static_cast<uint32_t>(key.value));
  }
  std::string AddressText(AddressKey key) const {
    char buffer[16];
    return std::string(AddressText(key, buffer));
  }
  const ResourceRecord& Resource(uint32_t index) const { return resources_[index]; }
  size_t ResourceTotal() const { return resources_.size(); }

  // The resources of a session in the order they were attached.
  template <typename F>
  void ForEachResource(const SessionRecord& session, F&& visit) const {
    for (uint32_t r = session.firstResource; r != UINT32_MAX; r = resources_[r].next) visit(resources_[r]);
  }

  const std::string& Extensions() const { return extensions_; }
  // The latest request time the list has seen (INT64_MIN before any).
  int64_t LatestTime() const { return latest_; }

  // The sessions before first are stored and never read again: they and the page
  // requests that belong to them alone leave memory (those before the first request of
  // the first session still to store, and before resourceFloor), a few megabytes at a
  // time: each release makes the kernel flush the address translations of every core
  // the import runs on. Deferred sessions stay, with the requests not handed over yet.
  // At() must not be asked for a released session. Call it on the thread that builds
  // the list. leastBytes: the memory worth one release.
  void ReleaseStored(size_t first, size_t resourceFloor = SIZE_MAX, size_t leastBytes = size_t{4} << 20);

  // A session that stays open while many later ones close (a monitor polling all day, a
  // crawler) would hold every later session in memory until it ends, as they are
  // stored in list order. Deferring it lets the store write it at its place as it is
  // now and the later sessions after it; it goes on taking requests. Defer and
  // HandOver give a copy of the record whose requests (from firstResource on) are the
  // ones not handed over before; they never change again, so another thread may read
  // them. The live record starts a new list of requests. index: an open session;
  // deferred sessions come in creation order.
  SessionRecord Defer(size_t index);
  SessionRecord HandOver(size_t index);

 private:
  friend void AddRequest(SessionList& list, const RequestRecord& request);
  friend void SeedSession(SessionList& list, const StoredSession& stored);
  friend void FinishSessionList(SessionList& list);
  struct Matcher;

  std::string extensions_;
  bool agentChaining_ = false;
  TextPool pool_;
  StableArray<SessionRecord> sessions_;
  StableArray<ResourceRecord> resources_;
  size_t resourcesReleased_ = 0, sessionsReleased_ = 0;
  int64_t latest_ = INT64_MIN;
  std::vector<uint32_t> deferred_;  // every deferred session, in creation order
  std::unique_ptr<Matcher> matcher_;
};

// Before the first request: an open session as the earlier import left it. Its page
// requests stay in the database; the ones that join it here are listed after them.
void SeedSession(SessionList& list, const StoredSession& stored);
// Attaches one request to an open session or starts a new one (in file order).
void AddRequest(SessionList& list, const RequestRecord& request);
// After the last line: every session without a referrer gets "-".
void FinishSessionList(SessionList& list);

// The referrer points into the site: an http, https or scheme-relative ("//") URL whose
// host is the site's host (from cs-host or the default host; it may carry a scheme,
// a port or a path), compared without regard to case, ports ignored.
bool IsInternalReferrer(std::string_view referrer, std::string_view host);

// The page key of a path: the text after its last "." cut to 10 characters, then one
// blank; empty when the path has no ".".
std::string PageKey(std::string_view path);
// A page: no extension, an extension found in the list (plain substring search), or a
// status above 399.
bool IsPage(std::string_view path, std::optional<int64_t> status, std::string_view extensions);

}  // namespace weavil
