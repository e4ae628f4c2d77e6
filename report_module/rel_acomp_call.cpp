#include "report_module/rel_acomp_call.h"

#include <stdexcept>

#include "framework/host/net_connection.h"
#include "framework/host/services.h"
#include "protocol/contract.h"
#include "protocol/report_contract.h"

namespace Rel_sup00700 {

namespace {

fw::TRemoteResult Call(const char* serverName, const std::string& caption, const char* method,
                       std::vector<fw::TRemoteArg>& args) {
  fw::TNetConnection connection(nullptr, "netRelAcomp");
  connection.ServerName = serverName;
  connection.BeforeConnect = [&connection](fw::TComponent*) {
    connection.Host = fw::WebURL();
    connection.Port = fw::WebPort();
  };
  fw::ActiveShowAvi(nullptr, 6, caption);
  try {
    fw::TRemoteResult result = connection.AppServer().Invoke(method, args);
    fw::DeactiveShowAvi();
    if (result.Refused) throw std::runtime_error(result.RefusalMessage);
    return result;
  } catch (...) {
    fw::DeactiveShowAvi();
    throw;
  }
}

}  // namespace

fw::TDataPacket FetchReport(const TReportFilter& filter) {
  std::vector<fw::TRemoteArg> args = {
      fw::TRemoteArg::FromDate(static_cast<double>(filter.FirstDay)),
      fw::TRemoteArg::FromDate(static_cast<double>(filter.LastDay)),
      fw::TRemoteArg::FromString(filter.Branches.empty() ? "T" : ""),
      fw::TRemoteArg::FromString(fw::BuildSelection(filter.Branches)),
      fw::TRemoteArg::FromString(filter.Statuses.empty() ? "T" : ""),
      fw::TRemoteArg::FromString(fw::BuildSelection(filter.Statuses)),
  };
  return Call(service::kReportServerName, "Buscando os itens do relatório...",
              service::kReportMethodName, args)
      .Data;
}

std::vector<std::pair<std::string, std::string>> FetchBranches() {
  std::vector<fw::TRemoteArg> args;
  const fw::TDataPacket packet =
      Call(service::kServerName, "Buscando as filiais...", "GetFilSoli", args).Data;
  const int code = packet.FieldIndex("CDFILSOLI");
  const int name = packet.FieldIndex("NMFILIAL");
  if (code < 0 || name < 0) throw std::runtime_error("A lista de filiais veio sem código ou nome.");
  std::vector<std::pair<std::string, std::string>> branches;
  for (size_t row = 0; row < packet.RowCount(); ++row)
    branches.emplace_back(packet.Columns()[static_cast<size_t>(code)].GetString(row),
                          packet.Columns()[static_cast<size_t>(name)].GetString(row));
  return branches;
}

}  // namespace Rel_sup00700
