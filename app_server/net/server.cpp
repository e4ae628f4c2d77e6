#include "app_server/net/server.h"

#include "app_server/net/session.h"

#include "app_server/db/database.h"

#include <fmt/format.h>

#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/log/metrics.h"
#include "app_server/net/accept_limits.h"
#include "app_server/net/log_limit.h"
#include "app_server/net/tls_stream.h"

namespace app {

namespace {
using namespace net;

// 127.0.0.0/8 and ::1, written as IPv6 too (::ffff:127.0.0.1).
bool IsLoopback(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
  return address.is_loopback();
}

}  // namespace

// Each worker thread runs a reactor of its own (an io_context used by that thread only), which
// owns the connections handed to it at accept time: reading, quick calls and writing happen on
// that thread with no hand-off between threads. Calls that may take long go to the query pool.
struct TServer::TImpl {
  TImpl(const TObjectRegistry& registry, TServerOptions options)
      : Workers(options.Workers < 1 ? 1 : options.Workers),
        Queries(std::make_unique<asio::thread_pool>(static_cast<size_t>(Workers))),
        Logins(std::make_unique<asio::thread_pool>(static_cast<size_t>(LoginThreads(options)))),
        Shared(registry, options, *Queries, *Logins) {
    Shared.LongLimit = Workers > 1 ? Workers - 1 : 1;
    for (int i = 0; i < Workers; ++i) {
      Reactors.push_back(std::make_unique<asio::io_context>(1));
      Guards.emplace_back(Reactors.back()->get_executor());
    }
    Acceptor = std::make_unique<tcp::acceptor>(*Reactors[0]);
    AcceptPause = std::make_unique<asio::steady_timer>(*Reactors[0]);
    Signals = std::make_unique<asio::signal_set>(*Reactors[0], SIGINT, SIGTERM, SIGHUP);
    Grace = std::make_unique<asio::steady_timer>(*Reactors[0]);
    LogTick = std::make_unique<asio::steady_timer>(*Reactors[0]);
    TickTimer = std::make_unique<asio::steady_timer>(*Reactors[0]);
  }

  // Half the cores, 1 to 4, unless set: a password check takes a core and its memory for tens
  // of milliseconds, and the searches must keep the rest.
  static int LoginThreads(const TServerOptions& options) {
    if (options.LoginThreads > 0) return options.LoginThreads;
    const int half = static_cast<int>(std::thread::hardware_concurrency() / 2);
    return half < 1 ? 1 : half > 4 ? 4 : half;
  }

  void AwaitSignal() {
    Signals->async_wait([this](const asio::error_code& error, int signal) {
      if (error) return;
      if (signal == SIGHUP) {
        LogLine(TLogPriority::Notice, "sinal recebido: SIGHUP");
        if (Hooks.Reload) {
          try {
            Hooks.Reload();
          } catch (const std::exception& failure) {
            LogLine(TLogPriority::Error, std::string("falha ao reler: ") + failure.what());
          }
        }
        AwaitSignal();
        return;
      }
      LogLine(TLogPriority::Notice,
              std::string("sinal recebido: ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
      BeginStop();
    });
  }

  void Tick() {
    TickTimer->expires_after(Hooks.TickEvery);
    TickTimer->async_wait([this](const asio::error_code& error) {
      if (error) return;
      Hooks.Tick();
      Tick();
    });
  }

  // The connection limit asked for, within what the descriptors leave room for (0: 1000 or
  // what fits); said in the log when lowered.
  int ConnectionLimit(int asked) const {
    if (asked <= 0) return ConnectionRoom < 1000 ? ConnectionRoom : 1000;
    if (asked <= ConnectionRoom) return asked;
    LogLine(TLogPriority::Warning,
            fmt::format("aviso: limite de conexões reduzido de {} a {}: o limite de descritores "
                        "de arquivo é {}",
                        asked, ConnectionRoom, Descriptors));
    return ConnectionRoom;
  }

  // Once a second: how many lines each noisy address had left out.
  void TellOmitted() {
    for (const auto& line : Shared.LogLimit.TakeOmitted(TClock::now())) LogLine(line);
    LogTick->expires_after(std::chrono::seconds(1));
    LogTick->async_wait([this](const asio::error_code& error) {
      if (!error) TellOmitted();
    });
  }

  void Accept() {
    asio::io_context& target = *Reactors[NextReactor++ % Reactors.size()];
    Acceptor->async_accept(target, [this](const asio::error_code& error, tcp::socket socket) {
      if (error) {
        if (error == asio::error::operation_aborted || !Acceptor->is_open()) return;
        if (IsOutOfDescriptors(error)) {
          // Accepting again at once would fail at once, forever: close what waits, pause.
          const int dropped = Reserve.DropWaiting(Acceptor->native_handle());
          Metrics().Refused(TRefusalReason::OutOfDescriptors, dropped);
          Notes.AcceptFailure(error, dropped);
          AcceptPause->expires_after(kAcceptPause);
          AcceptPause->async_wait([this](const asio::error_code& failure) {
            if (failure || !Acceptor->is_open()) return;
            Reserve.Take();
            Accept();
          });
          return;
        }
        Notes.AcceptFailure(error, 0);
      } else {
        Admit(std::move(socket));
      }
      if (Acceptor->is_open()) Accept();
    });
  }

  // Counts the connection against the limits, or makes it a refusal.
  void Admit(tcp::socket socket) {
    asio::error_code ignored;
    const auto endpoint = socket.remote_endpoint(ignored);
    const auto& options = Shared.Options;
    std::string refusal;
    TRefusalReason reason = TRefusalReason::TotalLimit;
    bool counted = false;
    const bool stranger = Shared.Registry.Authenticator() != nullptr;
    std::shared_ptr<TSession> evicted;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      if (Shared.Stopping) return;
      const auto strangers = Shared.Strangers.find(endpoint.address());
      if (Shared.Served >= options.MaxConnections) {
        refusal = fmt::format(
            "O servidor de aplicação atingiu o limite de {} conexões; tente novamente em "
            "instantes.",
            options.MaxConnections);
      } else if (Shared.PerAddress[endpoint.address()] >= options.MaxConnectionsPerAddress) {
        reason = TRefusalReason::AddressLimit;
        refusal = fmt::format(
            "O endereço {} atingiu o limite de {} conexões por endereço com o servidor de "
            "aplicação; feche as que não usa ou tente novamente em instantes.",
            endpoint.address().to_string(), options.MaxConnectionsPerAddress);
      } else if (stranger && strangers != Shared.Strangers.end() &&
                 static_cast<int>(strangers->second.size()) >=
                     options.MaxUnauthenticatedPerAddress) {
        reason = TRefusalReason::UnauthenticatedLimit;
        refusal = fmt::format(
            "O endereço {} atingiu o limite de {} conexões sem login com o servidor de "
            "aplicação; tente novamente em instantes.",
            endpoint.address().to_string(), options.MaxUnauthenticatedPerAddress);
      } else {
        if (stranger && Shared.StrangerCount >= options.MaxUnauthenticated)
          evicted = TakeEvictedLocked();
        counted = true;
        ++Shared.Served;
        ++Shared.PerAddress[endpoint.address()];
      }
      if (!counted) {
        if (Shared.PerAddress[endpoint.address()] == 0) Shared.PerAddress.erase(endpoint.address());
        Metrics().Refused(reason);
        Notes.Refusal(endpoint, refusal);
        if (Shared.Refusing >= kMaxRefusing) return;  // closed at once
        ++Shared.Refusing;
      }
    }
    if (evicted) asio::post(evicted->Executor(), [evicted] { evicted->Evict(); });
    auto session = std::make_shared<TSession>(std::move(socket), Shared, counted, refusal);
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      Shared.Sessions.emplace(session.get(), session);
      if (stranger && counted) session->JoinStrangersLocked(Shared.NextStranger++);
    }
    asio::post(session->Executor(), [session] { session->Start(); });
  }

  // Every place for strangers is taken: the oldest connection of the address that holds the
  // most goes (taken off the count here), so that whoever floods makes room for the others,
  // a newcomer who logs in at once among them.
  std::shared_ptr<TSession> TakeEvictedLocked() {
    auto heaviest = Shared.Strangers.end();
    for (auto it = Shared.Strangers.begin(); it != Shared.Strangers.end(); ++it)
      if (heaviest == Shared.Strangers.end() || it->second.size() > heaviest->second.size())
        heaviest = it;
    if (heaviest == Shared.Strangers.end() || heaviest->second.empty()) return nullptr;
    auto oldest = heaviest->second.begin();
    std::shared_ptr<TSession> session = oldest->second.lock();
    heaviest->second.erase(oldest);
    --Shared.StrangerCount;
    if (heaviest->second.empty()) Shared.Strangers.erase(heaviest);
    return session;
  }

  // On reactor 0.
  void BeginStop() {
    std::vector<std::shared_ptr<TSession>> sessions;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      if (Shared.Stopping) return;
      Shared.Stopping = true;
      for (auto& entry : Shared.Sessions)
        if (auto session = entry.second.lock()) sessions.push_back(std::move(session));
      Shared.LastSessionGone = [this] { asio::post(*Reactors[0], [this] { Finish(); }); };
    }
    LogLine(TLogPriority::Notice, fmt::format("parando: {} conexões abertas", sessions.size()));
    if (Hooks.Stopping) Hooks.Stopping();
    TickTimer->cancel();
    asio::error_code ignored;
    Acceptor->close(ignored);
    AcceptPause->cancel();
    LogTick->cancel();
    Signals->cancel(ignored);
    if (sessions.empty()) {
      Finish();
      return;
    }
    int grace = 0;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      grace = Shared.Options.ShutdownGraceMs;
    }
    Grace->expires_after(std::chrono::milliseconds(grace));
    Grace->async_wait([this](const asio::error_code& error) {
      if (error) return;
      LogLine(TLogPriority::Warning,
              "parando: tempo de espera esgotado; conexões restantes descartadas");
      Queries->stop();
      Logins->stop();
      for (auto& reactor : Reactors) reactor->stop();
    });
    for (auto& session : sessions) {
      auto target = session;
      asio::post(target->Executor(), [target] { target->RequestStop(); });
    }
  }

  // Every connection is closed: let the reactors run dry.
  void Finish() {
    Grace->cancel();
    for (auto& guard : Guards) guard.reset();
  }

  int Workers;
  // Destroyed before the reactors by ~TServer (see there); the shared state refers to them.
  std::unique_ptr<asio::thread_pool> Queries;
  std::unique_ptr<asio::thread_pool> Logins;
  // Shared outlives the reactors: sessions still queued in them refer to it when they go.
  TShared Shared;
  std::vector<std::unique_ptr<asio::io_context>> Reactors;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> Guards;
  size_t NextReactor = 0;
  std::unique_ptr<tcp::acceptor> Acceptor;
  std::unique_ptr<asio::steady_timer> AcceptPause;
  std::unique_ptr<asio::signal_set> Signals;
  std::unique_ptr<asio::steady_timer> Grace;
  std::unique_ptr<asio::steady_timer> LogTick;
  std::unique_ptr<asio::steady_timer> TickTimer;
  TServerHooks Hooks;
  // What Listen found: the descriptor limit, and the connections it leaves room for.
  long Descriptors = 0;
  int ConnectionRoom = 1;
  TDescriptorReserve Reserve;
  TAcceptNotes Notes;
};

TServer::TServer(const TObjectRegistry& registry, TServerOptions options)
    : impl_(std::make_unique<TImpl>(registry, std::move(options))) {}

TServer::~TServer() {
  std::deque<std::function<void()>> waiting;
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
    waiting.swap(impl_->Shared.LongWaiting);
  }
  // Calls that never started when the grace ran out hold their sessions: those go first, while
  // their reactors and what they share are still there (a session outliving its reactor
  // corrupted the heap). The pools' queues go the same way: stopped, joined, then shut down,
  // which destroys what was still queued.
  waiting.clear();
  impl_->Queries->stop();
  impl_->Logins->stop();
  impl_->Queries->join();
  impl_->Logins->join();
  impl_->Queries.reset();
  impl_->Logins.reset();
  // Sessions still queued go with their reactors, before anything they refer to.
  impl_->Grace.reset();
  impl_->LogTick.reset();
  impl_->TickTimer.reset();
  impl_->Signals.reset();
  impl_->AcceptPause.reset();
  impl_->Acceptor.reset();
  impl_->Guards.clear();
  impl_->Reactors.clear();
}

void ValidateServerOptions(const TServerOptions& options) {
  asio::error_code error;
  const auto address = asio::ip::make_address(options.Host, error);
  if (error)
    throw std::runtime_error(
        fmt::format("Endereço de escuta inválido: {} ({}).", options.Host, error.message()));
  if (options.TlsCertificateFile.empty() != options.TlsKeyFile.empty())
    throw std::runtime_error(
        "Para TLS são precisos o certificado e a chave (--tls-cert e "
        "--tls-key).");
  if (options.TlsCertificateFile.empty() && !IsLoopback(address) && !options.AllowInsecure)
    throw std::runtime_error(
        "Recusado escutar em " + options.Host +
        " sem criptografia: os dados de compras passariam abertos pela rede. Use --tls-cert e "
        "--tls-key, ou --insecure para aceitar o risco.");
}

void TServer::Listen() {
  auto& options = impl_->Shared.Options;
  impl_->Descriptors = RaiseDescriptorLimit();
  const long room = impl_->Descriptors - DescriptorsBesideConnections(impl_->Workers);
  // Connections never take the descriptors the database and the server itself need: past
  // them, every call would fail, not just the connection that came too many.
  impl_->ConnectionRoom = static_cast<int>(room < 1 ? 1 : room < 1000000 ? room : 1000000);
  options.MaxConnections = impl_->ConnectionLimit(options.MaxConnections);
  if (options.MaxUnauthenticated <= 0)
    options.MaxUnauthenticated = options.MaxConnections / 4 < 1 ? 1 : options.MaxConnections / 4;
  impl_->Reserve.Take();

  ValidateServerOptions(options);
  asio::error_code error;
  const auto address = asio::ip::make_address(options.Host, error);
  if (!options.TlsCertificateFile.empty())
    impl_->Shared.Tls = MakeServerTlsContext(options.TlsCertificateFile, options.TlsKeyFile);
  const tcp::endpoint endpoint(address, options.Port);
  auto& acceptor = *impl_->Acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (!error) acceptor.native_non_blocking(true, error);
  if (error)
    throw std::runtime_error(fmt::format("Não foi possível escutar em {}:{} ({}).", options.Host,
                                         options.Port, error.message()));
}

uint16_t TServer::Port() const {
  asio::error_code error;
  const auto endpoint = impl_->Acceptor->local_endpoint(error);
  return error ? 0 : endpoint.port();
}

std::string TServer::LimitsText() const {
  std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
  const auto& options = impl_->Shared.Options;
  return fmt::format(
      "limites: {} conexões ({} por endereço), {} MiB em requisições incompletas, {} pesquisas "
      "na fila",
      options.MaxConnections, options.MaxConnectionsPerAddress,
      options.MaxPendingBytes / (1024 * 1024), options.MaxQueuedQueries);
}

void TServer::SetHooks(TServerHooks hooks) {
  impl_->Hooks = std::move(hooks);
}

void TServer::Reconfigure(const TServerOptions& next) {
  TShared& shared = impl_->Shared;
  const int connections = impl_->ConnectionLimit(next.MaxConnections);
  {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    TServerOptions& options = shared.Options;
    options.MaxConnections = connections;
    options.MaxConnectionsPerAddress = next.MaxConnectionsPerAddress;
    options.MaxUnauthenticated = next.MaxUnauthenticated > 0
                                     ? next.MaxUnauthenticated
                                     : (connections / 4 < 1 ? 1 : connections / 4);
    options.MaxUnauthenticatedPerAddress = next.MaxUnauthenticatedPerAddress;
    options.MaxUnsentBytes = next.MaxUnsentBytes;
    options.ShutdownGraceMs = next.ShutdownGraceMs;
    options.MessageTimeoutMs = next.MessageTimeoutMs;
    options.LoginTimeoutMs = next.LoginTimeoutMs;
    options.HandshakeTimeoutMs = next.HandshakeTimeoutMs;
    options.MaxPendingBytes = next.MaxPendingBytes;
    options.MaxQueuedQueries = next.MaxQueuedQueries;
    options.MaxQueuedLogins = next.MaxQueuedLogins;
    shared.TakeLimits(options);
  }
  // More room for replies may let a waiting report start.
  shared.StartLongCalls();
}

TServerLoad TServer::Load() const {
  TShared& shared = impl_->Shared;
  TServerLoad load;
  {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    load.Connections = shared.Served;
    load.Unauthenticated = shared.StrangerCount;
    load.WaitingLongCalls = static_cast<int>(shared.LongWaiting.size());
  }
  load.QueuedQueries = shared.QueuedQueries.load();
  load.QueuedLogins = shared.QueuedLogins.load();
  load.UnsentBytes = shared.UnsentBytes.load();
  return load;
}

void TServer::Run() {
  LogLine(TLogPriority::Notice, LimitsText());
  impl_->AwaitSignal();
  if (impl_->Hooks.Tick && impl_->Hooks.TickEvery.count() > 0) impl_->Tick();
  impl_->Accept();
  impl_->TellOmitted();
  StartLogBuffering();
  std::vector<std::thread> threads;
  for (size_t i = 1; i < impl_->Reactors.size(); ++i)
    threads.emplace_back([this, i] { impl_->Reactors[i]->run(); });
  impl_->Reactors[0]->run();
  for (auto& thread : threads) thread.join();
  impl_->Queries->join();
  impl_->Logins->join();
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
  }
  for (const auto& line : impl_->Shared.LogLimit.TakeOmitted(TClock::now(), true)) LogLine(line);
  StopLogBuffering();
}

void TServer::Stop() {
  asio::post(*impl_->Reactors[0], [this] { impl_->BeginStop(); });
}

}  // namespace app
