#pragma once
// The log line parser: W3C extended logs (columns named by a Fields directive) and the
// common/combined access-log form, in one pass. A data line becomes a RequestRecord
// whose texts point into the parser's working copy of the line; unusable lines are
// traced ("Line parsing error:" and the line) and skipped.
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

inline constexpr int kKnownFieldCount = 21;

// The field names the parser recognises; the index is the ColumnMap index.
extern const char* const kKnownFields[kKnownFieldCount];

enum KnownField : int {
  kFieldDate = 0,
  kFieldTime = 1,
  kFieldClientIp = 2,
  kFieldUserName = 3,
  kFieldSiteName = 4,
  kFieldComputerName = 5,
  kFieldServerIp = 6,
  kFieldServerPort = 7,
  kFieldMethod = 8,
  kFieldUriStem = 9,
  kFieldUriQuery = 10,
  kFieldStatus = 11,
  kFieldWin32Status = 12,
  kFieldScBytes = 13,
  kFieldCsBytes = 14,
  kFieldTimeTaken = 15,
  kFieldVersion = 16,
  kFieldHost = 17,
  kFieldUserAgent = 18,
  kFieldCookie = 19,
  kFieldReferer = 20,
};

// Position of each known field among the blank-separated tokens of a data line, -1
// when the log has no such column.
using ColumnMap = std::array<int32_t, kKnownFieldCount>;

// The mapping in force until a Fields directive is met; it fits a common/combined line
// after ConvertNcsaLine.
ColumnMap DefaultColumnMap();

// A line is read into a buffer of this size: at most 7999 characters are kept.
inline constexpr size_t kLineBufferSize = 8000;
inline constexpr size_t kMaxLineLength = kLineBufferSize - 1;

enum class LogMode { kCommon, kW3c };

class CustomLogFormat;

// The texts of a line read by a format other than W3C or common/combined (a custom
// format, JSON), already decoded and in the units of a W3C log: the record points here.
struct RecordTexts {
  std::string date, time, clientIp, path, status, host, userAgent, referrer;
  std::string query, scBytes, csBytes, timeTaken;
  bool hasQuery = false, hasScBytes = false, hasCsBytes = false, hasTimeTaken = false;
  void Clear();
};

struct ParserState {
  ParserState() = default;
  explicit ParserState(std::string defaultHostText) : defaultHost(std::move(defaultHostText)) {}

  LogMode mode = LogMode::kCommon;
  ColumnMap columns = DefaultColumnMap();
  int32_t declaredFieldCount = 0;  // names on the last Fields directive
  std::string fieldsDirective;     // the last Fields directive line, empty before one
  std::string defaultHost;         // copy of "DefaultHost", used when a log has no cs-host
  // With a format set, lines that are neither directives nor JSON are read with it
  // instead of as common/combined lines (until a Fields directive makes the log W3C).
  std::shared_ptr<const CustomLogFormat> customFormat;

  // Working storage, reused from line to line.
  std::string work;
  std::string firstLine;
  std::string clientAddress;   // the client address rewritten into its canonical form
  bool fillMissing = false;    // the current line is short and was not joined
  std::vector<std::string_view> tokens;
  RecordTexts texts;
  std::string lineHost;        // the "host:port " prefix of a vhost line, without the port
};

// One usable data line. Texts point into the ParserState (valid until the next line).
// The client address is as written, except that an IPv6 address is given in its
// canonical form and an IPv4-mapped one (::ffff:a.b.c.d) as a.b.c.d.
struct RequestRecord {
  std::string_view date, time, clientIp, path, status;
  std::optional<std::string_view> query, scBytes, csBytes, timeTaken;
  std::string_view host, userAgent, referrer;
  int64_t requestTime = 0;  // seconds on one continuous scale (RequestTime)
};

// Raised by RequestTime for a date or time that does not convert.
class CTest : public std::exception {
 public:
  const char* what() const noexcept override { return "request date or time does not convert"; }
};

// Seconds since 1970-01-01 of the date (first 10 characters, "y-m-d") and time (first
// 8 characters, "h:m:s"); each part must be a decimal number and the whole a real
// calendar date and time of day. No zone is applied.
int64_t RequestTime(std::string_view date, std::string_view time);  // throws CTest
bool TryRequestTime(std::string_view date, std::string_view time, int64_t& seconds);

// The line rules applied to one physical line (its bytes up to and including its line
// break): at most 7999 characters, cut at a NUL byte, then at most two trailing CR or
// LF characters removed.
std::string_view CutLine(std::string_view physical);

// Gives the parser one more physical line when a broken W3C line is joined.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next physical line with its line break (at most kMaxLineLength bytes of it;
  // the rest of a longer line is skipped). False at the end of the file.
  virtual bool NextPhysicalLine(std::string_view& raw) = 0;
  // The line last handed out is handed out again by the next call (it was looked at,
  // not used). Called at most once after each NextPhysicalLine that returned true.
  virtual void UnreadLine() = 0;
};

// Rewrites a common/combined line in place into blank-separated tokens (bracketed date
// to "yyyy-mm-dd  hh:mm:ss", the quotes of request, referrer and user agent to blanks,
// blanks inside the user agent to "+"). False when the line has no "[" followed by a
// dd/Mon/yyyy: date, which makes the line unusable.
bool ConvertNcsaLine(std::string& line);

enum class ParseOutcome {
  kDirective,  // directive or empty line: no record
  kRecord,     // record filled
  kRejected,   // unusable line: traced and skipped
};

// An empty line, or one that starts with "#" or a blank: no data.
bool IsDirectiveLine(std::string_view line);
// A directive line read into the state: a Fields directive maps the columns and makes
// the log W3C; any other directive changes nothing.
void ApplyDirective(ParserState& state, std::string_view line);

// Parses one line (already cut by the line rules). Directive lines update the state.
// In W3C mode a data line with fewer tokens than the Fields directive declared is
// joined with the next physical line from more (when given) if that line continues it
// (it starts with no date and the join gives the declared fields); otherwise its
// missing fields read as "-" and it is traced as "Incorrect number of fields:".
ParseOutcome ParseLogLine(ParserState& state, std::string_view line, LineSource* more, RequestRecord& record);

// Completes a record from state.texts: required texts present and the time converting,
// host, referrer and user agent defaulted like a log without those columns, the client
// address canonical. Traces the line as rejected when it cannot be used.
ParseOutcome FinishRecordTexts(ParserState& state, std::string_view line, RequestRecord& record);
void TraceRejectedLine(std::string_view line);

// Strict decimal integer (optional sign, digits only, fits 64 bits).
std::optional<int64_t> ParseDecimal(std::string_view text);

}  // namespace weavil
