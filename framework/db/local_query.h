// Read-only query on the host's local database (the product look-up).
//
// The query stores a generic statement (SQL) and one per database dialect (SQL_ORACLE, SQL_MSSQL,
// SQL_IB). The local database is SQLite (or PostgreSQL), neither of which has a dialect statement
// of its own, so the generic SQL runs; a database of one of the three dialects runs its own.
// Opening loads every row into the inner data set `Query`, whose persistent fields the screen
// declares. Parameters are bound, never spliced.
#pragma once

#include <string>
#include <vector>

#include "framework/data/dataset.h"

namespace fw {

enum class TSqlDialect { Generic, Oracle, MSSQL, InterBase };

// The host's local database: a SQLite file opened read-only.
class TLocalDatabase {
 public:
  static TLocalDatabase& Instance();
  void SetPath(std::string path);
  const std::string& Path() const { return path_; }
  TSqlDialect Dialect() const { return TSqlDialect::Generic; }
  // Runs a statement with text parameters bound in order; the rows come back as a packet whose
  // columns take the given field definitions by position. Raises EDatabaseError.
  TDataPacket Run(const std::string& sql, const std::vector<std::string>& params,
                  const std::vector<TPacketField>& fields) const;

 private:
  std::string path_;
};

class TLocalQuery : public TComponent {
 public:
  TLocalQuery(TComponent* owner, std::string name);

  std::vector<std::string> SQL;
  std::vector<std::string> SQL_ORACLE;
  std::vector<std::string> SQL_MSSQL;
  std::vector<std::string> SQL_IB;

  // Stored settings of the query component (kept as the screens describe them).
  bool ReadOnly = true;
  bool ClientCursor = true;
  bool KeysetCursor = true;
  int CacheSize = 1;
  int MaxRecords = 0;
  bool Prepared = false;
  bool CachedUpdates = false;
  bool Filtered = false;
  bool ParamCheck = true;
  bool EnableBCD = false;
  bool ObjectView = false;
  bool MarshalAll = true;
  bool AutoCalcFields = true;
  std::string Connection = "dtmDBGeral.adcGeral";
  std::string Database = "dtmDBGeral.dtbGeral";
  std::string Transaction = "dtmDBGeral.ibtGeral";

  TClientDataSet* Query() const { return query_; }
  // The statement that runs on the local database's dialect, lines joined with "\n".
  std::string StatementText() const;
  bool Active() const { return query_->Active(); }
  void Open();
  void Close() { query_->Close(); }

 private:
  TClientDataSet* query_;
};

}  // namespace fw
