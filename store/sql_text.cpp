#include "store/sql_text.h"

namespace weavil {

void AppendEscapedSql(std::string& out, std::string_view value) {
  for (char c : value) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
}

std::string EscapeSql(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  AppendEscapedSql(out, value);
  return out;
}

std::string QuoteSql(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 4);
  out.push_back('\'');
  AppendEscapedSql(out, value);
  out.push_back('\'');
  return out;
}

}  // namespace weavil
