#include "app_server/db/iso_date.h"

#include <fmt/format.h>

#include <cmath>

#include "protocol/datetime.h"

namespace app {

namespace {

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
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", parts.Year, parts.Month, parts.Day,
                     parts.Hour, parts.Minute, parts.Second);
}

}  // namespace

bool IsWireDateInRange(double days) {
  return std::isfinite(days) && days >= static_cast<double>(kFirstWireDay) &&
         days < static_cast<double>(kLastWireDay + 1);
}

int64_t WireDay(double days) {
  return static_cast<int64_t>(std::trunc(days));
}

std::string DayText(int64_t day) {
  if (day > kLastWireDay) return "10000-01-01";
  if (day < kFirstWireDay) day = kFirstWireDay;
  const fw::TDateParts parts = fw::DecodeDateTime(static_cast<double>(day));
  return fmt::format("{:04}-{:02}-{:02}", parts.Year, parts.Month, parts.Day);
}

std::optional<double> IsoTextToDays(std::string_view text) {
  if (text.size() < 10) return std::nullopt;
  fw::TDateParts parts;
  if (!Digits(text, 0, 4, parts.Year) || text[4] != '-' || !Digits(text, 5, 2, parts.Month) ||
      text[7] != '-' || !Digits(text, 8, 2, parts.Day))
    return std::nullopt;
  if (!fw::IsValidDate(parts.Year, parts.Month, parts.Day)) return std::nullopt;
  if (text.size() == 10) return fw::EncodeDateTime(parts);

  // The time of day: hh:nn, then :ss, then a fraction.
  if (text.size() < 16 || (text[10] != ' ' && text[10] != 'T') ||
      !Digits(text, 11, 2, parts.Hour) || text[13] != ':' || !Digits(text, 14, 2, parts.Minute))
    return std::nullopt;
  double fraction = 0;
  if (text.size() > 16) {
    if (text.size() < 19 || text[16] != ':' || !Digits(text, 17, 2, parts.Second))
      return std::nullopt;
    if (text.size() > 19) {
      if (text[19] != '.' || text.size() == 20) return std::nullopt;
      double scale = 0.1;
      for (size_t i = 20; i < text.size(); ++i, scale /= 10) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        fraction += (text[i] - '0') * scale;
      }
    }
  }
  if (parts.Hour > 23 || parts.Minute > 59 || parts.Second > 59) return std::nullopt;
  const double whole = fw::EncodeDateTime(parts);
  if (fraction == 0) return whole;
  // Before 1899 the day counts down while the time of day still counts up (-1.25 is 29/12/1899
  // 06:00), so a fraction of a second moves away from zero.
  return whole + (whole < 0 ? -fraction : fraction) / 86400.0;
}

std::string DaysToIsoText(double days) {
  return Format(fw::DecodeDateTime(days));
}

}  // namespace app
