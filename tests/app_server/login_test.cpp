// Logging in, against real app-server processes: what a connection may do before and after,
// refusals that look alike, the throttle, the login deadline, bad input, and the accounts that
// --add-user and --disable-user keep. Each test that fails logins has a server of its own, so
// that the throttle it trips reaches no other test.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "app_server/auth/accounts.h"
#include "framework/host/config.h"
#include "framework/host/net_connection.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using namespace std::chrono_literals;
using fw::TRemoteArg;
using fw::wire::TWireWriter;
using TClock = std::chrono::steady_clock;

constexpr const char* kBad = "Usuário ou senha inválidos.";
constexpr const char* kTooMany = "Muitas tentativas de acesso; tente novamente em instantes.";

// A server of the test's own on a database of its own (the engine under test).
struct TOwnServer {
  TOwnDemo Db;
  TTempDir Dir;
  TServerProcess Server;
  explicit TOwnServer(const std::vector<std::string>& extra = {})
      : Server(Db.Location(), Dir.Path() + "/server.log", extra) {}
  // The log once the server is stopped (everything written).
  std::string StoppedLog() {
    EXPECT_EQ(0, Server.Stop());
    return Server.Log();
  }
};

struct TAttempt {
  fw::wire::TReply Reply;
  double Seconds = 0;
};

TAttempt TryLogin(int port, const std::string& login, const std::string& password,
                  const char* source = nullptr) {
  TRawClient raw(port, source);
  const auto started = TClock::now();
  raw.Send(LoginBytes(7, login, password));
  TAttempt attempt;
  attempt.Reply = raw.Read(10000);
  attempt.Seconds = std::chrono::duration<double>(TClock::now() - started).count();
  return attempt;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

TEST(Login, BeforeLoggingIn_EveryCallIsRefusedAndTheConnectionStaysUsable) {
  TRawClient raw(Demo().Server->Port());
  uint32_t msgid = 1;
  for (const auto& method : service::Methods()) {
    raw.Send(RequestBytes(msgid, Full(method.Name), Args(method.Name)));
    const auto reply = raw.Read();
    EXPECT_EQ(msgid++, reply.MsgId);
    EXPECT_TRUE(reply.Failed) << method.Name;
    EXPECT_EQ("Sessão não autenticada.", reply.ErrorMessage) << method.Name;
  }
  // Unknown objects and methods tell nothing either until then.
  raw.Send(RequestBytes(50, "Outro.Objeto.Metodo", {}));
  EXPECT_EQ("Sessão não autenticada.", raw.Read().ErrorMessage);
  raw.Login();
  raw.Send(RequestBytes(51, Full("GetFilSoli"), {}));
  EXPECT_FALSE(raw.Read().Failed);
}

TEST(Login, AnAcceptedLogin_AnswersTheAccountThenEverySevenMethodAnswers) {
  TRawClient raw(Demo().Server->Port());
  raw.Send(LoginBytes(3, "demo", "demo"));
  const auto reply = raw.Read();
  ASSERT_FALSE(reply.Failed) << reply.ErrorMessage;
  EXPECT_EQ(3u, reply.MsgId);
  EXPECT_EQ("demo", reply.Texts.at("usuario"));
  EXPECT_EQ("Usuário de demonstração", reply.Texts.at("nome"));
  uint32_t msgid = 10;
  for (const auto& method : service::Methods()) {
    raw.Send(RequestBytes(msgid, Full(method.Name), Args(method.Name)));
    const auto answer = raw.Read();
    EXPECT_FALSE(answer.Failed) << method.Name << ": " << answer.ErrorMessage;
    EXPECT_EQ(msgid++, answer.MsgId);
  }
  // A demo operator is an account too, with its own name.
  const std::string code = SqlValue("SELECT MIN(CDOPERADOR) FROM OPERADOR");
  const std::string name =
      SqlValue("SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = '" + code + "'");
  const auto operatorLogin = TryLogin(Demo().Server->Port(), code, "demo");
  ASSERT_FALSE(operatorLogin.Reply.Failed) << operatorLogin.Reply.ErrorMessage;
  EXPECT_EQ(name, operatorLogin.Reply.Texts.at("nome"));
}

// Any demo operator's login (the same on both engines: the same seed).
std::string OperatorLogin(const char* which = "MIN") {
  return SqlValue(std::string("SELECT ") + which + "(CDOPERADOR) FROM OPERADOR");
}

TEST(Login, WrongPasswordUnknownLoginAndDisabledAccount_GetOneAnswerAfterTheSameDelay) {
  TOwnServer own;
  const std::string disabled = OperatorLogin();
  ASSERT_EQ(0, RunAppServer({"--disable-user", disabled, "--db", own.Db.Location()},
                            own.Dir.Path() + "/disable.log"));
  const int port = own.Server.Port();
  // At once, each from an address of its own, so that the throttle stays out of it.
  auto wrong = std::async(std::launch::async,
                          [&] { return TryLogin(port, "demo", "errada", "127.0.0.11"); });
  auto unknown = std::async(std::launch::async,
                            [&] { return TryLogin(port, "ninguem", "demo", "127.0.0.12"); });
  auto off = std::async(std::launch::async,
                        [&] { return TryLogin(port, disabled, "demo", "127.0.0.13"); });
  const TAttempt attempts[] = {wrong.get(), unknown.get(), off.get()};
  double fastest = 1e9, slowest = 0;
  for (const TAttempt& attempt : attempts) {
    EXPECT_TRUE(attempt.Reply.Failed);
    EXPECT_EQ(kBad, attempt.Reply.ErrorMessage);
    EXPECT_FALSE(attempt.Reply.Texts.count("usuario"));
    fastest = std::min(fastest, attempt.Seconds);
    slowest = std::max(slowest, attempt.Seconds);
  }
  EXPECT_GE(fastest, 0.95);
  EXPECT_LT(slowest - fastest, 0.5) << fastest << " s to " << slowest << " s";
  // The log tells the operator which it was; the client was not told.
  const std::string log = own.StoppedLog();
  EXPECT_NE(std::string::npos, log.find("\"demo\": recusado (senha incorreta)")) << log;
  EXPECT_NE(std::string::npos, log.find("\"ninguem\": recusado (usuário desconhecido)")) << log;
  EXPECT_NE(std::string::npos, log.find("\"" + disabled + "\": recusado (conta desativada)"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("errada")) << log;
}

TEST(Login, FailuresFromElsewhereMakeTheNextTryWait_ButNotAtThePlaceTheAccountUses) {
  TOwnServer own;
  const int port = own.Server.Port();
  const std::string target = OperatorLogin();
  const auto first = TryLogin(port, target, "demo", "127.0.0.23");  // the user's place
  ASSERT_FALSE(first.Reply.Failed) << first.Reply.ErrorMessage;
  // Three guesses from elsewhere, checked at once (their answers come a second later).
  std::vector<std::unique_ptr<TRawClient>> guesses;
  for (int i = 0; i < 3; ++i) {
    guesses.push_back(std::make_unique<TRawClient>(port, "127.0.0.21"));
    guesses.back()->Send(LoginBytes(1, target, "chute"));
  }
  std::this_thread::sleep_for(300ms);
  // For that login from an unknown place, even with its right password: wait; from the user's
  // own place, in at once. The guessing address may still log in to another account.
  TRawClient elsewhere(port, "127.0.0.22"), atHome(port, "127.0.0.23"), other(port, "127.0.0.21");
  elsewhere.Send(LoginBytes(2, target, "demo"));
  std::this_thread::sleep_for(200ms);
  atHome.Send(LoginBytes(2, target, "demo"));
  other.Send(LoginBytes(2, "demo", "demo"));
  for (auto& guess : guesses) EXPECT_EQ(kBad, guess->Read(5000).ErrorMessage);
  EXPECT_EQ(kTooMany, elsewhere.Read(5000).ErrorMessage);
  const auto home = atHome.Read(5000);
  EXPECT_FALSE(home.Failed) << home.ErrorMessage;
  EXPECT_FALSE(other.Read(5000).Failed);
  const std::string log = own.StoppedLog();
  EXPECT_NE(std::string::npos, log.find("recusado (muitas tentativas")) << log;
}

TEST(Login, AConnectionThatDoesNotLogInInTime_IsClosedAndOneThatDidStaysOpen) {
  TOwnServer own({"--login-timeout", "1"});
  // Silent's second counts from its connection, before idle's login (which may take a while on a
  // loaded machine).
  const auto started = TClock::now();
  TRawClient silent(own.Server.Port()), idle(own.Server.Port());
  idle.Login();
  EXPECT_TRUE(silent.ClosedByServer(5000));
  EXPECT_GE(TClock::now() - started, 800ms);
  std::this_thread::sleep_for(500ms);
  idle.Send(RequestBytes(2, Full("GetFilSoli"), {}));
  EXPECT_FALSE(idle.Read().Failed);
  EXPECT_NE(std::string::npos, own.StoppedLog().find("sem login em 1 s"));
}

TEST(Login, BadLoginsAndAnyPasswordBytes_AreRefusedAndTheServerServesOn) {
  TOwnServer own;
  const int port = own.Server.Port();
  const std::string secret = std::string("S3GR\0EDO\xff\xfe\n", 11);
  struct TCase {
    std::string Login, Password;
  };
  const std::vector<TCase> cases = {
      {std::string(64 * 1024, 'a'), "demo"},
      {"", "demo"},
      {std::string("de\0mo", 5), "demo"},
      {"\xff\xfe\xc3", "demo"},
      {"demo\n2024-01-01 00:00:00.000 linha forjada", "demo"},
      {"demo", secret},
      {"demo", std::string(1024 * 1024, 'x')},
  };
  std::vector<std::future<TAttempt>> attempts;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string source = "127.0.0." + std::to_string(30 + i);
    attempts.push_back(std::async(std::launch::async, [&, i, source] {
      return TryLogin(port, cases[i].Login, cases[i].Password, source.c_str());
    }));
  }
  for (auto& attempt : attempts) EXPECT_EQ(kBad, attempt.get().Reply.ErrorMessage);

  // The wrong shapes: a refusal too, and the connection stays open.
  TRawClient raw(port, "127.0.0.50");
  raw.Send(RequestBytes(1, "Sessao.Login", {TRemoteArg::FromString("demo")}));
  EXPECT_EQ(kBad, raw.Read().ErrorMessage);
  raw.Send(RequestBytes(2, "Sessao.Login", 2, [](TWireWriter& w) {
    w.Unsigned(1);
    w.Nil();
  }));
  EXPECT_EQ(kBad, raw.Read().ErrorMessage);
  raw.Login();

  const auto good = TryLogin(port, "demo", "demo", "127.0.0.51");
  EXPECT_FALSE(good.Reply.Failed) << good.Reply.ErrorMessage;
  const std::string log = own.StoppedLog();
  EXPECT_EQ(std::string::npos, log.find("S3GR")) << "a password reached the log";
  EXPECT_EQ(std::string::npos, log.find("\n2024-01-01 00:00:00.000 linha forjada"));
  EXPECT_EQ(std::string::npos, log.find(std::string(200, 'a'))) << "a login quoted whole";
}

TEST(Accounts, AddUserReadsThePasswordFromStandardInputAndDisableUserEndsTheAccess) {
  TOwnDemo db;
  TTempDir dir;
  const std::string log = dir.Path() + "/accounts.log";
  const std::string args =
      "--add-user maria --name " + Quoted("Maria da Silva") + " --db " + Quoted(db.Location());
  ASSERT_EQ(0, RunWithInput(args, "primeira senha\n", log));
  TServerProcess server(db.Location(), dir.Path() + "/server.log");
  auto first = TryLogin(server.Port(), "maria", "primeira senha");
  ASSERT_FALSE(first.Reply.Failed) << first.Reply.ErrorMessage;
  EXPECT_EQ("Maria da Silva", first.Reply.Texts.at("nome"));
  EXPECT_EQ("maria", first.Reply.Texts.at("usuario"));

  // Adding it again sets a new password; the old one is refused from then on.
  ASSERT_EQ(0, RunWithInput(args, "segunda senha\n", log));
  EXPECT_EQ(kBad, TryLogin(server.Port(), "maria", "primeira senha").Reply.ErrorMessage);
  EXPECT_FALSE(TryLogin(server.Port(), "maria", "segunda senha").Reply.Failed);

  ASSERT_EQ(0, RunAppServer({"--disable-user", "maria", "--db", db.Location()}, log));
  EXPECT_EQ(kBad, TryLogin(server.Port(), "maria", "segunda senha").Reply.ErrorMessage);
  EXPECT_EQ(1, RunAppServer({"--disable-user", "ninguem", "--db", db.Location()}, log));
  // No password, or one for a login no account may have: nothing changes.
  EXPECT_EQ(1, RunWithInput("--add-user jose --db " + Quoted(db.Location()), "", log));
  EXPECT_EQ(2, RunWithInput("--add-user " + Quoted(" jose") + " --db " + Quoted(db.Location()),
                            "x\n", log));
  EXPECT_EQ(kBad, TryLogin(server.Port(), "jose", "").Reply.ErrorMessage);

  EXPECT_EQ(0, server.Stop());
  const std::string serverLog = server.Log();
  EXPECT_EQ(std::string::npos, serverLog.find("senha\"")) << serverLog;
  EXPECT_EQ(std::string::npos, serverLog.find("primeira")) << serverLog;
}

TEST(Accounts, AServedDatabaseWithoutAccounts_IsRefusedAtStartWithWhatToDo) {
  TOwnDemo db;
  db.Execute("DROP TABLE USUARIO");
  TTempDir dir;
  EXPECT_EQ(1, RunAppServer({"--db", db.Location(), "--listen", "127.0.0.1:0"},
                            dir.Path() + "/server.log"));
  std::ifstream file(dir.Path() + "/server.log");
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_NE(std::string::npos, text.find("--add-user")) << text;
}

TEST(Accounts, PasswordsAreStoredAsArgon2idHashesWithASaltEach) {
  const auto rows = Sql("SELECT SENHA FROM USUARIO");
  ASSERT_GT(rows.size(), 10u);
  std::set<std::string> distinct;
  for (const auto& row : rows) {
    EXPECT_EQ(0u, row[0].rfind("$argon2id$", 0)) << row[0];
    EXPECT_TRUE(app::VerifyPassword(row[0], "demo"));
    EXPECT_FALSE(app::VerifyPassword(row[0], "Demo"));
    distinct.insert(row[0]);
  }
  EXPECT_EQ(rows.size(), distinct.size());
  // What --add-user stores costs the site's: 19 MiB and 2 passes, not the demo's least.
  const std::string hash = app::HashPassword("x", app::THashCost::Interactive);
  EXPECT_NE(std::string::npos, hash.find("m=19456,t=2,")) << hash;
  EXPECT_FALSE(app::VerifyPassword("", "x"));
  EXPECT_FALSE(app::VerifyPassword("$argon2id$v=19$m=8,t=1,p=1$garbage", "x"));
}

TEST(Login, AClientLogsInAgainByItselfAfterTheServerRestarts) {
  TOwnDemo db;
  TTempDir dir;
  auto first = std::make_unique<TServerProcess>(db.Location(), dir.Path() + "/first.log");
  const int port = first->Port();
  fw::HostConfig().ServerHost = "127.0.0.1:" + std::to_string(port);
  fw::HostConfig().Credentials = DemoLogin();
  fw::TNetConnection connection(nullptr, "netAcompSoli");
  connection.ServerName = service::kServerName;
  connection.Host = fw::HostConfig().ServerHost;
  connection.Port = port;
  auto call = [&] {
    std::vector<TRemoteArg> none;
    return connection.AppServer().Invoke("GetFilSoli", none).Data.RowCount();
  };
  EXPECT_GT(call(), 0u);
  EXPECT_EQ(0, first->Stop());
  first.reset();
  TServerProcess second(db.Location(), dir.Path() + "/second.log",
                        {"--listen", "127.0.0.1:" + std::to_string(port)});
  std::this_thread::sleep_for(1100ms);  // past the client's idle check
  EXPECT_GT(call(), 0u);
  EXPECT_EQ(0, second.Stop());
  EXPECT_NE(std::string::npos, second.Log().find("Sessao.Login \"demo\": aceito"));
  fw::HostConfig().Credentials = {};
}

// ---------------------------------------------------------------------------------------------

using TThrottleClock = app::TLoginThrottle::TClock;

using TVerdict = app::TLoginThrottle::TVerdict;

TEST(LoginThrottle, FailuresFromUnknownPlacesWaitLongerEachTimeThenLockToKnownPlaces) {
  app::TLoginThrottle::TOptions options;
  options.MaxFailures = 10;
  app::TLoginThrottle throttle(options);
  auto t = TThrottleClock::time_point{} + std::chrono::hours(1);
  throttle.Succeeded("10.0.0.1", "ana", false);  // her workstation
  EXPECT_TRUE(throttle.KnownPlace("10.0.0.1", "ana"));
  // Three free failures, then 1 s, 2 s, 4 s... between tries from anywhere unknown; each try
  // comes from an address of its own, so that the address throttle stays out of it.
  for (int i = 0; i < 9; ++i) {
    const std::string from = "10.9.0." + std::to_string(i);
    ASSERT_EQ(TVerdict::Check, throttle.Before(from, "ana", false, false, t)) << i;
    EXPECT_FALSE(throttle.Failed(from, "ana", false, t));
    const auto delay = throttle.DelayAfter(i + 1);
    const TThrottleClock::duration expected =
        i < 2 ? TThrottleClock::duration::zero() : std::chrono::seconds(std::min(60, 1 << (i - 2)));
    EXPECT_EQ(expected, delay);
    if (delay > TThrottleClock::duration::zero()) {
      EXPECT_EQ(TVerdict::Wait, throttle.Before("10.8.0.1", "ana", false, false, t + delay - 1ms));
      // Her own place never waits for them.
      EXPECT_EQ(TVerdict::Check, throttle.Before("10.0.0.1", "ana", true, false, t + 1ms));
    }
    t += delay;
  }
  EXPECT_TRUE(throttle.Failed("10.9.1.1", "ana", false, t));  // the tenth: locked
  EXPECT_TRUE(throttle.LockedHere("ana"));
  t += std::chrono::hours(24);
  EXPECT_EQ(TVerdict::KnownPlacesOnly, throttle.Before("10.9.2.1", "ana", false, false, t));
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.0.0.1", "ana", true, false, t));
  // A success at her place does not lift the lock; an administrator does.
  throttle.Succeeded("10.0.0.1", "ana", true);
  EXPECT_EQ(TVerdict::KnownPlacesOnly, throttle.Before("10.9.2.1", "ana", false, false, t));
  throttle.Unlocked("ana");
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.9.2.1", "ana", false, false, t));
  // A lock another server stored is one too.
  EXPECT_EQ(TVerdict::KnownPlacesOnly, throttle.Before("10.9.2.1", "bia", false, true, t));
  EXPECT_DOUBLE_EQ(60, std::chrono::duration<double>(throttle.DelayAfter(1000)).count());
}

TEST(LoginThrottle, AKnownPlaceHasItsOwnDelayAndAnAddressItsOwnLimit) {
  app::TLoginThrottle throttle;
  const auto t0 = TThrottleClock::time_point{} + std::chrono::hours(1);
  throttle.Succeeded("10.0.0.1", "ana", false);
  for (int i = 0; i < 5; ++i) throttle.Failed("10.0.0.1", "ana", true, t0);  // her own typos
  EXPECT_EQ(TVerdict::Wait, throttle.Before("10.0.0.1", "ana", true, false, t0 + 1s));
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.7.0.1", "ana", false, false, t0 + 1s));
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.0.0.1", "ana", true, false, t0 + 5s));
  // A success clears her counts.
  throttle.Succeeded("10.0.0.1", "ana", true);
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.0.0.1", "ana", true, false, t0 + 1s));

  // Twenty failures from one address within a minute, over as many logins: that address waits
  // for the rest of the minute, for every login; the others do not.
  for (int i = 0; i < 20; ++i) throttle.Failed("10.5.5.5", std::to_string(i), false, t0);
  EXPECT_EQ(TVerdict::Wait, throttle.Before("10.5.5.5", "ana", true, false, t0 + 59s));
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.5.5.6", "y", false, false, t0 + 59s));
  EXPECT_EQ(TVerdict::Check, throttle.Before("10.5.5.5", "ana", true, false, t0 + 61s));
}

TEST(LoginThrottle, AFloodOfDistinctLoginsDoesNotUnlockALockedOne) {
  app::TLoginThrottle::TOptions options;
  options.MaxEntries = 50;
  options.MaxFailures = 5;
  app::TLoginThrottle throttle(options);
  const auto t0 = TThrottleClock::time_point{} + std::chrono::hours(1);
  // Built by appending: GCC 12 at -O3 sees a false overlap in "x" + std::to_string(i).
  auto numbered = [](std::string head, int number) { return head += std::to_string(number); };
  for (int i = 0; i < 5; ++i) throttle.Failed(numbered("10.0.0.", i), "alvo", false, t0);
  for (int i = 0; i < 1000; ++i)
    throttle.Failed(numbered(numbered("10.1.", i / 250) + ".", i % 250), numbered("x", i), false,
                    t0 + 1s);
  EXPECT_EQ(TVerdict::KnownPlacesOnly, throttle.Before("10.9.9.9", "alvo", false, false, t0 + 2s));
}

}  // namespace
}  // namespace testing_app
