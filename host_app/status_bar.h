// The main window's status bar: who is logged in (and, once accounts have scopes, what they may
// read), the application server in use, and how many records the grid in view holds.
//
// The record count follows the model (an observer of its changes, like the binding): after each
// load of a data set, each focus move and each change of tab it says "N registros" of the grid
// in view, "Nenhum registro encontrado." when that grid's data set is open without rows (a query
// that found nothing), and nothing while the grid is closed (the filter being edited). The grid
// in view is the focused grid of the active form, else the first of its grids that is showing
// (on the tab in view).
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>

#include "framework/data/component.h"

class QStatusBar;

namespace fw {
class TDBGrid;
}

namespace hostapp {

class WindowStatus : public QObject, public fw::IModelObserver {
 public:
  // Adds its labels to `bar` (permanent, on the right) and starts watching the model.
  explicit WindowStatus(QStatusBar* bar, QObject* parent = nullptr);
  ~WindowStatus() override;

  // The logged-in user's login ("demo").
  void SetUser(const QString& login);
  // What the user may read ("todas as filiais"), shown after the login: "demo · todas as
  // filiais". Empty: the login alone.
  void SetScope(const QString& scope);
  // The server calls go to ("127.0.0.1:7450"); `secure` when over TLS.
  void SetServer(const QString& address, bool secure);

  QLabel* UserLabel() const { return user_; }
  // The login and what it reads, as the label shows them after "Usuário: " ("demo · todas as
  // filiais").
  QString AccountText() const;
  QLabel* ServerLabel() const { return server_; }
  QLabel* RecordsLabel() const { return records_; }

  // The text for the grid in view of the active form; empty for none or a closed grid.
  static QString RecordsText(const fw::TDBGrid* grid);
  // The grid in view of the active form (nullptr for none).
  static const fw::TDBGrid* GridInView();

  void ModelChanged(fw::TComponent* component, fw::TChange change) override;
  // Reads the model again now (the observer does it once the current event is over).
  void Update();

 private:
  void ShowUser();

  QPointer<QLabel> user_;
  QPointer<QLabel> server_;
  QPointer<QLabel> records_;
  QString login_;
  QString scope_;
  bool pending_ = false;
};

}  // namespace hostapp
