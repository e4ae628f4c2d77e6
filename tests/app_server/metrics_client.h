// A small HTTP client of the server's metrics endpoint (--metrics), for tests that watch the
// server's state instead of guessing it from time.
#pragma once

#include <chrono>
#include <string>
#include <utility>

#include "tests/app_server/server_process.h"

namespace testing_app {

// GET `path` from the endpoint on `port`: the status and the body.
std::pair<int, std::string> HttpGet(int port, const std::string& path);
// The value of one series in a /metrics text (-1 when absent).
double Sample(const std::string& text, const std::string& series);
// The metrics port from the line the server prints ("...; métricas em 127.0.0.1:PORT)").
int MetricsPort(const TServerProcess& server);
// Polls /metrics until `series` reads `value`; false when `timeout` passes first.
bool WaitForSample(int port, const std::string& series, double value,
                   std::chrono::milliseconds timeout);

}  // namespace testing_app
