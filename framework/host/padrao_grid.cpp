#include "framework/host/padrao_grid.h"

#include "framework/platform.h"

namespace fw {

namespace {
TSpeedButton* ToolButton(TfrmPadraoGrid* form, const char* name, int left, const char* hint) {
  auto* button = form->Create<TSpeedButton>(name);
  button->SetParent(form->panMenu);
  button->SetBounds(left, 2, 25, 25);
  button->SetHint(hint);
  button->ShowHint = true;
  button->Glyph = name;
  return button;
}

TMenuItem* MenuItem(TfrmPadraoGrid* form, TMenuItem* parent, const char* name,
                    const char* caption) {
  auto* item = form->Create<TMenuItem>(name);
  item->SetCaption(caption);
  parent->Add(item);
  return item;
}
}  // namespace

TfrmPadraoGrid::TfrmPadraoGrid(TComponent* owner, std::string name)
    : TForm(owner, std::move(name)) {
  SetBounds(0, 0, 1036, 527);
  ClientWidth = 1020;
  ClientHeight = 488;

  panMenu = Create<TPanel>("panMenu");
  panMenu->SetParent(this);
  panMenu->SetAlign(TAlign::alTop);
  panMenu->SetBounds(0, 0, 1020, 28);
  panMenu->BevelOuter = TBevel::bvNone;

  // Sort, print, help and close; then the maintenance commands, right of the close button.
  sbtOrdenar = ToolButton(this, "sbtOrdenar", 2, "Ordenar");
  sbtImprimir = ToolButton(this, "sbtImprimir", 28, "Imprimir");
  sbtAjuda = ToolButton(this, "sbtAjuda", 54, "Ajuda");
  sbtFechar = ToolButton(this, "sbtFechar", 80, "Fechar");
  sbtIncluir = ToolButton(this, "sbtIncluir", 300, "Incluir");
  sbtAlterar = ToolButton(this, "sbtAlterar", 326, "Alterar");
  sbtExcluir = ToolButton(this, "sbtExcluir", 352, "Excluir");
  sbtProcurar = ToolButton(this, "sbtProcurar", 378, "Procurar");
  sbtVerificar = ToolButton(this, "sbtVerificar", 404, "Verificar");
  sbtCancelar = ToolButton(this, "sbtCancelar", 430, "Cancelar");
  sbtConfirmar = ToolButton(this, "sbtConfirmar", 456, "Confirmar");

  lblCodTela = Create<TLabel>("lblCodTela");
  lblCodTela->SetParent(panMenu);
  lblCodTela->SetBounds(950, 7, 60, 13);
  lblCodTela->Font.Bold = true;
  lblCodTela->Anchors = akTop | akRight;

  pgcPadrao = Create<TPageControl>("pgcPadrao");
  pgcPadrao->SetParent(this);
  pgcPadrao->SetBounds(0, 28, 1020, 422);
  pgcPadrao->TabStop = true;
  // More room for the window goes to the pages: the toolbar and the record bar keep theirs.
  pgcPadrao->Anchors = akAll;
  tshPadrao = Create<TTabSheet>("tshPadrao", pgcPadrao);
  panDbgPadrao = Create<TPanel>("panDbgPadrao");
  panDbgPadrao->SetParent(tshPadrao);
  panDbgPadrao->SetAlign(TAlign::alClient);
  panDbgPadrao->BevelOuter = TBevel::bvNone;
  scbFolhaDados = Create<TScrollBox>("scbFolhaDados");
  scbFolhaDados->SetParent(panDbgPadrao);
  scbFolhaDados->SetAlign(TAlign::alClient);
  scbFolhaDados->BorderStyle = TBorderStyle::bsNone;
  dtsPadrao = Create<TDataSource>("dtsPadrao");
  dbgPadrao = Create<TDBGrid>("dbgPadrao");
  dbgPadrao->SetParent(scbFolhaDados);
  dbgPadrao->SetAlign(TAlign::alClient);
  dbgPadrao->SetDataSource(dtsPadrao);

  panNavigator = Create<TPanel>("panNavigator");
  panNavigator->SetParent(this);
  panNavigator->SetAlign(TAlign::alBottom);
  panNavigator->SetBounds(0, 450, 1020, 38);
  dbtNome = Create<TDBText>("dbtNome");
  dbtNome->SetParent(panNavigator);
  dbtNome->SetBounds(8, 12, 400, 17);
  dbtNome->DataSource = dtsPadrao;
  dbtNome->Font.Bold = true;
  dbnPadrao = Create<TDBNavigator>("dbnPadrao");
  dbnPadrao->SetParent(panNavigator);
  dbnPadrao->SetBounds(860, 6, 148, 25);
  dbnPadrao->Anchors = akTop | akRight;
  dbnPadrao->DataSource = dtsPadrao;
  dbnPadrao->SetEnabled(false);

  mnuMenu = Create<TMainMenu>("mnuMenu");
  Menu = mnuMenu;
  mnuOperacao = MenuItem(this, mnuMenu->Items(), "mnuOperacao", "&Operação");
  mnuListagem = MenuItem(this, mnuOperacao, "mnuListagem", "&Listagem");
  mnuConfigImpressora =
      MenuItem(this, mnuOperacao, "mnuConfigImpressora", "&Configurar Impressora");
  mnuManutencao = MenuItem(this, mnuMenu->Items(), "mnuManutencao", "&Manutenção");
  mnuIncluir = MenuItem(this, mnuManutencao, "mnuIncluir", "&Incluir");
  mnuAlterar = MenuItem(this, mnuManutencao, "mnuAlterar", "&Alterar");
  mnuExcluir = MenuItem(this, mnuManutencao, "mnuExcluir", "&Excluir");
  mnuProcurar = MenuItem(this, mnuManutencao, "mnuProcurar", "&Procurar");
  mnuVerificar = MenuItem(this, mnuManutencao, "mnuVerificar", "&Verificar");
  mnuCancelar = MenuItem(this, mnuManutencao, "mnuCancelar", "&Cancelar");
  mnuConfirmar = MenuItem(this, mnuManutencao, "mnuConfirmar", "C&onfirmar");
  mnuIncluir->SetShortCut(ShortCut(vk::F1 + 1, 0));    // F2
  mnuAlterar->SetShortCut(ShortCut(vk::F1 + 2, 0));    // F3
  mnuExcluir->SetShortCut(ShortCut(vk::F1 + 3, 0));    // F4
  mnuProcurar->SetShortCut(ShortCut(vk::F1 + 4, 0));   // F5
  mnuVerificar->SetShortCut(ShortCut(vk::F1 + 5, 0));  // F6
  mnuCancelar->SetShortCut(ShortCut(vk::F1 + 6, 0));   // F7
  mnuConfirmar->SetShortCut(ShortCut(vk::F1 + 7, 0));  // F8

  msgPadrao = Create<TMessages>("msgPadrao");
  msgMensagensPadroes = Create<TMessages>("msgMensagensPadroes");
  msgMensagensPadroes->Items = {"Fechar|Fechar a tela?", "Sem_Registro|Registro não encontrado."};
  psdConfigurar = Create<TPrinterSetupDialog>("psdConfigurar");
  prdImprimir = Create<TPrintDialog>("prdImprimir");
  pmnNavegar = Create<TPopupMenu>("pmnNavegar");
  Anterior1 = MenuItem(this, pmnNavegar->Items(), "Anterior1", "&Anterior");

  // Name binding: each event runs the virtual handler of the same name.
  OnCreate = [this](TComponent* sender) { FormCreate(sender); };
  OnClose = [this](TComponent* sender, TCloseAction& action) { FormClose(sender, action); };
  dtsPadrao->OnStateChange = [this](TComponent* sender) { dtsPadraoStateChange(sender); };
  mnuProcurar->OnClick = [this](TComponent* sender) { sbtProcurarClick(sender); };
  mnuVerificar->OnClick = [this](TComponent* sender) { sbtVerificarClick(sender); };
  Anterior1->OnClick = [this](TComponent* sender) { Anterior1Click(sender); };
  dbgPadrao->OnKeyDown = [this](TComponent* sender, uint16_t& key, TShiftState shift) {
    dbgPadraoKeyDown(sender, key, shift);
  };
  dbgPadrao->OnKeyPress = [this](TComponent* sender, char& key) { dbgPadraoKeyPress(sender, key); };
  // A toolbar button runs its menu item, so the item's enabled state governs both.
  for (const auto& command : MaintenanceCommands()) {
    TMenuItem* item = command.Item;
    command.Button->OnClick = [item](TComponent*) { item->Click(); };
  }
  sbtFechar->OnClick = [this](TComponent*) { Close(); };
  sbtOrdenar->OnClick = [this](TComponent* sender) { sbtOrdenarClick(sender); };
  sbtAjuda->OnClick = [this](TComponent*) {
    IPlatform* platform = Application ? Application->Platform() : nullptr;
    if (platform && !platform->ShowHelp(lblCodTela->Caption()))
      platform->ShowMessage("A ajuda da tela " + lblCodTela->Caption() + " não está instalada.");
  };
}

std::vector<TfrmPadraoGrid::TCommand> TfrmPadraoGrid::MaintenanceCommands() const {
  return {{mnuIncluir, sbtIncluir},    {mnuAlterar, sbtAlterar},     {mnuExcluir, sbtExcluir},
          {mnuProcurar, sbtProcurar},  {mnuVerificar, sbtVerificar}, {mnuCancelar, sbtCancelar},
          {mnuConfirmar, sbtConfirmar}};
}

TSpeedButton* TfrmPadraoGrid::ButtonOf(const TMenuItem* item) const {
  for (const auto& command : MaintenanceCommands())
    if (command.Item == item) return command.Button;
  return nullptr;
}

void TfrmPadraoGrid::CopyCommandStates() {
  for (const auto& command : MaintenanceCommands())
    command.Button->SetEnabled(command.Item->Enabled());
}

void TfrmPadraoGrid::UnbindStateChange() {
  dtsPadrao->OnStateChange = nullptr;
}

void TfrmPadraoGrid::FormCreate(TComponent*) {
  CopyCommandStates();
}

void TfrmPadraoGrid::FormClose(TComponent*, TCloseAction& action) {
  action = TCloseAction::caFree;
}

void TfrmPadraoGrid::dtsPadraoStateChange(TComponent*) {
  const bool browsing = dtsPadrao->State() == TDataSetState::dsBrowse;
  const bool hasRows = browsing && !dtsPadrao->DataSet()->IsEmpty();
  mnuProcurar->SetEnabled(hasRows);
  mnuVerificar->SetEnabled(hasRows);
  CopyCommandStates();
  DataDependentControl()->SetEnabled(hasRows);
  BrowseDependentControl()->SetEnabled(browsing);
}

void TfrmPadraoGrid::sbtProcurarClick(TComponent*) {
  TDataSet* dataSet = dtsPadrao->DataSet();
  if (dataSet && dataSet->Active()) Procura(dataSet);
}

void TfrmPadraoGrid::sbtVerificarClick(TComponent*) {
  Refresh();
}

void TfrmPadraoGrid::sbtOrdenarClick(TComponent*) {
  auto* grid = dynamic_cast<TDBGrid*>(ActiveControl());
  Ordena(grid && grid->Form() == this ? grid : dbgPadrao);
}

void TfrmPadraoGrid::Anterior1Click(TComponent*) {
  TDataSet* dataSet = dtsPadrao->DataSet();
  if (dataSet && dataSet->Active()) dataSet->Prior();
}

void TfrmPadraoGrid::dbgPadraoKeyDown(TComponent* sender, uint16_t& key, TShiftState shift) {
  // Ctrl+Home and Ctrl+End reach the ends of the grid; the grid moves through the rest itself.
  auto* grid = dynamic_cast<TDBGrid*>(sender);
  TDataSet* dataSet = grid ? grid->DataSet() : nullptr;
  if (!dataSet || !dataSet->Active() || !(shift & ssCtrl)) return;
  if (key == vk::Home) {
    dataSet->First();
    key = 0;
  } else if (key == vk::End) {
    dataSet->Last();
    key = 0;
  }
}

void TfrmPadraoGrid::dbgPadraoKeyPress(TComponent*, char&) {}

}  // namespace fw
