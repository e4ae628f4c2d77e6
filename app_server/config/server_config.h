// The server's settings: what it serves, where, and its limits. The same settings are written in
// the configuration file and on the command line, the file as "key = value" lines, the command
// line as options, the line's word for word with "-" for "_":
//
//   # /etc/acomp/app-server.conf
//   db = /var/lib/acomp/compras.db
//   listen = 0.0.0.0:7450
//   tls_cert = /etc/acomp/app1.pem        (--tls-cert /etc/acomp/app1.pem)
//   max_connections = 2000                (--max-connections 2000)
//   insecure = nao                        (--insecure; in the file sim or nao)
//
// A line whose first character that is not blank is "#" is a comment, as is a blank line; a
// value may be quoted ("host=db1 dbname=compras"), and keeps any "#" it holds. A key given
// twice, a key that is not a setting and a value that does not read are refused with the
// file's name and the line's number. The command line overrides the file, whatever the order.
//
// The commands (--init-demo, --add-user and the rest, with --seed, --scale, --name) are not
// settings: they stay on the command line, and take their --db from the file when not given.
//
// The settings a SIGHUP re-reads and applies without a restart are the limits, the time-outs,
// the log's level and its file (TSettingInfo::Reloadable); a change of any other is logged as
// waiting for the next restart.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app_server/auth/login_throttle.h"
#include "app_server/log/log.h"
#include "app_server/net/server.h"
#include "app_server/tracking/tracking_service.h"

namespace CLI {
class App;
}

namespace app {

struct TServerSettings {
  std::string Database;  // db: a SQLite file or a PostgreSQL connection string
  TServerOptions Server;
  TTrackingService::TOptions Service;
  TLoginThrottle::TOptions Throttle;
  std::string MetricsHost;  // empty: no metrics endpoint (metrics_http.h)
  uint16_t MetricsPort = 0;
  TLogPriority LogLevel = TLogPriority::Info;
  std::string LogFile;  // empty: stderr (or the journal)
  // Each setting given, by key, as its text was (the file's, then the command line's over it).
  std::map<std::string, std::string> Given;
};

// A setting that does not read; the message, in Portuguese, says which and why (and, from a
// file, where: "/etc/acomp/app-server.conf, linha 12: ...").
class ESettingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TSettingInfo {
  const char* Key;    // as the file writes it: "max_connections"
  bool Flag;          // on the command line without a value (--insecure)
  bool Reloadable;    // applied by SIGHUP
  const char* Value;  // what the usage calls its value ("N", "HOST:PORTA"); "" for a flag
  const char* Help;   // the usage's text, in Portuguese ("\n" between its lines)
};

// Every setting, in the order of the usage text.
const std::vector<TSettingInfo>& Settings();
// The setting a file key ("max_connections") or command-line option ("--max-connections") names;
// nullptr when none.
const TSettingInfo* FindSetting(std::string_view keyOrOption);

// Declares every setting as an option of `app` ("--max-connections N", its help text, and
// ApplySetting as its check), under `group`: the usage and the command line's checks come from
// the same table as the file's keys.
void DeclareSettings(CLI::App& app, const std::string& group);

// What the command line gave of the settings once `app` has parsed it: (option, value) pairs
// for ApplySetting.
std::vector<std::pair<std::string, std::string>> GivenSettings(const CLI::App& app);

// Applies one setting. A flag takes "sim" or "nao" (also yes/no, true/false, on/off, 1/0); the
// command line gives it "sim". Raises ESettingError.
void ApplySetting(TServerSettings& settings, std::string_view key, const std::string& value);

// Reads a configuration file into `settings`. Raises ESettingError when it cannot be read or a
// line is refused.
void ReadSettingsFile(const std::string& path, TServerSettings& settings);

// The keys of the settings that need a restart whose value differs between the two.
std::vector<std::string> ChangesNeedingRestart(const TServerSettings& before,
                                               const TServerSettings& after);

// The file read when no --config is given: the installed one (/etc/acomp/app-server.conf) when
// this program runs from where the package installs it, none otherwise (a build tree reads no
// file unless told).
std::string DefaultSettingsFile();

}  // namespace app
