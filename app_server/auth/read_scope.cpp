#include "app_server/auth/read_scope.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace app {

namespace {

constexpr int kAdminTimeLimitMs = 10000;

// The columns of USUARIO that hold the scope, as each engine declares them.
struct TColumn {
  const char* Name;
  const char* Sqlite;
  const char* Postgres;
};

constexpr TColumn kColumns[] = {
    {"IDTODASFILIAIS", "CHAR(1) NOT NULL DEFAULT 'N' CHECK (IDTODASFILIAIS IN ('S', 'N'))",
     "CHAR(1) NOT NULL DEFAULT 'N' CHECK (IDTODASFILIAIS IN ('S', 'N'))"},
    {"IDSOLIPROPRIAS", "CHAR(1) NOT NULL DEFAULT 'N' CHECK (IDSOLIPROPRIAS IN ('S', 'N'))",
     "CHAR(1) NOT NULL DEFAULT 'N' CHECK (IDSOLIPROPRIAS IN ('S', 'N'))"},
    {"CDOPERADOR", "VARCHAR(12)", "VARCHAR(12) COLLATE \"C\""},
};

// The branches of each account that does not read them all, in the order of their key: the
// statements' semi-join finds an account's branch by (LOGIN, CDFILIAL).
constexpr const char* kBranchTableSqlite = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIOFILIAL (
  LOGIN         VARCHAR(64) NOT NULL,
  CDFILIAL      VARCHAR(4)  NOT NULL,
  PRIMARY KEY (LOGIN, CDFILIAL)
) WITHOUT ROWID;
)SQL";

constexpr const char* kBranchTablePostgres = R"SQL(
CREATE TABLE IF NOT EXISTS USUARIOFILIAL (
  LOGIN         VARCHAR(64) COLLATE "C" NOT NULL,
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  PRIMARY KEY (LOGIN, CDFILIAL)
);
)SQL";

std::string AddColumnSql(TDialect dialect, const TColumn& column) {
  std::string sql = "ALTER TABLE USUARIO ADD COLUMN ";
  if (dialect == TDialect::Postgres) sql += "IF NOT EXISTS ";
  sql += column.Name;
  sql += ' ';
  sql += dialect == TDialect::Sqlite ? column.Sqlite : column.Postgres;
  sql += ";\n";
  return sql;
}

// The scope of an account, with whether it has any branch of its own, by its key.
constexpr const char* kScopeSql =
    R"SQL(SELECT U.IDATIVO, U.IDTODASFILIAIS, U.IDSOLIPROPRIAS, COALESCE(U.CDOPERADOR, ''),
       CASE WHEN EXISTS (SELECT 1 FROM USUARIOFILIAL G WHERE G.LOGIN = U.LOGIN)
            THEN 'S' ELSE 'N' END
  FROM USUARIO U
 WHERE U.LOGIN = :login)SQL";

constexpr const char* kBranchesSql =
    "SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = :login ORDER BY CDFILIAL";

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Joined(const std::vector<std::string>& codes) {
  std::string text;
  for (const auto& code : codes) {
    if (!text.empty()) text += ", ";
    text += code;
  }
  return text;
}

// One administration command on one account: a transaction on the database, the schema brought
// up to date, the account found. What is not committed is rolled back when the connection
// closes.
class TAdministration {
 public:
  TAdministration(const std::string& target, const std::string& login)
      : writer_(OpenWriteConnection(target)), target_(DescribeTarget(target)), login_(login) {
    writer_->Execute(Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
    UpgradeForReadScopes(*writer_);
    const auto found = writer_->Rows(
        "SELECT IDSOLIPROPRIAS, COALESCE(CDOPERADOR, '') FROM USUARIO WHERE LOGIN = $1", {login});
    if (found.empty()) throw std::runtime_error("Não há a conta " + login + " em " + target_ + ".");
    ownRequests_ = found[0][0] == "S";
    operator_ = found[0][1];
  }

  TWriteConnection& Writer() { return *writer_; }
  const std::string& Target() const { return target_; }
  const std::string& Login() const { return login_; }
  bool OwnRequests() const { return ownRequests_; }
  const std::string& Operator() const { return operator_; }
  bool Postgres() const { return writer_->Dialect() == TDialect::Postgres; }

  // A statement on the account: $1 is its login, $2 `value`.
  void Change(const char* sql) { writer_->Change(sql, {login_}); }
  void Change(const char* sql, const std::string& value) { writer_->Change(sql, {login_, value}); }
  void Commit() { writer_->Execute("COMMIT"); }

 private:
  std::unique_ptr<TWriteConnection> writer_;
  std::string target_, login_;
  bool ownRequests_ = false;
  std::string operator_;
};

}  // namespace

// ------------------------------------------------------------------ schema

const char* ReadScopeSchemaSql(TDialect dialect) {
  static const auto made = [](TDialect of) {
    std::string sql;
    for (const auto& column : kColumns) sql += AddColumnSql(of, column);
    sql += of == TDialect::Sqlite ? kBranchTableSqlite : kBranchTablePostgres;
    return sql;
  };
  static const std::string sqlite = made(TDialect::Sqlite), postgres = made(TDialect::Postgres);
  return dialect == TDialect::Sqlite ? sqlite.c_str() : postgres.c_str();
}

void UpgradeForReadScopes(TWriteConnection& writer) {
  const TDialect dialect = writer.Dialect();
  // What is there already: nothing is written (nor asked of the role) when all of it is.
  std::set<std::string> columns;
  const char* columnsSql = dialect == TDialect::Sqlite
                               ? "SELECT upper(name) FROM pragma_table_info('USUARIO')"
                               : "SELECT upper(column_name) FROM information_schema.columns "
                                 "WHERE table_schema = current_schema() AND table_name = 'usuario'";
  for (const auto& row : writer.Rows(columnsSql, {})) columns.insert(row.at(0));
  for (const auto& column : kColumns)
    if (columns.count(column.Name) == 0) writer.Execute(AddColumnSql(dialect, column).c_str());
  const char* tableSql =
      dialect == TDialect::Sqlite
          ? "SELECT 1 FROM sqlite_master WHERE type = 'table' AND upper(name) = 'USUARIOFILIAL'"
          : "SELECT 1 WHERE to_regclass('usuariofilial') IS NOT NULL";
  if (writer.Rows(tableSql, {}).empty())
    writer.Execute(dialect == TDialect::Sqlite ? kBranchTableSqlite : kBranchTablePostgres);
}

void CheckReadScopeSchema(IConnection& connection, const std::string& target) {
  try {
    connection.Query("SELECT IDTODASFILIAIS, IDSOLIPROPRIAS, CDOPERADOR FROM USUARIO LIMIT 1", {},
                     3, kAdminTimeLimitMs, [](const IRow&) { return true; });
    connection.Query("SELECT LOGIN, CDFILIAL FROM USUARIOFILIAL LIMIT 1", {}, 2, kAdminTimeLimitMs,
                     [](const IRow&) { return true; });
  } catch (const EDatabaseError&) {
    const std::string where = DescribeTarget(target);
    throw std::runtime_error(
        "o banco " + where +
        " não tem o escopo de leitura das contas (as filiais de cada uma: USUARIOFILIAL e as "
        "colunas IDTODASFILIAIS, IDSOLIPROPRIAS e CDOPERADOR de USUARIO); conceda as filiais "
        "das contas, o que os cria: app-server --grant-all-branches USUARIO --db " +
        where + ", ou --grant-branches USUARIO 0001,0003.");
  }
}

// ------------------------------------------------------------------ a call's scope

const char* TReadScope::Denial() const {
  if (!Found || !Enabled) return kAccountDisabled;
  if (!AllBranches && !HasBranches) return fw::kNoBranchAccess;
  if (OwnRequests && Operator.empty()) return fw::kNoBranchAccess;
  return nullptr;
}

TScopeShape TReadScope::Shape() const {
  TScopeShape shape;
  shape.Branches = !AllBranches;
  shape.OwnRequests = OwnRequests;
  return shape;
}

void TReadScope::Bind(TNamedParams& params) const {
  params.emplace_back("login", Login);
  params.emplace_back("cdOperSoli", Operator);
}

TNamedParams ScopeParams(const std::string& login) {
  return {{"login", login}};
}

TStatementCall ScopeStatement(const TNamedParams& params, TReadScope& into) {
  return {kScopeSql, params, 5, [&into](const IRow& row) {
            into.Found = true;
            into.Enabled = row.Text(0) == "S";
            into.AllBranches = row.Text(1) == "S";
            into.OwnRequests = row.Text(2) == "S";
            into.Operator = std::string(row.Text(3));
            into.HasBranches = row.Text(4) == "S";
            // One row by its key; stopping early would cost PostgreSQL its connection.
            return true;
          }};
}

TReadScope ReadScopeOf(IConnection& connection, const std::string& login, int timeLimitMs) {
  TReadScope scope;
  scope.Login = login;
  const TNamedParams params = ScopeParams(login);
  const TStatementCall read = ScopeStatement(params, scope);
  connection.Query(read.Sql, read.Params, read.Columns, timeLimitMs, read.OnRow);
  return scope;
}

fw::TAccountScope AccountScopeOf(IConnection& connection, const std::string& login,
                                 int timeLimitMs) {
  const TReadScope read = ReadScopeOf(connection, login, timeLimitMs);
  fw::TAccountScope scope;
  scope.Known = true;
  scope.AllBranches = read.AllBranches;
  scope.OwnRequests = read.OwnRequests;
  scope.Operator = read.Operator;
  if (!read.AllBranches)
    connection.Query(kBranchesSql, {{"login", login}}, 1, timeLimitMs, [&](const IRow& row) {
      scope.Branches.emplace_back(row.Text(0));
      return true;
    });
  return scope;
}

TLoginOutcome TScopedAuthenticator::Login(const std::string& address,
                                          const std::vector<TRpcValue>& params) {
  TLoginOutcome outcome = accounts_.Login(address, params);
  if (!outcome.Accepted) return outcome;
  {
    auto connection = pool_.Acquire();
    outcome.Scope = AccountScopeOf(*connection, outcome.Login, kAdminTimeLimitMs);
  }
  if (outcome.Scope.ReadsNothing()) outcome.LogText += " (sem acesso a nenhuma filial)";
  return outcome;
}

// ------------------------------------------------------------------ administration

void GrantBranches(const std::string& target, const std::string& login,
                   const std::string& branchList) {
  std::set<std::string> codes;
  for (size_t start = 0; start <= branchList.size();) {
    size_t comma = branchList.find(',', start);
    if (comma == std::string::npos) comma = branchList.size();
    const std::string code = Trimmed(branchList.substr(start, comma - start));
    if (code.empty()) {
      if (Trimmed(branchList).empty())
        throw std::runtime_error(
            "Informe as filiais da conta (0001,0003); para tirar todas, use --revoke-branches. "
            "Nada foi alterado.");
      throw std::runtime_error("Lista de filiais inválida: \"" + branchList +
                               "\" (esperado 0001,0003); nada foi alterado.");
    }
    codes.insert(code);
    start = comma + 1;
  }
  TAdministration account(target, login);
  std::vector<std::string> unknown;
  for (const auto& code : codes)
    if (account.Writer().Rows("SELECT 1 FROM FILIAL WHERE CDFILIAL = $1", {code}).empty())
      unknown.push_back(code);
  if (!unknown.empty())
    throw std::runtime_error(
        std::string(unknown.size() == 1 ? "Filial desconhecida: " : "Filiais desconhecidas: ") +
        Joined(unknown) + " (não " + (unknown.size() == 1 ? "está" : "estão") + " em FILIAL de " +
        account.Target() + "); nada foi alterado.");
  account.Change("UPDATE USUARIO SET IDTODASFILIAIS = 'N' WHERE LOGIN = $1");
  account.Change("DELETE FROM USUARIOFILIAL WHERE LOGIN = $1");
  for (const auto& code : codes)
    account.Change("INSERT INTO USUARIOFILIAL (LOGIN, CDFILIAL) VALUES ($1, $2)", code);
  account.Commit();
}

void GrantAllBranches(const std::string& target, const std::string& login) {
  TAdministration account(target, login);
  account.Change("UPDATE USUARIO SET IDTODASFILIAIS = 'S' WHERE LOGIN = $1");
  account.Change("DELETE FROM USUARIOFILIAL WHERE LOGIN = $1");
  account.Commit();
}

void RevokeBranches(const std::string& target, const std::string& login) {
  TAdministration account(target, login);
  account.Change("UPDATE USUARIO SET IDTODASFILIAIS = 'N' WHERE LOGIN = $1");
  account.Change("DELETE FROM USUARIOFILIAL WHERE LOGIN = $1");
  account.Commit();
}

void SetOwnRequests(const std::string& target, const std::string& login, bool own) {
  TAdministration account(target, login);
  if (own && account.Operator().empty())
    throw std::runtime_error("A conta " + login +
                             " não tem operador, e as próprias solicitações são as do seu "
                             "operador: nomeie-o antes com --operator " +
                             login + " CODIGO; nada foi alterado.");
  account.Change("UPDATE USUARIO SET IDSOLIPROPRIAS = $2 WHERE LOGIN = $1", own ? "S" : "N");
  account.Commit();
}

void SetOperator(const std::string& target, const std::string& login,
                 const std::string& operatorCode) {
  TAdministration account(target, login);
  if (operatorCode.empty()) {
    if (account.OwnRequests())
      throw std::runtime_error("A conta " + login +
                               " lê só as próprias solicitações, as do seu operador: desligue "
                               "antes com --own-requests " +
                               login + " nao; nada foi alterado.");
    account.Change("UPDATE USUARIO SET CDOPERADOR = NULL WHERE LOGIN = $1");
    account.Commit();
    return;
  }
  if (account.Writer().Rows("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = $1", {operatorCode}).empty())
    throw std::runtime_error("Operador desconhecido: " + operatorCode +
                             " (não está em OPERADOR de " + account.Target() +
                             "); nada foi alterado.");
  account.Change("UPDATE USUARIO SET CDOPERADOR = $2 WHERE LOGIN = $1", operatorCode);
  account.Commit();
}

TAccountReport ShowAccount(const std::string& target, const std::string& login) {
  TAdministration account(target, login);
  const auto rows = account.Writer().Rows(
      "SELECT U.NMUSUARIO, U.IDATIVO, U.IDTODASFILIAIS, U.IDSOLIPROPRIAS, "
      "COALESCE(U.CDOPERADOR, ''), COALESCE(O.NMOPERADOR, '') "
      "FROM USUARIO U LEFT JOIN OPERADOR O ON O.CDOPERADOR = U.CDOPERADOR WHERE U.LOGIN = $1",
      {login});
  TAccountReport report;
  report.Login = login;
  report.Name = rows.at(0).at(0);
  report.Enabled = rows[0][1] == "S";
  report.Scope.Known = true;
  report.Scope.AllBranches = rows[0][2] == "S";
  report.Scope.OwnRequests = rows[0][3] == "S";
  report.Scope.Operator = rows[0][4];
  report.OperatorName = rows[0][5];
  for (const auto& row : account.Writer().Rows(
           "SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = $1 ORDER BY CDFILIAL", {login}))
    report.Scope.Branches.push_back(row.at(0));
  account.Commit();
  return report;
}

}  // namespace app
