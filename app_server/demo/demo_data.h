// The schema of the tracking service's database and a generator of demo data: Brazilian
// branches, people, products and suppliers, and requests in every status with their manager
// approvals, price quotations, purchases, purchase orders (AF) and invoices (NF).
//
// The same seed and scale always give the same data. Scale 1 is small enough to read (6
// branches, 80 requests, about 200 request items); each unit of scale adds 80 requests and about
// 200 items, so --scale 5000 gives about 1,000,000 items. Branches, people, products and
// suppliers grow more slowly (docs/service.md has the formulas).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace app {

// SQLite: the CREATE TABLE statements, then the CREATE INDEX statements, separated by
// semicolons.
extern const char* const kSchemaSql;
extern const char* const kIndexSql;

struct TDemoOptions {
  uint64_t Seed = 1;
  int Scale = 1;
};

struct TDemoCounts {
  long Branches = 0, Operators = 0, Products = 0, Suppliers = 0;
  long Requests = 0, Items = 0, Approvals = 0, Quotations = 0, QuotationPrices = 0;
  long Purchases = 0, Orders = 0, Invoices = 0;
};

// A value of a demo row.
struct TDemoValue {
  enum class TKind { Null, Text, Real, Integer } Kind;
  std::string_view Text;
  double Real = 0;
  int64_t Integer = 0;

  TDemoValue(std::nullptr_t) : Kind(TKind::Null) {}
  TDemoValue(const std::string& text) : Kind(TKind::Text), Text(text) {}
  TDemoValue(const char* text) : Kind(TKind::Text), Text(text) {}
  TDemoValue(double value) : Kind(TKind::Real), Real(value) {}
  TDemoValue(int value) : Kind(TKind::Integer), Integer(value) {}
};

// Where the generated rows go: each engine writes them its own way.
class IDemoWriter {
 public:
  virtual ~IDemoWriter() = default;
  // A table whose rows follow, with its columns in the rows' order ("CDFILIAL, NMFILIAL");
  // returns the handle the rows name it by.
  virtual size_t Table(const char* name, const char* columns) = 0;
  virtual void Row(size_t table, std::initializer_list<TDemoValue> values) = 0;
};

// Generates the demo rows, parents before their children; the same seed and scale always give
// the same rows.
TDemoCounts GenerateDemoData(IDemoWriter& writer, const TDemoOptions& options);

// Writes a fresh SQLite database at `path`, replacing what is there (it is built beside it and
// renamed, so a failure leaves any old file untouched). Raises std::runtime_error.
TDemoCounts CreateDemoDatabase(const std::string& path, const TDemoOptions& options);

// The schema on PostgreSQL: the tables with their primary keys (the rows are loaded into
// them), then the foreign keys (checked once, after the load), then the indexes (those of
// SQLite, in PostgreSQL's terms).
extern const char* const kPostgresSchemaSql;
extern const char* const kPostgresForeignKeySql;
extern const char* const kPostgresIndexSql;

// Creates the schema and loads the demo data into the PostgreSQL database `conninfo` names, in
// one transaction (a failure changes nothing). An earlier demo there is replaced; tables of the
// same names that are not a demo's are left alone and the load refused. Raises
// std::runtime_error.
TDemoCounts CreatePostgresDemo(const std::string& conninfo, const TDemoOptions& options);

}  // namespace app
