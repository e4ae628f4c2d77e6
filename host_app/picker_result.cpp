#include "host_app/picker_result.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <algorithm>

#include "framework/data/dataset.h"
#include "framework/ui/controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"

namespace hostapp {

namespace {

// The longest list a tooltip shows; past it, how many more.
constexpr size_t kTooltipLines = 40;

bool SameRow(const fw::TControl* a, const fw::TControl* b) {
  return a->Top() < b->Top() + b->Height() && b->Top() < a->Top() + a->Height();
}

// `later` sits after `group` in the tab order of the container they share.
bool Later(const fw::TWinControl* later, const fw::TWinControl* group) {
  return later != group && later->Parent() && later->Parent() == group->Parent() &&
         later->TabOrder() > group->TabOrder();
}

// "0001 — Matriz" for each key marked: the first field shown beside the key gives the name.
QString NamesOf(fw::TDataSet* rows, const std::string& keyField,
                const std::vector<std::string>& marked) {
  const fw::TField* key = rows ? rows->FindField(keyField) : nullptr;
  const fw::TField* name = nullptr;
  if (rows)
    for (const fw::TField* field : rows->Fields())
      if (field != key && field->Visible && field->FieldName() != "IDMARCADO" &&
          field->DataType() == fw::TFieldType::ftString) {
        name = field;
        break;
      }
  QStringList lines;
  lines << QStringLiteral("Marcados: %1").arg(QLocale().toString(static_cast<int>(marked.size())));
  for (size_t i = 0; i < marked.size() && i < kTooltipLines; ++i) {
    QString line = ToQt(marked[i]);
    for (int row = 0; key && name && row < rows->RecordCount(); ++row) {
      const fw::TDataSet::TRowScope scope(rows, static_cast<size_t>(row));
      if (key->AsString() == marked[i]) {
        line += QStringLiteral(" — ") + ToQt(name->DisplayText());
        break;
      }
    }
    lines << line;
  }
  if (marked.size() > kTooltipLines)
    lines << QStringLiteral("… e mais %1").arg(marked.size() - kTooltipLines);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

PickerResults::PickerResults(QtBinding& binding, QObject* parent)
    : QObject(parent), binding_(binding) {
  fw::AddModelObserver(this);
}

PickerResults::~PickerResults() {
  fw::RemoveModelObserver(this);
  for (TResult& result : results_) delete result.Label.data();
}

QString PickerResults::Summary(const std::vector<std::string>& marked) {
  QStringList codes;
  for (const std::string& key : marked) codes << ToQt(key);
  return QStringLiteral("%1: %2").arg(marked.size()).arg(codes.join(QStringLiteral(", ")));
}

void PickerResults::Forget(size_t index) {
  delete results_[index].Label.data();
  results_.erase(results_.begin() + static_cast<std::ptrdiff_t>(index));
}

QLabel* PickerResults::LabelIn(const fw::TControl* control) const {
  const fw::TWinControl* group = control ? control->Parent() : nullptr;
  if (const auto* own = dynamic_cast<const fw::TWinControl*>(control);
      own && std::any_of(results_.begin(), results_.end(),
                         [own](const TResult& result) { return result.Group == own; }))
    group = own;
  for (const TResult& result : results_)
    if (result.Group == group) return result.Label;
  return nullptr;
}

void PickerResults::Picked(const fw::TControl* anchor, fw::TDataSet* rows,
                           const std::string& keyField, const std::vector<std::string>& marked) {
  const fw::TWinControl* group = anchor ? anchor->Parent() : nullptr;
  if (!group) return;
  // This group's earlier result, and those of later groups, which a new choice here makes stale.
  for (size_t i = results_.size(); i-- > 0;)
    if (results_[i].Group == group || Later(results_[i].Group, group)) Forget(i);
  if (marked.empty()) return;

  TResult result;
  result.Group = group;
  // The row ends with the last control level with the anchor ("Lista", then its button).
  const fw::TControl* last = anchor;
  for (const fw::TControl* child : group->Controls()) {
    if (const auto* radio = dynamic_cast<const fw::TRadioButton*>(child); radio && radio->Checked())
      result.Radio = radio;
    if (child->Visible() && SameRow(child, anchor) &&
        child->Left() + child->Width() > last->Left() + last->Width())
      last = child;
  }
  QWidget* end = binding_.WidgetOf(last);
  QWidget* host = end ? end->parentWidget() : nullptr;
  if (!host) return;

  const QRect at = end->geometry();
  const int left = at.right() + 4;
  const int width = std::max(host->contentsRect().right() - left, 14);
  auto* label = new QLabel(host);
  label->setObjectName(QStringLiteral("resultadoSelecao"));
  QFont font = label->font();
  font.setPixelSize(std::max(font.pixelSize() > 0 ? font.pixelSize() - 1 : 10, 9));
  label->setFont(font);
  label->setGeometry(left, at.y(), width, at.height());
  const QString summary = Summary(marked);
  label->setText(QFontMetrics(font).elidedText(summary, Qt::ElideRight, width));
  label->setToolTip(NamesOf(rows, keyField, marked));
  label->setAccessibleName(summary);
  label->show();
  label->raise();
  result.Label = label;
  results_.push_back(result);
}

void PickerResults::ModelChanged(fw::TComponent* component, fw::TChange change) {
  if (change != fw::TChange::Property && change != fw::TChange::Destroyed) return;
  for (size_t i = results_.size(); i-- > 0;) {
    const TResult& result = results_[i];
    const bool gone = change == fw::TChange::Destroyed &&
                      (component == result.Radio || component == result.Group);
    const bool dropped =
        change == fw::TChange::Property && component == result.Radio && !result.Radio->Checked();
    if (gone || dropped) Forget(i);
  }
}

}  // namespace hostapp
