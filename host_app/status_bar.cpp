#include "host_app/status_bar.h"

#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>
#include <vector>

#include "framework/ui/application.h"
#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"

namespace hostapp {

namespace {
QLabel* AddLabel(QStatusBar* bar, const QString& tip) {
  auto* label = new QLabel(bar);
  label->setToolTip(tip);
  label->setContentsMargins(6, 0, 6, 0);
  bar->addPermanentWidget(label);
  return label;
}
}  // namespace

WindowStatus::WindowStatus(QStatusBar* bar, QObject* parent) : QObject(parent) {
  // Left to right: the records of the grid in view, the user, the server.
  records_ = AddLabel(bar, QStringLiteral("Registros da grade em exibição"));
  user_ = AddLabel(bar, QStringLiteral("Usuário conectado"));
  server_ = AddLabel(bar, QStringLiteral("Servidor de aplicação em uso"));
  user_->hide();
  server_->hide();
  fw::AddModelObserver(this);
}

WindowStatus::~WindowStatus() {
  fw::RemoveModelObserver(this);
}

void WindowStatus::SetUser(const QString& login) {
  login_ = login;
  ShowUser();
}

void WindowStatus::SetScope(const QString& scope) {
  scope_ = scope;
  ShowUser();
}

QString WindowStatus::AccountText() const {
  QString text = login_;
  if (!scope_.isEmpty()) text += QStringLiteral(" · ") + scope_;
  return text;
}

void WindowStatus::ShowUser() {
  if (!user_) return;
  user_->setText(QStringLiteral("Usuário: ") + AccountText());
  user_->setVisible(!login_.isEmpty());
}

void WindowStatus::SetServer(const QString& address, bool secure) {
  if (!server_) return;
  server_->setText(QStringLiteral("Servidor: ") + address +
                   (secure ? QStringLiteral(" (TLS)") : QString()));
  server_->setVisible(!address.isEmpty());
}

const fw::TDBGrid* WindowStatus::GridInView() {
  fw::TForm* form = fw::Application ? fw::Application->ActiveForm() : nullptr;
  if (!form || !form->Visible()) return nullptr;
  if (const auto* focused = dynamic_cast<const fw::TDBGrid*>(form->ActiveControl());
      focused && focused->Showing())
    return focused;
  // The form's grids in the order they were made: the first showing is the main one of its tab.
  std::vector<const fw::TComponent*> pending = {form};
  while (!pending.empty()) {
    const fw::TComponent* component = pending.back();
    pending.pop_back();
    if (const auto* grid = dynamic_cast<const fw::TDBGrid*>(component); grid && grid->Showing())
      return grid;
    const auto& owned = component->Components();
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) pending.push_back(*it);
  }
  return nullptr;
}

QString WindowStatus::RecordsText(const fw::TDBGrid* grid) {
  const fw::TDataSet* dataSet = grid ? grid->DataSet() : nullptr;
  if (!dataSet || !dataSet->Active()) return {};
  const int count = dataSet->RecordCount();
  if (count == 0) return QStringLiteral("Nenhum registro encontrado.");
  if (count == 1) return QStringLiteral("1 registro");
  return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(count) +
         QStringLiteral(" registros");
}

void WindowStatus::ModelChanged(fw::TComponent*, fw::TChange change) {
  // A cursor move changes no count; everything else may change the grid in view or its rows.
  if (change == fw::TChange::Cursor || pending_) return;
  pending_ = true;
  // Once the current event is over: a query loads three levels in a row, and a component being
  // freed must be gone before the model is read.
  QTimer::singleShot(0, this, [this] { Update(); });
}

void WindowStatus::Update() {
  pending_ = false;
  if (!records_) return;
  const QString text = fw::Application ? RecordsText(GridInView()) : QString();
  records_->setText(text);
  records_->setVisible(!text.isEmpty());
}

}  // namespace hostapp
