// The PostgreSQL engine's own behaviour: what a call may do there, how long it may take, how
// lists travel, and what the server does when the database is not there, goes away, or stops
// answering. The database's absence is played by a proxy in front of the shared cluster.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "app_server/db/database.h"
#include "app_server/db/iso_date.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"
#include "tests/app_server/tcp_proxy.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;
using TClock = std::chrono::steady_clock;

std::vector<std::string> Texts(app::IConnection& connection, const char* sql,
                               const app::TNamedParams& params = {}) {
  std::vector<std::string> values;
  connection.Query(sql, params, 1, 5000, [&](const app::IRow& row) {
    values.emplace_back(row.IsNull(0) ? "<null>" : std::string(row.Text(0)));
    return true;
  });
  return values;
}

std::string FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& failure) {
    return failure.what();
  }
  return "(no failure)";
}

double DayOf(const std::string& iso) {
  return *app::IsoTextToDays(iso);
}

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

TEST(PostgresEngine, EveryStatementRunsInAReadOnlyTransaction) {
  auto connection = app::OpenPostgres(Demo().Postgres->Conninfo());
  for (const char* write :
       {"INSERT INTO FILIAL (CDFILIAL, NMFILIAL) VALUES ('9999', 'x') RETURNING CDFILIAL",
        "DELETE FROM PRODUTO RETURNING CDPRODUTO", "CREATE TABLE X AS SELECT 1 AS A RETURNING A"}) {
    const std::string failure = FailureOf([&] { Texts(*connection, write); });
    EXPECT_NE(std::string::npos, failure.find("Falha no banco de dados")) << failure;
  }
  EXPECT_EQ(std::vector<std::string>{"on"},
            Texts(*connection, "SELECT current_setting('transaction_read_only')"));
  EXPECT_EQ(ServedValue("SELECT COUNT(*) FROM PRODUTO"), "42");
  // The settings are the statement's transaction's: a session of its own sees none of them.
  EXPECT_EQ("off", Demo().Postgres->Query("SHOW transaction_read_only")[0][0]);
}

TEST(PostgresEngine, TheQueryTimeLimit_IsTheStatementTimeout) {
  auto connection = app::OpenPostgres(Demo().Postgres->Conninfo());
  const auto started = TClock::now();
  try {
    connection->Query("SELECT pg_sleep(10)::text", {}, 1, 1000,
                      [](const app::IRow&) { return true; });
    ADD_FAILURE() << "the query ran past its limit";
  } catch (const app::EQueryTimeout& timeout) {
    EXPECT_STREQ("A consulta excedeu o tempo limite de 1 s.", timeout.what());
  }
  EXPECT_LT(SecondsSince(started), 3.0);
  // The connection goes on serving, with the limit of each call.
  std::vector<std::string> limit;
  connection->Query("SELECT current_setting('statement_timeout')", {}, 1, 1234,
                    [&](const app::IRow& row) {
                      limit.emplace_back(row.Text(0));
                      return true;
                    });
  EXPECT_EQ(std::vector<std::string>{"1234ms"}, limit);
}

TEST(PostgresEngine, ParametersTravelAsTypedValuesNeverAsSql) {
  auto connection = app::OpenPostgres(Demo().Postgres->Conninfo());
  // A list is one text[]: codes with the array literal's own characters come back as they went.
  const std::vector<std::string> codes = {"a\"b", "c\\d", "{x}", "NULL", "", "B'2", ",", " e "};
  auto sorted = codes;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted,
            Texts(*connection, "SELECT x FROM unnest(:l::text[]) AS x ORDER BY x COLLATE \"C\"",
                  {{"l", app::TParam::FromCodes(codes)}}));
  EXPECT_TRUE(Texts(*connection, "SELECT x FROM unnest(:l::text[]) AS x",
                    {{"l", app::TParam::FromCodes({})}})
                  .empty());
  // A name in quotes is text, not a parameter; one name used twice is one parameter.
  EXPECT_EQ(std::vector<std::string>{"':x' 7 7"},
            Texts(*connection, "SELECT ''':x'' ' || :x || ' ' || :x", {{"x", "7"}}));
  // Days are timestamps, up to the day after 31/12/9999.
  EXPECT_EQ((std::vector<std::string>{"2024-04-20 00:00:00"}),
            Texts(*connection, "SELECT (:d)::text", {{"d", app::TParam::FromDay(45402)}}));
  EXPECT_EQ((std::vector<std::string>{"10000-01-01 00:00:00"}),
            Texts(*connection, "SELECT (:d)::text", {{"d", app::TParam::FromDay(2958466)}}));
  // A parameter the statement names and the call does not give is an error, not a null.
  EXPECT_NE(std::string::npos,
            FailureOf([&] { Texts(*connection, "SELECT :missing", {}); }).find(":missing"));
}

// How a call reads its account's scope and its answer together: one exchange, the answer's
// rows kept only when the scope read says so.
TEST(PostgresEngine, TwoStatementsSentTogether_TheSecondsRowsOnlyWhenTheFirstSaysSo) {
  auto connection = app::OpenPostgres(Demo().Postgres->Conninfo());
  const app::TNamedParams none;
  std::vector<std::string> seen;
  const auto collect = [&](const char* tag) {
    return [&seen, tag](const app::IRow& row) {
      seen.push_back(std::string(tag) + std::string(row.Text(0)));
      return true;
    };
  };
  const auto run = [&](const char* first, const char* second, bool go) {
    seen.clear();
    connection->QueryThen(
        {first, none, 1, collect("1:")},
        [&] {
          seen.emplace_back("proceed?");
          return go;
        },
        {second, none, 1, collect("2:")}, 5000);
  };
  const char* const kThree = "SELECT x::text FROM generate_series(1, 3) AS x";
  const char* const kNow = "SELECT now()::text";

  run(kThree, kThree, true);
  EXPECT_EQ((std::vector<std::string>{"1:1", "1:2", "1:3", "proceed?", "2:1", "2:2", "2:3"}), seen);
  run(kThree, kThree, false);
  EXPECT_EQ((std::vector<std::string>{"1:1", "1:2", "1:3", "proceed?"}), seen);
  // Both in one transaction: sent together, not one after the other's answer.
  run(kNow, kNow, true);
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(seen[0].substr(2), seen[2].substr(2));

  // The second's failure counts only when its rows are wanted.
  const char* const kFails = "SELECT (1 / (x - 2))::text FROM generate_series(1, 3) AS x";
  EXPECT_NE(std::string::npos,
            FailureOf([&] { run(kThree, kFails, true); }).find("Falha no banco de dados"));
  EXPECT_EQ("(no failure)", FailureOf([&] { run(kThree, kFails, false); }));
  // The first's failure: no question, no rows of the second.
  EXPECT_NE(std::string::npos,
            FailureOf([&] { run(kFails, kThree, true); }).find("Falha no banco de dados"));
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "proceed?"), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "2:1"), seen.end());
  // The connection goes on serving after each.
  EXPECT_EQ(std::vector<std::string>{"1"}, Texts(*connection, "SELECT 1::text"));
}

TEST(PostgresEngine, ADatabaseThatIsNotThereAtStart_EndsTheServerWithAMessage) {
  TTempDir dir;
  TTcpProxy closed(PostgresSocketPath());
  closed.Down();
  const std::string target = "host=127.0.0.1 port=" + std::to_string(closed.Port()) +
                             " user=postgres dbname=" + Demo().Postgres->Name();
  const auto started = TClock::now();
  EXPECT_EQ(1, RunAppServer({"--db", target, "--listen", "127.0.0.1:0"}, dir.Path() + "/a.log"));
  EXPECT_LT(SecondsSince(started), 5.0);
  std::ifstream file(dir.Path() + "/a.log");
  std::stringstream log;
  log << file.rdbuf();
  EXPECT_NE(std::string::npos,
            log.str().find("app-server: Falha no banco de dados: não foi possível conectar ao "
                           "PostgreSQL em 127.0.0.1:" +
                           std::to_string(closed.Port()) + "/" + Demo().Postgres->Name()))
      << log.str();

  // A database without the service's tables is refused as well.
  TPostgresDatabase empty;
  EXPECT_EQ(1, RunAppServer({"--db", empty.Conninfo(), "--listen", "127.0.0.1:0"},
                            dir.Path() + "/b.log"));
  std::ifstream second(dir.Path() + "/b.log");
  std::stringstream text;
  text << second.rdbuf();
  EXPECT_NE(std::string::npos, text.str().find("solicitacao")) << text.str();
}

// A server in front of the shared demo database, reached through a proxy the test controls.
struct TBehindProxy {
  TTcpProxy Proxy{PostgresSocketPath()};
  TTempDir Dir;
  std::unique_ptr<TServerProcess> Server;

  explicit TBehindProxy(std::vector<std::string> extra = {}) {
    const std::string target = "host=127.0.0.1 port=" + std::to_string(Proxy.Port()) +
                               " user=postgres dbname=" + Demo().Postgres->Name();
    extra.insert(extra.end(), {"--workers", "2"});
    Server = std::make_unique<TServerProcess>(target, Dir.Path() + "/server.log", extra);
  }
};

// One call of each kind: a look-up by key (on the connection's thread) and a search (on the
// query pool).
void ExpectBothKindsAnswer(fw::TTcpAppServer& client) {
  auto branches = Args("GetFilSoli");
  EXPECT_EQ(6u, client.Invoke("GetFilSoli", branches).Data.RowCount());
  auto items = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")}});
  EXPECT_GT(client.Invoke("GetItens", items).Data.RowCount(), 0u);
}

TEST(PostgresEngine, TheDatabaseGoingAway_FailsCallsAtOnceAndTheServerReconnectsByItself) {
  TBehindProxy setup;
  auto client = Client(setup.Server->Port());
  client.Connect();  // logged in while the database is there: no login can be checked without
  // Several connections in the pool, all of them used.
  std::vector<std::thread> warm;
  for (int i = 0; i < 4; ++i)
    warm.emplace_back([&] {
      auto own = Client(setup.Server->Port());
      ExpectBothKindsAnswer(own);
    });
  for (auto& thread : warm) thread.join();

  setup.Proxy.Down();
  for (const char* method : {"GetFilSoli", "GetItens"}) {
    for (int i = 0; i < 3; ++i) {
      const auto started = TClock::now();
      auto args = Args(method, {{"cdFilial", TRemoteArg::FromString("0001")}});
      const std::string failure = FailureOf([&] { client.Invoke(method, args); });
      EXPECT_EQ(0u, failure.find("Falha no banco de dados: ")) << failure;
      EXPECT_LT(SecondsSince(started), 3.0) << method;
    }
  }
  EXPECT_TRUE(setup.Server->Running());

  // Back: the next calls work, on every pooled connection, with nothing done by anyone.
  setup.Proxy.Up();
  for (int i = 0; i < 6; ++i) ExpectBothKindsAnswer(client);
  std::vector<std::thread> again;
  for (int i = 0; i < 4; ++i)
    again.emplace_back([&] {
      auto own = Client(setup.Server->Port());
      ExpectBothKindsAnswer(own);
    });
  for (auto& thread : again) thread.join();
}

// While the database is down, four clients calling without pause make a handful of connection
// attempts, one at a time and spaced, not one each at once; every call fails with the reason
// after at most the wait for the next attempt (and a turn in the queue: two query threads, four
// callers); and the first call after the database is back works after at most that wait.
TEST(PostgresEngine, WhileTheDatabaseIsDown_AttemptsAreSpacedAndTheFirstCallAfterWorks) {
  TBehindProxy setup;
  auto client = Client(setup.Server->Port());
  client.Connect();
  ExpectBothKindsAnswer(client);
  std::vector<std::unique_ptr<fw::TTcpAppServer>> own;  // logged in while the database is up
  for (int i = 0; i < 4; ++i) {
    own.push_back(std::make_unique<fw::TTcpAppServer>(
        "127.0.0.1", setup.Server->Port(), service::kServerName,
        fw::TTcpAppServer::TOptions{3000, 10000, false, {}}, DemoLogin()));
    own.back()->Connect();
  }
  setup.Proxy.Down();
  std::atomic<int> calls{0}, slow{0};
  std::vector<std::string> failures;
  std::mutex mutex;
  std::vector<std::thread> callers;
  const auto until = TClock::now() + std::chrono::seconds(3);
  for (int i = 0; i < 4; ++i)
    callers.emplace_back([&, i] {
      while (TClock::now() < until) {
        const auto started = TClock::now();
        auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")}});
        const std::string failure = FailureOf([&] { own[i]->Invoke("GetItens", args); });
        ++calls;
        if (SecondsSince(started) > 1.5) ++slow;
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(failure);
      }
    });
  for (auto& thread : callers) thread.join();
  for (const auto& failure : failures)
    EXPECT_EQ(0u, failure.find("Falha no banco de dados: ")) << failure;
  EXPECT_EQ(0, slow.load());
  setup.Proxy.Up();
  const auto back = TClock::now();
  auto branches = Args("GetFilSoli");
  EXPECT_EQ(6u, client.Invoke("GetFilSoli", branches).Data.RowCount());
  const double firstCall = SecondsSince(back);
  EXPECT_LT(firstCall, 1.5);
  ExpectBothKindsAnswer(client);
  EXPECT_EQ(0, setup.Server->Stop());
  const std::string log = setup.Server->Log();
  size_t attempts = 0;
  for (size_t at = log.find("próxima tentativa em"); at != std::string::npos;
       at = log.find("próxima tentativa em", at + 1))
    ++attempts;
  // 100, 200, 400, 800 ms, then every second: some seven in three seconds.
  EXPECT_GE(attempts, 3u) << log;
  EXPECT_LE(attempts, 9u) << log;
  EXPECT_GE(calls.load(), static_cast<int>(attempts));
  EXPECT_NE(std::string::npos, log.find("conexão com o PostgreSQL restabelecida")) << log;
  std::printf("database down 3 s: %d calls, %zu connection attempts; first call after: %.0f ms\n",
              calls.load(), attempts, firstCall * 1000);
}

TEST(PostgresEngine, ARestartOfTheDatabase_IsNotSeenByTheNextCalls) {
  // Connections idle in the pool find the database restarted only when next used; a call that
  // finds its connection closed runs again on a new one.
  TBehindProxy setup;
  auto client = Client(setup.Server->Port());
  ExpectBothKindsAnswer(client);
  setup.Proxy.Down();
  setup.Proxy.Up();
  for (int i = 0; i < 4; ++i) ExpectBothKindsAnswer(client);
}

TEST(PostgresEngine, ADatabaseThatStopsAnswering_FailsTheCallAfterTheLimitNotNever) {
  TBehindProxy setup({"--query-timeout", "1"});
  auto client = Client(setup.Server->Port(), 30000);
  ExpectBothKindsAnswer(client);
  setup.Proxy.Stall();
  const auto started = TClock::now();
  auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")}});
  const std::string failure = FailureOf([&] { client.Invoke("GetItens", args); });
  const double waited = SecondsSince(started);
  EXPECT_NE(std::string::npos, failure.find("Falha no banco de dados: o PostgreSQL não respondeu"))
      << failure;
  EXPECT_GT(waited, 1.0);
  EXPECT_LT(waited, 10.0);
  setup.Proxy.Up();
  ExpectBothKindsAnswer(client);
}

// pgbouncer in transaction mode (Debian's 1.18 keeps no prepared statement with the client):
// two servers with four workers each share two server connections, so each call may land on a
// server connection where another client's statements are, and its own are not. Every answer
// must be the one the server straight on the database gives.
TEST(PostgresEngine, BehindAPoolerInTransactionMode_EveryCallGetsTheRightAnswer) {
  TPgBouncer bouncer(2);
  const std::string target = bouncer.Conninfo(Demo().Postgres->Name());
  TTempDir dir;
  TServerProcess first(target, dir.Path() + "/first.log", {"--workers", "4"});
  TServerProcess second(target, dir.Path() + "/second.log", {"--workers", "4"});

  // One call of each method with rows, and then some, with their answers from the server
  // straight on the database.
  const auto key =
      Sql("SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.CDDESTSOLI, I.NRCOMPRA, I.CDPRODUTO, "
          "I.NRCOLEPRECO, I.DTPROGENTR FROM ITEMSOLICITACAO I JOIN SOLICITACAO S USING (CDFILLAN, "
          "NRSOLICMP) WHERE I.STATUS = '2' ORDER BY S.NRSOLICMP LIMIT 1")[0];
  std::vector<std::string> requests;
  std::vector<std::pair<std::string, std::vector<TRemoteArg>>> calls = {
      {"GetFilSoli", Args("GetFilSoli")},
      {"GetNrSolicita", Args("GetNrSolicita", {{"stLFilSoli", TRemoteArg::FromInOut("'0002'")},
                                               {"stTFilSoli", TRemoteArg::FromInOut("")}})},
      {"GetFilSoliGD", Args("GetFilSoliGD")},
      {"GetDestSolGere", Args("GetDestSolGere", {{"nrSoliCmp", TRemoteArg::FromString(key[1])},
                                                 {"cdFilial", TRemoteArg::FromString(key[0])},
                                                 {"cdFilLan", TRemoteArg::FromString(key[2])},
                                                 {"cdDestSoli", TRemoteArg::FromString(key[3])}})},
      {"GetItemProduto",
       Args("GetItemProduto", {{"cdFilial", TRemoteArg::FromString(key[0])},
                               {"nrSoliCmp", TRemoteArg::FromString(key[1])},
                               {"cdFilLan", TRemoteArg::FromString(key[2])},
                               {"nrCompra", TRemoteArg::FromString(key[4])},
                               {"dtProgEntr", TRemoteArg::FromDate(DayOf(key[7]))}})},
      {"GetItemCota", Args("GetItemCota", {{"cdFilial", TRemoteArg::FromString(key[0])},
                                           {"cdProduto", TRemoteArg::FromString(key[5])},
                                           {"nrColePreco", TRemoteArg::FromString(key[6])}})},
  };
  for (const char* branch : {"0001", "0002", "0003", "0004", "0005", "0006"})
    calls.push_back({"GetItens", Args("GetItens", {{"cdFilial", TRemoteArg::FromString(branch)}})});
  std::vector<std::string> requestBytes, expected;
  TRawClient straight(Demo().Server->Port());
  straight.Login();
  for (size_t i = 0; i < calls.size(); ++i) {
    requestBytes.push_back(
        RequestBytes(static_cast<uint32_t>(i + 1), Full(calls[i].first), calls[i].second));
    straight.Send(requestBytes.back());
    expected.push_back(straight.ReadBytes());
  }

  std::atomic<int> wrong{0}, right{0};
  std::mutex mutex;
  std::string firstWrong;
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c)
    clients.emplace_back([&, c] {
      TRawClient client(c % 2 == 0 ? first.Port() : second.Port());
      client.Login();
      for (int round = 0; round < 30; ++round) {
        const size_t i = static_cast<size_t>(c + round * 5) % calls.size();
        client.Send(requestBytes[i]);
        const std::string answer = client.ReadBytes(10000);
        if (answer == expected[i]) {
          ++right;
          continue;
        }
        ++wrong;
        std::lock_guard<std::mutex> lock(mutex);
        if (firstWrong.empty()) {
          const auto reply = fw::wire::DecodeReply(answer);
          firstWrong = calls[i].first + ": " +
                       (reply.Failed ? reply.ErrorMessage
                                     : std::to_string(reply.Result.Data.RowCount()) + " rows");
        }
      }
    });
  for (auto& thread : clients) thread.join();
  EXPECT_EQ(0, wrong.load()) << firstWrong;
  EXPECT_EQ(240, right.load());
}

}  // namespace
}  // namespace testing_app
