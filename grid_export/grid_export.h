// Exporting a grid as it shows: to a spreadsheet (.xlsx, libxlsxwriter), to CSV in the Brazilian
// convention, or as tab-separated text for the clipboard. Shared by the Qt host (its grids'
// context menu and Ctrl+C) and the screen driver (`export GRID FILE`), so both write the same
// bytes.
//
// What a cell becomes follows its column's field:
// - a float field without a display-text handler: a number (in .xlsx under the field's display
//   format, "###,##0.000" shows 1.234,500 in a Brazilian spreadsheet; in CSV "1234,500");
// - a date field without a handler: a date (shown dd/mm/yyyy, with hh:mm:ss when it has a time);
// - anything else: the text the grid shows (the status and approval texts, masked codes), as
//   text, so "0001" stays "0001". In CSV a string field's text that a spreadsheet would take for
//   a number or a date ("0001", "0000000021", "01.002.003", "1/2") goes as the formula ="0001",
//   which every spreadsheet reads as that text: a CSV has no cell types of its own.
// An empty (null) value is an empty cell.
//
// Column widths in .xlsx are worked out from what the cells show: each column is as wide as its
// title (bold, with the filter's button) and its widest value as a spreadsheet draws them in its
// default face (11-point Calibri, or a face of the same metrics), never narrower than the grid
// shows it. Rows are read without moving the data set's cursor, so
// exporting raises no event of the screens.
//
// Files are written beside their destination under a temporary name and renamed over it at the
// end: a failure or a cancel leaves nothing half-written (and an earlier file as it was).
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fw {
class TDBGrid;
}

namespace gridexport {

// A failure to write, with the message for the user in Portuguese.
class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TExportColumn {
  enum class TKind { Text, Number, Date };
  std::string Title;
  int WidthPixels = 64;
  TKind Kind = TKind::Text;
  std::string NumberFormat;  // Number: the field's display format; empty for the plain number
  // Text from a string field (codes, names): a value that looks like a number or a date stays
  // text in CSV. False for texts a display handler makes of numbers and dates.
  bool StringField = false;
};

struct TExportCell {
  std::string Text;  // as the grid shows it
  bool Null = true;  // no value
  double Value = 0;  // Number and Date columns (dates as days since 30/12/1899)
};

// What is exported: columns, and rows read one at a time.
class TExportSource {
 public:
  virtual ~TExportSource() = default;
  virtual const std::vector<TExportColumn>& Columns() const = 0;
  virtual int RowCount() const = 0;
  // Fills `cells` (one per column) with row `index` (0-based, of RowCount()).
  virtual void Row(int index, std::vector<TExportCell>& cells) const = 0;
  // The sheet's name in the workbook.
  virtual std::string SheetName() const { return "Dados"; }
};

// A grid's rows: all of them, or those listed (0-based, as the grid numbers them).
class TGridSource : public TExportSource {
 public:
  explicit TGridSource(const fw::TDBGrid& grid, std::vector<int> rows = {},
                       std::string sheetName = {});
  const std::vector<TExportColumn>& Columns() const override { return columns_; }
  // The width a view shows for a column (a width the user dragged), in pixels.
  void SetWidth(int column, int pixels);
  int RowCount() const override;
  void Row(int index, std::vector<TExportCell>& cells) const override;
  std::string SheetName() const override;

 private:
  const fw::TDBGrid& grid_;
  std::vector<int> rows_;
  bool allRows_;
  std::string sheetName_;
  std::vector<TExportColumn> columns_;
};

// Told every few hundred rows and at the end: rows done, rows in all. False cancels.
using TProgress = std::function<bool(int done, int total)>;

enum class TFormat { Xlsx, Csv };
enum class TOutcome { Written, Cancelled };

// By the file's extension, ignoring case: ".xlsx" or ".csv"; nullopt for any other.
std::optional<TFormat> FormatOfPath(const std::string& path);

// Each raises EExportError when the file cannot be written ("Não foi possível gravar o arquivo
// /x/y.xlsx: permissão negada.").
TOutcome WriteXlsx(const TExportSource& source, const std::string& path,
                   const TProgress& progress = {});
TOutcome WriteCsv(const TExportSource& source, const std::string& path,
                  const TProgress& progress = {});
// By the extension; raises EExportError for one that is neither .xlsx nor .csv.
TOutcome Export(const TExportSource& source, const std::string& path,
                const TProgress& progress = {});

// The rows as tab-separated shown texts, a line each, with the titles first when asked; tabs
// and line breaks inside a text become blanks. What Ctrl+C puts on the clipboard.
std::string TabSeparated(const TExportSource& source, bool titles);

// The CSV text of one value, quoted when it must be (";", quotes, line breaks, blanks at its
// ends) and, for a text that a spreadsheet would take for a formula (=, +, -, @ first), led by
// an apostrophe.
std::string CsvText(const std::string& text);
// The CSV of a string field's value: CsvText, except that a text a spreadsheet would read as a
// number or a date (only digits, blanks and . , / : - + %, with a digit) goes as ="0001", which
// it keeps as that text.
std::string CsvCodeText(const std::string& text);

// How wide a spreadsheet draws `text` in its default 11-point face, in character widths (the
// width of a digit, the unit of a column's width); `bold` for the title row.
double SheetTextWidth(const std::string& text, bool bold = false);
// The width of a column that shows every text of `widest` whole, a title of `title` with the
// filter's button beside it included, in character widths; at most the sheet's 255.
double SheetColumnWidth(double title, double widest);

// The most rows a worksheet holds below its title row.
inline constexpr int kMaxSheetRows = 1048575;

}  // namespace gridexport
