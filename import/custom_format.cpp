#include "import/custom_format.h"

#include "base/text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace weavil {
namespace {

struct NamedFormat {
  const char* name;
  const char* text;
};

// The definitions Apache ships under these names (nginx's "combined" is the same).
const NamedFormat kNamedFormats[] = {
    {"common", "%h %l %u %t \"%r\" %>s %b"},
    {"combined", "%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-Agent}i\""},
    {"vhost_combined", "%v:%p %h %l %u %t \"%r\" %>s %O \"%{Referer}i\" \"%{User-Agent}i\""},
};

FormatField ApacheField(char directive, std::string_view argument) {
  switch (directive) {
    case 'h': case 'a': return FormatField::kClientIp;
    case 't': return argument.empty() ? FormatField::kTime : FormatField::kSkip;
    case 'r': return FormatField::kRequest;
    case 'U': return FormatField::kPath;
    case 'q': return FormatField::kQuery;
    case 's': return FormatField::kStatus;
    case 'b': case 'B': case 'O': return FormatField::kBytesSent;
    case 'I': return FormatField::kBytesIn;
    case 'v': case 'V': return FormatField::kHost;
    case 'D': return FormatField::kMicroseconds;
    case 'T':
      if (argument == "ms") return FormatField::kMilliseconds;
      if (argument == "us") return FormatField::kMicroseconds;
      return FormatField::kSeconds;
    case 'i':
      if (EqualsNoCase(argument, "Referer")) return FormatField::kReferrer;
      if (EqualsNoCase(argument, "User-Agent")) return FormatField::kUserAgent;
      if (EqualsNoCase(argument, "Host")) return FormatField::kHost;
      return FormatField::kSkip;
    default: return FormatField::kSkip;
  }
}

FormatField NginxField(std::string_view name) {
  struct Name {
    const char* name;
    FormatField field;
  };
  static const Name kNames[] = {
      {"remote_addr", FormatField::kClientIp},       {"time_local", FormatField::kTime},
      {"time_iso8601", FormatField::kTimeIso},       {"request", FormatField::kRequest},
      {"request_uri", FormatField::kTarget},         {"uri", FormatField::kPath},
      {"document_uri", FormatField::kPath},          {"args", FormatField::kQuery},
      {"query_string", FormatField::kQuery},         {"status", FormatField::kStatus},
      {"body_bytes_sent", FormatField::kBytesSent},  {"bytes_sent", FormatField::kBytesSent},
      {"request_length", FormatField::kBytesIn},     {"http_referer", FormatField::kReferrer},
      {"http_user_agent", FormatField::kUserAgent},  {"host", FormatField::kHost},
      {"server_name", FormatField::kHost},           {"http_host", FormatField::kHost},
      {"request_time", FormatField::kSeconds},
  };
  for (const Name& known : kNames)
    if (name == known.name) return known.field;
  return FormatField::kSkip;
}

bool IsNginxNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

void AddLiteral(std::vector<FormatElement>& elements, char c) {
  if (elements.empty() || elements.back().field != FormatField::kLiteral) elements.push_back({FormatField::kLiteral, {}});
  elements.back().text.push_back(c);
}

// One Apache directive from text[i] ('%'); false with error set when it is not one.
bool ReadApacheDirective(std::string_view text, size_t& i, std::vector<FormatElement>& elements, std::string& error) {
  size_t start = i++;
  // Modifiers: status conditions ("!200,304"), "<" and ">".
  while (i < text.size() && (text[i] == '<' || text[i] == '>' || text[i] == '!' || text[i] == ',' ||
                             std::isdigit(static_cast<unsigned char>(text[i]))))
    ++i;
  std::string_view argument;
  if (i < text.size() && text[i] == '{') {
    size_t close = text.find('}', i);
    if (close == std::string_view::npos) {
      error = "the log format has an unclosed \"{\" at character " + std::to_string(i + 1);
      return false;
    }
    argument = text.substr(i + 1, close - i - 1);
    i = close + 1;
  }
  if (i >= text.size()) {
    error = "the log format ends in the middle of a directive";
    return false;
  }
  char directive = text[i++];
  if (directive == '%') {
    AddLiteral(elements, '%');
    return true;
  }
  if (!std::isalpha(static_cast<unsigned char>(directive))) {
    error = "the log format has an unknown directive " + std::string(text.substr(start, i - start));
    return false;
  }
  elements.push_back({ApacheField(directive, argument), std::string(text.substr(start, i - start))});
  return true;
}

bool Parse(std::string_view text, std::vector<FormatElement>& elements, std::string& error) {
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == '%') {
      if (!ReadApacheDirective(text, i, elements, error)) return false;
    } else if (c == '$' && i + 1 < text.size() && (IsNginxNameChar(text[i + 1]) || text[i + 1] == '{')) {
      size_t start = i + 1, end;
      if (text[start] == '{') {
        end = text.find('}', start);
        if (end == std::string_view::npos) {
          error = "the log format has an unclosed \"${\"";
          return false;
        }
        elements.push_back({NginxField(text.substr(start + 1, end - start - 1)), std::string(text.substr(i, end + 1 - i))});
        i = end + 1;
      } else {
        end = start;
        while (end < text.size() && IsNginxNameChar(text[end])) ++end;
        elements.push_back({NginxField(text.substr(start, end - start)), std::string(text.substr(i, end - i))});
        i = end;
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      // A format copied from a configuration file keeps its escapes.
      char next = text[i + 1];
      AddLiteral(elements, next == 't' ? '\t' : next == 'n' ? '\n' : next);
      i += 2;
    } else {
      AddLiteral(elements, c);
      ++i;
    }
  }
  return true;
}

bool Has(const std::vector<FormatElement>& elements, std::initializer_list<FormatField> fields) {
  for (const FormatElement& element : elements)
    for (FormatField field : fields)
      if (element.field == field) return true;
  return false;
}

// Text between two fields that need a boundary.
bool Check(const std::vector<FormatElement>& elements, std::string& error) {
  for (size_t i = 0; i + 1 < elements.size(); ++i) {
    const FormatElement &a = elements[i], &b = elements[i + 1];
    if (a.field == FormatField::kLiteral || b.field == FormatField::kLiteral) continue;
    if ((a.field == FormatField::kPath || a.field == FormatField::kSkip) && b.field == FormatField::kQuery) continue;
    error = "the log format needs text between " + a.text + " and " + b.text;
    return false;
  }
  if (!Has(elements, {FormatField::kClientIp})) error = "the log format has no client address (%h or $remote_addr)";
  else if (!Has(elements, {FormatField::kTime, FormatField::kTimeIso}))
    error = "the log format has no request time (%t or $time_local)";
  else if (!Has(elements, {FormatField::kRequest, FormatField::kTarget, FormatField::kPath}))
    error = "the log format has no request (%r, %U, $request or $uri)";
  else if (!Has(elements, {FormatField::kStatus})) error = "the log format has no status (%>s or $status)";
  return error.empty();
}

// Where the value of the field at index ends, from pos, and where the next element starts.
bool FieldEnd(const std::vector<FormatElement>& elements, size_t index, std::string_view line, size_t pos,
              size_t& end) {
  const FormatElement& field = elements[index];
  if (field.field == FormatField::kTime && pos < line.size() && line[pos] == '[') {
    size_t close = line.find(']', pos);
    if (close == std::string_view::npos) return false;
    end = close + 1;
    return true;
  }
  if (index + 1 == elements.size()) {
    end = line.size();
    return true;
  }
  const FormatElement& next = elements[index + 1];
  if (next.field == FormatField::kQuery) {  // %U%q: the query starts at "?"
    size_t mark = line.find('?', pos);
    size_t limit = index + 2 < elements.size() && elements[index + 2].field == FormatField::kLiteral
                       ? line.find(elements[index + 2].text, pos)
                       : line.size();
    end = std::min(mark, limit);
    return end != std::string_view::npos;
  }
  const bool quoted = index > 0 && elements[index - 1].field == FormatField::kLiteral &&
                      !elements[index - 1].text.empty() && elements[index - 1].text.back() == '"' &&
                      next.text.front() == '"';
  if (quoted) {
    for (size_t i = pos; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        ++i;
      } else if (line[i] == '"' && line.compare(i, next.text.size(), next.text) == 0) {
        end = i;
        return true;
      }
    }
    return false;
  }
  end = line.find(next.text, pos);
  return end != std::string_view::npos;
}

// The value of a quoted field with its escapes (\" and \\) undone, as the combined
// reading does.
void Unescape(std::string_view value, std::string& out) {
  out.clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == '"' || value[i + 1] == '\\')) ++i;
    out.push_back(value[i]);
  }
}

bool StoreField(FormatField field, std::string_view value, std::string& scratch, RecordTexts& texts) {
  switch (field) {
    case FormatField::kLiteral:
    case FormatField::kSkip: return true;
    case FormatField::kClientIp: texts.clientIp.assign(value); return true;
    case FormatField::kTime: return ReadClfTime(value, texts.date, texts.time);
    case FormatField::kTimeIso: return ReadIsoTime(value, texts.date, texts.time);
    case FormatField::kRequest:
      Unescape(value, scratch);
      return ReadRequestLine(scratch, texts.path);
    case FormatField::kTarget:
    case FormatField::kPath: texts.path.assign(value); return true;
    case FormatField::kQuery:
      if (!value.empty() && value[0] == '?') value.remove_prefix(1);
      texts.hasQuery = !value.empty() && value != "-";
      texts.query.assign(value);
      return true;
    case FormatField::kStatus: texts.status.assign(value); return true;
    case FormatField::kBytesSent:
      texts.hasScBytes = true;
      texts.scBytes.assign(value);
      return true;
    case FormatField::kBytesIn:
      texts.hasCsBytes = true;
      texts.csBytes.assign(value);
      return true;
    case FormatField::kReferrer:
      Unescape(value, texts.referrer);
      return true;
    case FormatField::kUserAgent:
      Unescape(value, scratch);
      AgentText(scratch, texts.userAgent);
      return true;
    case FormatField::kHost: texts.host.assign(HostWithoutPort(value)); return true;
    case FormatField::kMicroseconds: return (texts.hasTimeTaken = DurationToMilliseconds(value, 1e6, texts.timeTaken)) || value == "-";
    case FormatField::kMilliseconds: return (texts.hasTimeTaken = DurationToMilliseconds(value, 1e3, texts.timeTaken)) || value == "-";
    case FormatField::kSeconds: return (texts.hasTimeTaken = DurationToMilliseconds(value, 1, texts.timeTaken)) || value == "-";
  }
  return true;
}

}  // namespace

FormatCompileResult CompileLogFormat(std::string_view text) {
  FormatCompileResult result;
  for (const NamedFormat& named : kNamedFormats)
    if (text == named.name) text = named.text;
  std::vector<FormatElement> elements;
  if (Parse(text, elements, result.error) && Check(elements, result.error))
    result.format = std::make_shared<CustomLogFormat>(std::move(elements));
  return result;
}

ParseOutcome ParseCustomLine(const CustomLogFormat& format, ParserState& state, std::string_view line,
                             RequestRecord& record) {
  RecordTexts& texts = state.texts;
  texts.Clear();
  const std::vector<FormatElement>& elements = format.Elements();
  size_t pos = 0;
  for (size_t i = 0; i < elements.size(); ++i) {
    const FormatElement& element = elements[i];
    if (element.field == FormatField::kLiteral) {
      if (line.compare(pos, element.text.size(), element.text) != 0) {
        TraceRejectedLine(line);
        return ParseOutcome::kRejected;
      }
      pos += element.text.size();
      continue;
    }
    size_t end = 0;
    if (!FieldEnd(elements, i, line, pos, end) ||
        !StoreField(element.field, line.substr(pos, end - pos), state.work, texts)) {
      TraceRejectedLine(line);
      return ParseOutcome::kRejected;
    }
    pos = end;
  }
  // Whatever follows the last element (fields a server adds) is not read.
  return FinishRecordTexts(state, line, record);
}

bool ReadRequestLine(std::string_view request, std::string& path) {
  size_t first = request.find(' ');
  if (first == std::string_view::npos) return false;
  size_t start = request.find_first_not_of(' ', first);
  if (start == std::string_view::npos) return false;
  size_t end = request.find(' ', start);
  path.assign(request.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
  return true;
}

bool ReadClfTime(std::string_view text, std::string& date, std::string& time) {
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (!text.empty() && text.front() == '[') text.remove_prefix(1);
  // dd/Mon/yyyy:hh:mm:ss
  if (text.size() < 20 || text[2] != '/' || text[6] != '/' || text[11] != ':') return false;
  size_t month = kMonths.find(text.substr(3, 3));
  if (month == std::string_view::npos || month % 3 != 0) return false;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.4s-%02d-%.2s", text.data() + 7, static_cast<int>(month / 3 + 1), text.data());
  date.assign(buffer);
  time.assign(text.substr(12, 8));
  return true;
}

bool ReadIsoTime(std::string_view text, std::string& date, std::string& time) {
  if (text.size() < 19 || (text[10] != 'T' && text[10] != ' ' && text[10] != 't')) return false;
  date.assign(text.substr(0, 10));
  time.assign(text.substr(11, 8));
  return true;
}

bool DurationToMilliseconds(std::string_view text, double unitsPerSecond, std::string& ms) {
  if (text.empty() || text.size() > 40) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
  char buffer[48];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  char* end = nullptr;
  double value = std::strtod(buffer, &end);
  if (end != buffer + text.size() || !std::isfinite(value)) return false;
  double milliseconds = std::round(value * 1000.0 / unitsPerSecond);
  if (milliseconds > 9.0e15) return false;
  ms = std::to_string(static_cast<int64_t>(milliseconds));
  return true;
}

void AgentText(std::string_view agent, std::string& out) {
  out.assign(agent);
  for (char& c : out)
    if (c == ' ') c = '+';
}

std::string_view HostWithoutPort(std::string_view host) {
  size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return host;
  std::string_view port = host.substr(colon + 1);
  if (port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos) return host;
  std::string_view name = host.substr(0, colon);
  // A bare IPv6 address has colons of its own; a bracketed one ends in "]".
  if (name.find(':') != std::string_view::npos && (name.empty() || name.back() != ']')) return host;
  return name;
}

}  // namespace weavil
