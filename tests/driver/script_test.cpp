// The script reader: words, quotes, comments, the command table, serve blocks, keys.
#include <gtest/gtest.h>

#include "driver/script.h"

namespace driver {
namespace {

using Words = std::vector<std::string>;

// Line number and message of the error a script raises; fails the test when it raises none.
std::pair<int, std::string> ErrorOf(const std::string& script) {
  try {
    ParseScript(script);
  } catch (const TScriptError& error) {
    return {error.Line(), error.what()};
  }
  ADD_FAILURE() << "no error for: " << script;
  return {0, {}};
}

TEST(SplitWords, BlanksSeparateWordsAndQuotesKeepBlanks) {
  EXPECT_EQ(SplitWords("  type\tedtNome  \"Ana Maria\" ", 1),
            (Words{"type", "edtNome", "Ana Maria"}));
  EXPECT_EQ(SplitWords("expect text edtNome \"\"", 1), (Words{"expect", "text", "edtNome", ""}));
}

TEST(SplitWords, EscapesInsideQuotesAreQuoteAndBackslashOnly) {
  EXPECT_EQ(SplitWords(R"(x "a \"b\" c\\d")", 1), (Words{"x", R"(a "b" c\d)"}));
  EXPECT_THROW(SplitWords(R"(x "a\nb")", 1), TScriptError);
}

TEST(SplitWords, HashStartsCommentOnlyOutsideQuotes) {
  EXPECT_EQ(SplitWords("click sbtFechar # fecha a tela", 1), (Words{"click", "sbtFechar"}));
  EXPECT_EQ(SplitWords("find NMFILIAL \"Filial #2\"", 1), (Words{"find", "NMFILIAL", "Filial #2"}));
  EXPECT_TRUE(SplitWords("   # only a comment", 1).empty());
}

TEST(SplitWords, QuotedPartGluedToTextJoinsOneWord) {
  EXPECT_EQ(SplitWords(R"(a"b c"d)", 1), (Words{"ab cd"}));
}

TEST(SplitWords, UnclosedQuoteIsAnErrorAtItsLine) {
  try {
    SplitWords("type edtNome \"Ana", 7);
    FAIL();
  } catch (const TScriptError& error) {
    EXPECT_EQ(error.Line(), 7);
  }
}

TEST(ParseScript, KeepsLineNumbersAndEchoTextWithoutComments) {
  const auto commands = ParseScript("# header\n\nstart\n  type edtNome \"a # b\"  # note\n");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].Line, 3);
  EXPECT_EQ(commands[0].Name, "start");
  EXPECT_EQ(commands[1].Line, 4);
  EXPECT_EQ(commands[1].Text, "type edtNome \"a # b\"");
  EXPECT_EQ(commands[1].Args, (Words{"edtNome", "a # b"}));
}

TEST(ParseScript, AcceptsWindowsLineEnds) {
  const auto commands = ParseScript("start\r\nexpect busy 0\r\n");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].Args, (Words{"busy", "0"}));
  EXPECT_EQ(commands[1].Text, "expect busy 0");
}

TEST(ParseScript, ReportsBadCommandsWithTheirLine) {
  struct Case {
    std::string Script;
    int Line;
    std::string MessagePart;
  };
  const Case cases[] = {
      {"start\nfrobnicate x\n", 2, "unknown command 'frobnicate'"},
      {"type edtNome\n", 1, "missing argument of 'type'"},
      {"start now\n", 1, "too many arguments for 'start'"},
      {"\n\nexpect colour red\n", 3, "unknown check 'expect colour'"},
      {"expect enabled sbtFilSoli maybe\n", 1, "expected yes or no"},
      {"expect rows cdsItensGrid -1\n", 1, "invalid row count"},
      {"expect cell dbgItens 0 STATUS x\n", 1, "invalid row"},
      {"row dbgPadrao two\n", 1, "invalid row"},
      {"expect var stFoo T\n", 1, "unknown variable 'stFoo'"},
      {"expect var boVD yes\n", 1, "expected true or false"},
      {"expect calls GetItens GetNada\n", 1, "unknown method 'GetNada'"},
      {"expect arg GetItens cdFoo 1\n", 1, "has no parameter 'cdFoo'"},
      {"expect arg GetItens dtSoliIni 31/02/2024\n", 1, "invalid date"},
      {"expect cursor busy\n", 1, "expected hourglass or default"},
      {"key edtNome F13\n", 1, "unknown key 'F13'"},
      {"key edtNome a meta\n", 1, "unknown modifiers"},
      {"find NMFILIAL Centro termina\n", 1, "expected começa or contém"},
      {"fail GetNada \"x\"\n", 1, "unknown method"},
      {"refs GetItens cdFilial=1\n", 1, "not an in-out parameter"},
      {"refs GetItens stDtSoli\n", 1, "expected NAME=VALUE"},
      {"expect no-message now\n", 1, "too many arguments"},
      {"expect\n", 1, "missing argument of 'expect'"},
      {"export dbgItens itens.txt\n", 1, "export writes a .xlsx or .csv file, not 'itens.txt'"},
      {"export dbgItens\n", 1, "missing argument of 'export'"},
  };
  for (const auto& c : cases) {
    const auto [line, message] = ErrorOf(c.Script);
    EXPECT_EQ(line, c.Line) << c.Script;
    EXPECT_NE(message.find(c.MessagePart), std::string::npos) << c.Script << " -> " << message;
  }
}

TEST(ParseScript, AcceptsEveryCommandOfTheLanguage) {
  const std::string script = R"(
start
open
activate
close
focus panFiltro
type depSolicitacaoIni 01/03/2024
click rbtListFilSoli
key dbgPadrao F9
key dbgPadrao a ctrl+shift
row dbgPadrao 2
column dbgItens NRSOLICMP
dblclick dbgItens
dblclick dbgItens NRSOLICMP
export dbgItens itens.xlsx
export dbgItens "/tmp/Itens da filial.CSV"
pick 0001 0003
pick
pick-cancel
find NMFILIAL "Filial Centro"
find NMFILIAL centro começa
find NMFILIAL centro contém
lookup 01.001.001
serve GetFilSoliGD empty
fail GetItens "Lista ilegível."
error GetItens "Conexão perdida."
refs GetItens stDtSoli=X stTCdProd=
expect focus panFiltro
expect form "Acompanhamento da Solicitação"
expect text edtNmProdIni ""
expect enabled mnuProcurar yes
expect checked rbtTFilSoli no
expect message "Filial deve ser informada."
expect message-like Filial
expect no-message
expect open cdsItensGrid no
expect rows cdsItensGrid 0
expect cell dbgItens 1 STATUS Pendente
expect current cdsItensGrid 1
expect var stTFilSoli T
expect var boVD true
expect calls
expect calls GetFilSoliGD GetItens GetDestSolGere
expect arg GetItens dtSoliIni 30/12/1899
expect arg GetItens cdFilial 0001
expect busy 3
expect caption ""
expect busy-off
expect loaded SUP00700
expect cursor default
)";
  EXPECT_EQ(ParseScript(script).size(), 49u);
}

TEST(ParseScript, ServeBlockTakesHeaderRowsAndTheirLines) {
  const auto commands = ParseScript(
      "serve GetFilSoliGD\n"
      "CDFILIAL | NMFILIAL\n"
      "# a comment line\n"
      "0001 | Matriz\n"
      "\n"
      "0002|Filial #2\n"
      "end\n"
      "expect busy 0\n");
  ASSERT_EQ(commands.size(), 2u);
  const TCommand& serve = commands[0];
  EXPECT_TRUE(serve.HasBlock);
  EXPECT_EQ(serve.Header, (Words{"CDFILIAL", "NMFILIAL"}));
  ASSERT_EQ(serve.Rows.size(), 2u);
  EXPECT_EQ(serve.Rows[1], (Words{"0002", "Filial #2"}));  // values are taken as written
  EXPECT_EQ(serve.RowLines, (std::vector<int>{4, 6}));
  EXPECT_EQ(commands[1].Line, 8);
}

TEST(ParseScript, ServeBlockErrorsPointAtTheLineAtFault) {
  EXPECT_EQ(ErrorOf("serve GetFilSoliGD\nCDFILIAL|NMFILIAL\n0001|Matriz\n").first, 1);  // no end
  EXPECT_EQ(ErrorOf("serve GetFilSoliGD\nend\n").first, 1);                             // no header
  const auto unknownField = ErrorOf("start\nserve GetFilSoliGD\nCDFILIAL|NMFOO\nend\n");
  EXPECT_EQ(unknownField.first, 3);
  EXPECT_NE(unknownField.second.find("has no field 'NMFOO'"), std::string::npos);
  EXPECT_EQ(ErrorOf("serve GetFilSoliGD\nCDFILIAL|CDFILIAL\nend\n").first, 2);
  const auto badNumber =
      ErrorOf("serve GetItemCota\nNRCOLEPRECO|VRPRECUNIITM\nC1|1.5\nC2|1,5\nend\n");
  EXPECT_EQ(badNumber.first, 4);
  const auto badDate = ErrorOf("serve GetDestSolGere\nDTAPRSOLPRODGER\n31/02/2024\nend\n");
  EXPECT_EQ(badDate.first, 3);
  const auto shortRow = ErrorOf("serve GetFilSoliGD\nCDFILIAL|NMFILIAL\n0001\nend\n");
  EXPECT_EQ(shortRow.first, 3);
  EXPECT_NE(shortRow.second.find("row has 1 values, the header 2"), std::string::npos);
  EXPECT_EQ(ErrorOf("serve GetNada\nA\nend\n").first, 1);
  EXPECT_EQ(ErrorOf("serve GetFilSoliGD nothing\n").first, 1);
}

TEST(ParseScript, ServeBlockAcceptsEmptyValuesAsNulls) {
  const auto commands =
      ParseScript("serve GetItemCota\nNRCOLEPRECO|VRPRECUNIITM|NMOPERADOR\nC1||\nend\n");
  EXPECT_EQ(commands[0].Rows[0], (Words{"C1", "", ""}));
}

TEST(KeyNames, NamedKeysLettersDigitsAndFunctionKeys) {
  struct Case {
    const char* Name;
    uint16_t Code;
  };
  const Case cases[] = {{"F1", 112},  {"F9", 120}, {"F12", 123}, {"Enter", 13}, {"Tab", 9},
                        {"Esc", 27},  {"Up", 38},  {"Down", 40}, {"PgUp", 33},  {"PgDn", 34},
                        {"Home", 36}, {"End", 35}, {"a", 'A'},   {"Z", 'Z'},    {"7", '7'}};
  for (const auto& c : cases) {
    uint16_t key = 0;
    EXPECT_TRUE(ParseKeyName(c.Name, key)) << c.Name;
    EXPECT_EQ(key, c.Code) << c.Name;
  }
  uint16_t key = 0;
  for (const char* bad : {"F0", "F13", "enter", "ab", "", "%", "F1x"})
    EXPECT_FALSE(ParseKeyName(bad, key)) << bad;
}

TEST(KeyNames, ModifiersJoinWithPlus) {
  fw::TShiftState shift = 0;
  ASSERT_TRUE(ParseModifiers("ctrl", shift));
  EXPECT_EQ(shift, fw::ssCtrl);
  ASSERT_TRUE(ParseModifiers("shift+ctrl+alt", shift));
  EXPECT_EQ(shift, fw::ssShift | fw::ssCtrl | fw::ssAlt);
  for (const char* bad : {"", "ctrl+", "Ctrl", "ctrl++alt", "meta"})
    EXPECT_FALSE(ParseModifiers(bad, shift)) << bad;
}

TEST(Counts, OnlyPlainWholeNumbersInRange) {
  int value = 0;
  EXPECT_TRUE(ParseCount("12", 1, 100, value));
  EXPECT_EQ(value, 12);
  for (const char* bad : {"", "+1", "-1", "1.0", "0", "101", "1e2", " 1", "99999999999"})
    EXPECT_FALSE(ParseCount(bad, 1, 100, value)) << bad;
}

}  // namespace
}  // namespace driver
