// The host's standard grid screen, base of both tracking screens.
//
// Layout, top to bottom: the toolbar panMenu (sort, print, help, close, then one button per
// maintenance command), the page control pgcPadrao with the default tab tshPadrao holding the
// default grid dbgPadrao, and the record bar panNavigator (name text dbtNome, navigator dbnPadrao).
// Given more room, the page control takes it (anchored at every edge); the screen code and the
// navigator keep to the right edge.
// Menu mnuMenu: mnuOperacao (mnuListagem, mnuConfigImpressora) and mnuManutencao (mnuIncluir,
// mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar, mnuCancelar, mnuConfirmar); each maintenance
// item is paired with the toolbar button of the same name (sbtIncluir...), whose click runs it.
//
// The two further controls: the sort button sbtOrdenar follows the data (enabled with find and
// verify: sorting needs rows; it opens the sort dialog, fw::Ordena), and the navigator dbnPadrao
// follows the browse state of the default data source (it moves through an open data set).
//
// Handlers bound by name are virtual methods; a screen overrides them. FormCreate copies each
// maintenance item's enabled state to its button; FormClose releases the screen (caFree).
#pragma once

#include <string>

#include "framework/host/host_controls.h"
#include "framework/host/services.h"

namespace fw {

// Non-visual printer dialogs, kept for the screens' descriptions.
class TPrinterSetupDialog : public TComponent {
 public:
  using TComponent::TComponent;
};
class TPrintDialog : public TComponent {
 public:
  using TComponent::TComponent;
};

class TfrmPadraoGrid : public TForm {
 public:
  TfrmPadraoGrid(TComponent* owner, std::string name);

  TLabel* lblCodTela;
  TPanel* panMenu;
  TSpeedButton* sbtOrdenar;
  TSpeedButton* sbtImprimir;
  TSpeedButton* sbtAjuda;
  TSpeedButton* sbtFechar;
  TSpeedButton* sbtIncluir;
  TSpeedButton* sbtAlterar;
  TSpeedButton* sbtExcluir;
  TSpeedButton* sbtProcurar;
  TSpeedButton* sbtVerificar;
  TSpeedButton* sbtCancelar;
  TSpeedButton* sbtConfirmar;
  TPanel* panNavigator;
  TDBText* dbtNome;
  TDBNavigator* dbnPadrao;
  TPageControl* pgcPadrao;
  TTabSheet* tshPadrao;
  TPanel* panDbgPadrao;
  TScrollBox* scbFolhaDados;
  TDBGrid* dbgPadrao;
  TDataSource* dtsPadrao;
  TMainMenu* mnuMenu;
  TMenuItem* mnuOperacao;
  TMenuItem* mnuListagem;
  TMenuItem* mnuConfigImpressora;
  TMenuItem* mnuManutencao;
  TMenuItem* mnuIncluir;
  TMenuItem* mnuAlterar;
  TMenuItem* mnuExcluir;
  TMenuItem* mnuProcurar;
  TMenuItem* mnuVerificar;
  TMenuItem* mnuCancelar;
  TMenuItem* mnuConfirmar;
  TMessages* msgPadrao;
  TMessages* msgMensagensPadroes;
  TPrinterSetupDialog* psdConfigurar;
  TPrintDialog* prdImprimir;
  TPopupMenu* pmnNavegar;
  TMenuItem* Anterior1;

  // The further controls of the command-state rules.
  TControl* DataDependentControl() const { return sbtOrdenar; }
  TControl* BrowseDependentControl() const { return dbnPadrao; }
  // The seven maintenance items with their buttons, in menu order.
  struct TCommand {
    TMenuItem* Item;
    TSpeedButton* Button;
  };
  std::vector<TCommand> MaintenanceCommands() const;
  TSpeedButton* ButtonOf(const TMenuItem* item) const;
  // Gives each toolbar button the enabled state of its paired menu item.
  void CopyCommandStates();

  // Handlers bound by name.
  virtual void FormCreate(TComponent* sender);
  virtual void FormClose(TComponent* sender, TCloseAction& action);
  virtual void dtsPadraoStateChange(TComponent* sender);
  virtual void sbtProcurarClick(TComponent* sender);
  virtual void sbtVerificarClick(TComponent* sender);
  // The sort dialog over the focused grid of the screen, else the default grid.
  virtual void sbtOrdenarClick(TComponent* sender);
  virtual void Anterior1Click(TComponent* sender);
  virtual void dbgPadraoKeyDown(TComponent* sender, uint16_t& key, TShiftState shift);
  virtual void dbgPadraoKeyPress(TComponent* sender, char& key);

 protected:
  // Removes the state-change binding of dtsPadrao (a screen that reacts to nothing there).
  void UnbindStateChange();
};

}  // namespace fw
