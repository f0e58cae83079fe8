#include "import/session_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "base/text.h"
#include "classify/ip_address.h"

namespace weavil {

// ---------------------------------------------------------------- page and referrer tests

namespace {

// The host name of an authority or URL: scheme, user, port, path, query and fragment
// cut off; an IPv6 literal keeps its brackets.
std::string_view HostPart(std::string_view text) {
  if (StartsWithNoCase(text, "http://")) text.remove_prefix(7);
  else if (StartsWithNoCase(text, "https://")) text.remove_prefix(8);
  else if (text.substr(0, 2) == "//") text.remove_prefix(2);
  text = text.substr(0, text.find_first_of("/?#"));
  if (size_t at = text.rfind('@'); at != std::string_view::npos) text.remove_prefix(at + 1);
  if (!text.empty() && text[0] == '[') return text.substr(0, text.find(']') + 1);
  return text.substr(0, text.find(':'));
}

}  // namespace

bool IsInternalReferrer(std::string_view referrer, std::string_view host) {
  if (host.empty()) return false;
  if (!StartsWithNoCase(referrer, "http://") && !StartsWithNoCase(referrer, "https://") &&
      referrer.substr(0, 2) != "//")
    return false;
  std::string_view site = HostPart(host);
  return !site.empty() && EqualsNoCase(HostPart(referrer), site);
}

std::string PageKey(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string key(path.substr(dot + 1, kPageKeyLength));
  key.push_back(' ');
  return key;
}

bool IsPage(std::string_view path, std::optional<int64_t> status, std::string_view extensions) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return true;
  std::string_view ext = path.substr(dot + 1, kPageKeyLength);
  char key[kPageKeyLength + 1];
  std::memcpy(key, ext.data(), ext.size());
  key[ext.size()] = ' ';
  if (extensions.find(std::string_view(key, ext.size() + 1)) != std::string_view::npos) return true;
  return status.value_or(0) > kStatusThreshold;
}

std::optional<uint32_t> PlainIpv4(std::string_view text) {
  std::optional<uint32_t> bits = ParseDottedIpv4(text);
  if (!bits) return std::nullopt;
  // No part with a leading zero: "01.2.3.4" is another text than "1.2.3.4".
  for (size_t at = 0; at + 1 < text.size(); ++at)
    if (text[at] == '0' && (at == 0 || text[at - 1] == '.') && text[at + 1] != '.') return std::nullopt;
  return bits;
}

std::string_view FormatIpv4(uint32_t bits, char (&buffer)[16]) {
  size_t length = 0;
  for (int part = 3; part >= 0; --part) {
    uint32_t number = (bits >> (8 * part)) & 0xFF;
    if (number >= 100) buffer[length++] = static_cast<char>('0' + number / 100);
    if (number >= 10) buffer[length++] = static_cast<char>('0' + number / 10 % 10);
    buffer[length++] = static_cast<char>('0' + number % 10);
    if (part) buffer[length++] = '.';
  }
  return std::string_view(buffer, length);
}

// ---------------------------------------------------------------- matching indexes

namespace {

// Minimum of the open sessions' exit times over creation order; a closed session holds
// the largest value. Finds every open session before a limit whose exit lies at or
// below a threshold, which is exactly the set a scan in creation order closes. Only the
// sessions from the first open one on are held: the closed ones before it leave the
// tree whenever it runs out of room, so its size follows the open sessions' span, not
// the log's.
class ExitTree {
 public:
  void Append(int64_t exitTime) {
    if (count_ - base_ == capacity_) Rebase();
    Set(count_++, exitTime);
  }

  // index: an open session (never one before the first open session).
  void Set(size_t index, int64_t value) {
    size_t node = index - base_ + capacity_;
    tree_[node] = value;
    for (node >>= 1; node; node >>= 1) tree_[node] = std::min(tree_[2 * node], tree_[2 * node + 1]);
  }

  // The session leaves the tree as if closed (it is kept elsewhere).
  void Remove(size_t index) { Set(index, kClosed); }

  template <typename F>
  void CloseUpTo(size_t limit, int64_t threshold, F&& close) {
    if (count_ == base_ || limit <= base_ || tree_[1] > threshold) return;
    Close(1, 0, capacity_, limit - base_, threshold, close);
  }

 private:
  static constexpr int64_t kClosed = std::numeric_limits<int64_t>::max();

  template <typename F>
  void Close(size_t node, size_t lo, size_t hi, size_t limit, int64_t threshold, F& close) {
    if (lo >= limit || tree_[node] > threshold) return;
    if (hi - lo == 1) {
      tree_[node] = kClosed;
      close(base_ + lo);
      return;
    }
    size_t mid = (lo + hi) / 2;
    Close(2 * node, lo, mid, limit, threshold, close);
    Close(2 * node + 1, mid, hi, limit, threshold, close);
    tree_[node] = std::min(tree_[2 * node], tree_[2 * node + 1]);
  }

  // Drops the closed sessions before the first open one and makes room for as many
  // sessions again as stay.
  void Rebase() {
    size_t first = base_;
    while (first < count_ && tree_[capacity_ + first - base_] == kClosed) ++first;
    const size_t capacity = std::bit_ceil(std::max<size_t>(1024, 2 * (count_ - first)));
    std::vector<int64_t> tree(2 * capacity, kClosed);
    for (size_t i = first; i < count_; ++i) tree[capacity + i - first] = tree_[capacity_ + i - base_];
    for (size_t node = capacity - 1; node >= 1; --node) tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
    tree_.swap(tree);
    capacity_ = capacity;
    base_ = first;
  }

  std::vector<int64_t> tree_;
  size_t capacity_ = 0, count_ = 0, base_ = 0;
};

// Session indexes in creation order. Entries that stopped qualifying (closed, or a
// referrer that changed) are dropped lazily when a walk meets them.
struct IndexList {
  std::vector<uint32_t> items;
  size_t head = 0;

  // The first entry accepted by take; valid() tells which entries still belong.
  template <typename Valid, typename Take>
  uint32_t FindFirst(Valid&& valid, Take&& take) {
    size_t stale = 0;
    uint32_t found = UINT32_MAX;
    for (size_t i = head; i < items.size(); ++i) {
      uint32_t s = items[i];
      if (!valid(s)) {
        if (i == head) ++head;
        else ++stale;
        continue;
      }
      if (take(s)) {
        found = s;
        break;
      }
    }
    if (stale > 16) {
      auto keep = std::remove_if(items.begin() + static_cast<long>(head), items.end(),
                                 [&](uint32_t s) { return !valid(s); });
      items.erase(keep, items.end());
    }
    if (head > 64 && head * 2 > items.size()) {
      items.erase(items.begin(), items.begin() + static_cast<long>(head));
      head = 0;
    }
    return found;
  }

  // Keeps only the entries open() accepts; false when none is left.
  template <typename Open>
  bool KeepOpen(Open&& open) {
    auto kept = std::remove_if(items.begin() + static_cast<long>(head), items.end(),
                               [&](uint32_t s) { return !open(s); });
    items.erase(kept, items.end());
    items.erase(items.begin(), items.begin() + static_cast<long>(head));
    head = 0;
    if (items.capacity() > 4 * items.size() + 16) items.shrink_to_fit();
    return !items.empty();
  }

  // Adds a session keeping creation order (a session may come back to a list).
  void Insert(uint32_t s) {
    if (items.size() == head || items.back() < s) {
      items.push_back(s);
      return;
    }
    auto begin = items.begin() + static_cast<long>(head);
    auto at = std::lower_bound(begin, items.end(), s);
    if (at == items.end() || *at != s) items.insert(at, s);
  }
};

inline uint64_t AgentReferrerKey(uint32_t agent, uint32_t referrer) {
  return (static_cast<uint64_t>(agent) << 32) | referrer;
}

// The open sessions by address, by user agent and by (user agent, referrer), and their
// exit times.
struct SessionIndexes {
  ExitTree exits;
  // The deferred sessions' exit times, by their place in deferred (creation order):
  // they leave exits, whose size would otherwise follow the span from the oldest of them.
  ExitTree deferredExits;
  const std::vector<uint32_t>* deferred = nullptr;
  std::unordered_map<uint64_t, IndexList> byAddress;  // by AddressKey
  std::unordered_map<uint32_t, IndexList> byAgent;
  std::unordered_map<uint64_t, IndexList> byAgentReferrer;
  size_t closedSinceSweep = 0;
};

// What AddRequest works on: the parts of the list, handed over by its friend. The
// sessions before released are stored and gone from memory: all of them were closed.
struct ListParts {
  SessionIndexes& m;
  StableArray<SessionRecord>& sessions;
  StableArray<ResourceRecord>& resources;
  TextPool& pool;
  size_t released;

  // A released session is closed, but for a deferred one, which stays in memory.
  bool IsOpen(uint32_t s) {
    if (s < released && !std::binary_search(m.deferred->begin(), m.deferred->end(), s)) return false;
    return !sessions[s].closed;
  }
};

// Most addresses come once: their entries would stay in the indexes for good, and so
// would every closed session in a list that is no longer walked (the user agent lists
// without agent chaining). Once as many sessions closed as the indexes hold, the
// closed sessions and the emptied entries go; the walks skip closed sessions anyway,
// so no match changes.
template <typename Map>
void DropClosed(ListParts& list, Map& map) {
  for (auto at = map.begin(); at != map.end();) {
    if (at->second.KeepOpen([&](uint32_t s) { return list.IsOpen(s); })) ++at;
    else at = map.erase(at);
  }
}

void SweepIndexes(ListParts& list) {
  SessionIndexes& m = list.m;
  if (m.closedSinceSweep < std::max<size_t>(1024, m.byAddress.size())) return;
  m.closedSinceSweep = 0;
  DropClosed(list, m.byAddress);
  DropClosed(list, m.byAgent);
  DropClosed(list, m.byAgentReferrer);
}

// One request as the matching sees it. Its user agent and referrer are interned only
// when a step needs them, and then once.
struct Arrival {
  const RequestRecord& request;
  int64_t now;
  AddressKey address;
  std::optional<int64_t> status;
  bool internal, page;
  uint32_t agent = kNoText, referrer = kNoText;

  uint32_t Agent(TextPool& pool) {
    if (agent == kNoText) agent = pool.Intern(request.userAgent);
    return agent;
  }
  uint32_t Referrer(TextPool& pool) {
    if (referrer == kNoText) referrer = pool.Intern(request.referrer);
    return referrer;
  }
};

// Lines need not come in time order: the gap is the distance to the session's span,
// ahead of its latest request or behind its earliest.
inline bool WithinGap(const SessionRecord& session, int64_t now) {
  return now - session.exitTime <= kSessionGap && session.enterTime - now <= kSessionGap;
}

// The first open session of the request's address within the gap (UINT32_MAX when
// none). Every open session before it (in creation order) whose latest request lies
// more than the gap behind this one is closed.
uint32_t JoinByAddress(ListParts& list, const Arrival& a) {
  StableArray<SessionRecord>& sessions = list.sessions;
  uint32_t taker = UINT32_MAX;
  auto byAddress = list.m.byAddress.find(a.address.value);
  if (byAddress != list.m.byAddress.end())
    taker = byAddress->second.FindFirst([&](uint32_t s) { return list.IsOpen(s); },
                                        [&](uint32_t s) { return WithinGap(sessions[s], a.now); });
  const size_t limit = taker == UINT32_MAX ? sessions.size() : taker;
  list.m.exits.CloseUpTo(limit, a.now - kSessionGap - 1, [&](size_t s) {
    sessions[s].closed = true;
    ++list.m.closedSinceSweep;
  });
  const std::vector<uint32_t>& deferred = *list.m.deferred;
  if (!deferred.empty()) {
    size_t before = static_cast<size_t>(std::lower_bound(deferred.begin(), deferred.end(), limit) - deferred.begin());
    list.m.deferredExits.CloseUpTo(before, a.now - kSessionGap - 1, [&](size_t at) {
      sessions[deferred[at]].closed = true;
      ++list.m.closedSinceSweep;
    });
  }
  return taker;
}

// With agent chaining, over the open sessions (none is more than the gap behind now):
// the first with the same user agent and a referrer that continues it. A referrer from
// outside must be the session's own; one from inside must name the session's last page
// or the site's root.
uint32_t JoinByAgent(ListParts& list, Arrival& a) {
  StableArray<SessionRecord>& sessions = list.sessions;
  const RequestRecord& request = a.request;
  uint32_t agent = a.Agent(list.pool);
  if (!a.internal) {
    uint32_t referrer = a.Referrer(list.pool);
    auto found = list.m.byAgentReferrer.find(AgentReferrerKey(agent, referrer));
    if (found == list.m.byAgentReferrer.end()) return UINT32_MAX;
    return found->second.FindFirst(
        [&](uint32_t s) { return list.IsOpen(s) && sessions[s].referrer == referrer; },
        [&](uint32_t s) { return WithinGap(sessions[s], a.now); });
  }
  auto found = list.m.byAgent.find(agent);
  if (found == list.m.byAgent.end()) return UINT32_MAX;
  size_t hostAt = request.referrer.find(request.host);
  bool hostRoot = hostAt != std::string_view::npos && request.referrer.substr(hostAt + request.host.size()) == "/";
  return found->second.FindFirst([&](uint32_t s) { return list.IsOpen(s); }, [&](uint32_t s) {
    const SessionRecord& session = sessions[s];
    if (session.userAgent != agent || !WithinGap(session, a.now)) return false;
    if (session.lastPath != kNoText && request.referrer.find(list.pool.Text(session.lastPath)) != std::string_view::npos)
      return true;
    return hostRoot;
  });
}

uint32_t StartSession(ListParts& list, const Arrival& a) {
  uint32_t index = static_cast<uint32_t>(list.sessions.size());
  SessionRecord& session = list.sessions.emplace_back();
  session.enterTime = a.now;
  session.address = a.address;
  session.resourcesBefore = static_cast<uint32_t>(list.resources.size());
  list.m.byAddress[a.address.value].items.push_back(index);
  list.m.exits.Append(a.now);
  return index;
}

// The page request joins the end of the session's list.
void AttachPage(ListParts& list, SessionRecord& session, const Arrival& a) {
  const RequestRecord& request = a.request;
  ResourceRecord resource;
  resource.time = a.now;
  resource.path = list.pool.Intern(request.path);
  if (request.query) resource.query = list.pool.Intern(*request.query);
  resource.status = a.status;
  if (request.scBytes) resource.scBytes = ParseDecimal(*request.scBytes).value_or(0);
  if (request.csBytes) resource.csBytes = ParseDecimal(*request.csBytes).value_or(0);
  if (request.timeTaken) resource.timeTaken = ParseDecimal(*request.timeTaken).value_or(0);
  uint32_t index = static_cast<uint32_t>(list.resources.size());
  list.resources.push_back(resource);
  if (session.lastResource == UINT32_MAX) session.firstResource = index;
  else list.resources[session.lastResource].next = index;
  session.lastResource = index;
  session.lastPath = resource.path;
  ++session.resourceCount;
}

// Byte sums and the session's span; a later exit moves the session in the exit tree.
void AddBytesAndTime(ListParts& list, SessionRecord& session, uint32_t taker, const Arrival& a, bool created) {
  const RequestRecord& request = a.request;
  if (request.scBytes) session.bytes += ParseDecimal(*request.scBytes).value_or(0);
  if (request.csBytes) session.bytesIn += ParseDecimal(*request.csBytes).value_or(0);
  if (created) {
    session.exitTime = a.now;
    return;
  }
  session.enterTime = std::min(session.enterTime, a.now);
  if (a.now > session.exitTime) {
    session.exitTime = a.now;
    if (!session.deferred) {
      list.m.exits.Set(taker, a.now);
    } else {
      const std::vector<uint32_t>& deferred = *list.m.deferred;
      list.m.deferredExits.Set(
          static_cast<size_t>(std::lower_bound(deferred.begin(), deferred.end(), taker) - deferred.begin()), a.now);
    }
  }
}

// A new session takes the request's status and its referrer from outside. A joined one
// takes the status while it has none or an error, and a referrer from outside while it
// has none or "-".
void TakeStatusAndReferrer(ListParts& list, SessionRecord& session, uint32_t taker, Arrival& a, bool created) {
  if (created) {
    if (!a.internal) {
      session.referrer = a.Referrer(list.pool);
      list.m.byAgentReferrer[AgentReferrerKey(session.userAgent, session.referrer)].items.push_back(taker);
    }
    session.hasStatus = true;
    session.status = a.status;
    return;
  }
  if (!session.hasStatus || session.status.value_or(0) > kStatusThreshold) {
    session.hasStatus = true;
    session.status = a.status;
  }
  if (!a.internal && (session.referrer == kNoText || list.pool.Text(session.referrer).substr(0, 1) == "-")) {
    uint32_t referrer = a.Referrer(list.pool);
    if (session.referrer != referrer) {
      session.referrer = referrer;
      list.m.byAgentReferrer[AgentReferrerKey(session.userAgent, referrer)].Insert(taker);
    }
  }
}

}  // namespace

struct SessionList::Matcher : SessionIndexes {};

SessionList::SessionList(std::string extensions, bool agentChaining)
    : extensions_(std::move(extensions)), agentChaining_(agentChaining), matcher_(std::make_unique<Matcher>()) {
  matcher_->deferred = &deferred_;
}

SessionList::~SessionList() = default;

void SessionList::ReleaseStored(size_t first, size_t resourceFloor, size_t leastBytes) {
  first = std::min(first, sessions_.size());
  size_t end = first < sessions_.size() ? sessions_[first].resourcesBefore : resources_.size();
  end = std::min(end, resourceFloor);
  // The requests of a deferred session not handed over yet stay.
  for (uint32_t s : deferred_)
    if (sessions_[s].firstResource != UINT32_MAX) end = std::min<size_t>(end, sessions_[s].firstResource);
  if (end > resourcesReleased_ && (end - resourcesReleased_) * sizeof(ResourceRecord) >= leastBytes) {
    resources_.Release(end);
    resourcesReleased_ = end;
  }
  if (first > sessionsReleased_ && (first - sessionsReleased_) * sizeof(SessionRecord) >= leastBytes) {
    sessions_.Release(first, deferred_);
    sessionsReleased_ = first;
  }
}

SessionRecord SessionList::Defer(size_t index) {
  SessionRecord& session = sessions_[index];
  session.deferred = true;
  matcher_->exits.Remove(index);
  deferred_.push_back(static_cast<uint32_t>(index));
  matcher_->deferredExits.Append(session.exitTime);
  return HandOver(index);
}

SessionRecord SessionList::HandOver(size_t index) {
  SessionRecord& session = sessions_[index];
  SessionRecord copy = session;
  // The handed-over list ends here: its last request's link is never written again.
  session.firstResource = session.lastResource = UINT32_MAX;
  return copy;
}

// ---------------------------------------------------------------- AddRequest

namespace {

AddressKey KeyOf(TextPool& pool, std::string_view address) {
  if (std::optional<uint32_t> bits = PlainIpv4(address)) return AddressKey{AddressKey::kIpv4 | *bits};
  return AddressKey{pool.Intern(address)};
}

}  // namespace

void AddRequest(SessionList& list, const RequestRecord& request) {
  ListParts parts{*list.matcher_, list.sessions_, list.resources_, list.pool_, list.sessionsReleased_};
  Arrival a{request, request.requestTime, KeyOf(list.pool_, request.clientIp), ParseDecimal(request.status),
            IsInternalReferrer(request.referrer, request.host), false};
  a.page = IsPage(request.path, a.status, list.extensions_);
  list.latest_ = std::max(list.latest_, a.now);

  uint32_t taker = JoinByAddress(parts, a);
  if (taker == UINT32_MAX && list.agentChaining_) taker = JoinByAgent(parts, a);
  const bool created = taker == UINT32_MAX;
  if (created) taker = StartSession(parts, a);
  SessionRecord& session = list.sessions_[taker];
  if (a.page) AttachPage(parts, session, a);
  AddBytesAndTime(parts, session, taker, a, created);
  if (session.userAgent == kNoText) {
    session.userAgent = a.Agent(list.pool_);
    parts.m.byAgent[session.userAgent].items.push_back(taker);
  }
  TakeStatusAndReferrer(parts, session, taker, a, created);
  SweepIndexes(parts);
}

void SeedSession(SessionList& list, const StoredSession& stored) {
  SessionList::Matcher& m = *list.matcher_;
  uint32_t index = static_cast<uint32_t>(list.sessions_.size());
  SessionRecord& session = list.sessions_.emplace_back();
  session.seeded = true;
  session.resourcesBefore = static_cast<uint32_t>(list.resources_.size());
  session.enterTime = stored.enterTime;
  session.exitTime = stored.exitTime;
  session.address = KeyOf(list.pool_, stored.address);
  session.userAgent = list.pool_.Intern(stored.userAgent);
  session.hasStatus = true;
  session.status = stored.status;
  session.bytes = stored.bytes;
  session.bytesIn = stored.bytesIn;
  session.resourceCount = stored.resourceCount;
  m.byAddress[session.address.value].items.push_back(index);
  m.byAgent[session.userAgent].items.push_back(index);
  m.exits.Append(stored.exitTime);
  if (!stored.referrer.empty() && stored.referrer != "-") {
    session.referrer = list.pool_.Intern(stored.referrer);
    m.byAgentReferrer[AgentReferrerKey(session.userAgent, session.referrer)].items.push_back(index);
  }
}

void FinishSessionList(SessionList& list) {
  uint32_t dash = list.pool_.Intern("-");
  for (size_t s = list.sessionsReleased_; s < list.sessions_.size(); ++s)
    if (list.sessions_[s].referrer == kNoText) list.sessions_[s].referrer = dash;
}

}  // namespace weavil
