#include "tests/app_server/tcp_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace testing_app {

TTcpProxy::TTcpProxy(std::string unixSocket) : target_(std::move(unixSocket)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
  Listen();
  thread_ = std::thread([this] { Loop(); });
}

TTcpProxy::~TTcpProxy() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  CloseAll();
  if (listener_ >= 0) ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void TTcpProxy::Listen() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0)
    throw std::runtime_error(std::string("proxy listen: ") + std::strerror(errno));
  socklen_t length = sizeof(address);
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

void TTcpProxy::Wake() {
  const char byte = 1;
  (void)!::write(wake_[1], &byte, 1);
}

void TTcpProxy::CloseAll() {
  for (const auto& pair : pairs_) {
    ::close(pair.Client);
    ::close(pair.Server);
  }
  pairs_.clear();
}

// The loop owns the sockets (a socket being polled there would outlive a close from here): a
// change of state is asked for, then waited for.
void TTcpProxy::Change(TState wanted) {
  std::unique_lock<std::mutex> lock(mutex_);
  wanted_ = wanted;
  Wake();
  changed_.wait(lock, [&] { return state_ == wanted_; });
}

void TTcpProxy::Down() {
  Change(TState::Down);
}

void TTcpProxy::Up() {
  Change(TState::Up);
}

void TTcpProxy::Stall() {
  Change(TState::Stalled);
}

// On the loop's thread, under the lock.
void TTcpProxy::Apply() {
  if (state_ == wanted_) return;
  if (wanted_ == TState::Down) {
    ::close(listener_);
    listener_ = -1;
    CloseAll();
  } else if (listener_ < 0) {
    Listen();
  }
  state_ = wanted_;
  changed_.notify_all();
}

void TTcpProxy::Loop() {
  char buffer[65536];
  for (;;) {
    std::vector<pollfd> polled;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      Apply();
      polled.push_back({wake_[0], POLLIN, 0});
      if (listener_ >= 0) polled.push_back({listener_, POLLIN, 0});
      if (state_ == TState::Up)
        for (const auto& pair : pairs_) {
          polled.push_back({pair.Client, POLLIN, 0});
          polled.push_back({pair.Server, POLLIN, 0});
        }
    }
    if (::poll(polled.data(), polled.size(), 1000) <= 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    while (::read(wake_[0], buffer, sizeof(buffer)) > 0) {
    }
    if (wanted_ != state_) continue;
    for (const auto& entry : polled) {
      if (entry.revents == 0 || entry.fd == wake_[0]) continue;
      if (entry.fd == listener_) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // Every close a reset, as from a server that died, with nothing left on the port that
        // would keep Up from listening on it again.
        const linger abort{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, target_.c_str(), sizeof(address.sun_path) - 1);
        if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
          ::close(client);
          ::close(server);
          continue;
        }
        pairs_.push_back({client, server});
        continue;
      }
      if (state_ != TState::Up) continue;
      // Pass the bytes on to the other end; a close on either side closes both.
      for (size_t i = 0; i < pairs_.size(); ++i) {
        const TPair pair = pairs_[i];
        if (entry.fd != pair.Client && entry.fd != pair.Server) continue;
        const int to = entry.fd == pair.Client ? pair.Server : pair.Client;
        const ssize_t count = ::recv(entry.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        bool closed = count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR);
        for (ssize_t sent = 0; count > 0 && sent < count && !closed;) {
          const ssize_t written =
              ::send(to, buffer + sent, static_cast<size_t>(count - sent), MSG_NOSIGNAL);
          if (written <= 0) closed = true;
          sent += written > 0 ? written : 0;
        }
        if (closed) {
          ::close(pair.Client);
          ::close(pair.Server);
          pairs_.erase(pairs_.begin() + static_cast<long>(i));
        }
        break;
      }
    }
  }
}

}  // namespace testing_app
