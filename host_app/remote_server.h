// The application server as the Qt host reaches it: the TCP client, each connect and call run
// through the platform's RunRemoteCall, so that the window stays painted and a hung server can be
// cancelled from the busy indicator.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/failover_app_server.h"
#include "framework/net/tcp_app_server.h"
#include "protocol/account.h"

namespace hostapp {

class QtPlatform;

class CancellableAppServer : public fw::IAppServer {
 public:
  // The platform must outlive this object (the main window owns it; the forms, and with them
  // their connections, are freed before the window).
  CancellableAppServer(std::unique_ptr<fw::TFailoverAppServer> client, QtPlatform& platform);

  void Connect();
  fw::TRemoteResult Invoke(const std::string& method, std::vector<fw::TRemoteArg>& args) override;
  fw::TFailoverAppServer& Client() { return *client_; }
  // Told, on the window's thread, the server a connect or a call reached ("host:7450").
  std::function<void(const std::string& address)> OnServerInUse;

 private:
  void ToldServerInUse();

  std::unique_ptr<fw::TFailoverAppServer> client_;
  QtPlatform& platform_;
};

// The host's service factory (fw::HostConfig().ServiceFactory): a client of the configured
// server list ("host1:7450,host2:7450", failing over in order), connected at once, cancellable
// from the window. `onLogin` hears what the account reads, from each connection's login; an
// account that reads nothing gets no connection ("Sua conta não tem acesso a nenhuma filial."),
// so that no screen queries anything. `onServerInUse`, when given, hears of the server each
// connection reaches.
std::function<std::unique_ptr<fw::IAppServer>(const std::string&, int, const std::string&)>
CancellableServiceFactory(QtPlatform& platform,
                          fw::TTcpAppServer::TOptions options = fw::TTcpAppServer::TOptions(),
                          std::function<void(const fw::TAccountScope&)> onLogin = {},
                          std::function<void(const std::string&)> onServerInUse = {});

// "host:port" of a server as a user reads it ("[::1]:7450" for an IPv6 address).
std::string ServerText(const fw::TServerAddress& address);

}  // namespace hostapp
