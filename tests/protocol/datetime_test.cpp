#include "protocol/datetime.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using fw::DateTimeToText;
using fw::EncodeDateTime;
using fw::TextToDateTime;

TEST(EncodeDateTime, CountsDaysFromTheZeroDate) {
  EXPECT_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
  EXPECT_EQ(EncodeDateTime({1899, 12, 31}), 1.0);
  EXPECT_EQ(EncodeDateTime({1899, 12, 29}), -1.0);
  EXPECT_EQ(EncodeDateTime({2024, 3, 5}), 45356.0);
  EXPECT_EQ(EncodeDateTime({2024, 3, 5, 12, 0, 0}), 45356.5);
}

struct TextCase {
  double value;
  const char* text;
};

class DateTimeTextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(DateTimeTextTable, ShowsDate_AndTimeOnlyWhenNotMidnight) {
  EXPECT_EQ(DateTimeToText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DateTimeTextTable,
    ::testing::Values(TextCase{45356.0, "05/03/2024"},
                      TextCase{EncodeDateTime({2024, 3, 5, 14, 7, 9}), "05/03/2024 14:07:09"},
                      TextCase{EncodeDateTime({2024, 3, 5, 0, 0, 1}), "05/03/2024 00:00:01"},
                      TextCase{0.0, "30/12/1899"}, TextCase{-1.0, "29/12/1899"},
                      TextCase{-1.25, "29/12/1899 06:00:00"}, TextCase{-0.5, "30/12/1899 12:00:00"},
                      TextCase{1.75, "31/12/1899 18:00:00"},
                      TextCase{EncodeDateTime({1, 1, 1}), "01/01/0001"},
                      TextCase{EncodeDateTime({9999, 12, 31, 23, 59, 59}), "31/12/9999 23:59:59"}));

TEST(DateTimeToText, TimeJustBeforeMidnight_RoundsIntoTheNextDay) {
  EXPECT_EQ(DateTimeToText(45356.99999999), "06/03/2024");
  // Before the zero date the time still counts forwards: 29/12/1899 23:59:59.99 is 30/12/1899.
  EXPECT_EQ(DateTimeToText(-1.99999999), "30/12/1899");
}

TEST(DateTimeToText, ValueOutsideTheCalendar_ShowsTheZeroDateInsteadOfOverflowing) {
  EXPECT_EQ(DateTimeToText(1e300), "30/12/1899");
  EXPECT_EQ(DateTimeToText(-1e300), "30/12/1899");
  EXPECT_EQ(DateTimeToText(std::numeric_limits<double>::quiet_NaN()), "30/12/1899");
}

class ValidDateText : public ::testing::TestWithParam<const char*> {};

TEST_P(ValidDateText, ParsesAndShowsTheSameText) {
  const auto value = TextToDateTime(GetParam());
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(DateTimeToText(*value), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Texts, ValidDateText,
                         ::testing::Values("05/03/2024", "05/03/2024 14:07:09", "29/02/2024",
                                           "29/02/2000", "31/12/2023 23:59:59", "30/12/1899",
                                           "29/12/1899 06:00:00", "01/01/0001", "31/12/9999"));

class InvalidDateText : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidDateText, IsRejected) {
  EXPECT_FALSE(TextToDateTime(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidDateText,
                         ::testing::Values("31/02/2024", "29/02/2023", "29/02/1900", "31/04/2024",
                                           "00/01/2024", "05/13/2024", "05/00/2024", "01/01/0000",
                                           "05/03/2024 24:00:00", "05/03/2024 12:60:00",
                                           "05/03/2024 12:00:60", "5/3/2024", "05/03/24",
                                           "05/03/2024 ", "05/03/2024 14:07", "05-03-2024", "",
                                           "aa/bb/cccc"));

TEST(TextToDateTime, MidnightAndNoTime_GiveTheSameValue) {
  EXPECT_EQ(TextToDateTime("05/03/2024 00:00:00"), TextToDateTime("05/03/2024"));
  EXPECT_EQ(TextToDateTime("29/12/1899 06:00:00"), -1.25);
}

}  // namespace
