// Socket connection to an application server (the host's service connection component).
//
// Connecting raises BeforeConnect first (where a screen sets Host and Port), then asks the host
// configuration's service factory for the server object. With ThrowException off a failing
// connect is not raised: the connection stays disconnected and the failure is kept; the first
// call through AppServer() then tries once more and raises the message naming host and port.
// A call through a disconnected connection connects first (a dropped server comes back without
// reopening the screen).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "framework/data/component.h"
#include "protocol/remote.h"

namespace fw {

class TNetConnection : public TComponent {
 public:
  using TComponent::TComponent;
  ~TNetConnection() override;

  std::string ServerName;
  bool ThrowException = true;
  std::string Host;
  int Port = 0;
  std::function<void(TComponent* sender)> BeforeConnect;

  bool Connected() const { return server_ != nullptr; }
  void SetConnected(bool connected);
  // The server object to invoke methods on; connects when disconnected. Raises ERemoteError.
  IAppServer& AppServer();
  const std::string& LastError() const { return lastError_; }

 private:
  void Connect();
  std::unique_ptr<IAppServer> server_;
  std::string lastError_;
};

}  // namespace fw
