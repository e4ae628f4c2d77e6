// How many log lines one source (a client address) may make per second: past the limit, lines
// are left out and counted, and one line later says how many were. A stranger's bytes must not
// become the log's bulk.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace app {

class TLogLimiter {
 public:
  using TClock = std::chrono::steady_clock;
  explicit TLogLimiter(int perSecond) : perSecond_(perSecond) {}

  // Whether a line about `source` may be written at `now`; a line left out is counted.
  bool Allow(const std::string& source, TClock::time_point now);
  // One line for each source whose second is over with lines left out ("127.0.0.9: 312 linhas
  // de log omitidas (limite de 20 por segundo por endereço)"); forgets the sources that are
  // quiet. `all` takes every count, over or not (at the end).
  std::vector<std::string> TakeOmitted(TClock::time_point now, bool all = false);

 private:
  struct TWindow {
    TClock::time_point Start;
    int Lines = 0;
    size_t Omitted = 0;
  };
  const int perSecond_;
  std::mutex mutex_;
  std::map<std::string, TWindow, std::less<>> sources_;
};

}  // namespace app
