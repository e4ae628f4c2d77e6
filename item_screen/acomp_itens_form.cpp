// The description of the item tracking screen: components, properties, fields, columns and
// messages. Behaviour lives in acomp_itens_handlers.cpp.
#include <initializer_list>

#include "item_screen/cli_cmp09501.h"

namespace Cli_cmp09501 {

namespace {

constexpr unsigned kGridOptions =
    fw::dgTitles | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines | fw::dgTabs |
    fw::dgRowSelect | fw::dgAlwaysShowSelection | fw::dgConfirmDelete | fw::dgCancelOnExit;
constexpr const char* kQuantityFormat = "###,##0.000";
constexpr int kDefaultWidth = -1;

struct TFieldDef {
  fw::TField** Component;
  const char* ComponentName;
  const char* FieldName;
  fw::TFieldType Type;
  int Size;
  const char* Label;  // nullptr: the field name
  bool Visible;
  const char* DisplayFormat;
};

void AddFields(fw::TClientDataSet* dataSet, std::initializer_list<TFieldDef> definitions) {
  for (const TFieldDef& definition : definitions) {
    fw::TField* field = dataSet->AddField(definition.ComponentName, definition.FieldName,
                                          definition.Type, definition.Size);
    if (definition.Label) field->SetDisplayLabel(definition.Label);
    field->Visible = definition.Visible;
    if (definition.DisplayFormat) field->DisplayFormat = definition.DisplayFormat;
    *definition.Component = field;
  }
}

}  // namespace

TfrmAcompItens::TfrmAcompItens(fw::TComponent* owner) : fw::TfrmPadraoGrid(owner, "frmAcompItens") {
  using fw::TFieldType;

  // An ordinary window, shown modally; a modal showing starts from a hidden window.
  SetCaption("Acompanhamento de Itens de Solicitação");
  SetBounds(231, 210, 1036, 397);
  ClientWidth = 1020;
  ClientHeight = 358;
  FormStyle = fw::TFormStyle::fsNormal;
  Position = fw::TPosition::poDesigned;
  SetVisible(false);
  OnActivate = [this](fw::TComponent* sender) { FormActivate(sender); };

  lblCodTela->SetCaption("CMP09501");
  lblCodTela->SetWidth(53);

  // Toolbar: the sort button takes no visible room; print stays disabled in this screen.
  panMenu->SetWidth(1020);
  sbtOrdenar->SetBounds(sbtOrdenar->Left(), -2, 28, 1);
  sbtImprimir->SetLeft(189);
  sbtImprimir->SetEnabled(false);
  sbtAjuda->SetLeft(225);
  sbtFechar->SetLeft(261);

  panNavigator->SetBounds(panNavigator->Left(), 320, 1020, panNavigator->Height());

  pgcPadrao->SetWidth(1020);
  pgcPadrao->SetHeight(292);
  tshPadrao->SetCaption("Filial Solicitante");

  // Menu: nothing to list or print; maintenance starts disabled (the command-state rules enable
  // find and verify later).
  mnuListagem->SetEnabled(false);
  mnuConfigImpressora->SetEnabled(false);
  for (const auto& command : MaintenanceCommands()) command.Item->SetEnabled(false);
  mnuAutomatico = Create<fw::TMenuItem>("mnuAutomatico");
  mnuAutomatico->SetCaption("Cadastramento A&utomático");
  mnuAutomatico->SetShortCut(16449);  // Ctrl+A
  mnuManutencao->Insert(mnuManutencao->IndexOf(mnuVerificar) + 1, mnuAutomatico);

  msgPadrao->Items = {
      "ProdIniFin_Inv|Produto inicial deve ser menor ou igual ao produto final.",
      "Fili_deve|Filial deve ser informada.",
      "Soli_deve|Solicitação deve ser informada.",
      "Concluida|Concluída",
      "Andamento|Em andamento",
  };

  // ---- data sets ----
  cdsProduto = Create<fw::TClientDataSet>("cdsProduto");
  AddFields(cdsProduto, {
                            {&cdsProdutoCDARVPROD, "cdsProdutoCDARVPROD", "CDARVPROD",
                             TFieldType::ftString, 20, "Produto", true, nullptr},
                            {&cdsProdutoCDPRODUTO, "cdsProdutoCDPRODUTO", "CDPRODUTO",
                             TFieldType::ftString, 10, nullptr, false, nullptr},
                            {&cdsProdutoNMPRODUTO, "cdsProdutoNMPRODUTO", "NMPRODUTO",
                             TFieldType::ftString, 50, "Nome do Produto", true, nullptr},
                            {&cdsProdutoSGUNIDADE, "cdsProdutoSGUNIDADE", "SGUNIDADE",
                             TFieldType::ftString, 10, "UN", false, nullptr},
                            {&cdsProdutoQTSOLIPROD, "cdsProdutoQTSOLIPROD", "QTSOLIPROD",
                             TFieldType::ftFloat, 0, "Quantidade", false, kQuantityFormat},
                            {&cdsProdutoVRCMPANTERIOR, "cdsProdutoVRCMPANTERIOR", "VRCMPANTERIOR",
                             TFieldType::ftFloat, 0, "Vr. Com. Ant.", false, kQuantityFormat},
                            {&cdsProdutoNMRAZSOCFORN, "cdsProdutoNMRAZSOCFORN", "NMRAZSOCFORN",
                             TFieldType::ftString, 40, "Fornecedor da AF", false, nullptr},
                            {&cdsProdutoVRTOTALAF, "cdsProdutoVRTOTALAF", "VRTOTALAF",
                             TFieldType::ftFloat, 0, "Vr. Total AF", false, kQuantityFormat},
                            {&cdsProdutoNRNOTAFISC, "cdsProdutoNRNOTAFISC", "NRNOTAFISC",
                             TFieldType::ftString, 20, "Número NF", false, nullptr},
                            {&cdsProdutoDTEMISSAO, "cdsProdutoDTEMISSAO", "DTEMISSAO",
                             TFieldType::ftDateTime, 0, "Dt. Emissao NF", false, nullptr},
                            {&cdsProdutoCDTIPOOPER, "cdsProdutoCDTIPOOPER", "CDTIPOOPER",
                             TFieldType::ftString, 2, "Tipo Oper.", false, nullptr},
                            {&cdsProdutoVRNOTAFISC, "cdsProdutoVRNOTAFISC", "VRNOTAFISC",
                             TFieldType::ftFloat, 0, "Vr. NF", false, kQuantityFormat},
                            {&cdsProdutoDTAPROVACAO, "cdsProdutoDTAPROVACAO", "DTAPROVACAO",
                             TFieldType::ftDateTime, 0, "Dt. Aprovação", false, nullptr},
                            {&cdsProdutoNMOPERADOR, "cdsProdutoNMOPERADOR", "NMOPERADOR",
                             TFieldType::ftString, 40, "Resp. Aprov. NF", true, nullptr},
                            {&cdsProdutoCDMARCA, "cdsProdutoCDMARCA", "CDMARCA",
                             TFieldType::ftString, 5, nullptr, false, nullptr},
                            {&cdsProdutoCDFILLANC, "cdsProdutoCDFILLANC", "CDFILLANC",
                             TFieldType::ftString, 4, nullptr, false, nullptr},
                            {&cdsProdutoDTENTRSAID, "cdsProdutoDTENTRSAID", "DTENTRSAID",
                             TFieldType::ftDateTime, 0, nullptr, true, nullptr},
                        });
  cdsProduto->AfterScroll = [this](fw::TDataSet* dataSet) { cdsProdutoAfterScroll(dataSet); };

  cdsCotacao = Create<fw::TClientDataSet>("cdsCotacao");
  AddFields(cdsCotacao, {
                            {&cdsCotacaoNRCOLEPRECO, "cdsCotacaoNRCOLEPRECO", "NRCOLEPRECO",
                             TFieldType::ftString, 10, "Nº Cotação", true, nullptr},
                            {&cdsCotacaoIDSITUCOLETA, "cdsCotacaoIDSITUCOLETA", "IDSITUCOLETA",
                             TFieldType::ftString, 1, "Situação", false, nullptr},
                            {&cdsCotacaoNMOPERADOR, "cdsCotacaoNMOPERADOR", "NMOPERADOR",
                             TFieldType::ftString, 40, "Comprador", true, nullptr},
                            {&cdsCotacaoNMRAZSOCFORN, "cdsCotacaoNMRAZSOCFORN", "NMRAZSOCFORN",
                             TFieldType::ftString, 40, "Fornecedor", true, nullptr},
                            {&cdsCotacaoVRPRECUNIITM, "cdsCotacaoVRPRECUNIITM", "VRPRECUNIITM",
                             TFieldType::ftFloat, 0, "Valor Unitário", false, kQuantityFormat},
                        });
  cdsCotacaoIDSITUCOLETA->OnGetText = [this](fw::TField* sender, std::string& text,
                                             bool displayText) {
    cdsCotacaoIDSITUCOLETAGetText(sender, text, displayText);
  };

  // ---- data sources ----
  dtsProduto = Create<fw::TDataSource>("dtsProduto");
  dtsProduto->SetDataSet(cdsProduto);
  dtsProduto->OnStateChange = [this](fw::TComponent* sender) { dtsProdutoStateChange(sender); };
  // The standard data source shows the quotations here, and nothing reacts to its state.
  dtsPadrao->SetDataSet(cdsCotacao);
  UnbindStateChange();
  dbtNome->DataField = "NRCOLEPRECO";

  // ---- the one tab: products, splitter, quotations ----
  panDbgPadrao->SetAlign(fw::TAlign::alTop);
  panDbgPadrao->SetBounds(0, 0, 1012, 223);
  panDbgPadrao->SetTabOrder(0);
  scbFolhaDados->SetBounds(0, 0, 1006, 217);
  dbgPadrao->SetBounds(0, 0, 1006, 217);
  dbgPadrao->SetDataSource(dtsProduto);
  dbgPadrao->Options = kGridOptions;
  dbgPadrao->OnEnter = [this](fw::TComponent* sender) { dbgPadraoEnter(sender); };
  // Titles come from the fields' labels, except where a column has its own.
  dbgPadrao->Columns = {
      {"CDARVPROD", "", 87},
      {"NMPRODUTO", "", 182},
      {"SGUNIDADE", "", 32},
      {"QTSOLIPROD", "", kDefaultWidth},
      {"VRCMPANTERIOR", "", 71},
      {"NMRAZSOCFORN", "", 135},
      {"VRTOTALAF", "", kDefaultWidth},
      {"NRNOTAFISC", "", 97},
      {"DTEMISSAO", "", 83},
      {"CDTIPOOPER", "", 56},
      {"VRNOTAFISC", "", kDefaultWidth},
      {"DTAPROVACAO", "", 75},
      {"DTENTRSAID", "Dt. de Entrada NF", kDefaultWidth},
      {"NMOPERADOR", "", 167},
  };

  Splitter1 = Create<fw::TSplitter>("Splitter1");
  Splitter1->SetParent(tshPadrao);
  Splitter1->SetAlign(fw::TAlign::alTop);
  Splitter1->SetBounds(0, 223, 1012, 0);
  Splitter1->Cursor = fw::TCursor::crVSplit;

  panProduto = Create<fw::TPanel>("panProduto");
  panProduto->SetParent(tshPadrao);
  panProduto->SetAlign(fw::TAlign::alClient);
  panProduto->SetBounds(0, 223, 1012, 59);
  panProduto->BevelOuter = fw::TBevel::bvLowered;
  panProduto->SetTabOrder(1);
  panProduto->OnEnter = [this](fw::TComponent* sender) { panProdutoEnter(sender); };

  ScrollBox2 = Create<fw::TScrollBox>("ScrollBox2");
  ScrollBox2->SetParent(panProduto);
  ScrollBox2->SetAlign(fw::TAlign::alClient);
  ScrollBox2->SetBounds(1, 1, 1010, 57);
  ScrollBox2->BorderStyle = fw::TBorderStyle::bsNone;

  dbgCotacao = Create<fw::TDBGrid>("dbgCotacao");
  dbgCotacao->SetParent(ScrollBox2);
  dbgCotacao->SetAlign(fw::TAlign::alClient);
  dbgCotacao->SetBounds(0, 0, 1010, 57);
  dbgCotacao->BorderStyle = fw::TBorderStyle::bsNone;
  dbgCotacao->SetDataSource(dtsPadrao);
  dbgCotacao->Options = kGridOptions;
  dbgCotacao->SetColor(fw::clInfoBk);
  dbgCotacao->TitleFont = fw::TFont{"MS Sans Serif", -11, fw::clWindowText, false};
  dbgCotacao->OnKeyDown = [this](fw::TComponent* sender, uint16_t& key, fw::TShiftState shift) {
    dbgPadraoKeyDown(sender, key, shift);
  };
  dbgCotacao->OnKeyPress = [this](fw::TComponent* sender, char& key) {
    dbgPadraoKeyPress(sender, key);
  };
  dbgCotacao->Columns = {
      {"NRCOLEPRECO", "", kDefaultWidth},  {"IDSITUCOLETA", "", 77},
      {"NMOPERADOR", "", kDefaultWidth},   {"NMRAZSOCFORN", "", kDefaultWidth},
      {"VRPRECUNIITM", "", kDefaultWidth},
  };
}

}  // namespace Cli_cmp09501
