// A host module for the loader's tests: counts its entries; IniProc fails on request. Built a
// second time without IniProc (NO_START_ENTRY) to stand for a broken package.
#include <stdexcept>

namespace {
int loads = 0;
int starts = 0;
int unloads = 0;
bool failing = false;
}  // namespace

extern "C" {
__attribute__((visibility("default"))) void Initialize() {
  ++loads;
}
__attribute__((visibility("default"))) void Finalize() {
  ++unloads;
}
#ifndef NO_START_ENTRY
__attribute__((visibility("default"))) void IniProc() {
  ++starts;
  if (failing) throw std::runtime_error("Falha ao abrir a tela.");
}
#endif
__attribute__((visibility("default"))) int TestCount(int which) {
  return which == 0 ? loads : which == 1 ? starts : unloads;
}
__attribute__((visibility("default"))) void TestFail(int fail) {
  failing = fail != 0;
}
}
