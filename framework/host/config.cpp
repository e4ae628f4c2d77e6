#include "framework/host/config.h"

#include <cstdlib>
#include <fstream>

#include "framework/db/local_query.h"
#include "framework/net/failover_app_server.h"

namespace fw {

namespace {
std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

void Apply(THostConfig& config, const std::string& key, const std::string& value) {
  if (key == "server_host") {
    config.ServerHost = value;
  } else if (key == "server_port") {
    try {
      const int port = std::stoi(value);
      if (port > 0 && port < 65536) config.ServerPort = port;
    } catch (const std::exception&) {
      // An unreadable port keeps the one before.
    }
  } else if (key == "product_mask") {
    config.ProductMask = value;
  } else if (key == "local_db") {
    config.LocalDatabase = value;
  } else if (key == "tls" && !value.empty()) {
    std::string lower;
    for (const char c : value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    config.Tls = !(lower == "off" || lower == "no" || lower == "não" || lower == "nao" ||
                   lower == "false" || lower == "0");
  } else if (key == "tls_ca") {
    config.TlsCaFile = value;
  }
}
}  // namespace

THostConfig& HostConfig() {
  static THostConfig config = [] {
    THostConfig defaults;
    defaults.ServiceFactory = [](const std::string& host, int port, const std::string& name) {
      auto server = std::make_unique<TFailoverAppServer>(ParseServerList(host, port), name,
                                                         ConnectionOptions(HostConfig()));
      server->SetCredentials(HostConfig().Credentials);
      server->Connect();
      return std::unique_ptr<IAppServer>(std::move(server));
    };
    return defaults;
  }();
  return config;
}

TTcpAppServer::TOptions ConnectionOptions(const THostConfig& config) {
  TTcpAppServer::TOptions options;
  options.Tls = config.Tls;
  options.TlsCaFile = config.TlsCaFile;
  return options;
}

bool LoadConfigFile(THostConfig& config, const std::string& path) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    Apply(config, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
  }
  return true;
}

void LoadConfigEnvironment(THostConfig& config) {
  const std::pair<const char*, const char*> variables[] = {
      {"ACOMP_SERVER_HOST", "server_host"},
      {"ACOMP_SERVER_PORT", "server_port"},
      {"ACOMP_PRODUCT_MASK", "product_mask"},
      {"ACOMP_LOCAL_DB", "local_db"},
      {"ACOMP_TLS", "tls"},
      {"ACOMP_TLS_CA", "tls_ca"},
  };
  for (const auto& [variable, key] : variables)
    if (const char* value = std::getenv(variable)) Apply(config, key, value);
  const char* login = std::getenv("ACOMP_USUARIO");
  const char* password = std::getenv("ACOMP_SENHA");
  if (login && password && *login) config.Credentials = {login, password};
}

std::vector<std::string> HostConfigFiles() {
  std::vector<std::string> files = {"/etc/acomp/host.conf"};
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && *xdg == '/')
    files.push_back(std::string(xdg) + "/acomp/host.conf");
  else if (home != nullptr && *home != '\0')
    files.push_back(std::string(home) + "/.config/acomp/host.conf");
  const char* path = std::getenv("ACOMP_CONFIG");
  files.push_back(path ? path : "acomp.conf");
  return files;
}

void LoadHostConfig() {
  THostConfig& config = HostConfig();
  for (const std::string& file : HostConfigFiles()) LoadConfigFile(config, file);
  LoadConfigEnvironment(config);
  TLocalDatabase::Instance().SetPath(config.LocalDatabase);
}

}  // namespace fw
