// Conversions between model values and Qt's, and the alignment rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <tuple>

#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"

namespace hostapp {
namespace {

TEST(Conversions, EditMasks_MapToQtInputMasks) {
  const std::pair<const char*, const char*> cases[] = {
      {"00.000.000;0;_", "99.999.999;_"},      // the product mask: required digits
      {">aaaa;0; ", ">nnnn; "},                // the branch code mask
      {"!99/99/0000;1;_", "00/00/9999;_"},     // "!" has no Qt counterpart
      {"<>LLl;1;*", "!AAa;*"},                 // "<>" turns case conversion off
      {"(DDD) 0-0;0;_", "(\\D\\D\\D) 9-9;_"},  // Qt mask characters as literals are escaped
      {"\\A0;0;_", "\\A9;_"},                  // an escaped model character stays literal
      {"Cc#;1;_", "Xx#;_"},
      {"", ""},
  };
  for (const auto& [model, qt] : cases)
    EXPECT_EQ(QtInputMask(model), QString::fromUtf8(qt)) << model;
}

TEST(Conversions, MaskedDisplay_GivesTheStoredValue) {
  EXPECT_EQ(StoredValueOfDisplay("00.000.000;0;_", QStringLiteral("01.002.003")), "01002003");
  EXPECT_EQ(StoredValueOfDisplay("00.000.000;0;_", QStringLiteral("01.00_.___")), "0100");
  EXPECT_EQ(StoredValueOfDisplay("00.000.000;0;_", QStringLiteral("__.___.___")), "");
  EXPECT_EQ(StoredValueOfDisplay("00.000.000;1;_", QStringLiteral("01.002.003")), "01.002.003");
  EXPECT_EQ(StoredValueOfDisplay(kDateEditMask, QStringLiteral("05/03/____")), "05/03/");
  EXPECT_EQ(StoredValueOfDisplay(kDateEditMask, QStringLiteral("__/__/____")), "");
  EXPECT_EQ(StoredValueOfDisplay("", QStringLiteral("livre")), "livre");
}

TEST(Conversions, FirstBlankPosition_IsWhereTypingGoesOn) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"99.999.999;_", "__.___.___", 0},
      {"99.999.999;_", "01.00_.___", 5},  // literals take their places
      {"99.999.999;_", "01.002.003", 10},
      {"00/00/9999;_", "05/03/____", 6},
      {"\\D9;_", "D_", 1},  // an escaped literal takes a place
      {">nnnn; ", "AB  ", 2},
      {"", "livre", 5},
  };
  for (const auto& [mask, display, position] : cases)
    EXPECT_EQ(FirstBlankPosition(QString::fromUtf8(mask), QString::fromUtf8(display)), position)
        << mask << " " << display;
}

TEST(Conversions, Keys_MapToVirtualKeysAndShortcutsToSequences) {
  EXPECT_EQ(VirtualKey(Qt::Key_A), 'A');
  EXPECT_EQ(VirtualKey(Qt::Key_7), '7');
  EXPECT_EQ(VirtualKey(Qt::Key_F9), fw::vk::F9);
  EXPECT_EQ(VirtualKey(Qt::Key_Backtab), fw::vk::Tab);
  EXPECT_EQ(VirtualKey(Qt::Key_Enter), fw::vk::Return);
  EXPECT_EQ(VirtualKey(Qt::Key_PageDown), fw::vk::PageDown);
  EXPECT_EQ(VirtualKey(Qt::Key_Comma), 0) << "punctuation is typed, not pressed";
  EXPECT_EQ(ShiftStateOf(Qt::ControlModifier | Qt::ShiftModifier), fw::ssCtrl | fw::ssShift);
  EXPECT_EQ(KeySequenceOf(16449), QKeySequence(Qt::CTRL | Qt::Key_A));
  EXPECT_EQ(KeySequenceOf(fw::ShortCut(fw::vk::F1 + 4, 0)), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(KeySequenceOf(fw::ShortCut(fw::vk::Down, fw::ssShift | fw::ssAlt)),
            QKeySequence(Qt::SHIFT | Qt::ALT | Qt::Key_Down));
  EXPECT_TRUE(KeySequenceOf(0).isEmpty());
}

TEST(Conversions, Colours_UseThePaletteForSystemColours) {
  QPalette palette;
  palette.setColor(QPalette::ToolTipBase, QColor(1, 2, 3));
  palette.setColor(QPalette::Button, QColor(4, 5, 6));
  EXPECT_EQ(ColorOf(fw::clInfoBk, palette), QColor(1, 2, 3));
  EXPECT_EQ(ColorOf(fw::clBtnFace, palette), QColor(4, 5, 6));
  EXPECT_EQ(ColorOf(fw::clBlue, palette), QColor(0, 0, 255)) << "stored as 0x00BBGGRR";
  EXPECT_EQ(ColorOf(0x00336699, palette), QColor(0x99, 0x66, 0x33));
  EXPECT_FALSE(ColorOf(fw::clDefault, palette).isValid());
}

TEST(Conversions, Captions_LoseTheirAccessMarksInLabels) {
  EXPECT_EQ(PlainCaption("&Nome"), QStringLiteral("Nome"));
  EXPECT_EQ(PlainCaption("Cadastramento A&utomático"), QStringLiteral("Cadastramento Automático"));
  EXPECT_EQ(PlainCaption("P&&D"), QStringLiteral("P&D"));
  EXPECT_EQ(PlainCaption("Fim&"), QStringLiteral("Fim"));
}

TEST(Alignment, SidesStackInOrderAndClientTakesTheRest) {
  const QRect client(0, 0, 600, 400);
  std::vector<AlignItem> items = {
      {fw::TAlign::alClient, QRect(5, 5, 10, 10), true},
      {fw::TAlign::alTop, QRect(0, 50, 600, 40), true},  // second from the top
      {fw::TAlign::alTop, QRect(0, 0, 600, 28), true},   // first
      {fw::TAlign::alBottom, QRect(0, 370, 600, 30), true},
      {fw::TAlign::alLeft, QRect(0, 0, 100, 10), true},
      {fw::TAlign::alRight, QRect(0, 0, 50, 10), true},
      {fw::TAlign::alNone, QRect(7, 8, 9, 10), true},
      {fw::TAlign::alTop, QRect(0, 10, 600, 500), false},  // invisible: takes no room
  };
  const std::vector<QRect> rects = AlignRects(client, items);
  EXPECT_EQ(rects[2], QRect(0, 0, 600, 28));
  EXPECT_EQ(rects[1], QRect(0, 28, 600, 40));
  EXPECT_EQ(rects[3], QRect(0, 370, 600, 30));
  EXPECT_EQ(rects[4], QRect(0, 68, 100, 302));
  EXPECT_EQ(rects[5], QRect(550, 68, 50, 302));
  EXPECT_EQ(rects[0], QRect(100, 68, 450, 302));
  EXPECT_EQ(rects[6], QRect(7, 8, 9, 10));
  EXPECT_EQ(rects[7], QRect(0, 10, 600, 500));
}

TEST(Alignment, TooLittleRoom_ShrinksInsteadOfOverlapping) {
  const std::vector<QRect> rects =
      AlignRects(QRect(0, 0, 100, 50), {{fw::TAlign::alTop, QRect(0, 0, 100, 40), true},
                                        {fw::TAlign::alBottom, QRect(0, 0, 100, 40), true},
                                        {fw::TAlign::alClient, QRect(), true}});
  EXPECT_EQ(rects[0], QRect(0, 0, 100, 40));
  EXPECT_EQ(rects[1], QRect(0, 40, 100, 10));
  EXPECT_EQ(rects[2].height(), 0);
}

TEST(Alignment, AnchoredChildren_FollowTheGrowthOfTheirParent) {
  using fw::TAlign;
  const QSize growth(200, 100);  // the client is 800 x 500, designed 600 x 400
  const std::vector<AlignItem> items = {
      {TAlign::alNone, QRect(0, 28, 600, 340), true, fw::akAll},               // the page control
      {TAlign::alNone, QRect(500, 5, 60, 13), true, fw::akTop | fw::akRight},  // moves right
      {TAlign::alNone, QRect(10, 300, 60, 20), true, fw::akLeft | fw::akBottom},  // moves down
      {TAlign::alNone, QRect(10, 10, 60, 20), true, fw::akLeft | fw::akTop},      // stays
      {TAlign::alTop, QRect(0, 0, 800, 120), true, fw::akAll},  // takes the extra height
      {TAlign::alTop, QRect(0, 120, 800, 1), true},             // a splitter under it
      {TAlign::alClient, QRect(0, 121, 800, 279), true},        // keeps its designed height
  };
  const std::vector<QRect> rects = AlignRects(QRect(0, 0, 800, 500), items, growth);
  EXPECT_EQ(rects[0], QRect(0, 28, 800, 440));
  EXPECT_EQ(rects[1], QRect(700, 5, 60, 13));
  EXPECT_EQ(rects[2], QRect(10, 400, 60, 20));
  EXPECT_EQ(rects[3], QRect(10, 10, 60, 20));
  EXPECT_EQ(rects[4], QRect(0, 0, 800, 220));
  EXPECT_EQ(rects[5], QRect(0, 220, 800, 1));
  EXPECT_EQ(rects[6], QRect(0, 221, 800, 279));
  // Smaller than designed, an anchored child shrinks; never below nothing.
  const std::vector<QRect> small = AlignRects(QRect(0, 0, 100, 100), {items[0]}, QSize(-700, -500));
  EXPECT_EQ(small[0], QRect(0, 28, 0, 0));
}

}  // namespace
}  // namespace hostapp
