// Exports read back by a spreadsheet program nobody here wrote: LibreOffice Calc, headless, opens
// the .xlsx as it is and the CSV as a Brazilian user opens it (";" between values, UTF-8,
// Portuguese (Brazil) for numbers and dates), and saves what it read as flat OpenDocument XML,
// whose cells say their types; the .xlsx is also printed to PDF, whose text shows what the
// columns draw ("###" where a number or a date does not fit).
//
// Needs soffice (scripts/deps.sh installs libreoffice-calc-nogui) and pdftotext.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "framework/testing/fake_platform.h"
#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"
#include "grid_export/grid_export.h"
#include "protocol/datetime.h"

namespace gridexport {
namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    status = -1;
    return out;
  }
  char buffer[8192];
  for (size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, read);
  status = pclose(pipe);
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Unescape(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::string(entity).size(), plain);
  return text;
}

// A cell as the spreadsheet read it: its type ("string", "float", "date", ...), its value as
// the file stores it (a date "2024-03-15T14:07:00", a number "1234.5") and the text it shows.
struct TCell {
  std::string Type;
  std::string Value;
  std::string Shown;
};

// The first sheet of a flat OpenDocument spreadsheet, row by row.
std::vector<std::vector<TCell>> ReadSheet(const std::string& xml) {
  std::vector<std::vector<TCell>> rows;
  static const std::regex row(R"(<table:table-row[^>]*>([\s\S]*?)</table:table-row>)");
  static const std::regex cell(
      R"re(<table:(?:covered-)?table-cell((?: [a-z:-]+="[^"]*")*)\s*(?:/>|>([\s\S]*?)</table:(?:covered-)?table-cell>))re");
  static const std::regex attribute(R"re( ([a-z:-]+)="([^"]*)")re");
  static const std::regex tag(R"(<[^>]+>)");
  const size_t end = xml.find("</table:table>");
  const std::string first = xml.substr(0, end);
  for (auto r = std::sregex_iterator(first.begin(), first.end(), row); r != std::sregex_iterator();
       ++r) {
    std::vector<TCell> cells;
    const std::string body = (*r)[1];
    for (auto c = std::sregex_iterator(body.begin(), body.end(), cell); c != std::sregex_iterator();
         ++c) {
      TCell read;
      int repeated = 1;
      const std::string attributes = (*c)[1];
      for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), attribute);
           a != std::sregex_iterator(); ++a) {
        const std::string name = (*a)[1];
        if (name == "office:value-type") read.Type = (*a)[2];
        if (name == "office:value" || name == "office:date-value" || name == "office:string-value")
          read.Value = Unescape((*a)[2]);
        if (name == "table:number-columns-repeated") repeated = std::stoi((*a)[2]);
      }
      read.Shown = Unescape(std::regex_replace((*c)[2].str(), tag, ""));
      while (!read.Shown.empty() && std::isspace(static_cast<unsigned char>(read.Shown.back())))
        read.Shown.pop_back();
      while (!read.Shown.empty() && std::isspace(static_cast<unsigned char>(read.Shown.front())))
        read.Shown.erase(read.Shown.begin());
      if (read.Type == "string" && read.Value.empty()) read.Value = read.Shown;
      // Trailing empty cells repeated to the sheet's edge are no cells of ours.
      if (read.Type.empty() && repeated > 16) break;
      for (int i = 0; i < repeated; ++i) cells.push_back(read);
    }
    if (!cells.empty()) rows.push_back(cells);
  }
  return rows;
}

class SpreadsheetRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    dir = fs::temp_directory_path() / ("planilha-" + std::to_string(getpid()));
    fs::create_directories(dir / "lido");
    // The tracking screens' grids as they are: narrow columns of a small face, codes that are
    // digits, dates with and without a time of day.
    form = new fw::TForm(fw::Application, "frmItens");
    form->SetCaption("Acompanhamento de Itens de Solicitação");
    data = form->Create<fw::TClientDataSet>("cdsItens");
    const std::pair<const char*, fw::TFieldType> fields[] = {
        {"CDFILIAL", fw::TFieldType::ftString},      {"NRSOLICMP", fw::TFieldType::ftString},
        {"NRAUTOFORN", fw::TFieldType::ftString},    {"CDARVPROD", fw::TFieldType::ftString},
        {"NMPRODUTO", fw::TFieldType::ftString},     {"QTSOLIPROD", fw::TFieldType::ftFloat},
        {"DTHRLANCSOL", fw::TFieldType::ftDateTime}, {"DTCONCOLEPREC", fw::TFieldType::ftDateTime},
        {"DTAUTOFORN", fw::TFieldType::ftDateTime},  {"STATUS", fw::TFieldType::ftString}};
    for (const auto& [name, type] : fields)
      data->AddField(std::string("cdsItens") + name, name, type,
                     type == fw::TFieldType::ftString ? 40 : 0);
    data->FindField("QTSOLIPROD")->DisplayFormat = "###,##0.000";
    data->FindField("CDARVPROD")->SetEditMask("00.000.000;0;_");
    data->FindField("STATUS")->OnGetText = [](fw::TField* sender, std::string& text, bool) {
      text = sender->AsString() == "2" ? "Baixa Total" : "Aguardando Aprovação";
    };
    auto* source = form->Create<fw::TDataSource>("dtsItens");
    source->SetDataSet(data);
    grid = form->Create<fw::TDBGrid>("dbgItens");
    grid->SetParent(form);
    grid->SetDataSource(source);
    grid->Columns = {{"CDFILIAL", "Filial", 34},          {"NRSOLICMP", "Nº Solicitação", 64},
                     {"NRAUTOFORN", "Nº AF", 64},         {"CDARVPROD", "Produto", 60},
                     {"NMPRODUTO", "Descrição", 90},      {"QTSOLIPROD", "Qtde.", 50},
                     {"DTHRLANCSOL", "Dt. Inclusão", 60}, {"DTCONCOLEPREC", "Dt. Concl. Cot.", 60},
                     {"DTAUTOFORN", "Dt. Lanç. AF", 60},  {"STATUS", "Lançamento", 30}};

    fw::TDataPacket packet({{"CDFILIAL", fw::TFieldType::ftString, 40},
                            {"NRSOLICMP", fw::TFieldType::ftString, 40},
                            {"NRAUTOFORN", fw::TFieldType::ftString, 40},
                            {"CDARVPROD", fw::TFieldType::ftString, 40},
                            {"NMPRODUTO", fw::TFieldType::ftString, 40},
                            {"QTSOLIPROD", fw::TFieldType::ftFloat, 0},
                            {"DTHRLANCSOL", fw::TFieldType::ftDateTime, 0},
                            {"DTCONCOLEPREC", fw::TFieldType::ftDateTime, 0},
                            {"DTAUTOFORN", fw::TFieldType::ftDateTime, 0},
                            {"STATUS", fw::TFieldType::ftString, 40}});
    auto& columns = packet.Columns();
    const auto add = [&](const char* branch, const char* request, const char* order,
                         const char* product, const char* name, double quantity, double entered,
                         double quoted, double ordered, const char* status) {
      columns[0].AppendString(branch);
      columns[1].AppendString(request);
      columns[2].AppendString(order);
      columns[3].AppendString(product);
      columns[4].AppendString(name);
      columns[5].AppendNumber(quantity);
      columns[6].AppendNumber(entered);
      columns[7].AppendNumber(quoted);
      columns[8].AppendNumber(ordered);
      columns[9].AppendString(status);
    };
    add("0001", "2023000011", "0000000021", "01002003", "Papel Sulfite A4 75g", 1234.5,
        fw::EncodeDateTime({2024, 3, 15, 14, 7, 9}), fw::EncodeDateTime({2024, 3, 20}),
        fw::EncodeDateTime({2024, 3, 22, 9, 30, 0}), "2");
    add("0003", "2023000012", "0000000104", "03001001", "Cartucho de Toner Preto", 2,
        fw::EncodeDateTime({2024, 12, 28, 23, 59, 59}), fw::EncodeDateTime({2024, 12, 30}),
        fw::EncodeDateTime({2024, 12, 31, 8, 0, 0}), "A");
    data->SetData(std::move(packet));
  }
  void TearDown() override {
    fw::DoneApplication();
    fs::remove_all(dir);
  }

  // Converts with LibreOffice into dir/lido; the converted file's path.
  fs::path Convert(const fs::path& file, const std::string& format, const std::string& filter) {
    // A profile of its own, so that no other instance or earlier setting is in the way.
    std::string command = "HOME='" + dir.string() +
                          "' LC_ALL=pt_BR.UTF-8 LANG=pt_BR.UTF-8 soffice --headless --norestore" +
                          " -env:UserInstallation=file://" + (dir / "perfil").string();
    if (!filter.empty()) command += " --infilter='" + filter + "'";
    command += " --convert-to " + format + " --outdir '" + (dir / "lido").string() + "' '" +
               file.string() + "'";
    int status = 0;
    const std::string out = Shell(command, status);
    const fs::path converted = dir / "lido" / (file.stem().string() + "." + format);
    EXPECT_EQ(0, status) << command << "\n" << out;
    EXPECT_TRUE(fs::exists(converted)) << command << "\n" << out;
    return converted;
  }

  // The cells of the read sheet, by title: every row below the titles.
  std::map<std::string, std::vector<TCell>> ByTitle(const std::vector<std::vector<TCell>>& rows) {
    std::map<std::string, std::vector<TCell>> columns;
    if (rows.empty()) return columns;
    for (size_t row = 1; row < rows.size(); ++row)
      for (size_t column = 0; column < rows[0].size() && column < rows[row].size(); ++column)
        columns[rows[0][column].Shown].push_back(rows[row][column]);
    return columns;
  }

  // What both files must read back as: codes with their zeros as texts, numbers as numbers,
  // dates as dates with their times.
  void ExpectTypes(const std::map<std::string, std::vector<TCell>>& read) {
    const auto cell = [&](const char* title, size_t row) -> TCell {
      const auto found = read.find(title);
      if (found == read.end() || row >= found->second.size()) {
        ADD_FAILURE() << "no column " << title << " row " << row;
        return {};
      }
      return found->second[row];
    };
    for (const auto& [title, value] :
         std::vector<std::pair<const char*, const char*>>{{"Filial", "0001"},
                                                          {"Nº Solicitação", "2023000011"},
                                                          {"Nº AF", "0000000021"},
                                                          {"Produto", "01.002.003"}}) {
      EXPECT_EQ("string", cell(title, 0).Type) << title;
      EXPECT_EQ(value, cell(title, 0).Value) << title;
    }
    EXPECT_EQ("0003", cell("Filial", 1).Value);
    EXPECT_EQ("0000000104", cell("Nº AF", 1).Value);
    EXPECT_EQ("string", cell("Descrição", 0).Type);
    EXPECT_EQ("Baixa Total", cell("Lançamento", 0).Value);
    EXPECT_EQ("float", cell("Qtde.", 0).Type);
    EXPECT_EQ("1234.5", cell("Qtde.", 0).Value);
    EXPECT_EQ("date", cell("Dt. Inclusão", 0).Type);
    EXPECT_EQ("2024-03-15T14:07:09", cell("Dt. Inclusão", 0).Value);
    EXPECT_EQ("2024-12-28T23:59:59", cell("Dt. Inclusão", 1).Value);
    EXPECT_EQ("date", cell("Dt. Concl. Cot.", 0).Type);
    EXPECT_EQ("2024-03-20", cell("Dt. Concl. Cot.", 0).Value);
    EXPECT_EQ("date", cell("Dt. Lanç. AF", 1).Type);
    EXPECT_EQ("2024-12-31T08:00:00", cell("Dt. Lanç. AF", 1).Value);
  }

  fw::TFakePlatform platform;
  fs::path dir;
  fw::TForm* form = nullptr;
  fw::TClientDataSet* data = nullptr;
  fw::TDBGrid* grid = nullptr;
};

TEST_F(SpreadsheetRoundTrip, Xlsx_CellTypesCodesAndDates_NoColumnShowsHashes_TitlesWhole) {
  const fs::path xlsx = dir / "itens.xlsx";
  ASSERT_EQ(TOutcome::Written, WriteXlsx(TGridSource(*grid), xlsx.string()));
  ExpectTypes(ByTitle(ReadSheet(ReadFile(Convert(xlsx, "fods", "")))));

  // Printed as the spreadsheet draws it: every date whole, no "###", every title whole (a
  // title cut by the next column's would read "Lançam" or run into it).
  const fs::path pdf = Convert(xlsx, "pdf", "");
  int status = 0;
  const std::string text = Shell("pdftotext -layout '" + pdf.string() + "' -", status);
  ASSERT_EQ(0, status) << text;
  EXPECT_EQ(std::string::npos, text.find("###")) << text;
  for (const char* shown :
       {"15/03/2024 14:07:09", "28/12/2024 23:59:59", "20/03/2024", "31/12/2024 08:00:00",
        "0000000021", "01.002.003", "1.234,500", "Dt. Inclusão", "Dt. Concl. Cot.", "Dt. Lanç. AF",
        "Lançamento", "Nº Solicitação", "Descrição", "Papel Sulfite A4 75g"})
    EXPECT_NE(std::string::npos, text.find(shown)) << shown << "\n" << text;
}

TEST_F(SpreadsheetRoundTrip, Csv_OpenedAsBrazilianUtf8Semicolons_CodesStayTexts) {
  const fs::path csv = dir / "itens.csv";
  ASSERT_EQ(TOutcome::Written, WriteCsv(TGridSource(*grid), csv.string()));
  // Separator 59 (";"), text delimiter 34 ("), character set 76 (UTF-8), from line 1, the
  // columns' types detected, language 1046 (Portuguese, Brazil).
  ExpectTypes(ByTitle(ReadSheet(ReadFile(Convert(csv, "fods", "CSV:59,34,76,1,,1046")))));
}

}  // namespace
}  // namespace gridexport
