#pragma once
// The two statement shapes of the insert-then-select pattern, shared by the classifiers.
#include <cstdint>
#include <string>

namespace weavil {

class DbSession;

// Runs a statement whose failure is the normal case (a second insert of a unique name).
void ExecuteIgnoringResult(DbSession& session, const std::string& sql);

// The id in the first column of the first row; -1 when the query fails, gives no row or
// gives null.
int32_t SelectId(DbSession& session, const std::string& sql);

}  // namespace weavil
