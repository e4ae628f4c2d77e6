// What the server counts for its operators, written in Prometheus' text format for /metrics
// (metrics_http.h). One object for the process (Metrics()), counted into from any thread with
// relaxed atomics only, so that a call pays a few increments for it and never a lock.
//
//   acomp_rpc_calls_total{method="CMP09500.rdmAcompSoli.GetItens"} 12
//   acomp_rpc_errors_total{method="...",kind="erro"} 1        kind: erro | recusa
//   acomp_rpc_duration_seconds_bucket{method="...",le="0.005"} 9   (and _sum, _count)
//   acomp_connections_refused_total{reason="limite_por_endereco"} 3
//   acomp_logins_total{result="aceito"} 40                    aceito | recusado | adiado | ...
//   acomp_db_connections_in_use 2, acomp_db_reconnects_total 1
//
// The method label takes only the names given to SetMethods (the services' own); any other name
// a client sends is counted as "outro", so that no client can make the list grow.
// docs/deployment.md lists every series.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app_server/rpc/rpc.h"

namespace app {

// Why a connection was refused or closed before it was served.
enum class TRefusalReason {
  TotalLimit,            // "limite_total": past --max-connections
  AddressLimit,          // "limite_por_endereco"
  UnauthenticatedLimit,  // "limite_sem_login": past --max-unauthenticated-per-address
  PlainClient,           // "sem_tls": cleartext to an encrypted server
  OutOfDescriptors,      // "descritores": closed while waiting to be accepted
  PendingBytes,          // "bytes_pendentes": past --max-pending-mib
  Count
};

// What a login came to.
enum class TLoginResult {
  Accepted,  // "aceito"
  Refused,   // "recusado": unknown account, wrong password, disabled account
  Delayed,   // "adiado": too many failures, the next try must wait
  Locked,    // "bloqueado": the account takes logins from its known places only
  Failed,    // "erro": the database did not answer
  Busy,      // "ocupado": the login queue was full
  Count
};

enum class TBusyQueue { Queries, Logins, Count };

// The gauges read when the metrics are written: the server's load and the database's state.
struct TMetricsGauges {
  int Connections = 0;
  int Unauthenticated = 0;
  int QueuedQueries = 0;
  int QueuedLogins = 0;
  int WaitingLongCalls = 0;
  size_t UnsentBytes = 0;
  int DatabaseUp = -1;  // 1 answered, 0 did not, -1 not asked
};

class TMetrics {
 public:
  // Upper bounds of the latency buckets, in seconds.
  static constexpr std::array<double, 14> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,    1,     2.5,  5,     10,   30};

  TMetrics();
  ~TMetrics();
  TMetrics(const TMetrics&) = delete;
  TMetrics& operator=(const TMetrics&) = delete;

  // The method names counted apart ("CMP09500.rdmAcompSoli.GetItens"); before any call is
  // counted. Counts of methods not named again are kept.
  void SetMethods(const std::vector<std::string>& methods);
  void Call(std::string_view method, TCallOutcome::TKind kind, double seconds);
  void Refused(TRefusalReason reason, int count = 1);
  void Login(TLoginResult result);
  void Busy(TBusyQueue queue);
  void DatabaseAcquired() { databaseInUse_.fetch_add(1, std::memory_order_relaxed); }
  void DatabaseReleased() { databaseInUse_.fetch_sub(1, std::memory_order_relaxed); }
  // A connection opened again after the one before was lost, or the file replaced.
  void DatabaseReconnected() { databaseReconnects_.fetch_add(1, std::memory_order_relaxed); }

  // Everything in the text format (version 0.0.4), with `version` as the build's.
  std::string Render(const TMetricsGauges& gauges, const std::string& version) const;

 private:
  struct TMethod;
  TMethod& MethodOf(std::string_view name);

  std::vector<std::unique_ptr<TMethod>> methods_;  // methods_[0]: "outro"
  std::unordered_map<std::string_view, TMethod*> byName_;
  std::array<std::atomic<uint64_t>, static_cast<size_t>(TRefusalReason::Count)> refused_{};
  std::array<std::atomic<uint64_t>, static_cast<size_t>(TLoginResult::Count)> logins_{};
  std::array<std::atomic<uint64_t>, static_cast<size_t>(TBusyQueue::Count)> busy_{};
  std::atomic<int64_t> databaseInUse_{0};
  std::atomic<uint64_t> databaseReconnects_{0};
  double startTime_ = 0;  // seconds since the epoch
};

TMetrics& Metrics();

}  // namespace app
