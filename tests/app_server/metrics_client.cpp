// A small HTTP client of the server's metrics endpoint, for tests that watch the server's state.
#include "tests/app_server/metrics_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

namespace testing_app {

using namespace std::chrono_literals;

// GET `path` from the endpoint on `port`: the status and the body.
std::pair<int, std::string> HttpGet(int port, const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    throw std::runtime_error("metrics connect failed");
  }
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    ::close(fd);
    throw std::runtime_error("metrics send failed");
  }
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd poller{fd, POLLIN, 0};
    if (::poll(&poller, 1, 200) <= 0) continue;
    char buffer[8192];
    const ssize_t count = ::read(fd, buffer, sizeof(buffer));
    if (count <= 0) break;
    answer.append(buffer, static_cast<size_t>(count));
  }
  ::close(fd);
  std::smatch status;
  if (!std::regex_search(answer, status, std::regex("^HTTP/1\\.1 (\\d{3}) ")))
    throw std::runtime_error("not an HTTP answer: " + answer);
  const size_t body = answer.find("\r\n\r\n");
  return {std::stoi(status[1]), body == std::string::npos ? "" : answer.substr(body + 4)};
}

// The value of one series in a /metrics text (-1 when absent).
double Sample(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::stod(text.substr(at + series.size() + 2));
}

// The metrics port from the line the server prints ("...; métricas em 127.0.0.1:PORT)").
int MetricsPort(const TServerProcess& server) {
  std::smatch port;
  if (!std::regex_search(server.Banner(), port, std::regex("métricas em 127\\.0\\.0\\.1:(\\d+)")))
    throw std::runtime_error("no metrics address in: " + server.Banner());
  return std::stoi(port[1]);
}

bool WaitForSample(int port, const std::string& series, double value,
                   std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Sample(HttpGet(port, "/metrics").second, series) == value) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace testing_app
