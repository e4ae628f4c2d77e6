// Unit Pkg_cmp09500: the package's entry points. Only wiring: the screens' units do the work.
#include "module/pkg_cmp09500.h"

#include "framework/ui/application.h"
#include "item_screen/cli_cmp09501.h"
#include "request_screen/cli_cmp09500.h"

namespace {

const char* const kUnits[] = {"Pkg_cmp09500", "Cli_cmp09500", "Cli_cmp09501"};
const TPackageInfoTable kPackageInfo = {"PKG_CMP09500", 3, kUnits};

void FinalizeItemUnit() {
  for (std::string* text :
       {&Cli_cmp09501::stDtEntr, &Cli_cmp09501::stTFilSoli, &Cli_cmp09501::stLFilSoli,
        &Cli_cmp09501::stTSolicita, &Cli_cmp09501::stLSolicita, &Cli_cmp09501::stDtSoli,
        &Cli_cmp09501::stTCdProd})
    std::string().swap(*text);
}

}  // namespace

extern "C" {

void Initialize() {
  Cli_cmp09500::Initialization();
}

void Finalize() {
  // The screen's code goes with the package: a screen still open cannot outlive it.
  if (Cli_cmp09500::frmAcompSoli && fw::Application)
    fw::Application->FreeComponent(Cli_cmp09500::frmAcompSoli);
  Cli_cmp09500::Finalization();
  FinalizeItemUnit();
}

const TPackageInfoTable* GetPackageInfoTable() {
  return &kPackageInfo;
}

void IniProc() {
  Cli_cmp09500::boPrimVez = true;
  Cli_cmp09500::CriaAcompSoli();
}

void CriaAcompSoli() {
  Cli_cmp09500::CriaAcompSoli();
}

void CriaAcompItens() {
  Cli_cmp09501::CriaAcompItens();
}
}
