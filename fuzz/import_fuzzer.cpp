// Fuzzes the log parser and the session builder with arbitrary log text, and checks
// the indexed session matching against the plain scan over every session.
//   first input byte: bit 0 picks a default host, bit 1 starts in W3C mode, bit 2 turns
//   agent chaining on
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "import/log_parser.h"
#include "import/session_builder.h"
#include "tests/import/plain_session_scan.h"

namespace {

using namespace weavil;

class Lines : public LineSource {
 public:
  Lines(const char* data, size_t size) : data_(data), size_(size) {}
  bool NextPhysicalLine(std::string_view& raw) override {
    if (held_) {
      held_ = false;
      raw = last_;
      return true;
    }
    if (at_ >= size_) return false;
    size_t start = at_;
    while (at_ < size_ && data_[at_] != '\n') ++at_;
    if (at_ < size_) ++at_;
    raw = last_ = std::string_view(data_ + start, std::min(at_ - start, kMaxLineLength));
    return true;
  }
  void UnreadLine() override { held_ = true; }

 private:
  const char* data_;
  size_t size_, at_ = 0;
  std::string_view last_;
  bool held_ = false;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Rejected lines are traced into the current folder: keep them out of the way.
  if (const char* dir = std::getenv("TMPDIR")) (void)!chdir(dir);
  else (void)!chdir("/tmp");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const std::string host = bytes[0] & 1 ? "www.site.test" : "";
  ParserState state(host);
  RequestRecord record;
  if (bytes[0] & 2) {
    ParseLogLine(state, "#Fields: date time c-ip cs-uri-stem cs-uri-query sc-status sc-bytes cs-host "
                        "cs(User-Agent) cs(Referer)", nullptr, record);
  }
  const char* data = reinterpret_cast<const char*>(bytes + 1);
  --size;

  const bool chaining = (bytes[0] & 4) != 0;
  SessionList list(kDefaultExtensions, chaining);
  std::vector<test::PlainSession> plain;
  Lines lines(data, size);
  std::string_view raw;
  // Parse once; feed the fast builder and the plain scan the same records.
  while (lines.NextPhysicalLine(raw)) {
    if (ParseLogLine(state, CutLine(raw), &lines, record) != ParseOutcome::kRecord) continue;
    AddRequest(list, record);
    test::PlainAdd(plain, record, kDefaultExtensions, chaining);
  }
  FinishSessionList(list);

  Check(list.Count() == plain.size(), "session count");
  for (size_t i = 0; i < plain.size(); ++i) {
    const SessionRecord& f = list.At(i);
    const test::PlainSession& p = plain[i];
    Check(list.AddressText(f.address) == p.address, "address");
    Check(list.Text(f.userAgent) == p.userAgent.value_or(""), "user agent");
    Check(list.Text(f.referrer) == p.referrer.value_or("-"), "referrer");
    Check(f.closed == p.closed, "closed");
    Check(f.bytes == p.bytes && f.bytesIn == p.bytesIn, "bytes");
    Check(f.exitTime == RequestTime(p.exitDate, p.exitTime), "exit time");
    Check(f.enterTime == RequestTime(p.enterDate, p.enterTime), "enter time");
    Check(f.resourceCount == p.resources.size(), "resources");
    size_t k = 0;
    list.ForEachResource(f, [&](const ResourceRecord& r) { Check(list.Text(r.path) == p.resources[k++].path, "path"); });
  }
  return 0;
}
