// The behaviour of the request tracking screen: filter state and validation, pickers and the
// product range, the three-level loading, display texts, command states, find and print.
#include <initializer_list>

#include "item_screen/cli_cmp09501.h"
#include "request_screen/cli_cmp09500.h"

namespace Cli_cmp09500 {

namespace {
const std::string kAll = "T";

std::string FlagWhen(bool unrestricted) {
  return unrestricted ? kAll : std::string();
}
}  // namespace

void TfrmAcompSoli::Fail(const std::string& key, fw::TControl* focus) {
  focus->SetFocus();
  fw::MensErro(msgPadrao->Msg(key), true);
}

service::TCallContext TfrmAcompSoli::CallContext(fw::TClientDataSet* target, bool caption) {
  service::TCallContext context;
  context.Owner = this;
  context.Messages = msgPadrao;
  context.Connection = netAcompSoli;
  context.Target = target;
  context.Caption = caption;
  return context;
}

// ---- filter state and validation ----

void TfrmAcompSoli::FormActivate(fw::TComponent*) {
  Refresh();
  if (!boPrimVez) return;
  stLSolicita.clear();
  stTSolicita = kAll;
  stLFilSoli.clear();
  stTFilSoli = kAll;
  Cli_cmp09501::stDtEntr = kAll;
  stDtSoli = kAll;
  stTCdProd = kAll;
  boVD = true;
  // The focused edit may hold a text its own exit check refuses (a date that is not a date, an
  // unknown product code): the check shows its message once, keeps the focus on the edit, which
  // is in the panel all the same, and aborts. The initialisation must still finish, or the flags
  // just reset would disagree with the controls left as they were.
  try {
    panFiltro->SetFocus();
  } catch (const std::exception& error) {
    fw::Application->ShowException(error);
  }
  qryProdutoCDARVPROD->SetEditMask(fw::DBPict(0));
  medCdProdIni->SetEditMask(fw::DBPict(0));
  medCdProdFin->SetEditMask(fw::DBPict(0));
  depSolicitacaoIni->Clear();
  depSolicitacaoFin->Clear();
  depEntrIni->Clear();
  depEntrFin->Clear();
  // Checking runs the click handlers, which disable the search buttons.
  rbtTFilSoli->SetChecked(true);
  rbtTSolicitacao->SetChecked(true);
  boPrimVez = false;
}

void TfrmAcompSoli::panFiltroEnter(fw::TComponent*) {
  cdsFilSoliGrid->Close();
  cdsItensGrid->Close();
  cdsDestSolGere->Close();
  panFiltro->SetFocus();
}

void TfrmAcompSoli::Validacoes(bool checkLists) {
  try {
    stTSolicita = FlagWhen(fw::EmptyString(stLSolicita));
    stTFilSoli = FlagWhen(fw::EmptyString(stLFilSoli));
    stTCdProd =
        FlagWhen(fw::EmptyString(medCdProdIni->Text()) && fw::EmptyString(medCdProdFin->Text()));
    Vd_Data();
    if (checkLists) {
      if (rbtListFilSoli->Checked() && fw::EmptyString(stLFilSoli))
        Fail("Fili_deve", rbtListFilSoli);
      if (rbtListSolicitacao->Checked() && fw::EmptyString(stLSolicita))
        Fail("Soli_deve", rbtListSolicitacao);
    }
    boVD = true;
  } catch (...) {
    boVD = false;
    throw;
  }
}

void TfrmAcompSoli::Vd_Data() {
  stDtSoli.clear();
  Cli_cmp09501::stDtEntr.clear();
  const bool soliIniBlank = fw::EmptyString(depSolicitacaoIni->Text());
  const bool soliFinBlank = fw::EmptyString(depSolicitacaoFin->Text());
  const bool entrIniBlank = fw::EmptyString(depEntrIni->Text());
  const bool entrFinBlank = fw::EmptyString(depEntrFin->Text());
  if (soliIniBlank && soliFinBlank) stDtSoli = kAll;
  if (entrIniBlank && entrFinBlank) Cli_cmp09501::stDtEntr = kAll;
  // A blank final date reads as the earliest date: the text test keeps it from counting as an
  // inverted range, so it is reported as missing instead.
  if (depSolicitacaoFin->GetDate() < depSolicitacaoIni->GetDate() && !soliFinBlank)
    Fail("DtSoli_inv", depSolicitacaoIni);
  if (soliIniBlank && !soliFinBlank) Fail("DtSoliI_deve", depSolicitacaoIni);
  if (!soliIniBlank && soliFinBlank) Fail("DtSoliF_deve", depSolicitacaoFin);
  if (depEntrFin->GetDate() < depEntrIni->GetDate() && !entrFinBlank)
    Fail("DtEntr_inv", depEntrIni);
  if (entrIniBlank && !entrFinBlank) Fail("DtEntrI_deve", depEntrIni);
  if (!entrIniBlank && entrFinBlank) Fail("DtEntrF_deve", depEntrFin);
}

void TfrmAcompSoli::depSolicitacaoIniExit(fw::TComponent*) {
  depSolicitacaoIni->CheckValidDate();
}
void TfrmAcompSoli::depSolicitacaoFinExit(fw::TComponent*) {
  depSolicitacaoFin->CheckValidDate();
}
void TfrmAcompSoli::depEntrIniExit(fw::TComponent*) {
  depEntrIni->CheckValidDate();
}
void TfrmAcompSoli::depEntrFinExit(fw::TComponent*) {
  depEntrFin->CheckValidDate();
}

void TfrmAcompSoli::rbtTFilSoliClick(fw::TComponent*) {
  stLFilSoli.clear();
  stTFilSoli = kAll;
  sbtFilSoli->SetEnabled(rbtListFilSoli->Checked());
}

void TfrmAcompSoli::rbtListFilSoliClick(fw::TComponent*) {
  stLFilSoli.clear();
  stTFilSoli.clear();
  sbtFilSoli->SetEnabled(rbtListFilSoli->Checked());
}

void TfrmAcompSoli::rbtTSolicitacaoClick(fw::TComponent*) {
  stLSolicita.clear();
  stTSolicita = kAll;
  sbtSolicita->SetEnabled(rbtListSolicitacao->Checked());
}

void TfrmAcompSoli::rbtListSolicitacaoClick(fw::TComponent*) {
  stLSolicita.clear();
  stTSolicita.clear();
  sbtSolicita->SetEnabled(rbtListSolicitacao->Checked());
}

// ---- pickers ----

void TfrmAcompSoli::sbtFilSoliClick(fw::TComponent*) {
  // A new choice of branches discards the picked requests.
  if (rbtListSolicitacao->Checked()) stLSolicita.clear();
  Validacoes(false);
  if (!boVD) return;
  service::GetFilSoli(CallContext(cdsFilSoli));
  fw::PesquisaLista(dtsFilSoli, "CDFILSOLI", msgPadrao->Msg("Filial"), false, stLFilSoli);
}

void TfrmAcompSoli::sbtSolicitaClick(fw::TComponent*) {
  Validacoes(false);
  if (!boVD) return;
  if (fw::EmptyString(stLFilSoli)) fw::MensErro(msgPadrao->Msg("Fili_deve"), true);
  service::GetNrSolicita(CallContext(cdsSolicita), [this] {
    service::TGetNrSolicitaArgs args;
    args.dtSoliIni = depSolicitacaoIni->GetDate();
    args.dtSoliFin = depSolicitacaoFin->GetDate();
    args.stDtSoli = &stDtSoli;
    args.dtEntrIni = depEntrIni->GetDate();
    args.dtEntrFin = depEntrFin->GetDate();
    args.stDtEntr = &Cli_cmp09501::stDtEntr;
    args.stLFilSoli = &stLFilSoli;
    args.stTFilSoli = &stTFilSoli;
    return args;
  });
  fw::PesquisaLista(dtsSolicita, "NRSOLICMP", msgPadrao->Msg("Solicitacao"), false, stLSolicita);
}

void TfrmAcompSoli::rbtListFilSoliKeyDown(fw::TComponent*, uint16_t& key, fw::TShiftState) {
  if (key == fw::vk::F9) sbtFilSoliClick(sbtFilSoli);
}

void TfrmAcompSoli::rbtListSolicitacaoKeyDown(fw::TComponent*, uint16_t& key, fw::TShiftState) {
  if (key == fw::vk::F9) sbtSolicitaClick(sbtSolicita);
}

// ---- product range ----

void TfrmAcompSoli::medCdProdIniChange(fw::TComponent*) {
  edtNmProdIni->SetText({});
}
void TfrmAcompSoli::medCdProdFinChange(fw::TComponent*) {
  edtNmProdFin->SetText({});
}
void TfrmAcompSoli::medCdProdIniExit(fw::TComponent*) {
  VD_Produto(medCdProdIni, edtNmProdIni);
}
void TfrmAcompSoli::medCdProdFinExit(fw::TComponent*) {
  VD_Produto(medCdProdFin, edtNmProdFin);
}
void TfrmAcompSoli::medCdProdIniKeyPress(fw::TComponent*, char&) {}
void TfrmAcompSoli::medCdProdFinKeyPress(fw::TComponent*, char&) {}

void TfrmAcompSoli::btnProdIniAfterPesq(fw::TComponent*) {
  medCdProdIni->SetText(qryProdutoCDARVPROD->Text());
  edtNmProdIni->SetText(qryProdutoNMPRODUTO->Text());
}

void TfrmAcompSoli::btnProdFinAfterPesq(fw::TComponent*) {
  medCdProdFin->SetText(qryProdutoCDARVPROD->Text());
  edtNmProdFin->SetText(qryProdutoNMPRODUTO->Text());
}

void TfrmAcompSoli::VD_Produto(fw::TMaskEdit* codeEdit, fw::TEdit* nameEdit) {
  std::string code = codeEdit->Text();
  if (fw::EmptyString(code)) return;
  try {
    fw::ValidEx(dtsProduto, 0, code, {}, std::string(), true);
    const std::vector<std::string> product = fw::Dados_Produto(code);
    nameEdit->SetText(product.empty() ? std::string() : product[0]);
    // Codes compare as text, character code by character code: "10" comes before "9".
    const std::string& initial = medCdProdIni->Text();
    const std::string& final = medCdProdFin->Text();
    if (initial > final && !fw::EmptyString(final))
      fw::MensErro(msgPadrao->Msg("ProdIniFin_Inv"), true);
  } catch (...) {
    (codeEdit == medCdProdIni ? medCdProdIni : medCdProdFin)->SetFocus();
    throw;
  }
}

// ---- result loading and drill-down ----

void TfrmAcompSoli::LoadBranches() {
  service::GetFilSoliGD(CallContext(cdsFilSoliGrid), [this] {
    service::TGetFilSoliGDArgs args;
    args.dtSoliIni = depSolicitacaoIni->GetDate();
    args.dtSoliFin = depSolicitacaoFin->GetDate();
    args.stDtSoli = &stDtSoli;
    args.dtEntrIni = depEntrIni->GetDate();
    args.dtEntrFin = depEntrFin->GetDate();
    args.stDtEntr = &Cli_cmp09501::stDtEntr;
    args.stLFilSoli = &stLFilSoli;
    args.stTFilSoli = &stTFilSoli;
    args.stLSolicita = &stLSolicita;
    args.stTSolicita = &stTSolicita;
    args.cdProdIni = medCdProdIni->Text();
    args.cdProdFin = medCdProdFin->Text();
    args.stTCdProd = &stTCdProd;
    return args;
  });
}

void TfrmAcompSoli::LoadItems() {
  service::GetItens(CallContext(cdsItensGrid), [this] {
    service::TGetItensArgs args;
    args.dtSoliIni = depSolicitacaoIni->GetDate();
    args.dtSoliFin = depSolicitacaoFin->GetDate();
    args.stDtSoli = &stDtSoli;
    args.dtEntrIni = depEntrIni->GetDate();
    args.dtEntrFin = depEntrFin->GetDate();
    args.stDtEntr = &Cli_cmp09501::stDtEntr;
    args.cdFilial = cdsFilSoliGridCDFILIAL->Text();
    args.stLSolicita = &stLSolicita;
    args.stTSolicita = &stTSolicita;
    args.cdProdIni = medCdProdIni->Text();
    args.cdProdFin = medCdProdFin->Text();
    args.stTCdProd = &stTCdProd;
    return args;
  });
}

void TfrmAcompSoli::panFiltroExit(fw::TComponent*) {
  Validacoes(true);
  if (boVD) LoadBranches();
}

void TfrmAcompSoli::cdsFilSoliGridAfterScroll(fw::TDataSet*) {
  Validacoes(false);
  if (cdsDestSolGere->Active()) cdsDestSolGere->Close();
  if (!boVD) return;
  try {
    LoadItems();
  } catch (...) {
    // The items still held belong to the branch that was under the cursor before the move:
    // listed under this one, a move in them or a double-click would mix the keys of two
    // branches. Items of this very branch (a failure of their approvals) stay.
    if (cdsItensGrid->Active() && itensFilial_ != cdsFilSoliGridCDFILIAL->Text())
      cdsItensGrid->Close();
    throw;
  }
}

void TfrmAcompSoli::cdsItensGridAfterOpen(fw::TDataSet*) {
  itensFilial_ = cdsFilSoliGridCDFILIAL->Text();
}

void TfrmAcompSoli::cdsItensGridAfterScroll(fw::TDataSet*) {
  service::GetDestSolGere(CallContext(cdsDestSolGere, false), [this] {
    service::TGetDestSolGereArgs args;
    args.nrSoliCmp = cdsItensGridNRSOLICMP->AsString();
    args.cdFilial = cdsFilSoliGridCDFILIAL->AsString();
    args.cdFilLan = cdsItensGridCDFILLAN->AsString();
    args.cdDestSoli = cdsItensGridCDDESTSOLI->AsString();
    return args;
  });
}

void TfrmAcompSoli::sbtVerificarClick(fw::TComponent*) {
  // No validation: the filter controls as they are, the flags as last computed.
  if (pgcPadrao->ActivePage() == tshPadrao) {
    if (!dtsPadrao->DataSet()->IsEmpty()) LoadBranches();
  } else if (!dtsItensGrid->DataSet()->IsEmpty()) {
    LoadItems();
  }
}

void TfrmAcompSoli::dbgItensDblClick(fw::TComponent*) {
  const fw::TField* field = dbgItens->SelectedField();
  if (field && field->FieldName() == "NRSOLICMP") Cli_cmp09501::CriaAcompItens();
}

// ---- display texts ----

void TfrmAcompSoli::cdsItensGridSTATUSGetText(fw::TField*, std::string& text, bool) {
  struct TStatus {
    const char* Code;
    const char* Key;
  };
  static constexpr TStatus kStatuses[] = {
      {"A", "Aguarda_Aprov"}, {"B", "Aguarda_Cot"},   {"C", "Cotado"},    {"D", "Em_Aberto"},
      {"7", "EDI"},           {"5", "Cancelada"},     {"4", "Encerrada"}, {"3", "Baixa_Manual"},
      {"2", "Baixa_Total"},   {"1", "Baixa_Parcial"},
  };
  const std::string code = cdsItensGridSTATUS->AsString();
  for (const TStatus& status : kStatuses) {
    if (code == status.Code) {
      text = msgPadrao->Msg(status.Key);
      return;
    }
  }
}

void TfrmAcompSoli::cdsDestSolGereIDAPROVPRGERGetText(fw::TField*, std::string& text, bool) {
  text = msgPadrao->Msg(cdsDestSolGereIDAPROVPRGER->AsString() == "S" ? "Aprovada" : "Reprovada");
}

// ---- command states, find and print ----

void TfrmAcompSoli::ApplyCommandStates() {
  const bool branchesInView = pgcPadrao->ActivePage() == tshPadrao;
  const fw::TDataSource* source = branchesInView ? dtsPadrao : dtsItensGrid;
  const bool hasRows = source->State() == fw::TDataSetState::dsBrowse && source->DataSet() &&
                       !source->DataSet()->IsEmpty();
  for (fw::TMenuItem* item : {mnuCancelar, mnuConfirmar, mnuIncluir, mnuAlterar, mnuExcluir})
    item->SetEnabled(false);
  mnuProcurar->SetEnabled(hasRows);
  mnuVerificar->SetEnabled(hasRows);
  for (fw::TMenuItem* item :
       {mnuCancelar, mnuConfirmar, mnuIncluir, mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar})
    ButtonOf(item)->SetEnabled(item->Enabled());
  DataDependentControl()->SetEnabled(hasRows);
  // Printing follows the data in view, as find and verify do.
  sbtImprimir->SetEnabled(hasRows);
  if (branchesInView)
    BrowseDependentControl()->SetEnabled(dtsPadrao->State() == fw::TDataSetState::dsBrowse);
}

void TfrmAcompSoli::dtsPadraoStateChange(fw::TComponent*) {
  ApplyCommandStates();
}

void TfrmAcompSoli::pgcPadraoChange(fw::TComponent*) {
  ApplyCommandStates();
}

void TfrmAcompSoli::Anterior1Click(fw::TComponent* sender) {
  fw::TfrmPadraoGrid::Anterior1Click(sender);
  ApplyCommandStates();
}

void TfrmAcompSoli::sbtProcurarClick(fw::TComponent*) {
  fw::TDataSource* source = dstDestSolGere;
  if (pgcPadrao->ActivePage() == tshPadrao)
    source = dtsPadrao;
  else if (ActiveControl() == dbgItens)
    source = dtsItensGrid;
  fw::TDataSet* dataSet = source->DataSet();
  if (dataSet && dataSet->Active()) fw::Procura(dataSet);
}

void TfrmAcompSoli::sbtImprimirClick(fw::TComponent*) {
  fw::LoadBPL("SUP00700");
}

}  // namespace Cli_cmp09500
