// The listener: accepts any number of clients and serves each connection's requests in order,
// with a pool of worker threads running the calls (a call's query runs on the worker that read
// the request; other connections go on with the other workers, and a client that sends or reads
// slowly holds no worker at all).
//
// Time limits: a request must arrive whole within MessageTimeoutMs of its first byte, and a
// response must be taken by the client within WriteTimeoutMs; otherwise the connection closes.
// Idle connections stay open (TCP keep-alive finds dead peers).
//
// Stop (SIGTERM, SIGINT or Stop()): no new connections; idle connections close at once; a call
// in flight is answered first, then its connection closes; after ShutdownGraceMs whatever is
// left is dropped.
//
// Login (when the registry has an authenticator, see accounts.h): until a connection's
// "Sessao.Login" succeeds, any other call is answered "Sessão não autenticada."; the login runs
// on the query pool, like a search, within the same queue limit.
//
// Strangers: a connection that has not logged in is closed at its first malformed request, its
// log lines are limited per address and second, and such connections have limits of their own
// (MaxUnauthenticated). Password checks run on login threads of their own.
//
// Long calls (reports, IServiceObject::IsLong) take at most all query threads but one, and wait
// to start while the replies not yet taken by their clients pass MaxUnsentBytes.
//
// Limits (each answered with an error in Portuguese, see docs/service.md): connections in all
// and per client address (a connection past them gets its first request answered with the
// refusal, then closes), bytes held for requests not yet whole across all connections (the
// connection that would pass it is answered and closed), and searches waiting for a query
// thread (past it a search is answered "Servidor ocupado; tente novamente em instantes." at
// once and the connection stays open). At the process's descriptor limit the server stops
// accepting for a moment, closes what waits to be accepted, and goes on serving the
// connections it has.
//
// Encryption: with a certificate and key every connection speaks TLS 1.2 or later; the
// handshake must be done within HandshakeTimeoutMs, and a client that speaks plain MessagePack
// is answered (in plain) that the server wants TLS, then closed. Without them the server only
// listens on a loopback address, unless AllowInsecure says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app_server/log/log.h"
#include "app_server/rpc/rpc.h"

namespace app {

struct TServerOptions {
  std::string Host = "127.0.0.1";
  uint16_t Port = 7450;  // 0: any free port (Port() tells which)
  int Workers = 4;
  int MessageTimeoutMs = 60000;
  int WriteTimeoutMs = 60000;
  int ShutdownGraceMs = 30000;
  // 0: 1000. Any value is lowered to what the descriptor limit leaves room for, beside the
  // descriptors the server and its database connections need.
  int MaxConnections = 0;
  int MaxConnectionsPerAddress = 100;
  size_t MaxPendingBytes = 256u * 1024u * 1024u;
  int MaxQueuedQueries = 256;
  std::string TlsCertificateFile;  // PEM, the server's certificate first, then its chain
  std::string TlsKeyFile;          // PEM, unencrypted
  int HandshakeTimeoutMs = 10000;
  bool AllowInsecure = false;  // listen beyond loopback without TLS
  // With an authenticator in the registry: a connection that has not logged in this long after
  // it was accepted is closed, and a refused login is answered this long after it arrived,
  // whatever the reason (so that the time tells nothing of it).
  int LoginTimeoutMs = 10000;
  int LoginFailureDelayMs = 1000;
  // Connections that have not logged in yet (with an authenticator), in all (0: a quarter of
  // MaxConnections) and per address. Past the total, the oldest such connection of the address
  // that holds the most is closed to make room; past the per-address limit, the newcomer is
  // refused. Logged-in users and users logging in always find room however many strangers come.
  int MaxUnauthenticated = 0;
  int MaxUnauthenticatedPerAddress = 16;
  // Logins (password checks) run on threads of their own, never on the query threads: 0 means
  // half the processor cores, 1 to 4. Past MaxQueuedLogins waiting, a login is answered busy.
  int LoginThreads = 0;
  int MaxQueuedLogins = 64;
  // Reply bytes written but not yet taken by the clients, all connections together: past it,
  // long calls (reports) wait to start until clients read. A connection holds one reply at most:
  // it reads no further request until the client takes its answer.
  size_t MaxUnsentBytes = 128u * 1024u * 1024u;
  // Log lines a connection that has not logged in may cause per second and address; the rest
  // are counted and told in one line.
  int LogLinesPerAddress = 20;
};

// What a running server holds now, for its metrics.
struct TServerLoad {
  int Connections = 0;       // counted against the limits (refusals in progress are not)
  int Unauthenticated = 0;   // of those, not logged in yet
  int QueuedQueries = 0;     // calls waiting for a query thread
  int QueuedLogins = 0;      // logins waiting for a login thread
  int WaitingLongCalls = 0;  // reports waiting to start
  size_t UnsentBytes = 0;    // replies not yet taken by their clients
};

// What the program around the server does at its moments, on the thread that accepts: Reload
// at SIGHUP, Stopping when a stop begins, and Tick every TickEvery while it serves (0: never),
// for a watchdog that should hear from the thread that accepts, not from any thread at all.
struct TServerHooks {
  std::function<void()> Reload;
  std::function<void()> Stopping;
  std::chrono::milliseconds TickEvery{0};
  std::function<void()> Tick;
};

// Whether the server may listen as `options` say: an address that reads, TLS with both files,
// and no cleartext beyond loopback unless AllowInsecure. Raises std::runtime_error in Portuguese,
// as Listen does; the files themselves are read by Listen.
void ValidateServerOptions(const TServerOptions& options);

class TServer {
 public:
  TServer(const TObjectRegistry& registry, TServerOptions options);
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // Binds and listens; raises std::runtime_error (in Portuguese) when it cannot.
  void Listen();
  uint16_t Port() const;
  // Serves until stopped; returns when every connection is closed.
  void Run();
  // Safe from any thread.
  void Stop();
  // Before Run.
  void SetHooks(TServerHooks hooks);
  // The limits of `options` from now on: connections (in all, per address, without login),
  // bytes pending and unsent, the queues, and the login, message and handshake time-outs, which
  // count from the next connection or request. The address, the threads and TLS stay as they
  // were started. After Listen; safe from any thread.
  void Reconfigure(const TServerOptions& options);
  TServerLoad Load() const;
  // The line Run logs at start, of the limits in force.
  std::string LimitsText() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace app
