// The PostgreSQL engine, on libpq.
//
// A call is one round trip: in pipeline mode the connection sends, then syncs once,
//   [prepare the statement, the first time on this connection]
//   SELECT set_config(...)  -- read-only, statement_timeout, DateStyle ISO, shortest floats
//   EXECUTE the statement   -- rows read one at a time
//   [EXECUTE a second one]  -- QueryThen: an account's scope, then the statement chosen for it
// Everything before the sync is one implicit transaction, so the settings (all "local") hold
// for exactly that statement and end with it: nothing is left on the session, and a pooler in
// transaction mode may hand the next call to another server connection. Statements are named
// after their text, so a name means the same statement on any server connection; a pooler that
// loses them (the statement missing, or there already from another client) makes the
// connection send each statement whole with its call from then on.
//
// Waiting is bounded: the socket is non-blocking and every wait polls it up to a deadline (the
// statement's time limit plus a margin for the network), after which the connection is dropped.
// A connection found broken (the server restarted, the network failed) is reopened by the next
// call; a call on a connection that had been idle in the pool is run once more on the reopened
// one when nothing of it had come back yet (it only reads, so running it again is harmless).
#include <fmt/format.h>
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app_server/db/database_postgres.h"
#include "app_server/db/iso_date.h"
#include "app_server/db/postgres_internal.h"
#include "app_server/log/metrics.h"

namespace app {

namespace {

using postgres::ArrayLiteral;
using postgres::ConnectGated;
using postgres::FirstLine;
using postgres::kNumberOids;
using postgres::ToPositional;
using postgres::TPositional;
using postgres::TPostgresRow;
using postgres::TResult;
using postgres::TypeOf;
using TClock = std::chrono::steady_clock;

// Time allowed beyond the statement's own limit for the answer to arrive.
constexpr int kNetworkMarginMs = 5000;

// The settings of each call, local to its transaction. The statements' joins are written in the
// order they should run (from the request, found by its branch and dates, out to its item's
// details): searching every order of ten tables took longer than running the query (3 ms of
// planning for 1.5 ms of execution, GetItens at scale 5000), so the planner keeps the order.
// The statements find rows by index, a few thousand look-ups at most (queries.h); PostgreSQL's
// default cost of a random page read (4 sequential reads, a spinning disk's) makes it trade
// those for a scan of a whole table of a million items once a branch holds a few thousand of
// them, where the table's pages are in memory or on a solid-state disk, as a site's are: a
// random read costs little more than a sequential one there (1.1, as PostgreSQL's
// documentation suggests for them). No statement here runs long enough to gain from compiling
// its expressions, while a plan the planner deems costly (a product range of every branch:
// estimated over the 100,000 where PostgreSQL compiles) spent 94 ms of its 742 compiling.
constexpr const char* kSettingsSql =
    "SELECT set_config('transaction_read_only', 'on', true), "
    "set_config('statement_timeout', $1, true), set_config('DateStyle', 'ISO', true), "
    "set_config('extra_float_digits', '1', true), set_config('join_collapse_limit', '1', true), "
    "set_config('random_page_cost', '1.1', true), set_config('jit', 'off', true)";

// A failure that leaves the connection unusable. `Lost`: the connection was found closed or
// failing, which a new connection may mend (rather than the server not answering in time).
struct TBroken {
  std::string Message;
  bool Lost = true;
};

class TPostgresConnection : public IConnection {
 public:
  explicit TPostgresConnection(std::string conninfo) : conninfo_(std::move(conninfo)) { Connect(); }
  ~TPostgresConnection() override { Drop(); }

  TDialect Dialect() const override { return TDialect::Postgres; }

  void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
             const std::function<bool(const IRow&)>& onRow) override {
    const TStatementCall call{sql, params, columns, onRow};
    Execute({&call}, nullptr, timeLimitMs);
  }

  void QueryThen(const TStatementCall& first, const std::function<bool()>& proceed,
                 const TStatementCall& second, int timeLimitMs) override {
    Execute({&first, &second}, &proceed, timeLimitMs);
  }

 private:
  struct TStaleStatements {};
  // A statement as sent: named after its text, so that a name means one text wherever a pooler
  // lets it be seen.
  struct TStatement {
    std::string Name;
    std::string Text;                // with $1, $2...
    std::vector<std::string> Names;  // of $1, $2...
    bool Prepared = false;           // on this connection
  };

  // Runs `calls` in one round trip (Run), with Query's retries.
  void Execute(std::vector<const TStatementCall*> calls, const std::function<bool()>* proceed,
               int timeLimitMs) {
    // A connection idle in the pool may have been closed meanwhile by a restart of the server,
    // which it learns only now: then once more, on a new connection.
    const bool mayRetry = used_;
    for (int attempt = 0;; ++attempt) {
      if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) Connect();
      bool delivered = false;
      try {
        Run(calls, proceed, timeLimitMs, delivered);
        used_ = true;
        return;
      } catch (const TBroken& broken) {
        Drop();
        if (attempt == 0 && mayRetry && broken.Lost && !delivered) continue;
        throw EDatabaseError("Falha no banco de dados: " + broken.Message);
      } catch (const TStaleStatements&) {
        // A pooler in transaction mode that does not keep prepared statements with the session
        // (pgbouncer before 1.21): each call may reach another server connection, where ours
        // are missing, or already there from another client. From now on this connection
        // sends each statement whole with its call.
        unnamed_ = true;
        if (attempt == 0) continue;
        throw EDatabaseError("Falha no banco de dados: instrução preparada não encontrada.");
      } catch (...) {
        // Anything else thrown midway (a refusal from onRow) leaves the pipeline unread.
        if (conn_ != nullptr && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF) Drop();
        throw;
      }
    }
  }

  TStatement& StatementFor(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second;
    TPositional positional = ToPositional(sql);
    TStatement statement;
    statement.Name = NameOf(positional.Text);
    statement.Text = std::move(positional.Text);
    statement.Names = std::move(positional.Names);
    return statements_.emplace(sql, std::move(statement)).first->second;
  }

  // "acomp_" and the FNV-1a hash of the text.
  static std::string NameOf(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return fmt::format("acomp_{:016x}", hash);
  }

  void Connect() {
    Drop();
    conn_ = ConnectGated(conninfo_);
    if (connectedBefore_) Metrics().DatabaseReconnected();
    connectedBefore_ = true;
    PQsetnonblocking(conn_, 1);
    used_ = false;
  }

  void Drop() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
    for (auto& entry : statements_) entry.second.Prepared = false;
    settingsPrepared_ = false;
  }

  [[noreturn]] void Broken(const std::string& what) {
    throw TBroken{what + " (" + FirstLine(PQerrorMessage(conn_)) + ")"};
  }

  // Sends what is queued, reading meanwhile so that neither side waits on the other.
  void Flush(TClock::time_point deadline) {
    for (;;) {
      const int pending = PQflush(conn_);
      if (pending == 0) return;
      if (pending < 0) Broken("conexão com o PostgreSQL perdida");
      Wait(deadline, true);
      if (PQconsumeInput(conn_) == 0) Broken("conexão com o PostgreSQL perdida");
    }
  }

  void Wait(TClock::time_point deadline, bool writing) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0)
        throw TBroken{"o PostgreSQL não respondeu em " +
                          std::to_string((timeLimitMs_ + kNetworkMarginMs) / 1000) + " s",
                      false};
      pollfd poller{PQsocket(conn_), static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
      const int ready = ::poll(&poller, 1, static_cast<int>(left));
      if (ready > 0) return;
      if (ready < 0 && errno != EINTR) Broken("conexão com o PostgreSQL perdida");
    }
  }

  // The next result of the pipeline, waiting for it up to the deadline; nullptr ends a query's.
  TResult Next(TClock::time_point deadline) {
    while (PQisBusy(conn_)) {
      Wait(deadline, false);
      if (PQconsumeInput(conn_) == 0) Broken("conexão com o PostgreSQL perdida");
    }
    TResult result(PQgetResult(conn_));
    if (PQstatus(conn_) == CONNECTION_BAD) Broken("conexão com o PostgreSQL perdida");
    return result;
  }

  // Reads a query's results up to its end; the first error, if any, in `failure`.
  void Finish(TClock::time_point deadline, std::optional<TResult>& failure) {
    for (TResult result = Next(deadline); result; result = Next(deadline))
      if (result.Status() == PGRES_FATAL_ERROR && !failure) failure.emplace(std::move(result));
  }

  // A statement's parameters in their positional order, written as text.
  struct TBound {
    TStatement* Statement = nullptr;
    std::vector<std::string> Written;
    // Into the call's texts, or into Written's strings, which stay in place when a TBound is
    // moved (a vector moves its buffer, not its elements).
    std::vector<const char*> Values;
    std::vector<Oid> Types;
    bool Prepare = false;  // sent with this call
  };

  TBound Bind(const TStatementCall& call) {
    TBound bound;
    bound.Statement = &StatementFor(call.Sql);
    const std::vector<std::string>& names = bound.Statement->Names;
    bound.Written.resize(names.size());
    bound.Values.resize(names.size());
    bound.Types.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      const TParam* value = nullptr;
      for (const auto& param : call.Params)
        if (param.first == names[i]) value = &param.second;
      if (value == nullptr) throw EDatabaseError("Parâmetro :" + names[i] + " sem valor.");
      bound.Types[i] = TypeOf(*value);
      switch (value->Kind) {
        case TParam::TKind::Text:
          if (value->Text.find('\0') != std::string::npos)
            throw EDatabaseError("Parâmetro :" + names[i] + " contém o caractere nulo.");
          bound.Values[i] = value->Text.c_str();
          continue;
        case TParam::TKind::Day:
          bound.Written[i] = DayText(value->Day);
          break;
        case TParam::TKind::Codes:
          bound.Written[i] = ArrayLiteral(value->Codes);
          break;
      }
      bound.Values[i] = bound.Written[i].c_str();
    }
    return bound;
  }

  // The calls one after the other in one pipeline, under one sync: one round trip. The call
  // after the first runs only when `proceed` (if any) says so once the first's rows are in;
  // otherwise its rows, already on their way, are read and dropped.
  void Run(const std::vector<const TStatementCall*>& calls, const std::function<bool()>* proceed,
           int timeLimitMs, bool& delivered) {
    timeLimitMs_ = timeLimitMs;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeLimitMs + kNetworkMarginMs);

    std::vector<TBound> bound;
    for (const TStatementCall* call : calls) bound.push_back(Bind(*call));
    const std::string timeout = std::to_string(timeLimitMs);
    const char* settings[] = {timeout.c_str()};
    static const std::string settingsName = NameOf(kSettingsSql);

    if (PQenterPipelineMode(conn_) == 0) Broken("conexão com o PostgreSQL perdida");
    const bool prepareSettings = !unnamed_ && !settingsPrepared_;
    bool sent = true;
    if (unnamed_) {
      sent =
          sent && PQsendQueryParams(conn_, kSettingsSql, 1, nullptr, settings, nullptr, nullptr, 0);
      for (const TBound& b : bound)
        sent = sent && PQsendQueryParams(conn_, b.Statement->Text.c_str(),
                                         static_cast<int>(b.Values.size()), b.Types.data(),
                                         b.Values.data(), nullptr, nullptr, 0);
    } else {
      if (prepareSettings)
        sent = sent && PQsendPrepare(conn_, settingsName.c_str(), kSettingsSql, 1, nullptr);
      for (size_t i = 0; i < bound.size(); ++i) {
        TBound& b = bound[i];
        // Once, when the same statement comes twice.
        b.Prepare = !b.Statement->Prepared;
        for (size_t j = 0; j < i; ++j)
          if (bound[j].Statement == b.Statement) b.Prepare = false;
        if (b.Prepare)
          sent = sent && PQsendPrepare(conn_, b.Statement->Name.c_str(), b.Statement->Text.c_str(),
                                       static_cast<int>(b.Values.size()), b.Types.data());
      }
      sent = sent &&
             PQsendQueryPrepared(conn_, settingsName.c_str(), 1, settings, nullptr, nullptr, 0);
      for (const TBound& b : bound)
        sent = sent && PQsendQueryPrepared(conn_, b.Statement->Name.c_str(),
                                           static_cast<int>(b.Values.size()), b.Values.data(),
                                           nullptr, nullptr, 0);
    }
    sent = sent && PQpipelineSync(conn_);
    if (!sent) Broken("conexão com o PostgreSQL perdida");
    Flush(deadline);

    // Results in the order sent; after an error the server skips to the sync ("aborted").
    std::optional<TResult> failure;
    if (prepareSettings) {
      Finish(deadline, failure);
      if (!failure) settingsPrepared_ = true;
    }
    for (TBound& b : bound) {
      if (!b.Prepare) continue;
      Finish(deadline, failure);
      if (!failure) b.Statement->Prepared = true;
    }
    Finish(deadline, failure);  // the settings
    for (size_t i = 0; i < calls.size(); ++i) {
      const TStatementCall& call = *calls[i];
      const bool wanted = !failure && (i == 0 || proceed == nullptr || (*proceed)());
      if (wanted) PQsetSingleRowMode(conn_);
      std::vector<bool> numeric;
      for (TResult result = Next(deadline); result; result = Next(deadline)) {
        if (!wanted) continue;
        const ExecStatusType status = result.Status();
        if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
          if (PQnfields(result.get()) != call.Columns)
            throw EDatabaseError("A consulta não traz as colunas do pacote.");
          if (numeric.empty()) {
            for (int column = 0; column < call.Columns; ++column) {
              const Oid type = PQftype(result.get(), column);
              numeric.push_back(std::find(std::begin(kNumberOids), std::end(kNumberOids), type) !=
                                std::end(kNumberOids));
            }
          }
          // One row at a time (the result that ends the rows has none).
          for (int row = 0; row < PQntuples(result.get()); ++row) {
            delivered = true;
            if (!call.OnRow(TPostgresRow(result.get(), row, numeric))) {
              // Stopping early: the rest is not wanted, and the connection goes with it.
              throw TBroken{"consulta interrompida", false};
            }
          }
        } else if (status == PGRES_FATAL_ERROR && !failure) {
          failure.emplace(std::move(result));
        }
      }
    }
    TResult sync = Next(deadline);
    if (!sync || sync.Status() != PGRES_PIPELINE_SYNC) Broken("resposta inesperada do PostgreSQL");
    if (PQexitPipelineMode(conn_) == 0) Broken("resposta inesperada do PostgreSQL");

    if (failure) {
      const std::string state = failure->State();
      if (state == "57014")
        throw EQueryTimeout("A consulta excedeu o tempo limite de " +
                            std::to_string(timeLimitMs / 1000) + " s.");
      // A statement missing on this server connection, or one of its name already there.
      if (state == "26000" || state == "42P05") throw TStaleStatements{};
      // The server going away (shutdown, crash, connection failure) rather than the statement.
      if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0)
        throw TBroken{"conexão com o PostgreSQL perdida (" + failure->Message() + ")"};
      throw EDatabaseError("Falha no banco de dados: " + failure->Message());
    }
  }

  std::string conninfo_;
  PGconn* conn_ = nullptr;
  bool used_ = false;
  bool connectedBefore_ = false;  // a connection after this is a reconnection (for the metrics)
  bool settingsPrepared_ = false;
  bool unnamed_ = false;  // statements sent whole with each call (see Query)
  int timeLimitMs_ = 0;
  std::unordered_map<const char*, TStatement> statements_;
};

}  // namespace

std::unique_ptr<IConnection> OpenPostgres(const std::string& conninfo) {
  return std::make_unique<TPostgresConnection>(conninfo);
}

std::unique_ptr<IConnection> OpenDatabase(const std::string& target) {
  if (IsPostgresTarget(target)) return OpenPostgres(target);
  return OpenSqlite(target);
}

// A list is bound as a text[] (ArrayLiteral); a subquery is kept as written with OFFSET 0.
const TSqlDialect& PostgresDialect() {
  static const TSqlDialect dialect{
      .Engine = TDialect::Postgres,
      .OrderedJoin = "JOIN",
      .NoDate = "TIMESTAMP '1899-12-30 00:00:00'",
      .InListOpen = " = ANY (:",
      .InListClose = ")",
      .ListRowsOpen = "unnest(:",
      .ListRowsAs = ") AS ",
      .ListRowsColumns = "(value)",
      .FencesSubqueries = true,
      .ListLeadsJoin = false,
  };
  return dialect;
}

}  // namespace app
