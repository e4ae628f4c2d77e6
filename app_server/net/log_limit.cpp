#include "app_server/net/log_limit.h"

namespace app {

namespace {
constexpr auto kSecond = std::chrono::seconds(1);
}  // namespace

bool TLogLimiter::Allow(const std::string& source, TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  TWindow& window = sources_[source];
  if (window.Lines == 0 || now - window.Start >= kSecond) {
    // A new second; what was left out in the last one is still to be told (TakeOmitted).
    window.Start = now;
    window.Lines = 0;
  }
  if (window.Lines < perSecond_) {
    ++window.Lines;
    return true;
  }
  ++window.Omitted;
  return false;
}

std::vector<std::string> TLogLimiter::TakeOmitted(TClock::time_point now, bool all) {
  std::vector<std::string> lines;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = sources_.begin(); it != sources_.end();) {
    TWindow& window = it->second;
    const bool over = now - window.Start >= kSecond;
    if (window.Omitted != 0 && (over || all)) {
      lines.push_back(it->first + ": " + std::to_string(window.Omitted) +
                      " linhas de log omitidas (limite de " + std::to_string(perSecond_) +
                      " por segundo por endereço)");
      window.Omitted = 0;
    }
    if (over && window.Omitted == 0)
      it = sources_.erase(it);
    else
      ++it;
  }
  return lines;
}

}  // namespace app
