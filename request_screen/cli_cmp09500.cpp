// Unit Cli_cmp09500: module-level variables, the screen's creation entry and its life cycle.
#include "request_screen/cli_cmp09500.h"

namespace Cli_cmp09500 {

TfrmAcompSoli* frmAcompSoli = nullptr;
bool boStCriado = false;
bool boPrimVez = false;
std::string stTFilSoli;
std::string stLFilSoli;
std::string stTSolicita;
std::string stLSolicita;
bool boVD = false;

void CriaAcompSoli() {
  fw::Application->SetCursor(fw::TCursor::crHourGlass);
  if (!boStCriado) {
    fw::Application->CreateForm(frmAcompSoli);
    boStCriado = true;
  }
  frmAcompSoli->Show();
  fw::Application->SetCursor(fw::TCursor::crDefault);
}

void Initialization() {
  boPrimVez = false;
  boVD = false;
  stTFilSoli.clear();
  stLFilSoli.clear();
  stTSolicita.clear();
  stLSolicita.clear();
}

void Finalization() {
  // Release the memory too, not only the text.
  std::string().swap(stTFilSoli);
  std::string().swap(stLFilSoli);
  std::string().swap(stTSolicita);
  std::string().swap(stLSolicita);
}

TfrmAcompSoli::~TfrmAcompSoli() {
  if (frmAcompSoli == this) {
    frmAcompSoli = nullptr;
    // A screen freed without its close (the application shutting down) must not leave the
    // singleton guard claiming a screen that no longer exists.
    boStCriado = false;
  }
}

void TfrmAcompSoli::FormCreate(fw::TComponent* sender) {
  fw::TfrmPadraoGrid::FormCreate(sender);
  netAcompSoli->SetConnected(true);
}

void TfrmAcompSoli::netAcompSoliBeforeConnect(fw::TComponent*) {
  netAcompSoli->Host = fw::WebURL();
  netAcompSoli->Port = fw::WebPort();
}

void TfrmAcompSoli::FormClose(fw::TComponent* sender, fw::TCloseAction& action) {
  fw::TfrmPadraoGrid::FormClose(sender, action);
  boStCriado = false;
  while (netAcompSoli->Connected()) netAcompSoli->SetConnected(false);
}

}  // namespace Cli_cmp09500
