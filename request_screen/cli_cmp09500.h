// Unit Cli_cmp09500: the request tracking screen "CMP09500" and the module-level variables that
// tie the module together.
//
// TfrmAcompSoli is a standard grid screen with a filter panel above its page control. Leaving the
// filter panel validates the filter and loads three levels, each inside the load of the level
// above: the requesting branches (cdsFilSoliGrid, tab "Filial Solicitante"), the request items of
// the branch under the cursor (cdsItensGrid) and the manager approvals of the item under the
// cursor (cdsDestSolGere), both on the tab "Itens". A double-click on the request-number column
// opens the item screen (Cli_cmp09501), which reads this screen's rows, filter controls and filter
// state through frmAcompSoli.
//
// The screen owns every component below, the service connection netAcompSoli (connected at
// creation, disconnected at close) and the product query qryProduto. Its description (what the
// constructor builds) is in acomp_soli_form.cpp; its behaviour in the handler files.
#pragma once

#include <cstdint>
#include <string>

#include "framework/db/local_query.h"
#include "framework/host/net_connection.h"
#include "framework/host/padrao_grid.h"
#include "service/tracking_call.h"

namespace Cli_cmp09500 {

class TfrmAcompSoli;

// The one request screen while it exists; cleared when the screen object is destroyed.
extern TfrmAcompSoli* frmAcompSoli;
// True from the creation of the request screen until its close (or its destruction).
extern bool boStCriado;
// Set by IniProc: the next activation of the request screen initialises the filter.
extern bool boPrimVez;
// The module-level part of the filter state: "T" flags and the pickers' selection strings. They
// outlive the screen and travel to the service as in-out arguments.
extern std::string stTFilSoli, stLFilSoli, stTSolicita, stLSolicita;
// Outcome of the last filter validation.
extern bool boVD;

// Creates the request screen if none exists (hourglass cursor meanwhile) and shows it, or brings
// the existing one to the front.
void CriaAcompSoli();

// Unit initialisation and finalisation, run by the package's load and unload entries: the
// variables back to their initial values, the filter strings released.
void Initialization();
void Finalization();

class TfrmAcompSoli : public fw::TfrmPadraoGrid {
 public:
  explicit TfrmAcompSoli(fw::TComponent* owner);
  ~TfrmAcompSoli() override;

  // Filter panel.
  fw::TPanel* panFiltro;
  fw::TGroupBox* grbDtSoli;
  fw::TLabel* lblSolicitacaoIni;
  fw::TDateEditPlus* depSolicitacaoIni;
  fw::TLabel* lblSolicitacaoFin;
  fw::TDateEditPlus* depSolicitacaoFin;
  fw::TGroupBox* grbDtEntr;
  fw::TLabel* lblEntrIni;
  fw::TDateEditPlus* depEntrIni;
  fw::TLabel* lblEntrFin;
  fw::TDateEditPlus* depEntrFin;
  fw::TGroupBox* grbFilSoli;
  fw::TRadioButton* rbtTFilSoli;
  fw::TRadioButton* rbtListFilSoli;
  fw::TButtonFlat* sbtFilSoli;
  fw::TGroupBox* grbSolicitacao;
  fw::TRadioButton* rbtTSolicitacao;
  fw::TRadioButton* rbtListSolicitacao;
  fw::TButtonFlat* sbtSolicita;
  fw::TGroupBox* grbProduto;
  fw::TLabel* lblCdProdIni;
  fw::TMaskEdit* medCdProdIni;
  fw::TBtnPesquisa* btnProdIni;
  fw::TEdit* edtNmProdIni;
  fw::TLabel* lblCdProdFin;
  fw::TMaskEdit* medCdProdFin;
  fw::TBtnPesquisa* btnProdFin;
  fw::TEdit* edtNmProdFin;

  // Tab "Itens": the items grid above the approvals grid.
  fw::TTabSheet* tshItens;
  fw::TPanel* panItens;
  fw::TScrollBox* scbItens;
  fw::TDBGrid* dbgItens;
  fw::TSplitter* Splitter1;
  fw::TPanel* panDestSolGere;
  fw::TScrollBox* scbDestSolGere;
  fw::TDBGrid* dbgDestSolGere;

  // Added to mnuManutencao between mnuVerificar and mnuCancelar; Ctrl+A; no action.
  fw::TMenuItem* mnuAutomatico;

  // Level 1: the requesting branches that have matching requests.
  fw::TClientDataSet* cdsFilSoliGrid;
  fw::TField* cdsFilSoliGridCDFILIAL;
  fw::TField* cdsFilSoliGridNMFILIAL;

  // Branch picker rows.
  fw::TClientDataSet* cdsFilSoli;
  fw::TField* cdsFilSoliIDMARCADO;
  fw::TField* cdsFilSoliCDFILSOLI;
  fw::TField* cdsFilSoliNMFILIAL;

  // Request picker rows.
  fw::TClientDataSet* cdsSolicita;
  fw::TField* cdsSolicitaIDMARCADO;
  fw::TField* cdsSolicitaNRSOLICMP;

  // Level 2: the request items of the branch under the cursor.
  fw::TClientDataSet* cdsItensGrid;
  fw::TField* cdsItensGridSTATUS;
  fw::TField* cdsItensGridCDFILLAN;
  fw::TField* cdsItensGridNRSOLICMP;
  fw::TField* cdsItensGridCDOPERLANC;
  fw::TField* cdsItensGridNMDESTSOLI;
  fw::TField* cdsItensGridNRCOMPRA;
  fw::TField* cdsItensGridDTCONCOLEPREC;
  fw::TField* cdsItensGridDTPROGENTR;
  fw::TField* cdsItensGridNMOPERADOR;
  fw::TField* cdsItensGridDTHRLANCSOL;
  fw::TField* cdsItensGridQTSOLIPROD;
  fw::TField* cdsItensGridQTEFETENTRAF;
  fw::TField* cdsItensGridNRAUTOFORN;
  fw::TField* cdsItensGridDTAUTOFORN;
  fw::TField* cdsItensGridCDOPERAPRO;
  fw::TField* cdsItensGridCDDESTSOLI;
  fw::TField* cdsItensGridNRCOLEPRECO;
  fw::TField* cdsItensGridCDFILIAL;
  fw::TField* cdsItensGridDTEMISSAO;
  fw::TField* cdsItensGridDTPROGENTAF;

  // Level 3: the manager approvals of the item under the cursor.
  fw::TClientDataSet* cdsDestSolGere;
  fw::TField* cdsDestSolGereIDAPROVPRGER;
  fw::TField* cdsDestSolGereNMOPERADOR;
  fw::TField* cdsDestSolGereCDDESTSOLI;
  fw::TField* cdsDestSolGereDTAPRSOLPRODGER;

  fw::TDataSource* dtsFilSoli;
  fw::TDataSource* dtsSolicita;
  fw::TDataSource* dtsProduto;
  fw::TDataSource* dtsItensGrid;
  fw::TDataSource* dstDestSolGere;
  fw::TDataSource* dstVdProduto;

  fw::TNetConnection* netAcompSoli;

  // The product list behind both look-up buttons and the product code check.
  fw::TLocalQuery* qryProduto;
  fw::TField* qryProdutoCDARVPROD;
  fw::TField* qryProdutoCDPRODUTO;
  fw::TField* qryProdutoNMPRODUTO;
  // Declared with the screen; no check uses it.
  fw::TLocalQuery* qryVdProduto;

  // The screen's part of the filter state: "T" when the request-date range, or the product
  // range, is unrestricted. Empty for a new screen.
  std::string stDtSoli;
  std::string stTCdProd;

  // Life cycle.
  void FormCreate(fw::TComponent* sender) override;
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action) override;
  void FormActivate(fw::TComponent* sender);
  void netAcompSoliBeforeConnect(fw::TComponent* sender);

  // Filter state and validation.
  void panFiltroEnter(fw::TComponent* sender);
  void Validacoes(bool checkLists);
  void Vd_Data();
  void depSolicitacaoIniExit(fw::TComponent* sender);
  void depSolicitacaoFinExit(fw::TComponent* sender);
  void depEntrIniExit(fw::TComponent* sender);
  void depEntrFinExit(fw::TComponent* sender);
  void rbtTFilSoliClick(fw::TComponent* sender);
  void rbtListFilSoliClick(fw::TComponent* sender);
  void rbtTSolicitacaoClick(fw::TComponent* sender);
  void rbtListSolicitacaoClick(fw::TComponent* sender);

  // Pickers and the product range.
  void sbtFilSoliClick(fw::TComponent* sender);
  void sbtSolicitaClick(fw::TComponent* sender);
  void rbtListFilSoliKeyDown(fw::TComponent* sender, uint16_t& key, fw::TShiftState shift);
  void rbtListSolicitacaoKeyDown(fw::TComponent* sender, uint16_t& key, fw::TShiftState shift);
  void medCdProdIniChange(fw::TComponent* sender);
  void medCdProdFinChange(fw::TComponent* sender);
  void medCdProdIniExit(fw::TComponent* sender);
  void medCdProdFinExit(fw::TComponent* sender);
  void medCdProdIniKeyPress(fw::TComponent* sender, char& key);
  void medCdProdFinKeyPress(fw::TComponent* sender, char& key);
  void btnProdIniAfterPesq(fw::TComponent* sender);
  void btnProdFinAfterPesq(fw::TComponent* sender);
  void VD_Produto(fw::TMaskEdit* codeEdit, fw::TEdit* nameEdit);

  // Result loading and drill-down.
  void panFiltroExit(fw::TComponent* sender);
  void cdsFilSoliGridAfterScroll(fw::TDataSet* dataSet);
  void cdsItensGridAfterScroll(fw::TDataSet* dataSet);
  void cdsItensGridAfterOpen(fw::TDataSet* dataSet);
  void sbtVerificarClick(fw::TComponent* sender) override;
  void dbgItensDblClick(fw::TComponent* sender);

  // Display texts.
  void cdsItensGridSTATUSGetText(fw::TField* sender, std::string& text, bool displayText);
  void cdsDestSolGereIDAPROVPRGERGetText(fw::TField* sender, std::string& text, bool displayText);

  // Command states, find and print.
  void dtsPadraoStateChange(fw::TComponent* sender) override;
  void pgcPadraoChange(fw::TComponent* sender);
  void Anterior1Click(fw::TComponent* sender) override;
  void sbtProcurarClick(fw::TComponent* sender) override;
  void sbtImprimirClick(fw::TComponent* sender);

 private:
  // Looks the key up in msgPadrao, focuses `focus` and reports the text (aborts).
  [[noreturn]] void Fail(const std::string& key, fw::TControl* focus);
  service::TCallContext CallContext(fw::TClientDataSet* target, bool caption = true);
  void LoadBranches();  // GetFilSoliGD into cdsFilSoliGrid
  void LoadItems();     // GetItens into cdsItensGrid
  void ApplyCommandStates();

  // The branch whose items cdsItensGrid holds (its code when they were loaded), so that a failed
  // items load after a branch move can tell the rows of another branch from those of this one.
  std::string itensFilial_;
};

}  // namespace Cli_cmp09500
