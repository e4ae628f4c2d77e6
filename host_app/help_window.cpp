#include "host_app/help_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <functional>

#include "framework/platform.h"
#include "framework/ui/controls.h"
#include "framework/ui/forms.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"

namespace hostapp {

namespace {

struct TTopic {
  const char* Code;  // "" for the index
  const char* Title;
};

// In the order the list shows them.
const TTopic kTopics[] = {
    {"", "Índice"},
    {"CMP09500", "Solicitações (CMP09500)"},
    {"CMP09501", "Itens de Solicitação (CMP09501)"},
    {"SUP00700", "Relatório (SUP00700)"},
};

QString FileOf(const QString& topic) {
  return topic.isEmpty() ? QStringLiteral("index.html") : topic.toLower() + QStringLiteral(".html");
}

QPointer<HelpWindow>& Instance() {
  static QPointer<HelpWindow> window;
  return window;
}

// The browser tells of every page it goes to as soon as it is there, however it got there.
class HelpBrowser : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  std::function<void()> OnPage;

 protected:
  void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override {
    QTextBrowser::doSetSource(name, type);
    if (OnPage) OnPage();
  }
};

class HelpKey : public QObject {
 public:
  HelpKey(QtBinding& binding, fw::IPlatform& platform, QObject* owner)
      : QObject(owner), binding_(binding), platform_(platform), owner_(owner) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    const fw::TControl* control = nullptr;
    for (QWidget* part = widget; part && !control; part = part->parentWidget())
      control = binding_.ControlAt(part);
    std::string topic;
    if (control && control->Form()) {
      topic = FromQt(ScreenCode(control->Form()));
    } else if (widget->window() != owner_) {
      return false;  // another window's F1 is its own
    }
    if (!platform_.ShowHelp(topic))
      platform_.ShowMessage(topic.empty() ? std::string("A ajuda não está instalada.")
                                          : "A ajuda da tela " + topic + " não está instalada.");
    return true;
  }

 private:
  QtBinding& binding_;
  fw::IPlatform& platform_;
  QObject* owner_;
};

}  // namespace

QString ScreenCode(const fw::TForm* form) {
  const auto* label =
      form ? dynamic_cast<const fw::TLabel*>(form->FindComponent("lblCodTela")) : nullptr;
  return label ? ToQt(label->Caption()) : QString();
}

void InstallHelpKey(QtBinding& binding, fw::IPlatform& platform, QObject* owner) {
  qApp->installEventFilter(new HelpKey(binding, platform, owner));
}

QString HelpWindow::Folder() {
  const QDir here(QCoreApplication::applicationDirPath());
  for (const QString& candidate : {here.filePath(QStringLiteral("ajuda")),
                                   here.filePath(QStringLiteral("../share/acomp/ajuda"))})
    if (QFileInfo::exists(QDir(candidate).filePath(QStringLiteral("index.html"))))
      return QDir(candidate).canonicalPath();
  return {};
}

QString HelpWindow::PageOf(const QString& topic) {
  const QString folder = Folder();
  if (folder.isEmpty()) return {};
  const QString page = QDir(folder).filePath(FileOf(topic));
  return QFileInfo::exists(page) ? page : QString();
}

HelpWindow* HelpWindow::Current() {
  return Instance().data();
}

HelpWindow* HelpWindow::ShowTopic(const QString& topic, QWidget* parent) {
  if (PageOf(topic).isEmpty()) return nullptr;
  QPointer<HelpWindow>& window = Instance();
  // Asked from the help window itself (it is the active one), the help stays where it is.
  if (window && parent && (parent == window || window->isAncestorOf(parent)))
    parent = window->parentWidget();
  // A window that belongs to another window than the one asking would be blocked by a modal one
  // (or go away with it): the help moves to the one asking.
  if (window && window->parentWidget() != parent) {
    window->deleteLater();
    window->hide();
    window = nullptr;
  }
  if (!window) {
    window = new HelpWindow(Folder(), parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->Open(topic);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

HelpWindow::HelpWindow(const QString& folder, QWidget* parent)
    : QDialog(parent, Qt::Window),
      folder_(folder),
      topics_(new QListWidget(this)),
      browser_(new HelpBrowser(this)) {
  setWindowTitle(QStringLiteral("Ajuda - Compras"));
  setModal(false);
  for (const TTopic& topic : kTopics) {
    auto* item = new QListWidgetItem(QString::fromUtf8(topic.Title), topics_);
    item->setData(Qt::UserRole, QString::fromUtf8(topic.Code));
  }
  topics_->setMinimumWidth(200);
  browser_->setSearchPaths({folder_});
  browser_->setOpenExternalLinks(false);
  browser_->setOpenLinks(true);

  auto* splitter = new QSplitter(this);
  splitter->addWidget(topics_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({210, 650});

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* back = buttons->addButton(QStringLiteral("&Voltar"), QDialogButtonBox::ActionRole);
  QPushButton* forward =
      buttons->addButton(QStringLiteral("&Avançar"), QDialogButtonBox::ActionRole);
  buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  connect(topics_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    const QString topic = topics_->item(row)->data(Qt::UserRole).toString();
    if (topic != Topic())
      browser_->setSource(QUrl::fromLocalFile(QDir(folder_).filePath(FileOf(topic))));
  });
  static_cast<HelpBrowser*>(browser_)->OnPage = [this] { Follow(); };
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] { Follow(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addWidget(buttons);
  resize(900, 620);
}

QString HelpWindow::Topic() const {
  const QString file = QFileInfo(browser_->source().path()).completeBaseName();
  return file == QStringLiteral("index") ? QString() : file.toUpper();
}

void HelpWindow::Open(const QString& topic) {
  browser_->setSource(QUrl::fromLocalFile(QDir(folder_).filePath(FileOf(topic))));
  Follow();
}

void HelpWindow::Follow() {
  // The list marks the page in view, whichever way it was reached (a link, Voltar).
  const QString topic = Topic();
  for (int row = 0; row < topics_->count(); ++row)
    if (topics_->item(row)->data(Qt::UserRole).toString() == topic) {
      const QSignalBlocker block(topics_);
      topics_->setCurrentRow(row);
    }
  setWindowTitle(QStringLiteral("Ajuda - ") + browser_->documentTitle());
}

}  // namespace hostapp
