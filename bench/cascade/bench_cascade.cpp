// The request screen's cascade at a site's volume, per filter shape, on each engine, against its
// floor measured in the same run.
//
// The cascade is what one exit from the filter panel costs the user: GetFilSoliGD for the
// filter, GetItens of the first branch it returns, GetDestSolGere of that branch's first item;
// the item screen's is GetItemProduto of an item with a purchase, then GetItemCota of its first
// product. Each runs as the screen runs it: through TNetConnection and the TCP client to a real
// app-server (one on SQLite, one on PostgreSQL, the same demo data), each key read from the
// answer before; the time is taken at the client.
//
// The floor of a cascade is what it cannot do without: its calls' rows read in this process by
// the statements the server runs, through the server's own database layer (the statements per
// filter shape are the best we have found; the plan test holds them to their indexes), plus, per
// call, a raw loopback round trip of the call's request and answer sizes to another process.
// What the server adds to that (decoding, binding, the packet, the threads, the client's
// decoding) is the ratio.
//
// The cascades run as "demo", which reads every branch, and in the same rounds as restricted
// accounts (docs/security.md, "Who reads what"): "restrita", granted every branch as a list (its
// answers are demo's, row for row, so the ratio is what the scope's semi-join costs), and the
// requester with most requests, who reads only its own (smaller answers, through the index of
// a requester's requests). Their p50 against demo's p50 is the read scopes' ratio; beside it, the
// median of each round's ratio (the account's cascade and demo's run one after the other in every
// round), which the machine's load moves less than the ratio of two medians of a millisecond.
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
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_server/accounts.h"
#include "app_server/database.h"
#include "app_server/queries.h"
#include "app_server/read_scope.h"
#include "app_server/tracking_service.h"
#include "bench/common/demo_cache.h"
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
  size_t RequestBytes = 0, AnswerBytes = 0;  // on the wire
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

// The request and answer sizes of each call, from one raw exchange with the server.
void MeasureSizes(int port, std::vector<TCall>& calls) {
  for (auto& call : calls) {
    std::string request;
    fw::wire::TWireWriter writer(request);
    fw::wire::EncodeRequest(writer, 1, std::string(service::kServerName) + "." + call.Method,
                            call.Args);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
      throw std::runtime_error("cannot connect to the server");
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    fw::wire::TReplyReader reader;
    size_t answer = 0;
    for (;;) {
      auto room = reader.Room();
      const ssize_t count = ::recv(fd, room.Data, room.Size, 0);
      if (count <= 0) break;
      answer += static_cast<size_t>(count);
      if (reader.Received(static_cast<size_t>(count))) break;
    }
    ::close(fd);
    call.RequestBytes = request.size();
    call.AnswerBytes = answer;
  }
}

// ------------------------------------------------------------------ the floor

// An echoing process: for each request (8 bytes of answer size, 8 of request size, then the
// request), the answer's bytes.
class TEcho {
 public:
  TEcho() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener, 1);
    socklen_t length = sizeof(address);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    child_ = ::fork();
    if (child_ == 0) {
      const int peer = ::accept(listener, nullptr, nullptr);
      Serve(peer);
      ::_exit(0);
    }
    ::close(listener);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
      throw std::runtime_error("cannot connect to the echo");
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  }
  ~TEcho() {
    ::close(fd_);
    int status = 0;
    ::waitpid(child_, &status, 0);
  }
  // One round trip of these sizes, in ms.
  double RoundTrip(size_t requestBytes, size_t answerBytes) {
    std::string request(16 + requestBytes, 'q');
    const uint64_t sizes[2] = {answerBytes, requestBytes};
    std::memcpy(request.data(), sizes, sizeof(sizes));
    buffer_.resize(std::max<size_t>(answerBytes, 1));
    const auto start = TClock::now();
    Send(fd_, request.data(), request.size());
    if (!Receive(fd_, buffer_.data(), answerBytes)) throw std::runtime_error("echo failed");
    return Since(start);
  }

 private:
  static bool Receive(int fd, char* data, size_t size) {
    for (size_t got = 0; got < size;) {
      const ssize_t count = ::recv(fd, data + got, size - got, 0);
      if (count <= 0) return false;
      got += static_cast<size_t>(count);
    }
    return true;
  }
  static void Send(int fd, const char* data, size_t size) {
    for (size_t sent = 0; sent < size;) {
      const ssize_t count = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (count <= 0) return;
      sent += static_cast<size_t>(count);
    }
  }
  static void Serve(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    std::string in, out;
    uint64_t sizes[2];
    while (Receive(fd, reinterpret_cast<char*>(sizes), sizeof(sizes))) {
      in.resize(sizes[1]);
      if (!Receive(fd, in.data(), in.size())) break;
      out.resize(sizes[0], 'a');
      Send(fd, out.data(), out.size());
    }
    ::close(fd);
  }
  pid_t child_ = -1;
  int fd_ = -1;
  std::string buffer_;
};

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

// Where the floor's reads go, so that none is left out.
volatile size_t gSink = 0;

// The calls' rows read in process by the server's statements, plus their raw round trips; the
// rows read, to check that they are the answer's.
double Floor(app::IConnection& db, TEcho& echo, const std::vector<TCall>& calls, size_t& rows) {
  double total = 0;
  rows = 0;
  for (const auto& call : calls) {
    const service::TMethodDef& method = *service::FindMethod(call.Method);
    std::vector<app::TRpcValue> params;
    for (const auto& arg : call.Args) params.push_back(RpcValueOf(arg));
    const app::TBoundCall bound = app::BindCall(method, params);
    const auto start = TClock::now();
    const int columns = static_cast<int>(method.Fields.size());
    size_t bytes = 0;
    db.Query(app::SqlFor(call.Method, db.Dialect(), bound.Shape), bound.Params, columns, 600000,
             [&](const app::IRow& row) {
               for (int column = 0; column < columns; ++column)
                 if (!row.IsNull(column))
                   bytes += row.IsNumber(column) ? 8 : row.Text(column).size();
               ++rows;
               return true;
             });
    total += Since(start) + echo.RoundTrip(call.RequestBytes, call.AnswerBytes);
    gSink = gSink + bytes;
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

// A restricted account of the demo, as the bench measures it.
struct TAccount {
  std::string Login, What;
};

struct TEngine {
  std::string Name, Db;
  std::unique_ptr<bench::TServer> Server;
  std::unique_ptr<fw::TNetConnection> Connection;
  // Per restricted account: its connection, its times and rows per shape.
  std::map<std::string, std::unique_ptr<fw::TNetConnection>> Restricted;
  std::map<std::string, std::map<std::string, std::vector<double>>> RestrictedTimes;
  std::map<std::string, std::map<std::string, size_t>> RestrictedRows;
  std::unique_ptr<app::IConnection> Direct;  // the floor's
  std::map<std::string, std::vector<double>> Times, Floors;
  std::map<std::string, size_t> Rows;
  double First = 0, Second = 0;  // the first cascades of a fresh server
};

std::unique_ptr<fw::TNetConnection> Connect(int port, const std::string& login = "demo") {
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
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) throw std::invalid_argument("missing value of " + option);
    const std::string value = argv[++i];
    if (option == "--scale")
      options.Scale = std::stoi(value);
    else if (option == "--rounds")
      options.Rounds = std::stoi(value);
    else if (option == "--workers")
      options.Workers = std::stoi(value);
    else if (option == "--cache")
      options.Cache = value;
    else if (option == "--postgres")
      options.Cluster = value;
    else if (option == "--shape")
      options.Only.push_back(value);
    else
      throw std::invalid_argument("unknown option " + option);
  }
  if (options.Scale < 1 || options.Rounds < 1 || options.Workers < 1)
    throw std::invalid_argument("scale, rounds and workers must be positive");
  return options;
}

// The restricted accounts on the demo `db`: "restrita", made (again) with every branch as a list,
// and the requester with most requests, whose own account the demo has.
std::vector<TAccount> MakeRestrictedAccounts(const std::string& db, app::IConnection& direct) {
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
  return {{"restrita", "every branch, as a list (demo's rows)"},
          {requester, "a requester: its own requests"}};
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  TOptions options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception& problem) {
    std::fprintf(stderr,
                 "bench_cascade: %s\nusage: bench_cascade [--scale 5000] [--rounds 40] "
                 "[--cache DIR] [--postgres CLUSTER] [--workers 4] [--shape NAME]...\n",
                 problem.what());
    return 2;
  }
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
      accounts = MakeRestrictedAccounts(engine.Db, *engine.Direct);
      engine.Server = std::make_unique<bench::TServer>(engine.Db, serverArgs);
      engine.Connection = Connect(engine.Server->Port());
      for (const auto& account : accounts)
        engine.Restricted[account.Login] = Connect(engine.Server->Port(), account.Login);
    }
    std::vector<TShape> shapes = Shapes(*engines[0].Direct);
    const TItemKeys item = ItemKeys(engines[0].Connection->AppServer(), shapes[0]);
    if (!options.Only.empty()) {
      std::vector<TShape> chosen;
      for (const auto& shape : shapes)
        if (std::find(options.Only.begin(), options.Only.end(), shape.Name) != options.Only.end() ||
            &shape == &shapes[0])
          chosen.push_back(shape);
      shapes = chosen;
    }
    TEcho echo;

    // Each shape's calls, from a first cascade (unmeasured: connections, statements, caches),
    // with their sizes on the wire; every engine must make the same calls with the same rows.
    std::map<std::string, std::vector<TCall>> calls;
    for (const auto& shape : shapes) {
      for (auto& engine : engines) {
        auto made = Cascade(engine.Connection->AppServer(), shape, item);
        MeasureSizes(engine.Server->Port(), made);
        size_t floorRows = 0;
        Floor(*engine.Direct, echo, made, floorRows);
        if (floorRows != RowsOf(made))
          throw std::runtime_error(shape.Name + ": the floor read " + std::to_string(floorRows) +
                                   " rows, the server answered " + std::to_string(RowsOf(made)));
        if (calls.count(shape.Name) == 0) {
          calls[shape.Name] = made;
        } else if (RowsOf(made) != RowsOf(calls[shape.Name]) ||
                   made.size() != calls[shape.Name].size()) {
          throw std::runtime_error(shape.Name + ": the engines answered differently");
        }
        engine.Rows[shape.Name] = RowsOf(made);
        for (const auto& account : accounts)
          engine.RestrictedRows[account.Login][shape.Name] =
              RowsOf(Cascade(engine.Restricted[account.Login]->AppServer(), shape, item));
        if (engine.RestrictedRows[accounts[0].Login][shape.Name] != RowsOf(made))
          throw std::runtime_error(shape.Name + ": " + accounts[0].Login +
                                   ", of every branch, got other rows than demo");
      }
    }

    // Rounds, the engines and the floors interleaved in an order that turns, so that all see
    // the same machine.
    for (int round = 0; round < options.Rounds; ++round) {
      for (const auto& shape : shapes) {
        for (size_t turn = 0; turn < engines.size(); ++turn) {
          TEngine& engine = engines[(turn + static_cast<size_t>(round)) % engines.size()];
          auto runFloor = [&] {
            size_t rows = 0;
            engine.Floors[shape.Name].push_back(
                Floor(*engine.Direct, echo, calls[shape.Name], rows));
          };
          if (round % 2 == 1) runFloor();
          // demo and the restricted accounts, in an order that turns too.
          const size_t who = 1 + accounts.size();
          for (size_t k = 0; k < who; ++k) {
            const size_t index = (k + static_cast<size_t>(round)) % who;
            fw::IAppServer& server =
                index == 0 ? engine.Connection->AppServer()
                           : engine.Restricted[accounts[index - 1].Login]->AppServer();
            const auto start = TClock::now();
            Cascade(server, shape, item);
            const double took = Since(start);
            if (index == 0)
              engine.Times[shape.Name].push_back(took);
            else
              engine.RestrictedTimes[accounts[index - 1].Login][shape.Name].push_back(took);
          }
          if (round % 2 == 0) runFloor();
        }
      }
    }

    // The first cascade of a server just started (its client connected), then the next.
    const TShape& month = shapes[0];
    for (auto& engine : engines) {
      engine.Connection.reset();
      engine.Restricted.clear();
      engine.Server.reset();
      engine.Server = std::make_unique<bench::TServer>(engine.Db, serverArgs);
      engine.Connection = Connect(engine.Server->Port());
      auto start = TClock::now();
      Cascade(engine.Connection->AppServer(), month, item);
      engine.First = Since(start);
      start = TClock::now();
      Cascade(engine.Connection->AppServer(), month, item);
      engine.Second = Since(start);
    }

    std::printf(
        "bench_cascade: demo scale %d (version %s), %d rounds, %d workers per server; times in "
        "ms at the client.\nfloor: the same rows read in process by the same statements, plus "
        "one raw loopback round trip of the same sizes per call. ratio: p50 / floor p50.\n\n",
        options.Scale, bench::DemoVersion(), options.Rounds, options.Workers);
    std::printf("%-16s %7s", "", "rows");
    for (const auto& engine : engines)
      std::printf(" | %-10s %7s %7s %7s %7s %6s", engine.Name.c_str(), "p50", "p90", "floor50",
                  "floor90", "ratio");
    std::printf("\n");
    for (const auto& shape : shapes) {
      std::printf("%-16s %7zu", shape.Name.c_str(), engines[0].Rows[shape.Name]);
      for (auto& engine : engines) {
        const double p50 = Percentile(engine.Times[shape.Name], 0.5);
        const double floor50 = Percentile(engine.Floors[shape.Name], 0.5);
        std::printf(" | %-10s %7.2f %7.2f %7.2f %7.2f %6.2f", "", p50,
                    Percentile(engine.Times[shape.Name], 0.9), floor50,
                    Percentile(engine.Floors[shape.Name], 0.9), floor50 > 0 ? p50 / floor50 : 0.0);
      }
      std::printf("\n");
    }
    std::printf("\n");
    for (const auto& shape : shapes)
      std::printf("%-16s %s\n", shape.Name.c_str(), shape.Description.c_str());

    // The read scopes: each restricted account's p50 against demo's p50, same rounds.
    std::printf(
        "\nread scopes: each shape's cascade as a restricted account against the same as demo, "
        "same rounds (p50 ms; ratio: account p50 / demo p50; paired: median of the rounds' "
        "account / demo):\n");
    for (const auto& account : accounts)
      std::printf("  %-10s %s\n", account.Login.c_str(), account.What.c_str());
    std::printf("%-16s", "");
    for (const auto& engine : engines) {
      std::printf(" | %-10s %7s", engine.Name.c_str(), "demo");
      for (const auto& account : accounts)
        std::printf(" %10.10s %6s %5s %6s", account.Login.c_str(), "rows", "ratio", "paired");
    }
    std::printf("\n");
    for (const auto& shape : shapes) {
      std::printf("%-16s", shape.Name.c_str());
      for (auto& engine : engines) {
        const double demo = Percentile(engine.Times[shape.Name], 0.5);
        std::printf(" | %-10s %7.2f", "", demo);
        for (const auto& account : accounts) {
          const auto& times = engine.RestrictedTimes[account.Login][shape.Name];
          const auto& demoTimes = engine.Times[shape.Name];
          std::vector<double> paired;
          for (size_t round = 0; round < times.size() && round < demoTimes.size(); ++round)
            if (demoTimes[round] > 0) paired.push_back(times[round] / demoTimes[round]);
          const double p50 = Percentile(times, 0.5);
          std::printf(" %10.2f %6zu %5.2f %6.2f", p50,
                      engine.RestrictedRows[account.Login][shape.Name], demo > 0 ? p50 / demo : 0.0,
                      Percentile(paired, 0.5));
        }
      }
      std::printf("\n");
    }
    std::printf(
        "\nfirst cascade after the server starts (one month), then the next, against the "
        "warm p50:\n");
    for (auto& engine : engines) {
      const double warm = Percentile(engine.Times[month.Name], 0.5);
      std::printf("  %-10s first %7.2f ms, next %7.2f ms, warm p50 %7.2f ms: first / warm %.2f\n",
                  engine.Name.c_str(), engine.First, engine.Second, warm,
                  warm > 0 ? engine.First / warm : 0.0);
    }
    for (auto& engine : engines) engine.Server.reset();
    CompareReads(engines[0].Db, 3 * options.Rounds);
    if (engines.size() == 1) std::printf("\n(no PostgreSQL cluster given: SQLite alone)\n");
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench_cascade: %s\n", failure.what());
    return 1;
  }
  return 0;
}
