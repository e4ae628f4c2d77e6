// The framework's dialogs over a data set: the list picker, the record search and the product
// look-up. Each reads the rows it is given (never moving their cursor) and reports the user's
// answer; what the answer does to the data is the framework's business.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "framework/data/dataset.h"

class QComboBox;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace hostapp {

class PickListModel;

// Rows with check boxes: "Marcar todos", "Limpar", "Confirmar", "Cancelar".
class PickListDialog : public QDialog {
 public:
  // `marked`: the keys marked when the dialog opens.
  PickListDialog(fw::TDataSet* rows, const std::string& keyField, const std::string& title,
                 const std::vector<std::string>& marked, QWidget* parent = nullptr);
  // The keys of the marked rows, in row order.
  std::vector<std::string> Marked() const;
  QTableView* Table() const { return table_; }
  void MarkAll(bool marked);

 private:
  PickListModel* model_;
  QTableView* table_;
};

// A field and the value it should show.
class SearchDialog : public QDialog {
 public:
  explicit SearchDialog(fw::TDataSet* dataSet, QWidget* parent = nullptr);
  std::string FieldName() const;
  std::string Value() const;
  QComboBox* Fields() const { return fields_; }
  QLineEdit* ValueEdit() const { return value_; }

 private:
  QComboBox* fields_;
  QLineEdit* value_;
};

// Products by code and name; typing filters the list.
class ProductLookupDialog : public QDialog {
 public:
  ProductLookupDialog(fw::TDataSet* rows, const std::string& codeField,
                      const std::string& nameField, QWidget* parent = nullptr);
  // The chosen row of the data set (0-based); -1 when none is selected.
  int ChosenRow() const;
  QLineEdit* Filter() const { return filter_; }
  QTableView* Table() const { return table_; }
  int VisibleRows() const;

 private:
  QLineEdit* filter_;
  QTableView* table_;
  QSortFilterProxyModel* proxy_;
};

}  // namespace hostapp
