// Load on a real app-server: 1, 8, 32 and 64 clients at once, each on its own connection
// (the project's TCP client, one thread per client) running buyers' sessions back to back with
// no pause: a request-date query (GetFilSoliGD) and its cascade to the first branch's items
// (GetItens) and the first item's approvals (GetDestSolGere), moves down the item grid and the
// branch grid, and the item screen of one item (GetItemProduto, then GetItemCota for each
// product the cursor reaches). Keys come from the answers themselves, so any database the
// server is given will do.
//
// Printed per client count: calls per second, latency p50 / p99 / max, errors, the server's
// resident memory at the start and at the end, and what the generator itself cost (CPU time per
// call and share of the machine), since it runs on the same cores as the server. With a
// PostgreSQL cluster the same levels run against a server on the same demo there, and a table
// puts the engines side by side. --soak S then keeps 32 clients (--soak-clients) on each server
// for S seconds, the server's memory read every tenth of it: what a long busy spell makes it
// keep.
//
//   bench_load                              # the scale 50 demo (bench/common/demo_cache.h)
//   bench_load --scale 5000 --postgres "host=/tmp/pg port=5432 user=postgres" --soak 60
//   bench_load --db FILE_OR_ADDRESS         # the server's --db, passed as given; that one alone
//   bench_load --clients 1,8 --seconds 5 --server-arg --workers --server-arg 2
//   bench_load --connect 127.0.0.1:7450 --server-pid 1234   # a server already running
//
// The cluster is a libpq connection string without a database ($ACOMP_TEST_PG by default).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/demo_cache.h"
#include "bench/common/options.h"
#include "bench/common/server.h"
#include "framework/net/tcp_app_server.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"

namespace {

using TClock = std::chrono::steady_clock;
using fw::TRemoteArg;

struct TOptions {
  std::string Db;  // empty: the cached demo at Scale, on SQLite and (with Cluster) PostgreSQL
  int Scale = 50;
  std::string Cache, Cluster;
  std::vector<int> Clients = {1, 8, 32, 64};
  int Seconds = 20;
  int Soak = 0, SoakClients = 32;
  std::vector<std::string> ServerArgs;
  int ConnectPort = 0;   // a server already running on 127.0.0.1 (none is started)
  pid_t ServerPid = -1;  // its process, for its memory and CPU
};

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  if (const char* cluster = std::getenv("ACOMP_TEST_PG")) options.Cluster = cluster;
  CLI::App app(
      "Load on a real app-server: calls per second, latency, errors and memory per\n"
      "number of clients at once.",
      "bench_load");
  app.add_option("--db", options.Db,
                 "the server's --db, passed as given; that one alone (default: the cached\n"
                 "demo at --scale, on SQLite and, with a cluster, PostgreSQL)")
      ->option_text("ARG");
  app.add_option("--scale", options.Scale, "scale of the cached demo (default 50)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--cache", options.Cache, "where the demo databases are kept")->option_text("DIR");
  app.add_option("--postgres", options.Cluster,
                 "a libpq connection string without a database ($ACOMP_TEST_PG by default)")
      ->option_text("CLUSTER");
  app.add_option("--clients", options.Clients, "client counts to run (default 1,8,32,64)")
      ->option_text("1,8,32,64")
      ->delimiter(',')
      ->check(CLI::Range(1, 1000000));
  app.add_option("--seconds", options.Seconds, "seconds per client count (default 20)")
      ->option_text("S")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--soak", options.Soak,
                 "then keeps --soak-clients clients on each server for S seconds")
      ->option_text("S")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--soak-clients", options.SoakClients, "clients of the soak (default 32)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--server-arg", options.ServerArgs,
                 "an argument for the servers started (repeated: --server-arg --workers\n"
                 "--server-arg 2)")
      ->option_text("ARG")
      ->allow_extra_args(false);
  std::string connect;
  app.add_option("--connect", connect, "a server already running (none is started)")
      ->option_text("127.0.0.1:PORT")
      ->check(CLI::Validator(
          [](std::string& address) -> std::string {
            if (address.rfind("127.0.0.1:", 0) != 0 || address.size() == 10)
              return "--connect takes 127.0.0.1:PORT";
            return {};
          },
          "", ""));
  app.add_option("--server-pid", options.ServerPid, "that server's process, for its memory and CPU")
      ->option_text("N");
  // A --server-arg's value may itself start with dashes: passed as --server-arg=VALUE.
  std::vector<std::string> arguments(argv, argv + argc);
  for (size_t i = 1; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "--server-arg") {
      arguments[i] += "=" + arguments[i + 1];
      arguments.erase(arguments.begin() + static_cast<long>(i) + 1);
    }
  std::vector<char*> pointers;
  for (auto& argument : arguments) pointers.push_back(argument.data());
  bench::ParseOptions(app, static_cast<int>(pointers.size()), pointers.data());
  if (!connect.empty()) options.ConnectPort = std::stoi(connect.substr(10));
  if (app.count("--clients") > 0 && options.Clients.empty())
    bench::UsageError(app, "nothing to run");
  return options;
}

std::string ProcStatus(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

double ResidentMiB(pid_t pid) {
  return std::strtod(ProcStatus(pid, "VmRSS").c_str(), nullptr) / 1024.0;
}

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (text.rfind(')') == std::string::npos) return 0;
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; rest >> field && index <= 15; ++index)
    if (index >= 14) ticks += std::stod(field);
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double OwnCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The server under load: one this run starts (and stops), or one already running.
struct TTarget {
  std::string Name;  // the engine, as the summary shows it
  std::unique_ptr<bench::TServer> Owned = nullptr;
  pid_t Pid = -1;
  int Port = 0;
};

// The arguments of a method by name; the rest as the screens send them when unused (dates 0,
// flags "T", strings empty).
std::vector<TRemoteArg> Args(const char* method, const std::map<std::string, TRemoteArg>& given) {
  std::vector<TRemoteArg> args;
  for (const auto& param : service::FindMethod(method)->Params) {
    const auto found = given.find(param.Name);
    if (found != given.end()) {
      args.push_back(found->second);
      continue;
    }
    const std::string name = param.Name;
    switch (param.Kind) {
      case service::TParamKind::Date:
        args.push_back(TRemoteArg::FromDate(0));
        break;
      case service::TParamKind::String:
        args.push_back(TRemoteArg::FromString(""));
        break;
      case service::TParamKind::InOutString:
        args.push_back(TRemoteArg::FromInOut(
            name.rfind("stT", 0) == 0 || name.rfind("stDt", 0) == 0 ? "T" : ""));
        break;
    }
  }
  return args;
}

std::string Text(const fw::TDataPacket& packet, const char* field, size_t row) {
  const int index = packet.FieldIndex(field);
  if (index < 0 || packet.Columns()[index].IsNull(row)) return "";
  return std::string(packet.Columns()[index].GetString(row));
}

double Number(const fw::TDataPacket& packet, const char* field, size_t row) {
  const int index = packet.FieldIndex(field);
  if (index < 0 || packet.Columns()[index].IsNull(row)) return 0;
  return packet.Columns()[index].GetNumber(row);
}

constexpr const char* kMethods[] = {"GetFilSoliGD", "GetItens", "GetDestSolGere", "GetItemProduto",
                                    "GetItemCota"};

// One client: its connection, its sessions, and what it measured.
class TUser {
 public:
  TUser(int port, unsigned seed, TClock::time_point deadline)
      : client_("127.0.0.1", port, service::kServerName, {5000, 60000}, {"demo", "demo"}),
        random_(seed),
        deadline_(deadline) {}

  void Run() {
    while (TClock::now() < deadline_) Session();
  }

  std::vector<float> Latencies[5];  // microseconds, per method of kMethods
  long Errors = 0;
  std::string FirstError;

 private:
  // A query for one month of requests, July 2023 to June 2024.
  void Session() {
    const int month = static_cast<int>(random_() % 12);
    const int year = month < 6 ? 2023 : 2024;
    const int number = month < 6 ? month + 7 : month - 5;
    const double first = fw::EncodeDateTime({year, number, 1});
    const double last =
        fw::EncodeDateTime({number == 12 ? year + 1 : year, number == 12 ? 1 : number + 1, 1}) - 1;
    dates_ = {{"dtSoliIni", TRemoteArg::FromDate(first)},
              {"dtSoliFin", TRemoteArg::FromDate(last)},
              {"stDtSoli", TRemoteArg::FromInOut("")}};
    auto query = Args("GetFilSoliGD", dates_);
    const fw::TDataPacket branches = Call(0, query);
    if (branches.RowCount() == 0) return;
    // The branch under the cursor, then moves down the item grid; then down the branch grid.
    const size_t branchMoves = std::min<size_t>(branches.RowCount(), 4);
    for (size_t b = 0; b < branchMoves && TClock::now() < deadline_; ++b) {
      const std::string branch = Text(branches, "CDFILIAL", b);
      auto itemArgs = dates_;
      itemArgs["cdFilial"] = TRemoteArg::FromString(branch);
      const fw::TDataPacket items = Call(1, Args("GetItens", itemArgs));
      const size_t itemMoves = std::min<size_t>(items.RowCount(), b == 0 ? 6 : 1);
      for (size_t i = 0; i < itemMoves; ++i) Approvals(branch, items, i);
      if (b == 0 && items.RowCount() > 0) ItemScreen(branch, items, random_() % items.RowCount());
    }
  }

  void Approvals(const std::string& branch, const fw::TDataPacket& items, size_t row) {
    Call(2, Args("GetDestSolGere",
                 {{"nrSoliCmp", TRemoteArg::FromString(Text(items, "NRSOLICMP", row))},
                  {"cdFilial", TRemoteArg::FromString(branch)},
                  {"cdFilLan", TRemoteArg::FromString(Text(items, "CDFILLAN", row))},
                  {"cdDestSoli", TRemoteArg::FromString(Text(items, "CDDESTSOLI", row))}}));
  }

  void ItemScreen(const std::string& branch, const fw::TDataPacket& items, size_t row) {
    auto args = dates_;
    args["cdFilial"] = TRemoteArg::FromString(branch);
    args["nrSoliCmp"] = TRemoteArg::FromString(Text(items, "NRSOLICMP", row));
    args["cdFilLan"] = TRemoteArg::FromString(Text(items, "CDFILLAN", row));
    args["nrCompra"] = TRemoteArg::FromString(Text(items, "NRCOMPRA", row));
    args["dtProgEntr"] = TRemoteArg::FromDate(Number(items, "DTPROGENTR", row));
    const fw::TDataPacket products = Call(3, Args("GetItemProduto", args));
    const size_t moves = std::max<size_t>(1, std::min<size_t>(products.RowCount(), 3));
    for (size_t p = 0; p < moves; ++p) {
      const std::string product = products.RowCount() ? Text(products, "CDPRODUTO", p) : "";
      Call(4, Args("GetItemCota",
                   {{"cdFilial", TRemoteArg::FromString(Text(items, "CDFILIAL", row))},
                    {"cdProduto", TRemoteArg::FromString(product)},
                    {"nrColePreco", TRemoteArg::FromString(Text(items, "NRCOLEPRECO", row))}}));
    }
  }

  fw::TDataPacket Call(int method, std::vector<TRemoteArg> args) {
    const auto started = TClock::now();
    try {
      fw::TRemoteResult result = client_.Invoke(kMethods[method], args);
      Latencies[method].push_back(
          std::chrono::duration<float, std::micro>(TClock::now() - started).count());
      if (result.Refused) Failed(result.RefusalMessage);
      return std::move(result.Data);
    } catch (const fw::ERemoteError& error) {
      Latencies[method].push_back(
          std::chrono::duration<float, std::micro>(TClock::now() - started).count());
      Failed(error.what());
      return {};
    }
  }

  void Failed(const std::string& message) {
    if (Errors++ == 0) FirstError = message;
  }

  fw::TTcpAppServer client_;
  std::mt19937 random_;
  TClock::time_point deadline_;
  std::map<std::string, TRemoteArg> dates_;
};

double Percentile(const std::vector<float>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()));
  return sorted[at];
}

// What a level measured, for the summary.
struct TLevel {
  int Clients = 0;
  double CallsPerSecond = 0, P50 = 0, P99 = 0;  // ms
  long Errors = 0;
  double RssStart = 0, RssEnd = 0, RssMax = 0;  // MiB
};

// `clients` users for `seconds`; with `samples`, the server's memory read that many times along
// the way (printed).
TLevel RunLevel(const TTarget& server, int clients, int seconds, int samples = 0) {
  const double rssStart = ResidentMiB(server.Pid);
  const double ownStart = OwnCpuSeconds(), serverStart = ProcessCpuSeconds(server.Pid);
  const auto started = TClock::now();
  const auto deadline = started + std::chrono::seconds(seconds);
  std::vector<std::unique_ptr<TUser>> users;
  for (int i = 0; i < clients; ++i)
    users.push_back(
        std::make_unique<TUser>(server.Port, static_cast<unsigned>(1000 + i), deadline));
  std::vector<std::thread> threads;
  for (auto& user : users) threads.emplace_back([&user] { user->Run(); });
  double rssMax = rssStart;
  if (samples > 0) {
    std::printf("             server RSS every %g s: %.1f", seconds / double(samples), rssStart);
    for (int sample = 1; sample <= samples; ++sample) {
      std::this_thread::sleep_until(started +
                                    std::chrono::milliseconds(1000LL * seconds * sample / samples) -
                                    std::chrono::milliseconds(50));
      const double rss = ResidentMiB(server.Pid);
      rssMax = std::max(rssMax, rss);
      std::printf(" %.1f", rss);
      std::fflush(stdout);
    }
    std::printf(" MiB\n");
  }
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(TClock::now() - started).count();
  const double own = OwnCpuSeconds() - ownStart;
  const double serverCpu = ProcessCpuSeconds(server.Pid) - serverStart;
  const double rssEnd = ResidentMiB(server.Pid);

  std::vector<float> all, perMethod[5];
  long errors = 0;
  std::string firstError;
  for (const auto& user : users) {
    for (int m = 0; m < 5; ++m) {
      perMethod[m].insert(perMethod[m].end(), user->Latencies[m].begin(), user->Latencies[m].end());
      all.insert(all.end(), user->Latencies[m].begin(), user->Latencies[m].end());
    }
    errors += user->Errors;
    if (firstError.empty()) firstError = user->FirstError;
  }
  std::sort(all.begin(), all.end());
  TLevel level;
  level.Clients = clients;
  level.CallsPerSecond = static_cast<double>(all.size()) / elapsed;
  level.P50 = Percentile(all, 0.50) / 1000;
  level.P99 = Percentile(all, 0.99) / 1000;
  level.Errors = errors;
  level.RssStart = rssStart;
  level.RssEnd = rssEnd;
  level.RssMax = std::max(rssMax, rssEnd);
  const double cores = static_cast<double>(std::thread::hardware_concurrency());
  std::printf(
      "%3d clients: %8.0f calls/s  p50 %7.3f ms  p99 %7.3f ms  max %7.1f ms  p99/p50 %5.1f  "
      "errors %ld  server RSS %.1f -> %.1f MiB\n",
      clients, level.CallsPerSecond, level.P50, level.P99, all.empty() ? 0.0 : all.back() / 1000,
      level.P50 > 0 ? level.P99 / level.P50 : 0.0, errors, rssStart, rssEnd);
  std::printf(
      "             generator %.1f us CPU per call (%.0f%% of %g cores); server %.1f us CPU per "
      "call (%.0f%%)\n",
      all.empty() ? 0.0 : own * 1e6 / static_cast<double>(all.size()), 100 * own / elapsed / cores,
      cores, all.empty() ? 0.0 : serverCpu * 1e6 / static_cast<double>(all.size()),
      100 * serverCpu / elapsed / cores);
  for (int m = 0; m < 5; ++m) {
    std::sort(perMethod[m].begin(), perMethod[m].end());
    std::printf("             %-15s %6.1f%% of calls  p50 %7.3f ms  p99 %7.3f ms\n", kMethods[m],
                all.empty() ? 0.0
                            : 100.0 * static_cast<double>(perMethod[m].size()) /
                                  static_cast<double>(all.size()),
                Percentile(perMethod[m], 0.50) / 1000, Percentile(perMethod[m], 0.99) / 1000);
  }
  if (errors != 0) std::printf("             first error: %s\n", firstError.c_str());
  std::fflush(stdout);
  return level;
}

// The engines side by side per level; then, against one client, each level's throughput and
// its p99 against its p50.
void PrintSummary(const std::vector<TTarget>& targets,
                  const std::vector<std::vector<TLevel>>& levels,
                  const std::vector<TLevel>& soaks) {
  std::printf("\n%-8s", "clients");
  for (const auto& target : targets)
    std::printf(" | %-10s %8s %8s %8s %6s %5s %6s", target.Name.c_str(), "calls/s", "p50 ms",
                "p99 ms", "x 1", "p99/50", "errors");
  std::printf("\n");
  for (size_t row = 0; row < levels[0].size(); ++row) {
    std::printf("%-8d", levels[0][row].Clients);
    for (size_t t = 0; t < targets.size(); ++t) {
      const TLevel& level = levels[t][row];
      const TLevel* one = nullptr;
      for (const auto& other : levels[t])
        if (other.Clients == 1) one = &other;
      std::printf(" | %-10s %8.0f %8.3f %8.3f %6.2f %5.1f %6ld", "", level.CallsPerSecond,
                  level.P50, level.P99,
                  one && one->CallsPerSecond > 0 ? level.CallsPerSecond / one->CallsPerSecond : 0.0,
                  level.P50 > 0 ? level.P99 / level.P50 : 0.0, level.Errors);
    }
    std::printf("\n");
  }
  for (size_t t = 0; t < soaks.size(); ++t) {
    const TLevel& soak = soaks[t];
    std::printf(
        "soak %-10s %d clients: server RSS %.1f -> %.1f MiB (most %.1f): %+.1f%%, errors %ld\n",
        targets[t].Name.c_str(), soak.Clients, soak.RssStart, soak.RssEnd, soak.RssMax,
        soak.RssStart > 0 ? 100 * (soak.RssMax - soak.RssStart) / soak.RssStart : 0.0, soak.Errors);
  }
  std::fflush(stdout);
}

// The engine a --db argument names, for the summary.
std::string EngineOf(const std::string& db) {
  const bool postgres = db.rfind("postgres", 0) == 0 || db.find('=') != std::string::npos;
  return postgres ? "PostgreSQL" : "SQLite";
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  TOptions options = ParseOptions(argc, argv);
  try {
    // Each target and the database its server is started on (none: a server already running).
    std::vector<TTarget> targets;
    std::vector<std::string> dbs;
    if (options.ConnectPort != 0) {
      targets.push_back({"server", nullptr, options.ServerPid, options.ConnectPort});
      dbs.emplace_back();
    } else if (!options.Db.empty()) {
      targets.push_back({EngineOf(options.Db)});
      dbs.push_back(options.Db);
    } else {
      targets.push_back({"SQLite"});
      dbs.push_back(bench::SqliteDemo(options.Scale, bench::CacheDir(options.Cache)));
      if (!options.Cluster.empty()) {
        targets.push_back({"PostgreSQL"});
        dbs.push_back(bench::PostgresDemo(options.Scale, options.Cluster));
      }
      std::printf("demo scale %d (version %s)\n", options.Scale, bench::DemoVersion());
    }
    std::printf("%d s per level; %u cores shared by the server and this generator\n",
                options.Seconds, std::thread::hardware_concurrency());

    std::vector<std::vector<TLevel>> levels(targets.size());
    std::vector<TLevel> soaks;
    for (size_t t = 0; t < targets.size(); ++t) {
      TTarget& target = targets[t];
      // One server at a time, started just before its levels: the other's memory and
      // connections have no place in its figures.
      if (!dbs[t].empty()) {
        target.Owned = std::make_unique<bench::TServer>(dbs[t], options.ServerArgs);
        target.Pid = target.Owned->Pid();
        target.Port = target.Owned->Port();
        std::printf("\n== %s: app-server --db %s on 127.0.0.1:%d\n", target.Name.c_str(),
                    dbs[t].c_str(), target.Port);
      }
      for (const int clients : options.Clients)
        levels[t].push_back(RunLevel(target, clients, options.Seconds));
      if (options.Soak > 0) {
        std::printf("soak, %d clients for %d s:\n", options.SoakClients, options.Soak);
        soaks.push_back(RunLevel(target, options.SoakClients, options.Soak, 6));
      }
      target.Owned.reset();
    }
    PrintSummary(targets, levels, soaks);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench_load: %s\n", failure.what());
    return 1;
  }
  return 0;
}
