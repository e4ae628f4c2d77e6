// Dates as the database keeps them: ISO text "2024-03-05 14:07:09" (or "2024-03-05"), which sorts
// as it should, reads well in sqlite3 and casts to a PostgreSQL timestamp. The wire carries the
// same instant as days since 30/12/1899.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

// The dates a request may carry: years 1 to 9999. NaN, infinities and 1e300 are not.
bool IsWireDateInRange(double days);
// "yyyy-mm-dd 00:00:00" of the day the instant falls on (the fraction is dropped); `plusDays`
// moves it. Only for dates in range; the day after 31/12/9999 is "9999-12-31 24:00:00".
std::string DayStartText(double days, int plusDays = 0);
// Days since 30/12/1899 of "yyyy-mm-dd[ hh:nn:ss]" ("T" between them is accepted too);
// nullopt for anything else.
std::optional<double> IsoTextToDays(std::string_view text);
// "yyyy-mm-dd hh:nn:ss".
std::string DaysToIsoText(double days);

}  // namespace app
