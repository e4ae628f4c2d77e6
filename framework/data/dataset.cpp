#include "framework/data/dataset.h"

#include <algorithm>
#include <charconv>
#include <numeric>

#include "framework/data/collation.h"
#include "framework/data/format.h"
#include "protocol/datetime.h"

namespace fw {

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The packet column for a field: the exact name first, then the name in another case (a database
// may hand back "status" for "STATUS").
int PacketColumn(const TDataPacket& packet, std::string_view fieldName) {
  const int exact = packet.FieldIndex(fieldName);
  if (exact >= 0) return exact;
  const auto& fields = packet.Fields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (SameNameIgnoringCase(fields[i].Name, fieldName)) return static_cast<int>(i);
  return -1;
}

template <typename T>
void Remove(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

double ParseNumberText(const std::string& text) {
  std::string plain = text;
  std::replace(plain.begin(), plain.end(), ',', '.');
  const char* begin = plain.data();
  const char* end = plain.data() + plain.size();
  if (begin != end && *begin == '+') ++begin;
  double value = 0;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (plain.empty() || error != std::errc() || stop != end)
    throw EDatabaseError("'" + text + "' não é um valor numérico válido.");
  return value;
}

}  // namespace

// ---- TField ----

TField::TField(TDataSet* dataSet, std::string name, std::string fieldName, TFieldType type,
               int size)
    : TComponent(dataSet, std::move(name)),
      dataSet_(dataSet),
      fieldName_(std::move(fieldName)),
      type_(type),
      size_(size) {
  if (dataSet_) {
    index_ = static_cast<int>(dataSet_->fields_.size());
    dataSet_->fields_.push_back(this);
  }
}

TField::~TField() {
  if (!dataSet_) return;
  auto& fields = dataSet_->fields_;
  auto& columns = dataSet_->columns_;
  if (index_ >= 0 && static_cast<size_t>(index_) < columns.size())
    columns.erase(columns.begin() + index_);
  Remove(fields, static_cast<TField*>(this));
  for (size_t i = 0; i < fields.size(); ++i) fields[i]->index_ = static_cast<int>(i);
}

int TField::DisplayWidth() const {
  if (displayWidth_ > 0) return displayWidth_;
  // A string field whose size was never set falls back to the width of the other types.
  return type_ == TFieldType::ftString && size_ > 0 ? size_ : 10;
}

void TField::SetEditMask(std::string mask) {
  editMask_ = std::move(mask);
  Changed(TChange::Property);
}

const TColumn* TField::ActiveColumn(size_t& row) const {
  if (!dataSet_ || !dataSet_->Active() || index_ < 0) return nullptr;
  row = dataSet_->ActiveRow();
  if (row >= dataSet_->rowCount_ || static_cast<size_t>(index_) >= dataSet_->columns_.size())
    return nullptr;
  const TColumn* column = &dataSet_->columns_[index_];
  return column->IsNull(row) ? nullptr : column;
}

bool TField::IsNull() const {
  size_t row = 0;
  return ActiveColumn(row) == nullptr;
}

std::string TField::AsString() const {
  size_t row = 0;
  const TColumn* column = ActiveColumn(row);
  if (!column) return {};
  switch (type_) {
    case TFieldType::ftString:
      return std::string(column->GetString(row));
    case TFieldType::ftFloat:
      return FormatFloat("", column->GetNumber(row));
    case TFieldType::ftDateTime:
      return DateTimeToText(column->GetNumber(row));
  }
  return {};
}

double TField::AsFloat() const {
  size_t row = 0;
  const TColumn* column = ActiveColumn(row);
  if (!column) return 0;
  if (type_ == TFieldType::ftString) return ParseNumberText(std::string(column->GetString(row)));
  return column->GetNumber(row);
}

double TField::AsDateTime() const {
  size_t row = 0;
  const TColumn* column = ActiveColumn(row);
  if (!column) return kZeroDate;
  if (type_ != TFieldType::ftString) return column->GetNumber(row);
  const std::string text(column->GetString(row));
  const auto value = TextToDateTime(text);
  if (!value) throw EDatabaseError("'" + text + "' não é uma data válida.");
  return *value;
}

std::string TField::Text() const {
  if (OnGetText) return FormattedText(false);
  return AsString();
}

std::string TField::DisplayText() const {
  if (OnGetText) return FormattedText(true);
  size_t row = 0;
  const TColumn* column = ActiveColumn(row);
  if (!column) return {};
  switch (type_) {
    case TFieldType::ftString:
      if (editMask_.empty()) return std::string(column->GetString(row));
      return FormatMaskText(editMask_, column->GetString(row));
    case TFieldType::ftFloat:
      return FormatFloat(DisplayFormat, column->GetNumber(row));
    case TFieldType::ftDateTime:
      return DateTimeToText(column->GetNumber(row));
  }
  return {};
}

std::string TField::FormattedText(bool display) const {
  std::string text;
  OnGetText(const_cast<TField*>(this), text, display);
  return text;
}

// ---- TDataSet ----

TDataSet::TDataSet(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TDataSet::~TDataSet() {
  // The fields are freed after this body (by TComponent); they must not reach back into it.
  for (auto* field : fields_) field->dataSet_ = nullptr;
  for (auto* source : sources_) source->dataSet_ = nullptr;
}

TField* TDataSet::AddField(std::string componentName, std::string fieldName, TFieldType type,
                           int size) {
  return new TField(this, std::move(componentName), std::move(fieldName), type, size);
}

TField* TDataSet::FindField(std::string_view fieldName) const {
  for (auto* field : fields_)
    if (SameNameIgnoringCase(field->FieldName(), fieldName)) return field;
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view fieldName) const {
  if (auto* field = FindField(fieldName)) return field;
  throw EDatabaseError("Campo '" + std::string(fieldName) + "' não encontrado.");
}

void TDataSet::SetState(TDataSetState state) {
  state_ = state;
  NotifyModel(this, TChange::Rows);
  // A handler may detach or free another data source: each is checked before it is called.
  const auto sources = sources_;
  for (auto* source : sources) {
    if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) continue;
    if (source->OnStateChange) source->OnStateChange(source);
  }
}

void TDataSet::DropRows() {
  std::vector<TColumn>().swap(columns_);
  std::vector<uint32_t>().swap(order_);
  rowCount_ = 0;
  cursor_ = 0;
  eof_ = true;
  bof_ = true;
}

void TDataSet::ScrollTo(size_t row) {
  if (row == cursor_) return;
  cursor_ = row;
  NotifyModel(this, TChange::Cursor);
  if (AfterScroll) AfterScroll(this);
}

void TDataSet::LoadPacket(TDataPacket&& packet) {
  // Everything that can fail comes before the old rows are dropped.
  if (!packet.IsConsistent()) throw EDatabaseError("Pacote de dados inconsistente.");
  std::vector<int> sourceColumn(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    sourceColumn[i] = PacketColumn(packet, fields_[i]->FieldName());
    if (sourceColumn[i] >= 0 && packet.Fields()[sourceColumn[i]].Type != fields_[i]->DataType())
      throw EDatabaseError("Campo '" + fields_[i]->FieldName() +
                           "' com tipo incompatível no pacote de dados.");
  }
  const size_t rows = packet.RowCount();
  std::vector<TColumn> columns;
  columns.reserve(fields_.size());
  std::vector<int> takenBy(packet.Columns().size(), -1);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const int source = sourceColumn[i];
    if (source < 0) {
      columns.push_back(TColumn::Nulls(fields_[i]->DataType(), rows));
    } else if (takenBy[source] >= 0) {
      columns.push_back(columns[takenBy[source]]);  // two fields on one column
    } else {
      takenBy[source] = static_cast<int>(i);
      columns.push_back(std::move(packet.Columns()[source]));
    }
  }

  if (Active()) {
    DropRows();
    SetState(TDataSetState::dsInactive);
  }
  columns_ = std::move(columns);
  rowCount_ = rows;
  cursor_ = 0;
  bof_ = true;
  eof_ = rows == 0;
  // The chosen order holds for the new rows: the first row is the first of that order. The
  // fields read the new rows (browse) before the views and handlers hear of them.
  state_ = TDataSetState::dsBrowse;
  try {
    order_ = OrderOf(indexFields_);
  } catch (const std::exception&) {
    // A display-text handler that fails here fails as the grid paints too: the rows stay in
    // the service's order, and the views show no sort that is not there.
    order_.clear();
    indexFields_.clear();
  }
  SetState(TDataSetState::dsBrowse);
  if (AfterOpen) AfterOpen(this);
  // AfterOpen may have closed or reloaded the data set.
  if (Active() && rowCount_ > 0 && AfterScroll) AfterScroll(this);
}

void TDataSet::Close() {
  if (!Active()) return;
  DropRows();
  SetState(TDataSetState::dsInactive);
}

void TDataSet::First() {
  if (IsEmpty()) return;
  bof_ = true;
  eof_ = false;
  ScrollTo(0);
}

void TDataSet::Last() {
  if (IsEmpty()) return;
  bof_ = false;
  eof_ = true;
  ScrollTo(rowCount_ - 1);
}

void TDataSet::Next() {
  MoveBy(1);
}

void TDataSet::Prior() {
  MoveBy(-1);
}

void TDataSet::MoveBy(int distance) {
  if (IsEmpty() || distance == 0) return;
  const long long last = static_cast<long long>(rowCount_) - 1;
  long long target = static_cast<long long>(cursor_) + distance;
  // Eof and Bof tell that a move tried to pass the end, so that "while not Eof: Next" stops.
  bof_ = target < 0;
  eof_ = target > last;
  target = std::clamp(target, 0LL, last);
  ScrollTo(static_cast<size_t>(target));
}

void TDataSet::MoveTo(int row) {
  if (IsEmpty()) return;
  const long long last = static_cast<long long>(rowCount_) - 1;
  bof_ = row < 0;
  eof_ = row > last;
  ScrollTo(static_cast<size_t>(std::clamp(static_cast<long long>(row), 0LL, last)));
}

bool TDataSet::Locate(std::string_view fieldName, std::string_view value) {
  const TField* field = FieldByName(fieldName);
  if (IsEmpty()) return false;
  for (size_t row = 0; row < rowCount_; ++row) {
    bool equal = false;
    {
      TRowScope scope(this, row);
      equal = field->AsString() == value;
    }
    if (equal) {
      bof_ = false;
      eof_ = false;
      ScrollTo(row);
      return true;
    }
  }
  return false;
}

size_t TDataSet::PlaceOf(size_t storedRow) const {
  if (order_.empty()) return storedRow;
  const auto found = std::find(order_.begin(), order_.end(), static_cast<uint32_t>(storedRow));
  return found == order_.end() ? 0 : static_cast<size_t>(found - order_.begin());
}

namespace {
// One index field's values, by stored row: collation keys for texts, numbers otherwise.
struct TSortValues {
  bool Descending = false;
  bool Text = false;
  std::vector<std::string> Keys;
  std::vector<double> Numbers;
  std::vector<bool> Nulls;

  int Compare(uint32_t a, uint32_t b) const {
    if (Text) return Keys[a].compare(Keys[b]);
    if (Nulls[a] || Nulls[b]) return static_cast<int>(Nulls[b]) - static_cast<int>(Nulls[a]);
    return Numbers[a] < Numbers[b] ? -1 : Numbers[b] < Numbers[a] ? 1 : 0;
  }
};
}  // namespace

std::vector<uint32_t> TDataSet::OrderOf(const std::vector<TIndexField>& fields) const {
  if (fields.empty() || !Active() || rowCount_ == 0) return {};
  // The place of each stored row, for the handlers: they read through a row scope.
  std::vector<uint32_t> placeOf;
  std::vector<TSortValues> values;
  for (const TIndexField& indexField : fields) {
    const TField* field = FieldByName(indexField.FieldName);
    if (field->Index() < 0 || static_cast<size_t>(field->Index()) >= columns_.size()) continue;
    const TColumn& column = columns_[static_cast<size_t>(field->Index())];
    TSortValues sort;
    sort.Descending = indexField.Descending;
    if (field->OnGetText) {
      if (placeOf.empty()) {
        placeOf.resize(rowCount_);
        for (size_t place = 0; place < rowCount_; ++place)
          placeOf[StoredRow(place)] = static_cast<uint32_t>(place);
      }
      sort.Text = true;
      sort.Keys.reserve(rowCount_);
      for (size_t row = 0; row < rowCount_; ++row) {
        TRowScope scope(this, placeOf[row]);
        sort.Keys.push_back(CollationKey(field->DisplayText()));
      }
    } else if (column.Type() == TFieldType::ftString) {
      // A null comes before an empty text: its key is empty, below any text's.
      sort.Text = true;
      sort.Keys.reserve(rowCount_);
      for (size_t row = 0; row < rowCount_; ++row)
        sort.Keys.push_back(column.IsNull(row) ? std::string()
                                               : CollationKey(column.GetString(row)));
    } else {
      sort.Numbers.resize(rowCount_);
      sort.Nulls.resize(rowCount_);
      for (size_t row = 0; row < rowCount_; ++row) {
        sort.Nulls[row] = column.IsNull(row);
        sort.Numbers[row] = column.GetNumber(row);
      }
    }
    values.push_back(std::move(sort));
  }
  std::vector<uint32_t> order(rowCount_);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&values](uint32_t a, uint32_t b) {
    for (const TSortValues& sort : values) {
      const int compared = sort.Compare(a, b);
      if (compared != 0) return sort.Descending ? compared > 0 : compared < 0;
    }
    return false;
  });
  return order;
}

void TDataSet::SetIndexFields(std::vector<TIndexField> fields) {
  // One place for each field: a field named again adds nothing.
  std::vector<TIndexField> unique;
  for (TIndexField& field : fields) {
    const std::string& name = FieldByName(field.FieldName)->FieldName();
    const bool named = std::any_of(unique.begin(), unique.end(),
                                   [&](const TIndexField& seen) { return seen.FieldName == name; });
    if (!named) unique.push_back({name, field.Descending});
  }
  if (unique == indexFields_) return;
  std::vector<uint32_t> order = OrderOf(unique);
  const bool rows = Active() && rowCount_ > 0;
  const size_t current = rows ? StoredRow(cursor_) : 0;
  indexFields_ = std::move(unique);
  order_ = std::move(order);
  if (!rows) return;
  cursor_ = PlaceOf(current);
  NotifyModel(this, TChange::Rows);
}

TDataSet::TRowScope::TRowScope(const TDataSet* dataSet, size_t row)
    : dataSet_(dataSet), previous_(dataSet->paintRow_) {
  dataSet_->paintRow_ = row;
}

TDataSet::TRowScope::~TRowScope() {
  dataSet_->paintRow_ = previous_;
}

size_t TDataSet::MemoryUsage() const {
  size_t bytes = (columns_.capacity() - columns_.size()) * sizeof(TColumn) +
                 order_.capacity() * sizeof(uint32_t);
  for (const auto& column : columns_) bytes += column.MemoryUsage();
  bytes += fields_.capacity() * sizeof(TField*) + sources_.capacity() * sizeof(TDataSource*);
  return bytes;
}

// ---- TDataSource ----

TDataSource::TDataSource(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)) {}

TDataSource::~TDataSource() {
  if (dataSet_) Remove(dataSet_->sources_, this);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) Remove(dataSet_->sources_, this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->sources_.push_back(this);
  Changed(TChange::Property);
}

}  // namespace fw
