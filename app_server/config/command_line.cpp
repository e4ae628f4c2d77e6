#include "app_server/config/command_line.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "app_server/config/server_config.h"

namespace app {

namespace {

const char* const kServing =
    "Servir (cada opção também no arquivo de configuração, como \"chave = valor\")";
const char* const kCommands = "Comandos (cada um faz o seu e termina)";
const char* const kAccounts = "Contas (com --db BANCO, ou o banco do arquivo de configuração)";

// A whole number from `low` to `high`; the message names the option as it was written.
CLI::Validator Number(const std::string& option, long low, long high) {
  return CLI::Validator(
      [option, low, high](std::string& text) -> std::string {
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || value < low || value > high)
          return "valor inválido para " + option + ": " + text;
        return {};
      },
      "", "");
}

// The program's options, bound to where their values go. Built once: the usage and the parse
// read the same declarations.
struct TDeclared {
  CLI::App App{"app-server: o servidor de aplicação do acompanhamento de solicitações.",
               "app-server"};
  TCommandLine Line;
  std::vector<std::string> Grant, GrantAll, Revoke, Own, Operator, ShowUser;
  std::vector<CLI::Option*> Scopes;

  TDeclared() {
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("Usage", "Uso");
    formatter->label("OPTIONS", "OPÇÕES");
    formatter->column_width(38);
    App.formatter(formatter);
    App.allow_extras();  // said as "opção desconhecida", in our words
    App.set_help_flag();
    App.footer(
        "BANCO é um arquivo SQLite ou um banco PostgreSQL, dado por URI\n"
        "(postgresql://USUARIO@HOST:PORTA/BANCO) ou por parâmetros (\"host=... dbname=...\").\n"
        "Uma conta nova não lê nada até receber filiais; a mudança vale na chamada seguinte da\n"
        "conta, sem reiniciar os servidores.");

    App.add_option("--config", Line.ConfigPath,
                   "arquivo de configuração: as opções abaixo como linhas \"chave = valor\",\n"
                   "a chave sem os traços e com _ no lugar de - (--max-connections 2000\n"
                   "é max_connections = 2000); a linha de comando vale sobre ele. O\n"
                   "programa instalado lê /etc/acomp/app-server.conf quando não é dado")
        ->option_text("ARQUIVO")
        ->group(kServing);
    DeclareSettings(App, kServing);

    App.add_flag("--check-config", Line.CheckConfig,
                 "confere o arquivo, as opções e a conexão com o banco, e termina")
        ->group(kCommands);
    App.add_option("--schema", Line.Schema,
                   "escreve o esquema do banco (sqlite ou postgresql) e termina")
        ->option_text("MOTOR")
        ->check(CLI::Validator(
            [](std::string& engine) -> std::string {
              if (engine == "sqlite" || engine == "postgresql") return {};
              return "--schema espera sqlite ou postgresql, recebeu \"" + engine + "\"";
            },
            "", ""))
        ->group(kCommands);
    App.add_flag("--upgrade-schema", Line.UpgradeSchema,
                 "instala no banco o que o servidor pede além das tabelas do sistema\n"
                 "de compras: as tabelas ITEMSOLIFILIAL (itens por filial solicitante\n"
                 "e produto) e ITEMSOLIANDAMENTO (o andamento de cada item),\n"
                 "preenchidas e mantidas por gatilhos, cada uma numa transação")
        ->group(kCommands);
    App.add_option("--init-demo", Line.Demo,
                   "cria um banco de demonstração (substitui o arquivo, ou uma\n"
                   "demonstração anterior no PostgreSQL)")
        ->option_text("BANCO")
        ->group(kCommands);
    App.add_option("--seed", Line.Seed, "semente dos dados de demonstração (padrão 1)")
        ->option_text("N")
        ->check(Number("--seed", 0, 2147483647))
        ->group(kCommands);
    App.add_option("--scale", Line.Scale,
                   "escala: 80 solicitações e cerca de 200 itens por unidade (padrão 1)")
        ->option_text("N")
        ->check(Number("--scale", 1, 100000))
        ->group(kCommands);
    App.set_help_flag("-h,--help", "mostra este texto e termina")->group(kCommands);

    App.add_option("--add-user", Line.AddUser,
                   "cria a conta (ou troca a senha e reativa uma existente); a senha\n"
                   "é lida do terminal, sem eco, ou da entrada padrão")
        ->option_text("USUARIO")
        ->group(kAccounts);
    App.add_option("--name", Line.AccountName,
                   "nome da pessoa da conta (padrão: o próprio usuário)")
        ->option_text("NOME")
        ->group(kAccounts);
    App.add_option("--disable-user", Line.DisableUser,
                   "desativa a conta (o login passa a ser recusado; uma conexão já\n"
                   "aberta é recusada na chamada seguinte)")
        ->option_text("USUARIO")
        ->group(kAccounts);
    App.add_option("--unlock-user", Line.UnlockUser,
                   "desbloqueia a conta que, depois de muitas tentativas erradas, só\n"
                   "aceitava login de endereços de onde já entrara")
        ->option_text("USUARIO")
        ->group(kAccounts);
    // The read scope's commands, one at a time.
    Scopes = {
        App.add_option("--grant-branches", Grant,
                       "a conta passa a ler exatamente estas filiais (0001,0003); cada\n"
                       "uma deve existir em FILIAL")
            ->expected(2)
            ->option_text("USUARIO FILIAIS"),
        App.add_option("--grant-all-branches", GrantAll,
                       "a conta lê todas as filiais, também as criadas depois")
            ->expected(1)
            ->option_text("USUARIO"),
        App.add_option("--revoke-branches", Revoke, "a conta não lê filial nenhuma (nada)")
            ->expected(1)
            ->option_text("USUARIO"),
        App.add_option("--own-requests", Own,
                       "só as solicitações feitas pelo operador da conta, ou todas as\n"
                       "das suas filiais")
            ->expected(2)
            ->option_text("USUARIO sim|nao"),
        App.add_option("--operator", Operator, "o operador (OPERADOR) da conta; \"\" o retira")
            ->expected(2)
            ->option_text("USUARIO CODIGO"),
        App.add_option("--show-user", ShowUser, "mostra a conta e o que ela lê")
            ->expected(1)
            ->option_text("USUARIO"),
    };
    for (CLI::Option* option : Scopes)
      option->group(kAccounts)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    // A command's value given twice: the last holds, as for the settings.
    for (const char* name : {"--config", "--schema", "--init-demo", "--seed", "--scale",
                             "--add-user", "--name", "--disable-user", "--unlock-user"})
      App.get_option(name)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
};

TDeclared& Declared() {
  static TDeclared declared;
  return declared;
}

// The option a CLI11 message starts with ("--db: 1 required TEXT missing").
std::string OptionOf(const std::string& message) {
  const size_t end = message.find_first_of(": ");
  return message.substr(0, end);
}

}  // namespace

std::string Usage() {
  return Declared().App.help();
}

void UsageError(const std::string& problem) {
  if (!problem.empty()) std::cerr << "app-server: " << problem << "\n\n";
  std::cerr << Usage();
  std::exit(2);
}

TCommandLine ParseCommandLine(int argc, char** argv) {
  TDeclared& declared = Declared();
  CLI::App& app = declared.App;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << Usage();
    std::exit(0);
  } catch (const CLI::ValidationError& failure) {
    // Our own check's message, after CLI11's "--option: ".
    const std::string message = failure.what();
    const size_t colon = message.find(": ");
    UsageError(colon == std::string::npos ? message : message.substr(colon + 2));
  } catch (const CLI::ArgumentMismatch& failure) {
    UsageError("falta o valor de " + OptionOf(failure.what()));
  } catch (const CLI::ConversionError& failure) {
    // "Could not convert: --check-config = x"
    const std::string message = failure.what();
    const std::string given = message.substr(message.find(": ") + 2);
    const size_t equals = given.find(" = ");
    UsageError("valor inválido para " + given.substr(0, equals) + ": \"" +
               (equals == std::string::npos ? std::string() : given.substr(equals + 3)) + "\"");
  } catch (const CLI::ParseError& failure) {
    UsageError(std::string("opção inválida: ") + failure.what());
  }
  if (!app.remaining().empty()) UsageError("opção desconhecida: " + app.remaining().front());

  TCommandLine line = declared.Line;
  line.Settings = GivenSettings(app);
  line.ConfigGiven = app.count("--config") > 0;
  line.DbGiven = app.count("--db") > 0;
  size_t scopes = 0;
  for (CLI::Option* option : declared.Scopes) {
    if (option->count() == 0) continue;
    // Each given more than once counts as many times: one scope command per run.
    scopes += option->count() / static_cast<size_t>(option->get_expected_min());
    line.Scope.Option = option->get_name();
    const std::vector<std::string> values = option->as<std::vector<std::string>>();
    if (values.size() < static_cast<size_t>(option->get_expected_min()))
      UsageError("falta o valor de " + option->get_name());
    line.Scope.Login = values.at(0);
    line.Scope.Value = values.size() > 1 ? values.at(1) : std::string();
  }
  if (scopes > 1) UsageError("use uma opção de escopo por vez");
  return line;
}

}  // namespace app
