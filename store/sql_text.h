#pragma once
// Building SQL text from values. Log lines come from strangers, so every text value
// pasted into a statement has its single quotes doubled.
#include <string>
#include <string_view>

namespace weavil {

// The value with every ' doubled, without surrounding quotes.
std::string EscapeSql(std::string_view value);

// The value between single quotes, with every ' inside doubled.
std::string QuoteSql(std::string_view value);

// Appends EscapeSql(value) to out without a temporary.
void AppendEscapedSql(std::string& out, std::string_view value);

}  // namespace weavil
