// The server's pure parts: selection lists, dates, the demo data, and the documentation that
// quotes the statements.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "app_server/db/iso_date.h"
#include "app_server/db/selection.h"
#include "app_server/demo/demo_data.h"
#include "app_server/demo/demo_generator.h"
#include "app_server/rpc/rpc.h"
#include "app_server/tracking/queries.h"
#include "app_server/tracking/tracking_service.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

TEST(SelectionList, Parse_ReadsQuotedCodesWithDoubledQuotes) {
  struct TCase {
    const char* Text;
    std::vector<std::string> Codes;
  };
  const TCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"'0001'", {"0001"}},
      {"'0001','0003'", {"0001", "0003"}},
      {"'A01','B''2'", {"A01", "B'2"}},
      {"''", {""}},
      {"''''", {"'"}},
      {"'a,b',' c '", {"a,b", " c "}},
      {"'x'' OR ''1''=''1'", {"x' OR '1'='1"}},
  };
  for (const auto& entry : cases) {
    const app::TSelectionParse parsed = app::ParseSelectionList(entry.Text);
    EXPECT_TRUE(parsed.Ok) << entry.Text;
    EXPECT_EQ(entry.Codes, parsed.Codes) << entry.Text;
  }
}

TEST(SelectionList, Parse_RefusesAnythingElseAndSaysWhere) {
  struct TCase {
    const char* Text;
    size_t Position;
  };
  const TCase cases[] = {
      {"0001", 1},           {"'0001", 6},   {"'0001',", 8},       {",'0001'", 1},
      {"'0001' ,'0002'", 7}, {"'0001''", 8}, {"'0001';'0002'", 7}, {" '0001'", 1},
  };
  for (const auto& entry : cases) {
    const app::TSelectionParse parsed = app::ParseSelectionList(entry.Text);
    EXPECT_FALSE(parsed.Ok) << entry.Text;
    EXPECT_EQ(entry.Position, parsed.ErrorPosition) << entry.Text;
  }
}

TEST(SelectionList, Json_EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ("[]", app::CodesToJsonArray({}));
  EXPECT_EQ(R"(["0001","a\"b","c\\d","\u0001","São"])",
            app::CodesToJsonArray({"0001", "a\"b", "c\\d", "\x01", "São"}));
}

TEST(SelectionList, Parse_PastTheCodeLimit_CountsThemAllAndKeepsNone) {
  const app::TSelectionParse tooMany = app::ParseSelectionList("'1','2','3','4'", 3);
  EXPECT_FALSE(tooMany.Ok);
  EXPECT_TRUE(tooMany.TooMany);
  EXPECT_EQ(4u, tooMany.Count);
  EXPECT_TRUE(tooMany.Codes.empty());
  const app::TSelectionParse atTheLimit = app::ParseSelectionList("'1','2','3'", 3);
  EXPECT_TRUE(atTheLimit.Ok);
  EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), atTheLimit.Codes);
  // A broken layout is reported as such, also past the limit.
  const app::TSelectionParse broken = app::ParseSelectionList("'1','2','3','4", 3);
  EXPECT_FALSE(broken.TooMany);
  EXPECT_EQ(15u, broken.ErrorPosition);
}

TEST(ClientText, Quote_EscapesControlsAndBadUtf8AndCutsAtTheLimit) {
  const std::pair<std::string, std::string> cases[] = {
      {"GetItens", "GetItens"},
      {"Get\nItens\r\t", "Get\\nItens\\r\\t"},
      {"S\xc3\xa3o Paulo \xe2\x82\xac", "S\xc3\xa3o Paulo \xe2\x82\xac"},
      {std::string("a\x00"
                   "b",
                   3),
       "a\\x00b"},
      {"\x1b[31m\x7f", "\\x1b[31m\\x7f"},
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xc0\xaf", "\\xc0\\xaf"},           // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"\xe2\x82", "\\xe2\\x82"},  // cut short
      {"\xc2\x85|\xe2\x80\xa8|\xe2\x80\xa9", "\\u0085|\\u2028|\\u2029"},
  };
  for (const auto& [text, quoted] : cases) {
    EXPECT_EQ(quoted, app::QuoteClientText(text)) << text;
    EXPECT_EQ(text == quoted, app::IsPlainText(text)) << text;
  }
  EXPECT_EQ("aaaaaaaaaa…", app::QuoteClientText(std::string(100, 'a'), 10));
  EXPECT_EQ("S…", app::QuoteClientText("S\xc3\xa3o", 2));  // never half a character
  EXPECT_EQ("Falha: 'x\\n'", app::SafeMessage("Falha: 'x\n'"));
  // Quotes and backslashes of the client's are escaped, so that quoted text cannot close its
  // quotes; the server's own messages keep theirs.
  EXPECT_EQ("admin\\\": aceito", app::QuoteClientText("admin\": aceito"));
  EXPECT_EQ("a\\\\\\\"", app::QuoteClientText("a\\\""));
  EXPECT_EQ("Método \"x\"", app::SafeMessage("Método \"x\""));
}

// A connection that once read a large request keeps the parse buffer it grew to; Compact gives it
// back between messages, and never while a message is under way.
TEST(RequestDecoder, Compact_GivesBackTheBufferOfALargeMessageOnlyBetweenMessages) {
  auto feed = [](app::TRequestDecoder& decoder, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
      const size_t count = std::min<size_t>(64 * 1024, bytes.size() - at);
      std::memcpy(decoder.Room(count), bytes.data() + at, count);
      decoder.Received(count);
      at += count;
    }
  };
  const std::string large =
      RequestBytes(1, Full("GetItemCota"),
                   {fw::TRemoteArg::FromString(std::string(10 * 1024 * 1024, '0')),
                    fw::TRemoteArg::FromString("1"), fw::TRemoteArg::FromString("1")});
  const std::string small = RequestBytes(2, Full("GetFilSoli"), {});
  app::TRequestDecoder decoder;
  feed(decoder, large);
  EXPECT_EQ(app::TRequestDecoder::TStatus::Call, decoder.Next().Status);
  EXPECT_EQ(app::TRequestDecoder::TStatus::NeedMore, decoder.Next().Status);
  EXPECT_GT(decoder.RoomSize(), 1024u * 1024);  // grown for the large one
  decoder.Compact();
  EXPECT_LE(decoder.RoomSize(), 256u * 1024);

  feed(decoder, small.substr(0, 10));
  EXPECT_EQ(app::TRequestDecoder::TStatus::NeedMore, decoder.Next().Status);
  decoder.Compact();  // a message under way: kept
  feed(decoder, small.substr(10));
  const app::TRequestDecoder::TNext next = decoder.Next();
  EXPECT_EQ(app::TRequestDecoder::TStatus::Call, next.Status);
  EXPECT_EQ(2u, next.Request.MsgId);
}

TEST(IsoDates, ConvertBothWaysInEveryStoredForm) {
  const double march5 = fw::EncodeDateTime({2024, 3, 5, 14, 7, 9});
  EXPECT_EQ("2024-03-05 14:07:09", app::DaysToIsoText(march5));
  EXPECT_NEAR(march5, *app::IsoTextToDays("2024-03-05 14:07:09"), 1e-9);
  EXPECT_NEAR(march5, *app::IsoTextToDays("2024-03-05T14:07:09"), 1e-9);
  EXPECT_NEAR(march5 + 0.25 / 86400, *app::IsoTextToDays("2024-03-05 14:07:09.25"), 1e-9);
  EXPECT_NEAR(march5 - 9.0 / 86400, *app::IsoTextToDays("2024-03-05 14:07"), 1e-9);
  EXPECT_EQ(fw::EncodeDateTime({2024, 3, 5}), *app::IsoTextToDays("2024-03-05"));
  // Before 30/12/1899 the time still counts forwards in the day.
  EXPECT_NEAR(-1.25 - 0.5 / 86400, *app::IsoTextToDays("1899-12-29 06:00:00.5"), 1e-9);
  for (const char* bad : {"2024-02-30", "2024-3-5", "2024-03-05 25:00:00", "", "hoje",
                          "2024-03-05 14", "2024-03-05 14:07:", "2024-03-05 14:07:09.",
                          "2024-03-05 14:07:09.2x", "2024-03-05x14:07:09"})
    EXPECT_FALSE(app::IsoTextToDays(bad).has_value()) << bad;
}

TEST(IsoDates, DaysOfTheWireAndTheirDates) {
  EXPECT_EQ(45356, app::WireDay(fw::EncodeDateTime({2024, 3, 5, 14, 7, 9})));
  EXPECT_EQ(-1, app::WireDay(-1.25));  // 29/12/1899 06:00
  EXPECT_EQ("2024-03-05", app::DayText(45356));
  EXPECT_EQ("1899-12-30", app::DayText(0));
  EXPECT_EQ("0001-01-01", app::DayText(app::kFirstWireDay));
  EXPECT_EQ("9999-12-31", app::DayText(app::kLastWireDay));
  EXPECT_EQ("10000-01-01", app::DayText(app::kLastWireDay + 1));
  EXPECT_TRUE(app::IsWireDateInRange(0));
  EXPECT_TRUE(app::IsWireDateInRange(-693593));
  EXPECT_FALSE(app::IsWireDateInRange(2958466));
  EXPECT_FALSE(app::IsWireDateInRange(std::nan("")));
}

TEST(ProductCodes, Normalize_DropsBlanksAroundAndMaskDots) {
  EXPECT_EQ("01002003", app::NormalizeProductCode(" 01.002.003 "));
  EXPECT_EQ("01002003", app::NormalizeProductCode("01002003"));
  EXPECT_EQ("", app::NormalizeProductCode("  "));
  EXPECT_EQ("0 1", app::NormalizeProductCode("0 1"));
}

std::string Dump(const std::string& db) {
  std::ostringstream out;
  for (const char* table : {"FILIAL", "OPERADOR", "PRODUTO", "FORNECEDOR", "SOLICITACAO",
                            "ITEMSOLICITACAO", "APROVACAOGERENTE", "COLETAPRECO", "ITEMCOLETAPRECO",
                            "AUTORIZACAOFORN", "ITEMAUTOFORN", "NOTAFISCAL"}) {
    sqlite3* handle = nullptr;
    sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(handle,
                       (std::string("SELECT * FROM ") + table + " ORDER BY 1, 2, 3").c_str(), -1,
                       &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        out << (text ? text : "<null>") << '|';
      }
      out << '\n';
    }
    sqlite3_finalize(statement);
    sqlite3_close(handle);
  }
  return out.str();
}

TEST(DemoData, SameSeedGivesTheSameDataAndAnotherSeedOther) {
  TTempDir dir;
  const auto first = app::CreateDemoDatabase(dir.Path() + "/a.db", {3, 2});
  app::CreateDemoDatabase(dir.Path() + "/b.db", {3, 2});
  app::CreateDemoDatabase(dir.Path() + "/c.db", {4, 2});
  EXPECT_EQ(160, first.Requests);
  EXPECT_EQ(Dump(dir.Path() + "/a.db"), Dump(dir.Path() + "/b.db"));
  EXPECT_NE(Dump(dir.Path() + "/a.db"), Dump(dir.Path() + "/c.db"));
}

// A demo past scale 12,499 has more than 999,999 requests in a year: "2023" and a seventh digit
// made eleven characters, which SQLite stored and PostgreSQL's VARCHAR(10) refused.
TEST(DemoData, RequestNumbersFitTheirColumnAndStayUniqueAndOrderedPastAMillionAYear) {
  EXPECT_EQ("2023000001", app::demo::RequestNumber(2023, 1, false));
  EXPECT_EQ("2023999999", app::demo::RequestNumber(2023, 999999, false));
  EXPECT_EQ("2300000001", app::demo::RequestNumber(2023, 1, true));
  EXPECT_EQ("2304000000", app::demo::RequestNumber(2023, 4000000, true));
  const std::string lastOfYear = app::demo::RequestNumber(2023, 4000000, true);
  const std::string firstOfNext = app::demo::RequestNumber(2024, 1, true);
  EXPECT_EQ(10u, lastOfYear.size());
  EXPECT_LT(lastOfYear, firstOfNext);
}

TEST(DemoData, RepresentsEveryStatusApprovalAndQuotationState) {
  EXPECT_EQ("1,2,3,4,5,7,A,B,C,D",
            SqlValue("SELECT group_concat(STATUS) FROM (SELECT DISTINCT STATUS FROM "
                     "ITEMSOLICITACAO ORDER BY 1)"));
  EXPECT_EQ("N,P,S", SqlValue("SELECT group_concat(IDAPROVPRGER) FROM (SELECT DISTINCT "
                              "IDAPROVPRGER FROM APROVACAOGERENTE ORDER BY 1)"));
  EXPECT_EQ("A,C,X", SqlValue("SELECT group_concat(IDSITUCOLETA) FROM (SELECT DISTINCT "
                              "IDSITUCOLETA FROM COLETAPRECO ORDER BY 1)"));
  EXPECT_EQ("6", SqlValue("SELECT COUNT(*) FROM FILIAL"));
  // Product codes: 8 digits without the mask's literals.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM PRODUTO WHERE length(CDARVPROD) <> 8 OR "
                          "CDARVPROD GLOB '*[^0-9]*'"));
  // Items that reached an invoice have one, with its purchase order.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM ITEMSOLICITACAO I LEFT JOIN ITEMAUTOFORN AI USING "
                          "(CDFILLAN, NRSOLICMP, NRITEMSOLI) LEFT JOIN NOTAFISCAL N ON "
                          "N.CDFILIAL = AI.CDFILIAL AND N.NRAUTOFORN = AI.NRAUTOFORN WHERE "
                          "I.STATUS IN ('1', '2', '4') AND N.NRNOTAFISC IS NULL"));
  // Nothing is delivered beyond what was ordered.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM ITEMAUTOFORN WHERE QTEFETENTRAF > QTPRODAF"));
  // Every step comes after the one before it.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM APROVACAOGERENTE A JOIN SOLICITACAO S USING "
                          "(CDFILLAN, NRSOLICMP) WHERE A.DTAPRSOLPRODGER < S.DTHRLANCSOL"));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM COLETAPRECO WHERE DTCONCOLEPREC < DTABERTURA"));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM AUTORIZACAOFORN A JOIN COMPRA C USING (CDFILIAL, "
                          "NRCOMPRA) WHERE A.DTAUTOFORN < C.DTCOMPRA"));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM NOTAFISCAL N JOIN AUTORIZACAOFORN A USING "
                          "(CDFILIAL, NRAUTOFORN) WHERE N.DTEMISSAO < A.DTAUTOFORN OR "
                          "N.DTENTRSAID < N.DTEMISSAO OR N.DTAPROVACAO < N.DTENTRSAID"));
}

TEST(DemoData, PurchaseOrdersGoToASupplierWhoQuotedEachProductAtItsQuotedPrice) {
  // The AF's supplier quoted the item's product in the item's quotation, the cheapest to do so,
  // and the AF's unit price is that quote.
  EXPECT_EQ("0",
            SqlValue("SELECT COUNT(*) FROM ITEMAUTOFORN AI JOIN AUTORIZACAOFORN A USING (CDFILIAL, "
                     "NRAUTOFORN) JOIN ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP, NRITEMSOLI) "
                     "LEFT JOIN ITEMCOLETAPRECO Q ON Q.CDFILIAL = I.CDFILIAL AND Q.NRCOLEPRECO = "
                     "I.NRCOLEPRECO AND Q.CDPRODUTO = I.CDPRODUTO AND Q.CDFORNECED = A.CDFORNECED "
                     "WHERE Q.VRPRECUNIITM IS NULL OR Q.VRPRECUNIITM <> AI.VRUNITAF OR "
                     "Q.VRPRECUNIITM > (SELECT MIN(M.VRPRECUNIITM) FROM ITEMCOLETAPRECO M WHERE "
                     "M.CDFILIAL = Q.CDFILIAL AND M.NRCOLEPRECO = Q.NRCOLEPRECO AND M.CDPRODUTO = "
                     "Q.CDPRODUTO)"));
  // One AF per supplier of a purchase, and some purchases need more than one.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM (SELECT 1 FROM AUTORIZACAOFORN GROUP BY CDFILIAL, "
                          "NRCOMPRA, CDFORNECED HAVING COUNT(*) > 1)"));
  EXPECT_NE("0", SqlValue("SELECT COUNT(*) FROM (SELECT 1 FROM AUTORIZACAOFORN GROUP BY CDFILIAL, "
                          "NRCOMPRA HAVING COUNT(*) > 1)"));
  // Every AF has items, its total is theirs, and each of its invoices covers only it.
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM AUTORIZACAOFORN A WHERE NOT EXISTS (SELECT 1 FROM "
                          "ITEMAUTOFORN AI WHERE AI.CDFILIAL = A.CDFILIAL AND AI.NRAUTOFORN = "
                          "A.NRAUTOFORN)"));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM AUTORIZACAOFORN A WHERE abs(A.VRTOTALAF - (SELECT "
                          "SUM(AI.QTPRODAF * AI.VRUNITAF) FROM ITEMAUTOFORN AI WHERE AI.CDFILIAL = "
                          "A.CDFILIAL AND AI.NRAUTOFORN = A.NRAUTOFORN)) > 0.005"));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM NOTAFISCAL N JOIN AUTORIZACAOFORN A USING "
                          "(CDFILIAL, NRAUTOFORN) WHERE N.CDFORNECED <> A.CDFORNECED"));
}

// Suppliers quote, and so sell, the products of their own line: a paper seller quotes the office
// supplies, not a network cable. Each line has the bidders a quotation asks for (two to four).
TEST(DemoData, SuppliersQuoteOnlyTheProductsOfTheirOwnLine) {
  // The product's line from its tree code (group, then the item in the group: group 4 is
  // electrical material up to its fifth item, hardware after), the supplier's from its name.
  const std::string line =
      "CASE substr(P.CDARVPROD, 1, 2) WHEN '01' THEN 'Papéis' WHEN '02' THEN 'Limpeza' "
      "WHEN '03' THEN 'Informática' WHEN '04' THEN CASE WHEN CAST(substr(P.CDARVPROD, 3, 3) AS "
      "INTEGER) <= 5 THEN 'Materiais Elétricos' ELSE 'Ferragens' END WHEN '05' THEN 'EPI' "
      "WHEN '06' THEN 'Alimentos' ELSE 'Embalagens' END";
  std::string query =
      "SELECT COUNT(*) FROM ITEMCOLETAPRECO Q JOIN PRODUTO P USING (CDPRODUTO) JOIN FORNECEDOR F "
      "USING (CDFORNECED) WHERE instr(F.NMRAZSOCFORN, ' de ' || (";
  query += line;
  query += ") || ' ') = 0";
  EXPECT_NE("0", SqlValue("SELECT COUNT(*) FROM ITEMCOLETAPRECO"));
  EXPECT_EQ("0", SqlValue(query));
  EXPECT_EQ("0", SqlValue("SELECT COUNT(*) FROM (SELECT 1 FROM ITEMCOLETAPRECO GROUP BY CDFILIAL, "
                          "NRCOLEPRECO, CDPRODUTO HAVING COUNT(*) < 2)"));
}

// The page shows each method's statement, and for a filtered search each form of its
// statements with every criterion it takes restricted (a call's statement is its form without
// the lines of the criteria it leaves open), exactly as the server runs them.
TEST(Documentation, QuotesEveryStatementAsTheServerRunsIt) {
  std::ifstream file(std::string(SOURCE_DIR) + "/docs/service.md");
  std::stringstream text;
  text << file.rdbuf();
  auto shape = [](const std::string& criteria) {
    app::TFilterShape made;
    made.RequestDates = criteria.find("request-dates") != std::string::npos;
    made.DeliveryDates = criteria.find("delivery-dates") != std::string::npos;
    made.BranchList = criteria.find("branch-list") != std::string::npos;
    made.RequestList = criteria.find("request-list") != std::string::npos;
    made.ProductFrom = made.ProductTo = criteria.find("products") != std::string::npos;
    return made;
  };
  const std::vector<std::pair<std::string, std::string>> forms = {
      {"GetFilSoli", ""},
      {"GetNrSolicita", "request-dates delivery-dates branch-list"},
      {"GetNrSolicita", "request-dates delivery-dates"},
      {"GetNrSolicita", "delivery-dates"},
      {"GetFilSoliGD", "request-dates delivery-dates branch-list products"},
      {"GetFilSoliGD", "request-dates delivery-dates branch-list request-list products"},
      {"GetFilSoliGD", "delivery-dates products"},
      {"GetFilSoliGD", "products"},
      {"GetItens", "request-dates delivery-dates request-list products"},
      {"GetItens", "request-dates delivery-dates products"},
      {"GetItens", "delivery-dates products"},
      {"GetDestSolGere", ""},
      {"GetItemProduto", "request-dates products"},
      {"GetItemCota", ""}};
  std::set<std::string> methods;
  for (const auto& [method, criteria] : forms) {
    methods.insert(method);
    for (const auto dialect : {app::TDialect::Sqlite, app::TDialect::Postgres}) {
      const char* sql = app::SqlFor(method, dialect, shape(criteria));
      ASSERT_NE(nullptr, sql) << method;
      EXPECT_NE(std::string::npos, text.str().find(std::string("```sql\n") + sql + "\n```"))
          << method << " (" << criteria << ") is not quoted as is";
    }
  }
  EXPECT_EQ(methods.size(), service::Methods().size());
}

}  // namespace
}  // namespace testing_app
