// Unit Cli_cmp09501: the item tracking screen "CMP09501".
//
// TfrmAcompItens shows the purchase behind the request item under the cursor of the request
// screen: the upper grid (dbgPadrao over cdsProduto) lists the purchase's products with their
// purchase-order and invoice data, the lower grid (dbgCotacao over cdsCotacao) the price
// quotations of the product under the upper grid's cursor. The screen owns its two data sets and
// has no service connection of its own: every remote call goes through the request screen's
// netAcompSoli, and every argument is read from the request screen at the moment of the call.
//
// Events:
// - creation (FormCreate): loads the products (GetItemProduto); a load with rows puts the cursor
//   on the first product, whose after-scroll loads its quotations (GetItemCota) inside the first
//   call. A failure is shown by the framework and the screen opens with what it holds.
// - every cursor move of cdsProduto (cdsProdutoAfterScroll): one GetItemCota call.
// - every activation (FormActivate): the product-code edit mask on the product code field.
// - focus into the product grid or the quotation panel: the maintenance command states.
// - close (FormClose): the screen is released; boStCriado := false.
//
// The screen is created only through CriaAcompItens, which stores it in frmAcompItens before its
// creation handler runs; the loading reaches the screen through that reference. The reference is
// cleared when the screen object is destroyed.
#pragma once

#include <string>

#include "framework/host/padrao_grid.h"

namespace Cli_cmp09501 {

class TfrmAcompItens;

// The item screen last created; nullptr once it is destroyed.
extern TfrmAcompItens* frmAcompItens;
// Cleared when the item screen closes; nothing in the module sets or reads it.
extern bool boStCriado;
extern bool boPrimVez;
extern bool boVD;
// The delivery-date flag of the request screen's filter: the request screen reads and writes it
// here. The other strings are exported and unused; all seven are released at unit unload.
extern std::string stDtEntr;
extern std::string stTFilSoli, stLFilSoli, stTSolicita, stLSolicita, stDtSoli, stTCdProd;

// Creates a new item screen (hourglass cursor meanwhile), shows it modally and returns once the
// user has closed it; the cursor is set back to the default only then. Needs the request screen.
void CriaAcompItens();

class TfrmAcompItens : public fw::TfrmPadraoGrid {
 public:
  explicit TfrmAcompItens(fw::TComponent* owner);
  ~TfrmAcompItens() override;

  // Added to mnuManutencao between mnuVerificar and mnuCancelar; Ctrl+A; no action.
  fw::TMenuItem* mnuAutomatico;

  // Between the product panel (panDbgPadrao) and the quotation panel.
  fw::TSplitter* Splitter1;
  fw::TPanel* panProduto;
  fw::TScrollBox* ScrollBox2;
  fw::TDBGrid* dbgCotacao;

  // The products of the purchase, in field order.
  fw::TClientDataSet* cdsProduto;
  fw::TField* cdsProdutoCDARVPROD;
  fw::TField* cdsProdutoCDPRODUTO;
  fw::TField* cdsProdutoNMPRODUTO;
  fw::TField* cdsProdutoSGUNIDADE;
  fw::TField* cdsProdutoQTSOLIPROD;
  fw::TField* cdsProdutoVRCMPANTERIOR;
  fw::TField* cdsProdutoNMRAZSOCFORN;
  fw::TField* cdsProdutoVRTOTALAF;
  fw::TField* cdsProdutoNRNOTAFISC;
  fw::TField* cdsProdutoDTEMISSAO;
  fw::TField* cdsProdutoCDTIPOOPER;
  fw::TField* cdsProdutoVRNOTAFISC;
  fw::TField* cdsProdutoDTAPROVACAO;
  fw::TField* cdsProdutoNMOPERADOR;
  fw::TField* cdsProdutoCDMARCA;
  fw::TField* cdsProdutoCDFILLANC;
  fw::TField* cdsProdutoDTENTRSAID;

  // The quotations of the product under the product cursor, in field order.
  fw::TClientDataSet* cdsCotacao;
  fw::TField* cdsCotacaoNRCOLEPRECO;
  fw::TField* cdsCotacaoIDSITUCOLETA;
  fw::TField* cdsCotacaoNMOPERADOR;
  fw::TField* cdsCotacaoNMRAZSOCFORN;
  fw::TField* cdsCotacaoVRPRECUNIITM;

  // Feeds the product grid dbgPadrao; dtsPadrao (inherited) feeds dbgCotacao.
  fw::TDataSource* dtsProduto;

  // Handlers.
  void FormCreate(fw::TComponent* sender) override;
  void CarregaProd();
  void cdsProdutoAfterScroll(fw::TDataSet* dataSet);
  void FormActivate(fw::TComponent* sender);
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action) override;
  void sbtProcurarClick(fw::TComponent* sender) override;
  void dbgPadraoEnter(fw::TComponent* sender);
  void panProdutoEnter(fw::TComponent* sender);
  void dtsProdutoStateChange(fw::TComponent* sender);
  void cdsCotacaoIDSITUCOLETAGetText(fw::TField* sender, std::string& text, bool displayText);
};

}  // namespace Cli_cmp09501
