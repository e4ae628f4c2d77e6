#include "host_app/dialogs.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "host_app/conversions.h"

namespace hostapp {

namespace {
// The mark column of a picker's data set holds the picker's own state, not data to show.
constexpr std::string_view kMarkField = "IDMARCADO";

std::string TextAt(fw::TDataSet* dataSet, const fw::TField* field, int row) {
  fw::TDataSet::TRowScope scope(dataSet, static_cast<size_t>(row));
  return field->DisplayText();
}

QTableView* NewTable(QWidget* parent) {
  auto* table = new QTableView(parent);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setWordWrap(false);
  return table;
}
}  // namespace

// ---- list picker ----

class PickListModel : public QAbstractTableModel {
 public:
  PickListModel(fw::TDataSet* rows, const std::string& keyField,
                const std::vector<std::string>& marked, QObject* parent)
      : QAbstractTableModel(parent), rows_(rows) {
    const fw::TField* key = rows->FindField(keyField);
    for (fw::TField* field : rows->Fields())
      if (field->Visible && field->FieldName() != kMarkField) shown_.push_back(field);
    if (shown_.empty() && key) shown_.push_back(const_cast<fw::TField*>(key));
    const int count = rows->RecordCount();
    keys_.reserve(static_cast<size_t>(count));
    for (int row = 0; row < count; ++row) {
      fw::TDataSet::TRowScope scope(rows, static_cast<size_t>(row));
      keys_.push_back(key ? key->AsString() : std::string());
    }
    checked_.assign(keys_.size(), false);
    for (size_t row = 0; row < keys_.size(); ++row)
      checked_[row] = std::find(marked.begin(), marked.end(), keys_[row]) != marked.end();
  }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(keys_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size()) + 1;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    if (index.column() == 0) {
      if (role == Qt::CheckStateRole)
        return checked_[static_cast<size_t>(index.row())] ? Qt::Checked : Qt::Unchecked;
      return {};
    }
    if (role != Qt::DisplayRole) return {};
    return ToQt(TextAt(rows_, shown_[static_cast<size_t>(index.column() - 1)], index.row()));
  }
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
    checked_[static_cast<size_t>(index.row())] = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return QString();
    return ToQt(shown_[static_cast<size_t>(section - 1)]->DisplayLabel());
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
    return flags;
  }

  void Toggle(int row) {
    if (row < 0 || row >= rowCount()) return;
    setData(index(row, 0), checked_[static_cast<size_t>(row)] ? Qt::Unchecked : Qt::Checked,
            Qt::CheckStateRole);
  }
  void SetAll(bool marked) {
    std::fill(checked_.begin(), checked_.end(), marked);
    if (!keys_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0));
  }
  void Set(int row, bool marked) {
    if (row < 0 || row >= rowCount() || checked_[static_cast<size_t>(row)] == marked) return;
    checked_[static_cast<size_t>(row)] = marked;
    emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
  }
  // What the filter looks in: every text shown in the row, folded.
  const QString& Haystack(int row) const {
    if (haystacks_.empty()) {
      haystacks_.reserve(keys_.size());
      for (int r = 0; r < rowCount(); ++r) {
        QString all;
        for (int column = 1; column < columnCount(); ++column)
          all += data(index(r, column), Qt::DisplayRole).toString() + QLatin1Char('\n');
        haystacks_.push_back(Folded(all));
      }
    }
    return haystacks_[static_cast<size_t>(row)];
  }
  // Case and accents aside: "São" and "sao" alike.
  static QString Folded(const QString& text) {
    QString plain;
    for (const QChar c : text.normalized(QString::NormalizationForm_D))
      if (c.category() != QChar::Mark_NonSpacing) plain += c.toCaseFolded();
    return plain;
  }
  std::vector<std::string> Marked() const {
    std::vector<std::string> marked;
    for (size_t row = 0; row < keys_.size(); ++row)
      if (checked_[row]) marked.push_back(keys_[row]);
    return marked;
  }

 private:
  fw::TDataSet* rows_;
  std::vector<fw::TField*> shown_;
  std::vector<std::string> keys_;
  std::vector<bool> checked_;
  mutable std::vector<QString> haystacks_;
};

namespace {
class PickListFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetText(const QString& text) {
    text_ = PickListModel::Folded(text.trimmed());
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex&) const override {
    return text_.isEmpty() ||
           static_cast<const PickListModel*>(sourceModel())->Haystack(row).contains(text_);
  }

 private:
  QString text_;
};
}  // namespace

PickListDialog::PickListDialog(fw::TDataSet* rows, const std::string& keyField,
                               const std::string& title, const std::vector<std::string>& marked,
                               QWidget* parent)
    : QDialog(parent),
      model_(new PickListModel(rows, keyField, marked, this)),
      proxy_(new PickListFilter(this)),
      filter_(new QLineEdit(this)) {
  setWindowTitle(ToQt(title.empty() ? std::string("Seleção") : "Seleção de " + title));
  auto* layout = new QVBoxLayout(this);
  auto* filterRow = new QHBoxLayout();
  auto* filterLabel = new QLabel(QStringLiteral("&Filtrar:"), this);
  filterLabel->setBuddy(filter_);
  filter_->setPlaceholderText(QStringLiteral("código ou nome"));
  filter_->setClearButtonEnabled(true);
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filter_, 1);
  layout->addLayout(filterRow);
  layout->addWidget(new QLabel(QStringLiteral("Marque os itens desejados (Espaço marca):"), this));
  proxy_->setSourceModel(model_);
  table_ = NewTable(this);
  table_->setModel(proxy_);
  table_->horizontalHeader()->resizeSection(0, 28);
  table_->resizeColumnsToContents();
  table_->installEventFilter(this);
  filter_->installEventFilter(this);
  layout->addWidget(table_, 1);
  connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.column() != 0) model_->Toggle(proxy_->mapToSource(index).row());
  });
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    static_cast<PickListFilter*>(proxy_)->SetText(text);
    if (proxy_->rowCount() > 0) table_->setCurrentIndex(proxy_->index(0, 1));
  });

  auto* buttons = new QHBoxLayout();
  auto* all = new QPushButton(QStringLiteral("Marcar todos"), this);
  auto* none = new QPushButton(QStringLiteral("Limpar"), this);
  auto* confirm = new QPushButton(QStringLiteral("Confirmar"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
  confirm->setDefault(true);
  buttons->addWidget(all);
  buttons->addWidget(none);
  buttons->addStretch(1);
  buttons->addWidget(confirm);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(all, &QPushButton::clicked, this, [this] { MarkAll(true); });
  connect(none, &QPushButton::clicked, this, [this] { MarkAll(false); });
  connect(confirm, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  if (proxy_->rowCount() > 0) table_->setCurrentIndex(proxy_->index(0, 1));
  table_->setFocus();
  resize(460, 420);
}

std::vector<std::string> PickListDialog::Marked() const {
  return model_->Marked();
}

int PickListDialog::VisibleRows() const {
  return proxy_->rowCount();
}

void PickListDialog::MarkAll(bool marked) {
  if (proxy_->rowCount() == model_->rowCount()) return model_->SetAll(marked);
  for (int row = 0; row < proxy_->rowCount(); ++row)
    model_->Set(proxy_->mapToSource(proxy_->index(row, 0)).row(), marked);
}

bool PickListDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == table_ && key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
    // The row under the cursor, whichever cell of it is current (the check box's cell would
    // otherwise be the only one Space works in).
    const QModelIndex current = table_->currentIndex();
    if (current.isValid()) model_->Toggle(proxy_->mapToSource(current).row());
    return true;
  }
  if (watched == filter_ && (key->key() == Qt::Key_Down || key->key() == Qt::Key_PageDown) &&
      proxy_->rowCount() > 0) {
    // From the filter down into the rows it left.
    table_->setFocus();
    if (!table_->currentIndex().isValid()) table_->setCurrentIndex(proxy_->index(0, 1));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ---- record search ----

SearchDialog::SearchDialog(const fw::TSearchRequest& request, QWidget* parent)
    : QDialog(parent),
      request_(request),
      fields_(new QComboBox(this)),
      value_(new QLineEdit(this)),
      startsWith_(new QRadioButton(QStringLiteral("Começa com"), this)),
      contains_(new QRadioButton(QStringLiteral("Contém"), this)),
      search_(nullptr) {
  setWindowTitle(QStringLiteral("Procurar"));
  for (const fw::TSearchColumn& column : request.Columns)
    fields_->addItem(ToQt(column.Title), ToQt(column.FieldName));
  fields_->setCurrentIndex(std::max(fields_->findData(ToQt(request.FieldName)), 0));
  value_->setText(ToQt(request.Value));
  value_->selectAll();
  (request.Match == fw::TSearchMatch::Contains ? contains_ : startsWith_)->setChecked(true);

  auto* matching = new QHBoxLayout();
  matching->addWidget(startsWith_);
  matching->addWidget(contains_);
  matching->addStretch(1);
  auto* form = new QFormLayout();
  form->addRow(QStringLiteral("&Campo:"), fields_);
  form->addRow(QStringLiteral("&Valor:"), value_);
  form->addRow(QString(), matching);
  auto* hint = new QLabel(
      QStringLiteral("Maiúsculas e acentos não importam; a procura começa após o registro atual."),
      this);
  hint->setWordWrap(true);
  QPalette muted = hint->palette();
  muted.setColor(QPalette::WindowText, muted.color(QPalette::Disabled, QPalette::WindowText));
  hint->setPalette(muted);
  auto* buttons = new QDialogButtonBox(this);
  search_ = buttons->addButton(QStringLiteral("&Procurar"), QDialogButtonBox::AcceptRole);
  search_->setDefault(true);
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  const auto enable = [this] { search_->setEnabled(!value_->text().trimmed().isEmpty()); };
  connect(value_, &QLineEdit::textChanged, this, enable);
  enable();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(hint);
  layout->addWidget(buttons);
  value_->setFocus();
  setMinimumWidth(380);
}

fw::TSearchRequest SearchDialog::Request() const {
  fw::TSearchRequest answer = request_;
  answer.FieldName = FromQt(fields_->currentData().toString());
  answer.Value = FromQt(value_->text());
  answer.Match = contains_->isChecked() ? fw::TSearchMatch::Contains : fw::TSearchMatch::StartsWith;
  return answer;
}

// ---- sort ----

SortDialog::SortDialog(const fw::TSortRequest& request, QWidget* parent)
    : QDialog(parent), sort_(nullptr), original_(nullptr) {
  setWindowTitle(QStringLiteral("Ordenar"));
  auto* form = new QFormLayout();
  const char* labels[] = {"Ordenar &por:", "&Depois por:", "D&epois por:"};
  for (size_t level = 0; level < fw::kMaxSortFields; ++level) {
    auto* column = new QComboBox(this);
    column->addItem(QStringLiteral("(nenhuma)"), QString());
    for (const fw::TSearchColumn& offered : request.Columns)
      column->addItem(ToQt(offered.Title), ToQt(offered.FieldName));
    auto* descending = new QCheckBox(QStringLiteral("Decrescente"), this);
    if (level < request.Fields.size()) {
      column->setCurrentIndex(std::max(column->findData(ToQt(request.Fields[level].FieldName)), 0));
      descending->setChecked(request.Fields[level].Descending);
    }
    auto* row = new QHBoxLayout();
    row->addWidget(column, 1);
    row->addWidget(descending);
    form->addRow(QString::fromUtf8(labels[level]), row);
    columns_.push_back(column);
    descending_.push_back(descending);
  }
  auto* buttons = new QDialogButtonBox(this);
  sort_ = buttons->addButton(QStringLiteral("&Ordenar"), QDialogButtonBox::AcceptRole);
  sort_->setDefault(true);
  original_ = buttons->addButton(QStringLiteral("Ordem &original"), QDialogButtonBox::ResetRole);
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(original_, &QPushButton::clicked, this, [this] {
    for (QComboBox* column : columns_) column->setCurrentIndex(0);
    accept();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* hint = new QLabel(
      QStringLiteral("A ordem vale para esta grade; o registro atual continua o mesmo."), this);
  hint->setWordWrap(true);
  layout->addWidget(hint);
  layout->addWidget(buttons);
  columns_.front()->setFocus();
  setMinimumWidth(380);
}

std::vector<fw::TIndexField> SortDialog::Fields() const {
  std::vector<fw::TIndexField> fields;
  for (size_t level = 0; level < columns_.size(); ++level) {
    const std::string name = FromQt(columns_[level]->currentData().toString());
    if (name.empty()) break;
    const bool named = std::any_of(fields.begin(), fields.end(), [&](const fw::TIndexField& seen) {
      return seen.FieldName == name;
    });
    if (!named) fields.push_back({name, descending_[level]->isChecked()});
  }
  return fields;
}

// ---- product look-up ----

ProductLookupDialog::ProductLookupDialog(fw::TDataSet* rows, const std::string& codeField,
                                         const std::string& nameField, QWidget* parent)
    : QDialog(parent),
      filter_(new QLineEdit(this)),
      table_(NewTable(this)),
      proxy_(new QSortFilterProxyModel(this)) {
  setWindowTitle(QStringLiteral("Pesquisa de Produto"));
  // The columns the user knows the products by: the visible ones among the data set's first
  // field (the code as the user types it), the code field and the name field.
  std::vector<fw::TField*> shown;
  auto add = [&](fw::TField* field) {
    if (field && std::find(shown.begin(), shown.end(), field) == shown.end())
      shown.push_back(field);
  };
  fw::TField* code = rows->FindField(codeField);
  fw::TField* name = rows->FindField(nameField);
  for (fw::TField* field : {rows->Fields().empty() ? nullptr : rows->Fields().front(), code, name})
    if (field && field->Visible) add(field);
  if (shown.empty()) {
    add(code);
    add(name);
  }
  // Texts are read once: filtering then never touches the data set.
  auto* source = new QStandardItemModel(rows->RecordCount(), static_cast<int>(shown.size()), this);
  for (int column = 0; column < static_cast<int>(shown.size()); ++column)
    source->setHeaderData(column, Qt::Horizontal,
                          ToQt(shown[static_cast<size_t>(column)]->DisplayLabel()));
  for (int row = 0; row < rows->RecordCount(); ++row) {
    fw::TDataSet::TRowScope scope(rows, static_cast<size_t>(row));
    for (int column = 0; column < static_cast<int>(shown.size()); ++column) {
      auto* item = new QStandardItem(ToQt(shown[static_cast<size_t>(column)]->DisplayText()));
      item->setData(row, Qt::UserRole);
      item->setEditable(false);
      source->setItem(row, column, item);
    }
  }
  proxy_->setSourceModel(source);
  proxy_->setFilterKeyColumn(-1);
  proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  table_->setModel(proxy_);
  table_->resizeColumnToContents(0);

  auto* layout = new QVBoxLayout(this);
  auto* filterRow = new QHBoxLayout();
  filterRow->addWidget(new QLabel(QStringLiteral("Filtrar:"), this));
  filterRow->addWidget(filter_, 1);
  layout->addLayout(filterRow);
  layout->addWidget(table_, 1);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Confirmar"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(table_, &QTableView::doubleClicked, this, &QDialog::accept);
  // The list's cursor keys work from the filter, so the user need not leave it to choose.
  filter_->installEventFilter(this);
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    proxy_->setFilterFixedString(text);
    if (proxy_->rowCount() > 0) table_->selectRow(0);
  });
  const int current = rows->RecNo() - 1;
  if (current >= 0) {
    const QModelIndex start = proxy_->mapFromSource(source->index(current, 0));
    table_->selectRow(start.row());
    table_->scrollTo(start);
  }
  filter_->setFocus();
  resize(560, 460);
}

bool ProductLookupDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown: {
        if (proxy_->rowCount() == 0) return true;
        if (!table_->currentIndex().isValid()) {
          table_->selectRow(0);
          if (key->key() == Qt::Key_Down || key->key() == Qt::Key_PageDown) return true;
        }
        QKeyEvent moved(QEvent::KeyPress, key->key(), key->modifiers());
        QApplication::sendEvent(table_, &moved);
        return true;
      }
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

int ProductLookupDialog::ChosenRow() const {
  const QModelIndexList selected = table_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return -1;
  return proxy_->data(selected.front(), Qt::UserRole).toInt();
}

int ProductLookupDialog::VisibleRows() const {
  return proxy_->rowCount();
}

}  // namespace hostapp
