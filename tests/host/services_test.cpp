// The host services the module calls: messages, result check, busy indicator, pickers, record
// search, product validation, date edit, service connection.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <tuple>

#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/host/host_controls.h"
#include "framework/host/net_connection.h"
#include "framework/host/services.h"
#include "framework/testing/fake_platform.h"
#include "framework/ui/dbcontrols.h"
#include "protocol/datetime.h"

namespace fw {
namespace {

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitApplication();
    Application->SetPlatform(&platform);
    form = new TForm(Application, "frm");
  }
  void TearDown() override { DoneApplication(); }
  TFakePlatform platform;
  TForm* form = nullptr;
};

TEST_F(ServicesTest, Msg_FindsTextByKeyAndGivesEmptyForAbsentKeyOrEntryWithoutBar) {
  TMessages messages(nullptr);
  messages.Items = {"Fili_deve|Filial deve ser informada.", "EDI", "Vazio|", "Barras|a|b"};
  EXPECT_EQ(messages.Msg("Fili_deve"), "Filial deve ser informada.");
  EXPECT_EQ(messages.Msg("EDI"), "");
  EXPECT_EQ(messages.Msg("GetFili"), "");
  EXPECT_EQ(messages.Msg("Vazio"), "");
  EXPECT_EQ(messages.Msg("Barras"), "a|b");
  EXPECT_EQ(messages.Msg("fili_deve"), "") << "keys are case-sensitive";
}

TEST_F(ServicesTest, EmptyString_TreatsBlanksAsNoText) {
  EXPECT_TRUE(EmptyString(""));
  EXPECT_TRUE(EmptyString("   "));
  EXPECT_TRUE(EmptyString("\t"));
  EXPECT_FALSE(EmptyString(" 'A' "));
}

TEST_F(ServicesTest, SelectionString_QuotesEachKeyAndDoublesInnerQuotes) {
  EXPECT_EQ(BuildSelection({"0001", "0003"}), "'0001','0003'");
  EXPECT_EQ(BuildSelection({"D'X"}), "'D''X'");
  EXPECT_EQ(BuildSelection({}), "");
  EXPECT_EQ(ParseSelection("'0001','D''X'"), (std::vector<std::string>{"0001", "D'X"}));
  EXPECT_TRUE(ParseSelection("'0001',").empty());
  EXPECT_TRUE(ParseSelection("0001").empty());
}

TEST_F(ServicesTest, CheckResultServ_ReturnsPacketOrReportsRefusalAndAborts) {
  TRemoteResult ok;
  ok.Data = TDataPacket({{"CDFILIAL", TFieldType::ftString, 4}});
  ok.Data.Columns()[0].AppendString("0001");
  EXPECT_EQ(CheckResultServ(ok, true, 0).RowCount(), 1u);

  TRemoteResult refused;
  refused.Refused = true;
  refused.RefusalMessage = "Lista de filiais ilegível.";
  EXPECT_THROW(CheckResultServ(refused, true, 0), EAbort);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Lista de filiais ilegível."}));
}

TEST_F(ServicesTest, PesquisaLista_PremarksCurrentSelectionAndKeepsItWhenCancelled) {
  TClientDataSet rows(form, "cds");
  rows.AddField("cdsCOD", "CDFILSOLI", TFieldType::ftString, 4);
  TDataSource source(form, "dts");
  source.SetDataSet(&rows);
  std::string selection = "'0002'";
  platform.PickAnswers.push_back(std::nullopt);
  PesquisaLista(&source, "CDFILSOLI", "Filial", false, selection);
  EXPECT_EQ(selection, "'0002'");
  platform.PickAnswers.push_back(std::vector<std::string>{"0001", "0003"});
  PesquisaLista(&source, "CDFILSOLI", "Filial", false, selection);
  EXPECT_EQ(selection, "'0001','0003'");
  EXPECT_EQ(platform.PickerTitles, (std::vector<std::string>{"Filial", "Filial"}));
}

TEST_F(ServicesTest, Procura_MovesToFirstRowShowingValueOrSaysNotFound) {
  TClientDataSet rows(form, "cds");
  rows.AddField("cdsNOME", "NMFILIAL", TFieldType::ftString, 30);
  TDataPacket packet({{"NMFILIAL", TFieldType::ftString, 30}});
  for (const char* name : {"Centro", "Norte", "Sul", "Norte"})
    packet.Columns()[0].AppendString(name);
  rows.SetData(std::move(packet));
  int scrolls = 0;
  rows.AfterScroll = [&](TDataSet*) { ++scrolls; };
  platform.SearchAnswers.push_back(TFakePlatform::TSearchAnswer{"NMFILIAL", "Norte"});
  Procura(&rows);
  EXPECT_EQ(rows.RecNo(), 2);
  EXPECT_EQ(scrolls, 1);
  platform.SearchAnswers.push_back(TFakePlatform::TSearchAnswer{"NMFILIAL", "Oeste"});
  Procura(&rows);
  EXPECT_EQ(rows.RecNo(), 2);
  EXPECT_EQ(platform.Messages.back(), "Registro não encontrado.");
}

TEST(SearchMatching, IgnoresCaseAndAccentsForStartsWithAndContains) {
  using M = TSearchMatch;
  const std::tuple<const char*, const char*, M, bool> cases[] = {
      {"Pen Drive 32 GB", "Pen", M::StartsWith, true},
      {"Pen Drive 32 GB", "pen d", M::StartsWith, true},
      {"Pen Drive 32 GB", "drive", M::StartsWith, false},
      {"Pen Drive 32 GB", "DRIVE", M::Contains, true},
      {"São Paulo", "sao paulo", M::StartsWith, true},
      {"SÃO PAULO", "são", M::Contains, true},
      {"Açúcar Cristal", "acucar", M::StartsWith, true},
      {"Manutenção", "MANUTENCAO", M::Contains, true},
      {"Nº Solicitação", "no sol", M::StartsWith, true},
      {"Pen Drive", "  pen  ", M::StartsWith, true},  // blanks around what was typed
      {"Pen Drive", "   ", M::Contains, false},       // nothing typed finds nothing
      {"Pen Drive", "Pen Drive", M::Exact, true},
      {"Pen Drive", "pen drive", M::Exact, false},  // the driver's plain find: exactly as shown
      {"Pen Drive", "Pen", M::Exact, false},
  };
  for (const auto& [shown, wanted, match, expected] : cases)
    EXPECT_EQ(SearchMatches(shown, wanted, match), expected) << shown << " / " << wanted;
  EXPECT_EQ(SearchKey("ÀÉÎÕÜ Ç Ñ Æ ß œ"), "aeiou c n ae ss oe");
  EXPECT_EQ(SearchKey("€ 10 – ok"), "€ 10 – ok") << "other characters stay as they are";
  EXPECT_EQ(SearchKey("a\xC3"), "a\xC3") << "a cut character stays, byte for byte";
}

TEST_F(ServicesTest, FindRecord_SearchesFromTheRowAfterTheCursorAndWraps) {
  TClientDataSet rows(form, "cds");
  TField* name = rows.AddField("cdsNOME", "NMFILIAL", TFieldType::ftString, 30);
  TDataPacket packet({{"NMFILIAL", TFieldType::ftString, 30}});
  for (const char* branch : {"Santos", "São Paulo", "Campinas", "São Carlos"})
    packet.Columns()[0].AppendString(branch);
  rows.SetData(std::move(packet));
  ASSERT_EQ(rows.RecNo(), 1);
  EXPECT_EQ(FindRecord(&rows, name, "sao", TSearchMatch::StartsWith), 1);
  rows.MoveTo(1);
  EXPECT_EQ(FindRecord(&rows, name, "sao", TSearchMatch::StartsWith), 3) << "the next one";
  rows.MoveTo(3);
  EXPECT_EQ(FindRecord(&rows, name, "sao", TSearchMatch::StartsWith), 1) << "wraps round";
  EXPECT_EQ(FindRecord(&rows, name, "carlos", TSearchMatch::Contains), 3) << "its own row last";
  EXPECT_EQ(FindRecord(&rows, name, "Santos", TSearchMatch::Exact), 0) << "exact: from the top";
  EXPECT_EQ(FindRecord(&rows, name, "Rio", TSearchMatch::Contains), -1);
  rows.Close();
  EXPECT_EQ(FindRecord(&rows, name, "sao", TSearchMatch::StartsWith), -1);
}

TEST_F(ServicesTest, Procura_OffersTheGridsColumnsByTitleAndMovesToTheMatch) {
  TClientDataSet* rows = form->Create<TClientDataSet>("cdsItens");
  rows->AddField("cdsItensNRSOLICMP", "NRSOLICMP", TFieldType::ftString, 10)
      ->SetDisplayLabel("Nº Solicitação");
  rows->AddField("cdsItensNMDESTSOLI", "NMDESTSOLI", TFieldType::ftString, 30)
      ->SetDisplayLabel("Destino");
  rows->AddField("cdsItensCDDESTSOLI", "CDDESTSOLI", TFieldType::ftString, 3);
  TDataPacket packet({{"NRSOLICMP", TFieldType::ftString, 10},
                      {"NMDESTSOLI", TFieldType::ftString, 30},
                      {"CDDESTSOLI", TFieldType::ftString, 3}});
  for (const auto& [number, place] :
       {std::pair{"101", "Almoxarifado"}, std::pair{"102", "Manutenção"},
        std::pair{"103", "Manutenção Predial"}}) {
    packet.Columns()[0].AppendString(number);
    packet.Columns()[1].AppendString(place);
    packet.Columns()[2].AppendString("001");
  }
  rows->SetData(std::move(packet));
  auto* source = form->Create<TDataSource>("dtsItens");
  source->SetDataSet(rows);
  auto* other = form->Create<TDBGrid>("dbgOutra");  // another data set's grid comes first
  other->SetParent(form);
  auto* grid = form->Create<TDBGrid>("dbgItens");
  grid->SetParent(form);
  grid->SetDataSource(source);
  grid->Columns = {
      {"NMDESTSOLI", "Destino da Solicitação", 90}, {"NRSOLICMP", "", 60}, {"CDDESTSOLI", "", 30}};
  grid->SetSelectedIndex(1);

  platform.SearchAnswers.push_back(
      TFakePlatform::TSearchAnswer{"NMDESTSOLI", "manutencao", TSearchMatch::StartsWith});
  Procura(rows);
  ASSERT_EQ(platform.SearchColumnsOffered.size(), 3u);
  EXPECT_EQ(platform.SearchColumnsOffered[0].Title, "Destino da Solicitação");
  EXPECT_EQ(platform.SearchColumnsOffered[1].Title, "Nº Solicitação") << "the field's label";
  EXPECT_EQ(platform.SearchColumnsOffered[2].Title, "CDDESTSOLI") << "no label: the field name";
  EXPECT_EQ(rows->RecNo(), 2);
  platform.SearchAnswers.push_back(
      TFakePlatform::TSearchAnswer{"NMDESTSOLI", "manutencao", TSearchMatch::StartsWith});
  Procura(rows);
  EXPECT_EQ(rows->RecNo(), 3) << "again: the next match";
  platform.SearchAnswers.push_back(
      TFakePlatform::TSearchAnswer{"NMDESTSOLI", "predio", TSearchMatch::Contains});
  Procura(rows);
  EXPECT_EQ(rows->RecNo(), 3);
  EXPECT_EQ(platform.Messages.back(), "Registro não encontrado.");

  // The dialog comes up on the grid's selected column.
  std::string selected;
  SearchColumns(rows, &selected);
  EXPECT_EQ(selected, "NRSOLICMP");
  // Without a grid: the visible fields by their labels.
  TClientDataSet loose(form, "cdsSolta");
  loose.AddField("cdsSoltaA", "A", TFieldType::ftString, 1)->SetDisplayLabel("Primeiro");
  loose.AddField("cdsSoltaB", "B", TFieldType::ftString, 1)->Visible = false;
  const std::vector<TSearchColumn> fields = SearchColumns(&loose, &selected);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].Title, "Primeiro");
  EXPECT_EQ(selected, "A");
}

TEST(InvalidDate, SaysWhatWasTypedAndWhatIsMissing) {
  const std::pair<const char*, const char*> cases[] = {
      {"01/03/", "Data incompleta: 01/03/____. Falta o ano."},
      {"01/03/20", "Data incompleta: 01/03/20__. Falta completar o ano."},
      {"01/", "Data incompleta: 01/__/____. Faltam o mês e o ano."},
      {"1", "Data incompleta: 1_/__/____. Falta completar o dia, o mês e o ano."},
      {"01/ 3/2024", "Data incompleta: 01/_3/2024. Falta completar o mês."},
      {"31/02/2024", "Data inválida: 31/02/2024."},  // whole, but no such day
      {"1/3/2024", "Data inválida: 1/3/2024."},      // not the edit's shape (a script's text)
      {"ontem", "Data inválida: ontem."},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(InvalidDateMessage(text), message) << text;
}

TEST_F(ServicesTest, BusyIndicator_ShownTwiceOnlyChangesCaptionAndOneHideHides) {
  ActiveShowAvi(form, 6, "Aguarde");
  ActiveShowAvi(form, 6);
  EXPECT_TRUE(platform.BusyVisible);
  DeactiveShowAvi();
  EXPECT_FALSE(platform.BusyVisible);
  EXPECT_EQ(platform.BusyCaptions, (std::vector<std::string>{"Aguarde", ""}));
}

TEST_F(ServicesTest, LoadBPL_SaysPlainlyWhenModuleIsNotInstalled) {
  LoadBPL("SUP00700");
  EXPECT_EQ(platform.ModulesLoaded, (std::vector<std::string>{"SUP00700"}));
  EXPECT_EQ(platform.Messages.back(), "O módulo SUP00700 não está instalado.");
  platform.InstalledModules.insert("SUP00700");
  platform.Messages.clear();
  LoadBPL("SUP00700");
  EXPECT_TRUE(platform.Messages.empty());
}

TEST_F(ServicesTest, DateEdit_BlankIsNoLaterThanAnyAcceptedDateAndInvalidTextIsReported) {
  auto* edit = form->Create<TDateEditPlus>("dep");
  edit->SetParent(form);
  form->Show();
  const double blank = edit->GetDate();
  EXPECT_EQ(blank, *TextToDateTime("01/01/0001"));
  // Every date the edit accepts, the earliest ones included, is on or after a blank edit's.
  for (const char* text : {"01/01/0001", "02/01/0001", "31/12/1799", "29/12/1899", "30/12/1899",
                           "05/03/2024", "31/12/9999"}) {
    SCOPED_TRACE(text);
    edit->SetText(text);
    EXPECT_NO_THROW(edit->CheckValidDate());
    EXPECT_GE(edit->GetDate(), blank);
  }
  edit->SetText("05/03/2024");
  EXPECT_GT(edit->GetDate(), 45000.0);
  EXPECT_TRUE(platform.Errors.empty());
  edit->SetText("31/02/2024");
  EXPECT_THROW(edit->CheckValidDate(), EAbort);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Data inválida: 31/02/2024."}));
  EXPECT_EQ(edit->GetDate(), blank) << "an unreadable date is not later than any typed date";
  edit->SetText("00/01/0001");
  EXPECT_THROW(edit->CheckValidDate(), EAbort);
}

class TStubServer : public IAppServer {
 public:
  TRemoteResult Invoke(const std::string&, std::vector<TRemoteArg>&) override { return {}; }
};

TEST_F(ServicesTest, NetConnection_ReadsHostBeforeConnectAndKeepsFailureWhenNotThrowing) {
  std::string seenHost;
  int seenPort = 0;
  int attempts = 0;
  HostConfig().ServiceFactory = [&](const std::string& host, int port,
                                    const std::string&) -> std::unique_ptr<IAppServer> {
    seenHost = host;
    seenPort = port;
    if (++attempts == 1) throw ERemoteError("Servidor fora do ar em " + host + ".");
    return std::make_unique<TStubServer>();
  };
  TNetConnection connection(form, "net");
  connection.ThrowException = false;
  connection.BeforeConnect = [&](TComponent*) {
    connection.Host = "10.0.0.9";
    connection.Port = 7450;
  };
  connection.SetConnected(true);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.LastError(), "Servidor fora do ar em 10.0.0.9.");
  EXPECT_EQ(seenHost, "10.0.0.9");
  EXPECT_EQ(seenPort, 7450);
  // A call through the disconnected connection connects first.
  connection.AppServer();
  EXPECT_TRUE(connection.Connected());
  connection.SetConnected(false);
  EXPECT_FALSE(connection.Connected());
  HostConfig().ServiceFactory = nullptr;
}

class LocalDatabaseTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    path = std::filesystem::temp_directory_path() /
           ("acomp_local_" + std::to_string(::getpid()) + ".db");
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "CREATE TABLE PRODUTO (CDARVPROD TEXT, CDPRODUTO TEXT, NMPRODUTO TEXT);"
                 "INSERT INTO PRODUTO VALUES ('01002003', 'P1', 'Papel A4');"
                 "INSERT INTO PRODUTO VALUES ('10000001', 'P2', 'Caneta ''azul''');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    TLocalDatabase::Instance().SetPath(path.string());
  }
  void TearDown() override {
    std::filesystem::remove(path);
    ServicesTest::TearDown();
  }
  std::filesystem::path path;
};

TEST_F(LocalDatabaseTest, ValidEx_AcceptsStoredCodeAndRejectsOthersAfterReporting) {
  TLocalQuery query(form, "qry");
  query.SQL = {"SELECT CDARVPROD, CDPRODUTO, NMPRODUTO", "FROM PRODUTO", "ORDER BY CDARVPROD"};
  query.Query()->AddField("qryCDARVPROD", "CDARVPROD", TFieldType::ftString);
  query.Query()->AddField("qryCDPRODUTO", "CDPRODUTO", TFieldType::ftString, 10);
  query.Query()->AddField("qryNMPRODUTO", "NMPRODUTO", TFieldType::ftString, 50);
  TDataSource source(form, "dts");
  source.SetDataSet(query.Query());
  std::string code = " 01002003 ";
  ValidEx(&source, 0, code, {}, "", true);
  EXPECT_EQ(code, "01002003");
  EXPECT_TRUE(query.Active()) << "the look-up rows are read on first use";
  code = "'; DROP TABLE PRODUTO; --";
  EXPECT_THROW(ValidEx(&source, 0, code, {}, "", true), EAbort);
  EXPECT_EQ(platform.Errors.size(), 1u);
}

TEST_F(LocalDatabaseTest, DadosProduto_GivesNameFirstAndBindsTheCode) {
  EXPECT_EQ(Dados_Produto("10000001").at(0), "Caneta 'azul'");
  EXPECT_THROW(Dados_Produto("x' OR '1'='1"), EAbort);
}

}  // namespace
}  // namespace fw
