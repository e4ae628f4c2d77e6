// Conversions between the form model's values and Qt's: texts, edit masks, keys, shortcuts,
// colours and captions. Pure functions, so the binding's rules can be tested one by one.
#pragma once

#include <QColor>
#include <QFont>
#include <QKeySequence>
#include <QPalette>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/ui/controls.h"

namespace hostapp {

inline QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string FromQt(const QString& text) {
  return text.toUtf8().toStdString();
}

// The QLineEdit input mask for a model edit mask "mask;saveLiterals;blank":
//   "00.000.000;0;_" -> "99.999.999;_"   (model '0' is a required digit, Qt's is '9')
//   ">aaaa;0; "      -> ">nnnn; "
// Model literals that Qt reads as mask characters are escaped; "!" (fill from the right) has no
// Qt counterpart and is dropped. An empty model mask gives an empty Qt mask (no mask).
QString QtInputMask(std::string_view editMask);

// The model text of what a masked line edit displays: the stored value without literals unless
// the mask saves them, blanks trimmed at the end; a mask left blank stores "".
std::string StoredValueOfDisplay(std::string_view editMask, const QString& displayText);

// Where typing goes on in a masked line edit: the first input position of `inputMask` (a Qt
// input mask) that `displayText` shows blank, or the end when none is.
//   "99.999.999;_" and "01.00_.___" -> 5;  "__.___.___" -> 0;  "01.002.003" -> 10
int FirstBlankPosition(const QString& inputMask, const QString& displayText);

// The mask the date edit types through, literals kept: "05/03/____" is stored as "05/03/".
inline constexpr std::string_view kDateEditMask = "99/99/9999;1;_";

// Virtual-key code of a Qt key (Qt::Key_A -> 'A', Qt::Key_F9 -> vk::F9); 0 when the model has none.
uint16_t VirtualKey(int qtKey);
int QtKeyOf(uint16_t virtualKey);
fw::TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers);
// The key sequence of a stored shortcut: 16449 (0x4041) -> Ctrl+A. Empty for 0.
QKeySequence KeySequenceOf(fw::TShortCut shortCut);

// A model colour in this palette: system colours map to their palette roles (clInfoBk -> the
// tooltip base, clBtnFace -> the button face); clDefault gives an invalid colour.
QColor ColorOf(fw::TColor color, const QPalette& palette);

// The host's face for the screens: a condensed sans serif where one is installed (the screens
// were laid out for a narrow 8-point face), else the application's.
QString HostFaceFamily(const QFont& base);
// The face of a grid's cells or titles for the model's font: the host's face at 10 pixels for the
// designed 8-point face (-11), other heights in proportion. The designed face's digits were 5 to 6
// pixels wide; at this size a date "15/03/2024" fits the 60-pixel columns the screens give dates.
QFont GridFont(const fw::TFont& font, const QFont& base);

// A caption as a label shows it: "&Nome" -> "Nome", "P&&D" -> "P&D".
QString PlainCaption(std::string_view caption);
// A caption as a menu or button shows it (Qt reads '&' as the access letter too).
inline QString AccessCaption(std::string_view caption) {
  return ToQt(caption);
}

}  // namespace hostapp
