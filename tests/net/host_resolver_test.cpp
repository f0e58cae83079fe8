#include "net/host_resolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "store/database.h"
#include "store/result.h"
#include "tests/net/stub_resolver.h"
#include "tests/store/template_db_test.h"

namespace weavil {
namespace {

using namespace std::chrono_literals;

using test::StubResolver;

class RecordingObserver : public ResolveObserver {
 public:
  void RowChanged(size_t row, const std::string& url) override {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.emplace_back(row, url);
  }
  void RunFinished(bool autoClose) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
    autoClose_ = autoClose;
    done_.notify_all();
  }
  bool WaitFinished(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, 20s, [&] { return finished_ >= count; });
  }
  bool AutoClose() {
    std::lock_guard<std::mutex> lock(mutex_);
    return autoClose_;
  }
  std::vector<std::pair<size_t, std::string>> Changes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::pair<size_t, std::string>> changes_;
  int finished_ = 0;
  bool autoClose_ = false;
};

class ResolveTest : public test::TemplateDbTest {
 protected:
  CountryRanges ranges_{&session_};
  void AddAddress(const std::string& address, const char* fullName = nullptr) {
    Exec("Insert into DNSLookUp (UserIP, FullName, CountryCode) values ('" + address + "', " +
         (fullName ? "'" + std::string(fullName) + "'" : std::string("NULL")) + ", '')");
  }

  // FullName, URL, rURL and CountryCode of one row, joined with "|".
  std::string RowOf(const std::string& address) {
    Statement statement;
    statement.Execute(session_, "Select FullName, URL, rURL, CountryCode from DNSLookUp where UserIP='" + address + "'");
    if (statement.MoveNext() != kResultOk) return "<none>";
    std::string result;
    for (int i = 1; i <= 4; ++i) {
      std::string value;
      if (!statement.GetText(i, value)) value = "<null>";
      result += (i > 1 ? "|" : "") + value;
    }
    return result;
  }
};

TEST(ReverseHostNameTest, ReversesLabels) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.b.c", "c.b.a"},
      {"crawl-66-249-66-1.googlebot.com", "com.googlebot.crawl-66-249-66-1"},
      {"localhost", "localhost"},
      {"-", "-"},
      {"", ""},
      {"host.", ".host"},  // a trailing dot gives an empty first label
  };
  for (const auto& [name, reversed] : cases) {
    EXPECT_EQ(ReverseHostName(name), reversed) << name;
    EXPECT_EQ(ReverseHostName(reversed), name) << name;  // reversing twice gives the name back
  }
}

TEST_F(ResolveTest, UpdateWritesNameReversedFormAndCountry) {
  AddAddress("8.8.8.8");
  AddAddress("127.0.0.1");
  AddAddress("10.1.2.3");

  UpdateHostName(session_, "8.8.8.8", "Dns.Google", ranges_);
  UpdateHostName(session_, "127.0.0.1", "-", ranges_);
  UpdateHostName(session_, "10.1.2.3", "", ranges_);

  // Capitals stay in FullName and URL, rURL is lower-cased; the country comes from the
  // shipped ranges.
  EXPECT_EQ(RowOf("8.8.8.8"), "Dns.Google|Dns.Google|google.dns|US");
  // No name: "-" and "ip." with the address; an address outside every range keeps "".
  EXPECT_EQ(RowOf("127.0.0.1"), "-|-|ip.127.0.0.1|");
  EXPECT_EQ(RowOf("10.1.2.3"), "-|-|ip.10.1.2.3|");

  // IPv6: the country from the IPv6 ranges, the full form under "ip.".
  AddAddress("2001:41d0:8:f69::1");
  UpdateHostName(session_, "2001:41d0:8:f69::1", "-", ranges_);
  EXPECT_EQ(RowOf("2001:41d0:8:f69::1"), "-|-|ip.2001:41d0:0008:0f69:0000:0000:0000:0001|FR");
}

TEST_F(ResolveTest, QuotesInNamesAndAddressesDoNotBreakTheUpdate) {
  AddAddress("1.2.3.4''x");  // stored as 1.2.3.4'x
  UpdateHostName(session_, "1.2.3.4'x", "o'brien.example", ranges_);
  EXPECT_EQ(RowOf("1.2.3.4''x"), "o'brien.example|o'brien.example|example.o'brien|");
}

TEST_F(ResolveTest, ListHoldsUnresolvedAddressesAndFailuresOnlyWhenAsked) {
  AddAddress("1.1.1.1");
  AddAddress("2.2.2.2", "");
  AddAddress("3.3.3.3", "-");
  AddAddress("4.4.4.4", "known.example");

  StubResolver resolver;
  ResolveRun run(session_, resolver);
  ASSERT_TRUE(Succeeded(run.FillList(false)));
  std::vector<std::string> ips;
  for (const ResolveRow& row : run.Rows()) {
    ips.push_back(row.ip);
    EXPECT_FALSE(row.done);
    EXPECT_EQ(row.url, "");
  }
  EXPECT_EQ(ips, (std::vector<std::string>{"1.1.1.1", "2.2.2.2"}));

  ASSERT_TRUE(Succeeded(run.FillList(true)));
  EXPECT_EQ(run.RowCount(), 3u);
  EXPECT_EQ(run.Row(2).ip, "3.3.3.3");
}

// A run over the addresses prefix1 to prefixN, watched by an observer.
class ResolveRunTest : public ResolveTest {
 protected:
  void FillRun(const std::string& prefix, int count) {
    for (int i = 1; i <= count; ++i) AddAddress(prefix + std::to_string(i));
    run_ = std::make_unique<ResolveRun>(session_, resolver_, &observer_);
    ASSERT_TRUE(Succeeded(run_->FillList(false)));
  }

  // Fills the run with the gate closed, starts it and waits until calls lookups wait there.
  void StartBehindGate(const std::string& prefix, int count, int calls) {
    resolver_.CloseGate();
    FillRun(prefix, count);
    ASSERT_TRUE(run_->Start());
    ASSERT_TRUE(resolver_.WaitForCalls(calls));
  }

  // Starts the run and waits for its end (the count-th end the observer sees).
  void RunToEnd(int count) {
    ASSERT_TRUE(run_->Start());
    ASSERT_TRUE(observer_.WaitFinished(count));
    run_->Wait();
  }

  StubResolver resolver_;
  RecordingObserver observer_;
  // Declared last: its workers end before the resolver and the observer go.
  std::unique_ptr<ResolveRun> run_;
};

TEST_F(ResolveRunTest, TwentyAddressesNeverRunMoreThanNineLookupsAtOnce) {
  resolver_.SetPause(30ms);
  for (int i = 1; i <= 20; i += 2)
    resolver_.SetName("192.0.2." + std::to_string(i), "Host" + std::to_string(i) + ".Example.ORG");
  ASSERT_NO_FATAL_FAILURE(FillRun("192.0.2.", 20));
  ResolveRun& run = *run_;
  ASSERT_EQ(run.RowCount(), 20u);

  ASSERT_TRUE(run.Start());
  EXPECT_FALSE(run.Start());  // one run at a time
  ASSERT_TRUE(observer_.WaitFinished(1));
  run.Wait();

  EXPECT_LE(resolver_.Peak(), kMaxResolveWorkers);
  EXPECT_GE(resolver_.Peak(), 2);  // the lookups did overlap
  EXPECT_EQ(resolver_.Calls(), 20);
  EXPECT_EQ(run.ActiveCount(), 0);
  EXPECT_EQ(run.StartedCount(), 20);
  EXPECT_FALSE(run.IsRunning());
  EXPECT_FALSE(observer_.AutoClose());
  for (const ResolveRow& row : run.Rows()) EXPECT_TRUE(row.done) << row.ip;
  EXPECT_EQ(run.Row(0).url, "Host1.Example.ORG");
  EXPECT_EQ(run.Row(1).url, "-");
  EXPECT_EQ(RowOf("192.0.2.1"), "Host1.Example.ORG|Host1.Example.ORG|org.example.host1|");
  EXPECT_EQ(RowOf("192.0.2.2"), "-|-|ip.192.0.2.2|");

  // Every row showed "*" before its result.
  auto changes = observer_.Changes();
  EXPECT_EQ(changes.size(), 40u);
  for (size_t row = 0; row < 20; ++row) {
    auto star = std::find(changes.begin(), changes.end(), std::make_pair(row, std::string("*")));
    auto result = std::find(changes.begin(), changes.end(), std::make_pair(row, run.Row(row).url));
    ASSERT_NE(star, changes.end());
    ASSERT_NE(result, changes.end());
    EXPECT_LT(star - changes.begin(), result - changes.begin());
  }

  // A second start visits only pending rows: there are none.
  RunToEnd(2);
  EXPECT_EQ(resolver_.Calls(), 20);
}

TEST_F(ResolveRunTest, RunWritesTheCountriesTheQueryFindsAndReadsTheRangesAgainEachRun) {
  const char* const addresses[] = {"8.8.8.8", "2001:41d0:8:f69::1", "::ffff:8.8.4.4", "127.0.0.1", "81.2.69.160",
                                   "not an address"};
  for (const char* address : addresses) AddAddress(address);
  run_ = std::make_unique<ResolveRun>(session_, resolver_, &observer_);
  ASSERT_TRUE(Succeeded(run_->FillList(false)));
  RunToEnd(1);
  for (const char* address : addresses) {
    std::string expected, written;
    LookupCountry(address, expected, session_);
    Statement read;
    ASSERT_TRUE(Succeeded(read.Execute(session_, "Select CountryCode from DNSLookUp where UserIP='" +
                                                     std::string(address) + "'")));
    ASSERT_EQ(read.MoveNext(), kResultOk) << address;
    read.GetText(1, written);
    EXPECT_EQ(written, expected) << address;
  }
  EXPECT_EQ(RowOf("8.8.8.8"), "-|-|ip.8.8.8.8|US");

  // A range added between runs counts in the next one.
  Exec("Insert into IPRanges (StartIP, EndIP, Code, ValueBits) values (167772160, 184549375, 'ZZ', 1000)");
  AddAddress("10.1.2.3");
  ASSERT_TRUE(Succeeded(run_->FillList(false)));
  RunToEnd(2);
  EXPECT_EQ(RowOf("10.1.2.3"), "-|-|ip.10.1.2.3|ZZ");
}

TEST_F(ResolveRunTest, StopStartsNoNewWorkerAndRunningRowsAreWritten) {
  ASSERT_NO_FATAL_FAILURE(StartBehindGate("198.51.100.", 20, kMaxResolveWorkers));
  // Give the dispatcher time to block on the tenth row.
  std::this_thread::sleep_for(150ms);
  run_->Stop();
  std::this_thread::sleep_for(150ms);
  resolver_.OpenGate();
  ASSERT_TRUE(observer_.WaitFinished(1));
  run_->Wait();

  EXPECT_EQ(resolver_.Calls(), kMaxResolveWorkers);
  EXPECT_EQ(run_->StartedCount(), kMaxResolveWorkers);
  int done = 0;
  for (const ResolveRow& row : run_->Rows()) done += row.done ? 1 : 0;
  EXPECT_EQ(done, kMaxResolveWorkers);
  EXPECT_EQ(RowOf("198.51.100.1").rfind("-|-|ip.198.51.100.1|", 0), 0u);
  EXPECT_EQ(RowOf("198.51.100.20"), "<null>|<null>|<null>|");

  // Start again: the remaining rows are done and the earlier ones are not looked up twice.
  RunToEnd(2);
  EXPECT_EQ(resolver_.Calls(), 20);
}

TEST_F(ResolveRunTest, ClosingDuringARunClosesWhenTheWorkersAreDone) {
  ASSERT_NO_FATAL_FAILURE(StartBehindGate("203.0.113.", 12, 3));

  EXPECT_FALSE(run_->RequestClose());  // a run is active: the window stays until it ends
  EXPECT_FALSE(Succeeded(run_->FillList(true)));  // the list is not refilled under the workers
  resolver_.OpenGate();
  ASSERT_TRUE(observer_.WaitFinished(1));
  run_->Wait();
  EXPECT_TRUE(observer_.AutoClose());
  EXPECT_LT(resolver_.Calls(), 12);
  EXPECT_TRUE(run_->RequestClose());  // nothing runs now: close at once
}

TEST(SystemResolver, LoopbackHasAName) {
  SystemReverseResolver resolver;
  std::string name;
  ASSERT_TRUE(resolver.LookUp("127.0.0.1", name));
  EXPECT_FALSE(name.empty());
  // An address with a zone index is no client address: not looked up.
  std::string six;
  EXPECT_FALSE(resolver.LookUp("fe80::1%nosuchif", six));
}

}  // namespace
}  // namespace weavil
