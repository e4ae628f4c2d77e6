// The look every view class gives its widgets from the model: font, colours, cursor.
#pragma once

#include <QColor>
#include <QPalette>

#include "framework/ui/controls.h"

class QWidget;

namespace hostapp {

void ApplyFont(QWidget* widget, const fw::TFont& font);
// Sets a colour role of the widget's palette; an invalid colour puts back the application's.
void SetRole(QWidget* widget, QPalette::ColorRole role, const QColor& color);
Qt::CursorShape CursorShapeOf(fw::TCursor cursor);

}  // namespace hostapp
