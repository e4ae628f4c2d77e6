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

// Days either side of the calendar's edges and leap rules, as any other calendar of days since
// 30/12/1899 counts them.
TEST(EncodeDateTime, KnownDays_AtTheEdgesOfTheCalendarAndItsLeapRules) {
  EXPECT_EQ(EncodeDateTime({1, 1, 1}), -693593.0);
  EXPECT_EQ(EncodeDateTime({9999, 12, 31}), 2958465.0);
  EXPECT_EQ(EncodeDateTime({1900, 2, 28}), 60.0);  // 1900 is no leap year
  EXPECT_EQ(EncodeDateTime({1900, 3, 1}), 61.0);
  EXPECT_EQ(EncodeDateTime({1970, 1, 1}), 25569.0);
  EXPECT_EQ(EncodeDateTime({2000, 2, 29}), 36585.0);  // 2000 is one
  EXPECT_EQ(EncodeDateTime({2100, 3, 1}) - EncodeDateTime({2100, 2, 28}), 1.0);
  // The calendar runs back unchanged before its adoption: ten days skipped there are counted.
  EXPECT_EQ(EncodeDateTime({1582, 10, 15}) - EncodeDateTime({1582, 10, 4}), 11.0);
  // A day past its month's end runs on into the next month, a month past the year into the next.
  EXPECT_EQ(EncodeDateTime({2024, 2, 30}), EncodeDateTime({2024, 3, 1}));
  EXPECT_EQ(EncodeDateTime({2024, 13, 1}), EncodeDateTime({2025, 1, 1}));
  EXPECT_EQ(EncodeDateTime({2024, 0, 1}), EncodeDateTime({2023, 12, 1}));
}

// Every day from 01/01/0001 to 31/12/9999 is the day after the one before, and reads back as the
// value it came from.
TEST(DecodeDateTime, EveryDayOfTheCalendar_FollowsTheDayBefore) {
  fw::TDateParts expected{1, 1, 1};
  int wrong = 0;
  for (int day = -693593; day <= 2958465 && wrong < 5; ++day) {
    const fw::TDateParts parts = fw::DecodeDateTime(day);
    if (parts.Year != expected.Year || parts.Month != expected.Month || parts.Day != expected.Day ||
        EncodeDateTime(parts) != day) {
      ADD_FAILURE() << day << ": " << parts.Day << "/" << parts.Month << "/" << parts.Year;
      ++wrong;
    }
    if (fw::IsValidDate(expected.Year, expected.Month, expected.Day + 1))
      ++expected.Day;
    else if (expected.Month < 12)
      expected = {expected.Year, expected.Month + 1, 1};
    else
      expected = {expected.Year + 1, 1, 1};
  }
  EXPECT_EQ(10000, expected.Year);
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
