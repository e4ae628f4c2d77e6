// What a front end supplies to the form model: the Qt host implements it with widgets; the tests
// and the screen driver with TFakePlatform (fake_platform.h). Module code never sees which.
#pragma once

#include <string>
#include <vector>

#include "framework/ui/application.h"

namespace fw {

// How a record search compares what a cell shows with what the user typed.
enum class TSearchMatch {
  Exact,       // the whole text as shown, from the first row (the screen driver's plain find)
  StartsWith,  // "começa com": case and accents ignored, from the row after the cursor
  Contains,    // "contém": likewise
};

// A column a search offers: its field and the title its grid shows.
struct TSearchColumn {
  std::string FieldName;
  std::string Title;
};

// What the search dialog is given and what the user answers.
struct TSearchRequest {
  std::vector<TSearchColumn> Columns;  // in the grid's order
  std::string FieldName;               // in: the grid's selected column; out: the user's choice
  std::string Value;
  TSearchMatch Match = TSearchMatch::StartsWith;
};

// What the sort dialog ("Ordenar") is given and what the user answers: up to kMaxSortFields
// columns, each ascending or descending.
struct TSortRequest {
  TDataSet* DataSet = nullptr;
  std::vector<TSearchColumn> Columns;  // the grid's, by the titles it shows, in its order
  std::vector<TIndexField> Fields;     // in: the order now; out: the user's (empty: the service's)
};
inline constexpr size_t kMaxSortFields = 3;

class IPlatform {
 public:
  virtual ~IPlatform() = default;

  // Shows a form modeless (an MDI child of the main window when its style says so), or brings it
  // to the front.
  virtual void ShowForm(TForm* form) = 0;
  // Shows a form modally; returns once the form is no longer visible.
  virtual void ShowModal(TForm* form) = 0;
  virtual void HideForm(TForm* form) = 0;
  virtual void Repaint(TForm* form) = 0;

  // The error display, and a plain information box.
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // The busy indicator on its owning form, with an optional caption. Shown while shown only
  // changes its caption; one hide hides it.
  virtual void ShowBusy(TForm* owner, int animation, const std::string& caption) = 0;
  virtual void HideBusy() = 0;
  virtual void SetCursor(TCursor cursor) = 0;

  // List picker over `rows`: `marked` comes in with the keys marked before and goes out with the
  // keys the user marked. False when the user cancelled.
  virtual bool PickList(TDataSet* rows, const std::string& keyField, const std::string& title,
                        std::vector<std::string>& marked) = 0;
  // Record search: the user picks one of request.Columns (request.FieldName comes in with the
  // grid's selected column), types a value and chooses how it matches. False when cancelled.
  virtual bool SearchRecord(TDataSet* dataSet, TSearchRequest& request) = 0;
  // Product look-up over `rows`: the user picks a row (0-based). False when cancelled.
  virtual bool LookupProduct(TDataSet* rows, const std::string& codeField,
                             const std::string& nameField, int& row) = 0;
  // Loads and starts another host module; false when it is not installed.
  virtual bool LoadModule(const std::string& name) = 0;
  // The sort dialog: the user chooses the columns (request.Fields). False when cancelled; a
  // front end without the dialog cancels.
  virtual bool ChooseSort(TSortRequest&) { return false; }
  // A form was built and its create handler is about to run: a front end that keeps what the
  // user arranged on the screens puts back what belongs to the model, the order each grid's data
  // set was sorted in, so that the first rows loaded come in that order.
  virtual void FormCreating(TForm*) {}
  // Shows the help of a screen or module by its code ("CMP09500", "SUP00700"); false when the
  // front end has none installed for it.
  virtual bool ShowHelp(const std::string& topic) {
    (void)topic;
    return false;
  }
};

}  // namespace fw
