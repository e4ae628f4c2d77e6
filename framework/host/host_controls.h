// Host controls: the date edit, the look-up button, the flat button.
#pragma once

#include <string>
#include <vector>

#include "framework/ui/application.h"

namespace fw {

// The date of a blank date edit: 01/01/0001 00:00, the earliest date the edit accepts (days since
// 30/12/1899). It is also the earliest date the application server accepts, so a blank edit's date
// may travel in a call whose flag says the range is not used.
inline constexpr double kBlankDate = -693593.0;

// Date edit: text "dd/mm/yyyy" (blank when no date), with a calendar button in the views.
class TDateEditPlus : public TEdit {
 public:
  TDateEditPlus(TComponent* owner, std::string name);
  bool SaveTime = false;
  TColor ValidDateColor = clBlue;
  std::vector<std::string> DayNames;
  // The typed date; a blank or unreadable text gives kBlankDate, which is not later than any
  // date the edit accepts (a blank initial date against a final 01/01/1800 is a missing date,
  // not an inverted range).
  double GetDate() const;
  void SetDate(double date);
  // Reports an invalid typed date ("Data inválida: 31/02/2024.") and aborts; blank is valid.
  void CheckValidDate();
  void Clear() { SetText({}); }
  bool HasValidDate() const;
};

// Flat tool button of the host.
class TButtonFlat : public TSpeedButton {
 public:
  using TSpeedButton::TSpeedButton;
};

// Look-up button bound to an edit and a data source: a click opens the product look-up over the
// source's rows; a choice leaves the data set's cursor on the chosen row and raises OnAfterPesq.
// With no rows it shows EmptyError.
class TBtnPesquisa : public TSpeedButton {
 public:
  using TSpeedButton::TSpeedButton;
  TEdit* Edit = nullptr;
  TDataSource* DataSource = nullptr;
  std::string CodeField;
  std::string NameField;
  std::string EmptyError;
  TNotifyEvent OnAfterPesq;
  void Click() override;
};

}  // namespace fw
