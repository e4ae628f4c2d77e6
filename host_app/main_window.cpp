#include "host_app/main_window.h"

#include <QApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTranslator>

#include "framework/ui/application.h"
#include "host_app/conversions.h"
#include "host_app/help_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/status_bar.h"

namespace hostapp {

bool InstallPortugueseTexts() {
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  static QTranslator* translator = nullptr;
  if (translator) return true;
  auto* loaded = new QTranslator(qApp);
  if (!loaded->load(QStringLiteral("qtbase_pt_BR"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete loaded;
    return false;
  }
  QCoreApplication::installTranslator(loaded);
  translator = loaded;
  return true;
}

MainWindow::MainWindow(ModuleLoader& loader, QWidget* parent)
    : QMainWindow(parent), loader_(loader), area_(new QMdiArea(this)) {
  setWindowTitle(QStringLiteral("Compras"));
  QApplication::setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  setCentralWidget(area_);
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  binding_ = std::make_unique<QtBinding>(area_);
  platform_ = std::make_unique<QtPlatform>(*binding_, &loader_, this);
  fw::InitApplication()->SetPlatform(platform_.get());

  QMenu* purchases = menuBar()->addMenu(QStringLiteral("&Compras"));
  QAction* tracking = purchases->addAction(QStringLiteral("&Acompanhamento da Solicitação"));
  connect(tracking, &QAction::triggered, this, [this] { OpenRequestTracking(); });
  purchases->addSeparator();
  QAction* quit = purchases->addAction(QStringLiteral("Sai&r"));
  connect(quit, &QAction::triggered, this, &QWidget::close);
  QMenu* help = menuBar()->addMenu(QStringLiteral("A&juda"));
  QAction* contents = help->addAction(QStringLiteral("&Conteúdo"));
  contents->setToolTip(QStringLiteral("F1 numa tela abre a ajuda da tela"));
  connect(contents, &QAction::triggered, this, [this] { platform_->ShowHelp(std::string()); });
  QAction* about = help->addAction(QStringLiteral("&Sobre"));
  connect(about, &QAction::triggered, this, [this] { ShowAbout(); });
  status_ = new WindowStatus(statusBar(), this);
  InstallHelpKey(*binding_, *platform_, this);
  statusBar()->showMessage(QStringLiteral("Pronto"));
  resize(kDesignedSize);
}

QSize MainWindow::SizeFor(const QSize& available) {
  return kDesignedSize.boundedTo(available - kFrameAllowance);
}

void MainWindow::ShowOnScreen() {
  if (const QScreen* display = screen()) {
    const QRect free = display->availableGeometry();
    resize(SizeFor(free.size()));
    move(free.topLeft());
  }
  show();
}

MainWindow::~MainWindow() {
  if (fw::Application && fw::Application->Platform() == platform_.get())
    fw::Application->SetPlatform(nullptr);
}

void MainWindow::SetAccount(const std::string& login, const fw::TAccountScope& scope) {
  scope_ = scope;
  status_->SetUser(ToQt(login));
  status_->SetScope(ToQt(fw::ScopeText(scope)));
}

QString MainWindow::AccountText() const {
  return status_->AccountText();
}

bool MainWindow::OpenRequestTracking() {
  if (scope_.ReadsNothing()) {
    platform_->ShowMessage(fw::kNoBranchAccess);
    return false;
  }
  const ModuleLoader::Result result = loader_.Run(kTrackingPackage, kTrackingEntry);
  if (result.Outcome == ModuleLoader::Status::Started) return true;
  platform_->ShowError(result.Message);
  return false;
}

void MainWindow::ShowAbout() {
  const QString text = QStringLiteral(
      "<b>Compras</b><br><br>"
      "Módulo de acompanhamento de solicitações de compra:<br>"
      "CMP09500 — Acompanhamento da Solicitação<br>"
      "CMP09501 — Acompanhamento de Itens de Solicitação");
  if (!platform_->Interactive) return;
  QMessageBox::about(this, QStringLiteral("Sobre"), text);
}

}  // namespace hostapp
