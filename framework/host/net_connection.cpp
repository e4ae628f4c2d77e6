#include "framework/host/net_connection.h"

#include "framework/host/config.h"

namespace fw {

TNetConnection::~TNetConnection() = default;

void TNetConnection::Connect() {
  if (BeforeConnect) BeforeConnect(this);
  const auto& factory = HostConfig().ServiceFactory;
  if (!factory) throw ERemoteError("Nenhum meio de conexão ao servidor de aplicação configurado.");
  server_ = factory(Host, Port, ServerName);
  if (!server_)
    throw ERemoteError("Não foi possível conectar ao servidor de aplicação em " + Host + ":" +
                       std::to_string(Port) + ".");
  lastError_.clear();
}

void TNetConnection::SetConnected(bool connected) {
  if (connected == Connected()) return;
  if (!connected) {
    server_.reset();
    return;
  }
  try {
    Connect();
  } catch (const std::exception& error) {
    lastError_ = error.what();
    if (ThrowException) throw;
  }
}

IAppServer& TNetConnection::AppServer() {
  if (!server_) Connect();
  return *server_;
}

}  // namespace fw
