// What the engines' dialects share: the composing of their parts into a statement's text.
#include <string>

#include "app_server/db/database.h"

namespace app {

std::string TSqlDialect::InList(const char* column, const char* list) const {
  return std::string(column) + InListOpen + list + InListClose;
}

std::string TSqlDialect::ListRows(const char* list, const char* alias) const {
  return std::string(ListRowsOpen) + list + ListRowsAs + alias + ListRowsColumns;
}

std::string TSqlDialect::Fence(const char* indent, const char* order) const {
  if (!FencesSubqueries) return {};
  std::string text;
  if (*order != '\0') text += std::string(indent) + "ORDER BY " + order;
  return text + indent + "OFFSET 0";
}

const TSqlDialect& SqlDialect(TDialect engine) {
  return engine == TDialect::Sqlite ? SqliteDialect() : PostgresDialect();
}

}  // namespace app
