// The items' progress (ITEMSOLIANDAMENTO, app_server/db/item_progress.h), which GetItens reads:
// kept by the database's own triggers on the seven tables it comes from, so that each way a
// program writes them is seen at the server's next call, on each engine; on PostgreSQL also when
// two transactions that touch the same item from different tables commit at once; and a
// database without it is refused at start until `--upgrade-schema`.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app_server/db/database_writer.h"
#include "app_server/db/item_progress.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;

std::vector<std::vector<std::string>> RowsAt(const std::string& location, const std::string& sql) {
  if (EngineUnderTest() == TEngine::Postgres) return PostgresQuery(location, sql);
  return SqlAt(location, sql);
}

std::string ValueAt(const std::string& location, const std::string& sql) {
  return RowsAt(location, sql).at(0).at(0);
}

// Rows of the table that the definition does not give, and the reverse: both "0" when the
// triggers kept it.
std::pair<std::string, std::string> Differences(const std::string& location) {
  const std::string definition = app::ItemProgressDefinition();
  const std::string table = "SELECT * FROM ITEMSOLIANDAMENTO";
  return {ValueAt(location, "SELECT COUNT(*) FROM (" + definition + " EXCEPT " + table + ") D"),
          ValueAt(location, "SELECT COUNT(*) FROM (" + table + " EXCEPT " + definition + ") D")};
}

// GetItens of a branch, all dates, as text per row: the request, the item's status and buying
// branch, the order, the invoice's clerk and the requester's name, and which of its stage dates
// are there.
std::vector<std::string> Served(fw::TTcpAppServer& client, const std::string& branch) {
  auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString(branch)}});
  const auto packet = client.Invoke("GetItens", args).Data;
  std::vector<std::string> rows;
  for (size_t row = 0; row < packet.RowCount(); ++row) {
    std::string text;
    for (const char* field :
         {"NRSOLICMP", "STATUS", "NRAUTOFORN", "CDOPERAPRO", "CDFILIAL", "NMOPERADOR"}) {
      const auto& column = packet.Columns()[packet.FieldIndex(field)];
      text += (column.IsNull(row) ? std::string() : std::string(column.GetString(row))) + "|";
    }
    for (const char* field : {"DTCONCOLEPREC", "DTAUTOFORN", "DTEMISSAO", "DTPROGENTAF"})
      text += packet.Columns()[packet.FieldIndex(field)].IsNull(row) ? "0" : "1";
    rows.push_back(text);
  }
  return rows;
}

// The same from the seven tables themselves.
std::vector<std::string> Expected(const std::string& location, const std::string& branch) {
  const auto rows = RowsAt(
      location,
      "SELECT S.NRSOLICMP, I.STATUS, AI.NRAUTOFORN, N.CDOPERAPRO, I.CDFILIAL, O.NMOPERADOR, "
      "CASE WHEN C.DTCONCOLEPREC IS NULL THEN 0 ELSE 1 END, "
      "CASE WHEN A.DTAUTOFORN IS NULL THEN 0 ELSE 1 END, "
      "CASE WHEN N.DTEMISSAO IS NULL THEN 0 ELSE 1 END, "
      "CASE WHEN A.DTPROGENTAF IS NULL THEN 0 ELSE 1 END "
      "FROM SOLICITACAO S JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = "
      "S.NRSOLICMP LEFT JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND C.NRCOLEPRECO = "
      "I.NRCOLEPRECO LEFT JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = "
      "I.NRSOLICMP AND AI.NRITEMSOLI = I.NRITEMSOLI LEFT JOIN AUTORIZACAOFORN A ON A.CDFILIAL = "
      "AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = "
      "A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN LEFT JOIN OPERADOR O ON O.CDOPERADOR = "
      "S.CDOPERSOLI WHERE S.CDFILIAL = '" +
          branch + "' ORDER BY S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI");
  std::vector<std::string> texts;
  for (const auto& row : rows) {
    std::string text;
    for (size_t i = 0; i < 6; ++i) text += row[i] + "|";
    for (size_t i = 6; i < 10; ++i) text += row[i];
    texts.push_back(text);
  }
  return texts;
}

// An item of branch 0001 with a quotation, an order and the order's invoice, and what it takes
// to name it and them in a statement.
struct TTrackedItem {
  std::string Lan, Request, Number;  // the item's key
  std::string Buyer, Quotation;      // its quotation's key (CDFILIAL, NRCOLEPRECO)
  std::string OrderBranch, Order;    // its order's key
  std::string OtherOrder;            // another order of the same buying branch
  std::string Item() const {
    return " WHERE CDFILLAN = '" + Lan + "' AND NRSOLICMP = '" + Request +
           "' AND NRITEMSOLI = " + Number;
  }
  std::string OfRequest() const {
    return " WHERE CDFILLAN = '" + Lan + "' AND NRSOLICMP = '" + Request + "'";
  }
  std::string OfQuotation() const {
    return " WHERE CDFILIAL = '" + Buyer + "' AND NRCOLEPRECO = '" + Quotation + "'";
  }
  std::string OfOrder() const {
    return " WHERE CDFILIAL = '" + OrderBranch + "' AND NRAUTOFORN = '" + Order + "'";
  }
};

TTrackedItem FindTrackedItem(const std::string& location) {
  const auto row =
      RowsAt(location,
             "SELECT I.CDFILLAN, I.NRSOLICMP, I.NRITEMSOLI, I.CDFILIAL, I.NRCOLEPRECO, "
             "AI.CDFILIAL, AI.NRAUTOFORN, (SELECT MIN(B.NRAUTOFORN) FROM AUTORIZACAOFORN B "
             "WHERE B.CDFILIAL = AI.CDFILIAL AND B.NRAUTOFORN <> AI.NRAUTOFORN) "
             "FROM SOLICITACAO S JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND "
             "I.NRSOLICMP = S.NRSOLICMP JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND "
             "C.NRCOLEPRECO = I.NRCOLEPRECO JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND "
             "AI.NRSOLICMP = I.NRSOLICMP AND AI.NRITEMSOLI = I.NRITEMSOLI JOIN NOTAFISCAL N ON "
             "N.CDFILIAL = AI.CDFILIAL AND N.NRAUTOFORN = AI.NRAUTOFORN "
             "WHERE S.CDFILIAL = '0001' AND N.CDOPERAPRO IS NOT NULL "
             "ORDER BY I.NRSOLICMP, I.NRITEMSOLI LIMIT 1")
          .at(0);
  return {row[0], row[1], row[2], row[3], row[4], row[5], row[6], row[7]};
}

TEST(ItemProgress, EachWriteOfTheSevenTables_IsSeenAtTheNextCall) {
  TOwnDemo db;
  TTempDir dir;
  TServerProcess server(db.Location(), dir.Path() + "/server.log");
  auto client = Client(server.Port());
  const TTrackedItem item = FindTrackedItem(db.Location());
  ASSERT_FALSE(item.OtherOrder.empty());
  auto check = [&](const std::string& step) {
    EXPECT_EQ(Differences(db.Location()), std::make_pair(std::string("0"), std::string("0")))
        << step << ": the table against its definition (missing, extra)";
    for (const char* branch : {"0001", "0002"})
      EXPECT_EQ(Expected(db.Location(), branch), Served(client, branch))
          << step << ", branch " << branch;
  };
  check("as made");

  // The quotation, concluded and reopened.
  db.Execute("UPDATE COLETAPRECO SET DTCONCOLEPREC = NULL" + item.OfQuotation());
  check("the quotation reopened");
  db.Execute("UPDATE COLETAPRECO SET DTCONCOLEPREC = DTABERTURA" + item.OfQuotation());
  check("the quotation concluded again");

  // The invoice: its clerk, gone, back.
  db.Execute("UPDATE NOTAFISCAL SET CDOPERAPRO = NULL" + item.OfOrder());
  check("the invoice's clerk cleared");
  db.Execute("DELETE FROM NOTAFISCAL" + item.OfOrder());
  check("the invoice deleted");
  db.Execute(
      "INSERT INTO NOTAFISCAL (CDFILIAL, CDFORNECED, NRNOTAFISC, NRAUTOFORN, CDTIPOOPER, "
      "DTEMISSAO, VRNOTAFISC, CDOPERAPRO) SELECT CDFILIAL, CDFORNECED, 'T1', NRAUTOFORN, '01', "
      "DTAUTOFORN, 1, (SELECT MIN(CDOPERADOR) FROM OPERADOR) FROM AUTORIZACAOFORN" +
      item.OfOrder());
  check("an invoice of the order received");

  // The order's dates; the item's delivered quantity; the item moved to another order and back.
  db.Execute("UPDATE AUTORIZACAOFORN SET DTPROGENTAF = NULL, DTAUTOFORN = DTAUTOFORN" +
             item.OfOrder());
  check("the order's delivery date cleared");
  db.Execute("UPDATE ITEMAUTOFORN SET QTEFETENTRAF = QTEFETENTRAF + 1" + item.Item());
  check("the item's delivered quantity");
  db.Execute("UPDATE ITEMAUTOFORN SET NRAUTOFORN = '" + item.OtherOrder + "'" + item.Item());
  check("the item moved to another order");
  db.Execute("DELETE FROM ITEMAUTOFORN" + item.Item());
  check("the item out of every order");
  // Its key changed (nothing refers to it now), and back.
  db.Execute("UPDATE ITEMSOLICITACAO SET NRITEMSOLI = 99" + item.Item());
  check("the item renumbered");
  db.Execute("UPDATE ITEMSOLICITACAO SET NRITEMSOLI = " + item.Number + " WHERE CDFILLAN = '" +
             item.Lan + "' AND NRSOLICMP = '" + item.Request + "' AND NRITEMSOLI = 99");
  check("the item's number back");
  db.Execute(
      "INSERT INTO ITEMAUTOFORN (CDFILIAL, NRAUTOFORN, CDFILLAN, NRSOLICMP, NRITEMSOLI, QTPRODAF, "
      "VRUNITAF, QTEFETENTRAF) VALUES ('" +
      item.OrderBranch + "', '" + item.Order + "', '" + item.Lan + "', '" + item.Request + "', " +
      item.Number + ", 1, 1, 0)");
  check("the item back in its order");

  // The item's own columns, its quotation left and joined again.
  db.Execute("UPDATE ITEMSOLICITACAO SET STATUS = 'C', DTPROGENTR = NULL" + item.Item());
  check("the item's status and due date");
  db.Execute("UPDATE ITEMSOLICITACAO SET NRCOLEPRECO = NULL" + item.Item());
  check("the item out of its quotation");
  db.Execute("UPDATE ITEMSOLICITACAO SET NRCOLEPRECO = '" + item.Quotation + "'" + item.Item());
  check("the item back in its quotation");

  // The request: to another branch and date, another requester.
  db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '0002', DTHRLANCSOL = '2024-02-29 23:59:59'" +
             item.OfRequest());
  check("the request moved to another branch and date");
  db.Execute("UPDATE SOLICITACAO SET CDOPERSOLI = (SELECT MAX(CDOPERADOR) FROM OPERADOR)" +
             item.OfRequest());
  check("the request's requester");
  // The requester's name; on SQLite, whose connections here leave foreign keys unchecked, its
  // code too, and back.
  const std::string requester =
      " WHERE CDOPERADOR = (SELECT CDOPERSOLI FROM SOLICITACAO" + item.OfRequest() + ")";
  db.Execute("UPDATE OPERADOR SET NMOPERADOR = 'OUTRO NOME'" + requester);
  check("the requester renamed");
  if (EngineUnderTest() == TEngine::Sqlite) {
    const std::string code = ValueAt(db.Location(), "SELECT CDOPERADOR FROM OPERADOR" + requester);
    db.Execute("UPDATE OPERADOR SET CDOPERADOR = 'ZZOUTRO' WHERE CDOPERADOR = '" + code + "'");
    check("the requester's code changed");
    db.Execute("UPDATE OPERADOR SET CDOPERADOR = '" + code + "' WHERE CDOPERADOR = 'ZZOUTRO'");
    check("the requester's code back");
  }

  // An order's invoice and the item leaving the order, in one transaction.
  db.Execute("BEGIN; DELETE FROM NOTAFISCAL" + item.OfOrder() + "; DELETE FROM ITEMAUTOFORN" +
             item.Item() + "; COMMIT");
  check("the invoice and the item's place in the order deleted together");
  db.Execute("BEGIN; DELETE FROM ITEMSOLICITACAO" + item.Item() + "; COMMIT");
  check("the item deleted");

  if (EngineUnderTest() == TEngine::Sqlite) {
    // INSERT OR REPLACE removes the row it replaces without the delete triggers.
    db.Execute(
        "INSERT OR REPLACE INTO COLETAPRECO SELECT CDFILIAL, NRCOLEPRECO, IDSITUCOLETA, "
        "CDOPERCOMP, DTABERTURA, NULL FROM COLETAPRECO WHERE CDFILIAL = '0001'");
    check("a branch's quotations replaced, reopened");
    db.Execute(
        "INSERT OR REPLACE INTO NOTAFISCAL SELECT CDFILIAL, CDFORNECED, NRNOTAFISC, NRAUTOFORN, "
        "CDTIPOOPER, DTEMISSAO, DTENTRSAID, DTAPROVACAO, VRNOTAFISC, NULL FROM NOTAFISCAL WHERE "
        "CDFILIAL = '0001'");
    check("a branch's invoices replaced, without their clerk");
  } else {
    // TRUNCATE passes by the row triggers: the statement's own make every row again.
    db.Execute("TRUNCATE NOTAFISCAL");
    check("every invoice truncated");
    EXPECT_EQ("0", ValueAt(db.Location(),
                           "SELECT COUNT(*) FROM ITEMSOLIANDAMENTO WHERE DTEMISSAO IS NOT NULL"));
  }
  EXPECT_EQ(0, server.Stop());
}

TEST(ItemProgress, ADatabaseWithoutIt_IsRefusedAtStart_UntilUpgradeSchema) {
  TOwnDemo db;
  TTempDir dir;
  const std::string log = dir.Path() + "/server.log";
  auto refusal = [&] {
    const TStartAttempt start = TryToStart(db.Location(), log);
    EXPECT_EQ(1, start.Status);
    return start.Said;
  };
  if (EngineUnderTest() == TEngine::Postgres)
    db.Execute("ALTER TABLE NOTAFISCAL DISABLE TRIGGER ITEMSOLIANDAMENTO_NOTA");
  else
    db.Execute("DROP TRIGGER ITEMSOLIANDAMENTO_NOTA_DELETE");
  std::string text = refusal();
  EXPECT_NE(std::string::npos, text.find("ITEMSOLIANDAMENTO sem todos os gatilhos")) << text;
  EXPECT_NE(std::string::npos, text.find("app-server --upgrade-schema --db")) << text;

  // As a database of an earlier version: neither the table nor its triggers.
  const std::pair<const char*, const char*> triggers[] = {
      {"ITEM", "ITEMSOLICITACAO"}, {"SOLICITACAO", "SOLICITACAO"}, {"COLETA", "COLETAPRECO"},
      {"ITEMAF", "ITEMAUTOFORN"},  {"AF", "AUTORIZACAOFORN"},      {"NOTA", "NOTAFISCAL"}};
  for (const auto& [suffix, table] : triggers) {
    const std::string name = std::string("ITEMSOLIANDAMENTO_") + suffix;
    if (EngineUnderTest() == TEngine::Postgres) {
      db.Execute("DROP TRIGGER " + name + " ON " + table);
      db.Execute("DROP TRIGGER " + name + "_TRUNCATE ON " + table);
    } else {
      for (const char* op : {"_INSERT", "_UPDATE", "_DELETE"})
        db.Execute("DROP TRIGGER IF EXISTS " + name + op);
    }
  }
  db.Execute("DROP TABLE ITEMSOLIANDAMENTO");
  text = refusal();
  EXPECT_NE(std::string::npos, text.find("não tem a tabela ITEMSOLIANDAMENTO")) << text;

  // Installed from the rows there, with changes made meanwhile that no trigger saw.
  db.Execute("UPDATE NOTAFISCAL SET CDOPERAPRO = NULL");
  db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '0002' WHERE CDFILIAL = '0001'");
  ASSERT_EQ(0, RunAppServer({"--upgrade-schema", "--db", db.Location()}, dir.Path() + "/up.log"));
  ASSERT_EQ(0, RunAppServer({"--upgrade-schema", "--db", db.Location()}, dir.Path() + "/up.log"))
      << "twice";
  EXPECT_EQ(Differences(db.Location()), std::make_pair(std::string("0"), std::string("0")));
  TServerProcess server(db.Location(), dir.Path() + "/served.log");
  auto client = Client(server.Port());
  EXPECT_EQ(Expected(db.Location(), "0002"), Served(client, "0002"));
  EXPECT_EQ(0, server.Stop());
}

// Two transactions that touch one item from different tables (an invoice of the item's order;
// the item's place in that order), committing at the same moment: each rebuild sees the other's
// write. Both are held at their commit by a third session holding the triggers' lock, then let
// go together.
TEST(PostgresEngine, ItemProgress_TwoWritersCommittingAtOnce_BothWritesAreSeen) {
  TOwnDemo db;
  const TTrackedItem item = FindTrackedItem(db.Location());
  struct TRace {
    std::string Name;
    std::string First, Second;  // each one transaction's writes
  };
  const std::string invoice =
      "INSERT INTO NOTAFISCAL (CDFILIAL, CDFORNECED, NRNOTAFISC, NRAUTOFORN, CDTIPOOPER, "
      "DTEMISSAO, VRNOTAFISC, CDOPERAPRO) SELECT CDFILIAL, CDFORNECED, 'T1', NRAUTOFORN, '01', "
      "DTAUTOFORN, 1, (SELECT MIN(CDOPERADOR) FROM OPERADOR) FROM AUTORIZACAOFORN" +
      item.OfOrder();
  const std::string intoOrder =
      "INSERT INTO ITEMAUTOFORN (CDFILIAL, NRAUTOFORN, CDFILLAN, NRSOLICMP, NRITEMSOLI, QTPRODAF, "
      "VRUNITAF, QTEFETENTRAF) VALUES ('" +
      item.OrderBranch + "', '" + item.Order + "', '" + item.Lan + "', '" + item.Request + "', " +
      item.Number + ", 1, 1, 0)";
  const std::vector<TRace> races = {
      {"an invoice of the order / the item into the order", invoice, intoOrder},
      {"the item into the order / an invoice of the order", intoOrder, invoice},
      {"the quotation concluded / the item into the quotation",
       "UPDATE COLETAPRECO SET DTCONCOLEPREC = DTABERTURA" + item.OfQuotation(),
       "UPDATE ITEMSOLICITACAO SET NRCOLEPRECO = '" + item.Quotation + "'" + item.Item()},
      {"the request to another branch / the item's status",
       "UPDATE SOLICITACAO SET CDFILIAL = '0002'" + item.OfRequest(),
       "UPDATE ITEMSOLICITACAO SET STATUS = 'C'" + item.Item()},
  };
  for (const TRace& race : races) {
    // Each race from the item out of its order, without an invoice, out of its quotation.
    db.Execute("DELETE FROM NOTAFISCAL" + item.OfOrder());
    db.Execute("DELETE FROM ITEMAUTOFORN" + item.Item());
    db.Execute("UPDATE COLETAPRECO SET DTCONCOLEPREC = NULL" + item.OfQuotation());
    db.Execute("UPDATE ITEMSOLICITACAO SET NRCOLEPRECO = NULL, STATUS = 'A'" + item.Item());
    db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '0001'" + item.OfRequest());

    auto holder = app::OpenWriteConnection(db.Location());
    holder->Execute("SELECT pg_advisory_lock(hashtext('ITEMSOLIANDAMENTO'))");
    auto first = app::OpenWriteConnection(db.Location());
    auto second = app::OpenWriteConnection(db.Location());
    first->Execute(("BEGIN; " + race.First).c_str());
    second->Execute(("BEGIN; " + race.Second).c_str());
    std::string failures[2];
    auto commit = [](app::TWriteConnection& connection, std::string& failure) {
      try {
        connection.Execute("COMMIT");
      } catch (const std::exception& error) {
        failure = error.what();
      }
    };
    std::thread committing[2] = {std::thread(commit, std::ref(*first), std::ref(failures[0])),
                                 std::thread(commit, std::ref(*second), std::ref(failures[1]))};
    // Both wait at their commit for the lock (pg_locks shows two waiting for it).
    bool bothWaiting = false;
    for (int i = 0; i < 200 && !bothWaiting; ++i) {
      bothWaiting = ValueAt(db.Location(),
                            "SELECT COUNT(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT "
                            "granted AND database = (SELECT oid FROM pg_database WHERE datname = "
                            "current_database())") == "2";
      if (!bothWaiting) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(bothWaiting) << race.Name;
    holder->Execute("SELECT pg_advisory_unlock(hashtext('ITEMSOLIANDAMENTO'))");
    for (auto& thread : committing) thread.join();
    EXPECT_EQ("", failures[0] + failures[1]) << race.Name;
    EXPECT_EQ(Differences(db.Location()), std::make_pair(std::string("0"), std::string("0")))
        << race.Name;
  }
}

}  // namespace
}  // namespace testing_app
