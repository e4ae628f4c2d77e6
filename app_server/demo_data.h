// The schema of the tracking service's database and a generator of demo data: Brazilian
// branches, people, products and suppliers, and requests in every status with their manager
// approvals, price quotations, purchases, purchase orders (AF) and invoices (NF).
//
// The same seed and scale always give the same data. Scale 1 is small enough to read (6
// branches, 80 requests, about 200 request items); each unit of scale adds 80 requests and about
// 200 items, so --scale 5000 gives about 1,000,000 items. Branches, people, products and
// suppliers grow more slowly (docs/service.md has the formulas).
#pragma once

#include <cstdint>
#include <string>

namespace app {

// CREATE TABLE statements, then the CREATE INDEX statements, separated by semicolons; the same
// text serves SQLite and PostgreSQL.
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

// Writes a fresh SQLite database at `path`, replacing what is there (it is built beside it and
// renamed, so a failure leaves any old file untouched). Raises std::runtime_error.
TDemoCounts CreateDemoDatabase(const std::string& path, const TDemoOptions& options);

}  // namespace app
