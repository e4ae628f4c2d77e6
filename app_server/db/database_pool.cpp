#include "app_server/db/database.h"

#include "app_server/log/metrics.h"

namespace app {

namespace {

const char* const kGone =
    "O banco de dados do servidor de aplicação não está disponível (o arquivo foi removido ou "
    "renomeado); avise o administrador.";
const char* const kChanged =
    "O banco de dados foi substituído ou alterado durante a consulta; tente novamente.";

std::mutex logMutex;
std::function<void(const std::string&)> logSink;

}  // namespace

void SetDatabaseLog(std::function<void(const std::string&)> log) {
  std::lock_guard<std::mutex> lock(logMutex);
  logSink = std::move(log);
}

void DatabaseLog(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(logMutex);
    sink = logSink;
  }
  if (sink) sink(line);
}

void TConnectionPool::TLease::TChecked::Query(const char* sql, const TNamedParams& params,
                                              int columns, int timeLimitMs,
                                              const std::function<bool(const IRow&)>& onRow) {
  if (!Pool.identity_) return Connection->Query(sql, params, columns, timeLimitMs, onRow);
  try {
    Connection->Query(sql, params, columns, timeLimitMs, onRow);
  } catch (const EQueryTimeout&) {
    throw;
  } catch (const EDatabaseError&) {
    // A read of a file cut short or half written fails with whatever SQLite made of it; say
    // what happened instead.
    if (Pool.identity_() != Identity) throw EDatabaseError(kChanged);
    throw;
  }
  if (Pool.identity_() != Identity) throw EDatabaseError(kChanged);
}

TConnectionPool::TLease TConnectionPool::Acquire() {
  std::vector<std::unique_ptr<IConnection>> dropped;  // closed outside the lock
  std::string event;
  std::unique_ptr<IConnection> connection;
  uint64_t generation;
  std::string identity;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Read under the lock: two calls that read the identity in one order must not record it
    // in the other.
    if (identity_) identity = identity_();
    if (identity_ && (!known_ || identity != current_)) {
      if (known_) {
        event = identity.empty() ? "arquivo ausente; conexões fechadas"
                                 : "arquivo substituído; conexões reabertas";
        if (!identity.empty()) Metrics().DatabaseReconnected();
      }
      dropped.swap(idle_);
      ++generation_;
      current_ = identity;
      known_ = true;
    }
    generation = generation_;
    if (!identity_ || !identity.empty()) {
      if (!idle_.empty()) {
        connection = std::move(idle_.back());
        idle_.pop_back();
      }
    }
  }
  dropped.clear();
  if (!event.empty() && OnEvent) OnEvent(event);
  if (identity_ && identity.empty()) throw EDatabaseError(kGone);
  if (!connection) connection = factory_();
  Metrics().DatabaseAcquired();
  return TLease(*this, std::move(connection), generation, std::move(identity));
}

void TConnectionPool::GiveBack(std::unique_ptr<IConnection> connection, uint64_t generation) {
  Metrics().DatabaseReleased();
  if (!connection) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (generation != generation_) {
    lock.unlock();
    return;  // of a file since replaced: closed here
  }
  idle_.push_back(std::move(connection));
}

}  // namespace app
