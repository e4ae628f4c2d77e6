// The account in the main window's status bar, and an account that reads nothing: the module is
// not opened and nothing is queried.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_platform.h"
#include "protocol/account.h"

namespace hostapp {
namespace {

fw::TAccountScope Scope(bool all, std::vector<std::string> branches, bool own,
                        std::string operatorCode = {}) {
  fw::TAccountScope scope;
  scope.Known = true;
  scope.AllBranches = all;
  scope.Branches = std::move(branches);
  scope.OwnRequests = own;
  scope.Operator = std::move(operatorCode);
  return scope;
}

TEST(AccountStatus, TheStatusBarShowsTheLoginAndWhatItReads) {
  QTemporaryDir empty;
  ModuleLoader loader(empty.path().toStdString());
  MainWindow window(loader);
  window.Platform().Interactive = false;
  window.SetAccount("demo", Scope(true, {}, false));
  EXPECT_EQ(window.AccountText(), QStringLiteral("demo · todas as filiais"));
  window.SetAccount("filial02", Scope(false, {"0002", "0003"}, false));
  EXPECT_EQ(window.AccountText(), QStringLiteral("filial02 · filiais 0002, 0003"));
  window.SetAccount("MSILVA", Scope(true, {}, true, "MSILVA"));
  EXPECT_EQ(window.AccountText(), QStringLiteral("MSILVA · minhas solicitações"));
  // A server that does not say what the account reads: the login alone.
  window.SetAccount("demo", fw::TAccountScope());
  EXPECT_EQ(window.AccountText(), QStringLiteral("demo"));
}

TEST(AccountStatus, AnAccountThatReadsNothing_OpensNoModule) {
  QTemporaryDir empty;
  ModuleLoader loader(empty.path().toStdString());
  MainWindow window(loader);
  window.Platform().Interactive = false;
  window.SetAccount("maria", Scope(false, {}, false));
  EXPECT_EQ(window.AccountText(), QStringLiteral("maria · nenhuma filial"));
  EXPECT_FALSE(window.OpenRequestTracking());
  // The message is the account's, not the missing package's: the loader was not asked.
  ASSERT_EQ(window.Platform().Messages.size(), 1u);
  EXPECT_EQ(window.Platform().Messages[0], "Sua conta não tem acesso a nenhuma filial.");
}

}  // namespace
}  // namespace hostapp
