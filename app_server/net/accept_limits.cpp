#include "app_server/net/accept_limits.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "app_server/log/log.h"

namespace app::net {

bool IsOutOfDescriptors(const asio::error_code& error) {
  const int code = error.value();
  return error.category() == asio::system_category() &&
         (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM);
}

int DescriptorsBesideConnections(int workers) {
  return 32 + 5 * workers + kMaxRefusing;
}

long RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur);
}

void TDescriptorReserve::Take() {
  for (int& fd : fds_)
    if (fd < 0) fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void TDescriptorReserve::Release() {
  for (int& fd : fds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

int TDescriptorReserve::DropWaiting(int listener) {
  Release();
  int dropped = 0;
  for (;;) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    ::close(fd);
    ++dropped;
  }
  return dropped;
}

void TAcceptNotes::Refusal(const tcp::endpoint& peer, const std::string& refusal) {
  const auto now = TClock::now();
  ++refusedSinceNote_;
  if (now - lastRefusal_ < std::chrono::seconds(1)) return;
  lastRefusal_ = now;
  std::string line =
      fmt::format("{}:{} conexão recusada: {}", peer.address().to_string(), peer.port(), refusal);
  if (refusedSinceNote_ > 1)
    fmt::format_to(std::back_inserter(line), " ({} conexões recusadas no último segundo)",
                   refusedSinceNote_);
  LogLine(TLogPriority::Warning, line);
  refusedSinceNote_ = 0;
}

void TAcceptNotes::AcceptFailure(const asio::error_code& error, int dropped) {
  const auto now = TClock::now();
  droppedSinceNote_ += dropped;
  ++failuresSinceNote_;
  if (now - lastAccept_ < std::chrono::seconds(1)) return;
  lastAccept_ = now;
  std::string line = "falha ao aceitar conexões: ";
  line +=
      error.category() == asio::system_category() ? std::strerror(error.value()) : error.message();
  if (failuresSinceNote_ > 1)
    fmt::format_to(std::back_inserter(line), " ({} vezes no último segundo)", failuresSinceNote_);
  if (droppedSinceNote_ > 0)
    fmt::format_to(std::back_inserter(line), "; {} conexões em espera fechadas", droppedSinceNote_);
  LogLine(TLogPriority::Error, line);
  failuresSinceNote_ = 0;
  droppedSinceNote_ = 0;
}

}  // namespace app::net
