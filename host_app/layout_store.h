// What the user arranged on each screen, kept per login and screen in the user's configuration
// folder, so that the screen opens again as it was left, in the next session too: each grid's
// column order, widths, hidden columns and sort, the splitters, and the window's geometry and
// maximized state.
//
// One QSettings file (INI), by default "acomp/telas.ini" in the user's configuration folder
// (~/.config on Linux). Groups: the login (percent-encoded; "-" when nobody logged in), then the
// form's name, then the grid's:
//
//   [demo]
//   frmAcompSoli/dbgItens/colunas=NRSOLICMP, STATUS, ...     (every column, in the view's order)
//   frmAcompSoli/dbgItens/ocultas=CDFILLAN
//   frmAcompSoli/dbgItens/larguras/NMDESTSOLI=180
//   frmAcompSoli/dbgItens/ordem=DTPROGENTR desc, NMDESTSOLI  (empty: the service's order)
//   frmAcompSoli/divisores/panItens=-40
//   frmAcompSoli/janela/geometria=@Rect(10 10 1036 527), frmAcompSoli/janela/maximizada=true
//
// Names the screens no longer have are the caller's to ignore; a file that cannot be read or
// written is no error (the screens open as designed).
#pragma once

#include <QMap>
#include <QRect>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "framework/data/dataset.h"

namespace hostapp {

class LayoutStore {
 public:
  // The user's own file when `file` is empty.
  explicit LayoutStore(const QString& file = {});
  QString FileName() const { return settings_->fileName(); }

  struct Columns {
    QStringList Order;  // fields, every column in the view's order; empty: as designed
    QStringList Hidden;
    QMap<QString, int> Widths;  // pixels, by field: those the user dragged
  };
  Columns GridColumns(const QString& form, const QString& grid) const;
  void SetGridColumns(const QString& form, const QString& grid, const Columns& columns);
  void ForgetGridColumns(const QString& form, const QString& grid);

  // The order kept for a grid's data set; nullopt when none was ever chosen there.
  std::optional<std::vector<fw::TIndexField>> GridSort(const QString& form,
                                                       const QString& grid) const;
  void SetGridSort(const QString& form, const QString& grid,
                   const std::vector<fw::TIndexField>& fields);

  // How far the user dragged each splitter's neighbour, by the neighbour's name.
  QMap<QString, int> Splitters(const QString& form) const;
  void SetSplitter(const QString& form, const QString& control, int delta);

  struct Window {
    QRect Geometry;  // the normal (not maximized) one
    bool Maximized = false;
  };
  std::optional<Window> FormWindow(const QString& form) const;
  void SetFormWindow(const QString& form, const Window& window);

 private:
  // The login's group and the form's: "demo/frmAcompSoli/".
  QString Prefix(const QString& form) const;

  std::unique_ptr<QSettings> settings_;
};

}  // namespace hostapp
