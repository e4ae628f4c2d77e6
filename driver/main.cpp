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
#include <vector>

#include <CLI/CLI.hpp>

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

struct TOptions {
  std::string Service = "canned";  // or tcp:HOST:PORT[,HOST:PORT...]
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

// The options, declared once: the usage (--help) is generated from these declarations.
void Declare(CLI::App& app, TOptions& options) {
  app.get_formatter()->column_width(34);
  app.allow_extras();  // said below, in the driver's words
  app.add_option("--service", options.Service,
                 "canned (the default: the canned service), or one server or several\n"
                 "serving the same database")
      ->option_text("canned|tcp:HOST:PORT[,HOST:PORT...]")
      ->check(CLI::Validator(
          [](std::string& service) -> std::string {
            if (service == "canned") return {};
            std::vector<fw::TServerAddress> servers;
            try {
              if (service.rfind("tcp:", 0) == 0)
                servers = fw::ParseServerList(service.substr(4), 0);
            } catch (const fw::ERemoteError&) {
              servers.clear();
            }
            if (servers.empty())
              return "--service takes canned or tcp:HOST:PORT[,HOST:PORT...], not " + service;
            return {};
          },
          "", ""));
  app.add_option("--user", options.Credentials.Login,
                 "the login on the server (over $ACOMP_USUARIO)")
      ->option_text("LOGIN");
  app.add_option("--password", options.Credentials.Password,
                 "its password (better: $ACOMP_SENHA, which other users of the\n"
                 "machine cannot read)")
      ->option_text("PASSWORD");
  app.add_option("--localdb", options.LocalDb, "the host's local database (products)")
      ->option_text("FILE");
  app.add_option("--product-mask", options.ProductMask, "the host's product code mask")
      ->option_text("MASK");
  app.add_option("SCRIPT", options.Script, "the script; - or none: standard input");
  for (CLI::Option* option : app.get_options())
    if (option->get_name() != "--help")
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// Reads the command line into `options`; false with `error` when it does not read.
bool ParseOptions(CLI::App& app, int argc, char** argv, TOptions& options, std::string& error) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    std::exit(0);
  } catch (const CLI::ValidationError& failure) {
    const std::string message = failure.what();  // "--service: " and our check's message
    const size_t colon = message.find(": ");
    error = colon == std::string::npos ? message : message.substr(colon + 2);
    return false;
  } catch (const CLI::ArgumentMismatch& failure) {
    const std::string message = failure.what();
    error = "missing value of " + message.substr(0, message.find_first_of(": "));
    return false;
  } catch (const CLI::ParseError& failure) {
    error = failure.what();
    return false;
  }
  if (!app.remaining().empty()) {
    const std::string extra = app.remaining().front();
    error =
        extra.size() > 1 && extra[0] == '-' ? "unknown option " + extra : "more than one script";
    return false;
  }
  options.HasLocalDb = app.count("--localdb") > 0;
  options.HasProductMask = app.count("--product-mask") > 0;
  if (options.Service != "canned") {
    options.Remote = true;
    options.Host = options.Service.substr(4);
    options.Port = fw::ParseServerList(options.Host, 0).front().Port;
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
  CLI::App app(
      "screen-driver: runs a user session written as a script against the module on\n"
      "the fake platform and prints its transcript.",
      "screen-driver");
  Declare(app, options);
  std::string error;
  if (!ParseOptions(app, argc, argv, options, error)) {
    std::cerr << "screen-driver: " << error << '\n' << app.help();
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
