// The description of the request tracking screen: components, properties, fields, columns and
// messages. Data only; the behaviour is in the handler files.
#include "request_screen/cli_cmp09500.h"

namespace Cli_cmp09500 {

namespace {

using fw::TFieldType;

constexpr unsigned kBranchGridOptions =
    fw::dgTitles | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines | fw::dgTabs |
    fw::dgRowSelect | fw::dgAlwaysShowSelection | fw::dgConfirmDelete | fw::dgCancelOnExit;
// As the branch grid, but a single cell is selected, so the selected column is known.
constexpr unsigned kItemsGridOptions = kBranchGridOptions & ~static_cast<unsigned>(fw::dgRowSelect);
constexpr unsigned kApprovalsGridOptions = fw::dgTitles | fw::dgColumnResize | fw::dgColLines |
                                           fw::dgRowLines | fw::dgTabs | fw::dgConfirmDelete |
                                           fw::dgCancelOnExit;

constexpr int kDefaultWidth = -1;

template <typename T>
T* Place(fw::TForm* form, const char* name, fw::TWinControl* parent, int left, int top, int width,
         int height) {
  T* control = form->Create<T>(name);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}

fw::TGroupBox* GroupBox(fw::TForm* form, const char* name, fw::TWinControl* parent,
                        const char* caption, int left, int width, int tabOrder) {
  auto* box = Place<fw::TGroupBox>(form, name, parent, left, 8, width, 73);
  box->SetCaption(caption);
  box->Font.Bold = true;
  box->SetTabOrder(tabOrder);
  return box;
}

fw::TLabel* Label(fw::TForm* form, const char* name, fw::TWinControl* parent, const char* caption,
                  int left, int top) {
  auto* label = Place<fw::TLabel>(form, name, parent, left, top, 6 * 8, 13);
  label->SetCaption(caption);
  return label;
}

fw::TDateEditPlus* DateEdit(fw::TForm* form, const char* name, fw::TWinControl* parent, int left,
                            int top, int tabOrder) {
  auto* edit = Place<fw::TDateEditPlus>(form, name, parent, left, top, 105, 21);
  edit->SaveTime = false;
  edit->ValidDateColor = fw::clBlue;
  edit->DayNames = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
  edit->SetTabOrder(tabOrder);
  return edit;
}

fw::TRadioButton* Radio(fw::TForm* form, const char* name, fw::TWinControl* parent,
                        const char* caption, int top, int tabOrder) {
  auto* radio = Place<fw::TRadioButton>(form, name, parent, 8, top, 50, 17);
  radio->SetCaption(caption);
  radio->SetTabOrder(tabOrder);
  return radio;
}

fw::TButtonFlat* PickerButton(fw::TForm* form, const char* name, fw::TWinControl* parent) {
  auto* button = Place<fw::TButtonFlat>(form, name, parent, 62, 42, 21, 21);
  button->SetHint("Pesquisar");
  button->ShowHint = true;
  button->Glyph = "Pesquisar";
  return button;
}

fw::TField* StringField(fw::TDataSet* dataSet, const char* component, const char* field, int size,
                        const char* label = nullptr) {
  fw::TField* result = dataSet->AddField(component, field, TFieldType::ftString, size);
  if (label) result->SetDisplayLabel(label);
  return result;
}

fw::TField* DateField(fw::TDataSet* dataSet, const char* component, const char* field,
                      const char* label = nullptr) {
  fw::TField* result = dataSet->AddField(component, field, TFieldType::ftDateTime);
  if (label) result->SetDisplayLabel(label);
  return result;
}

fw::TField* FloatField(fw::TDataSet* dataSet, const char* component, const char* field,
                       const char* label) {
  fw::TField* result = dataSet->AddField(component, field, TFieldType::ftFloat);
  result->SetDisplayLabel(label);
  result->DisplayFormat = "###,##0.000";
  return result;
}

fw::TField* Hidden(fw::TField* field) {
  field->Visible = false;
  return field;
}

fw::TDataSource* Source(fw::TForm* form, const char* name, fw::TDataSet* dataSet) {
  auto* source = form->Create<fw::TDataSource>(name);
  source->SetDataSet(dataSet);
  return source;
}

const std::vector<std::string> kProductStatement = {
    "SELECT", "   CDARVPROD,", "   CDPRODUTO,", "   NMPRODUTO",
    "FROM",   "   PRODUTO",    "ORDER BY",      "    CDARVPROD"};

}  // namespace

TfrmAcompSoli::TfrmAcompSoli(fw::TComponent* owner) : fw::TfrmPadraoGrid(owner, "frmAcompSoli") {
  SetCaption("Acompanhamento da Solicitação");
  FormStyle = fw::TFormStyle::fsMDIChild;
  SetBounds(220, 168, 1036, 527);
  ClientWidth = 1020;
  OnActivate = [this](fw::TComponent* sender) { FormActivate(sender); };

  // ---- inherited parts ----
  lblCodTela->SetCaption("CMP09500");
  sbtOrdenar->SetBounds(sbtOrdenar->Left(), 0, 28, 1);
  sbtImprimir->SetLeft(189);
  sbtImprimir->SetEnabled(false);
  sbtImprimir->OnClick = [this](fw::TComponent* sender) { sbtImprimirClick(sender); };
  sbtAjuda->SetLeft(225);
  sbtFechar->SetLeft(261);
  dbtNome->DataField = "NMFILIAL";
  pgcPadrao->OnChange = [this](fw::TComponent* sender) { pgcPadraoChange(sender); };
  tshPadrao->SetCaption("Filial Solicitante");
  tshPadrao->TabVisible = true;
  mnuListagem->SetEnabled(false);
  mnuConfigImpressora->SetEnabled(false);
  for (const auto& command : MaintenanceCommands()) command.Item->SetEnabled(false);

  mnuAutomatico = Create<fw::TMenuItem>("mnuAutomatico");
  mnuAutomatico->SetCaption("Cadastramento A&utomático");
  mnuAutomatico->SetShortCut(16449);  // Ctrl+A
  mnuManutencao->Insert(mnuManutencao->IndexOf(mnuVerificar) + 1, mnuAutomatico);

  // ---- bands: toolbar (28), filter panel (85), page control (337), navigator from 450 ----
  panFiltro = Place<fw::TPanel>(this, "panFiltro", this, 0, 28, 1020, 85);
  panFiltro->SetAlign(fw::TAlign::alTop);
  panFiltro->BevelOuter = fw::TBevel::bvLowered;
  panFiltro->OnEnter = [this](fw::TComponent* sender) { panFiltroEnter(sender); };
  panFiltro->OnExit = [this](fw::TComponent* sender) { panFiltroExit(sender); };
  panMenu->SetTabOrder(0);
  panFiltro->SetTabOrder(1);
  pgcPadrao->SetBounds(0, 113, 1020, 337);
  pgcPadrao->SetTabOrder(2);
  panNavigator->SetTabOrder(3);

  // ---- filter panel: five group boxes, left to right in tab order ----
  grbDtSoli = GroupBox(this, "grbDtSoli", panFiltro, "Data de Solicitação", 0, 165, 0);
  lblSolicitacaoIni = Label(this, "lblSolicitacaoIni", grbDtSoli, "Inicial", 8, 20);
  depSolicitacaoIni = DateEdit(this, "depSolicitacaoIni", grbDtSoli, 52, 16, 0);
  lblSolicitacaoFin = Label(this, "lblSolicitacaoFin", grbDtSoli, "Final", 8, 46);
  depSolicitacaoFin = DateEdit(this, "depSolicitacaoFin", grbDtSoli, 52, 42, 1);

  grbDtEntr = GroupBox(this, "grbDtEntr", panFiltro, "Data de Entrega", 169, 157, 1);
  lblEntrIni = Label(this, "lblEntrIni", grbDtEntr, "Inicial", 8, 20);
  depEntrIni = DateEdit(this, "depEntrIni", grbDtEntr, 44, 16, 0);
  lblEntrFin = Label(this, "lblEntrFin", grbDtEntr, "Final", 8, 46);
  depEntrFin = DateEdit(this, "depEntrFin", grbDtEntr, 44, 42, 1);

  grbFilSoli = GroupBox(this, "grbFilSoli", panFiltro, "Filial Solicitante", 330, 109, 2);
  rbtTFilSoli = Radio(this, "rbtTFilSoli", grbFilSoli, "Todas", 18, 0);
  rbtListFilSoli = Radio(this, "rbtListFilSoli", grbFilSoli, "Lista", 44, 1);
  sbtFilSoli = PickerButton(this, "sbtFilSoli", grbFilSoli);

  grbSolicitacao = GroupBox(this, "grbSolicitacao", panFiltro, "Solicitação", 444, 97, 3);
  rbtTSolicitacao = Radio(this, "rbtTSolicitacao", grbSolicitacao, "Todas", 18, 0);
  rbtListSolicitacao = Radio(this, "rbtListSolicitacao", grbSolicitacao, "Lista", 44, 1);
  sbtSolicita = PickerButton(this, "sbtSolicita", grbSolicitacao);

  grbProduto = GroupBox(this, "grbProduto", panFiltro, "Produto", 547, 454, 4);
  lblCdProdIni = Label(this, "lblCdProdIni", grbProduto, "Produto Inicial", 8, 20);
  medCdProdIni = Place<fw::TMaskEdit>(this, "medCdProdIni", grbProduto, 88, 16, 100, 21);
  medCdProdIni->SetTabOrder(0);
  btnProdIni = Place<fw::TBtnPesquisa>(this, "btnProdIni", grbProduto, 190, 16, 21, 21);
  edtNmProdIni = Place<fw::TEdit>(this, "edtNmProdIni", grbProduto, 214, 16, 221, 21);
  edtNmProdIni->SetTabOrder(1);
  lblCdProdFin = Label(this, "lblCdProdFin", grbProduto, "Produto Final", 8, 46);
  medCdProdFin = Place<fw::TMaskEdit>(this, "medCdProdFin", grbProduto, 88, 42, 100, 21);
  medCdProdFin->SetTabOrder(2);
  btnProdFin = Place<fw::TBtnPesquisa>(this, "btnProdFin", grbProduto, 190, 42, 21, 21);
  edtNmProdFin = Place<fw::TEdit>(this, "edtNmProdFin", grbProduto, 214, 42, 221, 21);
  edtNmProdFin->SetTabOrder(3);
  for (fw::TEdit* name : {edtNmProdIni, edtNmProdFin}) {
    name->SetEnabled(false);
    name->SetColor(fw::clBtnFace);
    name->TabStop = false;
  }

  // ---- page control, second tab "Itens" ----
  tshItens = Create<fw::TTabSheet>("tshItens", pgcPadrao);
  tshItens->SetCaption("Itens");
  panItens = Place<fw::TPanel>(this, "panItens", tshItens, 0, 0, 1012, 249);
  panItens->SetAlign(fw::TAlign::alTop);
  panItens->BevelInner = fw::TBevel::bvLowered;
  panItens->BorderWidth = 2;
  scbItens = Place<fw::TScrollBox>(this, "scbItens", panItens, 0, 0, 1012, 249);
  scbItens->SetAlign(fw::TAlign::alClient);
  scbItens->BorderStyle = fw::TBorderStyle::bsNone;
  dbgItens = Place<fw::TDBGrid>(this, "dbgItens", scbItens, 0, 0, 1012, 249);
  dbgItens->SetAlign(fw::TAlign::alClient);
  Splitter1 = Place<fw::TSplitter>(this, "Splitter1", tshItens, 0, 249, 1012, 1);
  Splitter1->SetAlign(fw::TAlign::alTop);
  Splitter1->Cursor = fw::TCursor::crVSplit;
  panDestSolGere = Place<fw::TPanel>(this, "panDestSolGere", tshItens, 0, 250, 1012, 59);
  panDestSolGere->SetAlign(fw::TAlign::alClient);
  panDestSolGere->BevelInner = fw::TBevel::bvLowered;
  panDestSolGere->BorderWidth = 2;
  scbDestSolGere = Place<fw::TScrollBox>(this, "scbDestSolGere", panDestSolGere, 0, 0, 1012, 59);
  scbDestSolGere->SetAlign(fw::TAlign::alClient);
  scbDestSolGere->BorderStyle = fw::TBorderStyle::bsNone;
  dbgDestSolGere = Place<fw::TDBGrid>(this, "dbgDestSolGere", scbDestSolGere, 0, 0, 1012, 59);
  dbgDestSolGere->SetAlign(fw::TAlign::alClient);

  // ---- client data sets ----
  cdsFilSoliGrid = Create<fw::TClientDataSet>("cdsFilSoliGrid");
  cdsFilSoliGridCDFILIAL =
      StringField(cdsFilSoliGrid, "cdsFilSoliGridCDFILIAL", "CDFILIAL", 4, "Código");
  cdsFilSoliGridCDFILIAL->SetEditMask(">aaaa;0; ");
  cdsFilSoliGridNMFILIAL =
      StringField(cdsFilSoliGrid, "cdsFilSoliGridNMFILIAL", "NMFILIAL", 30, "Nome");

  cdsFilSoli = Create<fw::TClientDataSet>("cdsFilSoli");
  cdsFilSoliIDMARCADO = StringField(cdsFilSoli, "cdsFilSoliIDMARCADO", "IDMARCADO", 1);
  cdsFilSoliIDMARCADO->FixedChar = true;
  cdsFilSoliCDFILSOLI = StringField(cdsFilSoli, "cdsFilSoliCDFILSOLI", "CDFILSOLI", 4, "Código");
  cdsFilSoliCDFILSOLI->SetDisplayWidth(8);
  cdsFilSoliNMFILIAL = StringField(cdsFilSoli, "cdsFilSoliNMFILIAL", "NMFILIAL", 30, "Nome");

  cdsSolicita = Create<fw::TClientDataSet>("cdsSolicita");
  cdsSolicitaIDMARCADO = StringField(cdsSolicita, "cdsSolicitaIDMARCADO", "IDMARCADO", 1);
  cdsSolicitaIDMARCADO->FixedChar = true;
  cdsSolicitaNRSOLICMP =
      StringField(cdsSolicita, "cdsSolicitaNRSOLICMP", "NRSOLICMP", 10, "Solicitação");
  cdsSolicitaNRSOLICMP->SetDisplayWidth(14);

  fw::TClientDataSet* items = cdsItensGrid = Create<fw::TClientDataSet>("cdsItensGrid");
  cdsItensGridSTATUS = Hidden(StringField(items, "cdsItensGridSTATUS", "STATUS", 1, "Status"));
  cdsItensGridSTATUS->SetDisplayWidth(15);
  cdsItensGridSTATUS->OnGetText = [this](fw::TField* sender, std::string& text, bool display) {
    cdsItensGridSTATUSGetText(sender, text, display);
  };
  cdsItensGridCDFILLAN =
      Hidden(StringField(items, "cdsItensGridCDFILLAN", "CDFILLAN", 4, "Lançamento"));
  cdsItensGridNRSOLICMP =
      StringField(items, "cdsItensGridNRSOLICMP", "NRSOLICMP", 10, "Nº Solicitação");
  cdsItensGridCDOPERLANC =
      Hidden(StringField(items, "cdsItensGridCDOPERLANC", "CDOPERLANC", 12, "Operador"));
  cdsItensGridNMDESTSOLI =
      Hidden(StringField(items, "cdsItensGridNMDESTSOLI", "NMDESTSOLI", 30, "Destino"));
  cdsItensGridNRCOMPRA =
      Hidden(StringField(items, "cdsItensGridNRCOMPRA", "NRCOMPRA", 10, "Nº Compra"));
  cdsItensGridDTCONCOLEPREC =
      Hidden(DateField(items, "cdsItensGridDTCONCOLEPREC", "DTCONCOLEPREC", "Dt. Concl. Cot."));
  cdsItensGridDTPROGENTR = DateField(items, "cdsItensGridDTPROGENTR", "DTPROGENTR", "Entrega");
  cdsItensGridNMOPERADOR =
      Hidden(StringField(items, "cdsItensGridNMOPERADOR", "NMOPERADOR", 40, "Solicitante"));
  cdsItensGridDTHRLANCSOL =
      Hidden(DateField(items, "cdsItensGridDTHRLANCSOL", "DTHRLANCSOL", "Dt. Inclusão"));
  cdsItensGridQTSOLIPROD =
      Hidden(FloatField(items, "cdsItensGridQTSOLIPROD", "QTSOLIPROD", "Quantidade"));
  cdsItensGridQTEFETENTRAF =
      Hidden(FloatField(items, "cdsItensGridQTEFETENTRAF", "QTEFETENTRAF", "Qt. de Entrega"));
  cdsItensGridNRAUTOFORN =
      Hidden(StringField(items, "cdsItensGridNRAUTOFORN", "NRAUTOFORN", 10, "Nº AF"));
  cdsItensGridDTAUTOFORN =
      Hidden(DateField(items, "cdsItensGridDTAUTOFORN", "DTAUTOFORN", "Dt. Lanç. AF"));
  cdsItensGridCDOPERAPRO =
      Hidden(StringField(items, "cdsItensGridCDOPERAPRO", "CDOPERAPRO", 12, "Responsável"));
  cdsItensGridCDDESTSOLI = Hidden(StringField(items, "cdsItensGridCDDESTSOLI", "CDDESTSOLI", 3));
  cdsItensGridNRCOLEPRECO =
      Hidden(StringField(items, "cdsItensGridNRCOLEPRECO", "NRCOLEPRECO", 10));
  cdsItensGridCDFILIAL = Hidden(StringField(items, "cdsItensGridCDFILIAL", "CDFILIAL", 4));
  cdsItensGridDTEMISSAO = DateField(items, "cdsItensGridDTEMISSAO", "DTEMISSAO");
  cdsItensGridDTPROGENTAF = DateField(items, "cdsItensGridDTPROGENTAF", "DTPROGENTAF");

  cdsDestSolGere = Create<fw::TClientDataSet>("cdsDestSolGere");
  cdsDestSolGereIDAPROVPRGER = Hidden(
      StringField(cdsDestSolGere, "cdsDestSolGereIDAPROVPRGER", "IDAPROVPRGER", 1, "Aprovação"));
  cdsDestSolGereIDAPROVPRGER->OnGetText = [this](fw::TField* sender, std::string& text,
                                                 bool display) {
    cdsDestSolGereIDAPROVPRGERGetText(sender, text, display);
  };
  cdsDestSolGereNMOPERADOR =
      StringField(cdsDestSolGere, "cdsDestSolGereNMOPERADOR", "NMOPERADOR", 40, "Gerente");
  cdsDestSolGereCDDESTSOLI =
      Hidden(StringField(cdsDestSolGere, "cdsDestSolGereCDDESTSOLI", "CDDESTSOLI", 3));
  cdsDestSolGereDTAPRSOLPRODGER = Hidden(DateField(cdsDestSolGere, "cdsDestSolGereDTAPRSOLPRODGER",
                                                   "DTAPRSOLPRODGER", "Dt. Aprovação/Reprovação"));

  cdsFilSoliGrid->AfterScroll = [this](fw::TDataSet* dataSet) {
    cdsFilSoliGridAfterScroll(dataSet);
  };
  cdsItensGrid->AfterScroll = [this](fw::TDataSet* dataSet) { cdsItensGridAfterScroll(dataSet); };
  cdsItensGrid->AfterOpen = [this](fw::TDataSet* dataSet) { cdsItensGridAfterOpen(dataSet); };

  // ---- local queries ----
  qryProduto = Create<fw::TLocalQuery>("qryProduto");
  qryProduto->SQL = {"SELECT CDARVPROD, CDPRODUTO, NMPRODUTO", "FROM PRODUTO",
                     "ORDER BY CDARVPROD"};
  qryProduto->SQL_ORACLE = kProductStatement;
  qryProduto->SQL_MSSQL = kProductStatement;
  qryProduto->SQL_IB = kProductStatement;
  qryProduto->Connection = "dtmDBGeral.adcGeral";
  qryProduto->Database = "dtmDBGeral.dtbGeral";
  qryProduto->Transaction = "dtmDBGeral.ibtGeral";
  qryProduto->ReadOnly = true;
  qryProduto->ClientCursor = true;
  qryProduto->KeysetCursor = true;
  qryProduto->CacheSize = 1;
  qryProduto->MaxRecords = 0;
  qryProduto->Prepared = false;
  qryProduto->CachedUpdates = false;
  qryProduto->Filtered = false;
  qryProduto->ParamCheck = true;
  qryProduto->EnableBCD = false;
  qryProduto->ObjectView = false;
  qryProduto->MarshalAll = true;
  qryProduto->AutoCalcFields = true;
  fw::TClientDataSet* products = qryProduto->Query();
  qryProdutoCDARVPROD = StringField(products, "qryProdutoCDARVPROD", "CDARVPROD", 0, "Código");
  qryProdutoCDPRODUTO = Hidden(StringField(products, "qryProdutoCDPRODUTO", "CDPRODUTO", 10));
  qryProdutoCDPRODUTO->Required = true;
  qryProdutoNMPRODUTO = StringField(products, "qryProdutoNMPRODUTO", "NMPRODUTO", 50, "Nome");

  qryVdProduto = Create<fw::TLocalQuery>("qryVdProduto");

  // ---- data sources ----
  dtsPadrao->SetDataSet(cdsFilSoliGrid);
  dtsFilSoli = Source(this, "dtsFilSoli", cdsFilSoli);
  dtsSolicita = Source(this, "dtsSolicita", cdsSolicita);
  dtsProduto = Source(this, "dtsProduto", qryProduto->Query());
  dtsItensGrid = Source(this, "dtsItensGrid", cdsItensGrid);
  dstDestSolGere = Source(this, "dstDestSolGere", cdsDestSolGere);
  dstVdProduto = Source(this, "dstVdProduto", qryVdProduto->Query());

  // ---- grids ----
  dbgPadrao->Options = kBranchGridOptions;
  dbgPadrao->Columns = {{"CDFILIAL", "Código", 60}, {"NMFILIAL", "Nome", 512}};

  dbgItens->SetDataSource(dtsItensGrid);
  dbgItens->Options = kItemsGridOptions;
  dbgItens->BorderStyle = fw::TBorderStyle::bsNone;
  dbgItens->SetColor(fw::clInfoBk);
  dbgItens->Columns = {
      {"STATUS", "", 125},
      {"CDFILLAN", "", kDefaultWidth},
      {"NRSOLICMP", "", kDefaultWidth},
      {"DTPROGENTR", "Dt. Entrega Solicitação", 70},
      {"NMOPERADOR", "", 139},
      {"DTHRLANCSOL", "", 60},
      {"NMDESTSOLI", "", 94},
      {"NRCOMPRA", "", kDefaultWidth},
      {"DTCONCOLEPREC", "", 83},
      {"NRAUTOFORN", "", kDefaultWidth},
      {"DTAUTOFORN", "", 72},
      {"DTPROGENTAF", "Dt. Entrega AF", kDefaultWidth},
      {"QTSOLIPROD", "Quantidade AF", kDefaultWidth},
      {"QTEFETENTRAF", "", kDefaultWidth},
      {"DTEMISSAO", "Data Lançamento NF", kDefaultWidth},
      {"CDOPERAPRO", "Responsável Lanç. NF", kDefaultWidth},
  };
  dbgItens->OnDblClick = [this](fw::TComponent* sender) { dbgItensDblClick(sender); };
  dbgItens->OnKeyDown = [this](fw::TComponent* sender, uint16_t& key, fw::TShiftState shift) {
    dbgPadraoKeyDown(sender, key, shift);
  };
  dbgItens->OnKeyPress = [this](fw::TComponent* sender, char& key) {
    dbgPadraoKeyPress(sender, key);
  };

  dbgDestSolGere->SetDataSource(dstDestSolGere);
  dbgDestSolGere->Options = kApprovalsGridOptions;
  dbgDestSolGere->SetColor(fw::clInfoBk);
  dbgDestSolGere->Columns = {{"IDAPROVPRGER", "Aprovação", 143},
                             {"NMOPERADOR", "Gerente", 282},
                             {"DTAPRSOLPRODGER", "Dt. Aprovação/Reprovação", kDefaultWidth}};

  // ---- service connection ----
  netAcompSoli = Create<fw::TNetConnection>("netAcompSoli");
  netAcompSoli->ServerName = "CMP09500.rdmAcompSoli";
  netAcompSoli->ThrowException = false;
  netAcompSoli->BeforeConnect = [this](fw::TComponent* sender) {
    netAcompSoliBeforeConnect(sender);
  };

  // ---- filter panel handlers and look-up buttons ----
  depSolicitacaoIni->OnExit = [this](fw::TComponent* sender) { depSolicitacaoIniExit(sender); };
  depSolicitacaoFin->OnExit = [this](fw::TComponent* sender) { depSolicitacaoFinExit(sender); };
  depEntrIni->OnExit = [this](fw::TComponent* sender) { depEntrIniExit(sender); };
  depEntrFin->OnExit = [this](fw::TComponent* sender) { depEntrFinExit(sender); };
  rbtTFilSoli->OnClick = [this](fw::TComponent* sender) { rbtTFilSoliClick(sender); };
  rbtListFilSoli->OnClick = [this](fw::TComponent* sender) { rbtListFilSoliClick(sender); };
  rbtTSolicitacao->OnClick = [this](fw::TComponent* sender) { rbtTSolicitacaoClick(sender); };
  rbtListSolicitacao->OnClick = [this](fw::TComponent* sender) { rbtListSolicitacaoClick(sender); };
  rbtListFilSoli->OnKeyDown = [this](fw::TComponent* sender, uint16_t& key, fw::TShiftState shift) {
    rbtListFilSoliKeyDown(sender, key, shift);
  };
  rbtListSolicitacao->OnKeyDown = [this](fw::TComponent* sender, uint16_t& key,
                                         fw::TShiftState shift) {
    rbtListSolicitacaoKeyDown(sender, key, shift);
  };
  sbtFilSoli->OnClick = [this](fw::TComponent* sender) { sbtFilSoliClick(sender); };
  sbtSolicita->OnClick = [this](fw::TComponent* sender) { sbtSolicitaClick(sender); };
  medCdProdIni->OnChange = [this](fw::TComponent* sender) { medCdProdIniChange(sender); };
  medCdProdFin->OnChange = [this](fw::TComponent* sender) { medCdProdFinChange(sender); };
  medCdProdIni->OnExit = [this](fw::TComponent* sender) { medCdProdIniExit(sender); };
  medCdProdFin->OnExit = [this](fw::TComponent* sender) { medCdProdFinExit(sender); };
  medCdProdIni->OnKeyPress = [this](fw::TComponent* sender, char& key) {
    medCdProdIniKeyPress(sender, key);
  };
  medCdProdFin->OnKeyPress = [this](fw::TComponent* sender, char& key) {
    medCdProdFinKeyPress(sender, key);
  };
  for (fw::TBtnPesquisa* button : {btnProdIni, btnProdFin}) {
    button->DataSource = dtsProduto;
    button->CodeField = "CDPRODUTO";
    button->NameField = "NMPRODUTO";
    button->EmptyError = "Não há produto cadastrado.";
    button->SetHint("Pesquisar");
    button->ShowHint = true;
    button->Glyph = "Pesquisar";
  }
  btnProdIni->Edit = medCdProdIni;
  btnProdFin->Edit = medCdProdFin;
  btnProdIni->OnAfterPesq = [this](fw::TComponent* sender) { btnProdIniAfterPesq(sender); };
  btnProdFin->OnAfterPesq = [this](fw::TComponent* sender) { btnProdFinAfterPesq(sender); };

  // ---- message list ----
  msgPadrao->Items = {
      "ProdIniFin_Inv|Produto inicial deve ser menor ou igual ao produto final.",
      "Fili_deve|Filial deve ser informada.",
      "Soli_deve|Solicitação deve ser informada.",
      "DtSoliI_deve|A data inicial de solicitação deve ser informada.",
      "DtEntrI_deve|A data inicial de entrega deve ser informada.",
      "DtSoliF_deve|A data final de solicitação deve ser informada.",
      "DtEntrF_deve|A data final de entrega deve ser informada.",
      "DtSoli_inv|Data de solicitação inicial é maior que a final.",
      "DtEntr_inv|Data de entrega inicial é maior que a final.",
      "Filial|Filial",
      "Solicitacao|Solicitação",
      "Aguarda_Aprov|Aguardando Aprovação",
      "Aguarda_Cot|Aguardando Cotação",
      "Em_Aberto|Em Aberto",
      "Baixa_Manual|Baixa Manual",
      "Baixa_Parcial|Baixa Parcial",
      "Aprovada|Aprovada",
      "Reprovada|Não aprovada",
      "Cotado|Cotado",
      "Nao_Aprovada|Não aprovada",
      "Baixa_Total|Baixa Total",
      "Encerrada|Encerrada",
      "Cancelada|Cancelada",
      "EDI",
  };

  SetActiveControl(panFiltro);
}

}  // namespace Cli_cmp09500
