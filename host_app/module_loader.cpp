#include "host_app/module_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "framework/ui/application.h"

namespace hostapp {

namespace {
using TEntry = void (*)();

TEntry EntryOf(void* handle, const std::string& name) {
  return reinterpret_cast<TEntry>(dlsym(handle, name.c_str()));
}

void RunEntry(TEntry entry) {
  if (fw::Application) {
    fw::Application->Dispatch([entry] { entry(); });
  } else {
    entry();
  }
}
}  // namespace

ModuleLoader::ModuleLoader(std::string libraryDirectory)
    : directory_(std::move(libraryDirectory)) {}

ModuleLoader::~ModuleLoader() = default;

std::string ModuleLoader::DefaultLibraryDirectory() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "../lib";
  return (executable.parent_path().parent_path() / "lib").lexically_normal().string();
}

ModuleLoader::Result ModuleLoader::Run(const std::string& fileName, const std::string& entry) {
  const std::string path = (std::filesystem::path(directory_) / fileName).string();
  void* handle = nullptr;
  if (auto found = opened_.find(path); found != opened_.end()) {
    handle = found->second;
  } else {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
      return {
          Status::NotInstalled,
          "O módulo " + fileName + " não está instalado (não encontrado em " + directory_ + ")."};
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* reason = dlerror();
      return {Status::Broken, "Não foi possível carregar o módulo " + fileName + ": " +
                                  (reason ? reason : "erro desconhecido") + "."};
    }
    if (!EntryOf(handle, entry)) {
      dlclose(handle);
      return {Status::Broken,
              "O módulo " + fileName + " não tem o ponto de entrada " + entry + "."};
    }
    opened_[path] = handle;
    if (TEntry load = EntryOf(handle, "Initialize")) RunEntry(load);
  }
  TEntry start = EntryOf(handle, entry);
  if (!start)
    return {Status::Broken, "O módulo " + fileName + " não tem o ponto de entrada " + entry + "."};
  RunEntry(start);
  return {};
}

ModuleLoader::Result ModuleLoader::StartModule(const std::string& moduleName) {
  std::string lower = moduleName;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string& candidate :
       {"lib" + moduleName + ".so", "lib" + lower + ".so", "libpkg_" + lower + ".so"}) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(directory_) / candidate, error))
      return Run(candidate, "IniProc");
  }
  return {Status::NotInstalled, "O módulo " + moduleName + " não está instalado."};
}

void ModuleLoader::FinalizeAll() {
  for (auto& [path, handle] : opened_)
    if (TEntry unload = EntryOf(handle, "Finalize")) unload();
  opened_.clear();
}

}  // namespace hostapp
