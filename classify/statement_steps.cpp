#include "classify/statement_steps.h"

#include "store/database.h"
#include "store/result.h"

namespace weavil {

void ExecuteIgnoringResult(DbSession& session, const std::string& sql) {
  Statement statement;
  statement.Execute(session, sql);
}

int32_t SelectId(DbSession& session, const std::string& sql) {
  Statement statement;
  if (Failed(statement.Execute(session, sql)) || statement.MoveNext() != kResultOk) return -1;
  int32_t id = -1;
  if (!statement.GetInt(1, id)) return -1;
  return id;
}

}  // namespace weavil
