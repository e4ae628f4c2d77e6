// Configuration of the host: where the application server is, the product-code mask, the local
// database, and how a connection reaches the server.
//
// Read once from, in rising precedence: the defaults below, the file named by $ACOMP_CONFIG (or
// ./acomp.conf when present), and the environment ($ACOMP_SERVER_HOST, $ACOMP_SERVER_PORT,
// $ACOMP_PRODUCT_MASK, $ACOMP_LOCAL_DB, $ACOMP_TLS, $ACOMP_TLS_CA, and the login: $ACOMP_USUARIO
// with $ACOMP_SENHA, taken only when both are set). The file holds "key = value" lines with the
// keys server_host, server_port, product_mask, local_db, tls, tls_ca; "#" starts a comment.
//
// Encryption: "tls = on" (or yes, sim, true, 1) makes every connection to the servers speak
// TLS, checking the server's certificate against the authorities in tls_ca (the system's when
// not given). "off", "no", "não", "false", "0" turn it off; any other value but an empty one
// turns it on, so that a mistyped setting never sends the data in the clear.
//
// The server may be a list of application servers that serve the same database:
// "server_host = app1:7450, app2:7450" (an entry without a port takes server_port). A connection
// tries them in order and moves on to the next after a failure (failover_app_server.h).
//
// The login is kept here, in memory only, for the whole session: every connection the service
// factory makes logs in with it (a reconnect after a server restart asks nothing). A password is
// never read from the file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/tcp_app_server.h"
#include "protocol/remote.h"

namespace fw {

struct THostConfig {
  std::string ServerHost = "127.0.0.1";  // one host, or a list "host1:7450,host2:7450"
  int ServerPort = 7450;
  std::string ProductMask = "00.000.000;0;_";
  std::string LocalDatabase = "demo/demo.db";
  bool Tls = false;
  std::string TlsCaFile;
  // The login every connection to the server makes (empty: none, as against a canned service).
  TCredentials Credentials;
  bool HasCredentials() const { return !Credentials.Login.empty(); }
  // Makes the connection to an application-server object: the TCP client over the list of
  // servers (connected at once) unless a test or the screen driver puts another in its place.
  std::function<std::unique_ptr<IAppServer>(const std::string& host, int port,
                                            const std::string& serverName)>
      ServiceFactory;
};

THostConfig& HostConfig();
// How a connection to the servers is made under `config`: the default time-outs, and TLS.
TTcpAppServer::TOptions ConnectionOptions(const THostConfig& config);
// Applies a config file's "key = value" lines; returns false when the file cannot be read.
bool LoadConfigFile(THostConfig& config, const std::string& path);
// Applies the environment variables.
void LoadConfigEnvironment(THostConfig& config);
// The files LoadHostConfig reads, in order, a later one's keys over an earlier one's: the site's
// (/etc/acomp/host.conf), the user's ($XDG_CONFIG_HOME or ~/.config, then acomp/host.conf), and
// $ACOMP_CONFIG or acomp.conf in the working folder. Files that are not there are passed over.
std::vector<std::string> HostConfigFiles();
// Defaults, then the files, then the environment.
void LoadHostConfig();

}  // namespace fw
