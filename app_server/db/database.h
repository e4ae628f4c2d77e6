// Database access for the service: a connection runs one statement at a time with named, typed
// parameters (":cdFilial") and hands each result row to a callback. The pool gives each thread
// that runs calls a connection of its own for the length of a call, and reopens them all when the
// database file is replaced.
//
// Two engines: SQLite (a file, the default for one machine) and PostgreSQL (a site's database
// server). Each statement has a text per engine (queries.h); what binds to a parameter is the
// same value on both, written in each engine's form (a day as its ISO date, a list of codes as
// a JSON array for SQLite and a text[] for PostgreSQL).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {

// A database failure; the message is for the log and the client, in Portuguese.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The query ran past its time limit.
class EQueryTimeout : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

enum class TDialect { Sqlite, Postgres };

// How a statement is written for one engine, supplied by the engine (database_sqlite.cpp,
// database_postgres.cpp): the text the two differ in, and how each planner is held to the plan a
// statement is written for. The service's statements are composed from it and name no engine.
struct TSqlDialect {
  TDialect Engine;
  // A join to be made in the order written. SQLite's planner reorders a plain JOIN and is held by
  // CROSS JOIN; PostgreSQL keeps the order of joins it is given few enough of.
  const char* OrderedJoin;
  // The delivery date's stand-in for "none": text in SQLite, a timestamp in PostgreSQL.
  const char* NoDate;
  // A list parameter (its codes, selection.h) as a condition on a column (column, open, name,
  // close) and as a table of its codes (open, name, "as", alias, columns).
  const char* InListOpen;
  const char* InListClose;
  const char* ListRowsOpen;
  const char* ListRowsAs;
  const char* ListRowsColumns;
  // PostgreSQL folds a subquery into a join of its own choosing, and reads a table from its start
  // for a first match, counting on one soon: a subquery it must run as written ends in OFFSET 0,
  // after an ORDER BY that names the index to search when it looks for a first match.
  bool FencesSubqueries;
  // SQLite would rather read every request in number order than sort those of a few listed
  // branches: the list, put first in the FROM, makes it search each branch's.
  bool ListLeadsJoin;

  // "column is one of the codes of the list parameter `list`".
  std::string InList(const char* column, const char* list) const;
  // The codes of the list parameter `list` as a table named `alias`, each code as `value`.
  std::string ListRows(const char* list, const char* alias) const;
  // The end of a subquery to run as written: where FencesSubqueries, "ORDER BY order" (unless
  // `order` is empty) and "OFFSET 0", each after `indent`; nothing elsewhere.
  std::string Fence(const char* indent, const char* order = "") const;
};

const TSqlDialect& SqliteDialect();
const TSqlDialect& PostgresDialect();
const TSqlDialect& SqlDialect(TDialect engine);

// The current row of a running query.
class IRow {
 public:
  virtual ~IRow() = default;
  virtual bool IsNull(int column) const = 0;
  // True when the value is stored as a number (not text).
  virtual bool IsNumber(int column) const = 0;
  virtual std::string_view Text(int column) const = 0;
  virtual double Number(int column) const = 0;
};

// A parameter's value: a text as is; a day, compared as the start of that day; or a list of
// codes, for "is one of".
struct TParam {
  enum class TKind { Text, Day, Codes };
  TKind Kind = TKind::Text;
  std::string Text;
  // Days since 30/12/1899, whole. From 01/01/0001 to the day after 31/12/9999 (an exclusive
  // upper bound).
  int64_t Day = 0;
  std::vector<std::string> Codes;

  TParam() = default;
  TParam(std::string text) : Text(std::move(text)) {}
  TParam(const char* text) : Text(text) {}
  static TParam FromDay(int64_t day) {
    TParam param;
    param.Kind = TKind::Day;
    param.Day = day;
    return param;
  }
  static TParam FromCodes(std::vector<std::string> codes) {
    TParam param;
    param.Kind = TKind::Codes;
    param.Codes = std::move(codes);
    return param;
  }
};

// Parameters by name, without the colon: {"cdFilial", "0001"}.
using TNamedParams = std::vector<std::pair<std::string, TParam>>;

// A statement with its parameters and what takes its rows, as IConnection::Query runs one.
// `Params` must outlive the call.
struct TStatementCall {
  const char* Sql;
  const TNamedParams& Params;
  int Columns;
  std::function<bool(const IRow&)> OnRow;
};

class IConnection {
 public:
  virtual ~IConnection() = default;
  virtual TDialect Dialect() const = 0;
  // Runs `sql` (a statement of the service: the same text is prepared once per connection) with
  // every named parameter bound from `params`, in a read-only transaction of its own, for at
  // most `timeLimitMs` (then EQueryTimeout). A parameter without a value raises EDatabaseError.
  // `onRow` returns false to stop early. `columns` must match the statement's.
  virtual void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
                     const std::function<bool(const IRow&)>& onRow) = 0;
  // `first`, then `second` when `proceed`, asked once first's rows are in, says so; each as Query
  // runs it. An engine that can sends both at once, saving a round trip (PostgreSQL), and then
  // runs `second` whatever `proceed` says, dropping its rows when it says no.
  virtual void QueryThen(const TStatementCall& first, const std::function<bool()>& proceed,
                         const TStatementCall& second, int timeLimitMs) {
    Query(first.Sql, first.Params, first.Columns, timeLimitMs, first.OnRow);
    if (proceed()) Query(second.Sql, second.Params, second.Columns, timeLimitMs, second.OnRow);
  }
};

// SQLite, read-only (the service changes no data).
std::unique_ptr<IConnection> OpenSqlite(const std::string& path);
// What every SQLite connection runs first: no memory map (see database_sqlite.cpp). Benchmarks
// open their connections with it to measure what the server does.
extern const char* const kSqliteConnectionPragmas;
// What identifies the SQLite file now at `path`: its device and inode, so that a file renamed
// over it reads as another while writes to it (the site's other programs commit all the time)
// do not; empty when there is no file there. A file truncated or written over in place by
// something other than SQLite fails the calls that read it with SQLite's own report of the
// damage.
std::string SqliteFileIdentity(const std::string& path);

// PostgreSQL, from a libpq connection string or URI ("postgresql://acomp@db1:5432/compras",
// "host=db1 dbname=compras user=acomp"). Connects at once (EDatabaseError when it cannot); after
// the server goes away, the next query connects again by itself.
//
// While a database cannot be reached, the attempts to connect to it are spaced, whichever
// connection makes them: one at a time, 100 ms after the failure, then twice as long each time
// up to kMaxConnectSpacing. Meanwhile one call that needs a connection waits for the next
// attempt, due within kMaxConnectWait, and makes it; the others fail at once with the last
// reason. So the database sees one attempt at a time at most, at most one query thread sleeps,
// and the first call after the database is back works within that wait. Each failed attempt is
// one line of the database log.
inline constexpr std::chrono::milliseconds kMaxConnectSpacing{1000};
inline constexpr std::chrono::milliseconds kMaxConnectWait{1000};
std::unique_ptr<IConnection> OpenPostgres(const std::string& conninfo);

// Where the database code writes what an operator should hear of (the server's log); nothing
// until set.
void SetDatabaseLog(std::function<void(const std::string&)> log);
void DatabaseLog(const std::string& line);

// Whether --db names a PostgreSQL database: a URI (postgresql:// or postgres://) or a key=value
// connection string ("host=db1 dbname=compras"). Anything else is a SQLite file.
bool IsPostgresTarget(std::string_view target);

// The target as the log and messages may show it, without a password: "db1:5432/compras" for
// PostgreSQL, the path for SQLite.
std::string DescribeTarget(const std::string& target);

// Either engine, as --db names it.
std::unique_ptr<IConnection> OpenDatabase(const std::string& target);

// Connections for the threads that run calls: a call borrows one and gives it back. At most one
// connection per such thread is ever open, so the pool is as large as the server's threads.
//
// With an identity function (SqliteFileIdentity for a file; none for PostgreSQL, whose server
// owns its files), every call first asks for the identity of what the connections read: when it
// changed (the file was replaced), every idle connection is dropped at once and those in use are
// dropped when given back, so that a call that starts after the replacement reads only the new
// file; when it is empty (the file was removed) the call fails, and so does every other until a
// file is back. A query during which the identity changed fails too ("substituído durante a
// consulta"): what it read may mix both. OnEvent, when set, hears of each change once (for the
// log).
class TConnectionPool {
 public:
  using TFactory = std::function<std::unique_ptr<IConnection>()>;
  using TIdentity = std::function<std::string()>;
  explicit TConnectionPool(TFactory factory, TIdentity identity = {})
      : factory_(std::move(factory)), identity_(std::move(identity)) {}

  std::function<void(const std::string&)> OnEvent;

  class TLease {
   public:
    TLease(TConnectionPool& pool, std::unique_ptr<IConnection> connection, uint64_t generation,
           std::string identity)
        : pool_(pool),
          checked_(pool, std::move(connection), std::move(identity)),
          generation_(generation) {}
    ~TLease() { pool_.GiveBack(std::move(checked_.Connection), generation_); }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    IConnection& operator*() { return checked_; }
    IConnection* operator->() { return &checked_; }

   private:
    // Runs the query, then makes sure the source did not change under it.
    struct TChecked : IConnection {
      TChecked(TConnectionPool& pool, std::unique_ptr<IConnection> connection, std::string identity)
          : Pool(pool), Connection(std::move(connection)), Identity(std::move(identity)) {}
      TDialect Dialect() const override { return Connection->Dialect(); }
      void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
                 const std::function<bool(const IRow&)>& onRow) override;
      TConnectionPool& Pool;
      std::unique_ptr<IConnection> Connection;
      std::string Identity;
    };
    TConnectionPool& pool_;
    TChecked checked_;
    uint64_t generation_;
  };

  // Raises EDatabaseError when the source is gone or a connection cannot be opened.
  TLease Acquire();

 private:
  void GiveBack(std::unique_ptr<IConnection> connection, uint64_t generation);

  TFactory factory_;
  TIdentity identity_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<IConnection>> idle_;
  uint64_t generation_ = 0;
  std::string current_;  // the identity the connections of this generation read
  bool known_ = false;   // current_ was read at least once
};

}  // namespace app
