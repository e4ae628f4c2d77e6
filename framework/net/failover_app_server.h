// An application-server object reached through any of several application servers that serve
// the same database. The servers hold no state of their own, so any of them will do; the list
// comes from the host's configuration: "host1:7450,host2:7450".
//
// - Connecting tries the servers in the list's order and keeps the first that takes the
//   connection; when none does, the error names each with its reason.
// - A call goes to the server connected. A transport failure during the call (time-out, reset,
//   the server closing mid-call) is raised and the call is not repeated, since that server may
//   have run it; the next call connects to the next server of the list, then the others in
//   turn, the one that failed last.
// - A connection the server closed while idle (a stop or a restart) is noticed before anything
//   is sent: the call then goes to the first server that takes a connection, starting with the
//   same one (a restarted server is back at once). Nothing had been sent, so nothing is
//   repeated.
// - `error` and `fail` replies change nothing: the server answered.
//
// - Each server's connection logs in with the credentials set (see TTcpAppServer); a login
//   refusal is raised as it is, without trying the other servers, which share the accounts
//   (and would count the same attempt again against the throttle).
//
// With one server in the list this is exactly TTcpAppServer.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/tcp_app_server.h"
#include "protocol/remote.h"

namespace fw {

struct TServerAddress {
  std::string Host;
  int Port = 0;
};

// "host1:7450, host2 ,[::1]:7451": entries separated by commas (blanks around them ignored), the
// port after the last colon, an IPv6 address in brackets; `defaultPort` where an entry has none
// (0: every entry must have one). Raises ERemoteError for an empty list or a bad port.
std::vector<TServerAddress> ParseServerList(const std::string& text, int defaultPort);

class TFailoverAppServer : public IAppServer {
 public:
  TFailoverAppServer(std::vector<TServerAddress> servers, std::string serverName,
                     TTcpAppServer::TOptions options = {});

  // For every server's connections from now on.
  void SetCredentials(const TCredentials& credentials);
  // Connects to the first server of the list that takes the connection. Raises ERemoteError
  // (ELoginRefused when the login is refused).
  void Connect();
  TRemoteResult Invoke(const std::string& method, std::vector<TRemoteArg>& args) override;

  // The server calls go to now, as listed.
  const TServerAddress& Current() const { return addresses_[current_]; }
  bool Connected() const { return servers_[current_]->Connected(); }
  // The account of the last login on the server calls go to (TTcpAppServer).
  const std::string& UserName() const { return servers_[current_]->UserName(); }
  const TAccountScope& Scope() const { return servers_[current_]->Scope(); }
  // Safe from any thread: ends the Connect or Invoke in flight, as TTcpAppServer::Cancel does
  // (the connection closes and the call raises "Operação cancelada pelo usuário."); a connect
  // does not go on to the next server. As after any transport failure, the next call starts
  // with the next server of the list.
  void Cancel();

 private:
  void ConnectFrom(size_t first);

  std::vector<TServerAddress> addresses_;
  std::vector<std::unique_ptr<TTcpAppServer>> servers_;
  size_t current_ = 0;
  std::chrono::steady_clock::time_point lastAnswer_;
};

}  // namespace fw
