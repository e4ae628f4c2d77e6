// The items by requesting branch (ITEMSOLIFILIAL, app_server/db/branch_items.h), which the
// searches of a product range read: kept by the database's own triggers, so that each way a
// program writes requests and items is seen exactly at the server's next call, on each engine;
// and a database without it is refused at start, saying what to run, until that is run. On
// PostgreSQL also when a product's code changes while another transaction writes its items.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app_server/db/branch_items.h"
#include "app_server/db/database_writer.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;

std::vector<std::vector<std::string>> RowsAt(const std::string& location, const std::string& sql) {
  if (EngineUnderTest() == TEngine::Postgres) return PostgresQuery(location, sql);
  return SqlAt(location, sql);
}

std::vector<std::string> Column(const fw::TDataPacket& packet, const std::string& field) {
  const int index = packet.FieldIndex(field);
  std::vector<std::string> values;
  for (size_t row = 0; index >= 0 && row < packet.RowCount(); ++row)
    values.emplace_back(packet.Columns()[index].GetString(row));
  return values;
}

std::vector<std::string> FirstOf(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

// What a site's database holds and what its server answers for one product, compared after
// each write: GetItens of both branches, the branch grid, and the whole table against the join
// it stands for.
struct TProductSite {
  TOwnDemo Db;
  TTempDir Dir;
  std::unique_ptr<TServerProcess> Server;
  std::string Product, Code;  // CDPRODUTO and its CDARVPROD
  std::string Home, Away;     // two branches

  TProductSite() {
    const auto product = RowsAt(Db.Location(),
                                "SELECT P.CDPRODUTO, P.CDARVPROD FROM PRODUTO P WHERE EXISTS "
                                "(SELECT 1 FROM ITEMSOLICITACAO I WHERE I.CDPRODUTO = P.CDPRODUTO) "
                                "ORDER BY P.CDPRODUTO LIMIT 1");
    Product = product.at(0).at(0);
    Code = product.at(0).at(1);
    Home = "0001";
    Away = "0002";
    Server = std::make_unique<TServerProcess>(Db.Location(), Dir.Path() + "/server.log");
  }

  std::string Range() const {
    return "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE P.CDARVPROD >= '" + Code +
           "' AND P.CDARVPROD <= '" + Code + "'";
  }

  // Compares the server's answers with the definition's; `step` names the write.
  void Check(fw::TTcpAppServer& client, const std::string& step) {
    const std::vector<std::pair<std::string, TRemoteArg>> range = {
        {"stTCdProd", TRemoteArg::FromInOut("")},
        {"cdProdIni", TRemoteArg::FromString(Code)},
        {"cdProdFin", TRemoteArg::FromString(Code)}};
    for (const std::string& branch : {Home, Away}) {
      std::map<std::string, TRemoteArg> values(range.begin(), range.end());
      values.emplace("cdFilial", TRemoteArg::FromString(branch));
      auto args = Args("GetItens", values);
      const auto expected =
          RowsAt(Db.Location(),
                 "SELECT S.NRSOLICMP FROM SOLICITACAO S JOIN ITEMSOLICITACAO I ON I.CDFILLAN = "
                 "S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP " +
                     Range() + " AND S.CDFILIAL = '" + branch +
                     "' ORDER BY S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI");
      EXPECT_EQ(FirstOf(expected), Column(client.Invoke("GetItens", args).Data, "NRSOLICMP"))
          << step << ", branch " << branch;
    }
    auto grid = Args("GetFilSoliGD", std::map<std::string, TRemoteArg>(range.begin(), range.end()));
    EXPECT_EQ(FirstOf(RowsAt(Db.Location(),
                             "SELECT DISTINCT S.CDFILIAL FROM SOLICITACAO S JOIN ITEMSOLICITACAO "
                             "I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP " +
                                 Range() + " ORDER BY 1")),
              Column(client.Invoke("GetFilSoliGD", grid).Data, "CDFILIAL"))
        << step;
    const std::string definition = app::BranchItemsDefinition();
    const std::string table =
        "SELECT CDFILSOLI, CDARVPROD, CDFILLAN, NRSOLICMP, NRITEMSOLI, CDOPERSOLI FROM "
        "ITEMSOLIFILIAL";
    EXPECT_EQ("0", RowsAt(Db.Location(),
                          "SELECT COUNT(*) FROM (" + definition + " EXCEPT " + table + ") D")
                       .at(0)
                       .at(0))
        << step << ": rows missing from ITEMSOLIFILIAL";
    EXPECT_EQ("0", RowsAt(Db.Location(),
                          "SELECT COUNT(*) FROM (" + table + " EXCEPT " + definition + ") D")
                       .at(0)
                       .at(0))
        << step << ": rows of ITEMSOLIFILIAL that are no item's";
  }
};

TEST(BranchItems, EachWriteOfRequestsAndItems_IsSeenAtTheNextCall_ThroughAProductRange) {
  TProductSite site;
  auto client = Client(site.Server->Port());
  site.Check(client, "as made");
  // A request of the home branch and its item of the product, as another program writes them
  // (the request first, as its foreign key asks).
  const std::string request =
      "INSERT INTO SOLICITACAO SELECT CDFILLAN, 'T1', '" + site.Home +
      "', CDOPERLANC, CDOPERSOLI, DTHRLANCSOL FROM SOLICITACAO ORDER BY CDFILLAN, NRSOLICMP "
      "LIMIT 1";
  const std::string item =
      "INSERT INTO ITEMSOLICITACAO SELECT CDFILLAN, 'T1', 7, '" + site.Product +
      "', CDDESTSOLI, QTSOLIPROD, DTPROGENTR, STATUS, CDFILIAL, NULL, NULL FROM ITEMSOLICITACAO "
      "WHERE CDFILLAN = (SELECT MIN(CDFILLAN) FROM SOLICITACAO) ORDER BY NRSOLICMP LIMIT 1";
  const std::string ofT1 = " WHERE NRSOLICMP = 'T1'";
  site.Db.Execute(request);
  site.Check(client, "a new request without items");
  site.Db.Execute(item);
  site.Check(client, "its item inserted");
  site.Db.Execute("UPDATE ITEMSOLICITACAO SET CDPRODUTO = (SELECT MAX(CDPRODUTO) FROM PRODUTO)" +
                  ofT1);
  site.Check(client, "the item's product changed away");
  site.Db.Execute("UPDATE ITEMSOLICITACAO SET CDPRODUTO = '" + site.Product + "'" + ofT1);
  site.Check(client, "the item's product changed back");
  site.Db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '" + site.Away + "'" + ofT1);
  site.Check(client, "the request moved to another branch");
  site.Db.Execute(
      "UPDATE SOLICITACAO SET CDOPERSOLI = (SELECT MIN(CDOPERADOR) FROM OPERADOR WHERE "
      "CDOPERADOR <> SOLICITACAO.CDOPERSOLI)" +
      ofT1);
  site.Check(client, "the request given another requester");
  site.Db.Execute("UPDATE ITEMSOLICITACAO SET NRITEMSOLI = 8" + ofT1);
  site.Check(client, "the item renumbered");
  site.Db.Execute("UPDATE SOLICITACAO SET DTHRLANCSOL = DTHRLANCSOL" + ofT1);
  site.Check(client, "the request written again unchanged");
  site.Db.Execute("DELETE FROM ITEMSOLICITACAO" + ofT1);
  site.Check(client, "the item deleted");
  site.Db.Execute(item);
  site.Check(client, "an item inserted again");
  // An existing item of the home branch moved to the product, and a whole request's items
  // deleted with it in one transaction.
  const auto existing =
      RowsAt(site.Db.Location(),
             "SELECT I.CDFILLAN, I.NRSOLICMP, I.NRITEMSOLI FROM SOLICITACAO S "
             "JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND "
             "I.NRSOLICMP = S.NRSOLICMP WHERE S.CDFILIAL = '" +
                 site.Home + "' AND I.CDPRODUTO <> '" + site.Product + "' ORDER BY 2 DESC LIMIT 1")
          .at(0);
  const std::string ofExisting = " WHERE CDFILLAN = '" + existing[0] + "' AND NRSOLICMP = '" +
                                 existing[1] + "' AND NRITEMSOLI = " + existing[2];
  site.Db.Execute("UPDATE ITEMSOLICITACAO SET CDPRODUTO = '" + site.Product + "'" + ofExisting);
  site.Check(client, "an item of the demo given the product");
  site.Db.Execute("BEGIN; DELETE FROM ITEMSOLICITACAO" + ofT1 + "; DELETE FROM SOLICITACAO" + ofT1 +
                  "; COMMIT");
  site.Check(client, "a request deleted with its items");

  // The product given another code in the tree, out of the range (its items leave the answers)
  // and back.
  const std::string ofProduct = " WHERE CDPRODUTO = '" + site.Product + "'";
  site.Db.Execute("UPDATE PRODUTO SET CDARVPROD = '~" + site.Code + "'" + ofProduct);
  site.Check(client, "the product recoded out of the range");
  site.Db.Execute("UPDATE PRODUTO SET CDARVPROD = '" + site.Code + "'" + ofProduct);
  site.Check(client, "the product recoded back");
  site.Db.Execute("UPDATE PRODUTO SET NMPRODUTO = NMPRODUTO || ' novo'" + ofProduct);
  site.Check(client, "the product renamed");

  if (EngineUnderTest() == TEngine::Sqlite) {
    // What SQLite lets a program do besides (its foreign keys are off unless asked for): an item
    // before its request, a request deleted under its items, INSERT OR REPLACE, which removes
    // the row it replaces without the delete triggers.
    site.Db.Execute(item);
    site.Check(client, "an item without its request");
    site.Db.Execute(request);
    site.Check(client, "its request inserted after it");
    site.Db.Execute("DELETE FROM SOLICITACAO" + ofT1);
    site.Check(client, "the request deleted under its item");
    site.Db.Execute(request);
    site.Check(client, "the request back");
    site.Db.Execute("INSERT OR REPLACE INTO SOLICITACAO SELECT CDFILLAN, NRSOLICMP, '" + site.Away +
                    "', CDOPERLANC, CDOPERSOLI, DTHRLANCSOL FROM SOLICITACAO" + ofT1);
    site.Check(client, "the request replaced, in another branch");
    site.Db.Execute(
        "INSERT OR REPLACE INTO ITEMSOLICITACAO SELECT CDFILLAN, NRSOLICMP, NRITEMSOLI, (SELECT "
        "MAX(CDPRODUTO) FROM PRODUTO), CDDESTSOLI, QTSOLIPROD, DTPROGENTR, STATUS, CDFILIAL, "
        "NRCOLEPRECO, NRCOMPRA FROM ITEMSOLICITACAO" +
        ofT1);
    site.Check(client, "the item replaced, of another product");
    // A product deleted under its items and inserted again; replaced, with another code.
    site.Db.Execute("CREATE TABLE P0 AS SELECT * FROM PRODUTO" + ofProduct +
                    "; DELETE FROM PRODUTO" + ofProduct);
    site.Check(client, "the product deleted under its items");
    site.Db.Execute("INSERT INTO PRODUTO SELECT * FROM P0; DROP TABLE P0");
    site.Check(client, "the product inserted again");
    site.Db.Execute(
        "INSERT OR REPLACE INTO PRODUTO SELECT CDPRODUTO, '~' || CDARVPROD, NMPRODUTO, "
        "SGUNIDADE, CDMARCA, VRCMPANTERIOR FROM PRODUTO" +
        ofProduct);
    site.Check(client, "the product replaced, of another code");
    site.Db.Execute("UPDATE PRODUTO SET CDPRODUTO = 'Z9', CDARVPROD = '" + site.Code + "'" +
                    ofProduct);
    site.Check(client, "the product's own code changed, its items left without it");
  } else {
    // TRUNCATE passes by the row triggers: the statement's own empty the table.
    site.Db.Execute("TRUNCATE ITEMSOLICITACAO CASCADE");
    site.Check(client, "every item truncated");
    EXPECT_EQ("0", RowsAt(site.Db.Location(), "SELECT COUNT(*) FROM ITEMSOLIFILIAL").at(0).at(0));
  }
  EXPECT_EQ(0, site.Server->Stop());
}

TEST(BranchItems, ADatabaseWithoutThem_IsRefusedAtStart_UntilUpgradeSchema) {
  TOwnDemo db;
  TTempDir dir;
  const std::string log = dir.Path() + "/server.log";
  auto refusal = [&] {
    const TStartAttempt start = TryToStart(db.Location(), log);
    EXPECT_EQ(1, start.Status);
    return start.Said;
  };
  if (EngineUnderTest() == TEngine::Postgres)
    db.Execute("ALTER TABLE SOLICITACAO DISABLE TRIGGER ITEMSOLIFILIAL_SOLICITACAO");
  else
    db.Execute("DROP TRIGGER ITEMSOLIFILIAL_SOLICITACAO_UPDATE");
  std::string text = refusal();
  EXPECT_NE(std::string::npos, text.find("sem todos os gatilhos")) << text;
  EXPECT_NE(std::string::npos, text.find("app-server --upgrade-schema --db")) << text;

  if (EngineUnderTest() == TEngine::Postgres) {
    // A table of an earlier version, its triggers all there: without the requester. (SQLite
    // will not drop a column that triggers name.)
    TOwnDemo earlier;
    earlier.Execute("ALTER TABLE ITEMSOLIFILIAL DROP COLUMN CDOPERSOLI");
    const TStartAttempt start = TryToStart(earlier.Location(), dir.Path() + "/earlier.log");
    EXPECT_EQ(1, start.Status);
    EXPECT_NE(std::string::npos, start.Said.find("app-server --upgrade-schema --db")) << start.Said;
  }

  db.Execute("DROP TABLE ITEMSOLIFILIAL");
  text = refusal();
  EXPECT_NE(std::string::npos, text.find("não tem a tabela ITEMSOLIFILIAL")) << text;
  EXPECT_NE(std::string::npos, text.find("app-server --upgrade-schema --db")) << text;

  // Installed from the rows there (with a change made meanwhile, which no trigger saw).
  db.Execute(
      "UPDATE SOLICITACAO SET CDFILIAL = '0002' WHERE NRSOLICMP = (SELECT MIN(NRSOLICMP) "
      "FROM SOLICITACAO WHERE CDFILIAL = '0001')");
  ASSERT_EQ(0, RunAppServer({"--upgrade-schema", "--db", db.Location()}, dir.Path() + "/up.log"));
  ASSERT_EQ(0, RunAppServer({"--upgrade-schema", "--db", db.Location()}, dir.Path() + "/up.log"))
      << "twice";
  EXPECT_EQ("0", RowsAt(db.Location(), "SELECT COUNT(*) FROM (" +
                                           std::string(app::BranchItemsDefinition()) +
                                           " EXCEPT SELECT CDFILSOLI, CDARVPROD, CDFILLAN, "
                                           "NRSOLICMP, NRITEMSOLI, CDOPERSOLI FROM "
                                           "ITEMSOLIFILIAL) D")
                     .at(0)
                     .at(0));
  TServerProcess server(db.Location(), dir.Path() + "/served.log");
  EXPECT_EQ(0, server.Stop());
}

// Rows of ITEMSOLIFILIAL that its definition does not give, and the reverse: "0 0" when kept.
std::string Disagreement(const std::string& location) {
  const std::string definition = app::BranchItemsDefinition();
  const std::string table =
      "SELECT CDFILSOLI, CDARVPROD, CDFILLAN, NRSOLICMP, NRITEMSOLI, CDOPERSOLI FROM "
      "ITEMSOLIFILIAL";
  return RowsAt(location, "SELECT COUNT(*) FROM (" + definition + " EXCEPT " + table + ") D")
             .at(0)
             .at(0) +
         " " +
         RowsAt(location, "SELECT COUNT(*) FROM (" + table + " EXCEPT " + definition + ") D")
             .at(0)
             .at(0);
}

// A product given another code while a second transaction writes one of its items, or the
// request of some: whichever starts first, the other waits for its commit and then reads what it
// committed, so that no row keeps the code of before (the item's trigger, and the request's,
// read the product FOR SHARE; without it the recode would not see the other's rows, nor they its
// code).
TEST(PostgresEngine, BranchItems_AProductRecodedWhileItsItemsAreWritten_NoRowKeepsTheOldCode) {
  TOwnDemo db;
  // Without the items' foreign key to PRODUTO (a site's may have none), whose check would hold
  // the recode back for an item's insert by itself: the triggers' own locks must do it.
  db.Execute(
      "DO $$ DECLARE c text; BEGIN SELECT conname INTO c FROM pg_constraint WHERE conrelid = "
      "'itemsolicitacao'::regclass AND confrelid = 'produto'::regclass; EXECUTE 'ALTER TABLE "
      "ITEMSOLICITACAO DROP CONSTRAINT ' || quote_ident(c); END $$");
  const auto product =
      RowsAt(db.Location(),
             "SELECT P.CDPRODUTO, P.CDARVPROD, I.CDFILLAN, I.NRSOLICMP FROM PRODUTO P JOIN "
             "ITEMSOLICITACAO I ON I.CDPRODUTO = P.CDPRODUTO ORDER BY 1, 3, 4 LIMIT 1")
          .at(0);
  const std::string ofProduct = " WHERE CDPRODUTO = '" + product[0] + "'";
  const std::string ofRequest =
      " WHERE CDFILLAN = '" + product[2] + "' AND NRSOLICMP = '" + product[3] + "'";
  struct TRace {
    std::string Name, Other;  // the other transaction's write
    bool RecodeFirst;
  };
  const std::string newItem =
      "INSERT INTO ITEMSOLICITACAO SELECT CDFILLAN, NRSOLICMP, 900, CDPRODUTO, CDDESTSOLI, "
      "QTSOLIPROD, DTPROGENTR, STATUS, CDFILIAL, NULL, NULL FROM ITEMSOLICITACAO" +
      ofRequest + " AND CDPRODUTO = '" + product[0] + "' LIMIT 1";
  const std::string moveRequest = "UPDATE SOLICITACAO SET CDFILIAL = '0002'" + ofRequest;
  const std::vector<TRace> races = {{"an item of it inserted, then the recode", newItem, false},
                                    {"the recode, then an item of it inserted", newItem, true},
                                    {"a request of it moved, then the recode", moveRequest, false},
                                    {"the recode, then a request of it moved", moveRequest, true}};
  int round = 0;
  for (const TRace& race : races) {
    db.Execute("DELETE FROM ITEMSOLICITACAO" + ofRequest + " AND NRITEMSOLI = 900");
    db.Execute("UPDATE SOLICITACAO SET CDFILIAL = '0001'" + ofRequest);
    const std::string recode = "UPDATE PRODUTO SET CDARVPROD = '~" + std::to_string(++round) +
                               product[1] + "'" + ofProduct;
    auto first = app::OpenWriteConnection(db.Location());
    auto second = app::OpenWriteConnection(db.Location());
    first->Execute(("BEGIN; " + (race.RecodeFirst ? recode : race.Other)).c_str());
    std::string failure;
    std::thread waiting([&] {
      try {
        second->Execute(
            ("BEGIN; " + (race.RecodeFirst ? race.Other : recode) + "; COMMIT").c_str());
      } catch (const std::exception& error) {
        failure = error.what();
      }
    });
    // The second waits for the first's lock before the first commits.
    bool waits = false;
    for (int i = 0; i < 200 && !waits; ++i) {
      waits = RowsAt(db.Location(),
                     "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND "
                     "datname = current_database()")
                  .at(0)
                  .at(0) == "1";
      if (!waits) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(waits) << race.Name;
    first->Execute("COMMIT");
    waiting.join();
    EXPECT_EQ("", failure) << race.Name;
    EXPECT_EQ("0 0", Disagreement(db.Location())) << race.Name;
  }
}

}  // namespace
}  // namespace testing_app
