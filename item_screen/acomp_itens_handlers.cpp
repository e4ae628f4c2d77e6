// The behaviour of the item tracking screen: creation and closing, the product and quotation
// loading, find, the command states, the product-code mask and the quotation situation text.
#include <stdexcept>

#include "framework/host/services.h"
#include "item_screen/cli_cmp09501.h"
#include "request_screen/cli_cmp09500.h"
#include "service/tracking_call.h"

namespace Cli_cmp09501 {

TfrmAcompItens* frmAcompItens = nullptr;
bool boStCriado = false;
bool boPrimVez = false;
bool boVD = false;
// Plain strings: their destructors release them when the package is unloaded.
std::string stDtEntr;
std::string stTFilSoli, stLFilSoli, stTSolicita, stLSolicita, stDtSoli, stTCdProd;

namespace {

// Everything the item screen sends is read from the request screen. The package exports
// CriaAcompItens, so a host may call it with no request screen open: report that instead of
// reading through a missing screen.
Cli_cmp09500::TfrmAcompSoli& RequestScreen() {
  if (!Cli_cmp09500::frmAcompSoli)
    throw std::runtime_error("A tela de acompanhamento da solicitação não está aberta.");
  return *Cli_cmp09500::frmAcompSoli;
}

// The loading reaches the screen through frmAcompItens, which CriaAcompItens stores before the
// creation handler runs; the connection is the request screen's.
service::TCallContext ItemCallContext(fw::TClientDataSet* TfrmAcompItens::*target) {
  if (!frmAcompItens) throw std::logic_error("A tela de itens não foi criada por CriaAcompItens.");
  service::TCallContext context;
  context.Owner = frmAcompItens;
  context.Messages = frmAcompItens->msgPadrao;
  context.Connection = RequestScreen().netAcompSoli;
  context.Target = frmAcompItens->*target;
  context.Caption = true;
  return context;
}

}  // namespace

void CriaAcompItens() {
  fw::Application->SetCursor(fw::TCursor::crHourGlass);
  fw::Application->CreateForm(frmAcompItens);
  frmAcompItens->ShowModal();
  fw::Application->SetCursor(fw::TCursor::crDefault);
}

TfrmAcompItens::~TfrmAcompItens() {
  if (frmAcompItens == this) frmAcompItens = nullptr;
}

void TfrmAcompItens::FormCreate(fw::TComponent* sender) {
  fw::TfrmPadraoGrid::FormCreate(sender);
  CarregaProd();
}

void TfrmAcompItens::CarregaProd() {
  service::GetItemProduto(ItemCallContext(&TfrmAcompItens::cdsProduto), [] {
    Cli_cmp09500::TfrmAcompSoli& soli = RequestScreen();
    service::TGetItemProdutoArgs args;
    args.cdFilial = soli.cdsFilSoliGridCDFILIAL->Text();
    args.nrSoliCmp = soli.cdsItensGridNRSOLICMP->Text();
    args.cdProdIni = soli.medCdProdIni->Text();
    args.cdProdFin = soli.medCdProdFin->Text();
    // The request screen's own flags: what the service leaves in them stays there.
    args.stTCdProd = &soli.stTCdProd;
    args.stDtSoli = &soli.stDtSoli;
    args.dtSoliIni = soli.depSolicitacaoIni->GetDate();
    args.dtSoliFin = soli.depSolicitacaoFin->GetDate();
    args.dtProgEntr = soli.cdsItensGridDTPROGENTR->AsDateTime();  // zero date when empty
    args.cdFilLan = soli.cdsItensGridCDFILLAN->AsString();
    args.nrCompra = soli.cdsItensGridNRCOMPRA->AsString();
    return args;
  });
}

void TfrmAcompItens::cdsProdutoAfterScroll(fw::TDataSet*) {
  // Same branch and quotation number for every product: only the product code changes.
  service::GetItemCota(ItemCallContext(&TfrmAcompItens::cdsCotacao), [this] {
    Cli_cmp09500::TfrmAcompSoli& soli = RequestScreen();
    service::TGetItemCotaArgs args;
    args.cdFilial = soli.cdsItensGridCDFILIAL->AsString();
    args.cdProduto = cdsProdutoCDPRODUTO->Text();
    args.nrColePreco = soli.cdsItensGridNRCOLEPRECO->AsString();
    return args;
  });
}

void TfrmAcompItens::FormActivate(fw::TComponent*) {
  cdsProdutoCDARVPROD->SetEditMask(fw::DBPict(0));
}

void TfrmAcompItens::FormClose(fw::TComponent* sender, fw::TCloseAction& action) {
  fw::TfrmPadraoGrid::FormClose(sender, action);
  boStCriado = false;
}

void TfrmAcompItens::sbtProcurarClick(fw::TComponent*) {
  // Only the products are searched; a found row moves the cursor and reloads the quotations.
  fw::TDataSet* dataSet = dtsProduto->DataSet();
  if (dataSet && dataSet->Active()) fw::Procura(dataSet);
}

void TfrmAcompItens::dbgPadraoEnter(fw::TComponent*) {
  for (fw::TMenuItem* item : {mnuCancelar, mnuConfirmar, mnuIncluir, mnuAlterar, mnuExcluir})
    item->SetEnabled(false);
  const bool browsing = dtsProduto->State() == fw::TDataSetState::dsBrowse;
  const bool hasRows = browsing && !cdsProduto->IsEmpty();
  mnuProcurar->SetEnabled(hasRows);
  mnuVerificar->SetEnabled(hasRows);
  CopyCommandStates();
  BrowseDependentControl()->SetEnabled(browsing);
}

void TfrmAcompItens::panProdutoEnter(fw::TComponent*) {
  for (const auto& command : MaintenanceCommands()) command.Item->SetEnabled(false);
  CopyCommandStates();
}

void TfrmAcompItens::dtsProdutoStateChange(fw::TComponent*) {}

void TfrmAcompItens::cdsCotacaoIDSITUCOLETAGetText(fw::TField* sender, std::string& text, bool) {
  text.clear();
  const std::string situation = sender->AsString();
  if (situation == "C") {
    text = msgPadrao->Msg("Concluida");
  } else if (situation == "A") {
    text = msgPadrao->Msg("Andamento");
  }
}

}  // namespace Cli_cmp09501
