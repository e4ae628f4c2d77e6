// Exports of a grid read back: the .xlsx through its sheet XML (unzip), the CSV as bytes, the
// clipboard text; unwritable paths, cancels, and the screens left undisturbed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
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

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A member of the .xlsx (a zip) as text, through unzip.
std::string Member(const std::string& xlsx, const std::string& member) {
  const std::string command = "unzip -p '" + xlsx + "' '" + member + "' 2>/dev/null";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[65536];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, read);
  pclose(pipe);
  return out;
}

std::string Unescape(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::strlen(entity), plain);
  return text;
}

// One cell as the sheet holds it: its type ("n" number, "s" shared string, "inlineStr"...), its
// value (strings resolved) and the number format of its style.
struct TSheetCell {
  std::string Type;
  std::string Value;
  std::string Format;
  bool Bold = false;
};

class TWorkbookReader {
 public:
  explicit TWorkbookReader(const std::string& path) {
    const std::string strings = Member(path, "xl/sharedStrings.xml");
    static const std::regex item(R"(<si>\s*<t[^>]*>([^<]*)</t>\s*</si>)");
    for (auto it = std::sregex_iterator(strings.begin(), strings.end(), item);
         it != std::sregex_iterator(); ++it)
      shared_.push_back(Unescape((*it)[1]));

    const std::string styles = Member(path, "xl/styles.xml");
    std::map<std::string, std::string> formats = {{"0", "General"}, {"14", "m/d/yyyy"}};
    static const std::regex numFmt(R"re(<numFmt numFmtId="(\d+)" formatCode="([^"]*)")re");
    for (auto it = std::sregex_iterator(styles.begin(), styles.end(), numFmt);
         it != std::sregex_iterator(); ++it)
      formats[(*it)[1]] = Unescape((*it)[2]);
    std::vector<bool> boldFonts;
    const size_t fontsAt = styles.find("<fonts");
    const std::string fonts = styles.substr(fontsAt, styles.find("</fonts>") - fontsAt);
    static const std::regex font(R"(<font>(.*?)</font>)");
    for (auto it = std::sregex_iterator(fonts.begin(), fonts.end(), font);
         it != std::sregex_iterator(); ++it)
      boldFonts.push_back((*it)[1].str().find("<b/>") != std::string::npos);
    const size_t xfsAt = styles.find("<cellXfs");
    const std::string xfs = styles.substr(xfsAt, styles.find("</cellXfs>") - xfsAt);
    static const std::regex xf(R"re(<xf numFmtId="(\d+)" fontId="(\d+)")re");
    for (auto it = std::sregex_iterator(xfs.begin(), xfs.end(), xf); it != std::sregex_iterator();
         ++it) {
      const size_t fontId = std::stoul((*it)[2]);
      styles_.push_back({formats[(*it)[1]], fontId < boldFonts.size() && boldFonts[fontId]});
    }

    sheet_ = Member(path, "xl/worksheets/sheet1.xml");
    static const std::regex cell(
        R"re(<c r="([A-Z]+\d+)"((?: [a-z]+="[^"]*")*)(?:/>|>(.*?)</c>))re");
    static const std::regex attribute(R"re( ([a-z]+)="([^"]*)")re");
    static const std::regex value(R"(<v>([^<]*)</v>)");
    static const std::regex inlineText(R"(<is><t[^>]*>([^<]*)</t></is>)");
    for (auto it = std::sregex_iterator(sheet_.begin(), sheet_.end(), cell);
         it != std::sregex_iterator(); ++it) {
      TSheetCell read;
      read.Type = "n";
      size_t style = 0;
      const std::string attributes = (*it)[2];
      for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), attribute);
           a != std::sregex_iterator(); ++a) {
        if ((*a)[1] == "t") read.Type = (*a)[2];
        if ((*a)[1] == "s") style = std::stoul((*a)[2]);
      }
      const std::string body = (*it)[3];
      std::smatch found;
      if (read.Type == "inlineStr" && std::regex_search(body, found, inlineText)) {
        read.Value = Unescape(found[1]);
      } else if (std::regex_search(body, found, value)) {
        read.Value = read.Type == "s" ? shared_.at(std::stoul(found[1])) : Unescape(found[1]);
      }
      if (style < styles_.size()) {
        read.Format = styles_[style].first;
        read.Bold = styles_[style].second;
      }
      cells_[(*it)[1]] = read;
    }
  }

  bool Has(const std::string& ref) const { return cells_.count(ref) > 0; }
  const TSheetCell& Cell(const std::string& ref) const { return cells_.at(ref); }
  bool IsText(const std::string& ref) const {
    const std::string& type = Cell(ref).Type;
    return type == "s" || type == "inlineStr" || type == "str";
  }
  const std::string& Sheet() const { return sheet_; }

 private:
  std::vector<std::string> shared_;
  std::vector<std::pair<std::string, bool>> styles_;
  std::map<std::string, TSheetCell> cells_;
  std::string sheet_;
};

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    dir = fs::temp_directory_path() / ("grid-export-" + std::to_string(getpid()));
    fs::create_directories(dir);
    form = new fw::TForm(fw::Application, "frmExporta");
    form->SetCaption("Acompanhamento da Solicitação");
    data = form->Create<fw::TClientDataSet>("cdsItens");
    number = data->AddField("cdsItensNRSOLICMP", "NRSOLICMP", fw::TFieldType::ftString, 10);
    status = data->AddField("cdsItensSTATUS", "STATUS", fw::TFieldType::ftString, 1);
    status->OnGetText = [](fw::TField* sender, std::string& text, bool) {
      text = sender->AsString() == "A" ? "Aguardando Aprovação" : "Baixa Total";
    };
    quantity = data->AddField("cdsItensQTSOLIPROD", "QTSOLIPROD", fw::TFieldType::ftFloat);
    quantity->DisplayFormat = "###,##0.000";
    entered = data->AddField("cdsItensDTHRLANCSOL", "DTHRLANCSOL", fw::TFieldType::ftDateTime);
    approved = data->AddField("cdsItensDTAPROV", "DTAPROV", fw::TFieldType::ftDateTime);
    note = data->AddField("cdsItensNMOBS", "NMOBS", fw::TFieldType::ftString, 60);
    source = form->Create<fw::TDataSource>("dtsItens");
    source->SetDataSet(data);
    grid = form->Create<fw::TDBGrid>("dbgItens");
    grid->SetParent(form);
    grid->SetDataSource(source);
    grid->Columns = {{"NRSOLICMP", "Solicitação", 80}, {"STATUS", "Status", 125},
                     {"QTSOLIPROD", "Qtde.", 70},      {"DTHRLANCSOL", "Data", 120},
                     {"DTAPROV", "Aprovação", 75},     {"NMOBS", "Observação", -1}};
    Load({{"0001", "A", 1234.5, Day(2024, 3, 15, 10, 30), Day(2024, 3, 16), "Entrega; \"urgente\""},
          {"2024000123", "2", 0.25, Day(2024, 3, 1), std::nullopt, "=SOMA(A1:A2)"},
          {"0003", "A", -7, Day(2024, 4, 2), Day(2024, 4, 3), "texto\tcom\ttabs"}});
  }
  void TearDown() override {
    fw::DoneApplication();
    fs::remove_all(dir);
  }

  struct TRowValues {
    std::string Number, Status;
    double Quantity;
    double Entered;
    std::optional<double> Approved;
    std::string Note;
  };
  static double Day(int year, int month, int day, int hour = 0, int minute = 0) {
    return fw::EncodeDateTime({year, month, day, hour, minute, 0});
  }
  void Load(const std::vector<TRowValues>& rows) {
    fw::TDataPacket packet({{"NRSOLICMP", fw::TFieldType::ftString, 10},
                            {"STATUS", fw::TFieldType::ftString, 1},
                            {"QTSOLIPROD", fw::TFieldType::ftFloat, 0},
                            {"DTHRLANCSOL", fw::TFieldType::ftDateTime, 0},
                            {"DTAPROV", fw::TFieldType::ftDateTime, 0},
                            {"NMOBS", fw::TFieldType::ftString, 60}});
    for (const TRowValues& row : rows) {
      auto& columns = packet.Columns();
      columns[0].AppendString(row.Number);
      columns[1].AppendString(row.Status);
      columns[2].AppendNumber(row.Quantity);
      columns[3].AppendNumber(row.Entered);
      if (row.Approved)
        columns[4].AppendNumber(*row.Approved);
      else
        columns[4].AppendNull();
      columns[5].AppendString(row.Note);
    }
    data->SetData(std::move(packet));
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().filename().string().front() == '.')
        names.push_back(entry.path().filename().string());
    return names;
  }

  fw::TFakePlatform platform;
  fs::path dir;
  fw::TForm* form = nullptr;
  fw::TClientDataSet* data = nullptr;
  fw::TField *number = nullptr, *status = nullptr, *quantity = nullptr, *entered = nullptr,
             *approved = nullptr, *note = nullptr;
  fw::TDataSource* source = nullptr;
  fw::TDBGrid* grid = nullptr;
};

TEST_F(ExportTest, Xlsx_ReadBack_DatesAsDatesNumbersAsNumbersTextsAsShown) {
  const std::string path = Path("itens.xlsx");
  ASSERT_EQ(TOutcome::Written, WriteXlsx(TGridSource(*grid), path));
  const TWorkbookReader book(path);

  // Titles, bold, in the grid's order.
  for (const auto& [ref, title] : std::map<std::string, std::string>{
           {"A1", "Solicitação"}, {"B1", "Status"}, {"C1", "Qtde."}, {"F1", "Observação"}}) {
    ASSERT_TRUE(book.Has(ref)) << ref;
    EXPECT_TRUE(book.IsText(ref)) << ref;
    EXPECT_EQ(title, book.Cell(ref).Value);
    EXPECT_TRUE(book.Cell(ref).Bold) << ref;
  }
  // A code keeps its zeros: it is text, not a number.
  EXPECT_TRUE(book.IsText("A2"));
  EXPECT_EQ("0001", book.Cell("A2").Value);
  // The status as the grid shows it, not its code.
  EXPECT_TRUE(book.IsText("B2"));
  EXPECT_EQ("Aguardando Aprovação", book.Cell("B2").Value);
  EXPECT_EQ("Baixa Total", book.Cell("B3").Value);
  // Quantities: numbers under the field's format.
  EXPECT_EQ("n", book.Cell("C2").Type);
  EXPECT_DOUBLE_EQ(1234.5, std::stod(book.Cell("C2").Value));
  EXPECT_EQ("###,##0.000", book.Cell("C2").Format);
  EXPECT_DOUBLE_EQ(-7, std::stod(book.Cell("C4").Value));
  // Dates: day numbers (the same count as the spreadsheet's) under a date format; a time of
  // day gets the time too.
  EXPECT_EQ("n", book.Cell("D3").Type);
  EXPECT_DOUBLE_EQ(Day(2024, 3, 1), std::stod(book.Cell("D3").Value));
  EXPECT_EQ(45352, std::stoi(book.Cell("D3").Value)) << "01/03/2024 in a spreadsheet";
  EXPECT_EQ("dd/mm/yyyy", book.Cell("D3").Format);
  EXPECT_NEAR(Day(2024, 3, 15, 10, 30), std::stod(book.Cell("D2").Value), 1e-9);
  EXPECT_EQ("dd/mm/yyyy hh:mm:ss", book.Cell("D2").Format);
  // An empty date is an empty cell.
  EXPECT_FALSE(book.Has("E3"));
  EXPECT_EQ("Entrega; \"urgente\"", book.Cell("F2").Value);
  EXPECT_EQ("=SOMA(A1:A2)", book.Cell("F3").Value) << "a text, never a formula";
  EXPECT_TRUE(book.IsText("F3"));

  // Each column as wide as its widest text (character widths), never narrower than the grid's.
  static const std::regex col(R"re(<col min="(\d+)" max="\d+" width="([\d.]+)")re");
  std::map<int, double> widths;
  for (auto it = std::sregex_iterator(book.Sheet().begin(), book.Sheet().end(), col);
       it != std::sregex_iterator(); ++it)
    widths[std::stoi((*it)[1])] = std::stod((*it)[2]);
  ASSERT_EQ(6u, widths.size());
  EXPECT_GT(widths[2], widths[1]) << "125 px is wider than 80 px";
  EXPECT_LT(widths[3], widths[1]);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ExportTest, Csv_ReadBack_BrazilianConvention) {
  const std::string path = Path("itens.csv");
  ASSERT_EQ(TOutcome::Written, WriteCsv(TGridSource(*grid), path));
  const std::string text = ReadFile(path);
  ASSERT_EQ(0u, text.rfind("\xEF\xBB\xBF", 0)) << "UTF-8 with its BOM";
  std::vector<std::string> lines;
  std::stringstream stream(text.substr(3));
  for (std::string line; std::getline(stream, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ('\r', line.back()) << "lines end in CR LF";
    line.pop_back();
    lines.push_back(line);
  }
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("Solicitação;Status;Qtde.;Data;Aprovação;Observação", lines[0]);
  // Codes go as ="0001" (a spreadsheet keeps that as the text 0001); numbers and dates as
  // a Brazilian spreadsheet reads them.
  EXPECT_EQ(
      "\"=\"\"0001\"\"\";Aguardando Aprovação;1234,500;15/03/2024 10:30:00;16/03/2024;"
      "\"Entrega; \"\"urgente\"\"\"",
      lines[1]);
  EXPECT_EQ("\"=\"\"2024000123\"\"\";Baixa Total;0,250;01/03/2024;;'=SOMA(A1:A2)", lines[2]);
  EXPECT_EQ("\"=\"\"0003\"\"\";Aguardando Aprovação;-7,000;02/04/2024;03/04/2024;texto\tcom\ttabs",
            lines[3]);
}

// The screens' grids are narrow (a date in 60 pixels of a small face): the sheet's columns are
// as wide as a spreadsheet needs to draw each title and value, so no date shows "###" and no
// title runs into the next.
TEST_F(ExportTest, Xlsx_NarrowGridColumns_WideEnoughForTitlesAndValues) {
  grid->Columns = {{"DTHRLANCSOL", "Dt. Inclusão", 60},
                   {"DTAPROV", "Dt. Concl. Cot.", 60},
                   {"NMOBS", "Lançamento", 30},
                   {"NRSOLICMP", "Nº Solicitação", 40},
                   {"QTSOLIPROD", "Qtde.", 20}};
  Load({{"0000000021", "A", 1234567.891, Day(2024, 3, 15, 14, 7), Day(2024, 3, 16), "x"}});
  const std::string path = Path("estreitas.xlsx");
  ASSERT_EQ(TOutcome::Written, WriteXlsx(TGridSource(*grid), path));
  const TWorkbookReader book(path);
  static const std::regex col(R"re(<col min="(\d+)" max="\d+" width="([\d.]+)")re");
  std::map<int, double> widths;
  for (auto it = std::sregex_iterator(book.Sheet().begin(), book.Sheet().end(), col);
       it != std::sregex_iterator(); ++it)
    widths[std::stoi((*it)[1])] = std::stod((*it)[2]);
  ASSERT_EQ(5u, widths.size());
  // "15/03/2024 14:07:00": 14 digits and five separators, about 17 digits wide in the
  // spreadsheet's face; a margin beyond.
  EXPECT_GE(widths[1], 18.0);
  // "16/03/2024" is narrower than its title with the filter's button: the title decides.
  EXPECT_GE(widths[2], 14.0);
  EXPECT_LT(widths[2], widths[1]);
  // Titles wider than their values: "Lançamento" over an "x", "Nº Solicitação" over a code.
  EXPECT_GE(widths[3], 11.0);
  EXPECT_GE(widths[4], 14.0);
  // "1.234.567,891" under "###,##0.000".
  EXPECT_GE(widths[5], 13.0);
}

TEST_F(ExportTest, ClipboardText_TitlesThenRows_TabsInsideTextsBecomeBlanks) {
  EXPECT_EQ(
      "Solicitação\tStatus\tQtde.\tData\tAprovação\tObservação\n"
      "0003\tAguardando Aprovação\t-7,000\t02/04/2024\t03/04/2024\ttexto com tabs\n",
      TabSeparated(TGridSource(*grid, {2}), true));
  EXPECT_EQ("2024000123\tBaixa Total\t0,250\t01/03/2024\t\t=SOMA(A1:A2)\n",
            TabSeparated(TGridSource(*grid, {1}), false));
}

TEST_F(ExportTest, Exporting_NeitherMovesTheCursorNorRaisesTheScreensEvents) {
  data->MoveTo(1);
  int scrolls = 0;
  data->AfterScroll = [&](fw::TDataSet*) { ++scrolls; };
  WriteXlsx(TGridSource(*grid), Path("a.xlsx"));
  WriteCsv(TGridSource(*grid), Path("a.csv"));
  TabSeparated(TGridSource(*grid), true);
  EXPECT_EQ(0, scrolls);
  EXPECT_EQ(2, data->RecNo());
}

TEST_F(ExportTest, UnwritablePath_ClearMessageAndNothingLeftBehind) {
  const std::string missing = Path("nao-existe/itens.xlsx");
  try {
    WriteXlsx(TGridSource(*grid), missing);
    FAIL() << "written to a folder that does not exist";
  } catch (const EExportError& error) {
    EXPECT_EQ("Não foi possível gravar o arquivo " + missing + ": a pasta não existe.",
              std::string(error.what()));
  }
  std::ofstream(Path("arquivo.txt")) << "x";
  EXPECT_THROW(WriteCsv(TGridSource(*grid), Path("arquivo.txt/itens.csv")), EExportError);
  fs::create_directory(Path("pasta.csv"));
  try {
    WriteCsv(TGridSource(*grid), Path("pasta.csv"));
    FAIL() << "written over a folder";
  } catch (const EExportError& error) {
    EXPECT_NE(std::string::npos, std::string(error.what()).find("o nome é de uma pasta"));
  }
  try {
    Export(TGridSource(*grid), Path("itens.ods"));
    FAIL() << "an unknown extension";
  } catch (const EExportError& error) {
    EXPECT_NE(std::string::npos, std::string(error.what()).find("use a extensão .xlsx ou .csv"));
  }
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_FALSE(fs::exists(Path("itens.ods")));
}

TEST_F(ExportTest, Cancelled_LeavesNoFileAndTheFormerOneAsItWas) {
  std::vector<TRowValues> rows;
  for (int i = 0; i < 2000; ++i)
    rows.push_back({std::to_string(i), "A", i * 1.5, Day(2024, 1, 1) + i, std::nullopt, "x"});
  Load(rows);
  std::ofstream(Path("anterior.xlsx")) << "anterior";
  for (const std::string name : {"novo.xlsx", "novo.csv", "anterior.xlsx"}) {
    SCOPED_TRACE(name);
    std::vector<int> seen;
    const TOutcome outcome = Export(TGridSource(*grid), Path(name), [&](int done, int total) {
      EXPECT_EQ(2000, total);
      seen.push_back(done);
      return done < 1000;
    });
    EXPECT_EQ(TOutcome::Cancelled, outcome);
    EXPECT_EQ((std::vector<int>{256, 512, 768, 1024}), seen);
    EXPECT_TRUE(Leftovers().empty());
  }
  EXPECT_FALSE(fs::exists(Path("novo.xlsx")));
  EXPECT_FALSE(fs::exists(Path("novo.csv")));
  EXPECT_EQ("anterior", ReadFile(Path("anterior.xlsx")));
}

TEST_F(ExportTest, ManyRows_EveryRowWritten_ProgressToTheEnd) {
  std::vector<TRowValues> rows;
  for (int i = 0; i < 30000; ++i)
    rows.push_back({std::to_string(i), i % 2 ? "A" : "2", i * 0.5, Day(2024, 1, 1) + i % 300,
                    std::nullopt, "observação " + std::to_string(i)});
  Load(rows);
  int last = 0;
  ASSERT_EQ(TOutcome::Written, WriteXlsx(TGridSource(*grid), Path("grande.xlsx"),
                                         [&](int done, int) { return (last = done) > 0; }));
  EXPECT_EQ(30000, last);
  const TWorkbookReader book(Path("grande.xlsx"));
  ASSERT_TRUE(book.Has("A30001"));
  EXPECT_EQ("29999", book.Cell("A30001").Value);
  EXPECT_DOUBLE_EQ(29999 * 0.5, std::stod(book.Cell("C30001").Value));
  EXPECT_FALSE(book.Has("A30002"));
}

TEST(ExportFormats, ByExtensionIgnoringCase) {
  EXPECT_EQ(TFormat::Xlsx, FormatOfPath("/tmp/a.XLSX"));
  EXPECT_EQ(TFormat::Csv, FormatOfPath("itens.csv"));
  EXPECT_FALSE(FormatOfPath("itens.xls"));
  EXPECT_FALSE(FormatOfPath("csv"));
}

TEST(ExportFormats, CsvTexts) {
  EXPECT_EQ("Matriz", CsvText("Matriz"));
  EXPECT_EQ("\"a;b\"", CsvText("a;b"));
  EXPECT_EQ("\" lado\"", CsvText(" lado"));
  EXPECT_EQ("\"linha\nquebrada\"", CsvText("linha\nquebrada"));
  EXPECT_EQ("'+55 11", CsvText("+55 11"));
  EXPECT_EQ("'@soma", CsvText("@soma"));
  EXPECT_EQ("", CsvText(""));
}

// What a spreadsheet would read as a number or a date stays the text it is; anything with a
// letter in it is a text for the spreadsheet already.
TEST(ExportFormats, CsvCodeTexts) {
  EXPECT_EQ("\"=\"\"0000000021\"\"\"", CsvCodeText("0000000021"));
  EXPECT_EQ("\"=\"\"01.002.003\"\"\"", CsvCodeText("01.002.003"));
  EXPECT_EQ("\"=\"\"12/03\"\"\"", CsvCodeText("12/03"));
  EXPECT_EQ("\"=\"\"+55 11 5555-0000\"\"\"", CsvCodeText("+55 11 5555-0000"));
  EXPECT_EQ("Filial 0001", CsvCodeText("Filial 0001"));
  EXPECT_EQ("'-x", CsvCodeText("-x"));
  EXPECT_EQ("\" - \"", CsvCodeText(" - "));
  EXPECT_EQ("", CsvCodeText(""));
}

}  // namespace
}  // namespace gridexport
