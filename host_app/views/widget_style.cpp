#include "host_app/views/widget_style.h"

#include <QApplication>
#include <QWidget>

namespace hostapp {

void ApplyFont(QWidget* widget, const fw::TFont& font) {
  QFont qfont = widget->font();
  if (font.Height != 0) qfont.setPixelSize(font.Height < 0 ? -font.Height : font.Height);
  qfont.setBold(font.Bold);
  widget->setFont(qfont);
}

void SetRole(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  if (color.isValid()) {
    palette.setColor(role, color);
  } else {
    palette.setColor(role, QApplication::palette(widget).color(role));
  }
  widget->setPalette(palette);
}

Qt::CursorShape CursorShapeOf(fw::TCursor cursor) {
  switch (cursor) {
    case fw::TCursor::crHourGlass:
      return Qt::WaitCursor;
    case fw::TCursor::crVSplit:
      return Qt::SizeVerCursor;
    case fw::TCursor::crHSplit:
      return Qt::SizeHorCursor;
    case fw::TCursor::crDefault:
      break;
  }
  return Qt::ArrowCursor;
}

}  // namespace hostapp
