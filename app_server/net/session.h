// One client connection of the server (server.cpp): the session and what the sessions share
// with the server. TSession (session.cpp) reads the requests, dispatches them (the quick calls at
// once, the others on the query pool) and wires its collaborators, which run on its thread:
// TLoginGate (session_login.h) the login gating (the deadline, the checks on the login pool, the
// count of connections that have not logged in), TSessionWriter (session_writer.h) the writing of
// the answers (the bytes not yet taken, the drain before a close), TTlsOpening (session_tls.h)
// the look at the first byte and the TLS handshake.
#pragma once

#include "app_server/net/server.h"

#include "app_server/db/database.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/log/metrics.h"
#include "app_server/net/log_limit.h"
#include "app_server/net/session_login.h"
#include "app_server/net/session_tls.h"
#include "app_server/net/session_writer.h"
#include "app_server/net/tls_stream.h"

namespace app::net {

using asio::ip::tcp;
using TClock = std::chrono::steady_clock;
using TSocket = tcp::socket;

constexpr size_t kReadChunk = 64 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(2);
// How long a connection past a limit may take to send the request its refusal answers, and how
// much of that request is read.
constexpr auto kRefusalWait = std::chrono::seconds(2);
constexpr size_t kRefusalReadLimit = 64 * 1024;
// Connections being refused at once; past that a connection is closed as soon as accepted.
constexpr int kMaxRefusing = 16;
// After the descriptors ran out, how long accepting pauses.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr const char* kBusy = "Servidor ocupado; tente novamente em instantes.";
constexpr const char* kTlsRequired =
    "Este servidor de aplicação aceita somente conexões criptografadas (TLS); ative tls na "
    "configuração do cliente.";

class TSession;

// What the sessions share with the server.
struct TShared {
  TShared(const TObjectRegistry& registry, TServerOptions options, asio::thread_pool& queries,
          asio::thread_pool& logins)
      : Registry(registry),
        Options(std::move(options)),
        Queries(queries),
        Logins(logins),
        LogLimit(Options.LogLinesPerAddress) {
    TakeLimits(Options);
  }

  // The limits read without the mutex, from `options` (at start and at each Reconfigure).
  void TakeLimits(const TServerOptions& options) {
    MessageTimeoutMs = options.MessageTimeoutMs;
    LoginTimeoutMs = options.LoginTimeoutMs;
    HandshakeTimeoutMs = options.HandshakeTimeoutMs;
    MaxPendingBytes = options.MaxPendingBytes;
    MaxQueuedQueries = options.MaxQueuedQueries;
    MaxQueuedLogins = options.MaxQueuedLogins;
  }

  const TObjectRegistry& Registry;
  // The connection limits, MaxUnsentBytes and ShutdownGraceMs are read and changed under Mutex;
  // the limits below are read by the sessions without it, and changed only through the atomics.
  TServerOptions Options;
  std::atomic<int> MessageTimeoutMs{0}, LoginTimeoutMs{0}, HandshakeTimeoutMs{0};
  std::atomic<size_t> MaxPendingBytes{0};
  std::atomic<int> MaxQueuedQueries{0}, MaxQueuedLogins{0};
  asio::thread_pool& Queries;
  asio::thread_pool& Logins;  // password checks
  std::mutex Mutex;
  // Every session, the ones being refused too (so that a stop reaches them).
  std::unordered_map<TSession*, std::weak_ptr<TSession>> Sessions;
  int Served = 0;  // sessions counted against the connection limits
  std::map<asio::ip::address, int> PerAddress;
  int Refusing = 0;
  bool Stopping = false;
  std::function<void()> LastSessionGone;    // while stopping
  std::atomic<size_t> PendingBytes{0};      // held by requests not yet whole
  std::atomic<int> QueuedQueries{0};        // searches waiting for a query thread
  std::unique_ptr<asio::ssl::context> Tls;  // set when connections are encrypted
  std::atomic<int> QueuedLogins{0};         // logins waiting for a login thread
  // Connections that have not logged in, by address, oldest first (under Mutex).
  std::map<asio::ip::address, std::map<uint64_t, std::weak_ptr<TSession>>> Strangers;
  int StrangerCount = 0;
  uint64_t NextStranger = 1;
  std::atomic<size_t> UnsentBytes{0};  // replies written but not yet taken by the clients
  // Long calls waiting to start, and how many run (under Mutex); LongLimit is set at start.
  std::deque<std::function<void()>> LongWaiting;
  int LongRunning = 0;
  int LongLimit = 1;
  TLogLimiter LogLimit;

  // Starts the long calls that may start now; call after anything that may allow one.
  void StartLongCalls() {
    std::vector<std::function<void()>> starting;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      while (!LongWaiting.empty() && LongRunning < LongLimit &&
             UnsentBytes.load() < Options.MaxUnsentBytes) {
        starting.push_back(std::move(LongWaiting.front()));
        LongWaiting.pop_front();
        ++LongRunning;
      }
    }
    for (auto& call : starting) asio::post(Queries, std::move(call));
  }
};

// "GetItens 1.8 ms 37 linhas"; a call that waited for a query thread says how long, apart:
// "GetItens 1.8 ms (fila 4.2 ms) 37 linhas".
std::string LogText(const TRpcRequest& request, const TCallOutcome& outcome, double ms,
                    double queuedMs = -1);

// One client connection. Everything it does runs on the thread of the reactor that accepted it,
// except the calls that go to the query pool, whose answers come back to that thread.
//
// A session past a connection limit is a refusal: it reads the first request only to answer it
// with `refusal` and closes. So is a client that speaks plain MessagePack to an encrypted
// server: it is answered in plain that the server wants TLS.
//
// On an encrypted server the TLS handshake comes first, and must be done within the handshake
// time-out (the refusal wait for a refusal); the requests follow as on a plain connection.
class TSession : public std::enable_shared_from_this<TSession> {
 public:
  TSession(TSocket socket, TShared& shared, bool counted, std::string refusal);

  ~TSession();

  asio::any_io_executor Executor() { return stream_.Socket().get_executor(); }
  const asio::ip::address& Address() const { return address_; }

  // Counted among the connections that have not logged in, as the `number`th (under the
  // shared mutex).
  void JoinStrangersLocked(uint64_t number) { gate_.JoinStrangersLocked(number); }

  // Closed to make room for a newcomer while strangers hold every place (on this session's
  // thread); Admit took it off the count already.
  void Evict() { gate_.Evict(); }

  void Start();

  // From the server's Stop, on this session's thread.
  void RequestStop();

 private:
  // The collaborators below run on this session's thread and reach its state directly.
  friend class TLoginGate;
  friend class TSessionWriter;
  friend class TTlsOpening;

  void Serve();

  void ReadMore();

  void OnRead(const asio::error_code& error, size_t count);

  // Answers every whole request received so far, then reads on. Returns early whenever an
  // answer has to wait (for the query pool, or for the client to read).
  void ProcessBuffered();

  bool Stranger() const {
    return !gate_.Authenticated() && shared_.Registry.Authenticator() != nullptr;
  }

  // Accounts for the bytes the decoder holds against the budget of all connections; false
  // when they would pass it.
  bool HoldBuffered();

  void ReleaseBuffered();

  static double Milliseconds(TClock::time_point since);

  // A call that may take long runs on the query pool (and so does a quick one while searches
  // wait there); this connection waits for it, the others on this thread do not. False, with
  // the answer in writer_, when the queue is full.
  bool RunOnPool(TRpcRequest& request);

  void ArmTimer(TClock::duration after, std::string why);

  void Close();

  // A connection that has not logged in writes at most LogLinesPerAddress lines a second for
  // its address; the rest are counted (TLogLimiter).
  void Note(const std::string& text, TLogPriority priority = TLogPriority::Info);

  TConnectionStream stream_;
  asio::steady_timer timer_;
  TLoginGate gate_;
  TShared& shared_;
  const bool counted_;
  const bool refusingSlot_;  // counted in shared_.Refusing
  std::string refusal_;
  asio::ip::address address_;
  std::string addressText_;
  std::string peer_;
  TRequestDecoder decoder_;
  size_t held_ = 0;  // of decoder_'s bytes, accounted in shared_.PendingBytes
  TSessionWriter writer_;
  TTlsOpening tls_;
  bool busy_ = false;  // an answer is being computed or written
  bool stopping_ = false;
  bool closed_ = false;
  std::atomic<bool> gone_{false};  // closed_, for the query threads: a call not begun is dropped
  bool messageTimerArmed_ = false;
};

}  // namespace app::net
