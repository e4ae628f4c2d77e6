#include "framework/data/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using fw::FormatFloat;
using fw::FormatMaskText;
using fw::MaskDisplayLength;
using fw::MaskStoredValue;

struct FloatCase {
  const char* format;
  double value;
  const char* text;
};

void PrintTo(const FloatCase& c, std::ostream* os) {
  *os << '"' << c.format << "\" " << c.value << " -> \"" << c.text << '"';
}

class FormatFloatTable : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FormatFloatTable, FormatsValue_AsBrazilianUserExpects) {
  EXPECT_EQ(FormatFloat(GetParam().format, GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    QuantityFormat, FormatFloatTable,
    ::testing::Values(FloatCase{"###,##0.000", 0, "0,000"},
                      FloatCase{"###,##0.000", 12.5, "12,500"},
                      FloatCase{"###,##0.000", 1234.5, "1.234,500"},
                      FloatCase{"###,##0.000", -1234.5, "-1.234,500"},
                      FloatCase{"###,##0.000", 1234567.891, "1.234.567,891"},
                      FloatCase{"###,##0.000", 123456789012.0, "123.456.789.012,000"},
                      FloatCase{"###,##0.000", 1e15, "1.000.000.000.000.000,000"},
                      FloatCase{"###,##0.000", 999.9995, "1.000,000"},
                      FloatCase{"###,##0.000", 999999.9996, "1.000.000,000"},
                      FloatCase{"###,##0.000", -999.9995, "-1.000,000"},
                      FloatCase{"###,##0.000", 100, "100,000"},
                      FloatCase{"###,##0.000", 1000, "1.000,000"}));

INSTANTIATE_TEST_SUITE_P(
    RoundingHalfAwayFromZero, FormatFloatTable,
    ::testing::Values(
        FloatCase{"###,##0.000", 0.0005, "0,001"}, FloatCase{"###,##0.000", -0.0005, "-0,001"},
        FloatCase{"###,##0.000", 0.0004999, "0,000"}, FloatCase{"###,##0.000", -0.0004, "0,000"},
        FloatCase{"###,##0.000", -0.0001, "0,000"}, FloatCase{"###,##0.000", -0.0, "0,000"},
        // Stored in binary just below the half; shown as the decimal typed.
        FloatCase{"0.00", 2.675, "2,68"}, FloatCase{"0.00", 1.005, "1,01"},
        FloatCase{"0.00", 0.125, "0,13"}, FloatCase{"0.00", -0.125, "-0,13"},
        FloatCase{"0.00", 0.1 + 0.2, "0,30"}, FloatCase{"#,##0", 0.5, "1"},
        FloatCase{"#,##0", -0.4, "0"}, FloatCase{"#,##0", -2.5, "-3"}));

INSTANTIATE_TEST_SUITE_P(
    OtherPatterns, FormatFloatTable,
    ::testing::Values(FloatCase{"#,##0.00", 1234.5, "1.234,50"},
                      FloatCase{"#,##0", -1500000, "-1.500.000"}, FloatCase{"0.###", 1.5, "1,5"},
                      FloatCase{"0.###", 2, "2"}, FloatCase{"0.0##", 1.23456, "1,235"},
                      FloatCase{"000", 7, "007"}, FloatCase{"#.##", 0.5, ",5"},
                      FloatCase{"0", 1234.5, "1235"}, FloatCase{"000-000", 123456, "123-456"},
                      FloatCase{"R$ #,##0.00", 1234.5, "R$ 1.234,50"},
                      FloatCase{"0.00 'kg'", 3, "3,00 kg"},
                      FloatCase{"#,##0.00;(#,##0.00)", 5, "5,00"}));

INSTANTIATE_TEST_SUITE_P(PlainWithoutFormat, FormatFloatTable,
                         ::testing::Values(FloatCase{"", 1234.5, "1234,5"}, FloatCase{"", 0, "0"},
                                           FloatCase{"", -2, "-2"}, FloatCase{"", -0.0, "0"},
                                           FloatCase{"", 0.1 + 0.2, "0,3"},
                                           FloatCase{"", 123456.789, "123456,789"},
                                           FloatCase{"", 1e-7, "0,0000001"},
                                           FloatCase{"", 1e20, "100000000000000000000"},
                                           FloatCase{"", -1234567.25, "-1234567,25"}));

TEST(FormatFloat, NonFiniteValues_GiveMarkersInsteadOfDigits) {
  EXPECT_EQ(FormatFloat("###,##0.000", std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FormatFloat("", std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatFloat("", -std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FormatFloat, HugeValue_IsWrittenOutWithoutExponent) {
  const std::string text = FormatFloat("#,##0", 1e300);
  EXPECT_EQ(text.substr(0, 5), "1.000");
  EXPECT_EQ(text.size(), 301u + 100u);  // 301 digits and a separator per group of three
}

// ---- Edit masks ----

TEST(ParseEditMask, SplitsMaskSaveFlagAndBlank) {
  const auto code = fw::ParseEditMask(">aaaa;0; ");
  EXPECT_EQ(code.Mask, ">aaaa");
  EXPECT_FALSE(code.SaveLiterals);
  EXPECT_EQ(code.Blank, ' ');

  const auto bare = fw::ParseEditMask("00/00/0000");
  EXPECT_EQ(bare.Mask, "00/00/0000");
  EXPECT_TRUE(bare.SaveLiterals);
  EXPECT_EQ(bare.Blank, '_');

  const auto starred = fw::ParseEditMask("000;1;*");
  EXPECT_TRUE(starred.SaveLiterals);
  EXPECT_EQ(starred.Blank, '*');
}

TEST(ParseEditMask, EscapedSeparator_StaysInTheMask_AndBlankMayBeASeparator) {
  const auto escaped = fw::ParseEditMask("\\;00;0;_");
  EXPECT_EQ(escaped.Mask, "\\;00");
  EXPECT_FALSE(escaped.SaveLiterals);
  EXPECT_EQ(fw::ParseEditMask("000;0;;").Blank, ';');
  EXPECT_EQ(fw::ParseEditMask("000;0;").Blank, '_');
}

struct MaskCase {
  const char* mask;
  const char* value;
  const char* text;
};

void PrintTo(const MaskCase& c, std::ostream* os) {
  *os << '"' << c.mask << "\" \"" << c.value << "\" -> \"" << c.text << '"';
}

class FormatMaskTextTable : public ::testing::TestWithParam<MaskCase> {};

TEST_P(FormatMaskTextTable, ShapesStoredValue_ForDisplay) {
  EXPECT_EQ(FormatMaskText(GetParam().mask, GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, FormatMaskTextTable,
    ::testing::Values(MaskCase{">aaaa;0; ", "01", "01  "}, MaskCase{">aaaa;0; ", "abcde", "ABCD"},
                      MaskCase{">aaaa;0; ", "ab12", "AB12"}, MaskCase{">aaaa;0; ", "", "    "},
                      MaskCase{"00.000.000;0;_", "01002003", "01.002.003"},
                      MaskCase{"00.000.000;0;_", "0100", "01.00 .   "},
                      MaskCase{"00.000.000;0;_", "", "  .   .   "},
                      MaskCase{"00/00/0000;1;_", "05/03/2024", "05/03/2024"},
                      MaskCase{"00/00/0000;1;_", "05/03", "05/03/    "},
                      MaskCase{"!999;0;_", "12", " 12"}, MaskCase{"<LLL;0;_", "ABC", "abc"},
                      MaskCase{">L<L<>L;0;_", "abC", "AbC"}, MaskCase{"\\A00;0;_", "12", "A12"},
                      MaskCase{"\\(00\\) 0000-0000;0;_", "1133224455", "(11) 3322-4455"},
                      MaskCase{"", "as stored", "as stored"},
                      // A multi-byte character fills one position and is never cut in half.
                      MaskCase{">aa;0; ", "çã!", "çã"}, MaskCase{"cccc;0; ", "ação", "ação"}));

TEST(MaskDisplayLength, CountsLiteralsAndPositions_NotDirectives) {
  EXPECT_EQ(MaskDisplayLength(">aaaa;0; "), 4);
  EXPECT_EQ(MaskDisplayLength("00.000.000;0;_"), 10);
  EXPECT_EQ(MaskDisplayLength("!\\(00\\) 0000-0000;0;_"), 14);
  EXPECT_EQ(MaskDisplayLength(""), 0);
}

class MaskStoredValueTable : public ::testing::TestWithParam<MaskCase> {};

// Here `value` is the typed text and `text` the stored value.
TEST_P(MaskStoredValueTable, KeepsTypedCharacters_DropsLiteralsUnlessSaved) {
  EXPECT_EQ(MaskStoredValue(GetParam().mask, GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Typed, MaskStoredValueTable,
                         ::testing::Values(MaskCase{">aaaa;0; ", "ab  ", "AB"},
                                           MaskCase{"00.000.000;0;_", "01.002.003", "01002003"},
                                           MaskCase{"00.000.000;0;_", "01.0__.___", "010"},
                                           MaskCase{"00.000.000;0;_", "__.___.___", ""},
                                           MaskCase{"00/00/0000;1;_", "05/03/2024", "05/03/2024"},
                                           MaskCase{"00/00/0000;1;_", "__/__/____", ""},
                                           MaskCase{"!999;0;_", "_12", "12"},
                                           MaskCase{"", "x y ", "x y "}));

class MaskRoundTrip : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskRoundTrip, StoredValueOfDisplayText_IsTheValue) {
  const std::string shown = FormatMaskText(GetParam().mask, GetParam().value);
  EXPECT_EQ(MaskStoredValue(GetParam().mask, shown), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Values, MaskRoundTrip,
                         ::testing::Values(MaskCase{">aaaa;0; ", "AB1", ""},
                                           MaskCase{"00.000.000;0;_", "12345678", ""},
                                           MaskCase{"00/00/0000;1;_", "31/12/2024", ""},
                                           MaskCase{"!999;0;_", "7", ""}));

}  // namespace
