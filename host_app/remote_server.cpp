#include "host_app/remote_server.h"

#include "framework/host/config.h"
#include "host_app/qt_platform.h"

namespace hostapp {

CancellableAppServer::CancellableAppServer(std::unique_ptr<fw::TFailoverAppServer> client,
                                           QtPlatform& platform)
    : client_(std::move(client)), platform_(platform) {}

std::string ServerText(const fw::TServerAddress& address) {
  const bool v6 = address.Host.find(':') != std::string::npos;
  std::string text = v6 ? "[" : "";
  text += address.Host;
  if (v6) text += "]";
  return text + ":" + std::to_string(address.Port);
}

void CancellableAppServer::ToldServerInUse() {
  if (OnServerInUse && client_->Connected()) OnServerInUse(ServerText(client_->Current()));
}

void CancellableAppServer::Connect() {
  platform_.RunRemoteCall([this] { client_->Connect(); }, [this] { client_->Cancel(); });
  ToldServerInUse();
}

fw::TRemoteResult CancellableAppServer::Invoke(const std::string& method,
                                               std::vector<fw::TRemoteArg>& args) {
  fw::TRemoteResult result;
  platform_.RunRemoteCall([&] { result = client_->Invoke(method, args); },
                          [this] { client_->Cancel(); });
  ToldServerInUse();
  return result;
}

std::function<std::unique_ptr<fw::IAppServer>(const std::string&, int, const std::string&)>
CancellableServiceFactory(QtPlatform& platform, fw::TTcpAppServer::TOptions options,
                          std::function<void(const fw::TAccountScope&)> onLogin,
                          std::function<void(const std::string&)> onServerInUse) {
  return [&platform, options, onLogin, onServerInUse](const std::string& host, int port,
                                                      const std::string& name) {
    auto server = std::make_unique<CancellableAppServer>(
        std::make_unique<fw::TFailoverAppServer>(fw::ParseServerList(host, port), name, options),
        platform);
    server->OnServerInUse = onServerInUse;
    server->Client().SetCredentials(fw::HostConfig().Credentials);
    server->Connect();
    const fw::TAccountScope& scope = server->Client().Scope();
    if (onLogin) onLogin(scope);
    if (scope.ReadsNothing()) throw fw::ERemoteError(fw::kNoBranchAccess);
    return std::unique_ptr<fw::IAppServer>(std::move(server));
  };
}

}  // namespace hostapp
