#include "app_server/accounts.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "app_server/database_writer.h"
#include "app_server/read_scope.h"
#include "app_server/tracking_service.h"

namespace app {

namespace {

constexpr int kLookupTimeLimitMs = 5000;

const char* const kFindAccountSql =
    "SELECT LOGIN, NMUSUARIO, SENHA, IDATIVO FROM USUARIO WHERE LOGIN = :login";

void InitSodium() {
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("Falha ao iniciar a biblioteca de criptografia.");
}

}  // namespace

const char* const kAccountsSqliteSql = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIO (
  LOGIN         VARCHAR(64)  NOT NULL PRIMARY KEY,
  NMUSUARIO     VARCHAR(60)  NOT NULL,
  SENHA         VARCHAR(255) NOT NULL,
  IDATIVO       CHAR(1)      NOT NULL DEFAULT 'S' CHECK (IDATIVO IN ('S', 'N'))
);
)SQL";

const char* const kAccountsPostgresSql = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIO (
  LOGIN         VARCHAR(64)  COLLATE "C" NOT NULL PRIMARY KEY,
  NMUSUARIO     VARCHAR(60)  NOT NULL,
  SENHA         VARCHAR(255) NOT NULL,
  IDATIVO       CHAR(1)      NOT NULL DEFAULT 'S' CHECK (IDATIVO IN ('S', 'N'))
);
)SQL";

std::string HashPassword(std::string_view password, THashCost cost) {
  InitSodium();
  const bool demo = cost == THashCost::Demo;
  const unsigned long long ops =
      demo ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  const size_t memory = demo ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), ops, memory) != 0)
    throw std::runtime_error("Falha ao calcular o resumo da senha (memória insuficiente).");
  return hash;
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
  InitSodium();
  // The library reads the hash as a C string of at most STRBYTES.
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES || hash.find('\0') != std::string::npos)
    return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

const char* LoginProblem(std::string_view login) {
  if (login.empty()) return "o usuário está vazio";
  if (login.size() > kMaxLoginBytes) return "o usuário passa de 64 bytes";
  if (const char* problem = TextProblem(login)) return problem;
  for (const char c : login)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "o usuário contém um caractere de controle";
  if (login.front() == ' ' || login.back() == ' ') return "o usuário começa ou termina em branco";
  return nullptr;
}

std::optional<TAccount> FindAccount(IConnection& connection, const std::string& login) {
  std::optional<TAccount> found;
  connection.Query(kFindAccountSql, {{"login", login}}, 4, kLookupTimeLimitMs,
                   [&](const IRow& row) {
                     found = TAccount{std::string(row.Text(0)), std::string(row.Text(1)),
                                      std::string(row.Text(2)), row.Text(3) == "S"};
                     // One row by its key; stopping early would cost PostgreSQL its connection.
                     return true;
                   });
  return found;
}

// ---------------------------------------------------------------------------------------------

bool TLoginThrottle::IsLocked(TTable& table, const std::string& key, TClock::time_point now) {
  const auto found = table.find(key);
  return found != table.end() && now < found->second.LockedUntil;
}

void TLoginThrottle::Count(TTable& table, const std::string& key, TClock::time_point now) {
  if (table.size() >= options_.MaxEntries && table.find(key) == table.end()) Prune(table, now);
  TEntry& entry = table[key];
  auto& failures = entry.Failures;
  failures.erase(failures.begin(),
                 std::find_if(failures.begin(), failures.end(),
                              [&](TClock::time_point at) { return now - at < options_.Window; }));
  failures.push_back(now);
  if (static_cast<int>(failures.size()) >= options_.MaxFailures) {
    entry.LockedUntil = now + options_.Lockout;
    failures.clear();
  }
}

void TLoginThrottle::Prune(TTable& table, TClock::time_point now) {
  for (auto it = table.begin(); it != table.end();) {
    const auto& entry = it->second;
    const bool recent = !entry.Failures.empty() && now - entry.Failures.back() < options_.Window;
    if (recent || now < entry.LockedUntil)
      ++it;
    else
      it = table.erase(it);
  }
  // Still full (a flood of distinct logins): the entries that are not locked go. A locked one
  // stays, so a flood cannot unlock what it locked.
  if (table.size() < options_.MaxEntries) return;
  for (auto it = table.begin(); it != table.end();) {
    if (now < it->second.LockedUntil)
      ++it;
    else
      it = table.erase(it);
  }
}

bool TLoginThrottle::Locked(const std::string& address, const std::string& login,
                            TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  return IsLocked(addresses_, address, now) || IsLocked(logins_, login, now);
}

void TLoginThrottle::Failed(const std::string& address, const std::string& login,
                            TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Count(addresses_, address, now);
  Count(logins_, login, now);
}

void TLoginThrottle::Succeeded(const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  logins_.erase(login);
}

// ---------------------------------------------------------------------------------------------

TLoginOutcome TAccountAuthenticator::Login(const std::string& address,
                                           const std::vector<TRpcValue>& params) {
  TLoginOutcome outcome;
  const bool shaped = params.size() == 2 && params[0].Kind == TRpcValue::TKind::String &&
                      params[1].Kind == TRpcValue::TKind::String;
  const std::string login = shaped ? params[0].Text : std::string();
  // The log quotes what was sent, cut short; the throttle counts a login by at most as many
  // bytes as an account's may have, plus one, so that longer ones are one entry, not many.
  // Appended in steps: GCC 12 at -O3 sees a false overlap in "\"" + std::string.
  std::string quoted = "\"";
  quoted += QuoteClientText(login, 64);
  quoted += '"';
  const std::string key = login.substr(0, kMaxLoginBytes + 1);
  auto refuse = [&](const char* message, const std::string& why) {
    outcome.Message = message;
    outcome.LogText = quoted + ": recusado (" + why + ")";
    return outcome;
  };
  const auto now = TLoginThrottle::TClock::now();
  if (throttle_.Locked(address, key, now))
    return refuse(kTooManyAttempts, "muitas tentativas; bloqueado por um minuto");

  std::string why;
  if (!shaped) {
    why = "esperava-se [usuário, senha] em texto";
  } else if (const char* problem = LoginProblem(login)) {
    why = problem;
  } else if (params[1].Text.size() > kMaxPasswordBytes) {
    why = "senha longa demais";
  } else {
    std::optional<TAccount> account;
    {
      auto connection = pool_.Acquire();
      account = FindAccount(*connection, login);
    }
    if (!account) {
      why = "usuário desconhecido";
    } else if (!VerifyPassword(account->Hash, params[1].Text)) {
      why = "senha incorreta";
    } else if (!account->Enabled) {
      why = "conta desativada";
    } else {
      throttle_.Succeeded(key);
      outcome.Accepted = true;
      outcome.Login = account->Login;
      outcome.Name = account->Name;
      outcome.LogText = quoted + ": aceito";
      return outcome;
    }
  }
  throttle_.Failed(address, key, now);
  return refuse(kBadCredentials, why);
}

// ---------------------------------------------------------------------------------------------

namespace {

const char* const kInsertAccountSqlite =
    "INSERT INTO USUARIO (LOGIN, NMUSUARIO, SENHA, IDATIVO) VALUES (?1, ?2, ?3, 'S') "
    "ON CONFLICT (LOGIN) DO UPDATE SET NMUSUARIO = ?2, SENHA = ?3, IDATIVO = 'S'";
const char* const kInsertAccountPostgres =
    "INSERT INTO USUARIO (LOGIN, NMUSUARIO, SENHA, IDATIVO) VALUES ($1, $2, $3, 'S') "
    "ON CONFLICT (LOGIN) DO UPDATE SET NMUSUARIO = $2, SENHA = $3, IDATIVO = 'S'";
const char* const kExistsSqlite = "UPDATE USUARIO SET LOGIN = LOGIN WHERE LOGIN = ?1";
const char* const kExistsPostgres = "UPDATE USUARIO SET LOGIN = LOGIN WHERE LOGIN = $1";

}  // namespace

bool AddAccount(const std::string& target, const std::string& login, const std::string& name,
                const std::string& hash) {
  if (const char* problem = LoginProblem(login))
    throw std::runtime_error("Usuário inválido: " + std::string(problem) + ".");
  if (const char* problem = TextProblem(name))
    throw std::runtime_error("Nome inválido: " + std::string(problem) + ".");
  auto writer = OpenWriteConnection(target);
  const bool postgres = writer->Dialect() == TDialect::Postgres;
  writer->Execute(postgres ? "BEGIN" : "BEGIN IMMEDIATE");
  writer->Execute(postgres ? kAccountsPostgresSql : kAccountsSqliteSql);
  // A new account reads nothing until it is granted branches (read_scope.h).
  UpgradeForReadScopes(*writer);
  const bool exists = writer->Change(postgres ? kExistsPostgres : kExistsSqlite, {login}) > 0;
  writer->Change(postgres ? kInsertAccountPostgres : kInsertAccountSqlite, {login, name, hash});
  writer->Execute("COMMIT");
  return !exists;
}

bool DisableAccount(const std::string& target, const std::string& login) {
  auto writer = OpenWriteConnection(target);
  return writer->Change("UPDATE USUARIO SET IDATIVO = 'N' WHERE LOGIN = $1", {login}) > 0;
}

}  // namespace app
