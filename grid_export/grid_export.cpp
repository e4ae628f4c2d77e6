#include "grid_export/grid_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "framework/data/format.h"
#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"
#include "protocol/datetime.h"
#include "protocol/text.h"

namespace gridexport {

namespace {

constexpr int kProgressEvery = 256;
// The longest text a spreadsheet cell holds.
constexpr size_t kMaxCellCharacters = 32767;

std::string FileErrorText(int error) {
  switch (error) {
    case ENOENT:
      return "a pasta não existe";
    case EACCES:
    case EPERM:
      return "permissão negada";
    case EROFS:
      return "o disco é somente para leitura";
    case ENOSPC:
      return "não há espaço no disco";
#ifdef EDQUOT
    case EDQUOT:
      return "a cota de disco acabou";
#endif
    case EISDIR:
      return "o nome é de uma pasta";
    case ENOTDIR:
      return "o caminho passa por algo que não é uma pasta";
    case ENAMETOOLONG:
      return "o nome é longo demais";
    case EIO:
      return "erro de leitura ou gravação no disco";
    default:
      return fw::SystemErrorText(error);
  }
}

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw EExportError("Não foi possível gravar o arquivo " + path + ": " + reason + ".");
}

// A temporary file beside the destination (same folder, so the rename cannot cross disks),
// removed unless committed.
class TTempBeside {
 public:
  explicit TTempBeside(const std::string& path) : path_(path) {
    std::error_code error;
    const std::filesystem::path target(path);
    if (target.filename().empty()) Fail(path, "falta o nome do arquivo");
    if (std::filesystem::is_directory(target, error)) Fail(path, FileErrorText(EISDIR));
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    // Appended in steps: GCC 12 at -O3 sees a false overlap in "." + std::string.
    std::string name = ".";
    name += target.filename().string();
    name += ".XXXXXX";
    std::string pattern = (folder / name).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) Fail(path, FileErrorText(errno));
    temp_ = pattern;
    // The file's permissions as a new file's would be (mkstemp makes it private), or the
    // replaced file's.
    struct stat existing {};
    mode_t mode = 0;
    if (stat(path.c_str(), &existing) == 0) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    fd_ = fd;
  }
  ~TTempBeside() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temp_.c_str());
  }
  TTempBeside(const TTempBeside&) = delete;
  TTempBeside& operator=(const TTempBeside&) = delete;

  const std::string& Path() const { return temp_; }
  // Hands the descriptor over (to a FILE*); the file stays to be committed or removed.
  int TakeDescriptor() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void CloseDescriptor() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void Commit() {
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) Fail(path_, FileErrorText(errno));
    committed_ = true;
  }

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
};

bool Report(const TProgress& progress, int done, int total) {
  return !progress || progress(done, total);
}

// At most `limit` bytes, cut on a character boundary.
std::string Cut(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return text.substr(0, fw::Utf8Floor(text, limit));
}

bool HasTime(double days) {
  const fw::TDateParts parts = fw::DecodeDateTime(days);
  return parts.Hour != 0 || parts.Minute != 0 || parts.Second != 0;
}

// The display format without its thousands separators: CSV numbers are read back by a
// spreadsheet, which takes "1234,500" as a number in any Brazilian setting.
std::string UngroupedFormat(const std::string& format) {
  std::string plain;
  for (const char c : format)
    if (c != ',') plain.push_back(c);
  return plain;
}

// Width of one character in the sheet's default face, in digit widths: a table of the classes
// that differ (Calibri's advances; a face of the same metrics draws alike), a little on the wide
// side, since a column a hair too wide costs nothing and one a hair too narrow shows "###".
double CharacterWidth(char32_t c) {
  if (c >= '0' && c <= '9') return 1.0;
  switch (c) {
    case ' ':
    case '.':
    case ',':
    case ':':
    case ';':
    case '\'':
    case '|':
    case '!':
    case 'i':
    case 'j':
    case 'l':
    case 'I':
      return 0.55;
    case 'f':
    case 'r':
    case 't':
    case '(':
    case ')':
    case '[':
    case ']':
    case '-':
    case '/':
    case 'J':
      return 0.8;
    case 'm':
    case 'w':
    case 'M':
    case 'W':
    case '@':
    case '%':
      return 1.75;
    default:
      break;
  }
  if (c >= 'A' && c <= 'Z') return 1.3;
  if (c < 0x80) return 1.0;
  // Accented letters, mostly lower case ("ç", "ã"), and the odd upper-case one.
  return 1.15;
}

std::string SheetNameOf(std::string name) {
  // Excel's rules: at most 31 characters, none of []:*?/\, not empty.
  for (char& c : name)
    if (c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\') c = ' ';
  name.resize(fw::Utf8PrefixLength(name, 31));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\'')) name.pop_back();
  while (!name.empty() && (name.front() == ' ' || name.front() == '\'')) name.erase(name.begin());
  return name.empty() ? "Dados" : name;
}

// A text a spreadsheet reading CSV would turn into a number or a date: digits with at most
// blanks and the characters numbers and dates are written with.
bool LooksNumeric(const std::string& text) {
  bool digit = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (std::string_view(" .,/:-+%").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return digit;
}

}  // namespace

double SheetTextWidth(const std::string& text, bool bold) {
  double width = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t c = lead;
    const size_t length = fw::Utf8LeadLength(lead);
    if (length > 1) c = 0x80;  // which one matters not: every non-ASCII character weighs alike
    width += CharacterWidth(c);
    i += length;
  }
  return bold ? width * 1.1 : width;
}

double SheetColumnWidth(double title, double widest) {
  // The title shares its cell with the filter's button (about two digits wide); every cell
  // keeps a margin of about one digit.
  constexpr double kFilterButton = 2.5, kMargin = 1.5, kMaxWidth = 255;
  return std::min(std::max(title + kFilterButton, widest) + kMargin, kMaxWidth);
}

// ---- the grid as a source ----

TGridSource::TGridSource(const fw::TDBGrid& grid, std::vector<int> rows, std::string sheetName)
    : grid_(grid),
      rows_(std::move(rows)),
      allRows_(rows_.empty()),
      sheetName_(std::move(sheetName)) {
  for (int column = 0; column < grid_.ColumnCount(); ++column) {
    TExportColumn def;
    def.Title = grid_.ColumnTitle(column);
    def.WidthPixels = grid_.ColumnWidth(column);
    const fw::TField* field = grid_.ColumnField(column);
    def.StringField = field && field->DataType() == fw::TFieldType::ftString;
    if (field && !field->OnGetText) {
      if (field->DataType() == fw::TFieldType::ftFloat) {
        def.Kind = TExportColumn::TKind::Number;
        def.NumberFormat = field->DisplayFormat;
      } else if (field->DataType() == fw::TFieldType::ftDateTime) {
        def.Kind = TExportColumn::TKind::Date;
      }
    }
    columns_.push_back(def);
  }
}

void TGridSource::SetWidth(int column, int pixels) {
  if (column >= 0 && column < static_cast<int>(columns_.size()))
    columns_[static_cast<size_t>(column)].WidthPixels = pixels;
}

int TGridSource::RowCount() const {
  return allRows_ ? grid_.RowCount() : static_cast<int>(rows_.size());
}

void TGridSource::Row(int index, std::vector<TExportCell>& cells) const {
  cells.assign(columns_.size(), TExportCell());
  const int row = allRows_ ? index : rows_[static_cast<size_t>(index)];
  fw::TDataSet* dataSet = grid_.DataSet();
  if (!dataSet || row < 0 || row >= grid_.RowCount()) return;
  // Read where it stands, without moving the cursor (no after-scroll, no remote call).
  const fw::TDataSet::TRowScope scope(dataSet, static_cast<size_t>(row));
  for (size_t column = 0; column < columns_.size(); ++column) {
    const fw::TField* field = grid_.ColumnField(static_cast<int>(column));
    if (!field) continue;
    TExportCell& cell = cells[column];
    cell.Text = field->DisplayText();
    cell.Null = field->IsNull();
    if (columns_[column].Kind == TExportColumn::TKind::Number)
      cell.Value = field->AsFloat();
    else if (columns_[column].Kind == TExportColumn::TKind::Date)
      cell.Value = field->AsDateTime();
  }
}

std::string TGridSource::SheetName() const {
  if (!sheetName_.empty()) return sheetName_;
  const fw::TForm* form = grid_.Form();
  return form && !form->Caption().empty() ? form->Caption() : grid_.Name();
}

// ---- formats ----

std::optional<TFormat> FormatOfPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".xlsx") return TFormat::Xlsx;
  if (extension == ".csv") return TFormat::Csv;
  return std::nullopt;
}

std::string CsvText(const std::string& text) {
  std::string value = text;
  if (!value.empty() && (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@'))
    value.insert(value.begin(), '\'');
  const bool quote = value.find_first_of(";\"\r\n") != std::string::npos ||
                     (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!quote) return value;
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvCodeText(const std::string& text) {
  if (!LooksNumeric(text)) return CsvText(text);
  // ="0001" in a field of its own: the quotes inside are doubled by CSV's rule.
  return "\"=\"\"" + text + "\"\"\"";
}

std::string TabSeparated(const TExportSource& source, bool titles) {
  auto clean = [](std::string text) {
    for (char& c : text)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
  };
  std::string out;
  const auto& columns = source.Columns();
  if (titles) {
    for (size_t column = 0; column < columns.size(); ++column) {
      if (column) out += '\t';
      out += clean(columns[column].Title);
    }
    out += '\n';
  }
  std::vector<TExportCell> cells;
  for (int row = 0; row < source.RowCount(); ++row) {
    source.Row(row, cells);
    for (size_t column = 0; column < cells.size(); ++column) {
      if (column) out += '\t';
      out += clean(cells[column].Text);
    }
    out += '\n';
  }
  return out;
}

TOutcome WriteCsv(const TExportSource& source, const std::string& path, const TProgress& progress) {
  TTempBeside temp(path);
  FILE* file = fdopen(temp.TakeDescriptor(), "wb");
  if (!file) Fail(path, FileErrorText(errno));
  struct TCloser {
    FILE*& File;
    ~TCloser() {
      if (File) std::fclose(File);
    }
  } closer{file};

  const auto& columns = source.Columns();
  std::string line = "\xEF\xBB\xBF";  // the BOM: a spreadsheet then reads UTF-8
  for (size_t column = 0; column < columns.size(); ++column) {
    if (column) line += ';';
    line += CsvText(columns[column].Title);
  }
  line += "\r\n";
  std::string block = line;
  std::vector<std::string> formats;
  for (const auto& column : columns) formats.push_back(UngroupedFormat(column.NumberFormat));

  const int total = source.RowCount();
  std::vector<TExportCell> cells;
  for (int row = 0; row < total; ++row) {
    source.Row(row, cells);
    line.clear();
    for (size_t column = 0; column < columns.size(); ++column) {
      if (column) line += ';';
      const TExportCell& cell = cells[column];
      switch (columns[column].Kind) {
        case TExportColumn::TKind::Number:
          if (!cell.Null) line += fw::FormatFloat(formats[column], cell.Value);
          break;
        case TExportColumn::TKind::Date:
          if (!cell.Null) line += fw::DateTimeToText(cell.Value);
          break;
        case TExportColumn::TKind::Text:
          line += columns[column].StringField ? CsvCodeText(cell.Text) : CsvText(cell.Text);
          break;
      }
    }
    block += line;
    block += "\r\n";
    if ((row + 1) % kProgressEvery == 0 || row + 1 == total) {
      if (std::fwrite(block.data(), 1, block.size(), file) != block.size())
        Fail(path, FileErrorText(errno));
      block.clear();
      if (!Report(progress, row + 1, total)) return TOutcome::Cancelled;
    }
  }
  if (!block.empty() && std::fwrite(block.data(), 1, block.size(), file) != block.size())
    Fail(path, FileErrorText(errno));
  // A full disk shows only when the last buffer goes out.
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) Fail(path, FileErrorText(errno));
  FILE* done = file;
  file = nullptr;
  if (std::fclose(done) != 0) Fail(path, FileErrorText(errno));
  if (total == 0 && !Report(progress, 0, 0)) return TOutcome::Cancelled;
  temp.Commit();
  return TOutcome::Written;
}

TOutcome WriteXlsx(const TExportSource& source, const std::string& path,
                   const TProgress& progress) {
  const int total = source.RowCount();
  if (total > kMaxSheetRows)
    Fail(path, "a grade tem " + std::to_string(total) +
                   " linhas, mais do que uma planilha comporta (" + std::to_string(kMaxSheetRows) +
                   "); use o formato CSV");
  TTempBeside temp(path);
  temp.CloseDescriptor();

  // Rows are written in order and freed as they go (constant memory), however many there are.
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.use_zip64 = LXW_TRUE;
  lxw_workbook* workbook = workbook_new_opt(temp.Path().c_str(), &options);
  if (!workbook) Fail(path, "não foi possível iniciar a planilha");
  struct TWorkbook {
    lxw_workbook*& Book;
    ~TWorkbook() {
      // A cancelled or failed export still frees the workbook; the temporary file goes with
      // TTempBeside.
      if (Book) workbook_close(Book);
    }
  } guard{workbook};

  lxw_worksheet* sheet = workbook_add_worksheet(workbook, SheetNameOf(source.SheetName()).c_str());
  if (!sheet) sheet = workbook_add_worksheet(workbook, "Dados");
  if (!sheet) Fail(path, "não foi possível criar a planilha");
  lxw_format* title = workbook_add_format(workbook);
  format_set_bold(title);
  format_set_bottom(title, LXW_BORDER_THIN);
  lxw_format* day = workbook_add_format(workbook);
  format_set_num_format(day, "dd/mm/yyyy");
  lxw_format* moment = workbook_add_format(workbook);
  format_set_num_format(moment, "dd/mm/yyyy hh:mm:ss");

  const auto& columns = source.Columns();
  std::vector<lxw_format*> numbers;
  for (size_t column = 0; column < columns.size(); ++column) {
    lxw_format* number = nullptr;
    if (columns[column].Kind == TExportColumn::TKind::Number &&
        !columns[column].NumberFormat.empty()) {
      number = workbook_add_format(workbook);
      format_set_num_format(number, columns[column].NumberFormat.c_str());
    }
    numbers.push_back(number);
  }
  // The widest text of each column as the sheet draws it; the widths are set once every row is
  // written (the sheet's column list is written ahead of its rows only when the file is closed).
  std::vector<double> widest(columns.size(), 0);
  const double dayWidth = SheetTextWidth("00/00/0000");
  const double momentWidth = SheetTextWidth("00/00/0000 00:00:00");
  for (size_t column = 0; column < columns.size(); ++column)
    worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(column),
                           Cut(columns[column].Title, kMaxCellCharacters).c_str(), title);
  worksheet_freeze_panes(sheet, 1, 0);
  if (!columns.empty())
    worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(total),
                         static_cast<lxw_col_t>(columns.size() - 1));

  std::vector<TExportCell> cells;
  for (int row = 0; row < total; ++row) {
    source.Row(row, cells);
    const auto line = static_cast<lxw_row_t>(row + 1);
    for (size_t column = 0; column < columns.size(); ++column) {
      const TExportCell& cell = cells[column];
      const auto index = static_cast<lxw_col_t>(column);
      lxw_error status = LXW_NO_ERROR;
      double width = 0;
      switch (columns[column].Kind) {
        case TExportColumn::TKind::Number:
          if (!cell.Null && std::isfinite(cell.Value)) {
            status = worksheet_write_number(sheet, line, index, cell.Value, numbers[column]);
            // Shown under the field's format, in any locale as many characters as here.
            width = SheetTextWidth(columns[column].NumberFormat.empty()
                                       ? fw::FormatFloat("", cell.Value)
                                       : fw::FormatFloat(columns[column].NumberFormat, cell.Value));
          }
          break;
        case TExportColumn::TKind::Date:
          // A spreadsheet's day numbers count from the same day as ours from 01/03/1900 on
          // (before that they count a 29/02/1900 that never was): earlier dates go as text.
          if (!cell.Null && cell.Value >= 61) {
            const bool hasTime = HasTime(cell.Value);
            status = worksheet_write_number(sheet, line, index, cell.Value, hasTime ? moment : day);
            width = hasTime ? momentWidth : dayWidth;
          } else if (!cell.Null) {
            status = worksheet_write_string(sheet, line, index, cell.Text.c_str(), nullptr);
            width = SheetTextWidth(cell.Text);
          }
          break;
        case TExportColumn::TKind::Text:
          if (!cell.Text.empty()) {
            const std::string text = Cut(cell.Text, kMaxCellCharacters);
            status = worksheet_write_string(sheet, line, index, text.c_str(), nullptr);
            // Past the widest a column can be, the rest of a long text needs no measuring.
            width = SheetTextWidth(text.size() > 1024 ? Cut(text, 1024) : text);
          }
          break;
      }
      widest[column] = std::max(widest[column], width);
      if (status != LXW_NO_ERROR) Fail(path, lxw_strerror(status));
    }
    if (((row + 1) % kProgressEvery == 0 || row + 1 == total) && !Report(progress, row + 1, total))
      return TOutcome::Cancelled;
  }
  if (total == 0 && !Report(progress, 0, 0)) return TOutcome::Cancelled;
  for (size_t column = 0; column < columns.size(); ++column) {
    // Never narrower than the grid shows it (a width the user dragged included): a grid's
    // pixels are about a sheet's, whose character width is 7 pixels plus 5 of margin.
    const double shown = std::max(columns[column].WidthPixels - 5, 1) / 7.0;
    const double width = std::max(
        SheetColumnWidth(SheetTextWidth(columns[column].Title, true), widest[column]), shown);
    const auto index = static_cast<lxw_col_t>(column);
    worksheet_set_column(sheet, index, index, width, nullptr);
  }
  lxw_workbook* closing = workbook;
  workbook = nullptr;
  const lxw_error closed = workbook_close(closing);
  if (closed != LXW_NO_ERROR)
    Fail(path, closed == LXW_ERROR_CREATING_XLSX_FILE || closed == LXW_ERROR_CREATING_TMPFILE
                   ? FileErrorText(errno ? errno : EIO)
                   : std::string("falha ao montar o arquivo .xlsx (") + lxw_strerror(closed) + ")");
  temp.Commit();
  return TOutcome::Written;
}

TOutcome Export(const TExportSource& source, const std::string& path, const TProgress& progress) {
  const std::optional<TFormat> format = FormatOfPath(path);
  if (!format) Fail(path, "use a extensão .xlsx ou .csv");
  return *format == TFormat::Xlsx ? WriteXlsx(source, path, progress)
                                  : WriteCsv(source, path, progress);
}

}  // namespace gridexport
