#include "host_app/qt_platform.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "host_app/conversions.h"
#include "host_app/dialogs.h"
#include "host_app/module_loader.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

QtPlatform::QtPlatform(QtBinding& binding, ModuleLoader* loader, QWidget* mainWindow)
    : binding_(binding), loader_(loader), mainWindow_(mainWindow) {}

QtPlatform::~QtPlatform() {
  HideBusy();
  SetCursor(fw::TCursor::crDefault);
  delete busy_;
}

BusyOverlay* QtPlatform::Busy() const {
  return busy_ && busy_->isVisible() ? busy_.data() : nullptr;
}

void QtPlatform::ShowForm(fw::TForm* form) {
  binding_.ShowForm(form);
}
void QtPlatform::ShowModal(fw::TForm* form) {
  binding_.ShowModal(form);
}
void QtPlatform::HideForm(fw::TForm* form) {
  binding_.HideForm(form);
}
void QtPlatform::Repaint(fw::TForm* form) {
  binding_.Repaint(form);
}

QWidget* QtPlatform::DialogParent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return mainWindow_;
}

void QtPlatform::Box(bool error, const std::string& text) {
  Messages.push_back(text);
  if (!Interactive) {
    std::fprintf(stderr, "%s: %s\n", error ? "Atenção" : "Informação", text.c_str());
    return;
  }
  // The busy veil must not cover the message that explains why the call stopped.
  const bool busyShown = busy_ && busy_->isVisible();
  if (busyShown) busy_->hide();
  QMessageBox box(error ? QMessageBox::Warning : QMessageBox::Information,
                  error ? QStringLiteral("Atenção") : QStringLiteral("Informação"), ToQt(text),
                  QMessageBox::NoButton, DialogParent());
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
  if (busyShown && busy_) busy_->show();
}

void QtPlatform::ShowError(const std::string& text) {
  Box(true, text);
}

void QtPlatform::ShowMessage(const std::string& text) {
  Box(false, text);
}

void QtPlatform::ShowBusy(fw::TForm* owner, int /*animation*/, const std::string& caption) {
  // On the owning form when it is on screen; a form still being created has no window yet.
  QWidget* host = owner ? binding_.RootOf(owner) : nullptr;
  if (!host || !host->isVisible()) host = QApplication::activeWindow();
  if (!host) host = mainWindow_;
  if (!host) return;
  if (!busy_ || busy_->parentWidget() != host) {
    delete busy_;
    busy_ = new BusyOverlay(host);
  }
  busy_->SetCaption(ToQt(caption));
  if (!busyCursor_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
  }
  busy_->show();
  busy_->raise();
  // Painted now: the remote call that follows blocks the event loop.
  busy_->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtPlatform::HideBusy() {
  if (busy_) busy_->hide();
  if (busyCursor_) {
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
  }
}

void QtPlatform::SetCursor(fw::TCursor cursor) {
  const bool wait = cursor == fw::TCursor::crHourGlass;
  if (wait == waitCursor_) return;
  waitCursor_ = wait;
  if (wait) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

bool QtPlatform::PickList(fw::TDataSet* rows, const std::string& keyField, const std::string& title,
                          std::vector<std::string>& marked) {
  if (!Interactive || !rows) return false;
  PickListDialog dialog(rows, keyField, title, marked, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  marked = dialog.Marked();
  return true;
}

bool QtPlatform::SearchRecord(fw::TDataSet* dataSet, std::string& fieldName, std::string& value) {
  if (!Interactive || !dataSet) return false;
  SearchDialog dialog(dataSet, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  fieldName = dialog.FieldName();
  value = dialog.Value();
  return !fieldName.empty();
}

bool QtPlatform::LookupProduct(fw::TDataSet* rows, const std::string& codeField,
                               const std::string& nameField, int& row) {
  if (!Interactive || !rows) return false;
  ProductLookupDialog dialog(rows, codeField, nameField, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  row = dialog.ChosenRow();
  return row >= 0;
}

bool QtPlatform::LoadModule(const std::string& name) {
  if (!loader_) return false;
  const ModuleLoader::Result result = loader_->StartModule(name);
  switch (result.Outcome) {
    case ModuleLoader::Status::Started:
      return true;
    case ModuleLoader::Status::NotInstalled:
      // The framework says plainly that the module is not installed.
      return false;
    case ModuleLoader::Status::Broken:
      ShowError(result.Message);
      return true;
  }
  return false;
}

}  // namespace hostapp
