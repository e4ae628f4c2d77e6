// app-server: the application server of the tracking service.
//
//   app-server [--config FILE] --db FILE|POSTGRES [--listen HOST:PORT] [--workers N]
//              [--tls-cert FILE --tls-key FILE | --insecure] [--metrics HOST:PORT] ...
//   app-server [--config FILE] --check-config
//   app-server --schema sqlite|postgresql
//   app-server --init-demo FILE|POSTGRES [--seed N] [--scale N]
//   app-server --add-user LOGIN [--name NAME] --db FILE|POSTGRES
//   app-server --disable-user LOGIN --db FILE|POSTGRES
//   app-server --unlock-user LOGIN --db FILE|POSTGRES
//   app-server --grant-branches LOGIN 0001,0003 | --grant-all-branches LOGIN |
//              --revoke-branches LOGIN | --own-requests LOGIN sim|nao | --operator LOGIN CODE |
//              --show-user LOGIN   --db FILE|POSTGRES
//
// POSTGRES is a libpq URI ("postgresql://acomp@db1:5432/compras") or connection string
// ("host=db1 dbname=compras"); anything else names a SQLite file. Serving prints one line to
// stdout once it listens ("app-server escutando em 127.0.0.1:7450"), then logs one line per call
// to stderr (log.h). SIGTERM or SIGINT stops it after the answers in flight are written; SIGHUP
// re-reads the configuration file and applies what may change while it serves (server_config.h)
// and opens the log file again.
//
// Every serving option may be kept in a configuration file instead (server_config.h); the
// installed program reads /etc/acomp/app-server.conf unless --config names another, and the
// command line overrides the file. Under systemd (a Type=notify unit) the server says when it is
// ready, pings the watchdog and logs to the journal (service_manager.h).
//
// The options are declared once, with CLI11 (config/command_line.h, and the settings' table in
// config/server_config.cpp); "app-server --help" prints the usage generated from them.
//
// --add-user reads the password from the terminal without echo (twice), or as the first line of
// standard input when that is not a terminal (a script); it is never taken as an argument, which
// any user of the machine could read.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "acomp_version.h"
#include "app_server/auth/account_commands.h"
#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/config/command_line.h"
#include "app_server/config/server_config.h"
#include "app_server/config/service_manager.h"
#include "app_server/db/branch_items.h"
#include "app_server/db/database.h"
#include "app_server/db/database_writer.h"
#include "app_server/db/item_progress.h"
#include "app_server/demo/demo_data.h"
#include "app_server/log/metrics.h"
#include "app_server/net/metrics_http.h"
#include "app_server/net/server.h"
#include "app_server/net/tls_stream.h"
#include "app_server/report/report_service.h"
#include "app_server/tracking/tracking_service.h"
#include "protocol/contract.h"
#include "protocol/report_contract.h"

namespace {

using app::AccountCommand;
using app::ScopeCommand;

using app::UsageError;

// Said where an operator looks: stderr, with the journal's error priority under systemd.
void Fail(const std::string& message) {
  std::cerr << (app::StderrIsJournal() ? "<3>" : "") << "app-server: " << message << "\n";
}

// The schema of a database this server serves, as SQL to run with sqlite3 or psql: the
// tracking tables, their indexes, the accounts, their read scopes and the logins' state.
int PrintSchema(const std::string& engine) {
  std::string sql = "-- Esquema do banco do servidor de aplicação (app-server " ACOMP_VERSION ", " +
                    engine + ").\n";
  if (engine == "sqlite") {
    for (const char* part :
         {app::kSchemaSql, app::kAccountsSqliteSql, app::ReadScopeSchemaSql(app::TDialect::Sqlite),
          app::kLoginStateSqliteSql, app::kIndexSql, app::BranchItemsSql(app::TDialect::Sqlite),
          app::ItemProgressSql(app::TDialect::Sqlite)})
      sql += part;
  } else if (engine == "postgresql") {
    for (const char* part :
         {app::kPostgresSchemaSql, app::kPostgresForeignKeySql, app::kPostgresIndexSql,
          app::kAccountsPostgresSql, app::ReadScopeSchemaSql(app::TDialect::Postgres),
          app::kLoginStatePostgresSql, app::BranchItemsSql(app::TDialect::Postgres),
          app::ItemProgressSql(app::TDialect::Postgres)})
      sql += part;
  } else {
    UsageError("--schema espera sqlite ou postgresql, recebeu \"" + engine + "\"");
  }
  std::fputs(sql.c_str(), stdout);
  return 0;
}

// The folder of a SQLite file, and whether this process may create files in it.
std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Whether this process may write the file and create files beside it (a journal); when not,
// `why` says why.
bool MayWriteBeside(const std::string& path, std::string& why) {
  for (const std::string& target : {FolderOf(path), path}) {
    if (::access(target.c_str(), W_OK) != 0) {
      why = std::strerror(errno);
      return false;
    }
  }
  return true;
}

// A SQLite file in WAL mode is read through its -shm index beside it, which the reader must be
// able to create and write: in a folder this server may not write (a read-only folder of its
// service) it could be opened only while another program holds the database open, and would
// fail each call once that program closes it. Refused at start, saying what to do.
void CheckSqliteFolder(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char header[20] = {};
  if (!file.read(header, sizeof(header))) return;  // not there or not SQLite: opening says so
  const bool wal = header[18] == 2 && header[19] == 2;
  const std::string folder = FolderOf(path);
  if (!wal || ::access(folder.c_str(), W_OK) == 0) return;
  const std::string why = std::strerror(errno);
  throw std::runtime_error(
      "o banco " + path + " está no modo WAL e este servidor não pode criar arquivos na pasta " +
      folder + " (" + why + "): no modo WAL o SQLite mantém ao lado do banco o índice " + path +
      "-shm, que também quem só lê precisa criar e gravar. Dê à conta do servidor escrita na "
      "pasta (no serviço acomp-servidor: ReadWritePaths=" +
      folder +
      "), ou passe o banco ao modo DELETE (PRAGMA journal_mode = DELETE); docs/deployment.md.");
}

// What a server needs of its database before it serves: the tracking tables, the accounts and
// their read scopes; and of a SQLite file, a folder it can read it in. Raises with what to do.
void CheckServedDatabase(const std::string& db) {
  if (!app::IsPostgresTarget(db)) CheckSqliteFolder(db);
  auto check = app::OpenDatabase(db);
  check->Query("SELECT 1 FROM SOLICITACAO LIMIT 1", {}, 1, 10000,
               [](const app::IRow&) { return true; });
  // Without accounts no one could log in: say so now, with what to do.
  try {
    check->Query("SELECT 1 FROM USUARIO LIMIT 1", {}, 1, 10000,
                 [](const app::IRow&) { return true; });
  } catch (const app::EDatabaseError&) {
    throw std::runtime_error("o banco " + app::DescribeTarget(db) +
                             " não tem a tabela de contas USUARIO; crie uma conta com "
                             "app-server --add-user USUARIO --db " +
                             app::DescribeTarget(db) + ".");
  }
  // Nor without the accounts' read scopes: every call depends on them.
  app::CheckReadScopeSchema(*check, db);
  // Nor without the items by requesting branch that its searches of a product range read.
  app::CheckBranchItems(*check, db);
  // Nor without the items' progress that GetItens reads.
  app::CheckItemProgress(*check, db);
}

// --upgrade-schema: what the server needs besides the purchasing tables, installed.
int UpgradeSchema(const std::string& db) {
  try {
    auto writer = app::OpenWriteConnection(db);
    app::InstallBranchItems(*writer);
    std::printf("app-server: ITEMSOLIFILIAL instalada em %s\n", app::DescribeTarget(db).c_str());
    app::InstallItemProgress(*writer);
    std::printf("app-server: ITEMSOLIANDAMENTO instalada em %s\n", app::DescribeTarget(db).c_str());
    return 0;
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return 1;
  }
}

// The settings as given: the configuration file (`path`, none when empty), then the command
// line's over it.
struct TSettingsSource {
  std::string Path;
  bool PathGiven = false;  // by --config: then it must be there
  std::vector<std::pair<std::string, std::string>> CommandLine;

  // Raises app::ESettingError.
  app::TServerSettings Load() const {
    app::TServerSettings settings;
    std::error_code error;
    if (!Path.empty() && (PathGiven || std::filesystem::exists(Path, error)))
      app::ReadSettingsFile(Path, settings);
    for (const auto& [option, value] : CommandLine) app::ApplySetting(settings, option, value);
    return settings;
  }
};

// --check-config: what a start would refuse, without starting. 0 when it would start.
int CheckConfig(const app::TServerSettings& settings, const TSettingsSource& source) {
  try {
    if (settings.Database.empty())
      throw std::runtime_error("falta o banco: db = ... no arquivo, ou --db");
    app::ValidateServerOptions(settings.Server);
    if (!settings.Server.TlsCertificateFile.empty())
      app::MakeServerTlsContext(settings.Server.TlsCertificateFile, settings.Server.TlsKeyFile);
    if (!settings.LogFile.empty()) {
      const bool exists = ::access(settings.LogFile.c_str(), F_OK) == 0;
      const std::string target = exists ? settings.LogFile : FolderOf(settings.LogFile);
      if (::access(target.c_str(), W_OK) != 0) {
        const std::string why = std::strerror(errno);
        throw std::runtime_error("o arquivo de log " + settings.LogFile +
                                 " não pode ser gravado (" + why + ")");
      }
    }
    try {
      CheckServedDatabase(settings.Database);
    } catch (const std::exception& failure) {
      // Said with the database's name: the check is the operator's first look at it.
      throw std::runtime_error("banco " + app::DescribeTarget(settings.Database) + ": " +
                               failure.what());
    }
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return 1;
  }
  std::printf("app-server: configuração válida (%s); banco %s respondeu\n",
              source.Path.empty() ? "sem arquivo, só a linha de comando" : source.Path.c_str(),
              app::DescribeTarget(settings.Database).c_str());
  return 0;
}

// Every method a client may call, by the name the metrics count it under.
std::vector<std::string> ServedMethods() {
  std::vector<std::string> names;
  for (const auto& method : service::Methods())
    names.push_back(std::string(service::kServerName) + "." + method.Name);
  names.push_back(std::string(service::kReportServerName) + "." + service::kReportMethodName);
  return names;
}

int Serve(const app::TServerSettings& started, const TSettingsSource& source) {
  const std::string& db = started.Database;
  app::SetLogJournal(app::StderrIsJournal());
  app::SetLogLevel(started.LogLevel);
  try {
    if (db.empty()) throw std::runtime_error("falta o banco: db = ... no arquivo, ou --db");
    if (!started.LogFile.empty()) app::SetLogFile(started.LogFile);
    app::SetDatabaseLog([](const std::string& line) { app::LogLine(line); });
    // Fail at start, not at the first call, when the database cannot be read.
    CheckServedDatabase(db);
    // A SQLite file is checked at the start of every call: replaced, the pool reopens (see the
    // pool). A PostgreSQL server keeps its own files.
    app::TConnectionPool::TIdentity identity;
    if (!app::IsPostgresTarget(db)) identity = [db] { return app::SqliteFileIdentity(db); };
    app::TConnectionPool pool([db] { return app::OpenDatabase(db); }, identity);
    pool.OnEvent = [db](const std::string& event) {
      app::LogLine(app::TLogPriority::Warning,
                   "banco de dados " + app::DescribeTarget(db) + ": " + event);
    };
    app::TTrackingService tracking(pool, started.Service);
    tracking.Warm(started.Server.Workers);
    app::TAccountAuthenticator accounts(pool, started.Throttle);
    // Known places, locks and rehashed passwords are written beside the accounts when the
    // database lets this server write; otherwise they stay in its memory (the log says so). A
    // SQLite file in a folder the server may not write (its service's read-only folder) is
    // not even tried: every write would fail, each with a line of its own.
    const char* const memoryOnly =
        "aviso: endereços conhecidos e bloqueios de contas ficam só na memória deste servidor: ";
    const bool sqlite = !app::IsPostgresTarget(db);
    bool writable = true;
    std::string why;
    if (sqlite && !MayWriteBeside(db, why)) {
      writable = false;
      app::LogLine(app::TLogPriority::Warning,
                   std::string(memoryOnly) + "o banco " + db + " ou a sua pasta " + FolderOf(db) +
                       " é somente leitura para este servidor (" + why + ")");
    } else {
      try {
        app::CreateLoginState(db);
      } catch (const std::exception& failure) {
        app::LogLine(app::TLogPriority::Warning, std::string(memoryOnly) + failure.what());
        // A PostgreSQL role may write tables made by another without making them.
        writable = !sqlite;
      }
    }
    if (writable) accounts.SetWriteTarget(db);
    // The login's answer carries what the account reads (read_scope.h).
    app::TScopedAuthenticator authenticator(accounts, pool);
    app::TObjectRegistry registry;
    registry.Register(service::kServerName, &tracking);
    // The report of SUP00700: its own object, behind the same listener, limits, log and login.
    app::TReportService report(
        pool, {started.Service.QueryTimeLimitMs, started.Service.MaxSelectionCodes});
    registry.Register(service::kReportServerName, &report);
    registry.SetAuthenticator(&authenticator);
    app::Metrics().SetMethods(ServedMethods());
    app::TServer server(registry, started.Server);
    server.Listen();

    // The operators' endpoint, apart from the clients' (metrics_http.h).
    std::unique_ptr<app::TMetricsEndpoint> endpoint;
    std::string metricsText;
    if (!started.MetricsHost.empty()) {
      endpoint = std::make_unique<app::TMetricsEndpoint>(
          started.MetricsHost, started.MetricsPort,
          app::TMetricsEndpoint::THandlers{[&server](bool databaseUp) {
                                             const app::TServerLoad load = server.Load();
                                             app::TMetricsGauges gauges;
                                             gauges.Connections = load.Connections;
                                             gauges.Unauthenticated = load.Unauthenticated;
                                             gauges.QueuedQueries = load.QueuedQueries;
                                             gauges.QueuedLogins = load.QueuedLogins;
                                             gauges.WaitingLongCalls = load.WaitingLongCalls;
                                             gauges.UnsentBytes = load.UnsentBytes;
                                             gauges.DatabaseUp = databaseUp ? 1 : 0;
                                             return app::Metrics().Render(gauges, ACOMP_VERSION);
                                           },
                                           [&pool](std::string& why) {
                                             try {
                                               auto connection = pool.Acquire();
                                               connection->Query(
                                                   "SELECT 1 FROM USUARIO LIMIT 1", {}, 1, 2000,
                                                   [](const app::IRow&) { return true; });
                                               return true;
                                             } catch (const std::exception& failure) {
                                               why = failure.what();
                                               return false;
                                             }
                                           }});
      endpoint->Start();
      const std::string& host = started.MetricsHost;
      metricsText = "; métricas em " +
                    (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                    std::to_string(endpoint->Port());
    }

    const std::string status = "escutando em " + started.Server.Host + ":" +
                               std::to_string(server.Port()) + " (banco " +
                               app::DescribeTarget(db) + ")";
    app::TServerHooks hooks;
    hooks.Stopping = [] { app::NotifyStopping(); };
    hooks.TickEvery = app::WatchdogPingInterval();
    hooks.Tick = [] { app::NotifyWatchdog(); };
    // SIGHUP: the file again, the command line over it; what may change now does, the rest is
    // said to wait for a restart. A file that no longer reads changes nothing.
    std::string logFile = started.LogFile;
    hooks.Reload = [&] {
      app::NotifyReloading();
      try {
        const app::TServerSettings next = source.Load();
        for (const auto& key : app::ChangesNeedingRestart(started, next))
          app::LogLine(
              app::TLogPriority::Warning,
              "aviso: " + key + " mudou na configuração; vale quando o servidor reiniciar");
        server.Reconfigure(next.Server);
        // The line saying so is written whichever of the two levels is the quieter.
        const app::TLogPriority level = next.LogLevel;
        if (static_cast<int>(level) > static_cast<int>(app::LogLevel())) app::SetLogLevel(level);
        try {
          if (next.LogFile != logFile)
            app::SetLogFile(next.LogFile);
          else
            app::ReopenLog();
          logFile = next.LogFile;
        } catch (const std::exception& failure) {
          app::LogLine(app::TLogPriority::Error, failure.what());
        }
        app::LogLine(app::TLogPriority::Notice, std::string("configuração relida (log ") +
                                                    app::LogLevelName(next.LogLevel) + "); " +
                                                    server.LimitsText());
        app::SetLogLevel(level);
      } catch (const app::ESettingError& failure) {
        app::LogLine(app::TLogPriority::Error, std::string("configuração não relida: ") +
                                                   failure.what() + "; valem as de antes");
      }
      app::NotifyReady(status);
    };
    server.SetHooks(hooks);

    std::printf("app-server escutando em %s:%u (banco %s, %d workers%s%s)\n",
                started.Server.Host.c_str(), static_cast<unsigned>(server.Port()),
                app::DescribeTarget(db).c_str(), started.Server.Workers,
                started.Server.TlsCertificateFile.empty() ? "" : ", TLS", metricsText.c_str());
    std::fflush(stdout);
    app::NotifyReady(status);
    server.Run();
    app::LogLine(app::TLogPriority::Notice, "parado");
    return 0;
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const app::TCommandLine line = app::ParseCommandLine(argc, argv);
  const std::string& demo = line.Demo;
  const std::string& addUser = line.AddUser;
  const std::string& disableUser = line.DisableUser;
  const std::string& unlockUser = line.UnlockUser;
  const long seed = line.Seed, scale = line.Scale;
  TSettingsSource source;
  source.Path = line.ConfigPath;
  source.PathGiven = line.ConfigGiven;
  source.CommandLine = line.Settings;

  if (!line.Schema.empty()) return PrintSchema(line.Schema);
  if (line.DbGiven && !demo.empty()) UsageError("use --db ou --init-demo, não ambos");

  if (!source.PathGiven) source.Path = app::DefaultSettingsFile();
  app::TServerSettings settings;
  // What the command line gave is checked first, as it always was: a mistyped option is a
  // usage error whatever the file holds.
  try {
    TSettingsSource commandLine = source;
    commandLine.Path.clear();
    commandLine.Load();
  } catch (const app::ESettingError& failure) {
    UsageError(failure.what());
  }
  try {
    settings = source.Load();
  } catch (const app::ESettingError& failure) {
    Fail(failure.what());
    return 2;
  }
  if (line.CheckConfig) return CheckConfig(settings, source);
  const std::string& db = settings.Database;

  if (line.UpgradeSchema) {
    if (db.empty()) UsageError("--upgrade-schema pede --db BANCO");
    return UpgradeSchema(db);
  }
  if (!line.Scope.Option.empty()) {
    if (db.empty()) UsageError(line.Scope.Option + " pede --db BANCO");
    if (!addUser.empty() || !disableUser.empty() || !unlockUser.empty())
      UsageError("use " + line.Scope.Option + " sem --add-user, --disable-user e --unlock-user");
    return ScopeCommand(db, line.Scope);
  }
  if (!addUser.empty() || !disableUser.empty() || !unlockUser.empty()) {
    if (db.empty()) UsageError("--add-user, --disable-user e --unlock-user pedem --db BANCO");
    if (!addUser.empty() + !disableUser.empty() + !unlockUser.empty() > 1)
      UsageError("use só um de --add-user, --disable-user e --unlock-user");
    return AccountCommand(db, addUser, line.AccountName, disableUser, unlockUser);
  }

  if (!demo.empty()) {
    try {
      const auto started = std::chrono::steady_clock::now();
      const app::TDemoOptions options{static_cast<uint64_t>(seed), static_cast<int>(scale)};
      const app::TDemoCounts counts = app::IsPostgresTarget(demo)
                                          ? app::CreatePostgresDemo(demo, options)
                                          : app::CreateDemoDatabase(demo, options);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::printf(
          "app-server: banco de demonstração %s criado em %.1f s (semente %ld, escala %ld): "
          "%ld filiais, %ld operadores, %ld produtos, %ld fornecedores, %ld solicitações, "
          "%ld itens, %ld aprovações, %ld cotações, %ld preços cotados, %ld compras, %ld AF, "
          "%ld NF\n",
          app::DescribeTarget(demo).c_str(), seconds, seed, scale, counts.Branches,
          counts.Operators, counts.Products, counts.Suppliers, counts.Requests, counts.Items,
          counts.Approvals, counts.Quotations, counts.QuotationPrices, counts.Purchases,
          counts.Orders, counts.Invoices);
      return 0;
    } catch (const std::exception& failure) {
      std::cerr << "app-server: " << failure.what() << "\n";
      return 1;
    }
  }
  if (db.empty()) UsageError("");
  // A SIGHUP before the server takes it (while the statements are prepared) must not end it.
  ::signal(SIGHUP, SIG_IGN);
  return Serve(settings, source);
}
