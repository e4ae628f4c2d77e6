// The demo generator's entry point and the helpers its stages share (demo_world.cpp makes the
// branches, people, products and suppliers; demo_requests.cpp the requests and what follows).
#include "app_server/demo/demo_data.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "app_server/demo/demo_generator.h"
#include "protocol/datetime.h"
#include "protocol/text.h"

namespace app {

namespace demo {

size_t CodePoints(std::string_view text) {
  return fw::Utf8Count(text);
}

std::string Digits(long value, int width) {
  return fmt::format("{:0{}}", value, width);
}

std::string RequestNumber(int year, long numberInYear, bool manyInYear) {
  return manyInYear ? Digits(year % 100, 2) + Digits(numberInYear, 8)
                    : Digits(year, 4) + Digits(numberInYear, 6);
}

double Round(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

}  // namespace demo

TDemoCounts GenerateDemoData(IDemoWriter& writer, const TDemoOptions& options) {
  const int scale = std::max(1, options.Scale);
  // The requests are entered in the year before this day.
  const double end = fw::EncodeDateTime({2024, 6, 28, 0, 0, 0});
  demo::TDraws draws(options.Seed);
  TDemoCounts counts;
  const demo::TWorld world = demo::MakeWorld(writer, draws, scale, counts);
  demo::MakeRequests(writer, world, draws, scale, end, counts);
  return counts;
}

}  // namespace app
