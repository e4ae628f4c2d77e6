#include "protocol/datetime.h"

#include <cmath>
#include <cstdio>

namespace fw {

namespace {

// Days from 0000-03-01 based civil calendar (proleptic Gregorian).
long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(long days, int& year, int& month, int& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = days - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long monthPart = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthPart + 2) / 5 + 1);
  month = static_cast<int>(monthPart < 10 ? monthPart + 3 : monthPart - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

const long kEpoch = DaysFromCivil(1899, 12, 30);
const double kFirstDay = static_cast<double>(DaysFromCivil(1, 1, 1) - kEpoch);
const double kLastDay = static_cast<double>(DaysFromCivil(9999, 12, 31) - kEpoch);

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
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

double EncodeDateTime(const TDateParts& parts) {
  const double days =
      static_cast<double>(DaysFromCivil(parts.Year, parts.Month, parts.Day) - kEpoch);
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
  CivilFromDays(days + kEpoch, parts.Year, parts.Month, parts.Day);
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
