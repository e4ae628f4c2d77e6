#include "app_server/db/kept_table.h"

#include <stdexcept>

namespace app {

namespace {

constexpr int kCheckTimeLimitMs = 10000;

}  // namespace

void InstallKeptTable(TWriteConnection& writer, const char* script, const char* table,
                      const char* sources) {
  const TDialect dialect = writer.Dialect();
  writer.Execute(dialect == TDialect::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
  try {
    // No write between the fill and the triggers: the writers wait for the commit.
    if (dialect == TDialect::Postgres)
      writer.Execute(
          ("LOCK TABLE " + std::string(sources) + " IN SHARE ROW EXCLUSIVE MODE").c_str());
    writer.Execute(script);
    writer.Execute(("ANALYZE " + std::string(table)).c_str());
    writer.Execute("COMMIT");
  } catch (...) {
    try {
      writer.Execute("ROLLBACK");
    } catch (...) {
    }
    throw;
  }
}

void CheckKeptTable(IConnection& connection, const std::string& target, const char* table,
                    const char* what, const char* probe, const char* triggerCount, int expected) {
  int found = 0;
  bool there = false;
  try {
    connection.Query(triggerCount, {}, 1, kCheckTimeLimitMs, [&](const IRow& row) {
      found = std::stoi(std::string(row.Text(0)));
      return true;
    });
    connection.Query(probe, {}, 1, kCheckTimeLimitMs, [](const IRow&) { return true; });
    there = true;
  } catch (const EDatabaseError&) {
  }
  if (there && found == expected) return;
  const std::string where = DescribeTarget(target);
  throw std::runtime_error(
      "o banco " + where +
      (there ? " tem a tabela " + std::string(table) + " sem todos os gatilhos que a mantêm"
             : " não tem a tabela " + std::string(table) + " (" + what + ")") +
      "; instale-a com: app-server --upgrade-schema --db " + where + ".");
}

}  // namespace app
