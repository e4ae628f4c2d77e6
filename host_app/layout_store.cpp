#include "host_app/layout_store.h"

#include <QUrl>

#include "framework/host/config.h"
#include "host_app/conversions.h"

namespace hostapp {

LayoutStore::LayoutStore(const QString& file)
    : settings_(file.isEmpty()
                    ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                  QStringLiteral("acomp"), QStringLiteral("telas"))
                    : std::make_unique<QSettings>(file, QSettings::IniFormat)) {}

QString LayoutStore::Prefix(const QString& form) const {
  const std::string& login = fw::HostConfig().Credentials.Login;
  // A login is the user's to choose: encoded, it never reads as a group separator.
  const QString user = login.empty() ? QStringLiteral("-")
                                     : QString::fromLatin1(QUrl::toPercentEncoding(ToQt(login)));
  return user + QLatin1Char('/') + form + QLatin1Char('/');
}

LayoutStore::Columns LayoutStore::GridColumns(const QString& form, const QString& grid) const {
  const QString key = Prefix(form) + grid + QLatin1Char('/');
  Columns columns;
  columns.Order = settings_->value(key + QStringLiteral("colunas")).toStringList();
  columns.Hidden = settings_->value(key + QStringLiteral("ocultas")).toStringList();
  settings_->beginGroup(key + QStringLiteral("larguras"));
  for (const QString& field : settings_->childKeys()) {
    bool number = false;
    const int width = settings_->value(field).toInt(&number);
    if (number && width > 0) columns.Widths.insert(field, width);
  }
  settings_->endGroup();
  return columns;
}

void LayoutStore::SetGridColumns(const QString& form, const QString& grid, const Columns& columns) {
  ForgetGridColumns(form, grid);
  const QString key = Prefix(form) + grid + QLatin1Char('/');
  if (!columns.Order.isEmpty()) settings_->setValue(key + QStringLiteral("colunas"), columns.Order);
  if (!columns.Hidden.isEmpty())
    settings_->setValue(key + QStringLiteral("ocultas"), columns.Hidden);
  for (auto width = columns.Widths.begin(); width != columns.Widths.end(); ++width)
    settings_->setValue(key + QStringLiteral("larguras/") + width.key(), width.value());
  settings_->sync();
}

void LayoutStore::ForgetGridColumns(const QString& form, const QString& grid) {
  const QString key = Prefix(form) + grid + QLatin1Char('/');
  for (const char* name : {"colunas", "ocultas", "larguras"})
    settings_->remove(key + QLatin1String(name));
  settings_->sync();
}

std::optional<std::vector<fw::TIndexField>> LayoutStore::GridSort(const QString& form,
                                                                  const QString& grid) const {
  const QString key = Prefix(form) + grid + QStringLiteral("/ordem");
  if (!settings_->contains(key)) return std::nullopt;
  std::vector<fw::TIndexField> fields;
  for (const QString& entry : settings_->value(key).toStringList()) {
    const QStringList words = entry.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) continue;
    fields.push_back({FromQt(words[0]), words.size() > 1 && words[1] == QStringLiteral("desc")});
  }
  return fields;
}

void LayoutStore::SetGridSort(const QString& form, const QString& grid,
                              const std::vector<fw::TIndexField>& fields) {
  QStringList entries;
  for (const fw::TIndexField& field : fields)
    entries << ToQt(field.FieldName) + (field.Descending ? QStringLiteral(" desc") : QString());
  // An empty list is stored too: the service's order, chosen.
  settings_->setValue(Prefix(form) + grid + QStringLiteral("/ordem"),
                      entries.isEmpty() ? QVariant(QString()) : QVariant(entries));
  settings_->sync();
}

QMap<QString, int> LayoutStore::Splitters(const QString& form) const {
  QMap<QString, int> deltas;
  settings_->beginGroup(Prefix(form) + QStringLiteral("divisores"));
  for (const QString& control : settings_->childKeys()) {
    bool number = false;
    const int delta = settings_->value(control).toInt(&number);
    if (number) deltas.insert(control, delta);
  }
  settings_->endGroup();
  return deltas;
}

void LayoutStore::SetSplitter(const QString& form, const QString& control, int delta) {
  settings_->setValue(Prefix(form) + QStringLiteral("divisores/") + control, delta);
  settings_->sync();
}

std::optional<LayoutStore::Window> LayoutStore::FormWindow(const QString& form) const {
  const QString key = Prefix(form) + QStringLiteral("janela/");
  const QRect geometry = settings_->value(key + QStringLiteral("geometria")).toRect();
  if (!geometry.isValid()) return std::nullopt;
  return Window{geometry, settings_->value(key + QStringLiteral("maximizada")).toBool()};
}

void LayoutStore::SetFormWindow(const QString& form, const Window& window) {
  if (!window.Geometry.isValid()) return;
  const QString key = Prefix(form) + QStringLiteral("janela/");
  settings_->setValue(key + QStringLiteral("geometria"), window.Geometry);
  settings_->setValue(key + QStringLiteral("maximizada"), window.Maximized);
  settings_->sync();
}

}  // namespace hostapp
