// The operators' window on a running server: a small HTTP/1.1 listener of its own, on an
// address apart from the clients' (--metrics 127.0.0.1:9450), with its own thread, so that
// neither a scrape nor a slow scraper ever touches the threads that serve the buyers.
//
//   GET /metrics  200, the metrics in Prometheus' text format (metrics.h)
//   GET /health   200 "ok" when the database answers; 503 with the reason when it does not (for
//                 a load balancer in front of several servers)
//   anything else 404, or 405 for a method other than GET and HEAD
//
// One request per connection, answered and closed. A request must arrive whole within 5 s and
// within 8 KiB; at most 32 connections at once (more are closed as accepted). The health check
// runs at most once a second: answers within that second repeat the last result.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace app {

class TMetricsEndpoint {
 public:
  struct THandlers {
    // Given whether the database answers now (the health below, at most a second old).
    std::function<std::string(bool databaseUp)> Metrics;
    // True when the database answers; otherwise false with the reason in the argument.
    std::function<bool(std::string&)> Health;
  };

  TMetricsEndpoint(std::string host, uint16_t port, THandlers handlers);
  ~TMetricsEndpoint();  // stops, closing what is open
  TMetricsEndpoint(const TMetricsEndpoint&) = delete;
  TMetricsEndpoint& operator=(const TMetricsEndpoint&) = delete;

  // Binds and starts serving; raises std::runtime_error in Portuguese when it cannot.
  void Start();
  uint16_t Port() const;
  // The health as /health answers it (at most one check a second).
  bool Healthy(std::string& why);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// "HOST:PORT", "[::1]:PORT" or "PORT" (on 127.0.0.1). False when it does not read.
bool ParseMetricsAddress(const std::string& text, std::string& host, uint16_t& port);

}  // namespace app
