// A connection that writes, for the administration commands (--add-user, --grant-branches...):
// a SQLite file opened for writing, or a PostgreSQL database. The server itself only reads.
//
// Statements take texts bound by position, written $1, $2... on both engines (SQLite also takes
// ?1). What fails raises std::runtime_error with the database's reason in Portuguese ("Falha ao
// gravar no banco: ...").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app_server/db/database.h"

namespace app {

class TWriteConnection {
 public:
  virtual ~TWriteConnection() = default;
  virtual TDialect Dialect() const = 0;
  // Statements without parameters, several separated by semicolons ("BEGIN", DDL).
  virtual void Execute(const char* sql) = 0;
  // One statement with `values` bound: the number of rows it changed.
  virtual int Change(const char* sql, const std::vector<std::string>& values) = 0;
  // One query with `values` bound: its rows, every value as text (null as "").
  virtual std::vector<std::vector<std::string>> Rows(const char* sql,
                                                     const std::vector<std::string>& values) = 0;
};

// Opens `target` (a SQLite file, which must exist, or a PostgreSQL connection string; see
// database.h) for writing. Raises std::runtime_error.
std::unique_ptr<TWriteConnection> OpenWriteConnection(const std::string& target);

}  // namespace app
