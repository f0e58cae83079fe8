#pragma once
// The SQL texts a PostgreSQL database is set up with, carried in the program.
#include <string_view>

namespace weavil::pg {

// The tables, indexes and views (db/schema-postgresql.sql).
std::string_view ServerSchemaSql();
// The Jet functions the statements call (store/jet_functions_postgresql.sql).
std::string_view ServerFunctionsSql();

}  // namespace weavil::pg
