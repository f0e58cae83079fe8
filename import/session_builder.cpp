#include "import/session_builder.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace weavil {

// ---------------------------------------------------------------- text pool

namespace {
constexpr size_t kPoolBlock = 1 << 20;
}

TextPool::TextPool() { ids_.reserve(4096); }

size_t TextPool::Hash::operator()(std::string_view text) const noexcept {
  return std::hash<std::string_view>()(text);
}

uint32_t TextPool::Intern(std::string_view text) {
  auto found = ids_.find(text);
  if (found != ids_.end()) return found->second;
  if (blocks_.empty() || blockSize_ - blockUsed_ < text.size()) {
    size_t size = std::max(kPoolBlock, text.size());
    blocks_.emplace_back(new char[size]);
    blockSize_ = size;
    blockUsed_ = 0;
  }
  char* at = blocks_.back().get() + blockUsed_;
  if (!text.empty()) std::memcpy(at, text.data(), text.size());
  blockUsed_ += text.size();
  std::string_view stored(at, text.size());
  uint32_t id = static_cast<uint32_t>(views_.size());
  views_.push_back(stored);
  ids_.emplace(stored, id);
  return id;
}

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

// ---------------------------------------------------------------- matching indexes

namespace {

// Minimum of the open sessions' exit times over creation order; a closed session holds
// the largest value. Finds every open session before a limit whose exit lies at or
// below a threshold, which is exactly the set a scan in creation order closes.
class ExitTree {
 public:
  void Append(int64_t exitTime) {
    if (count_ == capacity_) Grow();
    Set(count_++, exitTime);
  }

  void Set(size_t index, int64_t value) {
    size_t node = index + capacity_;
    tree_[node] = value;
    for (node >>= 1; node; node >>= 1) tree_[node] = std::min(tree_[2 * node], tree_[2 * node + 1]);
  }

  template <typename F>
  void CloseUpTo(size_t limit, int64_t threshold, F&& close) {
    if (count_ == 0 || limit == 0 || tree_[1] > threshold) return;
    Close(1, 0, capacity_, limit, threshold, close);
  }

 private:
  static constexpr int64_t kClosed = std::numeric_limits<int64_t>::max();

  template <typename F>
  void Close(size_t node, size_t lo, size_t hi, size_t limit, int64_t threshold, F& close) {
    if (lo >= limit || tree_[node] > threshold) return;
    if (hi - lo == 1) {
      tree_[node] = kClosed;
      close(lo);
      return;
    }
    size_t mid = (lo + hi) / 2;
    Close(2 * node, lo, mid, limit, threshold, close);
    Close(2 * node + 1, mid, hi, limit, threshold, close);
    tree_[node] = std::min(tree_[2 * node], tree_[2 * node + 1]);
  }

  void Grow() {
    size_t capacity = capacity_ ? capacity_ * 2 : 1024;
    std::vector<int64_t> tree(2 * capacity, kClosed);
    for (size_t i = 0; i < count_; ++i) tree[capacity + i] = tree_[capacity_ + i];
    for (size_t node = capacity - 1; node >= 1; --node) tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
    tree_.swap(tree);
    capacity_ = capacity;
  }

  std::vector<int64_t> tree_;
  size_t capacity_ = 0, count_ = 0;
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

}  // namespace

struct SessionList::Matcher {
  ExitTree exits;
  std::unordered_map<uint32_t, IndexList> byAddress;
  std::unordered_map<uint32_t, IndexList> byAgent;
  std::unordered_map<uint64_t, IndexList> byAgentReferrer;
};

SessionList::SessionList(std::string extensions, bool agentChaining)
    : extensions_(std::move(extensions)), agentChaining_(agentChaining), matcher_(std::make_unique<Matcher>()) {}

SessionList::~SessionList() = default;

// ---------------------------------------------------------------- AddRequest

void AddRequest(SessionList& list, const RequestRecord& request) {
  SessionList::Matcher& m = *list.matcher_;
  StableArray<SessionRecord>& sessions = list.sessions_;
  const int64_t now = request.requestTime;
  const uint32_t address = list.pool_.Intern(request.clientIp);
  const std::optional<int64_t> status = ParseDecimal(request.status);
  const bool internal = IsInternalReferrer(request.referrer, request.host);
  const bool page = IsPage(request.path, status, list.extensions_);
  auto isOpen = [&](uint32_t s) { return !sessions[s].closed; };
  // Lines need not come in time order: the gap is the distance to the session's span,
  // ahead of its latest request or behind its earliest.
  auto withinGap = [&](uint32_t s) {
    return now - sessions[s].exitTime <= kSessionGap && sessions[s].enterTime - now <= kSessionGap;
  };

  // First pass: the first open session of this address within the gap. Every open
  // session before it (in creation order) whose latest request lies more than the gap
  // behind this one is closed.
  uint32_t taker = UINT32_MAX;
  auto byAddress = m.byAddress.find(address);
  if (byAddress != m.byAddress.end()) taker = byAddress->second.FindFirst(isOpen, withinGap);
  m.exits.CloseUpTo(taker == UINT32_MAX ? sessions.size() : taker, now - kSessionGap - 1,
                    [&](size_t s) { sessions[s].closed = true; });

  uint32_t agent = kNoText;
  uint32_t referrer = kNoText;
  if (taker == UINT32_MAX && list.agentChaining_) {
    // Second pass over the open sessions (none is more than the gap behind now): same
    // user agent and a referrer that continues the session.
    agent = list.pool_.Intern(request.userAgent);
    if (!internal) {
      referrer = list.pool_.Intern(request.referrer);
      auto found = m.byAgentReferrer.find(AgentReferrerKey(agent, referrer));
      if (found != m.byAgentReferrer.end()) {
        taker = found->second.FindFirst(
            [&](uint32_t s) { return !sessions[s].closed && sessions[s].referrer == referrer; }, withinGap);
      }
    } else {
      auto found = m.byAgent.find(agent);
      if (found != m.byAgent.end()) {
        size_t hostAt = request.referrer.find(request.host);
        bool hostRoot = hostAt != std::string_view::npos && request.referrer.substr(hostAt + request.host.size()) == "/";
        taker = found->second.FindFirst(isOpen, [&](uint32_t s) {
          const SessionRecord& session = sessions[s];
          if (session.userAgent != agent || !withinGap(s)) return false;
          if (session.lastResource != UINT32_MAX &&
              request.referrer.find(list.pool_.Text(list.resources_[session.lastResource].path)) !=
                  std::string_view::npos)
            return true;
          return hostRoot;
        });
      }
    }
  }

  bool created = taker == UINT32_MAX;
  if (created) {
    taker = static_cast<uint32_t>(sessions.size());
    sessions.emplace_back();
    SessionRecord& session = sessions.back();
    session.enterTime = now;
    session.address = address;
    m.byAddress[address].items.push_back(taker);
    m.exits.Append(now);
  }
  SessionRecord& session = sessions[taker];

  if (page) {
    ResourceRecord resource;
    resource.time = now;
    resource.path = list.pool_.Intern(request.path);
    if (request.query) resource.query = list.pool_.Intern(*request.query);
    resource.status = status;
    if (request.scBytes) resource.scBytes = ParseDecimal(*request.scBytes).value_or(0);
    if (request.csBytes) resource.csBytes = ParseDecimal(*request.csBytes).value_or(0);
    if (request.timeTaken) resource.timeTaken = ParseDecimal(*request.timeTaken).value_or(0);
    uint32_t index = static_cast<uint32_t>(list.resources_.size());
    list.resources_.push_back(resource);
    if (session.lastResource == UINT32_MAX) session.firstResource = index;
    else list.resources_[session.lastResource].next = index;
    session.lastResource = index;
    ++session.resourceCount;
  }
  if (request.scBytes) session.bytes += ParseDecimal(*request.scBytes).value_or(0);
  if (request.csBytes) session.bytesIn += ParseDecimal(*request.csBytes).value_or(0);
  if (!created) {
    session.enterTime = std::min(session.enterTime, now);
    if (now > session.exitTime) {
      session.exitTime = now;
      m.exits.Set(taker, now);
    }
  } else {
    session.exitTime = now;
  }

  if (session.userAgent == kNoText) {
    if (agent == kNoText) agent = list.pool_.Intern(request.userAgent);
    session.userAgent = agent;
    m.byAgent[agent].items.push_back(taker);
  }
  if (created) {
    if (!internal) {
      if (referrer == kNoText) referrer = list.pool_.Intern(request.referrer);
      session.referrer = referrer;
      m.byAgentReferrer[AgentReferrerKey(session.userAgent, referrer)].items.push_back(taker);
    }
    session.hasStatus = true;
    session.status = status;
    return;
  }
  if (!session.hasStatus || session.status.value_or(0) > kStatusThreshold) {
    session.hasStatus = true;
    session.status = status;
  }
  if (!internal && (session.referrer == kNoText || list.pool_.Text(session.referrer).substr(0, 1) == "-")) {
    if (referrer == kNoText) referrer = list.pool_.Intern(request.referrer);
    if (session.referrer != referrer) {
      session.referrer = referrer;
      m.byAgentReferrer[AgentReferrerKey(session.userAgent, referrer)].Insert(taker);
    }
  }
}

void SeedSession(SessionList& list, const StoredSession& stored) {
  SessionList::Matcher& m = *list.matcher_;
  uint32_t index = static_cast<uint32_t>(list.sessions_.size());
  SessionRecord& session = list.sessions_.emplace_back();
  session.seeded = true;
  session.enterTime = stored.enterTime;
  session.exitTime = stored.exitTime;
  session.address = list.pool_.Intern(stored.address);
  session.userAgent = list.pool_.Intern(stored.userAgent);
  session.hasStatus = true;
  session.status = stored.status;
  session.bytes = stored.bytes;
  session.bytesIn = stored.bytesIn;
  session.resourceCount = stored.resourceCount;
  m.byAddress[session.address].items.push_back(index);
  m.byAgent[session.userAgent].items.push_back(index);
  m.exits.Append(stored.exitTime);
  if (!stored.referrer.empty() && stored.referrer != "-") {
    session.referrer = list.pool_.Intern(stored.referrer);
    m.byAgentReferrer[AgentReferrerKey(session.userAgent, session.referrer)].items.push_back(index);
  }
}

void FinishSessionList(SessionList& list) {
  uint32_t dash = list.pool_.Intern("-");
  list.sessions_.ForEach([&](SessionRecord& session) {
    if (session.referrer == kNoText) session.referrer = dash;
  });
}

}  // namespace weavil
