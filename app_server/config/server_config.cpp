#include "app_server/config/server_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app_server/net/metrics_http.h"

#ifndef ACOMP_INSTALLED_SERVER
#define ACOMP_INSTALLED_SERVER "/usr/bin/app-server"
#endif
#ifndef ACOMP_SETTINGS_FILE
#define ACOMP_SETTINGS_FILE "/etc/acomp/app-server.conf"
#endif

namespace app {

namespace {

std::string Trim(std::string_view text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const auto end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

[[noreturn]] void Invalid(std::string_view key, const std::string& value,
                          const std::string& expected) {
  throw ESettingError("valor inválido para " + std::string(key) + ": \"" + value + "\" (" +
                      expected + ")");
}

long Number(std::string_view key, const std::string& value, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || number < low || number > high)
    Invalid(key, value,
            "esperado um número de " + std::to_string(low) + " a " + std::to_string(high));
  return number;
}

int Seconds(std::string_view key, const std::string& value, long low) {
  return static_cast<int>(Number(key, value, low, 3600)) * 1000;
}

size_t Mebibytes(std::string_view key, const std::string& value) {
  return static_cast<size_t>(Number(key, value, 1, 1024 * 1024)) * 1024 * 1024;
}

bool Flag(std::string_view key, const std::string& value) {
  std::string lower;
  for (const char c : value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == "sim" || lower == "s" || lower == "yes" || lower == "true" || lower == "on" ||
      lower == "1")
    return true;
  if (lower == "nao" || lower == "não" || lower == "n" || lower == "no" || lower == "false" ||
      lower == "off" || lower == "0")
    return false;
  Invalid(key, value, "esperado sim ou nao");
}

// "HOST:PORT" or "[v6]:PORT".
void Listen(std::string_view key, const std::string& value, TServerOptions& options) {
  const size_t colon = value.rfind(':');
  if (colon == std::string::npos) Invalid(key, value, "esperado HOST:PORTA");
  std::string host = value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) Invalid(key, value, "esperado HOST:PORTA");
  options.Host = host;
  options.Port = static_cast<uint16_t>(Number(key, value.substr(colon + 1), 0, 65535));
}

using TApply = void (*)(TServerSettings&, std::string_view, const std::string&);

struct TSetting {
  TSettingInfo Info;
  TApply Apply;
};

const std::vector<TSetting>& Table() {
  static const std::vector<TSetting> table = {
      {{"db", false, false},
       [](TServerSettings& s, std::string_view, const std::string& v) { s.Database = v; }},
      {{"listen", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         Listen(k, v, s.Server);
       }},
      {{"workers", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.Workers = static_cast<int>(Number(k, v, 1, 256));
       }},
      {{"tls_cert", false, false},
       [](TServerSettings& s, std::string_view, const std::string& v) {
         s.Server.TlsCertificateFile = v;
       }},
      {{"tls_key", false, false},
       [](TServerSettings& s, std::string_view, const std::string& v) { s.Server.TlsKeyFile = v; }},
      {{"handshake_timeout", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.HandshakeTimeoutMs = Seconds(k, v, 1);
       }},
      {{"insecure", true, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.AllowInsecure = Flag(k, v);
       }},
      {{"max_login_failures", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Throttle.MaxFailures = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"login_timeout", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.LoginTimeoutMs = Seconds(k, v, 1);
       }},
      {{"message_timeout", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MessageTimeoutMs = Seconds(k, v, 1);
       }},
      {{"query_timeout", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Service.QueryTimeLimitMs = Seconds(k, v, 1);
       }},
      {{"shutdown_grace", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.ShutdownGraceMs = Seconds(k, v, 0);
       }},
      {{"max_connections", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxConnections = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_connections_per_address", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxConnectionsPerAddress = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_pending_mib", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxPendingBytes = Mebibytes(k, v);
       }},
      {{"max_selection_codes", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Service.MaxSelectionCodes = static_cast<size_t>(Number(k, v, 1, 100000000));
       }},
      {{"max_queued_queries", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxQueuedQueries = static_cast<int>(Number(k, v, 0, 1000000));
       }},
      {{"max_unauthenticated", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnauthenticated = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_unauthenticated_per_address", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnauthenticatedPerAddress = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"login_threads", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.LoginThreads = static_cast<int>(Number(k, v, 1, 64));
       }},
      {{"max_queued_logins", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxQueuedLogins = static_cast<int>(Number(k, v, 0, 1000000));
       }},
      {{"max_unsent_mib", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnsentBytes = Mebibytes(k, v);
       }},
      {{"metrics", false, false},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         if (v.empty()) {
           s.MetricsHost.clear();
           s.MetricsPort = 0;
           return;
         }
         if (!ParseMetricsAddress(v, s.MetricsHost, s.MetricsPort))
           Invalid(k, v, "esperado HOST:PORTA ou PORTA");
       }},
      {{"log_level", false, true},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         if (!ParseLogLevel(v, s.LogLevel)) Invalid(k, v, "esperado erro, aviso, nota ou info");
       }},
      {{"log_file", false, true},
       [](TServerSettings& s, std::string_view, const std::string& v) { s.LogFile = v; }},
  };
  return table;
}

const TSetting* Find(std::string_view keyOrOption) {
  std::string key(keyOrOption);
  if (key.rfind("--", 0) == 0) key.erase(0, 2);
  for (char& c : key)
    if (c == '-') c = '_';
  for (const auto& setting : Table())
    if (key == setting.Info.Key) return &setting;
  return nullptr;
}

}  // namespace

const std::vector<TSettingInfo>& Settings() {
  static const std::vector<TSettingInfo> infos = [] {
    std::vector<TSettingInfo> list;
    for (const auto& setting : Table()) list.push_back(setting.Info);
    return list;
  }();
  return infos;
}

const TSettingInfo* FindSetting(std::string_view keyOrOption) {
  const TSetting* setting = Find(keyOrOption);
  return setting ? &setting->Info : nullptr;
}

void ApplySetting(TServerSettings& settings, std::string_view key, const std::string& value) {
  const TSetting* setting = Find(key);
  if (setting == nullptr) throw ESettingError("chave desconhecida: " + std::string(key));
  // Messages name the setting as it was written: max_connections in a file, --max-connections
  // on the command line.
  setting->Apply(settings, key, value);
  settings.Given[setting->Info.Key] = value;
}

void ReadSettingsFile(const std::string& path, TServerSettings& settings) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw ESettingError("o arquivo de configuração " + path + " é uma pasta");
  std::ifstream file(path);
  if (!file)
    throw ESettingError("não foi possível ler o arquivo de configuração " + path + ": " +
                        std::strerror(errno));
  std::map<std::string, int> seen;  // key, line
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string where = path + ", linha " + std::to_string(number) + ": ";
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    const size_t equals = trimmed.find('=');
    if (equals == std::string::npos)
      throw ESettingError(where + "esperado chave = valor, veio \"" + trimmed + "\"");
    const std::string key = Trim(std::string_view(trimmed).substr(0, equals));
    std::string value = Trim(std::string_view(trimmed).substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    const TSetting* setting = Find(key);
    if (setting == nullptr) throw ESettingError(where + "chave desconhecida: " + key);
    // The file writes its keys one way only: a command line's spelling is pointed out, not
    // taken, so that one key never hides under two names.
    if (key != setting->Info.Key)
      throw ESettingError(where + "chave desconhecida: " + key +
                          " (no arquivo: " + setting->Info.Key + ")");
    if (const auto before = seen.find(key); before != seen.end())
      throw ESettingError(where + key + " já foi dada na linha " + std::to_string(before->second));
    seen.emplace(key, number);
    try {
      ApplySetting(settings, key, value);
    } catch (const ESettingError& failure) {
      throw ESettingError(where + failure.what());
    }
  }
  if (file.bad())
    throw ESettingError("falha ao ler o arquivo de configuração " + path + ": " +
                        std::strerror(errno));
}

std::vector<std::string> ChangesNeedingRestart(const TServerSettings& before,
                                               const TServerSettings& after) {
  std::vector<std::string> changed;
  for (const auto& setting : Table()) {
    if (setting.Info.Reloadable) continue;
    const auto was = before.Given.find(setting.Info.Key);
    const auto is = after.Given.find(setting.Info.Key);
    const std::string wasText = was == before.Given.end() ? std::string() : was->second;
    const std::string isText = is == after.Given.end() ? std::string() : is->second;
    if ((was == before.Given.end()) != (is == after.Given.end()) || wasText != isText)
      changed.push_back(setting.Info.Key);
  }
  return changed;
}

std::string DefaultSettingsFile() {
  std::error_code error;
  const auto running = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || running != std::filesystem::path(ACOMP_INSTALLED_SERVER)) return {};
  return ACOMP_SETTINGS_FILE;
}

}  // namespace app
