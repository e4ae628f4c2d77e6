// Database access for the service: a connection runs one statement at a time with named text
// parameters (":cdFilial") and hands each result row to a callback. The pool gives each worker
// thread a connection of its own for the length of a call.
#pragma once

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

// Parameters by name, without the colon: {"cdFilial", "0001"}.
using TNamedParams = std::vector<std::pair<std::string, std::string>>;

class IConnection {
 public:
  virtual ~IConnection() = default;
  // Runs `sql` (a statement of the service: the same text is prepared once per connection) with
  // every named parameter bound from `params`; a parameter without a value raises
  // EDatabaseError. `onRow` returns false to stop early. `columns` must match the statement's.
  virtual void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
                     const std::function<bool(const IRow&)>& onRow) = 0;
};

// SQLite, read-only (the service changes no data).
std::unique_ptr<IConnection> OpenSqlite(const std::string& path);

// Connections for the worker threads: a call borrows one and gives it back.
class TConnectionPool {
 public:
  using TFactory = std::function<std::unique_ptr<IConnection>()>;
  explicit TConnectionPool(TFactory factory) : factory_(std::move(factory)) {}

  class TLease {
   public:
    TLease(TConnectionPool& pool, std::unique_ptr<IConnection> connection)
        : pool_(pool), connection_(std::move(connection)) {}
    ~TLease() { pool_.GiveBack(std::move(connection_)); }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    IConnection& operator*() const { return *connection_; }
    IConnection* operator->() const { return connection_.get(); }

   private:
    TConnectionPool& pool_;
    std::unique_ptr<IConnection> connection_;
  };

  TLease Acquire();

 private:
  void GiveBack(std::unique_ptr<IConnection> connection);

  TFactory factory_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<IConnection>> idle_;
};

}  // namespace app
