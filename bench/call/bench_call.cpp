// One small call end to end (GetDestSolGere returning 3 rows, through TTcpAppServer and a real
// app-server process on loopback) against its two unavoidable parts measured alone in the same
// run: a raw loopback TCP round trip of the same request and response sizes to another process,
// and the same SQL run directly on SQLite. The ratio call / (round trip + SQL) is the protocol's
// overhead. The round trip to a thread of the same process is shown too, for reference.
//
// Encryption: the same call to a second server speaking TLS (a self-signed certificate made at
// start with the openssl tool), against the plain call; and what a connection costs to open,
// with and without the TLS handshake.
//
// Reading pages: GetItens for one branch and one month at a time, cycling through every branch
// and month of a scale 50 database, straight on SQLite, with the pages read through a memory
// map (as the server once did) and through read() (as it does now: a file cut short under a map
// kills the process).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

#include "app_server/db/database.h"
#include "app_server/tracking/queries.h"
#include "framework/net/tcp_app_server.h"
#include "protocol/contract.h"
#include "protocol/wire.h"

extern char** environ;

namespace {

pid_t Spawn(std::vector<std::string> arguments, int out, int err) {
  arguments.insert(arguments.begin(), APP_SERVER_PATH);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start app-server");
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Starts app-server with the arguments; returns the port it listens on.
int StartServer(const std::vector<std::string>& arguments, int log, pid_t& pid) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid = Spawn(arguments, out[1], log);
  ::close(out[1]);
  std::string line;
  char buffer[256];
  ssize_t count;
  while (line.find('\n') == std::string::npos &&
         (count = ::read(out[0], buffer, sizeof(buffer))) > 0)
    line.append(buffer, static_cast<size_t>(count));
  ::close(out[0]);
  const size_t at = line.find("127.0.0.1:");
  if (at == std::string::npos) throw std::runtime_error("app-server did not start");
  return std::stoi(line.substr(at + 10));
}

// The demo database, the servers (plain and TLS), and the keys of an item with three approval
// levels.
struct TSetup {
  std::string Dir, Db, Db50, Certificate;
  pid_t Server = -1, TlsServer = -1;
  int Port = 0, TlsPort = 0;
  std::vector<std::string> Keys;  // nrSoliCmp, cdFilial, cdFilLan, cdDestSoli

  TSetup() {
    char pattern[] = "/tmp/bench-call-XXXXXX";
    Dir = ::mkdtemp(pattern);
    Db = Dir + "/demo.db";
    const int log = ::open((Dir + "/server.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int status = 0;
    ::waitpid(Spawn({"--init-demo", Db}, log, log), &status, 0);
    Db50 = Dir + "/demo50.db";
    ::waitpid(Spawn({"--init-demo", Db50, "--scale", "50"}, log, log), &status, 0);
    Port = StartServer({"--db", Db, "--listen", "127.0.0.1:0"}, log, Server);
    Certificate = Dir + "/cert.pem";
    const std::string key = Dir + "/key.pem";
    const std::string makeCertificate =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + Certificate + " 2>/dev/null";
    if (std::system(makeCertificate.c_str()) != 0) throw std::runtime_error("openssl req");
    TlsPort = StartServer(
        {"--db", Db, "--listen", "127.0.0.1:0", "--tls-cert", Certificate, "--tls-key", key}, log,
        TlsServer);
    ::close(log);

    sqlite3* db = nullptr;
    sqlite3_open_v2(Db.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT A.NRSOLICMP, S.CDFILIAL, A.CDFILLAN, A.CDDESTSOLI FROM "
        "APROVACAOGERENTE A JOIN SOLICITACAO S USING (CDFILLAN, NRSOLICMP) GROUP BY "
        "1, 2, 3, 4 HAVING COUNT(*) = 3 AND SUM(A.IDAPROVPRGER = 'P') = 0 ORDER BY 1 "
        "LIMIT 1",
        -1, &statement, nullptr);
    if (sqlite3_step(statement) == SQLITE_ROW)
      for (int i = 0; i < 4; ++i)
        Keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
    sqlite3_finalize(statement);
    sqlite3_close(db);
  }

  ~TSetup() {
    for (const pid_t pid : {Server, TlsServer}) {
      ::kill(pid, SIGTERM);
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

  std::vector<fw::TRemoteArg> Args() const {
    std::vector<fw::TRemoteArg> args;
    for (const auto& key : Keys) args.push_back(fw::TRemoteArg::FromString(key));
    return args;
  }
};

TSetup& Setup() {
  static TSetup setup;
  return setup;
}

fw::TTcpAppServer::TOptions ClientOptions(bool tls) {
  fw::TTcpAppServer::TOptions options;
  options.Tls = tls;
  if (tls) options.TlsCaFile = Setup().Certificate;
  return options;
}

void Call(benchmark::State& state, bool tls) {
  fw::TTcpAppServer client("127.0.0.1", tls ? Setup().TlsPort : Setup().Port, service::kServerName,
                           ClientOptions(tls), {"demo", "demo"});
  auto args = Setup().Args();
  for (auto _ : state) {
    const fw::TRemoteResult result = client.Invoke("GetDestSolGere", args);
    if (result.Data.RowCount() != 3) state.SkipWithError("expected 3 rows");
  }
}

void BM_Call_GetDestSolGere(benchmark::State& state) {
  Call(state, false);
}
void BM_Call_GetDestSolGere_Tls(benchmark::State& state) {
  Call(state, true);
}

// Opening a connection (the certificate checked, with TLS) and closing it. No login: its
// password hash is the same on both transports and would hide what TLS adds.
void Connect(benchmark::State& state, bool tls) {
  fw::TTcpAppServer client("127.0.0.1", tls ? Setup().TlsPort : Setup().Port, service::kServerName,
                           ClientOptions(tls));
  for (auto _ : state) {
    client.Connect();
    client.Disconnect();
  }
}

void BM_Connect(benchmark::State& state) {
  Connect(state, false);
}
void BM_Connect_Tls(benchmark::State& state) {
  Connect(state, true);
}

// Sizes of the real request and response, for the raw round trip.
std::pair<size_t, size_t> MessageSizes() {
  std::string request;
  fw::wire::TWireWriter writer(request);
  fw::wire::EncodeRequest(writer, 1, std::string(service::kServerName) + ".GetDestSolGere",
                          Setup().Args());
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(Setup().Port));
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  fw::wire::TReplyReader reader;
  size_t response = 0;
  for (;;) {
    auto room = reader.Room();
    const ssize_t count = ::recv(fd, room.Data, room.Size, 0);
    if (count <= 0) break;
    response += static_cast<size_t>(count);
    if (reader.Received(static_cast<size_t>(count))) break;
  }
  ::close(fd);
  return {request.size(), response};
}

bool ReadExactly(int fd, char* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t count = ::recv(fd, data + got, size - got, 0);
    if (count <= 0) return false;
    got += static_cast<size_t>(count);
  }
  return true;
}

// Answers each request of `requestSize` bytes with `responseSize` bytes until the peer closes.
void Echo(int fd, std::string& in, const std::string& out) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  while (ReadExactly(fd, in.data(), in.size())) ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
  ::close(fd);
}

// The raw round trip, with the echoing end in another process (as app-server is: a switch between
// processes costs more than one between threads) or in a thread of this one.
void RawRoundTrip(benchmark::State& state, bool otherProcess) {
  const auto [requestSize, responseSize] = MessageSizes();
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::listen(listener, 1);
  socklen_t length = sizeof(address);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::string echoIn(requestSize, '\0'), echoOut(responseSize, 'r');
  pid_t child = -1;
  std::thread echo;
  if (otherProcess) {
    child = ::fork();
    if (child == 0) {
      Echo(::accept(listener, nullptr, nullptr), echoIn, echoOut);
      ::_exit(0);
    }
  } else {
    echo = std::thread([&] { Echo(::accept(listener, nullptr, nullptr), echoIn, echoOut); });
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  std::string request(requestSize, 'q'), response(responseSize, '\0');
  for (auto _ : state) {
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (!ReadExactly(fd, response.data(), response.size())) state.SkipWithError("echo failed");
  }
  ::close(fd);
  if (otherProcess) {
    int status = 0;
    ::waitpid(child, &status, 0);
  } else {
    echo.join();
  }
  ::close(listener);
  state.counters["request_B"] = static_cast<double>(requestSize);
  state.counters["response_B"] = static_cast<double>(responseSize);
}

void BM_RawLoopbackRoundTrip(benchmark::State& state) {
  RawRoundTrip(state, true);
}
void BM_RawLoopbackRoundTripInThread(benchmark::State& state) {
  RawRoundTrip(state, false);
}

void BM_SqlDirect_GetDestSolGere(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(Setup().Db.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  // The connection as the server opens it.
  sqlite3_exec(db, app::kSqliteConnectionPragmas, nullptr, nullptr, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v3(db, app::SqlFor("GetDestSolGere", app::TDialect::Sqlite), -1,
                     SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  const char* names[] = {":nrSoliCmp", ":cdFilial", ":cdFilLan", ":cdDestSoli"};
  const auto& keys = Setup().Keys;
  for (auto _ : state) {
    for (int i = 0; i < 4; ++i)
      sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, names[i]),
                        keys[static_cast<size_t>(i)].data(),
                        static_cast<int>(keys[static_cast<size_t>(i)].size()), SQLITE_STATIC);
    int rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int column = 0; column < 4; ++column)
        benchmark::DoNotOptimize(sqlite3_column_text(statement, column));
      ++rows;
    }
    sqlite3_reset(statement);
    if (rows != 3) state.SkipWithError("expected 3 rows");
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

void SqlScan(benchmark::State& state, const char* pragmas) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(Setup().Db50.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_exec(db, pragmas, nullptr, nullptr, nullptr);
  sqlite3_stmt* statement = nullptr;
  // The statement of a request-date window, the only criterion given.
  sqlite3_prepare_v3(db, app::SqlFor("GetItens", app::TDialect::Sqlite, {.RequestDates = true}), -1,
                     SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  std::map<std::string, std::string> values = {
      {":stDtSoli", ""},   {":stDtEntr", "T"},    {":dtEntrIni", ""},
      {":dtEntrFim", ""},  {":stTSolicita", "T"}, {":lSolicita", "[]"},
      {":stTCdProd", "T"}, {":cdProdIni", ""},    {":cdProdFin", ""}};
  const char* months[] = {"2023-07", "2023-08", "2023-09", "2023-10", "2023-11",
                          "2023-12", "2024-01", "2024-02", "2024-03", "2024-04",
                          "2024-05", "2024-06", "2024-07"};
  size_t turn = 0, rows = 0;
  for (auto _ : state) {
    const size_t month = turn % 12, branch = turn / 12 % 8 + 1;
    ++turn;
    values[":cdFilial"] = "000" + std::to_string(branch);
    // Days as the server binds them on SQLite: the date alone.
    values[":dtSoliIni"] = std::string(months[month]) + "-01";
    values[":dtSoliFim"] = std::string(months[month + 1]) + "-01";
    for (int i = 1; i <= sqlite3_bind_parameter_count(statement); ++i) {
      const std::string& value = values[sqlite3_bind_parameter_name(statement, i)];
      sqlite3_bind_text(statement, i, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int column = 0; column < 20; ++column)
        benchmark::DoNotOptimize(sqlite3_column_text(statement, column));
      ++rows;
    }
    sqlite3_reset(statement);
  }
  if (rows == 0) state.SkipWithError("no rows");
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

BENCHMARK_CAPTURE(SqlScan, MemoryMap, "PRAGMA mmap_size = 1073741824")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SqlScan, ReadAsTheServer, app::kSqliteConnectionPragmas)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_Call_GetDestSolGere)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Call_GetDestSolGere_Tls)->Unit(benchmark::kMicrosecond)->UseRealTime();
// A fixed count: each connection leaves a port in TIME_WAIT for a minute.
BENCHMARK(BM_Connect)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(500);
BENCHMARK(BM_Connect_Tls)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(500);
BENCHMARK(BM_RawLoopbackRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawLoopbackRoundTripInThread)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SqlDirect_GetDestSolGere)->Unit(benchmark::kMicrosecond)->UseRealTime();

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  // The median of the repetitions when there are some, else the single run.
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[name] = run.GetAdjustedRealTime();
      else if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        singles_[name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double call = Time("BM_Call_GetDestSolGere");
    const double raw = Time("BM_RawLoopbackRoundTrip");
    const double rawThread = Time("BM_RawLoopbackRoundTripInThread");
    const double sql = Time("BM_SqlDirect_GetDestSolGere");
    if (call > 0 && raw + sql > 0)
      std::printf(
          "\ncall / (raw round trip between processes + SQL) = %.2f / (%.2f + %.2f) us = %.2f"
          "   (target <= 1.5)\n",
          call, raw, sql, call / (raw + sql));
    if (call > 0 && rawThread + sql > 0)
      std::printf(
          "call / (raw round trip between threads + SQL)   = %.2f / (%.2f + %.2f) us = %.2f\n",
          call, rawThread, sql, call / (rawThread + sql));
    const double tls = Time("BM_Call_GetDestSolGere_Tls");
    if (call > 0 && tls > 0)
      std::printf("call over TLS / plain call = %.2f / %.2f us = %.2f\n", tls, call, tls / call);
    const double connect = Time("BM_Connect");
    const double connectTls = Time("BM_Connect_Tls");
    if (connect > 0 && connectTls > 0)
      std::printf("connect with TLS handshake / plain connect = %.2f / %.2f us = %.2f\n",
                  connectTls, connect, connectTls / connect);
    const double mapped = Time("SqlScan/MemoryMap");
    const double server = Time("SqlScan/ReadAsTheServer");
    if (mapped > 0 && server > 0)
      std::printf(
          "GetItens, pages read through read() / through a memory map = %.2f / %.2f us "
          "= %.2f\n",
          server, mapped, server / mapped);
  }

 private:
  double Time(const std::string& name) const {
    const auto median = medians_.find(name);
    if (median != medians_.end()) return median->second;
    const auto single = singles_.find(name);
    return single == singles_.end() ? 0 : single->second;
  }
  std::map<std::string, double> medians_, singles_;
};

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  // By default, repetitions interleaved at random, compared by their medians: the three
  // measures then see the same machine load.
  std::vector<char*> arguments(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=9";
  std::string interleaving = "--benchmark_enable_random_interleaving=true";
  std::string minimum = "--benchmark_min_time=0.3";
  if (argc == 1) {
    arguments.push_back(repetitions.data());
    arguments.push_back(interleaving.data());
    arguments.push_back(minimum.data());
    arguments.push_back(nullptr);
    argc = static_cast<int>(arguments.size()) - 1;
    argv = arguments.data();
  }
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
