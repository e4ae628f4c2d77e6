#include "app_server/net/metrics_http.h"

#include <fmt/format.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace app {

namespace {

using asio::ip::tcp;
using TClock = std::chrono::steady_clock;

constexpr auto kRequestTime = std::chrono::seconds(5);
constexpr size_t kMaxRequestBytes = 8 * 1024;
constexpr int kMaxConnections = 32;
constexpr auto kHealthFor = std::chrono::seconds(1);

std::string Response(int status, const char* reason, const std::string& type,
                     const std::string& body, bool withBody) {
  std::string text = fmt::format(
      "HTTP/1.1 {} {}\r\nContent-Type: {}\r\nContent-Length: {}\r\n"
      "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
      status, reason, type, body.size());
  if (withBody) text += body;
  return text;
}

}  // namespace

struct TMetricsEndpoint::TImpl {
  TImpl(std::string host, uint16_t port, THandlers handlers)
      : Host(std::move(host)), PortAsked(port), Handlers(std::move(handlers)), Acceptor(Context) {}

  // One request, answered and closed.
  class TConnection : public std::enable_shared_from_this<TConnection> {
   public:
    TConnection(tcp::socket socket, TImpl& owner)
        : socket_(std::move(socket)), timer_(owner.Context), owner_(owner) {
      ++owner_.Open;
    }
    ~TConnection() { --owner_.Open; }

    void Start() {
      timer_.expires_after(kRequestTime);
      timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (error) return;
        asio::error_code ignored;
        self->socket_.close(ignored);
      });
      Read();
    }

   private:
    void Read() {
      socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](
                                                        const asio::error_code& error,
                                                        size_t count) {
        if (error) {
          self->timer_.cancel();
          return;
        }
        self->request_.append(self->chunk_, count);
        if (self->request_.find("\r\n\r\n") != std::string::npos ||
            self->request_.find("\n\n") != std::string::npos) {
          self->Answer();
        } else if (self->request_.size() > kMaxRequestBytes) {
          self->Write(Response(431, "Request Header Fields Too Large", "text/plain; charset=utf-8",
                               "requisição grande demais\n", true));
        } else {
          self->Read();
        }
      });
    }

    void Answer() {
      // "GET /metrics HTTP/1.1"
      const size_t lineEnd = request_.find_first_of("\r\n");
      const std::string line = request_.substr(0, lineEnd);
      const size_t firstSpace = line.find(' ');
      const size_t secondSpace =
          firstSpace == std::string::npos ? firstSpace : line.find(' ', firstSpace + 1);
      if (secondSpace == std::string::npos || line.compare(secondSpace + 1, 5, "HTTP/") != 0) {
        Write(Response(400, "Bad Request", "text/plain; charset=utf-8", "requisição inválida\n",
                       true));
        return;
      }
      const std::string method = line.substr(0, firstSpace);
      std::string path = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
      path = path.substr(0, path.find('?'));
      const bool head = method == "HEAD";
      if (method != "GET" && !head) {
        Write(Response(405, "Method Not Allowed", "text/plain; charset=utf-8", "use GET ou HEAD\n",
                       true));
        return;
      }
      if (path == "/metrics") {
        std::string why;
        const bool up = owner_.Healthy(why);
        Write(Response(200, "OK", "text/plain; version=0.0.4; charset=utf-8",
                       owner_.Handlers.Metrics(up), !head));
      } else if (path == "/health") {
        std::string why;
        if (owner_.Healthy(why))
          Write(Response(200, "OK", "text/plain; charset=utf-8", "ok\n", !head));
        else
          Write(Response(503, "Service Unavailable", "text/plain; charset=utf-8",
                         "banco de dados indisponível: " + why + "\n", !head));
      } else {
        Write(Response(404, "Not Found", "text/plain; charset=utf-8",
                       "não encontrado; há /metrics e /health\n", !head));
      }
    }

    void Write(std::string text) {
      reply_ = std::move(text);
      asio::async_write(socket_, asio::buffer(reply_),
                        [self = shared_from_this()](const asio::error_code&, size_t) {
                          asio::error_code ignored;
                          self->socket_.shutdown(tcp::socket::shutdown_both, ignored);
                          self->socket_.close(ignored);
                          self->timer_.cancel();
                        });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    TImpl& owner_;
    char chunk_[2048];
    std::string request_;
    std::string reply_;
  };

  void Accept() {
    Acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
      if (error == asio::error::operation_aborted || !Acceptor.is_open()) return;
      if (!error && Open < kMaxConnections)
        std::make_shared<TConnection>(std::move(socket), *this)->Start();
      Accept();
    });
  }

  bool Healthy(std::string& why) {
    std::lock_guard<std::mutex> lock(HealthMutex);
    const auto now = TClock::now();
    if (!Checked || now - LastCheck >= kHealthFor) {
      LastWhy.clear();
      try {
        LastHealthy = Handlers.Health(LastWhy);
      } catch (const std::exception& failure) {
        LastHealthy = false;
        LastWhy = failure.what();
      }
      LastCheck = TClock::now();
      Checked = true;
    }
    why = LastWhy;
    return LastHealthy;
  }

  std::string Host;
  uint16_t PortAsked;
  THandlers Handlers;
  asio::io_context Context;
  tcp::acceptor Acceptor;
  std::thread Thread;
  std::atomic<int> Open{0};
  std::mutex HealthMutex;
  bool Checked = false;
  bool LastHealthy = false;
  std::string LastWhy;
  TClock::time_point LastCheck;
};

TMetricsEndpoint::TMetricsEndpoint(std::string host, uint16_t port, THandlers handlers)
    : impl_(std::make_unique<TImpl>(std::move(host), port, std::move(handlers))) {}

TMetricsEndpoint::~TMetricsEndpoint() {
  if (impl_->Thread.joinable()) {
    asio::post(impl_->Context, [this] {
      asio::error_code ignored;
      impl_->Acceptor.close(ignored);
      impl_->Context.stop();
    });
    impl_->Thread.join();
  }
}

void TMetricsEndpoint::Start() {
  asio::error_code error;
  const auto address = asio::ip::make_address(impl_->Host, error);
  if (error)
    throw std::runtime_error(
        fmt::format("Endereço de métricas inválido: {} ({}).", impl_->Host, error.message()));
  const tcp::endpoint endpoint(address, impl_->PortAsked);
  auto& acceptor = impl_->Acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error)
    throw std::runtime_error(fmt::format("Não foi possível escutar as métricas em {}:{} ({}).",
                                         impl_->Host, impl_->PortAsked, error.message()));
  impl_->Accept();
  impl_->Thread = std::thread([this] { impl_->Context.run(); });
}

uint16_t TMetricsEndpoint::Port() const {
  asio::error_code error;
  const auto endpoint = impl_->Acceptor.local_endpoint(error);
  return error ? 0 : endpoint.port();
}

bool TMetricsEndpoint::Healthy(std::string& why) {
  return impl_->Healthy(why);
}

bool ParseMetricsAddress(const std::string& text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  std::string portText = text;
  host = "127.0.0.1";
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    if (host.empty()) return false;
  }
  char* end = nullptr;
  const long value = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace app
