// screen-driver: runs a user session written as a script against the module on the fake platform
// and prints its transcript. Loads the package as the host does: dlopen of
// <exe dir>/../lib/libpkg_cmp09500.so, its load entry, then the entry points by name.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "driver/session.h"
#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/net/failover_app_server.h"
#include "framework/ui/application.h"
#include "protocol/contract.h"

#ifdef SCREEN_DRIVER_WITH_MODULE
#include "item_screen/cli_cmp09501.h"
#include "request_screen/cli_cmp09500.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: screen-driver [--service canned | --service tcp:HOST:PORT[,HOST:PORT...]]\n"
    "                     [--user LOGIN --password PASSWORD] [--localdb FILE]\n"
    "                     [--product-mask MASK] [SCRIPT]\n";

struct TOptions {
  bool Remote = false;
  std::string Host;
  int Port = 0;
  std::string LocalDb;
  bool HasLocalDb = false;
  std::string ProductMask;
  bool HasProductMask = false;
  std::string Script = "-";
  // The login, over $ACOMP_USUARIO and $ACOMP_SENHA (which keep the password off the command
  // line, where other users of the machine can read it).
  fw::TCredentials Credentials;
};

bool ParseOptions(int argc, char** argv, TOptions& options, std::string& error) {
  bool haveScript = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc) {
        error = "missing value of " + arg;
        return false;
      }
      target = argv[++i];
      return true;
    };
    if (arg == "--service") {
      std::string service;
      if (!value(service)) return false;
      if (service == "canned") {
        options.Remote = false;
        continue;
      }
      // One server or several serving the same database: tcp:HOST:PORT[,HOST:PORT...].
      std::vector<fw::TServerAddress> servers;
      try {
        if (service.rfind("tcp:", 0) == 0) servers = fw::ParseServerList(service.substr(4), 0);
      } catch (const fw::ERemoteError&) {
        servers.clear();
      }
      if (servers.empty()) {
        error = "--service takes canned or tcp:HOST:PORT[,HOST:PORT...], not " + service;
        return false;
      }
      options.Remote = true;
      options.Host = service.substr(4);
      options.Port = servers.front().Port;
    } else if (arg == "--user") {
      if (!value(options.Credentials.Login)) return false;
    } else if (arg == "--password") {
      if (!value(options.Credentials.Password)) return false;
    } else if (arg == "--localdb") {
      if (!value(options.LocalDb)) return false;
      options.HasLocalDb = true;
    } else if (arg == "--product-mask") {
      if (!value(options.ProductMask)) return false;
      options.HasProductMask = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      error = "unknown option " + arg;
      return false;
    } else if (haveScript) {
      error = "more than one script";
      return false;
    } else {
      options.Script = arg;
      haveScript = true;
    }
  }
  return true;
}

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string text(path, static_cast<size_t>(length));
  const size_t slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

// The package, loaded once as the host loads it; never unloaded while forms may exist.
class TPackage {
 public:
  ~TPackage() {
    if (initialized_)
      if (auto finalize = Entry("Finalize")) finalize();
  }

  void Start() { Call("IniProc"); }
  void Open() { Call("CriaAcompSoli"); }

 private:
  using TEntry = void (*)();

  void Load() {
    if (handle_) return;
    const std::string path = ExecutableDirectory() + "/../lib/libpkg_cmp09500.so";
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle_)
      throw driver::TScriptError(0, std::string("cannot load the package: ") + dlerror());
    if (auto initialize = Entry("Initialize")) initialize();
    initialized_ = true;
  }

  TEntry Entry(const char* name) const {
    void* symbol = dlsym(handle_, name);
    TEntry entry = nullptr;
    static_assert(sizeof entry == sizeof symbol);
    std::memcpy(&entry, &symbol, sizeof entry);
    return entry;
  }

  void Call(const char* name) {
    Load();
    TEntry entry = Entry(name);
    if (!entry) throw driver::TScriptError(0, std::string("the package has no entry ") + name);
    // As the host's menu command: inside the application's dispatcher, so that a failure is
    // shown and the session goes on.
    fw::Application->Dispatch([entry] { entry(); });
  }

  void* handle_ = nullptr;
  bool initialized_ = false;
};

driver::TModuleHooks Hooks(TPackage& package) {
  driver::TModuleHooks hooks;
  hooks.Start = [&package] { package.Start(); };
  hooks.Open = [&package] { package.Open(); };
#ifdef SCREEN_DRIVER_WITH_MODULE
  hooks.RequestScreen = []() -> fw::TForm* { return Cli_cmp09500::frmAcompSoli; };
  hooks.ReadVariable = [](const std::string& name) -> std::optional<std::string> {
    auto boolean = [](bool value) { return std::string(value ? "true" : "false"); };
    if (name == "stTFilSoli") return Cli_cmp09500::stTFilSoli;
    if (name == "stLFilSoli") return Cli_cmp09500::stLFilSoli;
    if (name == "stTSolicita") return Cli_cmp09500::stTSolicita;
    if (name == "stLSolicita") return Cli_cmp09500::stLSolicita;
    if (name == "stDtEntr") return Cli_cmp09501::stDtEntr;
    if (name == "boVD") return boolean(Cli_cmp09500::boVD);
    if (name == "boPrimVez") return boolean(Cli_cmp09500::boPrimVez);
    if (name == "boStCriado") return boolean(Cli_cmp09500::boStCriado);
    // The screen's own part of the filter state.
    if (!Cli_cmp09500::frmAcompSoli) return std::nullopt;
    if (name == "stDtSoli") return Cli_cmp09500::frmAcompSoli->stDtSoli;
    if (name == "stTCdProd") return Cli_cmp09500::frmAcompSoli->stTCdProd;
    return std::nullopt;
  };
#else
  hooks.RequestScreen = []() -> fw::TForm* {
    return fw::Application ? fw::Application->FindForm("frmAcompSoli") : nullptr;
  };
#endif
  return hooks;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::cerr << "screen-driver: " << error << '\n' << kUsage;
    return 2;
  }

  std::string source;
  if (options.Script == "-") {
    std::ostringstream text;
    text << std::cin.rdbuf();
    source = text.str();
  } else {
    std::ifstream file(options.Script, std::ios::binary);
    if (!file) {
      std::cerr << "screen-driver: cannot read " << options.Script << '\n';
      return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();
    source = text.str();
  }

  std::vector<driver::TCommand> commands;
  try {
    commands = driver::ParseScript(source);
  } catch (const driver::TScriptError& failure) {
    std::cout << "ERROR line " << failure.Line() << ": " << failure.what() << std::endl;
    std::cerr << "screen-driver: line " << failure.Line() << ": " << failure.what() << '\n';
    return 2;
  }

  // The host's configuration, then what the command line says.
  fw::LoadHostConfig();
  fw::THostConfig& config = fw::HostConfig();
  if (options.HasProductMask) config.ProductMask = options.ProductMask;
  if (options.HasLocalDb) config.LocalDatabase = options.LocalDb;
  fw::TLocalDatabase::Instance().SetPath(config.LocalDatabase);
  if (options.Remote) {
    config.ServerHost = options.Host;
    config.ServerPort = options.Port;
  }
  if (!options.Credentials.Login.empty()) config.Credentials.Login = options.Credentials.Login;
  if (!options.Credentials.Password.empty())
    config.Credentials.Password = options.Credentials.Password;

  int status = 0;
  std::optional<driver::TScriptError> failure;
  int checks = 0, failed = 0;
  {
    TPackage package;
    driver::TSession session(
        std::cout, Hooks(package),
        options.Remote ? driver::TSession::TService::Remote : driver::TSession::TService::Canned);
    if (options.Remote)
      config.ServiceFactory = [&session](const std::string& host, int port,
                                         const std::string& serverName) {
        auto server = std::make_unique<fw::TFailoverAppServer>(
            fw::ParseServerList(host, port), serverName, fw::ConnectionOptions(fw::HostConfig()));
        server->SetCredentials(fw::HostConfig().Credentials);
        return session.Record(std::move(server));
      };
    status = session.Run(commands);
    failure = session.ScriptError();
    checks = session.Checks();
    failed = session.FailedChecks();
  }
  if (failure) {
    std::cerr << "screen-driver: line " << failure->Line() << ": " << failure->what() << '\n';
  } else if (failed > 0) {
    std::cerr << "screen-driver: " << failed << " of " << checks << " checks failed\n";
  }
  return status;
}
