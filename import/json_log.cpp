#include "import/json_log.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "import/custom_format.h"
#include "store/jet_date.h"

namespace weavil {
namespace {

using Json = nlohmann::json;

const Json* Member(const Json* object, const char* name) {
  if (!object || !object->is_object()) return nullptr;
  auto it = object->find(name);
  return it == object->end() || it->is_null() ? nullptr : &*it;
}

// A request header as Caddy logs it: a list of values, the first one used.
const Json* Header(const Json* request, const char* name) {
  const Json* value = Member(Member(request, "headers"), name);
  if (value && value->is_array()) value = value->empty() ? nullptr : &value->front();
  return value;
}

// A text or a number as text; false for anything else.
bool TextOf(const Json* value, std::string& text) {
  if (!value) return false;
  if (value->is_string()) {
    text = value->get_ref<const std::string&>();
  } else if (value->is_number_integer()) {
    text = std::to_string(value->get<int64_t>());
  } else if (value->is_number_unsigned()) {
    text = std::to_string(value->get<uint64_t>());
  } else if (value->is_number_float()) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", value->get<double>());
    text = buffer;
  } else {
    return false;
  }
  return true;
}

bool FirstText(std::initializer_list<const Json*> values, std::string& text) {
  for (const Json* value : values)
    if (TextOf(value, text) && !text.empty()) return true;
  text.clear();
  return false;
}

bool EpochTime(double seconds, RecordTexts& texts) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 253402300799.0) return false;
  int64_t whole = static_cast<int64_t>(std::floor(seconds));
  int year, month, day;
  CivilFromDays(whole / 86400, year, month, day);
  int64_t inDay = whole % 86400;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  texts.date = buffer;
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                static_cast<int>(inDay % 60));
  texts.time = buffer;
  return true;
}

bool ReadTime(const Json& doc, RecordTexts& texts) {
  for (const char* name : {"ts", "StartLocal", "StartUTC", "time_local", "time_iso8601", "time", "@timestamp",
                           "timestamp"}) {
    const Json* value = Member(&doc, name);
    if (!value) continue;
    if (value->is_number()) return EpochTime(value->get<double>(), texts);
    std::string text;
    if (TextOf(value, text))
      return ReadIsoTime(text, texts.date, texts.time) || ReadClfTime(text, texts.date, texts.time);
  }
  return false;
}

// Traefik's ClientAddr is "address:port" ("[v6]:port").
void ClientWithoutPort(std::string& address) {
  std::string_view bare = HostWithoutPort(address);
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  address = std::string(bare);
}

// A duration in the given units per second, as a number or numeric text.
void ReadDuration(const Json* value, double unitsPerSecond, RecordTexts& texts) {
  std::string text;
  if (!TextOf(value, text)) return;
  if (value->is_number_float()) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.6f", value->get<double>());
    text = buffer;
  }
  texts.hasTimeTaken = DurationToMilliseconds(text, unitsPerSecond, texts.timeTaken);
}

void ReadFields(const Json& doc, RecordTexts& texts) {
  const Json* request = Member(&doc, "request");
  if (request && !request->is_object()) request = nullptr;
  if (!FirstText({Member(request, "client_ip"), Member(request, "remote_ip"), Member(&doc, "ClientHost"),
                  Member(&doc, "remote_addr"), Member(&doc, "client_ip"), Member(&doc, "remote_ip")},
                 texts.clientIp) &&
      FirstText({Member(&doc, "ClientAddr")}, texts.clientIp))
    ClientWithoutPort(texts.clientIp);

  std::string line;
  if (!FirstText({Member(request, "uri"), Member(&doc, "RequestPath"), Member(&doc, "request_uri")}, texts.path)) {
    if (FirstText({Member(&doc, "uri")}, texts.path)) {
      texts.hasQuery = FirstText({Member(&doc, "args"), Member(&doc, "query_string")}, texts.query);
    } else if (FirstText({Member(&doc, "request")}, line)) {
      ReadRequestLine(line, texts.path);
    }
  }
  FirstText({Member(&doc, "status"), Member(&doc, "DownstreamStatus"), Member(&doc, "OriginStatus")}, texts.status);
  texts.hasScBytes = FirstText({Member(&doc, "size"), Member(&doc, "DownstreamContentSize"),
                                Member(&doc, "body_bytes_sent"), Member(&doc, "bytes_sent")},
                               texts.scBytes);
  texts.hasCsBytes = FirstText({Member(&doc, "bytes_read"), Member(&doc, "RequestContentSize"),
                                Member(&doc, "request_length")},
                               texts.csBytes);
  if (const Json* caddy = Member(&doc, "duration")) ReadDuration(caddy, 1, texts);
  else if (const Json* traefik = Member(&doc, "Duration")) ReadDuration(traefik, 1e9, texts);
  else ReadDuration(Member(&doc, "request_time"), 1, texts);

  if (FirstText({Member(request, "host"), Member(&doc, "RequestHost"), Member(&doc, "host"),
                 Member(&doc, "server_name"), Member(&doc, "http_host")},
                texts.host))
    texts.host = std::string(HostWithoutPort(texts.host));
  std::string agent;
  if (FirstText({Header(request, "User-Agent"), Member(&doc, "request_User-Agent"), Member(&doc, "http_user_agent"),
                 Member(&doc, "user_agent")},
                agent))
    AgentText(agent, texts.userAgent);
  FirstText({Header(request, "Referer"), Member(&doc, "request_Referer"), Member(&doc, "http_referer"),
             Member(&doc, "http_referrer"), Member(&doc, "referer"), Member(&doc, "referrer")},
            texts.referrer);
}

}  // namespace

bool ParseJsonLine(ParserState& state, std::string_view line, RequestRecord& record, ParseOutcome& outcome) {
  Json doc = Json::parse(line.begin(), line.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  RecordTexts& texts = state.texts;
  texts.Clear();
  if (!ReadTime(doc, texts)) {
    TraceRejectedLine(line);
    outcome = ParseOutcome::kRejected;
    return true;
  }
  ReadFields(doc, texts);
  outcome = FinishRecordTexts(state, line, record);
  return true;
}

}  // namespace weavil
