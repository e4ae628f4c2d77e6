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

void* ModuleLoader::Open(const std::string& fileName, const std::string& entry, Result& failure) {
  const std::string path = (std::filesystem::path(directory_) / fileName).string();
  if (auto found = opened_.find(path); found != opened_.end()) return found->second;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    failure = {
        Status::NotInstalled,
        "O módulo " + fileName + " não está instalado (não encontrado em " + directory_ + ")."};
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    failure = {Status::Broken, "Não foi possível carregar o módulo " + fileName + ": " +
                                   (reason ? reason : "erro desconhecido") + "."};
    return nullptr;
  }
  if (!EntryOf(handle, entry)) {
    dlclose(handle);
    failure = {Status::Broken,
               "O módulo " + fileName + " não tem o ponto de entrada " + entry + "."};
    return nullptr;
  }
  opened_[path] = handle;
  if (TEntry load = EntryOf(handle, "Initialize")) RunEntry(load);
  return handle;
}

ModuleLoader::Result ModuleLoader::Run(const std::string& fileName, const std::string& entry) {
  Result failure;
  void* handle = Open(fileName, entry, failure);
  if (!handle) return failure;
  TEntry start = EntryOf(handle, entry);
  if (!start)
    return {Status::Broken, "O módulo " + fileName + " não tem o ponto de entrada " + entry + "."};
  RunEntry(start);
  return {};
}

std::optional<std::string> ModuleLoader::PackageOf(const std::string& moduleName) const {
  std::string lower = moduleName;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string& candidate :
       {"lib" + moduleName + ".so", "lib" + lower + ".so", "libpkg_" + lower + ".so"}) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(directory_) / candidate, error))
      return candidate;
  }
  return std::nullopt;
}

ModuleLoader::Result ModuleLoader::StartModule(const std::string& moduleName) {
  if (const auto package = PackageOf(moduleName)) return Run(*package, "IniProc");
  return {Status::NotInstalled, "O módulo " + moduleName + " não está instalado."};
}

ModuleLoader::Result ModuleLoader::RunReport(
    const std::string& moduleName,
    const std::vector<std::pair<std::string, std::string>>& options) {
  const auto package = PackageOf(moduleName);
  if (!package) return {Status::NotInstalled, "O módulo " + moduleName + " não está instalado."};
  Result failure;
  void* handle = Open(*package, kReportEntry, failure);
  if (!handle) return failure;
  using TReportEntry = int (*)(const char* const*, char*, int);
  auto report = reinterpret_cast<TReportEntry>(dlsym(handle, kReportEntry));
  std::vector<const char*> list;
  for (const auto& [name, value] : options) {
    list.push_back(name.c_str());
    list.push_back(value.c_str());
  }
  list.push_back(nullptr);
  std::vector<char> message(4096, '\0');
  const int status = report(list.data(), message.data(), static_cast<int>(message.size()));
  return {status == 0 ? Status::Started : Status::Broken, message.data()};
}

void ModuleLoader::FinalizeAll() {
  for (auto& [path, handle] : opened_)
    if (TEntry unload = EntryOf(handle, "Finalize")) unload();
  opened_.clear();
}

}  // namespace hostapp
