// The framework's dialogs over a data set: the list picker, the record search and the product
// look-up. Each reads the rows it is given (never moving their cursor) and reports the user's
// answer; what the answer does to the data is the framework's business.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "framework/data/dataset.h"
#include "framework/platform.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSortFilterProxyModel;
class QTableView;

namespace hostapp {

class PickListModel;

// Rows with check boxes: "Filtrar", "Marcar todos", "Limpar", "Confirmar", "Cancelar". Space
// marks or clears the row under the cursor, whichever of its cells is current; a double-click
// does too. "Filtrar" shows the rows whose code or name holds what is typed (case and accents
// aside); "Marcar todos" and "Limpar" then act on the rows shown, and marks of rows hidden by
// the filter stay as they are.
class PickListDialog : public QDialog {
 public:
  // `marked`: the keys marked when the dialog opens.
  PickListDialog(fw::TDataSet* rows, const std::string& keyField, const std::string& title,
                 const std::vector<std::string>& marked, QWidget* parent = nullptr);
  // The keys of the marked rows, in row order.
  std::vector<std::string> Marked() const;
  QTableView* Table() const { return table_; }
  QLineEdit* Filter() const { return filter_; }
  // The rows the filter lets through.
  int VisibleRows() const;
  void MarkAll(bool marked);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  PickListModel* model_;
  QSortFilterProxyModel* proxy_;
  QLineEdit* filter_;
  QTableView* table_;
};

// "Procurar": a column of the grid (by its title), the value and how it matches ("Começa com" or
// "Contém"). "Procurar" is enabled while the value holds more than blanks.
class SearchDialog : public QDialog {
 public:
  // `request`: the columns offered and, as chosen before, the field, value and matching.
  explicit SearchDialog(const fw::TSearchRequest& request, QWidget* parent = nullptr);
  // The request with the user's answers.
  fw::TSearchRequest Request() const;
  QComboBox* Fields() const { return fields_; }
  QLineEdit* ValueEdit() const { return value_; }
  QRadioButton* StartsWith() const { return startsWith_; }
  QRadioButton* Contains() const { return contains_; }
  QPushButton* SearchButton() const { return search_; }

 private:
  fw::TSearchRequest request_;
  QComboBox* fields_;
  QLineEdit* value_;
  QRadioButton* startsWith_;
  QRadioButton* contains_;
  QPushButton* search_;
};

// "Ordenar": up to three columns of the grid ("Ordenar por", "Depois por", "Depois por"), each
// ascending or, with "Decrescente", descending; "(nenhuma)" ends the list. "Ordem original"
// empties it: the order the server sent.
class SortDialog : public QDialog {
 public:
  explicit SortDialog(const fw::TSortRequest& request, QWidget* parent = nullptr);
  // The fields chosen, in order; a column chosen twice counts once.
  std::vector<fw::TIndexField> Fields() const;
  QComboBox* Column(int level) const { return columns_[static_cast<size_t>(level)]; }
  QCheckBox* Descending(int level) const { return descending_[static_cast<size_t>(level)]; }
  QPushButton* SortButton() const { return sort_; }
  QPushButton* OriginalOrderButton() const { return original_; }

 private:
  std::vector<QComboBox*> columns_;
  std::vector<QCheckBox*> descending_;
  QPushButton* sort_;
  QPushButton* original_;
};

// Products by code and name; typing filters the list; Up, Down, PgUp and PgDn in the filter move
// the list's cursor.
class ProductLookupDialog : public QDialog {
 public:
  ProductLookupDialog(fw::TDataSet* rows, const std::string& codeField,
                      const std::string& nameField, QWidget* parent = nullptr);
  // The chosen row of the data set (0-based); -1 when none is selected.
  int ChosenRow() const;
  QLineEdit* Filter() const { return filter_; }
  QTableView* Table() const { return table_; }
  int VisibleRows() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* filter_;
  QTableView* table_;
  QSortFilterProxyModel* proxy_;
};

}  // namespace hostapp
