// Host controls: the date edit, the look-up button, the flat button.
#pragma once

#include <string>
#include <vector>

#include "framework/ui/application.h"

namespace fw {

// Date edit: text "dd/mm/yyyy" (blank when no date), with a calendar button in the views.
class TDateEditPlus : public TEdit {
 public:
  TDateEditPlus(TComponent* owner, std::string name);
  bool SaveTime = false;
  TColor ValidDateColor = clBlue;
  std::vector<std::string> DayNames;
  // The typed date; a blank or unreadable text gives the zero date (30/12/1899), which is not
  // later than any date that can be typed.
  double GetDate() const;
  void SetDate(double date);
  // Reports an invalid typed date (InvalidDateMessage: "Data inválida: 31/02/2024.", "Data
  // incompleta: 01/03/____. Falta o ano.") and aborts; blank is valid.
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
