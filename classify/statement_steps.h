#pragma once
// The two statement shapes of the insert-then-select pattern, shared by the classifiers.
// Values are bound to the statement's parameters 1..N.
#include <cstdint>
#include <string_view>

#include "store/database.h"
#include "store/result.h"

namespace weavil {

// Runs a statement whose failure is the normal case (a second insert of a unique name).
template <class... V>
void ExecuteIgnoringResult(DbSession& session, std::string_view sql, const V&... values) {
  Statement statement;
  statement.Query(session, sql, values...);
}

// The id in the first column of the first row; -1 when the query fails, gives no row or
// gives null.
template <class... V>
int32_t SelectId(DbSession& session, std::string_view sql, const V&... values) {
  Statement statement;
  if (Failed(statement.Query(session, sql, values...)) || statement.MoveNext() != kResultOk) return -1;
  return statement.Get<std::optional<int32_t>>(1).value_or(-1);
}

}  // namespace weavil
