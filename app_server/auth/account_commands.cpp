#include "app_server/auth/account_commands.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/db/database.h"
#include "protocol/account.h"

namespace app {

namespace {

// One line of the terminal without echo, or of standard input when it is not a terminal.
bool ReadSecret(const char* prompt, std::string& secret) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, secret));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return read;
}

void PrintAccount(const app::TAccountReport& account, const std::string& db) {
  std::printf("conta %s (%s), %s, em %s\n", account.Login.c_str(), account.Name.c_str(),
              account.Enabled ? "ativa" : "desativada", app::DescribeTarget(db).c_str());
  const std::string scope = fw::ScopeText(account.Scope, static_cast<size_t>(-1));
  std::printf("  lê: %s\n", scope.c_str());
  if (account.Scope.Operator.empty())
    std::printf("  operador: nenhum\n");
  else
    std::printf("  operador: %s (%s)\n", account.Scope.Operator.c_str(),
                account.OperatorName.c_str());
}

}  // namespace

int AccountCommand(const std::string& db, const std::string& addUser, const std::string& name,
                   const std::string& disableUser, const std::string& unlockUser) {
  try {
    if (!unlockUser.empty()) {
      const bool was = app::UnlockAccount(db, unlockUser);
      std::printf("app-server: conta %s %s em %s\n", unlockUser.c_str(),
                  was ? "desbloqueada" : "não estava bloqueada", app::DescribeTarget(db).c_str());
      return 0;
    }
    if (!disableUser.empty()) {
      if (!app::DisableAccount(db, disableUser)) {
        std::cerr << "app-server: não há a conta " << disableUser << " em "
                  << app::DescribeTarget(db) << ".\n";
        return 1;
      }
      std::printf("app-server: conta %s desativada em %s\n", disableUser.c_str(),
                  app::DescribeTarget(db).c_str());
      return 0;
    }
    if (const char* problem = app::LoginProblem(addUser)) {
      std::cerr << "app-server: usuário inválido: " << problem << ".\n";
      return 2;
    }
    std::string password, again;
    if (!ReadSecret("Senha: ", password)) {
      std::cerr << "app-server: nenhuma senha recebida.\n";
      return 1;
    }
    if (::isatty(STDIN_FILENO) == 1 &&
        (!ReadSecret("Repita a senha: ", again) || again != password)) {
      std::cerr << "app-server: as senhas não conferem; nada foi alterado.\n";
      return 1;
    }
    if (password.empty() || password.size() > app::kMaxPasswordBytes) {
      std::cerr << "app-server: a senha deve ter de 1 a " << app::kMaxPasswordBytes
                << " bytes; nada foi alterado.\n";
      return 1;
    }
    const std::string hash = app::HashPassword(password, app::THashCost::Interactive);
    const bool created = app::AddAccount(db, addUser, name.empty() ? addUser : name, hash);
    std::printf("app-server: conta %s %s em %s\n", addUser.c_str(),
                created ? "criada" : "atualizada (nova senha, ativa)",
                app::DescribeTarget(db).c_str());
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "app-server: " << failure.what() << "\n";
    return 1;
  }
}

int ScopeCommand(const std::string& db, const TScopeCommand& command) {
  try {
    const std::string& login = command.Login;
    if (command.Option == "--grant-branches") {
      app::GrantBranches(db, login, command.Value);
    } else if (command.Option == "--grant-all-branches") {
      app::GrantAllBranches(db, login);
    } else if (command.Option == "--revoke-branches") {
      app::RevokeBranches(db, login);
    } else if (command.Option == "--own-requests") {
      const std::string& value = command.Value;
      const bool yes = value == "sim" || value == "s" || value == "S";
      const bool no = value == "nao" || value == "não" || value == "n" || value == "N";
      if (!yes && !no) {
        std::cerr << "app-server: --own-requests espera sim ou nao, recebeu \"" << value << "\".\n";
        return 2;
      }
      app::SetOwnRequests(db, login, yes);
    } else if (command.Option == "--operator") {
      app::SetOperator(db, login, command.Value);
    }
    PrintAccount(app::ShowAccount(db, login), db);
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "app-server: " << failure.what() << "\n";
    return 1;
  }
}

}  // namespace app
