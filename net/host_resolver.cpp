#include "net/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <cstring>

#include "base/text.h"
#include "classify/country_lookup.h"
#include "classify/ip_address.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

bool SystemReverseResolver::LookUp(const std::string& address, std::string& hostName) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (address.find(':') != std::string::npos) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) return false;
    v6->sin6_family = AF_INET6;
    length = sizeof(sockaddr_in6);
  } else {
    // The classic conversion: a text that is no address reads as 255.255.255.255.
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = ::inet_addr(address.c_str());
    length = sizeof(sockaddr_in);
  }
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return false;
  hostName = host;
  return !hostName.empty();
}

std::string ReverseHostName(std::string_view hostName) {
  std::string result;
  result.reserve(hostName.size());
  std::string_view rest = hostName;
  for (size_t dot = rest.rfind('.'); dot != std::string_view::npos; dot = rest.rfind('.')) {
    result.append(rest.substr(dot + 1));
    result.push_back('.');
    rest = rest.substr(0, dot);
  }
  result.append(rest);
  return result;
}

int32_t UpdateHostName(DbSession& session, std::string_view address, std::string_view hostName,
                       CountryRanges& ranges) {
  std::string reversed = ReverseHostName(hostName);
  reversed = ToLowerAscii(reversed);
  while (!reversed.empty() && reversed.back() == ' ') reversed.pop_back();

  std::string name(hostName);
  if (reversed.empty() || reversed == "-") {
    reversed = UnresolvedReverseName(address);
    name = "-";
  }

  const std::string country = ranges.Lookup(address);
  Statement statement;
  return statement.Query(session, "Update DNSLookUp SET FullName=?, URL=?, rURL=?, CountryCode=? WHERE UserIP=?;",
                         name, name, reversed, country, address);
}

std::string ResolveListQuery(bool allUnresolved) {
  std::string sql = "Select UserIP, FullName FROM DNSLookUp WHERE (FullName Is Null) OR (FullName='')";
  if (allUnresolved) sql += " OR (FullName='-')";
  return sql;
}

ResolveRun::ResolveRun(DbSession& session, ReverseResolver& resolver, ResolveObserver* observer)
    : session_(session), resolver_(resolver), observer_(observer) {}

ResolveRun::~ResolveRun() {
  Stop();
  Wait();
}

int32_t ResolveRun::FillList(bool allUnresolved) {
  if (running_.load()) return kResultFail;
  std::vector<ResolveRow> rows;
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    Statement statement;
    int32_t result = statement.Execute(session_, ResolveListQuery(allUnresolved));
    if (Failed(result)) {
      std::lock_guard<std::mutex> rowsLock(rowsMutex_);
      rows_.clear();
      return result;
    }
    while (statement.MoveNext() == kResultOk) {
      ResolveRow row;
      statement.GetText(1, row.ip);
      rows.push_back(std::move(row));
    }
  }
  std::lock_guard<std::mutex> lock(rowsMutex_);
  rows_ = std::move(rows);
  return kResultOk;
}

bool ResolveRun::Start() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (running_.load()) return false;
  if (dispatcher_.joinable()) dispatcher_.join();
  stop_.store(false);
  running_.store(true);
  {
    // Read again for each run, as the queries would read the table then.
    std::lock_guard<std::mutex> lock(sessionMutex_);
    countries_ = CountryRanges(&session_);
  }
  dispatcher_ = std::thread(&ResolveRun::ResolveDispatcher, this);
  return true;
}

void ResolveRun::Stop() {
  stop_.store(true);
  std::lock_guard<std::mutex> lock(wakeMutex_);
  wake_.notify_all();
}

bool ResolveRun::RequestClose() {
  autoClose_.store(true);
  Stop();
  return !running_.load();
}

void ResolveRun::Wait() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (dispatcher_.joinable()) dispatcher_.join();
}

size_t ResolveRun::RowCount() const {
  std::lock_guard<std::mutex> lock(rowsMutex_);
  return rows_.size();
}

ResolveRow ResolveRun::Row(size_t index) const {
  std::lock_guard<std::mutex> lock(rowsMutex_);
  return index < rows_.size() ? rows_[index] : ResolveRow{};
}

std::vector<ResolveRow> ResolveRun::Rows() const {
  std::lock_guard<std::mutex> lock(rowsMutex_);
  return rows_;
}

void ResolveRun::ReapWorkers(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || it->finished->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ResolveRun::ResolveDispatcher() {
  using namespace std::chrono_literals;
  for (size_t index = 0; index < RowCount(); ++index) {
    bool pending;
    {
      std::lock_guard<std::mutex> lock(rowsMutex_);
      pending = !rows_[index].done;
    }
    if (pending) {
      {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        while (activeCount_.load() >= kMaxResolveWorkers && !stop_.load()) wake_.wait_for(lock, 100ms);
      }
      // Stop pressed while we waited for a free slot: this row is not started either.
      if (stop_.load()) break;
      ReapWorkers(false);
      int started = startedCount_.load();
      auto finished = std::make_shared<std::atomic<bool>>(false);
      workers_.push_back({std::thread([this, index, finished] {
                            ResolveWorker(index);
                            finished->store(true);
                          }),
                          finished});
      // Wait until the worker has picked up its row, so the active count covers it.
      std::unique_lock<std::mutex> lock(wakeMutex_);
      while (startedCount_.load() == started) wake_.wait_for(lock, 10ms);
    }
    if (stop_.load()) break;
  }
  {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    while (activeCount_.load() > 0) wake_.wait_for(lock, 100ms);
  }
  ReapWorkers(true);
  bool autoClose = autoClose_.load();
  running_.store(false);
  if (observer_) observer_->RunFinished(autoClose);
}

std::string ResolveRun::FirstWriteError() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return firstWriteError_;
}

void ResolveRun::ResolveWorker(size_t row) {
  std::string address;
  {
    std::lock_guard<std::mutex> lock(rowsMutex_);
    address = rows_[row].ip;
    rows_[row].url = "*";
  }
  if (observer_) observer_->RowChanged(row, "*");
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    activeCount_.fetch_add(1);
    startedCount_.fetch_add(1);
    wake_.notify_all();
  }

  std::string hostName;
  if (!resolver_.LookUp(address, hostName) || hostName.empty()) hostName = "-";
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (Failed(UpdateHostName(session_, address, hostName, countries_)) && failedWrites_.fetch_add(1) == 0) {
      firstWriteError_ = session_.LastError().message;
      stop_.store(true);
    }
  }

  {
    std::lock_guard<std::mutex> lock(rowsMutex_);
    rows_[row].url = hostName;
    rows_[row].done = true;
  }
  if (observer_) observer_->RowChanged(row, hostName);
  std::lock_guard<std::mutex> lock(wakeMutex_);
  activeCount_.fetch_sub(1);
  wake_.notify_all();
}

}  // namespace weavil
