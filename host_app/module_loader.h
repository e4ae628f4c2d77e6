// Loads host modules (shared libraries) and runs their entry points.
//
// A package is a shared library in the host's library folder (<exe dir>/../lib). The first time
// one is used it is opened, and its optional load entry "Initialize" runs once; then the asked
// entry (IniProc for the tracking package) runs. Entries run inside the application's one
// dispatcher, so a failure in a module is shown, not fatal.
#pragma once

#include <map>
#include <string>

namespace hostapp {

class ModuleLoader {
 public:
  enum class Status { Started, NotInstalled, Broken };
  struct Result {
    Status Outcome = Status::Started;
    std::string Message;  // for the user, in Portuguese; empty when started
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
  // Runs the unload entry "Finalize" of every library opened. Call it once the forms their code
  // made are freed. The libraries stay mapped: code of theirs may still be referenced at exit.
  void FinalizeAll();

 private:
  std::string directory_;
  std::map<std::string, void*> opened_;
};

}  // namespace hostapp
