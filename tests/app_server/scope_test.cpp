// Who reads what (app_server/auth/read_scope.h), end to end against real app-server processes on
// the engine under test:
// - some hundreds of generated calls of the seven methods and of the report, made as restricted
//   accounts (a list of branches; own requests; both), answer exactly the unrestricted answer
//   (the same call as "demo") with the rows the scope hides taken out, the scope being the
//   test's own query of the data; keys from outside the scope give empty packets;
// - the login's answer carries the scope; a new account reads nothing until it is granted
//   branches; every change takes effect at the account's next call on a connection already
//   logged in;
// - the administration refuses what does not exist, and a database of an earlier version is
//   refused at start until an administration command brings it up to date;
// - from outside (scripts/outside-client), "filial02" gets no row of branch 0001.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "app_server/auth/accounts.h"
#include "protocol/account.h"
#include "protocol/contract.h"
#include "protocol/report_contract.h"
#include "tests/app_server/fixture.h"
#include "tests/app_server/generated_calls.h"

namespace testing_app {
namespace {

using TKey = std::pair<std::string, std::string>;

constexpr const char* kNoBranch = "Sua conta não tem acesso a nenhuma filial.";

// Rows of a query on a database of the engine under test (a file or a connection string).
std::vector<std::vector<std::string>> RowsAt(const std::string& location, const std::string& sql) {
  if (EngineUnderTest() == TEngine::Postgres) return PostgresQuery(location, sql);
  return SqlAt(location, sql);
}

// What an account may read, from the test's own query of the data: the requests (and their
// numbers and branches) that `condition` on SOLICITACAO S keeps, and the quotations of their
// items.
struct TVisible {
  std::set<TKey> Requests;  // CDFILLAN, NRSOLICMP
  std::set<std::string> Numbers, Branches;
  std::set<TKey> Quotations;  // CDFILIAL, NRCOLEPRECO of an item of a visible request
};

TVisible VisibleAt(const std::string& location, const std::string& condition) {
  TVisible visible;
  for (const auto& row : RowsAt(location,
                                "SELECT S.CDFILLAN, S.NRSOLICMP, S.CDFILIAL "
                                "FROM SOLICITACAO S WHERE " +
                                    condition)) {
    visible.Requests.insert({row[0], row[1]});
    visible.Numbers.insert(row[1]);
    visible.Branches.insert(row[2]);
  }
  for (const auto& row :
       RowsAt(location,
              "SELECT DISTINCT I.CDFILIAL, I.NRCOLEPRECO FROM ITEMSOLICITACAO I "
              "JOIN SOLICITACAO S ON S.CDFILLAN = I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP "
              "WHERE I.NRCOLEPRECO IS NOT NULL AND " +
                  condition))
    visible.Quotations.insert({row[0], row[1]});
  return visible;
}

std::string CellText(const fw::TDataPacket& packet, size_t field, size_t row) {
  const auto& column = packet.Columns()[field];
  if (column.IsNull(row)) return "<null>";
  if (packet.Fields()[field].Type == fw::TFieldType::ftString)
    return std::string(column.GetString(row));
  return fmt::format("{:.17g}", column.GetNumber(row));
}

std::string Cell(const fw::TDataPacket& packet, const char* field, size_t row) {
  const int at = packet.FieldIndex(field);
  return at < 0 ? "" : CellText(packet, static_cast<size_t>(at), row);
}

std::string RowText(const fw::TDataPacket& packet, size_t row) {
  std::string text;
  for (size_t field = 0; field < packet.Fields().size(); ++field) {
    text += '|';
    text += CellText(packet, field, row);
  }
  return text;
}

std::string FullName(const TCall& call) {
  return call.Method == service::kReportMethodName
             ? std::string(service::kReportServerName) + "." + call.Method
             : Full(call.Method);
}

// The arguments of a call by their names.
std::map<std::string, TRemoteArg> Named(const TCall& call) {
  std::map<std::string, TRemoteArg> named;
  const auto& params = call.Method == service::kReportMethodName
                           ? service::ReportMethod().Params
                           : service::FindMethod(call.Method)->Params;
  for (size_t i = 0; i < params.size() && i < call.Args.size(); ++i)
    named[params[i].Name] = call.Args[i];
  return named;
}

// The calls of the item screen's look-ups with the keys of items of the requests `condition`
// keeps: the generated calls draw keys from all the data, these make sure that some are the
// account's and some are not.
std::vector<TCall> KeyedCalls(const std::string& location, const std::string& condition,
                              size_t count) {
  std::vector<TCall> calls;
  const auto items =
      RowsAt(location,
             "SELECT S.NRSOLICMP, S.CDFILIAL, S.CDFILLAN, I.CDDESTSOLI, I.CDFILIAL, I.CDPRODUTO, "
             "COALESCE(I.NRCOLEPRECO, ''), COALESCE(I.NRCOMPRA, ''), I.DTPROGENTR "
             "FROM ITEMSOLICITACAO I JOIN "
             "SOLICITACAO S ON S.CDFILLAN = I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP WHERE " +
                 condition + " ORDER BY S.NRSOLICMP, I.NRITEMSOLI");
  for (size_t i = 0; i < items.size() && i < count; ++i) {
    const auto& item = items[i];
    auto text = [](const std::string& value) { return TRemoteArg::FromString(value); };
    calls.push_back({"GetDestSolGere",
                     Args("GetDestSolGere", {{"nrSoliCmp", text(item[0])},
                                             {"cdFilial", text(item[1])},
                                             {"cdFilLan", text(item[2])},
                                             {"cdDestSoli", text(item[3])}}),
                     {}});
    // The item's delivery day; the zero date selects the items without one.
    const double due = item[8].empty() ? 0 : std::floor(DayOf(item[8]));
    calls.push_back({"GetItemProduto",
                     Args("GetItemProduto", {{"cdFilial", text(item[1])},
                                             {"dtProgEntr", TRemoteArg::FromDate(due)},
                                             {"nrSoliCmp", text(item[0])},
                                             {"stTCdProd", TRemoteArg::FromInOut("T")},
                                             {"stDtSoli", TRemoteArg::FromInOut("T")},
                                             {"cdFilLan", text(item[2])},
                                             {"nrCompra", text(item[7])}}),
                     {}});
    calls.push_back({"GetItemCota",
                     Args("GetItemCota", {{"cdFilial", text(item[4])},
                                          {"cdProduto", text(item[5])},
                                          {"nrColePreco", text(item[6])}}),
                     {}});
  }
  return calls;
}

// One account under test: its login and the condition on SOLICITACAO S that says what it reads.
struct TAccountCase {
  std::string Login, Condition;
};

// Counts of what the comparison met, per method.
struct TCounts {
  std::map<std::string, int> WithRows, Hidden, Compared;
};

// Sends `call` on `client` and reads the answer.
fw::wire::TReply Exchange(TRawClient& client, const TCall& call, uint32_t msgid) {
  client.Send(call.Bytes.empty() ? RequestBytes(msgid, FullName(call), call.Args) : call.Bytes);
  return client.Read(20000);
}

// The rows of the unrestricted answer `all` to `call` that the account may read (`visible`),
// as texts. GetFilSoliGD's branch is kept when the branch's items for the same filter
// (GetItens, unrestricted, on `demo`) include one of a visible request.
std::vector<std::string> Filtered(const TCall& call, const fw::TDataPacket& all,
                                  const TVisible& visible, TRawClient& demo, uint32_t& msgid) {
  const auto named = Named(call);
  auto text = [&](const char* name) { return named.at(name).Text; };
  std::vector<std::string> kept;
  for (size_t row = 0; row < all.RowCount(); ++row) {
    bool keep = false;
    const std::string& method = call.Method;
    if (method == "GetFilSoli") {
      keep = visible.Branches.count(Cell(all, "CDFILSOLI", row)) > 0;
    } else if (method == "GetNrSolicita") {
      keep = visible.Numbers.count(Cell(all, "NRSOLICMP", row)) > 0;
    } else if (method == "GetItens" || method == service::kReportMethodName) {
      keep = visible.Requests.count({Cell(all, "CDFILLAN", row), Cell(all, "NRSOLICMP", row)}) > 0;
    } else if (method == "GetDestSolGere" || method == "GetItemProduto") {
      keep = visible.Requests.count({text("cdFilLan"), text("nrSoliCmp")}) > 0;
    } else if (method == "GetItemCota") {
      keep = visible.Quotations.count({text("cdFilial"), text("nrColePreco")}) > 0;
    } else if (method == "GetFilSoliGD") {
      std::map<std::string, TRemoteArg> values;
      for (const auto& param : service::FindMethod("GetItens")->Params)
        if (named.count(param.Name)) values[param.Name] = named.at(param.Name);
      values["cdFilial"] = TRemoteArg::FromString(Cell(all, "CDFILIAL", row));
      const TCall items{"GetItens", Args("GetItens", values), {}};
      const auto reply = Exchange(demo, items, msgid++);
      EXPECT_FALSE(reply.Failed || reply.Result.Refused) << reply.ErrorMessage;
      const auto& packet = reply.Result.Data;
      for (size_t item = 0; item < packet.RowCount() && !keep; ++item)
        keep = visible.Requests.count(
                   {Cell(packet, "CDFILLAN", item), Cell(packet, "NRSOLICMP", item)}) > 0;
    }
    if (keep) kept.push_back(RowText(all, row));
  }
  return kept;
}

// Every call as the account and as "demo"; the account's answer must be demo's with the rows
// it may not read taken out (errors and refusals alike, the same refs).
TCounts CompareWithUnrestricted(int port, const TAccountCase& account, const TVisible& visible,
                                const std::vector<TCall>& calls) {
  TRawClient demo(port);
  demo.Login();
  TRawClient restricted(port);
  restricted.Login(account.Login, "demo");
  TCounts counts;
  uint32_t msgid = 1;
  for (const TCall& call : calls) {
    const uint32_t id = msgid++;
    const auto all = Exchange(demo, call, id);
    const auto mine = Exchange(restricted, call, id);
    const std::string where = account.Login + " " + call.Method;
    EXPECT_EQ(all.Failed, mine.Failed) << where;
    EXPECT_EQ(all.ErrorMessage, mine.ErrorMessage) << where;
    EXPECT_EQ(all.Result.Refused, mine.Result.Refused) << where;
    EXPECT_EQ(all.Result.RefusalMessage, mine.Result.RefusalMessage) << where;
    if (all.Failed || all.Result.Refused || mine.Failed || mine.Result.Refused) continue;
    EXPECT_EQ(all.Result.Refs, mine.Result.Refs) << where;
    const auto& packet = all.Result.Data;
    EXPECT_EQ(packet.Fields().size(), mine.Result.Data.Fields().size()) << where;
    if (packet.Fields().size() != mine.Result.Data.Fields().size()) continue;
    const std::vector<std::string> expected = Filtered(call, packet, visible, demo, msgid);
    std::vector<std::string> got;
    for (size_t row = 0; row < mine.Result.Data.RowCount(); ++row)
      got.push_back(RowText(mine.Result.Data, row));
    EXPECT_EQ(expected, got) << where << " (" << packet.RowCount() << " rows as demo)";
    ++counts.Compared[call.Method];
    if (!got.empty()) ++counts.WithRows[call.Method];
    if (packet.RowCount() > 0 && got.empty()) ++counts.Hidden[call.Method];
  }
  return counts;
}

// A server of the test's own on a demo of its own, where the accounts under test are:
// "filial02" (branches 0002 and 0003), the requester with most requests (its own requests, in
// every branch) and "misto", made here: a requester's own requests in two branches, some of its
// requests having moved to a third, so that each half of the scope hides something.
struct TScopedSite {
  TOwnDemo Db;
  TTempDir Dir;
  std::vector<TAccountCase> Accounts;
  std::unique_ptr<TServerProcess> Server;

  TScopedSite() {
    const auto requesters = RowsAt(Db.Location(),
                                   "SELECT S.CDOPERSOLI, MIN(S.CDFILIAL) FROM SOLICITACAO S "
                                   "GROUP BY S.CDOPERSOLI ORDER BY COUNT(*) DESC, 1");
    const std::string own = requesters.at(0).at(0);
    const std::string mixed = requesters.at(1).at(0), home = requesters.at(1).at(1);
    const std::string away = home == "0005" ? "0004" : "0005";
    const std::string other = home == "0001" ? "0002" : "0001";
    Db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '" + away + "' WHERE CDOPERSOLI = '" + mixed +
               "' AND NRSOLICMP IN (SELECT NRSOLICMP FROM SOLICITACAO WHERE CDOPERSOLI = '" +
               mixed + "' ORDER BY NRSOLICMP LIMIT 5)");
    const std::string log = Dir.Path() + "/admin.log";
    const std::string db = "'" + Db.Location() + "'";
    EXPECT_EQ(0, RunWithInput("--add-user misto --db " + db, "demo\n", log));
    EXPECT_EQ(0, RunAppServer({"--operator", "misto", mixed, "--db", Db.Location()}, log));
    EXPECT_EQ(0, RunAppServer({"--own-requests", "misto", "sim", "--db", Db.Location()}, log));
    EXPECT_EQ(0,
              RunAppServer({"--grant-branches", "misto", home + "," + other, "--db", Db.Location()},
                           log));
    Accounts = {{"filial02", "S.CDFILIAL IN ('0002', '0003')"},
                {own, "S.CDOPERSOLI = '" + own + "'"},
                {"misto", "S.CDFILIAL IN ('" + home + "', '" + other + "') AND S.CDOPERSOLI = '" +
                              mixed + "'"}};
    Server = std::make_unique<TServerProcess>(Db.Location(), Dir.Path() + "/server.log");
  }
};

TEST(ReadScopes,
     GeneratedCallsOfBothObjects_AsRestrictedAccounts_AreTheUnrestrictedAnswersFiltered) {
  TScopedSite site;
  const TPool pool = PoolOf(Demo().Db);
  for (const TAccountCase& account : site.Accounts) {
    const TVisible visible = VisibleAt(site.Db.Location(), account.Condition);
    ASSERT_FALSE(visible.Requests.empty()) << account.Login;
    TGenerator generator(pool, 20240704);
    std::vector<TCall> calls = generator.Calls();
    for (auto& call : generator.ReportCalls(60)) calls.push_back(std::move(call));
    for (auto& call : KeyedCalls(site.Db.Location(), account.Condition, 12))
      calls.push_back(std::move(call));
    for (auto& call : KeyedCalls(site.Db.Location(), "NOT (" + account.Condition + ")", 12))
      calls.push_back(std::move(call));
    ASSERT_GE(calls.size(), 400u);

    TCounts counts = CompareWithUnrestricted(site.Server->Port(), account, visible, calls);
    // Every method answered the account something, and hid something from it.
    for (const auto& method : service::Methods()) {
      EXPECT_GT(counts.WithRows[method.Name], 0) << account.Login << " " << method.Name;
      if (method.Name != std::string("GetFilSoli")) {
        EXPECT_GT(counts.Hidden[method.Name], 0) << account.Login << " " << method.Name;
      }
    }
    EXPECT_GT(counts.WithRows[service::kReportMethodName], 0) << account.Login;
    EXPECT_GT(counts.Hidden[service::kReportMethodName], 0) << account.Login;
  }
  EXPECT_EQ(0, site.Server->Stop());
}

TEST(ReadScopes, ThePickers_ListOnlyWhatTheAccountReads) {
  TRawClient raw(Demo().Server->Port());
  raw.Login("filial02", "demo");
  raw.Send(RequestBytes(1, Full("GetFilSoli"), {}));
  const auto branches = raw.Read();
  ASSERT_FALSE(branches.Failed) << branches.ErrorMessage;
  std::vector<std::string> listed;
  for (size_t row = 0; row < branches.Result.Data.RowCount(); ++row)
    listed.push_back(Cell(branches.Result.Data, "CDFILSOLI", row));
  EXPECT_EQ((std::vector<std::string>{"0002", "0003"}), listed);

  raw.Send(RequestBytes(2, Full("GetNrSolicita"), Args("GetNrSolicita")));
  const auto numbers = raw.Read();
  std::vector<std::string> got;
  for (size_t row = 0; row < numbers.Result.Data.RowCount(); ++row)
    got.push_back(Cell(numbers.Result.Data, "NRSOLICMP", row));
  EXPECT_EQ(FirstColumn(Sql("SELECT NRSOLICMP FROM SOLICITACAO WHERE CDFILIAL IN ('0002', "
                            "'0003') GROUP BY NRSOLICMP ORDER BY NRSOLICMP")),
            got);
}

TEST(ReadScopes, TheLoginAnswer_CarriesTheScope_AndTheClientReadsIt) {
  struct TExpected {
    std::string Login, All, Branches, Own, Operator;
  };
  const std::string requester =
      SqlValue("SELECT MIN(CDOPERADOR) FROM OPERADOR WHERE IDFUNCAO = 'S'");
  const std::string manager = SqlValue("SELECT MIN(CDOPERADOR) FROM OPERADOR WHERE IDFUNCAO = 'G'");
  const std::string managerBranch =
      SqlValue("SELECT CDFILIAL FROM OPERADOR WHERE CDOPERADOR = '" + manager + "'");
  const std::string buyer = SqlValue("SELECT MIN(CDOPERADOR) FROM OPERADOR WHERE IDFUNCAO = 'C'");
  const std::vector<TExpected> cases = {
      {"demo", "S", "", "N", ""},           {"filial02", "N", "0002,0003", "N", ""},
      {requester, "S", "", "S", requester}, {manager, "N", managerBranch, "N", manager},
      {buyer, "S", "", "N", buyer},
  };
  for (const auto& expected : cases) {
    TRawClient raw(Demo().Server->Port());
    const auto reply = raw.Login(expected.Login, "demo");
    EXPECT_EQ(expected.All, reply.Texts.at("todasfiliais")) << expected.Login;
    EXPECT_EQ(expected.Branches, reply.Texts.at("filiais")) << expected.Login;
    EXPECT_EQ(expected.Own, reply.Texts.at("proprias")) << expected.Login;
    EXPECT_EQ(expected.Operator, reply.Texts.at("operador")) << expected.Login;
  }

  // The client keeps it, as the host shows it.
  fw::TTcpAppServer client("127.0.0.1", Demo().Server->Port(), service::kServerName, {},
                           {"filial02", "demo"});
  client.Connect();
  EXPECT_TRUE(client.Scope().Known);
  EXPECT_EQ((std::vector<std::string>{"0002", "0003"}), client.Scope().Branches);
  EXPECT_EQ("filiais 0002, 0003", fw::ScopeText(client.Scope()));
  fw::TTcpAppServer own("127.0.0.1", Demo().Server->Port(), service::kServerName, {},
                        {requester, "demo"});
  own.Connect();
  EXPECT_EQ("minhas solicitações", fw::ScopeText(own.Scope()));
}

// Calls of both objects that return rows for an account that may read everything.
std::vector<TCall> OneOfEach() {
  std::vector<TCall> calls;
  calls.push_back({"GetFilSoli", {}, {}});
  calls.push_back({"GetFilSoliGD", Args("GetFilSoliGD"), {}});
  calls.push_back(
      {service::kReportMethodName,
       {TRemoteArg::FromDate(DayOf("2020-01-01 00:00:00")),
        TRemoteArg::FromDate(DayOf("2030-01-01 00:00:00")), TRemoteArg::FromString("T"),
        TRemoteArg::FromString(""), TRemoteArg::FromString("T"), TRemoteArg::FromString("")},
       {}});
  return calls;
}

TEST(ReadScopes, ANewAccountReadsNothing_AndEveryChangeTakesEffectAtItsNextCall) {
  TOwnDemo db;
  TTempDir dir;
  const std::string log = dir.Path() + "/admin.log";
  auto admin = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--db", db.Location()});
    return RunAppServer(arguments, log);
  };
  ASSERT_EQ(0, RunWithInput("--add-user ana --db '" + db.Location() + "'", "demo\n", log));
  TServerProcess server(db.Location(), dir.Path() + "/server.log");
  TRawClient ana(server.Port());
  const auto login = ana.Login("ana", "demo");
  EXPECT_EQ("N", login.Texts.at("todasfiliais"));
  EXPECT_EQ("", login.Texts.at("filiais"));
  EXPECT_TRUE(fw::ReadLoginScope(login.Texts).ReadsNothing());

  // What each call of both objects answers now, on the same connection: the number of rows, or
  // the refusal.
  uint32_t msgid = 1;
  auto answers = [&] {
    std::vector<std::string> got;
    for (const auto& call : OneOfEach()) {
      const auto reply = Exchange(ana, call, msgid++);
      EXPECT_FALSE(reply.Failed) << reply.ErrorMessage;
      got.push_back(reply.Result.Refused ? reply.Result.RefusalMessage
                                         : std::to_string(reply.Result.Data.RowCount()));
    }
    return got;
  };
  const std::vector<std::string> refused = {kNoBranch, kNoBranch, kNoBranch};
  EXPECT_EQ(refused, answers());

  auto count = [&](const std::string& sql) { return RowsAt(db.Location(), sql).at(0).at(0); };
  const std::string everything = count("SELECT COUNT(*) FROM ITEMSOLICITACAO");
  const std::string branches = count(
      "SELECT COUNT(*) FROM FILIAL F WHERE EXISTS (SELECT 1 FROM "
      "SOLICITACAO S WHERE S.CDFILIAL = F.CDFILIAL)");
  ASSERT_EQ(0, admin({"--grant-branches", "ana", "0002"}));
  const std::string ofBranch = count(
      "SELECT COUNT(*) FROM ITEMSOLICITACAO I JOIN SOLICITACAO S ON S.CDFILLAN = "
      "I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP WHERE S.CDFILIAL = '0002'");
  EXPECT_EQ((std::vector<std::string>{"1", "1", ofBranch}), answers());

  ASSERT_EQ(0, admin({"--grant-all-branches", "ana"}));
  EXPECT_EQ((std::vector<std::string>{branches, branches, everything}), answers());

  const std::string requester =
      count("SELECT MIN(CDOPERSOLI) FROM SOLICITACAO WHERE CDFILIAL = '0003'");
  ASSERT_EQ(0, admin({"--operator", "ana", requester}));
  ASSERT_EQ(0, admin({"--own-requests", "ana", "sim"}));
  const std::string own = count(
      "SELECT COUNT(*) FROM ITEMSOLICITACAO I JOIN SOLICITACAO S ON S.CDFILLAN = I.CDFILLAN AND "
      "S.NRSOLICMP = I.NRSOLICMP WHERE S.CDOPERSOLI = '" +
      requester + "'");
  const std::string ownBranches = count(
      "SELECT COUNT(DISTINCT CDFILIAL) FROM SOLICITACAO WHERE CDOPERSOLI = '" + requester + "'");
  EXPECT_EQ((std::vector<std::string>{ownBranches, ownBranches, own}), answers());

  ASSERT_EQ(0, admin({"--revoke-branches", "ana"}));
  EXPECT_EQ(refused, answers());

  ASSERT_EQ(0, admin({"--grant-all-branches", "ana"}));
  ASSERT_EQ(0, RunAppServer({"--disable-user", "ana", "--db", db.Location()}, log));
  const std::vector<std::string> disabled(3, "Sua conta foi desativada.");
  EXPECT_EQ(disabled, answers());
  EXPECT_EQ(0, server.Stop());
}

TEST(ReadScopes, TheAdministration_RefusesWhatDoesNotExist_AndChangesNothing) {
  TOwnDemo db;
  TTempDir dir;
  const std::string log = dir.Path() + "/admin.log";
  auto run = [&](std::vector<std::string> arguments) {
    std::remove(log.c_str());
    arguments.insert(arguments.end(), {"--db", db.Location()});
    const int status = RunAppServer(arguments, log);
    std::ifstream file(log);
    return std::make_pair(status, std::string((std::istreambuf_iterator<char>(file)), {}));
  };
  const auto before = run({"--show-user", "filial02"});
  ASSERT_EQ(0, before.first) << before.second;
  EXPECT_NE(std::string::npos, before.second.find("lê: filiais 0002, 0003")) << before.second;

  struct TRefusal {
    std::vector<std::string> Arguments;
    int Status;
    std::string Says;
  };
  const std::vector<TRefusal> refusals = {
      {{"--grant-branches", "filial02", "0002,0099"}, 1, "Filial desconhecida: 0099"},
      {{"--grant-branches", "filial02", "0099, 0001 ,x"}, 1, "Filiais desconhecidas: 0099, x"},
      {{"--grant-branches", "filial02", "0002,,0003"}, 1, "Lista de filiais inválida"},
      {{"--grant-branches", "filial02", " "}, 1, "--revoke-branches"},
      {{"--grant-branches", "ninguem", "0001"}, 1, "Não há a conta ninguem"},
      {{"--grant-all-branches", "ninguem"}, 1, "Não há a conta ninguem"},
      {{"--operator", "filial02", "NINGUEM"}, 1, "Operador desconhecido: NINGUEM"},
      {{"--own-requests", "filial02", "sim"}, 1, "não tem operador"},
      {{"--own-requests", "filial02", "talvez"}, 2, "sim ou nao"},
  };
  for (const auto& refusal : refusals) {
    const auto [status, text] = run(refusal.Arguments);
    EXPECT_EQ(refusal.Status, status) << refusal.Arguments[0] << " " << text;
    EXPECT_NE(std::string::npos, text.find(refusal.Says)) << text;
    if (status == 1 && refusal.Arguments[1] != "ninguem") {
      EXPECT_NE(std::string::npos, text.find("ada foi alterado")) << text;
    }
  }
  EXPECT_EQ(before, run({"--show-user", "filial02"}));

  // Own requests cannot lose their operator.
  const std::string requester =
      RowsAt(db.Location(), "SELECT MIN(CDOPERADOR) FROM OPERADOR WHERE IDFUNCAO = 'S'")
          .at(0)
          .at(0);
  const auto cleared = run({"--operator", requester, ""});
  EXPECT_EQ(1, cleared.first);
  EXPECT_NE(std::string::npos, cleared.second.find("--own-requests")) << cleared.second;
}

TEST(ReadScopes, ADatabaseOfAnEarlierVersion_IsRefusedAtStart_UntilAnAdministrationCommand) {
  TOwnDemo db;
  if (EngineUnderTest() == TEngine::Postgres) {
    db.Execute(
        "DROP TABLE USUARIOFILIAL; ALTER TABLE USUARIO DROP COLUMN IDTODASFILIAIS, DROP COLUMN "
        "IDSOLIPROPRIAS, DROP COLUMN CDOPERADOR");
  } else {
    db.Execute(
        "CREATE TABLE ANTIGO AS SELECT LOGIN, NMUSUARIO, SENHA, IDATIVO FROM USUARIO; "
        "DROP TABLE USUARIO; DROP TABLE USUARIOFILIAL; " +
        std::string(app::kAccountsSqliteSql) +
        "INSERT INTO USUARIO SELECT * FROM ANTIGO; DROP TABLE ANTIGO;");
  }
  TTempDir dir;
  const std::string log = dir.Path() + "/server.log";
  EXPECT_EQ(1, RunAppServer({"--db", db.Location(), "--listen", "127.0.0.1:0"}, log));
  std::ifstream file(log);
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_NE(std::string::npos, text.find("--grant-all-branches")) << text;

  ASSERT_EQ(0, RunAppServer({"--grant-all-branches", "demo", "--db", db.Location()},
                            dir.Path() + "/admin.log"));
  TServerProcess server(db.Location(), dir.Path() + "/served.log");
  TRawClient demo(server.Port());
  demo.Login();
  EXPECT_EQ((std::vector<std::string>{"6", "6", SqlValue("SELECT COUNT(*) FROM ITEMSOLICITACAO")}),
            [&] {
              std::vector<std::string> got;
              uint32_t msgid = 1;
              for (const auto& call : OneOfEach())
                got.push_back(std::to_string(Exchange(demo, call, msgid++).Result.Data.RowCount()));
              return got;
            }());
  // Every other account was made before scopes: it reads nothing until granted.
  TRawClient other(server.Port());
  EXPECT_TRUE(fw::ReadLoginScope(other.Login("filial02", "demo").Texts).ReadsNothing());
  EXPECT_EQ(0, server.Stop());
}

TEST(ReadScopes, FromOutside_Filial02_GetsNoRowOfBranch0001WhateverTheArguments) {
  TTempDir dir;
  const std::string output = dir.Path() + "/outside.txt";
  const std::string command =
      "python3 '" + std::string(SOURCE_DIR) +
      "/scripts/outside-client' 127.0.0.1:" + std::to_string(Demo().Server->Port()) +
      " filial02 demo --sem-filial 0001 >'" + output + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream file(output);
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(0, status) << text;
  EXPECT_NE(std::string::npos, text.find("nenhuma linha da filial 0001")) << text;
}

}  // namespace
}  // namespace testing_app
