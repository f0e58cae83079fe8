#include "reports/report_output.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "store/database.h"
#include "store/result.h"

namespace weavil {

SessionFieldMap LoadSessionFields(DbSession& session, const ReportTree& tree) {
  SessionFieldMap fields;
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row))
    if (tree.Key(row) > 0) fields.emplace(tree.Key(row), SessionFields());
  if (fields.empty()) return fields;
  Statement statement;
  if (Failed(statement.Execute(session,
                               "Select a.NumId, a.TimeEnter, a.UserIP, b.FullName, a.NumVisited, b.IsRobot "
                               "FROM [Session] a, DNSLookUp b WHERE a.UserIP=b.UserIP;")))
    return {};
  while (statement.MoveNext() == kResultOk) {
    int32_t numId = 0;
    if (!statement.GetInt(1, numId)) continue;
    auto found = fields.find(numId);
    if (found == fields.end()) continue;
    SessionFields& f = found->second;
    f.start = statement.Get<std::string>(2);
    f.address = statement.Get<std::string>(3);
    if (!statement.Read(4, f.visitor)) f.visitor = f.address;
    f.pages = statement.Get<int32_t>(5);
    f.robot = statement.Get<bool>(6);
  }
  return fields;
}

std::optional<std::string> CountNumber(std::string_view text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  text.remove_prefix(start);
  auto digits = [](std::string_view part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  std::string_view sign = !text.empty() && text[0] == '-' ? "-" : "";
  std::string_view body = text.substr(sign.size());
  size_t comma = body.find(',');
  if (comma == std::string_view::npos) {
    if (!digits(body)) return std::nullopt;
    return std::string(sign) + std::string(body);
  }
  if (!digits(body.substr(0, comma)) || !digits(body.substr(comma + 1))) return std::nullopt;
  std::string number(sign);
  number += body;
  number[sign.size() + comma] = '.';
  return number;
}

void WriteJsonString(std::ostream& out, std::string_view text) {
  out << '"';
  static const char* const kHex = "0123456789abcdef";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out << '\\' << static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      switch (c) {
        case '\n': out << "\\n"; break;
        case '\r': out << "\\r"; break;
        case '\t': out << "\\t"; break;
        default: out << "\\u00" << kHex[c >> 4] << kHex[c & 15];
      }
      ++i;
    } else if (c < 0x80) {
      out << static_cast<char>(c);
      ++i;
    } else {
      size_t length = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      bool valid = length > 0 && i + length <= text.size();
      for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
      if (valid) {
        out << text.substr(i, length);
        i += length;
      } else {
        out << "\\u00" << kHex[c >> 4] << kHex[c & 15];
        ++i;
      }
    }
  }
  out << '"';
}

namespace {

void WriteSessionJson(std::ostream& out, const SessionFields& f, int32_t numId) {
  out << ", \"session\": {\"start\": ";
  WriteJsonString(out, f.start);
  out << ", \"visitor\": ";
  WriteJsonString(out, f.visitor);
  out << ", \"address\": ";
  WriteJsonString(out, f.address);
  out << ", \"pages\": " << f.pages << ", \"robot\": " << (f.robot ? "true" : "false") << ", \"numId\": " << numId
      << '}';
}

void WriteJsonRows(std::ostream& out, const ReportTree& tree, const SessionFieldMap& sessions, RowId parent,
                   int indent) {
  out << '[';
  bool first = true;
  for (RowId row = tree.FirstChild(parent); row != kNoRow; row = tree.NextSibling(row)) {
    out << (first ? "\n" : ",\n") << std::string(static_cast<size_t>(indent + 2), ' ') << "{\"text\": ";
    WriteJsonString(out, tree.Text(row, 0));
    std::optional<std::string> count = CountNumber(tree.Text(row, 1));
    out << ", \"count\": " << (count ? *count : "null") << ", \"state\": " << tree.State(row)
        << ", \"key\": " << tree.Key(row);
    if (auto found = sessions.find(tree.Key(row)); tree.Key(row) > 0 && found != sessions.end())
      WriteSessionJson(out, found->second, tree.Key(row));
    out << ", \"children\": ";
    WriteJsonRows(out, tree, sessions, row, indent + 2);
    out << '}';
    first = false;
  }
  if (!first) out << '\n' << std::string(static_cast<size_t>(indent), ' ');
  out << ']';
}

void WriteField(std::ostream& out, std::string_view text, char separator, bool isText) {
  std::string value;
  if (isText && !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
    value = "'";
  value += text;
  bool quote = value.find_first_of(std::string{separator, '"', '\n', '\r'}) != std::string::npos ||
               (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!quote) {
    out << value;
    return;
  }
  out << '"';
  for (char c : value) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

}  // namespace

void WriteReportJson(std::ostream& out, const ReportTree& tree, const SessionFieldMap& sessions) {
  WriteJsonRows(out, tree, sessions, kRootRow, 0);
  out << '\n';
}

void WriteReportDelimited(std::ostream& out, const ReportTree& tree, const SessionFieldMap& sessions,
                          char separator) {
  int32_t levels = 1;
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row))
    levels = std::max(levels, tree.Depth(row) + 1);
  for (int32_t level = 1; level <= levels; ++level) out << "Level " << level << separator;
  out << "Count" << separator << "State" << separator << "Key" << separator << "Start" << separator << "Visitor"
      << separator << "Address" << separator << "Pages" << separator << "Robot\n";

  std::vector<std::string_view> path;
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row)) {
    path.resize(static_cast<size_t>(tree.Depth(row)));
    path.push_back(tree.Text(row, 0));
    for (int32_t level = 0; level < levels; ++level) {
      if (static_cast<size_t>(level) < path.size()) WriteField(out, path[static_cast<size_t>(level)], separator, true);
      out << separator;
    }
    out << CountNumber(tree.Text(row, 1)).value_or("") << separator << tree.State(row) << separator
        << tree.Key(row) << separator;
    auto found = sessions.find(tree.Key(row));
    if (tree.Key(row) > 0 && found != sessions.end()) {
      const SessionFields& f = found->second;
      WriteField(out, f.start, separator, true);
      out << separator;
      WriteField(out, f.visitor, separator, true);
      out << separator;
      WriteField(out, f.address, separator, true);
      out << separator << f.pages << separator << (f.robot ? 1 : 0);
    } else {
      out << separator << separator << separator << separator;
    }
    out << '\n';
  }
}

}  // namespace weavil
