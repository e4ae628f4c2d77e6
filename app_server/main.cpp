// app-server: the application server of the tracking service.
//
//   app-server --db FILE|POSTGRES [--listen HOST:PORT] [--workers N]
//              [--tls-cert FILE --tls-key FILE | --insecure]
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
// to stderr. SIGTERM or SIGINT stops it after the answers in flight are written.
//
// --add-user reads the password from the terminal without echo (twice), or as the first line of
// standard input when that is not a terminal (a script); it is never taken as an argument, which
// any user of the machine could read.
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app_server/accounts.h"
#include "app_server/database.h"
#include "app_server/demo_data.h"
#include "app_server/read_scope.h"
#include "app_server/report_service.h"
#include "app_server/server.h"
#include "app_server/tracking_service.h"
#include "protocol/contract.h"
#include "protocol/report_contract.h"

namespace {

const char* const kUsage =
    "Uso:\n"
    "  app-server --db BANCO [--listen HOST:PORTA] [--workers N]\n"
    "             [--tls-cert ARQUIVO --tls-key ARQUIVO | --insecure]\n"
    "  app-server --init-demo BANCO [--seed N] [--scale N]\n"
    "  app-server --add-user USUARIO [--name NOME] --db BANCO\n"
    "  app-server --disable-user USUARIO --db BANCO\n"
    "  app-server --unlock-user USUARIO --db BANCO\n"
    "  app-server --grant-branches USUARIO 0001,0003 --db BANCO   (e as outras opções de escopo)\n"
    "  app-server --show-user USUARIO --db BANCO\n"
    "\n"
    "  BANCO é um arquivo SQLite ou um banco PostgreSQL, dado por URI\n"
    "  (postgresql://USUARIO@HOST:PORTA/BANCO) ou por parâmetros (\"host=... dbname=...\").\n"
    "\n"
    "  --db BANCO          banco a servir (somente leitura)\n"
    "  --listen HOST:PORTA endereço de escuta (padrão 127.0.0.1:7450; porta 0: qualquer livre)\n"
    "  --workers N         threads que atendem as chamadas (padrão 4)\n"
    "  --tls-cert ARQUIVO  certificado do servidor (PEM, com a cadeia): as conexões passam a\n"
    "                      usar TLS 1.2 ou posterior, e só TLS\n"
    "  --tls-key ARQUIVO   chave privada do certificado (PEM, sem senha)\n"
    "  --handshake-timeout S  tempo máximo da negociação TLS de uma conexão (padrão 10)\n"
    "  --insecure          permite escutar sem TLS num endereço que não é o local (127.0.0.1,\n"
    "                      ::1): os dados passam abertos pela rede\n"
    "  --init-demo BANCO   cria um banco de demonstração (substitui o arquivo, ou uma\n"
    "                      demonstração anterior no PostgreSQL)\n"
    "  --add-user USUARIO  cria a conta (ou troca a senha e reativa uma existente); a senha\n"
    "                      é lida do terminal, sem eco, ou da entrada padrão\n"
    "  --name NOME         nome da pessoa da conta (padrão: o próprio usuário)\n"
    "  --disable-user USUARIO  desativa a conta (o login passa a ser recusado; uma conexão\n"
    "                      já aberta é recusada na chamada seguinte)\n"
    "  --unlock-user USUARIO   desbloqueia a conta que, depois de muitas tentativas erradas,\n"
    "                      só aceitava login de endereços de onde já entrara\n"
    "  --max-login-failures N  tentativas erradas seguidas de endereços desconhecidos até a\n"
    "                      conta aceitar login só dos endereços conhecidos (padrão 100)\n"
    "  --grant-branches USUARIO FILIAIS  a conta passa a ler exatamente estas filiais\n"
    "                      (0001,0003); cada uma deve existir em FILIAL\n"
    "  --grant-all-branches USUARIO  a conta lê todas as filiais, também as criadas depois\n"
    "  --revoke-branches USUARIO  a conta não lê filial nenhuma (nada)\n"
    "  --own-requests USUARIO sim|nao  só as solicitações feitas pelo operador da conta, ou\n"
    "                      todas as das suas filiais\n"
    "  --operator USUARIO CODIGO  o operador (OPERADOR) da conta; \"\" o retira\n"
    "  --show-user USUARIO mostra a conta e o que ela lê\n"
    "                      (uma conta nova não lê nada até receber filiais; a mudança vale na\n"
    "                      chamada seguinte da conta, sem reiniciar os servidores)\n"
    "  --login-timeout S   tempo para uma conexão fazer login antes de ser fechada (padrão 10)\n"
    "  --seed N            semente dos dados de demonstração (padrão 1)\n"
    "  --scale N           escala: 80 solicitações e cerca de 200 itens por unidade (padrão 1)\n"
    "  --message-timeout S tempo máximo para receber uma requisição inteira (padrão 60)\n"
    "  --query-timeout S   tempo máximo de uma consulta (padrão 50)\n"
    "  --shutdown-grace S  ao parar, espera pelas respostas em curso (padrão 30)\n"
    "  --max-connections N            conexões ao todo (padrão 1000; nunca mais do que o\n"
    "                                 limite de descritores de arquivo comporta)\n"
    "  --max-connections-per-address N  conexões de um mesmo endereço (padrão 100)\n"
    "  --max-pending-mib N            MiB retidos em requisições ainda incompletas, somadas\n"
    "                                 todas as conexões (padrão 256)\n"
    "  --max-selection-codes N        códigos numa lista de seleção (padrão 100000)\n"
    "  --max-queued-queries N         pesquisas à espera de uma thread; além disso a chamada\n"
    "                                 recebe \"Servidor ocupado\" na hora (padrão 256)\n"
    "  --max-unauthenticated N        conexões ainda sem login, ao todo (padrão: um quarto de\n"
    "                                 --max-connections); além disso a mais antiga do endereço\n"
    "                                 que mais tem é fechada para dar lugar à nova\n"
    "  --max-unauthenticated-per-address N  conexões sem login de um mesmo endereço (padrão 16)\n"
    "  --login-threads N              threads que conferem senhas (padrão: metade dos núcleos,\n"
    "                                 de 1 a 4)\n"
    "  --max-queued-logins N          logins à espera de conferência; além disso o login\n"
    "                                 recebe \"Servidor ocupado\" na hora (padrão 64)\n"
    "  --max-unsent-mib N             MiB de respostas ainda não lidas pelos clientes, somadas\n"
    "                                 todas as conexões; além disso os relatórios esperam para\n"
    "                                 começar (padrão 128)\n";

[[noreturn]] void Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "app-server: " << problem << "\n\n";
  std::cerr << kUsage;
  std::exit(2);
}

long Number(const std::string& option, const std::string& text, long low, long high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high)
    Usage("valor inválido para " + option + ": " + text);
  return value;
}

bool SplitListen(const std::string& text, std::string& host, uint16_t& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const std::string portText = text.substr(colon + 1);
  char* end = nullptr;
  const long value = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || value < 0 || value > 65535 || host.empty()) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// One line of the terminal without echo, or of standard input when it is not a terminal.
bool ReadSecret(const char* prompt, std::string& secret) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, secret));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return read;
}

int AccountCommand(const std::string& db, const std::string& addUser, const std::string& name,
                   const std::string& disableUser, const std::string& unlockUser) {
  try {
    if (!unlockUser.empty()) {
      const bool was = app::UnlockAccount(db, unlockUser);
      std::printf("app-server: conta %s %s em %s\n", unlockUser.c_str(),
                  was ? "desbloqueada" : "não estava bloqueada", app::DescribeTarget(db).c_str());
      return 0;
    }
    if (!disableUser.empty()) {
      if (!app::DisableAccount(db, disableUser)) {
        std::cerr << "app-server: não há a conta " << disableUser << " em "
                  << app::DescribeTarget(db) << ".\n";
        return 1;
      }
      std::printf("app-server: conta %s desativada em %s\n", disableUser.c_str(),
                  app::DescribeTarget(db).c_str());
      return 0;
    }
    if (const char* problem = app::LoginProblem(addUser)) {
      std::cerr << "app-server: usuário inválido: " << problem << ".\n";
      return 2;
    }
    std::string password, again;
    if (!ReadSecret("Senha: ", password)) {
      std::cerr << "app-server: nenhuma senha recebida.\n";
      return 1;
    }
    if (::isatty(STDIN_FILENO) == 1 &&
        (!ReadSecret("Repita a senha: ", again) || again != password)) {
      std::cerr << "app-server: as senhas não conferem; nada foi alterado.\n";
      return 1;
    }
    if (password.empty() || password.size() > app::kMaxPasswordBytes) {
      std::cerr << "app-server: a senha deve ter de 1 a " << app::kMaxPasswordBytes
                << " bytes; nada foi alterado.\n";
      return 1;
    }
    const std::string hash = app::HashPassword(password, app::THashCost::Interactive);
    const bool created = app::AddAccount(db, addUser, name.empty() ? addUser : name, hash);
    std::printf("app-server: conta %s %s em %s\n", addUser.c_str(),
                created ? "criada" : "atualizada (nova senha, ativa)",
                app::DescribeTarget(db).c_str());
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "app-server: " << failure.what() << "\n";
    return 1;
  }
}

// A read scope command (read_scope.h): what to do, to which account, with what value.
struct TScopeCommand {
  std::string Option, Login, Value;
};

void PrintAccount(const app::TAccountReport& account, const std::string& db) {
  std::printf("conta %s (%s), %s, em %s\n", account.Login.c_str(), account.Name.c_str(),
              account.Enabled ? "ativa" : "desativada", app::DescribeTarget(db).c_str());
  const std::string scope = fw::ScopeText(account.Scope, static_cast<size_t>(-1));
  std::printf("  lê: %s\n", scope.c_str());
  if (account.Scope.Operator.empty())
    std::printf("  operador: nenhum\n");
  else
    std::printf("  operador: %s (%s)\n", account.Scope.Operator.c_str(),
                account.OperatorName.c_str());
}

int ScopeCommand(const std::string& db, const TScopeCommand& command) {
  try {
    const std::string& login = command.Login;
    if (command.Option == "--grant-branches") {
      app::GrantBranches(db, login, command.Value);
    } else if (command.Option == "--grant-all-branches") {
      app::GrantAllBranches(db, login);
    } else if (command.Option == "--revoke-branches") {
      app::RevokeBranches(db, login);
    } else if (command.Option == "--own-requests") {
      const std::string& value = command.Value;
      const bool yes = value == "sim" || value == "s" || value == "S";
      const bool no = value == "nao" || value == "não" || value == "n" || value == "N";
      if (!yes && !no) {
        std::cerr << "app-server: --own-requests espera sim ou nao, recebeu \"" << value << "\".\n";
        return 2;
      }
      app::SetOwnRequests(db, login, yes);
    } else if (command.Option == "--operator") {
      app::SetOperator(db, login, command.Value);
    }
    PrintAccount(app::ShowAccount(db, login), db);
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "app-server: " << failure.what() << "\n";
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string db, demo, addUser, disableUser, unlockUser, accountName;
  app::TLoginThrottle::TOptions throttleOptions;
  TScopeCommand scopeCommand;
  long seed = 1, scale = 1;
  app::TServerOptions serverOptions;
  app::TTrackingService::TOptions serviceOptions;

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage("falta o valor de " + option);
      return argv[++i];
    };
    if (option == "--db") {
      db = value();
    } else if (option == "--init-demo") {
      demo = value();
    } else if (option == "--listen") {
      const std::string text = value();
      if (!SplitListen(text, serverOptions.Host, serverOptions.Port))
        Usage("endereço inválido para --listen: " + text + " (esperado HOST:PORTA)");
    } else if (option == "--workers") {
      serverOptions.Workers = static_cast<int>(Number(option, value(), 1, 256));
    } else if (option == "--tls-cert") {
      serverOptions.TlsCertificateFile = value();
    } else if (option == "--tls-key") {
      serverOptions.TlsKeyFile = value();
    } else if (option == "--handshake-timeout") {
      serverOptions.HandshakeTimeoutMs = static_cast<int>(Number(option, value(), 1, 3600)) * 1000;
    } else if (option == "--insecure") {
      serverOptions.AllowInsecure = true;
    } else if (option == "--add-user") {
      addUser = value();
    } else if (option == "--disable-user") {
      disableUser = value();
    } else if (option == "--unlock-user") {
      unlockUser = value();
    } else if (option == "--max-login-failures") {
      throttleOptions.MaxFailures = static_cast<int>(Number(option, value(), 1, 1000000));
    } else if (option == "--grant-branches" || option == "--own-requests" ||
               option == "--operator") {
      if (!scopeCommand.Option.empty()) Usage("use uma opção de escopo por vez");
      scopeCommand.Login = value();
      scopeCommand.Value = value();
      scopeCommand.Option = option;
    } else if (option == "--grant-all-branches" || option == "--revoke-branches" ||
               option == "--show-user") {
      if (!scopeCommand.Option.empty()) Usage("use uma opção de escopo por vez");
      scopeCommand.Login = value();
      scopeCommand.Option = option;
    } else if (option == "--name") {
      accountName = value();
    } else if (option == "--login-timeout") {
      serverOptions.LoginTimeoutMs = static_cast<int>(Number(option, value(), 1, 3600)) * 1000;
    } else if (option == "--seed") {
      seed = Number(option, value(), 0, 2147483647);
    } else if (option == "--scale") {
      scale = Number(option, value(), 1, 100000);
    } else if (option == "--message-timeout") {
      serverOptions.MessageTimeoutMs = static_cast<int>(Number(option, value(), 1, 3600)) * 1000;
    } else if (option == "--query-timeout") {
      serviceOptions.QueryTimeLimitMs = static_cast<int>(Number(option, value(), 1, 3600)) * 1000;
    } else if (option == "--shutdown-grace") {
      serverOptions.ShutdownGraceMs = static_cast<int>(Number(option, value(), 0, 3600)) * 1000;
    } else if (option == "--max-connections") {
      serverOptions.MaxConnections = static_cast<int>(Number(option, value(), 1, 1000000));
    } else if (option == "--max-connections-per-address") {
      serverOptions.MaxConnectionsPerAddress =
          static_cast<int>(Number(option, value(), 1, 1000000));
    } else if (option == "--max-pending-mib") {
      serverOptions.MaxPendingBytes =
          static_cast<size_t>(Number(option, value(), 1, 1024 * 1024)) * 1024 * 1024;
    } else if (option == "--max-selection-codes") {
      serviceOptions.MaxSelectionCodes = static_cast<size_t>(Number(option, value(), 1, 100000000));
    } else if (option == "--max-queued-queries") {
      serverOptions.MaxQueuedQueries = static_cast<int>(Number(option, value(), 0, 1000000));
    } else if (option == "--max-unauthenticated") {
      serverOptions.MaxUnauthenticated = static_cast<int>(Number(option, value(), 1, 1000000));
    } else if (option == "--max-unauthenticated-per-address") {
      serverOptions.MaxUnauthenticatedPerAddress =
          static_cast<int>(Number(option, value(), 1, 1000000));
    } else if (option == "--login-threads") {
      serverOptions.LoginThreads = static_cast<int>(Number(option, value(), 1, 64));
    } else if (option == "--max-queued-logins") {
      serverOptions.MaxQueuedLogins = static_cast<int>(Number(option, value(), 0, 1000000));
    } else if (option == "--max-unsent-mib") {
      serverOptions.MaxUnsentBytes =
          static_cast<size_t>(Number(option, value(), 1, 1024 * 1024)) * 1024 * 1024;
    } else if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      Usage("opção desconhecida: " + option);
    }
  }
  if (db.empty() == demo.empty()) Usage(db.empty() ? "" : "use --db ou --init-demo, não ambos");
  if (!scopeCommand.Option.empty()) {
    if (db.empty()) Usage(scopeCommand.Option + " pede --db BANCO");
    if (!addUser.empty() || !disableUser.empty() || !unlockUser.empty())
      Usage("use " + scopeCommand.Option + " sem --add-user, --disable-user e --unlock-user");
    return ScopeCommand(db, scopeCommand);
  }
  if (!addUser.empty() || !disableUser.empty() || !unlockUser.empty()) {
    if (db.empty()) Usage("--add-user, --disable-user e --unlock-user pedem --db BANCO");
    if (!addUser.empty() + !disableUser.empty() + !unlockUser.empty() > 1)
      Usage("use só um de --add-user, --disable-user e --unlock-user");
    return AccountCommand(db, addUser, accountName, disableUser, unlockUser);
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

  try {
    app::SetDatabaseLog([](const std::string& line) { app::LogLine(line); });
    // Fail at start, not at the first call, when the database cannot be read.
    {
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
    }
    // A SQLite file is checked at the start of every call: replaced, the pool reopens (see the
    // pool). A PostgreSQL server keeps its own files.
    app::TConnectionPool::TIdentity identity;
    if (!app::IsPostgresTarget(db)) identity = [db] { return app::SqliteFileIdentity(db); };
    app::TConnectionPool pool([db] { return app::OpenDatabase(db); }, identity);
    pool.OnEvent = [db](const std::string& event) {
      app::LogLine("banco de dados " + app::DescribeTarget(db) + ": " + event);
    };
    app::TTrackingService tracking(pool, serviceOptions);
    tracking.Warm(serverOptions.Workers);
    app::TAccountAuthenticator accounts(pool, throttleOptions);
    // Known places, locks and rehashed passwords are written beside the accounts when the
    // database lets this server write; otherwise they stay in its memory (the log says so).
    try {
      app::CreateLoginState(db);
    } catch (const std::exception& failure) {
      app::LogLine(std::string("aviso: endereços conhecidos e bloqueios de contas ficam só na "
                               "memória deste servidor: ") +
                   failure.what());
    }
    accounts.SetWriteTarget(db);
    // The login's answer carries what the account reads (read_scope.h).
    app::TScopedAuthenticator authenticator(accounts, pool);
    app::TObjectRegistry registry;
    registry.Register(service::kServerName, &tracking);
    // The report of SUP00700: its own object, behind the same listener, limits, log and login.
    app::TReportService report(pool,
                               {serviceOptions.QueryTimeLimitMs, serviceOptions.MaxSelectionCodes});
    registry.Register(service::kReportServerName, &report);
    registry.SetAuthenticator(&authenticator);
    app::TServer server(registry, serverOptions);
    server.Listen();
    std::printf("app-server escutando em %s:%u (banco %s, %d workers%s)\n",
                serverOptions.Host.c_str(), static_cast<unsigned>(server.Port()),
                app::DescribeTarget(db).c_str(), serverOptions.Workers,
                serverOptions.TlsCertificateFile.empty() ? "" : ", TLS");
    std::fflush(stdout);
    server.Run();
    app::LogLine("parado");
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "app-server: " << failure.what() << "\n";
    return 1;
  }
}
