// Fields, client data sets and data sources.
//
// TClientDataSet holds persistent fields in a fixed order and the rows of the last loaded packet,
// column by column. Events, as the screens rely on them:
// - SetData: state change to closed (when it was open), then browse, AfterOpen, and AfterScroll
//   only when the packet has rows (the cursor is then on the first row).
// - Close: state change to closed; no AfterScroll.
// - First, Last, Next, Prior, MoveBy, MoveTo, Locate: AfterScroll after a move that changed the
//   row. A move that leaves the cursor where it was (Next on the last row) raises nothing, so a
//   remote call hung on AfterScroll is not repeated for nothing.
// - SetIndexFields: the rows take the order of the index (as a client data set's index fields);
//   the current record stays current and nothing but the views hears of it (no AfterScroll).
// A closed data set is empty; reading a field of an empty or closed data set gives null.
//
// Rows are numbered by their place in the data set's order (RecNo, MoveTo, row scopes): the
// service's order, or the index's when one is set. So every reader that walks the rows (a grid,
// the record search, Locate, an export) sees them as the user sees them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/data/component.h"
#include "protocol/packet.h"

namespace fw {

class TDataSet;
class TDataSource;

// Failure of the data layer (a missing field, a packet of the wrong shape). The message is for the
// user, in Portuguese.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TField;
// Display-text handler: receives the text empty; what it leaves in `text` is shown.
using TFieldGetTextEvent = std::function<void(TField* sender, std::string& text, bool displayText)>;

// One column of a data set, as a named component of the screen that declares it
// (`cdsItensGridSTATUS` for field "STATUS" of `cdsItensGrid`). Reads the data set's active row.
class TField : public TComponent {
 public:
  // Joins the data set's fields as the last one; the data set owns it.
  TField(TDataSet* dataSet, std::string name, std::string fieldName, TFieldType type, int size = 0);
  // Leaves the data set's fields (freed alone, the others move up one place).
  ~TField() override;

  const std::string& FieldName() const { return fieldName_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  TDataSet* DataSet() const { return dataSet_; }
  int Index() const { return index_; }

  // Settings, as a screen description stores them.
  bool FixedChar = false;
  bool Visible = true;
  bool Required = false;
  std::string DisplayFormat;
  TFieldGetTextEvent OnGetText;

  std::string DisplayLabel() const { return label_.empty() ? fieldName_ : label_; }
  void SetDisplayLabel(std::string label) { label_ = std::move(label); }
  // Characters; a string field defaults to its size, other fields to 10.
  int DisplayWidth() const;
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(std::string mask);

  // Value of the active row.
  bool IsNull() const;
  // Stored value as text: strings as stored, floats plainly ("1234,5"), dates "dd/mm/yyyy[
  // hh:nn:ss]".
  std::string AsString() const;
  double AsFloat() const;     // 0 for null
  double AsDateTime() const;  // the zero date for null
  // Text as offered for editing: the handler's text with displayText false, else AsString.
  std::string Text() const;
  // Text as shown: the handler's text with displayText true; else a float under its display
  // format, a string under its edit mask, a date "dd/mm/yyyy[ hh:nn:ss]"; null shows "".
  std::string DisplayText() const;

 private:
  friend class TDataSet;
  TDataSet* dataSet_;
  std::string fieldName_;
  TFieldType type_;
  int size_;
  int index_ = -1;
  std::string label_;
  int displayWidth_ = 0;
  std::string editMask_;

  // The column of the active row, or nullptr when the field reads null (closed, empty, no column).
  const TColumn* ActiveColumn(size_t& row) const;
  std::string FormattedText(bool display) const;
};

enum class TDataSetState { dsInactive, dsBrowse };

// One field of a data set's index: the rows in the order of its values, or in the reverse.
// Numbers and dates by value; texts by the Brazilian collation (collation.h), those of a field
// with a display-text handler by the text the handler gives (a status by its name, not its code).
// A null value comes before every other value (after them, descending). Rows equal in every field
// keep the service's order.
struct TIndexField {
  std::string FieldName;
  bool Descending = false;
  bool operator==(const TIndexField&) const = default;
};

class TDataSet : public TComponent {
 public:
  using TDataSetEvent = std::function<void(TDataSet*)>;

  TDataSet(TComponent* owner, std::string name);
  ~TDataSet() override;

  // Declares the next persistent field; the data set owns it.
  TField* AddField(std::string componentName, std::string fieldName, TFieldType type, int size = 0);
  const std::vector<TField*>& Fields() const { return fields_; }
  // By field name, ignoring the case of ASCII letters; nullptr when absent.
  TField* FindField(std::string_view fieldName) const;
  // As FindField, but a missing field raises EDatabaseError.
  TField* FieldByName(std::string_view fieldName) const;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ == TDataSetState::dsBrowse; }
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecordCount() const { return Active() ? static_cast<int>(rowCount_) : 0; }
  // 1-based current row; 0 when empty or closed.
  int RecNo() const { return IsEmpty() ? 0 : static_cast<int>(cursor_) + 1; }
  // True after a move tried to pass the last (first) row, and on an empty or closed data set, so
  // that "First; while not Eof: Next" visits every row once.
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }

  void Close();
  void First();
  void Last();
  void Next();
  void Prior();
  void MoveBy(int distance);
  // Moves to the 0-based row (clamped).
  void MoveTo(int row);
  // Moves to the first row whose field's stored text (AsString) equals `value`; false if none.
  bool Locate(std::string_view fieldName, std::string_view value);

  // The order of the rows: by these fields, the first deciding; empty for the service's order.
  // Kept across loads: a new packet is put in the same order, its first row current. Setting it
  // keeps the current record current (on its new place) and raises no AfterScroll. A field the
  // data set does not have raises EDatabaseError and changes nothing.
  const std::vector<TIndexField>& IndexFields() const { return indexFields_; }
  void SetIndexFields(std::vector<TIndexField> fields);

  TDataSetEvent AfterOpen;
  TDataSetEvent AfterScroll;

  // The stored row the fields read: the cursor's, or, while a grid paints, the one it paints.
  size_t ActiveRow() const { return StoredRow(paintRow_ ? *paintRow_ : cursor_); }
  // Lets a reader look at another row (its place in the order) without moving the cursor (no
  // events).
  class TRowScope {
   public:
    TRowScope(const TDataSet* dataSet, size_t row);
    ~TRowScope();
    TRowScope(const TRowScope&) = delete;
    TRowScope& operator=(const TRowScope&) = delete;

   private:
    const TDataSet* dataSet_;
    std::optional<size_t> previous_;
  };

  // Column of a field (indexed like Fields()); valid while the data set is open.
  const TColumn& Column(int fieldIndex) const { return columns_[fieldIndex]; }
  size_t MemoryUsage() const;

 protected:
  // Replaces the rows: closes (if open), takes the packet's columns by field name, opens.
  void LoadPacket(TDataPacket&& packet);

 private:
  friend class TDataSource;
  friend class TField;
  // Sets the state, tells the views, then raises the data sources' OnStateChange.
  void SetState(TDataSetState state);
  // Moves the cursor; tells the views and raises AfterScroll only when the row changed.
  void ScrollTo(size_t row);
  void DropRows();
  // The stored row at a place in the order, and the place of a stored row.
  size_t StoredRow(size_t place) const { return order_.empty() ? place : order_[place]; }
  size_t PlaceOf(size_t storedRow) const;
  // The stored rows in the order of `fields` (empty for the service's order). Changes nothing.
  std::vector<uint32_t> OrderOf(const std::vector<TIndexField>& fields) const;

  std::vector<TField*> fields_;
  std::vector<TColumn> columns_;
  std::vector<TDataSource*> sources_;
  TDataSetState state_ = TDataSetState::dsInactive;
  size_t rowCount_ = 0;
  size_t cursor_ = 0;  // a place in the order
  std::vector<TIndexField> indexFields_;
  std::vector<uint32_t> order_;  // stored row of each place; empty: the service's order
  bool eof_ = true;
  bool bof_ = true;
  mutable std::optional<size_t> paintRow_;
};

// In-memory table loaded whole from a data packet.
class TClientDataSet : public TDataSet {
 public:
  using TDataSet::TDataSet;
  // Replaces the rows with the packet's, fills the fields by name and opens. A field the packet
  // lacks reads as null; a field whose packet type differs raises EDatabaseError and leaves the
  // data set as it was. A column is matched by exact name, else by name ignoring case.
  void SetData(TDataPacket packet) { LoadPacket(std::move(packet)); }
};

// Joins a data set to the controls that show it; reports the data set's state.
class TDataSource : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSource*)>;

  TDataSource(TComponent* owner, std::string name);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  TDataSetState State() const { return dataSet_ ? dataSet_->State() : TDataSetState::dsInactive; }

  // Raised when the data set opens or closes.
  TNotifyEvent OnStateChange;

 private:
  friend class TDataSet;
  TDataSet* dataSet_ = nullptr;
};

}  // namespace fw
