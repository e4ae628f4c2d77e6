#include "framework/net/failover_app_server.h"

#include "framework/net/cancelled.h"

#include <cstdlib>
#include <string_view>

namespace fw {

namespace {

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

TServerAddress ParseEntry(const std::string& entry, int defaultPort) {
  TServerAddress address;
  std::string port;
  if (!entry.empty() && entry.front() == '[') {
    const size_t close = entry.find(']');
    if (close == std::string::npos)
      throw ERemoteError("Endereço de servidor inválido: " + entry + ".");
    address.Host = entry.substr(1, close - 1);
    if (close + 1 < entry.size()) {
      if (entry[close + 1] != ':')
        throw ERemoteError("Endereço de servidor inválido: " + entry + ".");
      port = entry.substr(close + 2);
    }
  } else {
    const size_t colon = entry.rfind(':');
    // More than one colon without brackets: an IPv6 address alone.
    if (colon == std::string::npos || entry.find(':') != colon) {
      address.Host = entry;
    } else {
      address.Host = entry.substr(0, colon);
      port = entry.substr(colon + 1);
    }
  }
  if (address.Host.empty()) throw ERemoteError("Endereço de servidor inválido: " + entry + ".");
  if (port.empty()) {
    if (defaultPort <= 0)
      throw ERemoteError("Falta a porta do servidor de aplicação em " + entry + ".");
    address.Port = defaultPort;
    return address;
  }
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (*end != '\0' || number <= 0 || number > 65535)
    throw ERemoteError("Porta inválida do servidor de aplicação em " + entry + ".");
  address.Port = static_cast<int>(number);
  return address;
}

}  // namespace

std::vector<TServerAddress> ParseServerList(const std::string& text, int defaultPort) {
  std::vector<TServerAddress> servers;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string entry =
        Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!entry.empty()) servers.push_back(ParseEntry(entry, defaultPort));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (servers.empty()) throw ERemoteError("Nenhum servidor de aplicação configurado.");
  return servers;
}

TFailoverAppServer::TFailoverAppServer(std::vector<TServerAddress> servers, std::string serverName,
                                       TTcpAppServer::TOptions options)
    : addresses_(std::move(servers)) {
  if (addresses_.empty()) throw ERemoteError("Nenhum servidor de aplicação configurado.");
  for (const auto& address : addresses_)
    servers_.push_back(
        std::make_unique<TTcpAppServer>(address.Host, address.Port, serverName, options));
}

void TFailoverAppServer::SetCredentials(const TCredentials& credentials) {
  for (auto& server : servers_) server->SetCredentials(credentials);
}

void TFailoverAppServer::Connect() {
  ConnectFrom(0);
}

void TFailoverAppServer::ConnectFrom(size_t first) {
  std::string reasons;
  for (size_t k = 0; k < servers_.size(); ++k) {
    const size_t i = (first + k) % servers_.size();
    try {
      servers_[i]->Connect();
      current_ = i;
      lastAnswer_ = std::chrono::steady_clock::now();
      return;
    } catch (const ELoginRefused&) {
      current_ = i;
      throw;
    } catch (const ECancelled&) {
      // The user gave up: no other server is tried; the next connect starts from the next one.
      if (servers_.size() > 1) current_ = (i + 1) % servers_.size();
      throw;
    } catch (const ERemoteError& failure) {
      if (servers_.size() == 1) throw;
      if (!reasons.empty()) reasons += " ";
      reasons += failure.what();
    }
  }
  throw ERemoteError("Nenhum servidor de aplicação respondeu. " + reasons);
}

void TFailoverAppServer::Cancel() {
  // Which server is in flight may change during a connect; each one ignores a cancel when it
  // has nothing in flight, so telling them all is exact. The list never changes after
  // construction, so reading it from another thread is safe.
  for (const auto& server : servers_) server->Cancel();
}

TRemoteResult TFailoverAppServer::Invoke(const std::string& method, std::vector<TRemoteArg>& args) {
  TTcpAppServer* server = servers_[current_].get();
  if (server->Connected() &&
      std::chrono::steady_clock::now() - lastAnswer_ > std::chrono::seconds(1) &&
      server->PeerClosedWhileIdle())
    server->Disconnect();
  if (!server->Connected()) {
    ConnectFrom(current_);
    server = servers_[current_].get();
  }
  try {
    TRemoteResult result = server->Invoke(method, args);
    lastAnswer_ = std::chrono::steady_clock::now();
    return result;
  } catch (const ERemoteError&) {
    if (server->Connected()) {
      lastAnswer_ = std::chrono::steady_clock::now();  // the server answered with an error
    } else {
      current_ = (current_ + 1) % servers_.size();  // the next call starts with the next one
    }
    throw;
  }
}

}  // namespace fw
