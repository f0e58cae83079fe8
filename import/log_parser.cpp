#include "import/log_parser.h"

#include <algorithm>
#include <cstring>

#include "classify/ip_address.h"
#include "import/custom_format.h"
#include "import/json_log.h"
#include "store/jet_date.h"
#include "store/trace.h"

namespace weavil {

const char* const kKnownFields[kKnownFieldCount] = {
    "date",        "time",          "c-ip",      "cs-username",     "s-sitename",     "s-computername",
    "s-ip",        "s-port",        "cs-method", "cs-uri-stem",     "cs-uri-query",   "sc-status",
    "sc-win32-status", "sc-bytes",  "cs-bytes",  "time-taken",      "cs-version",     "cs-host",
    "cs(User-Agent)",  "cs(Cookie)", "cs(Referer)"};

ColumnMap DefaultColumnMap() {
  ColumnMap map;
  map.fill(-1);
  map[kFieldDate] = 3;
  map[kFieldTime] = 4;
  map[kFieldClientIp] = 0;
  map[kFieldMethod] = 6;
  map[kFieldUriStem] = 7;
  map[kFieldStatus] = 9;
  map[kFieldScBytes] = 10;
  return map;
}

namespace {

bool ReadNumber(std::string_view text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

// Splits text on sep into exactly three decimal parts.
bool SplitThree(std::string_view text, char sep, int& a, int& b, int& c) {
  size_t first = text.find(sep);
  if (first == std::string_view::npos) return false;
  size_t second = text.find(sep, first + 1);
  if (second == std::string_view::npos) return false;
  if (text.find(sep, second + 1) != std::string_view::npos) return false;
  return ReadNumber(text.substr(0, first), a) && ReadNumber(text.substr(first + 1, second - first - 1), b) &&
         ReadNumber(text.substr(second + 1), c);
}

inline bool IsTokenSeparator(char c) { return c == ' ' || c == '\t' || c == '\n'; }

void Tokenise(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    while (p < end && IsTokenSeparator(*p)) ++p;
    if (p >= end) break;
    const char* start = p;
    while (p < end && !IsTokenSeparator(*p)) ++p;
    tokens.emplace_back(start, static_cast<size_t>(p - start));
  }
}

size_t CountTokens(std::string_view line) {
  size_t count = 0;
  bool inToken = false;
  for (char c : line) {
    bool sep = IsTokenSeparator(c);
    if (!sep && !inToken) ++count;
    inToken = !sep;
  }
  return count;
}

void ReadFieldsDirective(ParserState& state, std::string_view afterFirst) {
  state.columns.fill(-1);
  int32_t position = -1;  // the directive name itself is skipped
  size_t i = 0;
  while (i < afterFirst.size()) {
    while (i < afterFirst.size() && afterFirst[i] == ' ') ++i;
    if (i >= afterFirst.size()) break;
    size_t start = i;
    while (i < afterFirst.size() && afterFirst[i] != ' ') ++i;
    std::string_view name = afterFirst.substr(start, i - start);
    if (position >= 0) {
      for (int f = 0; f < kKnownFieldCount; ++f)
        if (name == kKnownFields[f]) state.columns[f] = position;
    }
    ++position;
  }
  state.declaredFieldCount = position < 0 ? 0 : position;
  state.mode = LogMode::kW3c;
}

void TraceRejected(std::string_view line) {
  WriteTrace("Line parsing error:");
  WriteTrace(line);
}

}  // namespace

void TraceRejectedLine(std::string_view line) { TraceRejected(line); }

void RecordTexts::Clear() {
  for (std::string* text : {&date, &time, &clientIp, &path, &status, &host, &userAgent, &referrer, &query, &scBytes,
                            &csBytes, &timeTaken})
    text->clear();
  hasQuery = hasScBytes = hasCsBytes = hasTimeTaken = false;
}

ParseOutcome FinishRecordTexts(ParserState& state, std::string_view line, RequestRecord& record) {
  RecordTexts& texts = state.texts;
  if (texts.date.empty() || texts.time.empty() || texts.clientIp.empty() || texts.path.empty() ||
      texts.status.empty() || !TryRequestTime(texts.date, texts.time, record.requestTime)) {
    TraceRejected(line);
    return ParseOutcome::kRejected;
  }
  record.date = texts.date;
  record.time = texts.time;
  record.clientIp = texts.clientIp;
  if (NormalizeClientAddress(record.clientIp, state.clientAddress)) record.clientIp = state.clientAddress;
  record.path = texts.path;
  record.status = texts.status;
  record.host = texts.host.empty() ? std::string_view(state.defaultHost) : std::string_view(texts.host);
  record.referrer = texts.referrer.empty() ? std::string_view("-") : std::string_view(texts.referrer);
  record.userAgent = texts.userAgent.empty() ? std::string_view("-") : std::string_view(texts.userAgent);
  auto optional = [](bool has, const std::string& text) {
    return has ? std::optional<std::string_view>(text) : std::nullopt;
  };
  record.query = optional(texts.hasQuery, texts.query);
  record.scBytes = optional(texts.hasScBytes, texts.scBytes);
  record.csBytes = optional(texts.hasCsBytes, texts.csBytes);
  record.timeTaken = optional(texts.hasTimeTaken, texts.timeTaken);
  return ParseOutcome::kRecord;
}

bool TryRequestTime(std::string_view date, std::string_view time, int64_t& seconds) {
  DateTimeParts parts;
  if (!SplitThree(date.substr(0, 10), '-', parts.year, parts.month, parts.day)) return false;
  if (!SplitThree(time.substr(0, 8), ':', parts.hour, parts.minute, parts.second)) return false;
  // The range the stored 'yyyy-mm-dd' text and the platform's calendar both cover.
  if (parts.year < 1601 || parts.year > 9999 || !IsValidDate(parts.year, parts.month, parts.day)) return false;
  if (parts.hour > 23 || parts.minute > 59 || parts.second > 59) return false;
  seconds = EpochSecondsFromParts(parts);
  return true;
}

int64_t RequestTime(std::string_view date, std::string_view time) {
  int64_t seconds = 0;
  if (!TryRequestTime(date, time, seconds)) throw CTest();
  return seconds;
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(c - '0')) / 10) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

std::string_view CutLine(std::string_view physical) {
  std::string_view line = physical.substr(0, kMaxLineLength);
  // The line is a C string in the buffer: a NUL byte ends it.
  if (const void* nul = std::memchr(line.data(), '\0', line.size()))
    line = line.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - line.data()));
  for (int i = 0; i < 2 && !line.empty() && (line.back() == '\n' || line.back() == '\r'); ++i)
    line.remove_suffix(1);
  return line;
}

namespace {

// The quoted request, referrer and user agent of a combined line. Their quotes become
// blanks; inside a quoted field a backslash before a quote or a backslash is an escape
// (the server wrote a quote or backslash of the text), so it is dropped and the
// character kept. Blanks inside the agent become "+", which keeps it one token; the
// agent ends at its closing quote and whatever follows is dropped. An empty referrer or
// agent ("") reads as "-".
void RewriteQuotedFields(std::string& line, size_t pos) {
  int quotes = 0;
  bool inside = false;
  char* data = line.data();
  size_t in = pos, out = pos, fieldStart = pos;
  const size_t size = line.size();
  while (in < size) {
    // The run up to the next quote (inside a field, up to a backslash) moves as it is.
    const void* quote = std::memchr(data + in, '"', size - in);
    size_t end = quote ? static_cast<size_t>(static_cast<const char*>(quote) - data) : size;
    if (inside) {
      if (const void* slash = std::memchr(data + in, '\\', end - in))
        end = static_cast<size_t>(static_cast<const char*>(slash) - data);
    }
    if (end > in) {
      if (out != in) std::memmove(data + out, data + in, end - in);
      if (inside && quotes == 5) std::replace(data + out, data + out + (end - in), ' ', '+');
      out += end - in;
      in = end;
    }
    if (in >= size) break;
    if (data[in] == '\\') {
      if (in + 1 < size && (data[in + 1] == '"' || data[in + 1] == '\\')) ++in;  // an escape: the next one stays
      data[out++] = data[in++];
      continue;
    }
    ++quotes;
    ++in;
    inside = !inside;
    if (inside) {
      data[out++] = ' ';
      fieldStart = out;
      continue;
    }
    bool empty = out == fieldStart;
    data[out++] = empty && (quotes == 4 || quotes == 6) ? '-' : ' ';
    if (quotes == 6) break;
  }
  line.resize(out);
}

}  // namespace

bool ConvertNcsaLine(std::string& line) {
  static constexpr std::string_view kMonths = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ";
  size_t open = line.find('[');
  if (open == std::string::npos || open + 12 >= line.size()) return false;
  std::string_view rest(line.data() + open, 13);
  std::string_view day = rest.substr(1, 2), month = rest.substr(4, 3), year = rest.substr(8, 4);
  int monthNumber = 0;
  for (int m = 0; m < 12; ++m) {
    if (kMonths.substr(static_cast<size_t>(m) * 4, 3) == month) {
      monthNumber = m + 1;
      break;
    }
  }
  if (monthNumber == 0) return false;
  char date[12];
  std::memcpy(date, year.data(), 4);
  date[4] = '-';
  date[5] = static_cast<char>('0' + monthNumber / 10);
  date[6] = static_cast<char>('0' + monthNumber % 10);
  date[7] = '-';
  std::memcpy(date + 8, day.data(), 2);
  date[10] = ' ';
  date[11] = ' ';
  line[open] = ' ';
  std::memcpy(line.data() + open + 1, date, 12);

  size_t pos = open + 13;
  size_t close = line.find(']', pos);
  if (close != std::string::npos) {
    line[close] = ' ';
    pos = close + 1;
  }
  RewriteQuotedFields(line, pos);
  return true;
}

namespace {

// A vhost_combined line starts with the site as "host:port " before the client address,
// so four words come before the bracketed date instead of three (a line that no common
// or combined reading accepts). Gives the prefix length and the host without its port;
// 0 for any other line.
size_t VhostPrefixLength(std::string_view line, std::string& host) {
  size_t bracket = line.find('[');
  if (bracket == std::string_view::npos) return 0;
  std::string_view before = line.substr(0, bracket);
  if (CountTokens(before) != 4 || IsTokenSeparator(before[0])) return 0;
  size_t end = 0;
  while (end < before.size() && !IsTokenSeparator(before[end])) ++end;
  std::string_view site = before.substr(0, end);
  size_t colon = site.rfind(':');
  std::string_view name = site, port;
  if (colon != std::string_view::npos) {
    name = site.substr(0, colon);
    port = site.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  }
  if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") !=
                          std::string_view::npos)
    return 0;
  host.assign(name);
  while (end < before.size() && IsTokenSeparator(before[end])) ++end;
  return end;
}

// The start of a W3C data line: a yyyy-mm-dd date as its first token.
bool StartsWithDate(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsTokenSeparator(line[i])) ++i;
  std::string_view date = line.substr(i, 10);
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
  for (size_t k : {0, 1, 2, 3, 5, 6, 8, 9})
    if (date[k] < '0' || date[k] > '9') return false;
  return true;
}

// A W3C line with fewer tokens than the Fields directive names may have been broken
// in two: the next physical line is appended as read (its line break acting as a
// separator) when it does not start a record or directive of its own and the joined
// text holds exactly the declared fields. Otherwise the next line is left to be read
// as a line of its own (false).
bool JoinBrokenLine(ParserState& state, LineSource& more) {
  std::string_view next;
  if (!more.NextPhysicalLine(next)) return false;
  if (const void* nul = std::memchr(next.data(), '\0', next.size()))
    next = next.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - next.data()));
  std::string& work = state.work;
  size_t room = kMaxLineLength > work.size() ? kMaxLineLength - work.size() : 0;
  if (!IsDirectiveLine(next) && !StartsWithDate(next)) {
    size_t before = work.size();
    work.append(next.substr(0, room));
    if (CountTokens(work) == static_cast<size_t>(state.declaredFieldCount)) return true;
    work.resize(before);
  }
  more.UnreadLine();
  return false;
}

// A common/combined line (a vhost line is one behind the site's "host:port ") rewritten
// into state.work. False when it cannot be rewritten.
bool PrepareCommonLine(ParserState& state, std::string_view line, bool& vhost) {
  size_t prefix = VhostPrefixLength(line, state.lineHost);
  vhost = prefix > 0;
  state.work.assign(line.substr(prefix));
  return ConvertNcsaLine(state.work);
}

// A W3C line copied into state.work, joined with the next physical line when it is
// short of the declared fields and that line continues it. Gives the line as first
// read, for the trace.
std::string_view PrepareW3cLine(ParserState& state, std::string_view line, LineSource* more) {
  state.work.assign(line);
  if (state.declaredFieldCount > 0 && CountTokens(state.work) < static_cast<size_t>(state.declaredFieldCount)) {
    // The reader may move its buffer: keep the line as first read for the report.
    state.firstLine.assign(line);
    line = state.firstLine;
    if (!more || !JoinBrokenLine(state, *more)) {
      state.fillMissing = true;
      WriteTrace("Incorrect number of fields:");
      WriteTrace(line);
    }
  }
  return line;
}

// Fills the record from the tokens of state.work by the column map.
ParseOutcome ReadColumns(ParserState& state, std::string_view line, bool vhost, RequestRecord& record) {
  const std::vector<std::string_view>& tokens = state.tokens;
  const ColumnMap& columns = state.columns;
  // A short line that was not joined reads its missing declared fields as "-".
  const size_t filledUpTo = state.fillMissing ? static_cast<size_t>(state.declaredFieldCount) : 0;
  state.fillMissing = false;
  auto column = [&](int field) -> std::optional<std::string_view> {
    int32_t at = columns[field];
    if (at < 0) return std::nullopt;
    if (static_cast<size_t>(at) >= tokens.size())
      return static_cast<size_t>(at) < filledUpTo ? std::optional<std::string_view>("-") : std::nullopt;
    return tokens[static_cast<size_t>(at)];
  };
  // Filled values for columns the log does not have.
  auto defaulted = [&](int field, std::string_view fallback) -> std::optional<std::string_view> {
    if (columns[field] < 0) return fallback;
    return column(field);
  };

  std::optional<std::string_view> date = column(kFieldDate), time = column(kFieldTime),
                                  clientIp = column(kFieldClientIp), path = column(kFieldUriStem),
                                  status = column(kFieldStatus);
  std::optional<std::string_view> host = vhost ? std::optional<std::string_view>(state.lineHost)
                                               : defaulted(kFieldHost, state.defaultHost),
                                  referrer = defaulted(kFieldReferer, "-"),
                                  userAgent = defaulted(kFieldUserAgent, "-");
  if (!date || !time || !clientIp || !path || !status || !host || !referrer || !userAgent ||
      !TryRequestTime(*date, *time, record.requestTime)) {
    TraceRejected(line);
    return ParseOutcome::kRejected;
  }
  record.date = *date;
  record.time = *time;
  record.clientIp = *clientIp;
  if (NormalizeClientAddress(record.clientIp, state.clientAddress)) record.clientIp = state.clientAddress;
  record.path = *path;
  record.status = *status;
  record.host = *host;
  record.referrer = *referrer;
  record.userAgent = *userAgent;
  record.query = column(kFieldUriQuery);
  record.scBytes = column(kFieldScBytes);
  record.csBytes = column(kFieldCsBytes);
  record.timeTaken = column(kFieldTimeTaken);
  return ParseOutcome::kRecord;
}

}  // namespace

bool IsDirectiveLine(std::string_view line) { return line.empty() || line[0] == '#' || line[0] == ' '; }

void ApplyDirective(ParserState& state, std::string_view line) {
  std::string_view afterFirst = line.empty() ? line : line.substr(1);
  if (afterFirst.substr(0, 6) != "Fields") return;
  ReadFieldsDirective(state, afterFirst);
  state.fieldsDirective.assign(line);
}

ParseOutcome ParseLogLine(ParserState& state, std::string_view line, LineSource* more, RequestRecord& record) {
  if (IsDirectiveLine(line)) {
    ApplyDirective(state, line);
    return ParseOutcome::kDirective;
  }
  const bool common = state.mode == LogMode::kCommon;
  if (common) {
    ParseOutcome outcome;
    if (line[0] == '{' && ParseJsonLine(state, line, record, outcome)) return outcome;
    if (state.customFormat) return ParseCustomLine(*state.customFormat, state, line, record);
  }

  if (state.work.capacity() < kLineBufferSize) state.work.reserve(kLineBufferSize);
  bool vhost = false;
  if (common && !PrepareCommonLine(state, line, vhost)) {
    TraceRejected(line);
    return ParseOutcome::kRejected;
  }
  if (!common) line = PrepareW3cLine(state, line, more);
  std::vector<std::string_view>& tokens = state.tokens;
  Tokenise(state.work, tokens);
  if (tokens.empty()) {
    TraceRejected(line);
    return ParseOutcome::kRejected;
  }
  if (common) {
    if (tokens.size() > 12) {
      state.columns[kFieldUserAgent] = 12;
      state.columns[kFieldReferer] = 11;
    } else if (tokens.size() < 11) {
      WriteTrace("Incorrect number of fields:");
      WriteTrace(line);
    }
  }
  return ReadColumns(state, line, vhost, record);
}

}  // namespace weavil
