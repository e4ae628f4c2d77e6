// The server against what its site does to it: the database file truncated, overwritten,
// replaced or removed while it serves; the descriptor limit; clients that forge or flood the
// log; clients that try to make it hold more than its limits. Each case runs its own app-server
// on its own copy of a demo database.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "protocol/report_contract.h"
#include "tests/app_server/fixture.h"
#include "tests/app_server/metrics_client.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;
using fw::wire::TWireWriter;
using namespace std::chrono_literals;

// GetNrSolicita with every flag "T" returns one row per request number: 80 per unit of scale,
// which tells the demo databases of scale 1 and 2 apart.
size_t RequestNumbers(fw::TTcpAppServer& client) {
  auto args = Args("GetNrSolicita");
  return client.Invoke("GetNrSolicita", args).Data.RowCount();
}

size_t RequestNumbersIn(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT COUNT(DISTINCT NRSOLICMP) FROM SOLICITACAO", -1, &statement,
                     nullptr);
  size_t count = 0;
  if (sqlite3_step(statement) == SQLITE_ROW)
    count = static_cast<size_t>(sqlite3_column_int64(statement, 0));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

// What a set of clients got: data answers by row count, and error messages.
struct TOutcomes {
  std::mutex Mutex;
  std::map<size_t, int> Rows;
  std::vector<std::string> Errors;

  void Call(fw::TTcpAppServer& client) {
    try {
      const size_t rows = RequestNumbers(client);
      std::lock_guard<std::mutex> lock(Mutex);
      ++Rows[rows];
    } catch (const fw::ERemoteError& error) {
      std::lock_guard<std::mutex> lock(Mutex);
      Errors.emplace_back(error.what());
    }
  }
  int DataAnswers() {
    int total = 0;
    for (const auto& [rows, count] : Rows) total += count;
    return total;
  }
};

// `threads` clients at once, `calls` calls each.
void RunClients(int port, int threads, int calls, TOutcomes& outcomes) {
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t)
    running.emplace_back([&] {
      auto client = Client(port);
      for (int i = 0; i < calls; ++i) outcomes.Call(client);
    });
  for (auto& thread : running) thread.join();
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80         ? 1
                    : (byte >> 5) == 6  ? 2
                    : (byte >> 4) == 14 ? 3
                    : (byte >> 3) == 30 ? 4
                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

struct TDatabases {
  TTempDir Dir;
  std::string Small = Dir.Path() + "/small.db";  // scale 1
  std::string Large = Dir.Path() + "/large.db";  // scale 2
  std::string Served = Dir.Path() + "/served.db";
  size_t SmallRows = 0, LargeRows = 0;

  TDatabases() {
    MakeDemo(Small, 7, 1);
    MakeDemo(Large, 7, 2);
    CopyInPlace(Small, Served);
    SmallRows = RequestNumbersIn(Small);
    LargeRows = RequestNumbersIn(Large);
  }
  std::string Log(const std::string& name) const { return Dir.Path() + "/" + name + ".log"; }
};

TEST(DatabaseFile, TruncatedOrOverwrittenWhileServed_CallsFailClearlyOrReadOneWholeFile) {
  TDatabases dbs;
  ASSERT_NE(dbs.SmallRows, dbs.LargeRows);
  TServerProcess server(dbs.Served, dbs.Log("server"), {"--workers", "2"});
  std::atomic<bool> stop{false};
  TOutcomes outcomes;
  std::vector<std::thread> clients;
  for (int i = 0; i < 3; ++i)
    clients.emplace_back([&] {
      auto client = Client(server.Port());
      while (!stop) outcomes.Call(client);
    });
  const auto size = std::filesystem::file_size(dbs.Small);
  for (int round = 0; round < 6; ++round) {
    std::this_thread::sleep_for(40ms);
    ASSERT_EQ(0, ::truncate(dbs.Served.c_str(), static_cast<off_t>(size / 2)));
    std::this_thread::sleep_for(40ms);
    ASSERT_EQ(0, ::truncate(dbs.Served.c_str(), 0));
    std::this_thread::sleep_for(40ms);
    CopyInPlace(round % 2 == 0 ? dbs.Large : dbs.Small, dbs.Served);
  }
  std::this_thread::sleep_for(40ms);
  stop = true;
  for (auto& thread : clients) thread.join();

  ASSERT_TRUE(server.Running()) << server.Log();
  for (const auto& [rows, count] : outcomes.Rows)
    EXPECT_TRUE(rows == dbs.SmallRows || rows == dbs.LargeRows) << count << " answers of " << rows;
  for (const auto& message : outcomes.Errors) {
    EXPECT_NE(std::string::npos, message.find("banco de dados")) << message;
    EXPECT_EQ(std::string::npos, message.find(dbs.Dir.Path())) << message;
  }
  EXPECT_GT(outcomes.DataAnswers(), 0);
  // Whole again, the file is served as it now is.
  CopyInPlace(dbs.Small, dbs.Served);
  auto client = Client(server.Port());
  EXPECT_EQ(dbs.SmallRows, RequestNumbers(client));
}

TEST(DatabaseFile, ReplacedByRenameOrRemoved_EveryLaterCallReadsWhatIsNowAtThePath) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"), {"--workers", "4"});
  {
    TOutcomes warm;  // several pooled connections, all on the first file
    RunClients(server.Port(), 8, 20, warm);
    EXPECT_EQ(160, warm.Rows[dbs.SmallRows]);
  }

  std::filesystem::rename(dbs.Large, dbs.Served);  // as `mv` and --init-demo replace a file
  TOutcomes replaced;
  RunClients(server.Port(), 8, 80, replaced);
  EXPECT_EQ(640, replaced.Rows[dbs.LargeRows])
      << replaced.Rows[dbs.SmallRows] << " from the old file";
  EXPECT_TRUE(replaced.Errors.empty()) << replaced.Errors.front();

  std::filesystem::remove(dbs.Served);
  TOutcomes removed;
  RunClients(server.Port(), 4, 10, removed);
  EXPECT_EQ(0, removed.DataAnswers()) << "answered from a removed file";
  ASSERT_EQ(40u, removed.Errors.size());
  for (const auto& message : removed.Errors) {
    EXPECT_NE(std::string::npos, message.find("banco de dados")) << message;
    EXPECT_EQ(std::string::npos, message.find(dbs.Dir.Path())) << message;
  }

  const std::string back = dbs.Dir.Path() + "/back.db";
  CopyInPlace(dbs.Small, back);
  std::filesystem::rename(back, dbs.Served);
  TOutcomes restored;
  RunClients(server.Port(), 4, 10, restored);
  EXPECT_EQ(40, restored.Rows[dbs.SmallRows]);
}

// What the issue saw: 200 connections at a descriptor limit of 64, with the default connection
// limit and with --max-connections 1000 (lowered to what the descriptors allow); then the limit
// lowered under the server's feet, so that accepting runs out of descriptors for real. Each time:
// no busy loop, a log of a few lines, the existing connection served, and new ones once
// descriptors are free again.
TEST(DescriptorLimit, ManyConnectionsAtTheLimit_NoBusyLoopExistingOnesServedThenRecovers) {
  TDatabases dbs;
  enum TCase { kDefault, kAsked1000, kLoweredUnderIt };
  for (const TCase which : {kDefault, kAsked1000, kLoweredUnderIt}) {
    SCOPED_TRACE(which == kDefault ? "default" : which == kAsked1000 ? "1000" : "lowered");
    std::vector<std::string> options = {"--workers", "2"};
    if (which == kAsked1000) options.insert(options.end(), {"--max-connections", "1000"});
    TServerProcess server(dbs.Served, dbs.Log("limit" + std::to_string(which)), options,
                          which == kLoweredUnderIt ? 0 : 64);
    auto client = Client(server.Port());
    ASSERT_EQ(dbs.SmallRows, RequestNumbers(client));
    if (which == kLoweredUnderIt) server.SetDescriptorLimit(server.OpenDescriptors() + 4);

    std::vector<std::unique_ptr<TRawClient>> flood;
    for (int i = 0; i < 200; ++i) flood.push_back(std::make_unique<TRawClient>(server.Port()));
    std::this_thread::sleep_for(300ms);

    const double cpuBefore = CpuSeconds(server.Pid());
    const size_t logBefore = server.LogSize();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(dbs.SmallRows, RequestNumbers(client));
      std::this_thread::sleep_for(100ms);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpu = CpuSeconds(server.Pid()) - cpuBefore;
    EXPECT_LT(cpu, 0.25 * elapsed) << "the server spins";
    EXPECT_LT(server.LogSize() - logBefore, 4096u) << server.Log().substr(0, 2000);

    flood.clear();  // descriptors free up
    std::this_thread::sleep_for(500ms);
    // A refused connection says whether the server was still there, and what it had logged.
    try {
      auto fresh = Client(server.Port());
      EXPECT_EQ(dbs.SmallRows, RequestNumbers(fresh));
    } catch (const std::exception& failure) {
      FAIL() << failure.what() << (server.Running() ? " (server running, " : " (server gone, ")
             << server.OpenDescriptors() << " descriptors open)\n"
             << server.Log();
    }
    EXPECT_EQ(0, server.Stop());
    if (which == kLoweredUnderIt) {
      EXPECT_NE(std::string::npos, server.Log().find("falha ao aceitar conexões"));
    }
  }
}

TEST(Log, ClientTextIsEscapedAndCapped_ErrorTextsAreUtf8AndShowNoPath) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"));
  TRawClient raw(server.Port());
  raw.Login();

  // A method name that would forge a line of its own.
  raw.Send(RequestBytes(1, Full("X\n2024-01-01 00:00:00.000 127.0.0.1:1 linha forjada"), {}));
  EXPECT_TRUE(raw.Read().Failed);
  // Bytes that are not UTF-8, and control characters.
  for (const std::string& method :
       {std::string("Obj\xff\xfe\x01.Met\xc3"), Full("Get\xe2\x82"), std::string("\x1b[31m.x")}) {
    raw.Send(RequestBytes(2, method, {}));
    const auto reply = raw.Read();
    EXPECT_TRUE(reply.Failed);
    EXPECT_TRUE(IsValidUtf8(reply.ErrorMessage)) << reply.ErrorMessage;
    EXPECT_EQ(std::string::npos, reply.ErrorMessage.find('\x1b'));
  }
  // A 64 KiB unknown method, many times: neither the answer nor the log quotes it whole.
  std::this_thread::sleep_for(300ms);
  const size_t logBefore = server.LogSize();
  const std::string huge = Full(std::string(64 * 1024 - 40, 'M'));
  for (int i = 0; i < 50; ++i) {
    raw.Send(RequestBytes(3, huge, {}));
    const auto reply = raw.Read();
    EXPECT_TRUE(reply.Failed);
    EXPECT_LT(reply.ErrorMessage.size(), 1024u);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(server.LogSize() - logBefore, 50u * 1024u);

  // A database failure names no file of the server.
  std::filesystem::remove(dbs.Served);
  auto client = Client(server.Port());
  try {
    RequestNumbers(client);
    ADD_FAILURE() << "answered from a removed file";
  } catch (const fw::ERemoteError& error) {
    EXPECT_EQ(std::string::npos, std::string(error.what()).find(dbs.Dir.Path())) << error.what();
  }

  EXPECT_EQ(0, server.Stop());
  std::istringstream log(server.Log());
  std::string line;
  bool escaped = false;
  while (std::getline(log, line)) {
    EXPECT_NE(0u, line.rfind("2024-01-01 00:00:00.000 127.0.0.1:1", 0)) << "forged: " << line;
    EXPECT_TRUE(IsValidUtf8(line)) << line;
    EXPECT_EQ(std::string::npos, line.find('\x1b')) << line;
    if (line.find("X\\n2024-01-01") != std::string::npos) escaped = true;
  }
  EXPECT_TRUE(escaped) << server.Log();
}

TEST(Limits, ConnectionsPastTheTotalOrPerAddress_AreRefusedWithAMessage) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"),
                        {"--max-connections", "4", "--max-connections-per-address", "3"});
  auto refused = [&](const char* source, const char* expected) {
    TRawClient raw(server.Port(), source);
    raw.Send(RequestBytes(9, Full("GetFilSoli"), {}));
    const auto reply = raw.Read();
    EXPECT_EQ(9u, reply.MsgId);
    EXPECT_NE(std::string::npos, reply.ErrorMessage.find(expected)) << reply.ErrorMessage;
    EXPECT_TRUE(raw.ClosedByServer(3000));
  };
  auto served = [&](TRawClient& raw) {
    raw.Login();
    raw.Send(RequestBytes(8, Full("GetFilSoli"), {}));
    const auto reply = raw.Read();
    EXPECT_FALSE(reply.Failed) << reply.ErrorMessage;
  };

  std::vector<std::unique_ptr<TRawClient>> open;
  for (int i = 0; i < 3; ++i) {
    open.push_back(std::make_unique<TRawClient>(server.Port()));
    served(*open.back());
  }
  refused(nullptr, "limite de 3 conexões por endereço");
  open.push_back(std::make_unique<TRawClient>(server.Port(), "127.0.0.2"));
  served(*open.back());
  refused("127.0.0.3", "limite de 4 conexões");

  open.erase(open.begin());  // one closes: room for another
  std::this_thread::sleep_for(200ms);
  open.push_back(std::make_unique<TRawClient>(server.Port()));
  served(*open.back());
}

TEST(Limits, UnfinishedRequestsPastTheByteBudget_AreRefusedAndTheOthersGoOn) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"), {"--max-pending-mib", "8"});
  // A GetItemCota whose first string claims 6 MiB; 5 MiB of it sent, the rest later.
  auto head = [](uint32_t msgid) {
    std::string bytes = RequestBytes(msgid, Full("GetItemCota"), 3, [](TWireWriter&) {});
    bytes += std::string("\xdb\x00\x60\x00\x00", 5);
    return bytes;
  };
  const std::string part(5u * 1024 * 1024, '0');
  TRawClient first(server.Port());
  first.Login();
  first.Send(head(1) + part);
  ASSERT_TRUE(first.WaitUntilReadByServer());
  TRawClient second(server.Port());
  second.Login();
  second.SendUntilRefused(head(2) + part);
  const auto refusal = second.Read();
  EXPECT_EQ(2u, refusal.MsgId);
  EXPECT_NE(std::string::npos, refusal.ErrorMessage.find("tente novamente em instantes"))
      << refusal.ErrorMessage;
  EXPECT_TRUE(second.ClosedByServer(3000));

  // The first one, within the budget, completes and is answered.
  std::string rest(1024 * 1024, '0');
  TWireWriter writer(rest);
  writer.Str("1");
  writer.Str("1");
  first.Send(rest);
  const auto answer = first.Read();
  EXPECT_EQ(1u, answer.MsgId);
  EXPECT_NE(std::string::npos, answer.ErrorMessage.find("excede o limite de 64 KiB"));
  auto client = Client(server.Port());
  EXPECT_EQ(dbs.SmallRows, RequestNumbers(client));
}

std::string CodeList(size_t count) {
  std::string list;
  for (size_t i = 0; i < count; ++i) list += (i ? ",'" : "'") + std::to_string(i) + "'";
  return list;
}

TEST(Limits, SelectionListsPastTheCodeLimit_AreRefused) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"), {"--max-selection-codes", "1000"});
  auto client = Client(server.Port());
  auto items = Args("GetItens", {{"stLSolicita", TRemoteArg::FromInOut(CodeList(1000))},
                                 {"stTSolicita", TRemoteArg::FromInOut("")}});
  EXPECT_FALSE(client.Invoke("GetItens", items).Refused);
  items[7] = TRemoteArg::FromInOut(CodeList(1001));
  const auto result = client.Invoke("GetItens", items);
  ASSERT_TRUE(result.Refused);
  EXPECT_NE(std::string::npos, result.RefusalMessage.find("o limite é 1000"))
      << result.RefusalMessage;
  auto branches = Args("GetNrSolicita", {{"stLFilSoli", TRemoteArg::FromInOut(CodeList(5000))},
                                         {"stTFilSoli", TRemoteArg::FromInOut("")}});
  EXPECT_TRUE(client.Invoke("GetNrSolicita", branches).Refused);
  // With its flag "T" a list is not read, however long.
  branches[7] = TRemoteArg::FromInOut("T");
  EXPECT_FALSE(client.Invoke("GetNrSolicita", branches).Refused);

  // The report's object keeps the same limit on both its lists.
  fw::TTcpAppServer report("127.0.0.1", server.Port(), service::kReportServerName, {3000, 20000},
                           DemoLogin());
  std::vector<TRemoteArg> reportArgs = {
      TRemoteArg::FromDate(0),     TRemoteArg::FromDate(80000),
      TRemoteArg::FromString(""),  TRemoteArg::FromString(CodeList(1000)),
      TRemoteArg::FromString("T"), TRemoteArg::FromString("")};
  EXPECT_FALSE(report.Invoke(service::kReportMethodName, reportArgs).Refused);
  reportArgs[3] = TRemoteArg::FromString(CodeList(1001));
  auto refused = report.Invoke(service::kReportMethodName, reportArgs);
  ASSERT_TRUE(refused.Refused);
  EXPECT_EQ(
      "A lista de filiais selecionadas tem 1001 códigos; o limite é 1000. Restrinja a seleção.",
      refused.RefusalMessage);
  reportArgs[3] = TRemoteArg::FromString("");
  reportArgs[4] = TRemoteArg::FromString("");
  reportArgs[5] = TRemoteArg::FromString(CodeList(2000));
  refused = report.Invoke(service::kReportMethodName, reportArgs);
  ASSERT_TRUE(refused.Refused);
  EXPECT_NE(std::string::npos, refused.RefusalMessage.find("A lista de situações selecionadas tem"))
      << refused.RefusalMessage;
}

TEST(Limits, QueryJobsPastTheQueue_AreAnsweredBusyAtOnce) {
  TDatabases dbs;
  TServerProcess server(dbs.Served, dbs.Log("server"),
                        {"--workers", "1", "--max-queued-queries", "1", "--max-selection-codes",
                         "5000000", "--metrics", "127.0.0.1:0"});
  const int metrics = MetricsPort(server);
  // A search that keeps the one query thread busy for a while: 1,000,000 request numbers.
  // Logged in first: a login waits for a query thread too.
  TRawClient slow(server.Port()), queued(server.Port()), busy(server.Port()), report(server.Port());
  slow.Login();
  queued.Login();
  busy.Login();
  report.Login();
  slow.Send(
      RequestBytes(1, Full("GetFilSoliGD"),
                   Args("GetFilSoliGD", {{"stLSolicita", TRemoteArg::FromInOut(CodeList(1000000))},
                                         {"stTSolicita", TRemoteArg::FromInOut("")}})));
  // The server's own gauges say when the slow search holds the query thread and when the next
  // one waits in the queue: a loaded machine may take seconds to parse the million codes.
  ASSERT_TRUE(WaitForSample(metrics, "acomp_db_connections_in_use", 1, 60s));
  const std::string search = RequestBytes(2, Full("GetItens"), Args("GetItens"));
  queued.Send(search);
  ASSERT_TRUE(WaitForSample(metrics, "acomp_queue_depth{queue=\"consultas\"}", 1, 60s));
  const auto sent = std::chrono::steady_clock::now();
  busy.Send(search);
  const auto refusal = busy.Read();
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 250ms);
  EXPECT_EQ("Servidor ocupado; tente novamente em instantes.", refusal.ErrorMessage);
  // The report's search waits in the same queue, so it is turned away the same way.
  report.Send(RequestBytes(
      3, std::string(service::kReportServerName) + "." + service::kReportMethodName,
      {TRemoteArg::FromDate(0), TRemoteArg::FromDate(80000), TRemoteArg::FromString("T"),
       TRemoteArg::FromString(""), TRemoteArg::FromString("T"), TRemoteArg::FromString("")}));
  EXPECT_EQ("Servidor ocupado; tente novamente em instantes.", report.Read().ErrorMessage);
  EXPECT_FALSE(slow.Read(120000).Failed);
  const auto queuedReply = queued.Read(120000);
  EXPECT_FALSE(queuedReply.Failed) << queuedReply.ErrorMessage;
  // The refused connection stays usable.
  busy.Send(search);
  EXPECT_FALSE(busy.Read(120000).Failed);
}

// While searches wait for a query thread, a quick call waits in line behind them instead of
// overtaking them: under load every call waits about as long, rather than searches alone
// waiting for every quick call that came after them.
TEST(Scheduling, AQuickCallDoesNotOvertakeASearchWaitingBeforeIt) {
  TDatabases dbs;
  TServerProcess server(
      dbs.Served, dbs.Log("server"),
      {"--workers", "1", "--max-selection-codes", "5000000", "--metrics", "127.0.0.1:0"});
  const int metrics = MetricsPort(server);
  TRawClient slow(server.Port()), search(server.Port()), quick(server.Port());
  slow.Login();
  search.Login();
  quick.Login();
  slow.Send(
      RequestBytes(1, Full("GetFilSoliGD"),
                   Args("GetFilSoliGD", {{"stLSolicita", TRemoteArg::FromInOut(CodeList(1000000))},
                                         {"stTSolicita", TRemoteArg::FromInOut("")}})));
  ASSERT_TRUE(WaitForSample(metrics, "acomp_db_connections_in_use", 1, 60s));
  search.Send(RequestBytes(2, Full("GetItens"), Args("GetItens")));
  ASSERT_TRUE(WaitForSample(metrics, "acomp_queue_depth{queue=\"consultas\"}", 1, 60s));
  quick.Send(RequestBytes(3, Full("GetFilSoli"), {}));
  EXPECT_FALSE(quick.Read(120000).Failed);
  EXPECT_FALSE(search.Read(120000).Failed);
  EXPECT_FALSE(slow.Read(120000).Failed);
  // The log has a line per call as each ends: the look-up waited in line, and ended after.
  EXPECT_EQ(0, server.Stop());
  const std::string log = server.Log();
  const size_t searchLine = log.find("GetItens ");
  const size_t quickLine = log.find("GetFilSoli ");
  ASSERT_NE(std::string::npos, searchLine) << log;
  ASSERT_NE(std::string::npos, quickLine) << log;
  EXPECT_GT(quickLine, searchLine) << log;
  EXPECT_NE(std::string::npos,
            log.substr(quickLine, log.find('\n', quickLine) - quickLine).find("(fila"))
      << log;
}

}  // namespace
}  // namespace testing_app
