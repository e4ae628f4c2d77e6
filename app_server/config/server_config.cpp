#include "app_server/config/server_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <CLI/CLI.hpp>

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
      {{"db", false, false, "BANCO", "banco a servir (somente leitura)"},
       [](TServerSettings& s, std::string_view, const std::string& v) { s.Database = v; }},
      {{"listen", false, false, "HOST:PORTA",
        "endereço de escuta (padrão 127.0.0.1:7450; porta 0: qualquer livre)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         Listen(k, v, s.Server);
       }},
      {{"workers", false, false, "N", "threads que atendem as chamadas (padrão 4)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.Workers = static_cast<int>(Number(k, v, 1, 256));
       }},
      {{"tls_cert", false, false, "ARQUIVO",
        "certificado do servidor (PEM, com a cadeia): as conexões passam a\nusar TLS 1.2 ou "
        "posterior, e só TLS"},
       [](TServerSettings& s, std::string_view, const std::string& v) {
         s.Server.TlsCertificateFile = v;
       }},
      {{"tls_key", false, false, "ARQUIVO", "chave privada do certificado (PEM, sem senha)"},
       [](TServerSettings& s, std::string_view, const std::string& v) { s.Server.TlsKeyFile = v; }},
      {{"handshake_timeout", false, true, "S",
        "tempo máximo da negociação TLS de uma conexão (padrão 10)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.HandshakeTimeoutMs = Seconds(k, v, 1);
       }},
      {{"insecure", true, false, "",
        "permite escutar sem TLS num endereço que não é o local (127.0.0.1,\n::1): os dados passam "
        "abertos pela rede (no arquivo: sim ou nao)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.AllowInsecure = Flag(k, v);
       }},
      {{"max_login_failures", false, false, "N",
        "tentativas erradas seguidas de endereços desconhecidos até a\nconta aceitar login só dos "
        "endereços conhecidos (padrão 100)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Throttle.MaxFailures = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"login_timeout", false, true, "S",
        "tempo para uma conexão fazer login antes de ser fechada (padrão 10)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.LoginTimeoutMs = Seconds(k, v, 1);
       }},
      {{"message_timeout", false, true, "S",
        "tempo máximo para receber uma requisição inteira (padrão 60)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MessageTimeoutMs = Seconds(k, v, 1);
       }},
      {{"query_timeout", false, false, "S", "tempo máximo de uma consulta (padrão 50)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Service.QueryTimeLimitMs = Seconds(k, v, 1);
       }},
      {{"shutdown_grace", false, true, "S",
        "ao parar, espera pelas respostas em curso (padrão 30)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.ShutdownGraceMs = Seconds(k, v, 0);
       }},
      {{"max_connections", false, true, "N",
        "conexões ao todo (padrão 1000; nunca mais do que o limite de\ndescritores de arquivo "
        "comporta)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxConnections = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_connections_per_address", false, true, "N",
        "conexões de um mesmo endereço (padrão 100)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxConnectionsPerAddress = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_pending_mib", false, true, "N",
        "MiB retidos em requisições ainda incompletas, somadas todas as\nconexões (padrão 256)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxPendingBytes = Mebibytes(k, v);
       }},
      {{"max_selection_codes", false, false, "N", "códigos numa lista de seleção (padrão 100000)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Service.MaxSelectionCodes = static_cast<size_t>(Number(k, v, 1, 100000000));
       }},
      {{"max_queued_queries", false, true, "N",
        "pesquisas à espera de uma thread; além disso a chamada recebe\n\"Servidor ocupado\" na "
        "hora (padrão 256)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxQueuedQueries = static_cast<int>(Number(k, v, 0, 1000000));
       }},
      {{"max_unauthenticated", false, true, "N",
        "conexões ainda sem login, ao todo (padrão: um quarto de\n--max-connections); além disso a "
        "mais antiga do endereço que mais\ntem é fechada para dar lugar à nova"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnauthenticated = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"max_unauthenticated_per_address", false, true, "N",
        "conexões sem login de um mesmo endereço (padrão 16)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnauthenticatedPerAddress = static_cast<int>(Number(k, v, 1, 1000000));
       }},
      {{"login_threads", false, false, "N",
        "threads que conferem senhas (padrão: metade dos núcleos, de 1 a 4)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.LoginThreads = static_cast<int>(Number(k, v, 1, 64));
       }},
      {{"max_queued_logins", false, true, "N",
        "logins à espera de conferência; além disso o login recebe\n\"Servidor ocupado\" na hora "
        "(padrão 64)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxQueuedLogins = static_cast<int>(Number(k, v, 0, 1000000));
       }},
      {{"max_unsent_mib", false, true, "N",
        "MiB de respostas ainda não lidas pelos clientes, somadas todas as\nconexões; além disso "
        "os relatórios esperam para começar (padrão 128)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         s.Server.MaxUnsentBytes = Mebibytes(k, v);
       }},
      {{"metrics", false, false, "[HOST:]PORTA",
        "serve /metrics (Prometheus) e /health (200 ou 503) por HTTP neste\nendereço (HOST padrão "
        "127.0.0.1); sem ela, não"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         if (v.empty()) {
           s.MetricsHost.clear();
           s.MetricsPort = 0;
           return;
         }
         if (!ParseMetricsAddress(v, s.MetricsHost, s.MetricsPort))
           Invalid(k, v, "esperado HOST:PORTA ou PORTA");
       }},
      {{"log_level", false, true, "NIVEL",
        "erro, aviso, nota ou info (padrão: info, toda chamada)"},
       [](TServerSettings& s, std::string_view k, const std::string& v) {
         if (!ParseLogLevel(v, s.LogLevel)) Invalid(k, v, "esperado erro, aviso, nota ou info");
       }},
      {{"log_file", false, true, "ARQUIVO",
        "o log vai para o arquivo (reaberto a cada SIGHUP) e não para a\nsaída de erro"},
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

namespace {

// "--max-connections" for "max_connections".
std::string OptionName(const char* key) {
  std::string option = std::string("--") + key;
  for (char& c : option)
    if (c == '_') c = '-';
  return option;
}

}  // namespace

void DeclareSettings(CLI::App& app, const std::string& group) {
  for (const auto& setting : Table()) {
    const std::string option = OptionName(setting.Info.Key);
    // The file's check, on a scratch copy: the message names the option as it was written.
    const CLI::Validator check(
        [option](std::string& value) -> std::string {
          TServerSettings scratch;
          try {
            ApplySetting(scratch, option, value);
          } catch (const ESettingError& failure) {
            return failure.what();
          }
          return {};
        },
        "", "");
    // A flag stands alone (--insecure), or takes sim or nao as the file does (--insecure=nao).
    CLI::Option* declared =
        setting.Info.Flag
            ? app.add_flag(option, setting.Info.Help)
            : app.add_option(option, setting.Info.Help)->option_text(setting.Info.Value);
    declared->check(check)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    declared->group(group);
  }
}

std::vector<std::pair<std::string, std::string>> GivenSettings(const CLI::App& app) {
  std::vector<std::pair<std::string, std::string>> given;
  for (const auto& setting : Table()) {
    const std::string option = OptionName(setting.Info.Key);
    const CLI::Option* declared = app.get_option(option);
    if (declared->count() == 0) continue;
    given.emplace_back(option, declared->as<std::string>());
  }
  return given;
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
