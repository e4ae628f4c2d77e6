// Loads host modules (shared libraries) and runs their entry points.
//
// A package is a shared library in the host's library folder (<exe dir>/../lib). The first time
// one is used it is opened, and its optional load entry "Initialize" runs once; then the asked
// entry (IniProc for the tracking package) runs. Entries run inside the application's one
// dispatcher, so a failure in a module is shown, not fatal.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hostapp {

class ModuleLoader {
 public:
  // The unattended report's entry: int GeraRelatorio(const char* const* options, char* message,
  // int size).
  static constexpr const char* kReportEntry = "GeraRelatorio";
  enum class Status { Started, NotInstalled, Broken };
  struct Result {
    Status Outcome = Status::Started;
    std::string Message;  // for the user, in Portuguese; empty when started (a report says
                          // what it wrote)
  };

  explicit ModuleLoader(std::string libraryDirectory);
  ~ModuleLoader();
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  // <folder of the running executable>/../lib
  static std::string DefaultLibraryDirectory();
  const std::string& LibraryDirectory() const { return directory_; }

  // Opens the library file (once) and runs `entry`, an extern "C" void(void) function.
  Result Run(const std::string& fileName, const std::string& entry);
  // Starts a host module by name ("SUP00700"): the first of lib<name>.so, lib<name in lower
  // case>.so and libpkg_<name in lower case>.so that exists, entry IniProc.
  Result StartModule(const std::string& moduleName);
  // Runs a host module's unattended report (entry GeraRelatorio, see
  // report_module/pkg_sup00700.h) with the options given as names and values. Started when it
  // wrote what was asked; Broken with its reason otherwise. Message says what was done.
  Result RunReport(const std::string& moduleName,
                   const std::vector<std::pair<std::string, std::string>>& options);
  // Runs the unload entry "Finalize" of every library opened. Call it once the forms their code
  // made are freed. The libraries stay mapped: code of theirs may still be referenced at exit.
  void FinalizeAll();

 private:
  // Opens the library (once, running Initialize); nullptr with the reason in `failure`.
  void* Open(const std::string& fileName, const std::string& entry, Result& failure);
  // The package file of a module name, when one is installed.
  std::optional<std::string> PackageOf(const std::string& moduleName) const;

  std::string directory_;
  std::map<std::string, void*> opened_;
};

}  // namespace hostapp
