#pragma once
// The session rules as written, for differential tests and the fuzzer: one scan over
// every session in creation order per request, texts compared as texts, times
// recomputed from the stored date and time texts. Deliberately slow and plain.
#include <optional>
#include <string>
#include <vector>

#include "import/log_parser.h"
#include "import/session_builder.h"

namespace weavil::test {

struct PlainResource {
  std::string date, time, path, status;
  std::optional<std::string> query, scBytes, csBytes, timeTaken;
};
struct PlainSession {
  std::string enterDate, enterTime, exitDate, exitTime, address;
  std::optional<std::string> userAgent, referrer, status;
  int64_t bytes = 0, bytesIn = 0;
  bool closed = false;
  std::vector<PlainResource> resources;
};

inline int64_t IntegerValue(const std::string& text) { return ParseDecimal(text).value_or(0); }

inline bool PlainIsPage(const RequestRecord& r, const std::string& extensions) {
  std::string path(r.path);
  size_t dot = path.rfind('.');
  std::string key = dot == std::string::npos ? "" : path.substr(dot + 1, 10) + " ";
  return key.empty() || extensions.find(key) != std::string::npos || IntegerValue(std::string(r.status)) > 399;
}

inline void PlainAttach(PlainSession& s, const RequestRecord& r, bool internal, const std::string& extensions) {
  if (PlainIsPage(r, extensions)) {
    auto opt = [](const std::optional<std::string_view>& v) {
      return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
    };
    s.resources.push_back({std::string(r.date), std::string(r.time), std::string(r.path), std::string(r.status),
                           opt(r.query), opt(r.scBytes), opt(r.csBytes), opt(r.timeTaken)});
  }
  if (r.scBytes) s.bytes += IntegerValue(std::string(*r.scBytes));
  if (r.csBytes) s.bytesIn += IntegerValue(std::string(*r.csBytes));
  // Enter and exit are the earliest and the latest request.
  if (s.exitDate.empty() || r.requestTime > RequestTime(s.exitDate, s.exitTime)) {
    s.exitDate = r.date;
    s.exitTime = r.time;
  }
  if (r.requestTime < RequestTime(s.enterDate, s.enterTime)) {
    s.enterDate = r.date;
    s.enterTime = r.time;
  }
  if (!s.userAgent) s.userAgent = std::string(r.userAgent);
  if (!s.status || IntegerValue(*s.status) > 399) s.status = std::string(r.status);
  if (!internal && (!s.referrer || (*s.referrer)[0] == '-')) s.referrer = std::string(r.referrer);
}

// agentChaining: the second pass that lets a request from another address continue a
// session of the same user agent.
inline void PlainAdd(std::vector<PlainSession>& list, const RequestRecord& r, const std::string& extensions,
                     bool agentChaining = false) {
  std::string referrer(r.referrer), host(r.host);
  bool internal = IsInternalReferrer(referrer, host);
  // The distance of the request to the session's span, in either direction.
  auto withinGap = [&](const PlainSession& s) {
    return r.requestTime - RequestTime(s.exitDate, s.exitTime) < 1201 &&
           RequestTime(s.enterDate, s.enterTime) - r.requestTime < 1201;
  };
  for (PlainSession& s : list) {
    if (s.closed) continue;
    if (withinGap(s) && s.address == r.clientIp) return PlainAttach(s, r, internal, extensions);
    if (r.requestTime - RequestTime(s.exitDate, s.exitTime) >= 1201) s.closed = true;
  }
  for (PlainSession& s : list) {
    if (!agentChaining) break;
    if (s.closed || !withinGap(s) || !s.userAgent || *s.userAgent != r.userAgent) continue;
    bool takes;
    if (!internal) {
      takes = s.referrer && *s.referrer == referrer;
    } else {
      size_t at = referrer.find(host);
      takes = (!s.resources.empty() && referrer.find(s.resources.back().path) != std::string::npos) ||
              (at != std::string::npos && referrer.substr(at + host.size()) == "/");
    }
    if (takes) return PlainAttach(s, r, internal, extensions);
  }
  PlainSession s;
  s.enterDate = r.date;
  s.enterTime = r.time;
  s.address = r.clientIp;
  PlainAttach(s, r, internal, extensions);
  if (internal) s.referrer.reset();
  s.status = std::string(r.status);
  list.push_back(std::move(s));
}

}  // namespace weavil::test
