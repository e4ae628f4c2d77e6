// The request screen's cascade at a site's volume, per filter shape, on each engine, against its
// physical floor measured in the same run.
//
// The cascade is what one exit from the filter panel costs the user: GetFilSoliGD for the
// filter, GetItens of the first branch it returns, GetDestSolGere of that branch's first item;
// the item screen's is GetItemProduto of an item with a purchase, then GetItemCota of its first
// product. Each runs as the screen runs it: through TNetConnection and the TCP client to a real
// app-server (one on SQLite, one on PostgreSQL, the same demo data), each key read from the
// answer before; the time is taken at the client.
//
// The physical floor of a cascade is what it cannot do without: its answers, and the round trips
// that carry them. It is measured by the same cascade, through the same client, against a server
// that answers from memory: the same server code (app::TServer, its reactors, query threads and
// log) in a process of its own, with a service object that writes each call's answer packet as
// recorded beforehand, byte for byte, and runs no statement. What a cascade takes beyond it is
// the database work and what the service does with its rows; the ratio p50 / floor is that.
// Beside it, "stmt": the same calls' statements (the account's read scope, then the method's)
// run in this process through the server's database layer, rows read and dropped.
//
// The cascades run as "demo", which reads every branch, and in the same rounds as restricted
// accounts (docs/security.md, "Who reads what"): "restrita", granted every branch as a list (its
// answers are demo's, byte for byte, so the ratio is what the scope's semi-join costs), and the
// requester with most requests, who reads only its own (smaller answers, through the index of
// a requester's requests). Each account has its own floor (its own answers). Their p50 against
// demo's is the read scopes' ratio; beside it, the median of each round's ratio (the account's
// cascade and demo's run one after the other in every round), which the machine's load moves
// less than the ratio of two medians of a millisecond.
//
// Last, on SQLite, how the pages are read: GetItens in process with the pages read through
// read(), as the server reads them, and through a memory map, as it once did.
//
//   bench_cascade [--scale 5000] [--rounds 40] [--cache DIR] [--postgres CLUSTER] [--workers 4]
//                 [--shape NAME]...   (the month, which the first-query measure takes, and these)
//
// CLUSTER is a libpq connection string without a database ("host=/tmp/pg port=5432
// user=postgres"; $ACOMP_TEST_PG by default); without one, SQLite alone. The demo databases are
// made once per version of the generator and reused (bench/common/demo_cache.h says where).
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/db/database.h"
#include "app_server/net/server.h"
#include "app_server/rpc/rpc.h"
#include "app_server/tracking/queries.h"
#include "app_server/tracking/tracking_service.h"
#include "bench/common/demo_cache.h"
#include "bench/common/options.h"
#include "bench/common/server.h"
#include "framework/host/config.h"
#include "framework/host/net_connection.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"
#include "protocol/wire.h"

namespace {

using TClock = std::chrono::steady_clock;
using fw::TRemoteArg;

double Since(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}

// ------------------------------------------------------------------ the filters

struct TShape {
  std::string Name;
  std::string Description;
  std::map<std::string, TRemoteArg> Filter;  // the filter panel's values
  bool ItemScreen = false;                   // the item screen's two calls, not the cascade
};

TRemoteArg Day(int year, int month, int day) {
  return TRemoteArg::FromDate(fw::EncodeDateTime({year, month, day}));
}

std::string Selection(const std::vector<std::string>& codes) {
  std::string text;
  for (const auto& code : codes) text += (text.empty() ? "'" : ",'") + code + "'";
  return text;
}

// Codes spread over the whole table, in order.
std::vector<std::string> Spread(app::IConnection& db, const char* sql, size_t count) {
  std::vector<std::string> all;
  db.Query(sql, {}, 1, 600000, [&](const app::IRow& row) {
    all.emplace_back(row.Text(0));
    return true;
  });
  std::vector<std::string> chosen;
  for (size_t i = 0; i < count && !all.empty(); ++i) chosen.push_back(all[i * all.size() / count]);
  return chosen;
}

std::vector<TShape> Shapes(app::IConnection& db) {
  const auto all = [] {
    std::map<std::string, TRemoteArg> filter;
    for (const char* flag : {"stDtSoli", "stDtEntr", "stTFilSoli", "stTSolicita", "stTCdProd"})
      filter[flag] = TRemoteArg::FromInOut("T");
    for (const char* list : {"stLFilSoli", "stLSolicita"}) filter[list] = TRemoteArg::FromInOut("");
    for (const char* date : {"dtSoliIni", "dtSoliFin", "dtEntrIni", "dtEntrFin"})
      filter[date] = TRemoteArg::FromDate(0);
    filter["cdProdIni"] = filter["cdProdFin"] = TRemoteArg::FromString("");
    return filter;
  }();
  auto dates = [&](TRemoteArg from, TRemoteArg to) {
    auto filter = all;
    filter["stDtSoli"] = TRemoteArg::FromInOut("");
    filter["dtSoliIni"] = from;
    filter["dtSoliFin"] = to;
    return filter;
  };
  std::vector<TShape> shapes;
  const auto month = dates(Day(2024, 3, 1), Day(2024, 3, 31));
  shapes.push_back({"one month", "requests of 01/03/2024 to 31/03/2024", month});
  shapes.push_back({"one week", "requests of 04/03/2024 to 10/03/2024",
                    dates(Day(2024, 3, 4), Day(2024, 3, 10))});
  shapes.push_back({"all dates", "no criterion at all", all});
  auto branches = month;
  const auto five = Spread(db, "SELECT CDFILIAL FROM FILIAL ORDER BY 1", 5);
  branches["stTFilSoli"] = TRemoteArg::FromInOut("");
  branches["stLFilSoli"] = TRemoteArg::FromInOut(Selection(five));
  shapes.push_back({"5 branches", "one month, branches " + Selection(five), branches});
  auto requests = all;
  const auto twenty = Spread(db, "SELECT NRSOLICMP FROM SOLICITACAO ORDER BY 1", 20);
  requests["stTSolicita"] = TRemoteArg::FromInOut("");
  requests["stLSolicita"] = TRemoteArg::FromInOut(Selection(twenty));
  shapes.push_back({"20 requests", "all dates, 20 requests spread over the year", requests});
  auto products = all;
  products["stTCdProd"] = TRemoteArg::FromInOut("");
  products["cdProdIni"] = TRemoteArg::FromString("01.002.000");
  products["cdProdFin"] = TRemoteArg::FromString("01.002.999");
  shapes.push_back({"product range", "all dates, products 01.002.000 to 01.002.999", products});
  shapes.push_back({"month, no match", "requests of 01/03/2022 to 31/03/2022 (none)",
                    dates(Day(2022, 3, 1), Day(2022, 3, 31))});
  auto due = all;
  due["stDtEntr"] = TRemoteArg::FromInOut("");
  due["dtEntrIni"] = Day(2024, 3, 4);
  due["dtEntrFin"] = Day(2024, 3, 10);
  shapes.push_back({"week due", "items due 04/03/2024 to 10/03/2024, all request dates", due});
  shapes.push_back({"item screen",
                    "GetItemProduto + GetItemCota of the month's first item with a purchase", month,
                    true});
  return shapes;
}

// ------------------------------------------------------------------ calls

std::vector<TRemoteArg> ArgsOf(const std::string& method,
                               const std::map<std::string, TRemoteArg>& values) {
  std::vector<TRemoteArg> args;
  for (const auto& param : service::FindMethod(method)->Params)
    args.push_back(values.at(param.Name));
  return args;
}

struct TCall {
  std::string Method;
  std::vector<TRemoteArg> Args;
  size_t Rows = 0;
};

std::string Cell(const fw::TDataPacket& packet, const char* field, size_t row = 0) {
  const auto& column = packet.Columns()[packet.FieldIndex(field)];
  return column.IsNull(row) ? "" : std::string(column.GetString(row));
}

fw::TRemoteResult Invoke(fw::IAppServer& server, TCall& call) {
  fw::TRemoteResult result = server.Invoke(call.Method, call.Args);
  if (result.Refused) throw std::runtime_error(call.Method + " refused: " + result.RefusalMessage);
  call.Rows = result.Data.RowCount();
  return result;
}

// The keys of the item the item screen opens on: the month's first branch, its first item
// with a purchase.
struct TItemKeys {
  std::map<std::string, TRemoteArg> Values;  // GetItemProduto's parameters
  TRemoteArg Branch, Quotation;              // the item's buying branch and quotation
};

// One cascade as the request screen makes it, or the item screen's calls; the calls made, with
// their rows.
std::vector<TCall> Cascade(fw::IAppServer& server, const TShape& shape, const TItemKeys& item) {
  std::vector<TCall> calls;
  if (shape.ItemScreen) {
    calls.push_back({"GetItemProduto", ArgsOf("GetItemProduto", item.Values)});
    const auto products = Invoke(server, calls.back());
    if (products.Data.RowCount() == 0) return calls;
    calls.push_back(
        {"GetItemCota",
         ArgsOf("GetItemCota",
                {{"cdFilial", item.Branch},
                 {"cdProduto", TRemoteArg::FromString(Cell(products.Data, "CDPRODUTO"))},
                 {"nrColePreco", item.Quotation}})});
    Invoke(server, calls.back());
    return calls;
  }
  auto filter = shape.Filter;
  calls.push_back({"GetFilSoliGD", ArgsOf("GetFilSoliGD", filter)});
  const auto branches = Invoke(server, calls.back());
  if (branches.Data.RowCount() == 0) return calls;
  filter["cdFilial"] = TRemoteArg::FromString(Cell(branches.Data, "CDFILIAL"));
  calls.push_back({"GetItens", ArgsOf("GetItens", filter)});
  const auto items = Invoke(server, calls.back());
  if (items.Data.RowCount() == 0) return calls;
  auto key = [&](const char* field) { return TRemoteArg::FromString(Cell(items.Data, field)); };
  calls.push_back(
      {"GetDestSolGere", ArgsOf("GetDestSolGere", {{"nrSoliCmp", key("NRSOLICMP")},
                                                   {"cdFilial", filter["cdFilial"]},
                                                   {"cdFilLan", key("CDFILLAN")},
                                                   {"cdDestSoli", key("CDDESTSOLI")}})});
  Invoke(server, calls.back());
  return calls;
}

TItemKeys ItemKeys(fw::IAppServer& server, const TShape& month) {
  auto filter = month.Filter;
  TCall branches{"GetFilSoliGD", ArgsOf("GetFilSoliGD", filter)};
  filter["cdFilial"] = TRemoteArg::FromString(Cell(Invoke(server, branches).Data, "CDFILIAL"));
  TCall itemsCall{"GetItens", ArgsOf("GetItens", filter)};
  const auto items = Invoke(server, itemsCall);
  size_t row = 0;
  while (row + 1 < items.Data.RowCount() && (Cell(items.Data, "NRCOMPRA", row).empty() ||
                                             Cell(items.Data, "NRCOLEPRECO", row).empty()))
    ++row;
  auto key = [&](const char* field) {
    return TRemoteArg::FromString(Cell(items.Data, field, row));
  };
  const auto& due = items.Data.Columns()[items.Data.FieldIndex("DTPROGENTR")];
  TItemKeys keys;
  keys.Values = filter;
  keys.Values["nrSoliCmp"] = key("NRSOLICMP");
  keys.Values["dtProgEntr"] = TRemoteArg::FromDate(due.IsNull(row) ? 0 : due.GetNumber(row));
  keys.Values["cdFilLan"] = key("CDFILLAN");
  keys.Values["nrCompra"] = key("NRCOMPRA");
  keys.Branch = key("CDFILIAL");
  keys.Quotation = key("NRCOLEPRECO");
  return keys;
}

// ------------------------------------------------------------------ the floor

app::TRpcValue RpcValueOf(const TRemoteArg& arg) {
  app::TRpcValue value;
  if (arg.Kind == TRemoteArg::TKind::Date) {
    value.Kind = app::TRpcValue::TKind::Float;
    value.Number = arg.Date;
  } else {
    value.Kind = app::TRpcValue::TKind::String;
    value.Text = arg.Text;
  }
  return value;
}

std::vector<app::TRpcValue> RpcValuesOf(const std::vector<TRemoteArg>& args) {
  std::vector<app::TRpcValue> values;
  for (const auto& arg : args) values.push_back(RpcValueOf(arg));
  return values;
}

// What identifies a call: the account, the method and every parameter as the server decodes it.
std::string KeyOf(const std::string& login, std::string_view method,
                  const std::vector<app::TRpcValue>& params) {
  std::string key = login;
  key += '\x1f';
  key += method;
  for (const auto& param : params) {
    key += '\x1f';
    if (param.Kind == app::TRpcValue::TKind::String) {
      key += 's';
      key += param.Text;
    } else {
      char number[32];
      std::snprintf(number, sizeof(number), "n%.17g", param.Number);
      key += number;
    }
  }
  return key;
}

// A call's answer as the service writes it ({"data": packet, "refs": [...]}), with its rows.
struct TAnswer {
  std::string Bytes;
  size_t Rows = 0;
};
using TAnswers = std::map<std::string, TAnswer>;

// The service answering from memory: each recorded call's answer, byte for byte; no statement.
// The same methods are quick as on the tracking service, so that the server runs them on the
// same threads.
class TReplayService : public app::IServiceObject {
 public:
  explicit TReplayService(const TAnswers& answers) : answers_(answers) {}
  size_t Invoke(std::string_view method, const std::vector<app::TRpcValue>& params,
                const app::TCallContext& context, fw::wire::TWireWriter& out) override {
    const auto found = answers_.find(KeyOf(context.Login, method, params));
    if (found == answers_.end())
      throw app::ECallError("no recorded answer for " + std::string(method));
    out.Out().append(found->second.Bytes);
    return found->second.Rows;
  }
  bool IsQuick(std::string_view method) const override {
    return method == "GetFilSoli" || method == "GetDestSolGere" || method == "GetItemProduto" ||
           method == "GetItemCota";
  }

 private:
  const TAnswers& answers_;
};

// Every login is accepted at once, as an account of every branch (the client only shows it).
class TAnyLogin : public app::IAuthenticator {
 public:
  app::TLoginOutcome Login(const std::string&, const std::vector<app::TRpcValue>& params) override {
    app::TLoginOutcome outcome;
    outcome.Accepted = true;
    outcome.Login = params.empty() ? "" : params[0].Text;
    outcome.Name = outcome.Login;
    outcome.Scope.Known = true;
    outcome.Scope.AllBranches = true;
    outcome.LogText = "\"" + outcome.Login + "\": aceito";
    return outcome;
  }
};

// The floor's server: app::TServer in a process of its own, as app-server is, serving the
// recorded answers; its log goes nowhere. Stopped (SIGTERM) and waited for at the end.
class TFloorServer {
 public:
  TFloorServer(const TAnswers& answers, int workers) {
    int ports[2];
    if (::pipe(ports) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // Nothing of the parent's connections is kept open here.
      for (int fd = 3; fd < 4096; ++fd)
        if (fd != ports[1]) ::close(fd);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      uint16_t port = 0;
      try {
        TReplayService replay(answers);
        TAnyLogin logins;
        app::TObjectRegistry registry;
        registry.Register(service::kServerName, &replay);
        registry.SetAuthenticator(&logins);
        app::TServerOptions serverOptions;
        serverOptions.Port = 0;
        serverOptions.Workers = workers;
        app::TServer server(registry, serverOptions);
        server.Listen();
        port = server.Port();
        [[maybe_unused]] const auto written = ::write(ports[1], &port, sizeof(port));
        ::close(ports[1]);
        server.Run();
      } catch (...) {
        if (port == 0) [[maybe_unused]]
          const auto written = ::write(ports[1], &port, sizeof(port));
      }
      ::_exit(0);
    }
    ::close(ports[1]);
    if (::read(ports[0], &port_, sizeof(port_)) != sizeof(port_) || port_ == 0) {
      ::close(ports[0]);
      throw std::runtime_error("the floor's server did not start");
    }
    ::close(ports[0]);
  }
  ~TFloorServer() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  TFloorServer(const TFloorServer&) = delete;
  TFloorServer& operator=(const TFloorServer&) = delete;
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

// Each call's answer, as the tracking service writes it for `login` on `db`'s data.
void Record(app::TTrackingService& service, const std::string& login,
            const std::vector<TCall>& calls, TAnswers& answers, const std::string& engine) {
  for (const auto& call : calls) {
    const auto params = RpcValuesOf(call.Args);
    TAnswer answer;
    fw::wire::TWireWriter writer(answer.Bytes);
    answer.Rows = service.Invoke(call.Method, params, {login}, writer);
    const std::string key = KeyOf(login, call.Method, params);
    const auto known = answers.find(key);
    if (known == answers.end())
      answers.emplace(key, std::move(answer));
    else if (known->second.Bytes != answer.Bytes)
      throw std::runtime_error(call.Method + " as " + login + ": " + engine +
                               " answered other bytes than the engine before");
  }
}

// ------------------------------------------------------------------ the statements

// Where the statements' reads go, so that none is left out.
volatile size_t gSink = 0;

// The calls' statements in this process, as the server runs them: the account's read scope, then
// the method's statement for the call's shape and the scope, every row read; the rows read, to
// check that they are the answer's.
// `together`: the scope and the statement sent as one exchange, as the server does once it knows
// the account's scope (IConnection::QueryThen); otherwise one after the other's answer.
double StatementTime(app::IConnection& db, const std::string& login,
                     const std::vector<TCall>& calls, size_t& rows, bool together = true) {
  double total = 0;
  rows = 0;
  for (const auto& call : calls) {
    const service::TMethodDef& method = *service::FindMethod(call.Method);
    app::TBoundCall bound = app::BindCall(method, RpcValuesOf(call.Args));
    const int columns = static_cast<int>(method.Fields.size());
    size_t bytes = 0;
    const auto onRow = [&](const app::IRow& row) {
      for (int column = 0; column < columns; ++column)
        if (!row.IsNull(column)) bytes += row.IsNumber(column) ? 8 : row.Text(column).size();
      ++rows;
      return true;
    };
    // The scope the server would know from the account's last call.
    app::TReadScope known = app::ReadScopeOf(db, login, 600000);
    known.Bind(bound.Params);
    const char* sql = app::SqlFor(call.Method, db.Dialect(), bound.Shape, known.Shape());
    const auto start = TClock::now();
    if (together) {
      const app::TNamedParams scopeParams = app::ScopeParams(login);
      app::TReadScope scope;
      scope.Login = login;
      db.QueryThen(
          app::ScopeStatement(scopeParams, scope), [&] { return scope == known; },
          {sql, bound.Params, columns, onRow}, 600000);
    } else {
      app::ReadScopeOf(db, login, 600000);
      db.Query(sql, bound.Params, columns, 600000, onRow);
    }
    total += Since(start);
    gSink = gSink + bytes;
  }
  return total;
}

// The calls through the tracking service in this process, each answer written as the server
// writes it (the statements, the rows' cells, the packet), and dropped.
double ServiceTime(app::TTrackingService& service, const std::string& login,
                   const std::vector<TCall>& calls) {
  double total = 0;
  std::string bytes;
  for (const auto& call : calls) {
    const auto params = RpcValuesOf(call.Args);
    bytes.clear();
    fw::wire::TWireWriter writer(bytes);
    const auto start = TClock::now();
    service.Invoke(call.Method, params, {login}, writer);
    total += Since(start);
    gSink = gSink + bytes.size();
  }
  return total;
}

// ------------------------------------------------------------------ reading pages

// How SQLite reads the file's pages, which the server's connections settle: through read() into
// SQLite's own page cache (as the server does: a file cut short under a memory map kills the
// process), or through a memory map of the file. GetItens of one month and of all dates, the
// branch and the month turning at each run as many users' calls do (the same call again would
// find its pages in the connection's cache either way), in process, the two alternately.
void CompareReads(const std::string& path, int rounds) {
  struct TWay {
    const char* Name;
    const char* Pragmas;
    sqlite3* Db = nullptr;
    std::vector<double> Times[2] = {};
  } ways[] = {{"read() (the server)", app::kSqliteConnectionPragmas},
              {"memory map", "PRAGMA mmap_size = 1073741824"}};
  app::TFilterShape month;
  month.RequestDates = true;
  const char* statements[2] = {app::SqlFor("GetItens", app::TDialect::Sqlite, month),
                               app::SqlFor("GetItens", app::TDialect::Sqlite)};
  std::vector<std::string> branches;
  for (auto& way : ways) {
    if (sqlite3_open_v2(path.c_str(), &way.Db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
    sqlite3_exec(way.Db, way.Pragmas, nullptr, nullptr, nullptr);
  }
  sqlite3_stmt* list = nullptr;
  sqlite3_prepare_v2(ways[0].Db, "SELECT CDFILIAL FROM FILIAL ORDER BY 1", -1, &list, nullptr);
  while (sqlite3_step(list) == SQLITE_ROW)
    branches.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)));
  sqlite3_finalize(list);
  if (branches.empty()) throw std::runtime_error("no branches in " + path);
  size_t rows = 0;
  for (int round = 0; round < rounds; ++round) {
    // A different branch each round, spread over the table; the months of July 2023 to June 2024.
    const std::string branch = branches[static_cast<size_t>(round) * 37 % branches.size()];
    const int m = round % 12, year = m < 6 ? 2023 : 2024, number = m < 6 ? m + 7 : m - 5;
    char from[16], to[16];
    std::snprintf(from, sizeof(from), "%04d-%02d-01", year, number);
    std::snprintf(to, sizeof(to), "%04d-%02d-01", number == 12 ? year + 1 : year,
                  number == 12 ? 1 : number + 1);
    for (int which = 0; which < 2; ++which) {
      for (size_t turn = 0; turn < 2; ++turn) {
        TWay& way = ways[(turn + static_cast<size_t>(round)) % 2];
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v3(way.Db, statements[which], -1, SQLITE_PREPARE_PERSISTENT, &statement,
                           nullptr);
        auto bind = [&](const char* name, const std::string& value) {
          const int at = sqlite3_bind_parameter_index(statement, name);
          if (at > 0) sqlite3_bind_text(statement, at, value.c_str(), -1, SQLITE_TRANSIENT);
        };
        bind(":cdFilial", branch);
        bind(":dtSoliIni", from);
        bind(":dtSoliFim", to);
        const auto start = TClock::now();
        size_t bytes = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
          for (int column = 0; column < sqlite3_column_count(statement); ++column)
            bytes += static_cast<size_t>(sqlite3_column_bytes(statement, column));
          ++rows;
        }
        way.Times[which].push_back(Since(start));
        sqlite3_finalize(statement);
        gSink = gSink + bytes;
      }
    }
  }
  std::printf(
      "\nSQLite pages read through read() or a memory map: GetItens in process, a different "
      "branch and month each round (%d rounds, %zu rows), ms:\n",
      rounds, rows / 2);
  for (int which = 0; which < 2; ++which) {
    std::printf("  %-10s", which == 0 ? "one month" : "all dates");
    for (auto& way : ways)
      std::printf("  %s p50 %6.2f p90 %6.2f", way.Name, Percentile(way.Times[which], 0.5),
                  Percentile(way.Times[which], 0.9));
    std::printf("  read()/map %.2f\n",
                Percentile(ways[0].Times[which], 0.5) / Percentile(ways[1].Times[which], 0.5));
  }
  for (auto& way : ways) sqlite3_close(way.Db);
}

// ------------------------------------------------------------------ engines

// An account the bench measures as: demo, and the restricted ones of the demo.
struct TAccount {
  std::string Login, What;
};

// Per account and shape: the cascades' times at the client, the statements' in process.
struct TTimes {
  std::map<std::string, std::vector<double>> Cascade, Statement;
  // The statements with the scope read before them, one exchange each (the server before it
  // sent the two together).
  std::map<std::string, std::vector<double>> Apart;
  // The calls through the tracking service in this process: the statements and the answers
  // written as the server sends them.
  std::map<std::string, std::vector<double>> Service;
};

struct TEngine {
  std::string Name, Db;
  std::unique_ptr<bench::TServer> Server;
  std::map<std::string, std::unique_ptr<fw::TNetConnection>> Connections;  // per login
  std::unique_ptr<app::IConnection> Direct;                                // the statements'
  std::unique_ptr<app::TConnectionPool> Pool;                              // the service's
  std::unique_ptr<app::TTrackingService> Service;                          // in this process
  std::map<std::string, TTimes> Times;                                     // per login
  double First = 0, Second = 0;  // the first cascades of a fresh server
};

std::unique_ptr<fw::TNetConnection> Connect(int port, const std::string& login) {
  // The connection logs in with the host's credentials, as the screens' do: a demo account.
  fw::HostConfig().Credentials = {login, "demo"};
  auto connection = std::make_unique<fw::TNetConnection>(nullptr, "netAcompSoli");
  connection->ServerName = service::kServerName;
  connection->Host = "127.0.0.1";
  connection->Port = port;
  connection->SetConnected(true);
  return connection;
}

size_t RowsOf(const std::vector<TCall>& calls) {
  size_t rows = 0;
  for (const auto& call : calls) rows += call.Rows;
  return rows;
}

struct TOptions {
  int Scale = 5000, Rounds = 40, Workers = 4;
  std::string Cache, Cluster;
  std::vector<std::string> Only;  // shapes to run; all when empty
};

TOptions Parse(int argc, char** argv) {
  TOptions options;
  if (const char* cluster = std::getenv("ACOMP_TEST_PG")) options.Cluster = cluster;
  CLI::App app(
      "The request screen's cascade per filter shape, on SQLite and on PostgreSQL,\n"
      "against its floor in the same run.",
      "bench_cascade");
  app.add_option("--scale", options.Scale, "scale of the demo (default 5000)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--rounds", options.Rounds, "rounds (default 40)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--cache", options.Cache, "where the demo databases are kept")->option_text("DIR");
  app.add_option("--postgres", options.Cluster,
                 "a libpq connection string without a database ($ACOMP_TEST_PG by\n"
                 "default); without one, SQLite alone")
      ->option_text("CLUSTER");
  app.add_option("--workers", options.Workers, "the servers' workers (default 4)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--shape", options.Only, "a filter shape to run (repeated; default: all)")
      ->option_text("NAME")
      ->allow_extra_args(false);
  bench::ParseOptions(app, argc, argv);
  return options;
}

// The accounts on the demo `db`: demo, "restrita", made (again) with every branch as a list, and
// the requester with most requests, whose own account the demo has.
std::vector<TAccount> MakeAccounts(const std::string& db, app::IConnection& direct) {
  std::string branches;
  direct.Query("SELECT CDFILIAL FROM FILIAL ORDER BY 1", {}, 1, 600000, [&](const app::IRow& row) {
    if (!branches.empty()) branches += ',';
    branches += row.Text(0);
    return true;
  });
  app::AddAccount(db, "restrita", "Todas as filiais, em lista",
                  app::HashPassword("demo", app::THashCost::Demo));
  app::GrantBranches(db, "restrita", branches);
  std::string requester;
  direct.Query(
      "SELECT CDOPERSOLI FROM SOLICITACAO GROUP BY CDOPERSOLI ORDER BY COUNT(*) DESC, 1 LIMIT 1",
      {}, 1, 600000, [&](const app::IRow& row) {
        requester = std::string(row.Text(0));
        return true;
      });
  return {{"demo", "every branch"},
          {"restrita", "every branch, as a list (demo's answers)"},
          {requester, "a requester: its own requests"}};
}

void PrintAccount(const TAccount& account, const std::vector<TShape>& shapes,
                  std::vector<TEngine>& engines, TTimes& floor,
                  const std::map<std::string, std::map<std::string, size_t>>& rows) {
  std::printf("\n%s: %s\n%-16s %6s | %-6s %7s %7s", account.Login.c_str(), account.What.c_str(), "",
              "rows", "floor", "p50", "p90");
  for (const auto& engine : engines)
    std::printf(" | %-10s %7s %7s %7s %6s", engine.Name.c_str(), "p50", "p90", "stmt", "ratio");
  if (engines.size() == 2)
    std::printf(" | %s/%s", engines[1].Name.c_str(), engines[0].Name.c_str());
  std::printf("\n");
  for (const auto& shape : shapes) {
    const double floor50 = Percentile(floor.Cascade[shape.Name], 0.5);
    std::printf("%-16s %6zu | %-6s %7.2f %7.2f", shape.Name.c_str(),
                rows.at(account.Login).at(shape.Name), "", floor50,
                Percentile(floor.Cascade[shape.Name], 0.9));
    std::vector<double> p50s;
    for (auto& engine : engines) {
      TTimes& times = engine.Times[account.Login];
      const double p50 = Percentile(times.Cascade[shape.Name], 0.5);
      p50s.push_back(p50);
      std::printf(" | %-10s %7.2f %7.2f %7.2f %6.2f", "", p50,
                  Percentile(times.Cascade[shape.Name], 0.9),
                  Percentile(times.Statement[shape.Name], 0.5), floor50 > 0 ? p50 / floor50 : 0.0);
    }
    if (p50s.size() == 2) std::printf(" | %5.2f", p50s[0] > 0 ? p50s[1] / p50s[0] : 0.0);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const TOptions options = Parse(argc, argv);
  try {
    std::vector<TEngine> engines(1);
    engines[0].Name = "SQLite";
    engines[0].Db = bench::SqliteDemo(options.Scale, bench::CacheDir(options.Cache));
    if (!options.Cluster.empty()) {
      engines.emplace_back();
      engines[1].Name = "PostgreSQL";
      engines[1].Db = bench::PostgresDemo(options.Scale, options.Cluster);
    }
    const std::vector<std::string> serverArgs = {"--workers", std::to_string(options.Workers)};
    std::vector<TAccount> accounts;
    for (auto& engine : engines) {
      engine.Direct = app::OpenDatabase(engine.Db);
      const std::string db = engine.Db;
      engine.Pool = std::make_unique<app::TConnectionPool>([db] { return app::OpenDatabase(db); });
      engine.Service =
          std::make_unique<app::TTrackingService>(*engine.Pool, app::TTrackingService::TOptions{});
      accounts = MakeAccounts(engine.Db, *engine.Direct);
      engine.Server = std::make_unique<bench::TServer>(engine.Db, serverArgs);
      for (const auto& account : accounts)
        engine.Connections[account.Login] = Connect(engine.Server->Port(), account.Login);
    }
    std::vector<TShape> shapes = Shapes(*engines[0].Direct);
    const TItemKeys item = ItemKeys(engines[0].Connections["demo"]->AppServer(), shapes[0]);
    if (!options.Only.empty()) {
      std::vector<TShape> chosen;
      for (const auto& shape : shapes)
        if (std::find(options.Only.begin(), options.Only.end(), shape.Name) != options.Only.end() ||
            &shape == &shapes[0])
          chosen.push_back(shape);
      shapes = chosen;
    }

    // Each shape's calls per account, from a first cascade (unmeasured: connections,
    // statements, caches), and their answers as the service writes them, for the floor: every
    // engine must make the same calls and write the same bytes, and "restrita" demo's.
    std::map<std::string, std::map<std::string, std::vector<TCall>>> calls;  // login, shape
    std::map<std::string, std::map<std::string, size_t>> rows;               // login, shape
    TAnswers answers;
    for (auto& engine : engines) {
      app::TTrackingService& tracking = *engine.Service;
      for (const auto& shape : shapes) {
        for (const auto& account : accounts) {
          auto made = Cascade(engine.Connections[account.Login]->AppServer(), shape, item);
          Record(tracking, account.Login, made, answers, engine.Name);
          size_t statementRows = 0;
          StatementTime(*engine.Direct, account.Login, made, statementRows);
          if (statementRows != RowsOf(made))
            throw std::runtime_error(shape.Name + ": the statements read " +
                                     std::to_string(statementRows) + " rows, the server answered " +
                                     std::to_string(RowsOf(made)));
          auto& known = calls[account.Login][shape.Name];
          if (known.empty()) {
            known = made;
            rows[account.Login][shape.Name] = RowsOf(made);
          } else if (RowsOf(made) != RowsOf(known) || made.size() != known.size()) {
            throw std::runtime_error(shape.Name + ": the engines answered differently");
          }
        }
        if (rows["restrita"][shape.Name] != rows["demo"][shape.Name])
          throw std::runtime_error(shape.Name +
                                   ": restrita, of every branch, got other rows than demo");
      }
    }
    for (const auto& shape : shapes)
      for (const auto& call : calls["demo"][shape.Name]) {
        const auto params = RpcValuesOf(call.Args);
        if (answers.at(KeyOf("demo", call.Method, params)).Bytes !=
            answers.at(KeyOf("restrita", call.Method, params)).Bytes)
          throw std::runtime_error(shape.Name + ": restrita got other bytes than demo");
      }

    // The floor: the same cascades against the recorded answers, served from memory.
    TFloorServer floorServer(answers, options.Workers);
    std::map<std::string, std::unique_ptr<fw::TNetConnection>> floorConnections;
    std::map<std::string, TTimes> floor;
    for (const auto& account : accounts) {
      floorConnections[account.Login] = Connect(floorServer.Port(), account.Login);
      for (const auto& shape : shapes)
        if (RowsOf(Cascade(floorConnections[account.Login]->AppServer(), shape, item)) !=
            rows[account.Login][shape.Name])
          throw std::runtime_error(shape.Name + ": the floor answered other rows");
    }

    // Rounds: the engines, the floor and the accounts interleaved in orders that turn, so that
    // all see the same machine.
    const size_t servers = engines.size() + 1;  // the last is the floor
    for (int round = 0; round < options.Rounds; ++round) {
      const auto turned = [&](size_t turn, size_t count) {
        return (turn + static_cast<size_t>(round)) % count;
      };
      for (const auto& shape : shapes) {
        for (size_t turn = 0; turn < servers; ++turn) {
          const size_t which = turned(turn, servers);
          TEngine* engine = which < engines.size() ? &engines[which] : nullptr;
          for (size_t k = 0; k < accounts.size(); ++k) {
            const std::string& login = accounts[turned(k, accounts.size())].Login;
            fw::IAppServer& server = engine ? engine->Connections[login]->AppServer()
                                            : floorConnections[login]->AppServer();
            const auto start = TClock::now();
            Cascade(server, shape, item);
            const double took = Since(start);
            (engine ? engine->Times[login] : floor[login]).Cascade[shape.Name].push_back(took);
            if (engine) {
              size_t read = 0;
              const bool apartFirst = round % 2 == 1;
              for (const bool together : {apartFirst, !apartFirst}) {
                const double took =
                    StatementTime(*engine->Direct, login, calls[login][shape.Name], read, together);
                (together ? engine->Times[login].Statement : engine->Times[login].Apart)[shape.Name]
                    .push_back(took);
              }
              engine->Times[login].Service[shape.Name].push_back(
                  ServiceTime(*engine->Service, login, calls[login][shape.Name]));
            }
          }
        }
      }
    }

    // The first cascade of a server just started (its client connected), then the next.
    const TShape& month = shapes[0];
    for (auto& engine : engines) {
      engine.Connections.clear();
      engine.Server.reset();
      engine.Server = std::make_unique<bench::TServer>(engine.Db, serverArgs);
      engine.Connections["demo"] = Connect(engine.Server->Port(), "demo");
      auto start = TClock::now();
      Cascade(engine.Connections["demo"]->AppServer(), month, item);
      engine.First = Since(start);
      start = TClock::now();
      Cascade(engine.Connections["demo"]->AppServer(), month, item);
      engine.Second = Since(start);
    }

    std::printf(
        "bench_cascade: demo scale %d (version %s), %d rounds, %d workers per server; times in "
        "ms at the client.\nfloor: the same answers, byte for byte, served from memory by the "
        "same server code and wire, through the same client (no statement).\nstmt: the calls' "
        "statements (the account's scope, then the method's, sent together) in this process, "
        "rows read. ratio: p50 / floor p50.\n",
        options.Scale, bench::DemoVersion(), options.Rounds, options.Workers);
    for (const auto& account : accounts)
      PrintAccount(account, shapes, engines, floor[account.Login], rows);
    std::printf("\n");
    for (const auto& shape : shapes)
      std::printf("%-16s %s\n", shape.Name.c_str(), shape.Description.c_str());

    // The read scopes: each restricted account's p50 against demo's p50, same rounds.
    std::printf(
        "\nread scopes: each shape's cascade as a restricted account against the same as demo, "
        "same rounds (ratio: account p50 / demo p50; paired: median of the rounds' account / "
        "demo):\n%-16s",
        "");
    for (const auto& engine : engines) {
      std::printf(" | %-10s", engine.Name.c_str());
      for (size_t a = 1; a < accounts.size(); ++a)
        std::printf(" %10.10s %5s %6s", accounts[a].Login.c_str(), "ratio", "paired");
    }
    std::printf("\n");
    for (const auto& shape : shapes) {
      std::printf("%-16s", shape.Name.c_str());
      for (auto& engine : engines) {
        const auto& demoTimes = engine.Times["demo"].Cascade[shape.Name];
        const double demo = Percentile(demoTimes, 0.5);
        std::printf(" | %-10s", "");
        for (size_t a = 1; a < accounts.size(); ++a) {
          const auto& times = engine.Times[accounts[a].Login].Cascade[shape.Name];
          std::vector<double> paired;
          for (size_t round = 0; round < times.size() && round < demoTimes.size(); ++round)
            if (demoTimes[round] > 0) paired.push_back(times[round] / demoTimes[round]);
          std::printf(" %10s %5.2f %6.2f", "", demo > 0 ? Percentile(times, 0.5) / demo : 0.0,
                      Percentile(paired, 0.5));
        }
      }
      std::printf("\n");
    }
    // What sending the account's scope with the statement saves, in the same rounds.
    std::printf(
        "\nstmt of demo, the scope read before the statement (apart) against the two sent "
        "together, p50 ms:\n%-16s",
        "");
    for (const auto& engine : engines)
      std::printf(" | %-10s %7s %8s %5s", engine.Name.c_str(), "apart", "together", "ratio");
    std::printf("\n");
    for (const auto& shape : shapes) {
      std::printf("%-16s", shape.Name.c_str());
      for (auto& engine : engines) {
        const double apart = Percentile(engine.Times["demo"].Apart[shape.Name], 0.5);
        const double together = Percentile(engine.Times["demo"].Statement[shape.Name], 0.5);
        std::printf(" | %-10s %7.2f %8.2f %5.2f", "", apart, together,
                    together > 0 ? apart / together : 0.0);
      }
      std::printf("\n");
    }
    // Where demo's cascade spends its time: the statements; the service in this process, which
    // also writes the answers; the server and wire beyond that, against the floor's.
    std::printf(
        "\nwhere demo's cascade goes, p50 ms: stmt; svc, the calls through the service in this "
        "process (stmt and the answers written); cascade; beyond, cascade - svc, against the "
        "floor:\n%-16s %6s",
        "", "floor");
    for (const auto& engine : engines)
      std::printf(" | %-10s %6s %6s %7s %6s", engine.Name.c_str(), "stmt", "svc", "cascade",
                  "beyond");
    std::printf("\n");
    for (const auto& shape : shapes) {
      std::printf("%-16s %6.2f", shape.Name.c_str(),
                  Percentile(floor["demo"].Cascade[shape.Name], 0.5));
      for (auto& engine : engines) {
        auto& times = engine.Times["demo"];
        const double service = Percentile(times.Service[shape.Name], 0.5);
        const double cascade = Percentile(times.Cascade[shape.Name], 0.5);
        std::printf(" | %-10s %6.2f %6.2f %7.2f %6.2f", "",
                    Percentile(times.Statement[shape.Name], 0.5), service, cascade,
                    cascade - service);
      }
      std::printf("\n");
    }
    std::printf(
        "\nfirst cascade after the server starts (one month), then the next, against the "
        "warm p50:\n");
    for (auto& engine : engines) {
      const double warm = Percentile(engine.Times["demo"].Cascade[month.Name], 0.5);
      std::printf("  %-10s first %7.2f ms, next %7.2f ms, warm p50 %7.2f ms: first / warm %.2f\n",
                  engine.Name.c_str(), engine.First, engine.Second, warm,
                  warm > 0 ? engine.First / warm : 0.0);
    }
    for (auto& engine : engines) {
      engine.Connections.clear();
      engine.Server.reset();
    }
    CompareReads(engines[0].Db, 3 * options.Rounds);
    if (engines.size() == 1) std::printf("\n(no PostgreSQL cluster given: SQLite alone)\n");
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench_cascade: %s\n", failure.what());
    return 1;
  }
  return 0;
}
