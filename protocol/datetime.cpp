#include "protocol/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace fw {

namespace {

namespace chrono = std::chrono;

constexpr chrono::sys_days kZeroDay{chrono::year{1899} / chrono::December / 30};

// Days since the zero date of a date of the proleptic Gregorian calendar. A day past its month's
// end runs on into the next month (31/02/2024 is 02/03/2024), and a month out of 1..12 into the
// neighbouring years (month 0 is December of the year before).
constexpr long DaysFromCivil(int year, int month, int day) {
  const int yearShift = month >= 1 ? (month - 1) / 12 : (month - 12) / 12;
  const auto monthOfYear = static_cast<unsigned>(month - 1 - yearShift * 12 + 1);
  const chrono::sys_days first{chrono::year{year + yearShift} / chrono::month{monthOfYear} / 1};
  return (first - kZeroDay).count() + (day - 1);
}

// The date of a day counted from the zero date.
chrono::year_month_day CivilFromDays(long days) {
  return chrono::year_month_day{kZeroDay + chrono::days{days}};
}

constexpr double kFirstDay = static_cast<double>(DaysFromCivil(1, 1, 1));
constexpr double kLastDay = static_cast<double>(DaysFromCivil(9999, 12, 31));

bool ReadNumber(std::string_view text, size_t& pos, size_t digits, int& value) {
  if (pos + digits > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += digits;
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  return chrono::year_month_day{chrono::year{year}, chrono::month{static_cast<unsigned>(month)},
                                chrono::day{static_cast<unsigned>(day)}}
      .ok();
}

double EncodeDateTime(const TDateParts& parts) {
  const double days = static_cast<double>(DaysFromCivil(parts.Year, parts.Month, parts.Day));
  const double time = (parts.Hour * 3600.0 + parts.Minute * 60.0 + parts.Second) / 86400.0;
  // Before the zero date the fraction still counts forwards in the day (as the wire format does).
  return days >= 0 ? days + time : days - time;
}

TDateParts DecodeDateTime(double value) {
  TDateParts parts;
  // Outside 01/01/0001..31/12/9999 (or not a number) the value is no date: it reads as the zero
  // date rather than overflowing the conversions below.
  if (!std::isfinite(value) || value < kFirstDay || value >= kLastDay + 1) return parts;
  const double whole = std::trunc(value);
  // Round to the second so that 0.99999999 of a day does not show as 23:59:59 of the day before.
  long seconds = std::lround(std::fabs(value - whole) * 86400.0);
  long days = static_cast<long>(whole);
  // The time counts forwards in the day on both sides of the zero date, so a time that rounds up
  // to midnight is the start of the next day (29/12/1899 23:59:59.9 -> 30/12/1899).
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  const chrono::year_month_day date = CivilFromDays(days);
  parts.Year = static_cast<int>(date.year());
  parts.Month = static_cast<int>(static_cast<unsigned>(date.month()));
  parts.Day = static_cast<int>(static_cast<unsigned>(date.day()));
  parts.Hour = static_cast<int>(seconds / 3600);
  parts.Minute = static_cast<int>(seconds / 60 % 60);
  parts.Second = static_cast<int>(seconds % 60);
  return parts;
}

std::string DateTimeToText(double value) {
  const TDateParts p = DecodeDateTime(value);
  char buffer[40];
  if (p.Hour == 0 && p.Minute == 0 && p.Second == 0)
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", p.Day, p.Month, p.Year);
  else
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", p.Day, p.Month, p.Year,
                  p.Hour, p.Minute, p.Second);
  return buffer;
}

std::optional<double> TextToDateTime(std::string_view text) {
  TDateParts p;
  size_t pos = 0;
  if (!ReadNumber(text, pos, 2, p.Day) || pos >= text.size() || text[pos++] != '/') return {};
  if (!ReadNumber(text, pos, 2, p.Month) || pos >= text.size() || text[pos++] != '/') return {};
  if (!ReadNumber(text, pos, 4, p.Year)) return {};
  if (pos < text.size()) {
    if (text[pos++] != ' ') return {};
    if (!ReadNumber(text, pos, 2, p.Hour) || pos >= text.size() || text[pos++] != ':') return {};
    if (!ReadNumber(text, pos, 2, p.Minute) || pos >= text.size() || text[pos++] != ':') return {};
    if (!ReadNumber(text, pos, 2, p.Second) || pos != text.size()) return {};
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) return {};
  }
  if (!IsValidDate(p.Year, p.Month, p.Day)) return {};
  return EncodeDateTime(p);
}

}  // namespace fw
