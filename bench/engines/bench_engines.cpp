// The request screen's cascade — GetFilSoliGD for a filter, GetItens for the first branch it
// returns, GetDestSolGere for that branch's first item — against a server on SQLite and a server
// on PostgreSQL holding the same demo data, measured in the same run, rounds interleaved so
// that both see the same machine. Each call is timed at the client, through the TCP client, as
// the screen makes it. Prints the median and the 90th percentile per method and engine, and the
// ratio PostgreSQL / SQLite.
//
//   bench_engines --sqlite big.db --postgres "host=... dbname=..." [--rounds 200] [--workers 4]
//                 [--clients 8]
//
// Both databases must hold the same seed and scale (app-server --init-demo); the clients log in
// as the demo's "demo", or as $ACOMP_USUARIO with $ACOMP_SENHA when both are set. The filters: a
// request-date window of 7 days, 1 day or 31 days, starting at a day of the data's year, with
// no other restriction, as a buyer's first query of the day.
//
// Then, with --clients N, N clients at once make cascades for a few seconds against each engine
// in turn: cascades per second on each, and, on PostgreSQL, how many connections the server
// opened and the memory of their server processes (proportional set size, from /proc: only when
// the database runs on this machine).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/options.h"
#include "framework/net/tcp_app_server.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"

extern char** environ;

namespace {

fw::TCredentials Login() {
  const char* login = std::getenv("ACOMP_USUARIO");
  const char* password = std::getenv("ACOMP_SENHA");
  if (login && password) return {login, password};
  return {"demo", "demo"};
}

using TClock = std::chrono::steady_clock;

// An app-server on a free loopback port, stopped at the end.
class TServer {
 public:
  TServer(const std::string& db, int workers) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    const int log = ::open("/dev/null", O_WRONLY);
    std::vector<std::string> arguments = {
        APP_SERVER_PATH,        "--db", db, "--listen", "127.0.0.1:0", "--workers",
        std::to_string(workers)};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, log, STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("cannot start app-server");
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(log);
    std::string line;
    char buffer[256];
    for (ssize_t count; line.find('\n') == std::string::npos &&
                        (count = ::read(out[0], buffer, sizeof(buffer))) > 0;)
      line.append(buffer, static_cast<size_t>(count));
    ::close(out[0]);
    const std::string marker = "escutando em 127.0.0.1:";
    const size_t at = line.find(marker);
    if (at == std::string::npos) throw std::runtime_error("app-server did not start on " + db);
    port_ = std::stoi(line.substr(at + marker.size()));
  }
  ~TServer() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

std::vector<fw::TRemoteArg> Args(const std::string& method,
                                 const std::map<std::string, fw::TRemoteArg>& values) {
  std::vector<fw::TRemoteArg> args;
  for (const auto& param : service::FindMethod(method)->Params) {
    const auto given = values.find(param.Name);
    if (given != values.end()) {
      args.push_back(given->second);
    } else if (param.Kind == service::TParamKind::Date) {
      args.push_back(fw::TRemoteArg::FromDate(0));
    } else if (param.Kind == service::TParamKind::String) {
      args.push_back(fw::TRemoteArg::FromString(""));
    } else {
      const std::string name = param.Name;
      args.push_back(fw::TRemoteArg::FromInOut(
          name.rfind("stT", 0) == 0 || name.rfind("stDt", 0) == 0 ? "T" : ""));
    }
  }
  return args;
}

struct TTimes {
  std::map<std::string, std::vector<double>> Ms;
  std::map<std::string, size_t> Rows;
};

double Elapsed(TClock::time_point since) {
  return std::chrono::duration<double, std::milli>(TClock::now() - since).count();
}

fw::TRemoteResult Timed(fw::TTcpAppServer& client, const std::string& method,
                        std::vector<fw::TRemoteArg> args, TTimes& times) {
  const auto started = TClock::now();
  fw::TRemoteResult result = client.Invoke(method, args);
  times.Ms[method].push_back(Elapsed(started));
  if (result.Refused) throw std::runtime_error(method + " refused: " + result.RefusalMessage);
  times.Rows[method] += result.Data.RowCount();
  return result;
}

// One cascade; its total time goes under "cascade".
void Cascade(fw::TTcpAppServer& client, double from, double to, TTimes& times) {
  const auto started = TClock::now();
  const auto filter =
      std::map<std::string, fw::TRemoteArg>{{"dtSoliIni", fw::TRemoteArg::FromDate(from)},
                                            {"dtSoliFin", fw::TRemoteArg::FromDate(to)},
                                            {"stDtSoli", fw::TRemoteArg::FromInOut("")}};
  const auto branches = Timed(client, "GetFilSoliGD", Args("GetFilSoliGD", filter), times);
  if (branches.Data.RowCount() > 0) {
    auto itemFilter = filter;
    itemFilter["cdFilial"] = fw::TRemoteArg::FromString(
        std::string(branches.Data.Columns()[branches.Data.FieldIndex("CDFILIAL")].GetString(0)));
    const auto items = Timed(client, "GetItens", Args("GetItens", itemFilter), times);
    if (items.Data.RowCount() > 0) {
      auto text = [&](const char* field) {
        return fw::TRemoteArg::FromString(
            std::string(items.Data.Columns()[items.Data.FieldIndex(field)].GetString(0)));
      };
      Timed(client, "GetDestSolGere",
            Args("GetDestSolGere", {{"nrSoliCmp", text("NRSOLICMP")},
                                    {"cdFilial", itemFilter["cdFilial"]},
                                    {"cdFilLan", text("CDFILLAN")},
                                    {"cdDestSoli", text("CDDESTSOLI")}}),
            times);
    }
  }
  times.Ms["cascade"].push_back(Elapsed(started));
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

// Cascades per second with `clients` clients at once for `seconds`.
double Throughput(int port, int clients, double seconds) {
  std::atomic<long> done{0};
  std::atomic<bool> failed{false};
  const auto until = TClock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      try {
        fw::TTcpAppServer client("127.0.0.1", port, service::kServerName, {}, Login());
        TTimes ignored;
        const double first = fw::EncodeDateTime({2023, 7, 1});
        for (long round = c; TClock::now() < until; round += clients) {
          const double from = first + (round * 53) % 360;
          Cascade(client, from, from + 6, ignored);
          ++done;
        }
      } catch (const std::exception&) {
        failed = true;
      }
    });
  for (auto& thread : threads) thread.join();
  if (failed) throw std::runtime_error("a client failed");
  return static_cast<double>(done) / seconds;
}

// The proportional set size of a process, in MiB; 0 when it cannot be read.
double PssMib(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/smaps_rollup");
  std::string key;
  long kib = 0;
  while (file >> key) {
    if (key == "Pss:") {
      file >> kib;
      return static_cast<double>(kib) / 1024;
    }
  }
  return 0;
}

void ConnectionFigures(const std::string& conninfo) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  PGresult* result = PQexec(conn,
                            "SELECT pid FROM pg_stat_activity WHERE application_name = "
                            "'app-server' AND datname = current_database()");
  const int count = PQntuples(result);
  double total = 0, least = 1e9, most = 0;
  for (int row = 0; row < count; ++row) {
    const double pss = PssMib(PQgetvalue(result, row, 0));
    total += pss;
    least = std::min(least, pss);
    most = std::max(most, pss);
  }
  std::printf(
      "PostgreSQL connections held by the server: %d; memory per server process (PSS): "
      "%.1f MiB average, %.1f to %.1f\n",
      count, count ? total / count : 0.0, count ? least : 0.0, most);
  PQclear(result);
  PQfinish(conn);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sqlite, postgres;
  int rounds = 200, workers = 4, clients = 0;
  CLI::App app(
      "The screen's cascade against a server on SQLite and one on PostgreSQL holding\n"
      "the same demo data, in the same run.",
      "bench_engines");
  app.add_option("--sqlite", sqlite, "the SQLite demo")->option_text("FILE")->required();
  app.add_option("--postgres", postgres, "the same demo on PostgreSQL (a libpq connection string)")
      ->option_text("CONNINFO")
      ->required();
  app.add_option("--rounds", rounds, "rounds (default 200)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--workers", workers, "the servers' workers (default 4)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--clients", clients,
                 "then N clients at once make cascades against each engine in turn")
      ->option_text("N")
      ->check(CLI::Range(0, 1000000));
  bench::ParseOptions(app, argc, argv);
  try {
    TServer onSqlite(sqlite, workers);
    TServer onPostgres(postgres, workers);
    fw::TTcpAppServer a("127.0.0.1", onSqlite.Port(), service::kServerName, {}, Login());
    fw::TTcpAppServer b("127.0.0.1", onPostgres.Port(), service::kServerName, {}, Login());
    TTimes sqliteTimes, postgresTimes;
    const double first = fw::EncodeDateTime({2023, 7, 1});
    const int lengths[] = {7, 1, 31};
    // A first cascade on each, unmeasured: connections opened, statements prepared.
    TTimes warm;
    Cascade(a, first, first + 6, warm);
    Cascade(b, first, first + 6, warm);
    for (int round = 0; round < rounds; ++round) {
      const double from = first + (round * 53) % 360;
      const double to = from + lengths[round % 3] - 1;
      if (round % 2 == 0) {
        Cascade(a, from, to, sqliteTimes);
        Cascade(b, from, to, postgresTimes);
      } else {
        Cascade(b, from, to, postgresTimes);
        Cascade(a, from, to, sqliteTimes);
      }
    }
    std::printf("%d cascades per engine (%d workers); times in ms at the client\n\n", rounds,
                workers);
    std::printf("%-16s %10s %10s %10s %10s %8s %12s\n", "", "SQLite p50", "p90", "PG p50", "p90",
                "PG/SQL", "rows (S, PG)");
    for (const char* method : {"GetFilSoliGD", "GetItens", "GetDestSolGere", "cascade"}) {
      const double s50 = Percentile(sqliteTimes.Ms[method], 0.5);
      const double p50 = Percentile(postgresTimes.Ms[method], 0.5);
      std::printf("%-16s %10.2f %10.2f %10.2f %10.2f %8.2f %6zu %5zu\n", method, s50,
                  Percentile(sqliteTimes.Ms[method], 0.9), p50,
                  Percentile(postgresTimes.Ms[method], 0.9), s50 > 0 ? p50 / s50 : 0.0,
                  sqliteTimes.Rows[method], postgresTimes.Rows[method]);
    }
    if (sqliteTimes.Rows != postgresTimes.Rows) {
      std::fprintf(stderr, "the engines returned different row counts\n");
      return 1;
    }
    if (clients > 0) {
      const double onSqliteRate = Throughput(onSqlite.Port(), clients, 5);
      const double onPostgresRate = Throughput(onPostgres.Port(), clients, 5);
      std::printf("\n%d clients at once: %.0f cascades/s on SQLite, %.0f on PostgreSQL (%.2f)\n",
                  clients, onSqliteRate, onPostgresRate, onPostgresRate / onSqliteRate);
      ConnectionFigures(postgres);
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench_engines: %s\n", failure.what());
    return 1;
  }
  return 0;
}
