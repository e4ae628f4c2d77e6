// Unit Rel_sup00700 (dialog): the report's filter, remembered per user, and "Usar o filtro da
// tela", which reads the request screen's controls by their names.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <set>

#include "framework/host/config.h"
#include "framework/host/host_controls.h"
#include "framework/platform.h"
#include "framework/ui/application.h"
#include "protocol/datetime.h"
#include "report_module/rel_acomp_call.h"
#include "report_module/rel_acomp_preview.h"

namespace Rel_sup00700 {

namespace {

// The request screen and the parts of it the dialog reads.
constexpr const char* kRequestScreen = "frmAcompSoli";
constexpr const char* kFirstRequestDate = "depSolicitacaoIni";
constexpr const char* kLastRequestDate = "depSolicitacaoFin";
constexpr const char* kListedBranches = "cdsFilSoliGrid";

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Report(const QString& text) {
  if (fw::Application && fw::Application->Platform())
    fw::Application->Platform()->ShowError(text.toStdString());
}

void Inform(const QString& text) {
  if (fw::Application && fw::Application->Platform())
    fw::Application->Platform()->ShowMessage(text.toStdString());
}

int64_t FromQDate(const QDate& date) {
  return static_cast<int64_t>(
      std::llround(fw::EncodeDateTime({date.year(), date.month(), date.day()})));
}

QDate ToQDate(double days) {
  const fw::TDateParts parts = fw::DecodeDateTime(days);
  return {parts.Year, parts.Month, parts.Day};
}

fw::TForm* RequestScreen() {
  fw::TForm* form = fw::Application ? fw::Application->FindForm(kRequestScreen) : nullptr;
  return form && form->Visible() ? form : nullptr;
}

// Each user's section of the preferences; a login is a name a settings file may not take as
// it is ("a/b"), so it goes percent-encoded.
QString UserGroup() {
  const std::string& login = fw::HostConfig().Credentials.Login;
  return login.empty() ? QStringLiteral("_")
                       : QString::fromLatin1(QUrl::toPercentEncoding(Q(login)));
}

// A date field's day, or the message for a blank or impossible date (the field then focused).
bool ReadDay(hostapp::DateField* field, const char* missing, const char* invalid, int64_t& day,
             QString& problem) {
  if (field->IsBlank()) {
    problem = QString::fromUtf8(missing);
  } else if (!field->date().isValid()) {
    problem = QStringLiteral("%1: %2.").arg(QString::fromUtf8(invalid), field->Text());
  } else {
    day = FromQDate(field->date());
    return true;
  }
  field->Edit()->setFocus();
  return false;
}

}  // namespace

void ShowReportHelp() {
  fw::IPlatform* platform = fw::Application ? fw::Application->Platform() : nullptr;
  if (platform && !platform->ShowHelp("SUP00700"))
    platform->ShowMessage("A ajuda do relatório SUP00700 não está instalada.");
}

QString TRelAcompDialog::PreferencesFile() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath(QStringLiteral("acomp/sup00700.ini"));
}

TRelAcompDialog::TRelAcompDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kReportTitle));
  auto* box = new QVBoxLayout(this);

  auto* period = new QGroupBox(QStringLiteral("Período da solicitação"), this);
  auto* periodRow = new QHBoxLayout(period);
  first_ = new hostapp::DateField(period);
  last_ = new hostapp::DateField(period);
  reference_ = new hostapp::DateField(period);
  reference_->setToolTip(
      QStringLiteral("Dia em relação ao qual se contam os dias parados e os atrasos."));
  for (hostapp::DateField* field : {first_, last_, reference_}) field->setFixedWidth(112);
  auto* firstLabel = new QLabel(QStringLiteral("&De"), period);
  firstLabel->setBuddy(first_->Edit());
  auto* lastLabel = new QLabel(QStringLiteral("a&té"), period);
  lastLabel->setBuddy(last_->Edit());
  auto* referenceLabel = new QLabel(QStringLiteral("Data-&base"), period);
  referenceLabel->setBuddy(reference_->Edit());
  periodRow->addWidget(firstLabel);
  periodRow->addWidget(first_);
  periodRow->addWidget(lastLabel);
  periodRow->addWidget(last_);
  periodRow->addSpacing(16);
  periodRow->addWidget(referenceLabel);
  periodRow->addWidget(reference_);
  periodRow->addStretch();
  box->addWidget(period);

  screenFilter_ = new QPushButton(QStringLiteral("Usar o &filtro da tela"), this);
  screenFilter_->setToolTip(
      QStringLiteral("Copia as datas de solicitação e as filiais listadas na tela "
                     "Acompanhamento da Solicitação."));
  screenFilter_->setAutoDefault(false);
  screenFilter_->setVisible(RequestScreen() != nullptr);
  auto* screenRow = new QHBoxLayout;
  screenRow->addWidget(screenFilter_);
  screenRow->addStretch();
  box->addLayout(screenRow);

  auto* lists = new QHBoxLayout;
  auto* branchGroup = new QGroupBox(QStringLiteral("Filiais solicitantes"), this);
  auto* branchBox = new QVBoxLayout(branchGroup);
  allBranches_ = new QRadioButton(QStringLiteral("&Todas"), branchGroup);
  someBranches_ = new QRadioButton(QStringLiteral("&Selecionadas:"), branchGroup);
  allBranches_->setChecked(true);
  branches_ = new QListWidget(branchGroup);
  branches_->setEnabled(false);
  branchBox->addWidget(allBranches_);
  branchBox->addWidget(someBranches_);
  branchBox->addWidget(branches_);
  lists->addWidget(branchGroup, 3);

  auto* statusGroup = new QGroupBox(QStringLiteral("Situações dos itens"), this);
  auto* statusBox = new QVBoxLayout(statusGroup);
  statuses_ = new QListWidget(statusGroup);
  for (const TStatusName& status : Statuses()) {
    auto* item = new QListWidgetItem(QString::fromUtf8(status.Text), statuses_);
    item->setData(Qt::UserRole, QString::fromUtf8(status.Code));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
  statusBox->addWidget(statuses_);
  auto* marks = new QHBoxLayout;
  auto* all = new QPushButton(QStringLiteral("&Marcar todas"), statusGroup);
  auto* none = new QPushButton(QStringLiteral("&Limpar"), statusGroup);
  all->setAutoDefault(false);
  none->setAutoDefault(false);
  marks->addWidget(all);
  marks->addWidget(none);
  statusBox->addLayout(marks);
  lists->addWidget(statusGroup, 2);
  box->addLayout(lists, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* preview =
      buttons->addButton(QStringLiteral("&Visualizar"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
  QPushButton* help = buttons->addButton(QStringLiteral("Aj&uda"), QDialogButtonBox::HelpRole);
  help->setToolTip(QStringLiteral("Ajuda do relatório (F1)"));
  help->setAutoDefault(false);
  preview->setDefault(true);
  box->addWidget(buttons);

  connect(someBranches_, &QRadioButton::toggled, this, [this](bool some) {
    if (some) LoadBranches();
    branches_->setEnabled(someBranches_->isChecked());
  });
  auto markAll = [this](Qt::CheckState state) {
    for (int i = 0; i < statuses_->count(); ++i) statuses_->item(i)->setCheckState(state);
  };
  connect(all, &QPushButton::clicked, this, [markAll] { markAll(Qt::Checked); });
  connect(none, &QPushButton::clicked, this, [markAll] { markAll(Qt::Unchecked); });
  connect(preview, &QPushButton::clicked, this, [this] { Preview(); });
  connect(help, &QPushButton::clicked, this, [] { ShowReportHelp(); });
  connect(screenFilter_, &QPushButton::clicked, this, [this] { UseScreenFilter(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  const QDate today = QDate::currentDate();
  first_->setDate(QDate(today.year(), today.month(), 1));
  last_->setDate(today);
  reference_->setDate(today);
  Restore();
  first_->Edit()->setFocus();
  resize(660, 440);
}

void TRelAcompDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) return ShowReportHelp();
  QDialog::keyPressEvent(event);
}

bool TRelAcompDialog::LoadBranches() {
  if (branchesLoaded_) return true;
  try {
    const auto fetched = FetchBranches();
    std::set<QString> present;
    for (int i = 0; i < branches_->count(); ++i)
      present.insert(branches_->item(i)->data(Qt::UserRole).toString());
    for (const auto& [code, name] : fetched) {
      if (present.count(Q(code))) continue;
      auto* item = new QListWidgetItem(Q(code) + QStringLiteral(" — ") + Q(name), branches_);
      item->setData(Qt::UserRole, Q(code));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Unchecked);
    }
    branchesLoaded_ = true;
    return true;
  } catch (const std::exception& failure) {
    Report(QString::fromUtf8(failure.what()));
    allBranches_->setChecked(true);
    return false;
  }
}

void TRelAcompDialog::MarkBranches(const std::vector<std::pair<std::string, std::string>>& marked) {
  std::set<QString> codes;
  for (const auto& entry : marked) codes.insert(Q(entry.first));
  std::set<QString> present;
  for (int i = 0; i < branches_->count(); ++i) {
    QListWidgetItem* item = branches_->item(i);
    const QString code = item->data(Qt::UserRole).toString();
    present.insert(code);
    item->setCheckState(codes.count(code) ? Qt::Checked : Qt::Unchecked);
  }
  // A branch the list does not hold (the list could not be fetched) is still the user's choice.
  for (const auto& [code, name] : marked) {
    if (present.count(Q(code))) continue;
    auto* item = new QListWidgetItem(
        name.empty() ? Q(code) : Q(code) + QStringLiteral(" — ") + Q(name), branches_);
    item->setData(Qt::UserRole, Q(code));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
}

void TRelAcompDialog::UseScreenFilter() {
  fw::TForm* screen = RequestScreen();
  if (!screen) return;
  bool copied = false;
  const auto copyDate = [&](const char* name, hostapp::DateField* field) {
    auto* edit = dynamic_cast<fw::TDateEditPlus*>(screen->FindComponent(name));
    if (!edit || !edit->HasValidDate() || edit->Text().empty()) return;
    field->setDate(ToQDate(edit->GetDate()));
    copied = true;
  };
  copyDate(kFirstRequestDate, first_);
  copyDate(kLastRequestDate, last_);

  // The branches the screen's grid lists, read where they stand: the screen's cursor stays.
  auto* listed = dynamic_cast<fw::TDataSet*>(screen->FindComponent(kListedBranches));
  if (listed && listed->Active() && listed->RecordCount() > 0) {
    const fw::TField* code = listed->FindField("CDFILIAL");
    const fw::TField* name = listed->FindField("NMFILIAL");
    std::vector<std::pair<std::string, std::string>> branches;
    for (int row = 0; code && row < listed->RecordCount(); ++row) {
      const fw::TDataSet::TRowScope scope(listed, static_cast<size_t>(row));
      branches.emplace_back(code->AsString(), name ? name->AsString() : std::string());
    }
    // Marked whether or not the whole list can be fetched (a failure is said in a message).
    LoadBranches();
    {
      const QSignalBlocker block(someBranches_);
      someBranches_->setChecked(true);
    }
    branches_->setEnabled(true);
    MarkBranches(branches);
    copied = true;
  }
  if (!copied)
    Inform(
        QStringLiteral("A tela de acompanhamento não tem datas de solicitação nem filiais "
                       "listadas para copiar."));
}

bool TRelAcompDialog::ReadFilter(TReportFilter& filter, QString& problem) {
  if (!ReadDay(first_, "Informe a data inicial do período.", "Data inicial inválida",
               filter.FirstDay, problem) ||
      !ReadDay(last_, "Informe a data final do período.", "Data final inválida", filter.LastDay,
               problem) ||
      !ReadDay(reference_, "Informe a data-base.", "Data-base inválida", filter.ReferenceDay,
               problem))
    return false;
  if (filter.FirstDay > filter.LastDay) {
    problem = QStringLiteral("A data inicial do período não pode ser posterior à final.");
    first_->Edit()->setFocus();
    return false;
  }
  filter.Branches.clear();
  if (someBranches_->isChecked()) {
    for (int i = 0; i < branches_->count(); ++i)
      if (branches_->item(i)->checkState() == Qt::Checked)
        filter.Branches.push_back(branches_->item(i)->data(Qt::UserRole).toString().toStdString());
    if (filter.Branches.empty()) {
      problem = QStringLiteral("Marque ao menos uma filial, ou escolha todas.");
      branches_->setFocus();
      return false;
    }
  }
  filter.Statuses.clear();
  for (int i = 0; i < statuses_->count(); ++i)
    if (statuses_->item(i)->checkState() == Qt::Checked)
      filter.Statuses.push_back(statuses_->item(i)->data(Qt::UserRole).toString().toStdString());
  if (filter.Statuses.empty()) {
    problem = QStringLiteral("Marque ao menos uma situação.");
    statuses_->setFocus();
    return false;
  }
  // Every status marked is no restriction at all.
  if (filter.Statuses.size() == Statuses().size()) filter.Statuses.clear();
  return true;
}

void TRelAcompDialog::Restore() {
  QSettings settings(PreferencesFile(), QSettings::IniFormat);
  settings.beginGroup(UserGroup());
  const auto day = [&](const char* key) {
    return QDate::fromString(settings.value(QString::fromLatin1(key)).toString(), Qt::ISODate);
  };
  if (day("de").isValid()) first_->setDate(day("de"));
  if (day("ate").isValid()) last_->setDate(day("ate"));
  // A data-base other than the day it was used on was the user's choice; otherwise it is
  // today's again, so that aging and lateness count to today.
  if (day("data-base").isValid()) reference_->setDate(day("data-base"));
  if (settings.contains(QStringLiteral("situacoes"))) {
    const QStringList codes = settings.value(QStringLiteral("situacoes")).toStringList();
    for (int i = 0; i < statuses_->count(); ++i) {
      QListWidgetItem* item = statuses_->item(i);
      const bool marked = codes.isEmpty() || codes.contains(item->data(Qt::UserRole).toString());
      item->setCheckState(marked ? Qt::Checked : Qt::Unchecked);
    }
  }
  const QStringList branches = settings.value(QStringLiteral("filiais")).toStringList();
  if (!branches.isEmpty()) {
    std::vector<std::pair<std::string, std::string>> marked;
    for (const QString& code : branches) marked.emplace_back(code.toStdString(), std::string());
    someBranches_->setChecked(true);
    if (someBranches_->isChecked()) MarkBranches(marked);
  }
}

void TRelAcompDialog::Remember(const TReportFilter& filter) {
  QSettings settings(PreferencesFile(), QSettings::IniFormat);
  settings.beginGroup(UserGroup());
  const auto iso = [](int64_t day) {
    return ToQDate(static_cast<double>(day)).toString(Qt::ISODate);
  };
  settings.setValue(QStringLiteral("de"), iso(filter.FirstDay));
  settings.setValue(QStringLiteral("ate"), iso(filter.LastDay));
  if (filter.ReferenceDay != FromQDate(QDate::currentDate()))
    settings.setValue(QStringLiteral("data-base"), iso(filter.ReferenceDay));
  else
    settings.remove(QStringLiteral("data-base"));
  QStringList branches, statuses;
  for (const std::string& code : filter.Branches) branches << Q(code);
  for (const std::string& code : filter.Statuses) statuses << Q(code);
  settings.setValue(QStringLiteral("filiais"), branches);
  settings.setValue(QStringLiteral("situacoes"), statuses);
  settings.endGroup();
  settings.sync();
}

void TRelAcompDialog::Preview() {
  TReportFilter filter;
  QString problem;
  if (!ReadFilter(filter, problem)) return Report(problem);
  Remember(filter);
  std::unique_ptr<TReportData> data;
  try {
    data = std::make_unique<TReportData>(FetchReport(filter), filter);
  } catch (const std::exception& failure) {
    return Report(QString::fromUtf8(failure.what()));
  }
  if (data->RowCount() == 0)
    return Inform(QStringLiteral("Nenhum item de solicitação atende ao filtro."));
  const TReportLayout layout(*data, MadeAtNow(), ProductMask());
  TRelAcompPreview preview(layout, this);
  preview.exec();
}

}  // namespace Rel_sup00700
