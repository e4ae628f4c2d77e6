// Dates as the database keeps them: ISO text in SQLite ("2024-03-05 14:07:09", or a day alone,
// "2024-03-05"), timestamps in PostgreSQL (read back as the same text). The wire carries the
// same instant as days since 30/12/1899.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

constexpr int64_t kFirstWireDay = -693593;  // 01/01/0001
constexpr int64_t kLastWireDay = 2958465;   // 31/12/9999

// The dates a request may carry: years 1 to 9999. NaN, infinities and 1e300 are not.
bool IsWireDateInRange(double days);
// The day an instant falls on (the fraction is the time of day, so it is dropped).
int64_t WireDay(double days);
// "yyyy-mm-dd" of a day from 01/01/0001 to the day after 31/12/9999 ("10000-01-01").
std::string DayText(int64_t day);
// Days since 30/12/1899 of "yyyy-mm-dd", "yyyy-mm-dd hh:nn", "yyyy-mm-dd hh:nn:ss" or with a
// fraction of a second ("...:ss.250"); "T" may stand for the blank. nullopt for anything else.
std::optional<double> IsoTextToDays(std::string_view text);
// "yyyy-mm-dd hh:nn:ss".
std::string DaysToIsoText(double days);

}  // namespace app
