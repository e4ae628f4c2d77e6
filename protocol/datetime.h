// Dates as the wire and the data sets hold them: days since 30/12/1899 (the zero date), the
// fraction being the time of day. Texts in the Brazilian form: "05/03/2024", "05/03/2024 14:07:09".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fw {

constexpr double kZeroDate = 0.0;  // 30/12/1899

struct TDateParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0;
};

double EncodeDateTime(const TDateParts& parts);
TDateParts DecodeDateTime(double value);
bool IsValidDate(int year, int month, int day);

// "dd/mm/yyyy", plus " hh:nn:ss" only when the time of day is not midnight.
std::string DateTimeToText(double value);
// "dd/mm/yyyy" or "dd/mm/yyyy hh:nn:ss"; nullopt for anything else or an impossible date.
std::optional<double> TextToDateTime(std::string_view text);

}  // namespace fw
