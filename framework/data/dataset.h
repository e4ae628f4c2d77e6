// Fields, client data sets and data sources.
//
// TClientDataSet holds persistent fields in a fixed order and the rows of the last loaded packet,
// column by column. Events, as the screens rely on them:
// - SetData: state change to closed (when it was open), then browse, AfterOpen, and AfterScroll
//   only when the packet has rows (the cursor is then on the first row).
// - Close: state change to closed; no AfterScroll.
// - First, Last, Next, Prior, MoveBy, MoveTo, Locate: AfterScroll after a move that changed the
// row.
//   A move that leaves the cursor where it was (Next on the last row) raises nothing, so a remote
//   call hung on AfterScroll is not repeated for nothing.
// A closed data set is empty; reading a field of an empty or closed data set gives null.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/data/component.h"
#include "framework/data/packet.h"

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

  TDataSetEvent AfterOpen;
  TDataSetEvent AfterScroll;

  // Rows read by the fields: the cursor, or, while a grid paints, the row it paints.
  size_t ActiveRow() const { return paintRow_ ? *paintRow_ : cursor_; }
  // Lets a reader look at another row without moving the cursor (no events).
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

  std::vector<TField*> fields_;
  std::vector<TColumn> columns_;
  std::vector<TDataSource*> sources_;
  TDataSetState state_ = TDataSetState::dsInactive;
  size_t rowCount_ = 0;
  size_t cursor_ = 0;
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
