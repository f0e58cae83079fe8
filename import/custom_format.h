#pragma once
// Log lines in a format the user names: Apache LogFormat directives (%h %l %u %t "%r"
// %>s %b %{Referer}i %{User-Agent}i %v %D %T %U %q %m %H ...) or nginx log_format
// variables ($remote_addr $remote_user $time_local $request $status $body_bytes_sent
// $http_referer $http_user_agent $host $request_time ...), or one of the names
// "common", "combined" and "vhost_combined". A line is matched element by element: the
// literal text between fields must be there as written, and a field runs to where the
// next literal text begins (inside quotes, escaped quotes do not end it). The record
// gets what a common/combined line of the same request gives: path with query for %r,
// the user agent with "+" for blanks, the time as written with its zone ignored, time
// taken in milliseconds.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "import/log_parser.h"

namespace weavil {

enum class FormatField {
  kLiteral,        // text that must be there
  kSkip,           // a field the record does not keep
  kClientIp,       // %h %a $remote_addr
  kTime,           // %t ([dd/Mon/yyyy:hh:mm:ss zone]) $time_local
  kTimeIso,        // $time_iso8601
  kRequest,        // %r $request: method, target, protocol
  kTarget,         // $request_uri: path with query
  kPath,           // %U $uri
  kQuery,          // %q ("?..." or empty), $args $query_string
  kStatus,         // %s %>s $status
  kBytesSent,      // %b %B %O $body_bytes_sent $bytes_sent
  kBytesIn,        // %I $request_length
  kReferrer,       // %{Referer}i $http_referer
  kUserAgent,      // %{User-Agent}i $http_user_agent
  kHost,           // %v %V $host $server_name
  kMicroseconds,   // %D %{us}T
  kMilliseconds,   // %{ms}T
  kSeconds,        // %T %{s}T $request_time (a fraction allowed)
};

struct FormatElement {
  FormatField field = FormatField::kLiteral;
  std::string text;  // the literal, or the directive as written (for messages)
};

class CustomLogFormat {
 public:
  explicit CustomLogFormat(std::vector<FormatElement> elements) : elements_(std::move(elements)) {}
  const std::vector<FormatElement>& Elements() const { return elements_; }

 private:
  std::vector<FormatElement> elements_;
};

struct FormatCompileResult {
  std::shared_ptr<const CustomLogFormat> format;  // null when the text cannot be used
  std::string error;                               // then: why
};

// Reads a format text. It must name the client address, the time, the request (or its
// path) and the status; two fields need text between them, except %U%q.
FormatCompileResult CompileLogFormat(std::string_view text);

// Reads one line with the format into state.texts and completes the record.
ParseOutcome ParseCustomLine(const CustomLogFormat& format, ParserState& state, std::string_view line,
                             RequestRecord& record);

// Conversions shared with the other readers of non-W3C lines.
// "GET /path?query HTTP/1.1": the path is the second word, query included.
bool ReadRequestLine(std::string_view request, std::string& path);
// "dd/Mon/yyyy:hh:mm:ss[ zone]" (brackets allowed) to "yyyy-mm-dd" and "hh:mm:ss".
bool ReadClfTime(std::string_view text, std::string& date, std::string& time);
// "yyyy-mm-ddThh:mm:ss[.fraction][zone]" (or a blank for the T), the time as written.
bool ReadIsoTime(std::string_view text, std::string& date, std::string& time);
// A duration as decimal text (a fraction allowed) in the given unit per second
// (1 for seconds, 1000 for milliseconds, ...) to whole milliseconds.
bool DurationToMilliseconds(std::string_view text, double unitsPerSecond, std::string& ms);
// The user agent as the combined reading keeps it: blanks as "+", "-" when empty.
void AgentText(std::string_view agent, std::string& out);
// A host name without a ":port" suffix.
std::string_view HostWithoutPort(std::string_view host);

}  // namespace weavil
