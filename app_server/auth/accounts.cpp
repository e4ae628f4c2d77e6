#include "app_server/auth/accounts.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "app_server/auth/read_scope.h"
#include "app_server/db/database_writer.h"

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
  const unsigned long long ops = demo ? crypto_pwhash_OPSLIMIT_MIN : kSiteHashPasses;
  const size_t memory = demo ? crypto_pwhash_MEMLIMIT_MIN : kSiteHashMemoryBytes;
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
  if (HashMemoryBytes(hash) > kMaxHashMemoryBytes) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

size_t HashMemoryBytes(std::string_view hash) {
  // "$argon2id$v=19$m=19456,t=2,p=1$salt$hash": m in KiB.
  const size_t at = hash.find("$m=");
  if (hash.rfind("$argon2", 0) != 0 || at == std::string_view::npos) return 0;
  size_t kib = 0;
  for (size_t i = at + 3; i < hash.size() && hash[i] >= '0' && hash[i] <= '9'; ++i) {
    kib = kib * 10 + static_cast<size_t>(hash[i] - '0');
    if (kib > (size_t{1} << 40)) break;  // absurd, and over any limit
  }
  return kib * 1024;
}

bool NeedsRehash(const std::string& hash) {
  InitSodium();
  if (crypto_pwhash_str_needs_rehash(hash.c_str(), crypto_pwhash_OPSLIMIT_MIN,
                                     crypto_pwhash_MEMLIMIT_MIN) == 0)
    return false;
  return crypto_pwhash_str_needs_rehash(hash.c_str(), kSiteHashPasses, kSiteHashMemoryBytes) != 0;
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
  std::string note;  // what the writes had to say, for the log
  auto refuse = [&](const char* message, const std::string& why) {
    outcome.Message = message;
    outcome.LogText = quoted + ": recusado (" + why + ")" + note;
    return outcome;
  };
  const auto now = TLoginThrottle::TClock::now();

  std::string why;
  bool known = false;
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
      known = throttle_.KnownPlace(address, key) || StoredKnownPlace(*connection, key, address);
      const bool locked = !known && StoredLock(*connection, key);
      switch (throttle_.Before(address, key, known, locked, now)) {
        case TLoginThrottle::TVerdict::Check:
          break;
        case TLoginThrottle::TVerdict::Wait:
          return refuse(kTooManyAttempts, "muitas tentativas; aguardando antes da próxima");
        case TLoginThrottle::TVerdict::KnownPlacesOnly:
          return refuse(kLockedToKnownPlaces, "conta bloqueada para endereços desconhecidos");
      }
      account = FindAccount(*connection, login);
    }
    if (!account) {
      why = "usuário desconhecido";
    } else if (HashMemoryBytes(account->Hash) > kMaxHashMemoryBytes) {
      why = "resumo da senha com custo acima do limite; defina a senha de novo com --add-user";
    } else if (!VerifyPassword(account->Hash, params[1].Text)) {
      why = "senha incorreta";
    } else if (!account->Enabled) {
      why = "conta desativada";
    } else {
      const bool knownHere = throttle_.KnownPlace(address, key);
      throttle_.Succeeded(address, key, known);
      if (!knownHere)
        Store(
            "o endereço conhecido", [&] { StoreKnownPlace(writeTarget_, key, address); }, note);
      if (NeedsRehash(account->Hash)) {
        const std::string rehashed = HashPassword(params[1].Text, THashCost::Interactive);
        Store(
            "a senha no custo atual",
            [&] { StoreRehashed(writeTarget_, account->Login, account->Hash, rehashed); }, note);
        if (note.empty()) note = "; senha regravada no custo atual";
      }
      outcome.Accepted = true;
      outcome.Login = account->Login;
      outcome.Name = account->Name;
      outcome.LogText = quoted + ": aceito" + note;
      return outcome;
    }
  }
  if (throttle_.Failed(address, key, known, now)) {
    Store(
        "o bloqueio", [&] { StoreLock(writeTarget_, key, 0); }, note);
    if (note.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      storedLocks_.insert(key);
    }
    why += "; conta bloqueada para endereços desconhecidos até o administrador desbloquear";
  }
  return refuse(kBadCredentials, why);
}

bool TAccountAuthenticator::StoredKnownPlace(IConnection& connection, const std::string& login,
                                             const std::string& address) {
  if (writeTarget_.empty()) return false;
  bool found = false;
  try {
    connection.Query("SELECT 1 FROM USUARIO_LOCAL WHERE LOGIN = :login AND DSLOCAL = :place",
                     {{"login", login}, {"place", address}}, 1, kLookupTimeLimitMs,
                     [&](const IRow&) {
                       found = true;
                       return true;
                     });
  } catch (const EDatabaseError&) {
    return false;  // no such table (a database no server could write): memory only
  }
  return found;
}

bool TAccountAuthenticator::StoredLock(IConnection& connection, const std::string& login) {
  bool found = false;
  bool read = false;
  if (!writeTarget_.empty()) {
    try {
      connection.Query("SELECT 1 FROM USUARIO_BLOQUEIO WHERE LOGIN = :login", {{"login", login}}, 1,
                       kLookupTimeLimitMs, [&](const IRow&) {
                         found = true;
                         return true;
                       });
      read = true;
    } catch (const EDatabaseError&) {
    }
  }
  // A lock this server wrote and no longer finds was cleared by an administrator.
  if (read && !found) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (storedLocks_.erase(login) != 0) throttle_.Unlocked(login);
  }
  return found;
}

void TAccountAuthenticator::Store(const std::string& what, const std::function<void()>& write,
                                  std::string& note) {
  if (writeTarget_.empty()) {
    note = "; " + what + " fica só na memória deste servidor";
    return;
  }
  try {
    write();
  } catch (const std::exception& failure) {
    note = "; não foi possível gravar " + what + " no banco: " + SafeMessage(failure.what(), 200);
  }
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
  writer->Execute(postgres ? kLoginStatePostgresSql : kLoginStateSqliteSql);
  const bool exists = writer->Change(postgres ? kExistsPostgres : kExistsSqlite, {login}) > 0;
  writer->Change(postgres ? kInsertAccountPostgres : kInsertAccountSqlite, {login, name, hash});
  writer->Execute("COMMIT");
  return !exists;
}

bool DisableAccount(const std::string& target, const std::string& login) {
  auto writer = OpenWriteConnection(target);
  return writer->Change("UPDATE USUARIO SET IDATIVO = 'N' WHERE LOGIN = $1", {login}) > 0;
}

const char* const kLoginStateSqliteSql = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIO_LOCAL (
  LOGIN         VARCHAR(64)  NOT NULL,
  DSLOCAL       VARCHAR(64)  NOT NULL,
  DTULTIMO      VARCHAR(19)  NOT NULL,
  PRIMARY KEY (LOGIN, DSLOCAL)
);
CREATE TABLE IF NOT EXISTS USUARIO_BLOQUEIO (
  LOGIN         VARCHAR(64)  NOT NULL PRIMARY KEY,
  DTBLOQUEIO    VARCHAR(19)  NOT NULL
);
)SQL";

const char* const kLoginStatePostgresSql = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIO_LOCAL (
  LOGIN         VARCHAR(64)  COLLATE "C" NOT NULL,
  DSLOCAL       VARCHAR(64)  COLLATE "C" NOT NULL,
  DTULTIMO      VARCHAR(19)  NOT NULL,
  PRIMARY KEY (LOGIN, DSLOCAL)
);
CREATE TABLE IF NOT EXISTS USUARIO_BLOQUEIO (
  LOGIN         VARCHAR(64)  COLLATE "C" NOT NULL PRIMARY KEY,
  DTBLOQUEIO    VARCHAR(19)  NOT NULL
);
)SQL";

void CreateLoginState(const std::string& target) {
  auto writer = OpenWriteConnection(target);
  writer->Execute(writer->Dialect() == TDialect::Postgres ? kLoginStatePostgresSql
                                                          : kLoginStateSqliteSql);
}

void StoreKnownPlace(const std::string& target, const std::string& login,
                     const std::string& place) {
  auto writer = OpenWriteConnection(target);
  if (writer->Dialect() == TDialect::Postgres) {
    writer->Change(
        "INSERT INTO USUARIO_LOCAL (LOGIN, DSLOCAL, DTULTIMO) VALUES ($1, $2, "
        "to_char(now(), 'YYYY-MM-DD HH24:MI:SS')) ON CONFLICT (LOGIN, DSLOCAL) DO UPDATE SET "
        "DTULTIMO = EXCLUDED.DTULTIMO",
        {login, place});
    return;
  }
  writer->Change(
      "INSERT INTO USUARIO_LOCAL (LOGIN, DSLOCAL, DTULTIMO) VALUES (?1, ?2, datetime('now')) "
      "ON CONFLICT (LOGIN, DSLOCAL) DO UPDATE SET DTULTIMO = excluded.DTULTIMO",
      {login, place});
}

void StoreLock(const std::string& target, const std::string& login, int) {
  auto writer = OpenWriteConnection(target);
  if (writer->Dialect() == TDialect::Postgres) {
    writer->Change(
        "INSERT INTO USUARIO_BLOQUEIO (LOGIN, DTBLOQUEIO) VALUES ($1, "
        "to_char(now(), 'YYYY-MM-DD HH24:MI:SS')) ON CONFLICT (LOGIN) DO NOTHING",
        {login});
    return;
  }
  writer->Change(
      "INSERT INTO USUARIO_BLOQUEIO (LOGIN, DTBLOQUEIO) VALUES (?1, datetime('now')) "
      "ON CONFLICT (LOGIN) DO NOTHING",
      {login});
}

bool UnlockAccount(const std::string& target, const std::string& login) {
  CreateLoginState(target);
  return OpenWriteConnection(target)->Change("DELETE FROM USUARIO_BLOQUEIO WHERE LOGIN = $1",
                                             {login}) > 0;
}

void StoreRehashed(const std::string& target, const std::string& login, const std::string& oldHash,
                   const std::string& newHash) {
  OpenWriteConnection(target)->Change(
      "UPDATE USUARIO SET SENHA = $3 WHERE LOGIN = $1 AND SENHA = $2", {login, oldHash, newHash});
}

}  // namespace app
