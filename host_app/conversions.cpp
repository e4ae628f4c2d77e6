#include "host_app/conversions.h"

#include <QFontDatabase>
#include <QStringList>
#include <algorithm>

#include "framework/data/format.h"
#include "protocol/text.h"

namespace hostapp {

namespace {
// Characters with a meaning in a Qt input mask; as model literals they need a backslash.
constexpr std::string_view kQtMaskSpecials = "AaNnXx9D0dHhBb#><!\\[]{}";

QString EscapedLiteral(std::string_view character) {
  QString text = ToQt(character);
  if (character.size() == 1 && kQtMaskSpecials.find(character[0]) != std::string_view::npos)
    text.prepend(QLatin1Char('\\'));
  return text;
}
}  // namespace

QString QtInputMask(std::string_view editMask) {
  const fw::TEditMask parsed = fw::ParseEditMask(editMask);
  if (parsed.Mask.empty()) return {};
  const std::string& mask = parsed.Mask;
  QString out;
  for (size_t i = 0; i < mask.size();) {
    const char c = mask[i];
    const size_t length = fw::Utf8LeadLength(static_cast<unsigned char>(c));
    if (length > 1) {
      out += ToQt(std::string_view(mask).substr(i, length));
      i += length;
      continue;
    }
    ++i;
    switch (c) {
      case '\\':
        if (i < mask.size()) {
          const size_t next = fw::Utf8LeadLength(static_cast<unsigned char>(mask[i]));
          out += EscapedLiteral(std::string_view(mask).substr(i, next));
          i += next;
        }
        break;
      case '<':
        if (i < mask.size() && mask[i] == '>') {
          out += QLatin1Char('!');  // "<>": no case change from here
          ++i;
        } else {
          out += QLatin1Char('<');
        }
        break;
      case '>':
        out += QLatin1Char('>');
        break;
      case 'L':
        out += QLatin1Char('A');
        break;
      case 'l':
        out += QLatin1Char('a');
        break;
      case 'A':
        out += QLatin1Char('N');
        break;
      case 'a':
        out += QLatin1Char('n');
        break;
      case 'C':
        out += QLatin1Char('X');
        break;
      case 'c':
        out += QLatin1Char('x');
        break;
      case '0':
        out += QLatin1Char('9');
        break;
      case '9':
        out += QLatin1Char('0');
        break;
      case '#':
        out += QLatin1Char('#');
        break;
      case '!':
        break;
      case '_':
        out += QLatin1Char(' ');
        break;
      default:
        out += EscapedLiteral(std::string_view(&c, 1));
        break;
    }
  }
  out += QLatin1Char(';');
  out += QLatin1Char(parsed.Blank);
  return out;
}

std::string StoredValueOfDisplay(std::string_view editMask, const QString& displayText) {
  if (fw::ParseEditMask(editMask).Mask.empty()) return FromQt(displayText);
  return fw::MaskStoredValue(editMask, FromQt(displayText));
}

namespace {
struct KeyPair {
  int qt;
  uint16_t vk;
};
constexpr KeyPair kKeys[] = {
    {Qt::Key_Tab, fw::vk::Tab},
    {Qt::Key_Backtab, fw::vk::Tab},
    {Qt::Key_Return, fw::vk::Return},
    {Qt::Key_Enter, fw::vk::Return},
    {Qt::Key_Escape, fw::vk::Escape},
    {Qt::Key_PageUp, fw::vk::PageUp},
    {Qt::Key_PageDown, fw::vk::PageDown},
    {Qt::Key_End, fw::vk::End},
    {Qt::Key_Home, fw::vk::Home},
    {Qt::Key_Left, fw::vk::Left},
    {Qt::Key_Up, fw::vk::Up},
    {Qt::Key_Right, fw::vk::Right},
    {Qt::Key_Down, fw::vk::Down},
    {Qt::Key_Space, 32},
    {Qt::Key_Backspace, 8},
    {Qt::Key_Insert, 45},
    {Qt::Key_Delete, 46},
};
}  // namespace

uint16_t VirtualKey(int qtKey) {
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
    return static_cast<uint16_t>(qtKey);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
    return static_cast<uint16_t>(fw::vk::F1 + (qtKey - Qt::Key_F1));
  for (const auto& pair : kKeys)
    if (pair.qt == qtKey) return pair.vk;
  return 0;
}

int QtKeyOf(uint16_t virtualKey) {
  if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
    return virtualKey;
  if (virtualKey >= fw::vk::F1 && virtualKey <= fw::vk::F12)
    return Qt::Key_F1 + (virtualKey - fw::vk::F1);
  for (const auto& pair : kKeys)
    if (pair.vk == virtualKey) return pair.qt;
  return 0;
}

fw::TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers) {
  fw::TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= fw::ssShift;
  if (modifiers & Qt::ControlModifier) shift |= fw::ssCtrl;
  if (modifiers & Qt::AltModifier) shift |= fw::ssAlt;
  return shift;
}

QKeySequence KeySequenceOf(fw::TShortCut shortCut) {
  const int key = QtKeyOf(static_cast<uint16_t>(shortCut & 0x0FFF));
  if (!shortCut || !key) return {};
  int modifiers = 0;
  if (shortCut & 0x2000) modifiers |= Qt::SHIFT;
  if (shortCut & 0x4000) modifiers |= Qt::CTRL;
  if (shortCut & 0x8000) modifiers |= Qt::ALT;
  return QKeySequence(key | modifiers);
}

QColor ColorOf(fw::TColor color, const QPalette& palette) {
  switch (color) {
    case fw::clDefault:
      return {};
    case fw::clBtnFace:
      return palette.color(QPalette::Button);
    case fw::clInfoBk:
      return palette.color(QPalette::ToolTipBase);
    case fw::clWindow:
      return palette.color(QPalette::Base);
    case fw::clWindowText:
      return palette.color(QPalette::Text);
    default:
      break;
  }
  if (color & 0xFF000000u) return {};  // a system colour this host does not know
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

QString PlainCaption(std::string_view caption) {
  std::string plain;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      plain += caption[i];
    } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
      plain += '&';
      ++i;
    }
  }
  return ToQt(plain);
}

int FirstBlankPosition(const QString& inputMask, const QString& displayText) {
  // As QLineEdit reads a mask: the blank character follows the first ';'.
  const qsizetype delimiter = inputMask.indexOf(QLatin1Char(';'));
  const QString mask = delimiter < 0 ? inputMask : inputMask.left(delimiter);
  const QChar blank = delimiter >= 0 && delimiter + 1 < inputMask.size()
                          ? inputMask.at(delimiter + 1)
                          : QLatin1Char(' ');
  static const QString kInput = QStringLiteral("AaNnXx90Dd#HhBb");
  int position = 0;
  for (qsizetype i = 0; i < mask.size(); ++i) {
    const QChar c = mask.at(i);
    if (c == QLatin1Char('>') || c == QLatin1Char('<') || c == QLatin1Char('!')) continue;
    if (c == QLatin1Char('\\')) {
      ++i;  // the next character is a literal
    } else if (kInput.contains(c) && position < displayText.size() &&
               displayText.at(position) == blank) {
      return position;
    }
    ++position;
  }
  return static_cast<int>(displayText.size());
}

QString HostFaceFamily(const QFont& base) {
  static const bool condensed =
      QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Condensed"));
  return condensed ? QStringLiteral("DejaVu Sans Condensed") : base.family();
}

QFont GridFont(const fw::TFont& font, const QFont& base) {
  QFont face = base;
  face.setFamily(HostFaceFamily(base));
  const int designed = font.Height < 0 ? -font.Height : font.Height;
  face.setPixelSize(designed > 0 ? std::max((designed * 10 + 5) / 11, 6) : 10);
  face.setBold(font.Bold);
  return face;
}

}  // namespace hostapp
