#include "app_server/iso_date.h"

#include <cmath>
#include <cstdio>

#include "framework/data/datetime.h"

namespace app {

namespace {

constexpr double kFirstDay = -693593.0;  // 01/01/0001
constexpr double kLastDay = 2958465.0;   // 31/12/9999

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string Format(const fw::TDateParts& parts) {
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", parts.Year, parts.Month,
                parts.Day, parts.Hour, parts.Minute, parts.Second);
  return text;
}

}  // namespace

bool IsWireDateInRange(double days) {
  return std::isfinite(days) && days >= kFirstDay && days < kLastDay + 1;
}

std::string DayStartText(double days, int plusDays) {
  const double day = std::trunc(days) + plusDays;
  if (day > kLastDay) return "9999-12-31 24:00:00";
  if (day < kFirstDay) return "0001-01-01 00:00:00";
  fw::TDateParts parts = fw::DecodeDateTime(day);
  parts.Hour = parts.Minute = parts.Second = 0;
  return Format(parts);
}

std::optional<double> IsoTextToDays(std::string_view text) {
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  fw::TDateParts parts;
  if (!Digits(text, 0, 4, parts.Year) || text[4] != '-' || !Digits(text, 5, 2, parts.Month) ||
      text[7] != '-' || !Digits(text, 8, 2, parts.Day))
    return std::nullopt;
  if (!fw::IsValidDate(parts.Year, parts.Month, parts.Day)) return std::nullopt;
  if (text.size() == 19) {
    if ((text[10] != ' ' && text[10] != 'T') || !Digits(text, 11, 2, parts.Hour) ||
        text[13] != ':' || !Digits(text, 14, 2, parts.Minute) || text[16] != ':' ||
        !Digits(text, 17, 2, parts.Second))
      return std::nullopt;
    if (parts.Hour > 23 || parts.Minute > 59 || parts.Second > 59) return std::nullopt;
  }
  return fw::EncodeDateTime(parts);
}

std::string DaysToIsoText(double days) {
  return Format(fw::DecodeDateTime(days));
}

}  // namespace app
