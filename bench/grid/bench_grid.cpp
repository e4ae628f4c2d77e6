// The host's items grid against Qt's own QTableView over a plain QAbstractTableModel, the same
// 100,000 rows, in the same run, on Qt's offscreen platform.
//
// The host's grid is the request screen's items grid (dbgItens) as the host shows it: the real
// package opened from the main window's menu, the filter typed, the cascade answered by a canned
// service with 100,000 items (the rows of bench_wire), the items tab in view. Every cell it paints
// is asked of the framework's grid (the field's display text: status names, dates, quantities in
// the grid's formats). The peer is a QTableView of the same size, columns and widths over a model
// that holds those same texts, ready, as QStrings: what a plain Qt grid would paint.
//
// Measured, alternately, several times each (medians):
// - first paint: the model reset with the 100,000 rows (the load), then the grid painted whole;
// - a scroll of 1,000 rows: one row down at a time, the grid's rows painted after each step.
//
// - a sort of the rows by a date and by a text: a click on the column's title (the data set's
//   own order by the Brazilian collation, the view reloaded and painted) against a
//   QSortFilterProxyModel over the same values (dates as QDateTime, names locale-aware, and
//   plainly compared) with its QTableView painted.
//
//   bench_grid [--repetitions 15] [--rows 100000] [--scroll 1000]
#include <QAbstractTableModel>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/common/options.h"
#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/ui/application.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"
#include "protocol/datetime.h"

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// The 20 fields of GetItens with production-like values (bench_wire's rows); later stages of an
// item leave some fields null.
fw::TDataPacket MakeItems(size_t rows) {
  // Requesters' names: a first name and two surnames (3,375 people), accents and case as they
  // come, so that a sort by name has real texts to order.
  static const char* const kFirst[] = {"Marcos",  "Bruna",  "Fábio", "Daniel", "João",
                                       "Ana",     "Ângela", "érica", "Otávio", "Luís",
                                       "Cláudia", "José",   "Íris",  "Úrsula", "Zé"};
  static const char* const kLast[] = {"Silva",     "Oliveira",  "Nascimento", "Castro",
                                      "Gonçalves", "Araújo",    "Conceição",  "Simões",
                                      "Álvares",   "Rodrigues", "Fernandes",  "Martins",
                                      "Cardoso",   "Brandão",   "Ávila"};
  static const char* const kDestinations[] = {"Consumo Interno", "Manutenção Predial", "Revenda",
                                              "Tecnologia da Informação"};
  static const char kStatuses[] = {'A', 'B', 'C', 'D', '7', '5', '4', '3', '2', '1'};
  const auto& fields = service::FindMethod("GetItens")->Fields;
  fw::TDataPacket packet(fields);
  auto& columns = packet.Columns();
  uint64_t state = 42;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
  };
  const double base = fw::EncodeDateTime({2024, 1, 1});
  for (size_t row = 0; row < rows; ++row) {
    const uint64_t r = next();
    const bool purchased = r % 10 < 7;
    const bool invoiced = r % 10 < 4;
    char text[32];
    for (size_t f = 0; f < columns.size(); ++f) {
      fw::TColumn& column = columns[f];
      const std::string& name = fields[f].Name;
      const bool needsPurchase = name == "NRCOMPRA" || name == "QTEFETENTRAF" ||
                                 name == "NRAUTOFORN" || name == "DTAUTOFORN" ||
                                 name == "DTPROGENTAF" || name == "DTCONCOLEPREC";
      const bool needsInvoice = name == "CDOPERAPRO" || name == "DTEMISSAO";
      if ((needsPurchase && !purchased) || (needsInvoice && !invoiced)) {
        column.AppendNull();
      } else if (column.Type() == fw::TFieldType::ftDateTime) {
        column.AppendNumber(base + static_cast<double>(next() % 365) + (next() % 86400) / 86400.0);
      } else if (column.Type() == fw::TFieldType::ftFloat) {
        column.AppendNumber(static_cast<double>(next() % 100000) / 8.0);
      } else if (name == "STATUS") {
        column.AppendString(std::string(1, kStatuses[r % 10]));
      } else if (name == "NMOPERADOR") {
        std::string person = kFirst[next() % 15];
        person += ' ';
        person += kLast[next() % 15];
        person += ' ';
        person += kLast[next() % 15];
        column.AppendString(person);
      } else if (name == "NMDESTSOLI") {
        column.AppendString(kDestinations[next() % 4]);
      } else if (name == "CDOPERLANC" || name == "CDOPERAPRO") {
        column.AppendString(std::string("MSILVA") + std::to_string(next() % 100));
      } else {
        const int width = fields[f].Size;
        std::snprintf(text, sizeof(text), "%0*llu", width,
                      static_cast<unsigned long long>(next() % 10000000000ull) %
                          (width >= 10 ? 10000000000ull : 10000ull));
        column.AppendString(std::string(text).substr(0, static_cast<size_t>(width)));
      }
    }
  }
  return packet;
}

// Qt's own way: every cell's text ready in the model, and its alignment per column.
class TPlainModel : public QAbstractTableModel {
 public:
  TPlainModel(const QAbstractItemModel& source) {
    rows_ = source.rowCount();
    columns_ = source.columnCount();
    cells_.reserve(static_cast<size_t>(rows_) * static_cast<size_t>(columns_));
    for (int row = 0; row < rows_; ++row)
      for (int column = 0; column < columns_; ++column)
        cells_.push_back(source.index(row, column).data().toString());
    for (int column = 0; column < columns_; ++column) {
      titles_.push_back(source.headerData(column, Qt::Horizontal).toString());
      alignments_.push_back(source.index(0, column).data(Qt::TextAlignmentRole));
    }
  }
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : rows_;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : columns_;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole)
      return cells_[static_cast<size_t>(index.row()) * static_cast<size_t>(columns_) +
                    static_cast<size_t>(index.column())];
    if (role == Qt::TextAlignmentRole) return alignments_[static_cast<size_t>(index.column())];
    return {};
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) return {};
    return orientation == Qt::Horizontal ? QVariant(titles_[static_cast<size_t>(section)])
                                         : QVariant(QString());
  }

 private:
  int rows_ = 0, columns_ = 0;
  std::vector<QString> cells_, titles_;
  std::vector<QVariant> alignments_;
};

// The peer of a sort: the rows' values as Qt's own models hold them, a text and a date
// (QDateTime, null as an invalid one) per row, under a QSortFilterProxyModel and a view.
class TSortPeerModel : public QAbstractTableModel {
 public:
  TSortPeerModel(fw::TDataSet& rows, const fw::TField& text, const fw::TField& date) {
    const int count = rows.RecordCount();
    texts_.reserve(static_cast<size_t>(count));
    dates_.reserve(static_cast<size_t>(count));
    for (int row = 0; row < count; ++row) {
      fw::TDataSet::TRowScope scope(&rows, static_cast<size_t>(row));
      texts_.push_back(QString::fromStdString(text.AsString()));
      if (date.IsNull()) {
        dates_.emplace_back();
      } else {
        const fw::TDateParts parts = fw::DecodeDateTime(date.AsDateTime());
        dates_.emplace_back(QDate(parts.Year, parts.Month, parts.Day),
                            QTime(parts.Hour, parts.Minute, parts.Second));
      }
    }
  }
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(texts_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : 2;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    const auto row = static_cast<size_t>(index.row());
    if (index.column() == 0) return texts_[row];
    return dates_[row];
  }

 private:
  std::vector<QString> texts_;
  std::vector<QDateTime> dates_;
};

// One of the two grids, measured the same way.
struct TGrid {
  const char* Name;
  QTableView* View;
  std::function<void()> Reset;  // the model takes the rows again
  std::vector<double> FirstPaint, Scroll;
};

void FirstPaint(TGrid& grid) {
  grid.View->verticalScrollBar()->setValue(0);
  const auto start = TClock::now();
  grid.Reset();
  grid.View->repaint();
  grid.FirstPaint.push_back(Since(start));
}

void Scroll(TGrid& grid, int rows) {
  QScrollBar* bar = grid.View->verticalScrollBar();
  bar->setValue(0);
  grid.View->repaint();
  const auto start = TClock::now();
  for (int step = 1; step <= rows; ++step) {
    bar->setValue(step);
    grid.View->viewport()->repaint();
  }
  grid.Scroll.push_back(Since(start));
  if (bar->value() != rows)
    std::fprintf(stderr, "%s: scrolled to %d only\n", grid.Name, bar->value());
}

template <typename T>
T* WidgetOf(hostapp::MainWindow& window, fw::TForm* form, const char* name) {
  fw::TComponent* control = form ? form->FindComponent(name) : nullptr;
  return control ? dynamic_cast<T*>(window.Binding().WidgetOf(control)) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = 15, rows = 100000, scroll = 1000;
  CLI::App app(
      "The host's items grid against Qt's own QTableView over a plain model, on Qt's\n"
      "offscreen platform; Qt's own options pass through.",
      "bench_grid");
  app.add_option("--repetitions", repetitions, "measures of each kind (default 15)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--rows", rows, "rows of the grids (default 100000)")
      ->option_text("N")
      ->check(CLI::Range(100, 100000000));
  app.add_option("--scroll", scroll, "rows scrolled one at a time (default 1000)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.allow_extras();
  bench::ParseOptions(app, argc, argv);
  scroll = std::min(scroll, rows / 2);
  // What is not ours goes to Qt (-platform and the like); what Qt does not take either is a
  // mistake.
  std::vector<std::string> qtArguments = {argv[0]};
  for (const auto& argument : app.remaining()) qtArguments.push_back(argument);
  std::vector<char*> qtPointers;
  for (auto& argument : qtArguments) qtPointers.push_back(argument.data());
  qtPointers.push_back(nullptr);
  int qtCount = static_cast<int>(qtArguments.size());
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(qtCount, qtPointers.data());
  if (qtCount > 1) bench::UsageError(app, std::string("unknown option ") + qtPointers[1]);

  service::TCannedAppServer canned;
  canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"}, {{"0001", "Matriz"}});
  canned.Serve("GetItens", MakeItems(static_cast<size_t>(rows)));
  canned.ServeText("GetDestSolGere",
                   {"IDAPROVPRGER", "NMOPERADOR", "CDDESTSOLI", "DTAPRSOLPRODGER"},
                   {{"S", "Carlos Souza", "001", "04/03/2024 10:15:00"}});
  fw::HostConfig().ServiceFactory = [&canned](const std::string&, int, const std::string&) {
    return canned.Connect();
  };

  {
    hostapp::ModuleLoader loader(PKG_CMP09500_DIR);
    hostapp::MainWindow window(loader);
    window.resize(1280, 800);
    window.show();
    QApplication::processEvents();

    // "Compras > Acompanhamento da Solicitação", the request dates typed, the filter left.
    for (QAction* menu : window.menuBar()->actions())
      if (menu->menu())
        for (QAction* action : menu->menu()->actions())
          if (action->text() == QStringLiteral("&Acompanhamento da Solicitação")) action->trigger();
    QApplication::processEvents();
    fw::TForm* request = fw::Application->FindForm("frmAcompSoli");
    auto* branches = WidgetOf<QTableView>(window, request, "dbgPadrao");
    auto* items = WidgetOf<QTableView>(window, request, "dbgItens");
    auto* pages = request ? window.Binding().TabsOf(dynamic_cast<fw::TPageControl*>(
                                request->FindComponent("pgcPadrao")))
                          : nullptr;
    if (!branches || !items || !pages) {
      std::fprintf(stderr, "bench_grid: the request screen did not open\n");
      return 1;
    }
    for (const char* name : {"depSolicitacaoIni", "depSolicitacaoFin"}) {
      auto* edit =
          qobject_cast<QLineEdit*>(window.Binding().FocusWidgetOf(request->FindComponent(name)));
      QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(3, edit->height() / 2));
      QApplication::processEvents();
      QTest::keyClicks(edit, QString::fromLatin1(name[14] == 'I' ? "01012024" : "31122024"));
    }
    QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
    QApplication::processEvents();
    QTabBar* bar = pages->tabBar();
    for (int tab = 0; tab < bar->count(); ++tab)
      if (bar->tabText(tab).remove(QLatin1Char('&')) == QStringLiteral("Itens"))
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
    QApplication::processEvents();
    if (items->model()->rowCount() != rows || !items->isVisible()) {
      std::fprintf(stderr, "bench_grid: the items grid shows %d rows, not %d\n",
                   items->model()->rowCount(), rows);
      return 1;
    }
    auto* hostModel = static_cast<hostapp::GridModel*>(items->model());

    // The peer: the same texts, columns, widths, row height, font and size.
    TPlainModel plainModel(*hostModel);
    QTableView plain;
    plain.setModel(&plainModel);
    plain.setFont(items->font());
    plain.setWordWrap(false);
    plain.setEditTriggers(QAbstractItemView::NoEditTriggers);
    plain.setSelectionMode(QAbstractItemView::SingleSelection);
    plain.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    plain.verticalHeader()->setDefaultSectionSize(items->verticalHeader()->defaultSectionSize());
    plain.verticalHeader()->setFixedWidth(items->verticalHeader()->width());
    for (int column = 0; column < plainModel.columnCount(); ++column)
      plain.setColumnWidth(column, items->columnWidth(column));
    plain.resize(items->size());
    plain.show();
    QApplication::processEvents();

    TGrid host{"host grid", items, [hostModel] { hostModel->Reload(); }, {}, {}};
    TGrid peer{"QTableView", &plain, [&plainModel] { plainModel.Reset(); }, {}, {}};
    for (int repetition = 0; repetition < repetitions; ++repetition) {
      TGrid& first = repetition % 2 == 0 ? host : peer;
      TGrid& second = repetition % 2 == 0 ? peer : host;
      for (TGrid* grid : {&first, &second}) FirstPaint(*grid);
      for (TGrid* grid : {&first, &second}) Scroll(*grid, scroll);
    }

    // Sorting: the host's grid by a click on a title (the data set's own order, the view
    // reloaded and painted), against a QSortFilterProxyModel sorting the same values and a
    // QTableView over it painted; each from the service's order, alternately.
    auto* itemsGrid = dynamic_cast<fw::TDBGrid*>(request->FindComponent("dbgItens"));
    fw::TDataSet* itemsData = itemsGrid ? itemsGrid->DataSet() : nullptr;
    const fw::TField* nameField = itemsData ? itemsData->FindField("NMOPERADOR") : nullptr;
    const fw::TField* dateField = itemsData ? itemsData->FindField("DTPROGENTR") : nullptr;
    if (!nameField || !dateField) {
      std::fprintf(stderr, "bench_grid: the items grid has no NMOPERADOR or DTPROGENTR\n");
      return 1;
    }
    TSortPeerModel peerRows(*itemsData, *nameField, *dateField);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&peerRows);
    QTableView sortedPeer;
    sortedPeer.setModel(&proxy);
    sortedPeer.setFont(items->font());
    sortedPeer.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sortedPeer.verticalHeader()->setDefaultSectionSize(
        items->verticalHeader()->defaultSectionSize());
    sortedPeer.resize(items->size());
    sortedPeer.show();
    QApplication::processEvents();
    struct TSortCase {
      const char* Name;
      const char* Field;
      int PeerColumn;
      bool LocaleAware;
      std::vector<double> Host, Peer;
    };
    std::vector<TSortCase> sorts = {{"by a date (DTPROGENTR)", "DTPROGENTR", 1, false, {}, {}},
                                    {"by a text (NMOPERADOR)", "NMOPERADOR", 0, true, {}, {}},
                                    {"  peer not locale-aware", "NMOPERADOR", 0, false, {}, {}}};
    for (int repetition = 0; repetition < repetitions; ++repetition) {
      for (TSortCase& sort : sorts) {
        const int column = itemsGrid->ColumnIndex(sort.Field);
        itemsData->SetIndexFields({});
        QApplication::processEvents();
        auto start = TClock::now();
        fw::Application->UserTitleClick(itemsGrid, column);
        items->viewport()->repaint();
        const double host = Since(start);
        if (itemsGrid->SortColumn() != column) {
          std::fprintf(stderr, "bench_grid: the title click did not sort by %s\n", sort.Field);
          return 1;
        }
        proxy.sort(-1);
        proxy.setSortLocaleAware(sort.LocaleAware);
        QApplication::processEvents();
        start = TClock::now();
        proxy.sort(sort.PeerColumn, Qt::AscendingOrder);
        sortedPeer.viewport()->repaint();
        const double peer = Since(start);
        // The host's text case is measured once per repetition, against both peers.
        if (sort.Name[0] != ' ') sort.Host.push_back(host);
        sort.Peer.push_back(peer);
      }
    }
    sorts[2].Host = sorts[1].Host;
    // Both sorted the dates alike: the earliest and the latest agree.
    itemsData->SetIndexFields({{"DTPROGENTR"}});
    proxy.sort(1, Qt::AscendingOrder);
    const QString hostFirstDate =
        items->model()->index(0, itemsGrid->ColumnIndex("DTPROGENTR")).data().toString();
    const QString hostLastDate =
        items->model()->index(rows - 1, itemsGrid->ColumnIndex("DTPROGENTR")).data().toString();
    const QDateTime peerLast = proxy.index(rows - 1, 1).data().toDateTime();
    if (hostLastDate.left(10) != peerLast.toString(QStringLiteral("dd/MM/yyyy")))
      std::fprintf(stderr, "bench_grid: the sorts disagree: last date %s against %s\n",
                   qPrintable(hostLastDate), qPrintable(peerLast.toString()));
    itemsData->SetIndexFields({});

    const int visible = items->rowAt(items->viewport()->height() - 1) - items->rowAt(0) + 1;
    std::printf(
        "bench_grid: %d rows, %d columns, %dx%d grid (%d rows in view), %d repetitions; "
        "medians in ms, offscreen\n\n",
        rows, hostModel->columnCount(), items->width(), items->height(), visible, repetitions);
    std::printf("%-26s %12s %12s %8s\n", "", "host grid", "QTableView", "ratio");
    const double hostFirst = Median(host.FirstPaint), peerFirst = Median(peer.FirstPaint);
    const double hostScroll = Median(host.Scroll), peerScroll = Median(peer.Scroll);
    std::printf("%-26s %12.2f %12.2f %8.2f\n", "first paint", hostFirst, peerFirst,
                hostFirst / peerFirst);
    const std::string scrolled = "scroll of " + std::to_string(scroll) + " rows";
    std::printf("%-26s %12.2f %12.2f %8.2f\n", scrolled.c_str(), hostScroll, peerScroll,
                hostScroll / peerScroll);
    std::printf("%-26s %12.3f %12.3f\n", "  per row scrolled", hostScroll / scroll,
                peerScroll / scroll);
    std::printf("\nsort of %d rows, painted   %12s %12s %8s\n", rows, "host grid", "QSFPM",
                "ratio");
    for (const TSortCase& sort : sorts) {
      const double host = Median(sort.Host), peer = Median(sort.Peer);
      std::printf("%-26s %12.2f %12.2f %8.2f\n", sort.Name, host, peer, host / peer);
    }
    std::printf(
        "(first date %s; QSFPM: QSortFilterProxyModel, dates as QDateTime, texts "
        "locale-aware unless said)\n",
        qPrintable(hostFirstDate));

    fw::DoneApplication();
    loader.FinalizeAll();
  }
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return 0;
}
