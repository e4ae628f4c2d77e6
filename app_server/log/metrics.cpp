#include "app_server/log/metrics.h"

#include <fmt/format.h>

#include <chrono>
#include <cinttypes>
#include <cmath>

namespace app {

namespace {

constexpr const char* kOther = "outro";

constexpr const char* kRefusalNames[] = {"limite_total", "limite_por_endereco", "limite_sem_login",
                                         "sem_tls",      "descritores",         "bytes_pendentes"};
constexpr const char* kLoginNames[] = {"aceito",    "recusado", "adiado",
                                       "bloqueado", "erro",     "ocupado"};
constexpr const char* kQueueNames[] = {"consultas", "logins"};
static_assert(std::size(kRefusalNames) == static_cast<size_t>(TRefusalReason::Count));
static_assert(std::size(kLoginNames) == static_cast<size_t>(TLoginResult::Count));
static_assert(std::size(kQueueNames) == static_cast<size_t>(TBusyQueue::Count));

// A number as the format writes it: integers without a fraction, others with enough digits.
std::string Number(double value) {
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  if (value == std::floor(value) && std::fabs(value) < 1e15) return fmt::format("{:.0f}", value);
  return fmt::format("{:.9g}", value);
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const char* name, const std::string& labels, double value) {
  out += name;
  if (!labels.empty()) {
    out += '{';
    out += labels;
    out += '}';
  }
  out += ' ';
  out += Number(value);
  out += '\n';
}

std::string Label(const char* key, std::string_view value) {
  std::string text = key;
  text += "=\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') text += '\\';
    if (c == '\n') {
      text += "\\n";
      continue;
    }
    text += c;
  }
  text += '"';
  return text;
}

}  // namespace

struct TMetrics::TMethod {
  explicit TMethod(std::string name) : Name(std::move(name)) {}
  std::string Name;
  std::atomic<uint64_t> Calls{0};
  std::atomic<uint64_t> Errors{0};
  std::atomic<uint64_t> Refusals{0};
  // Per bucket, not cumulative (Render adds them up); the last is past every bound.
  std::array<std::atomic<uint64_t>, kBuckets.size() + 1> Buckets{};
  std::atomic<uint64_t> Microseconds{0};
};

TMetrics::TMetrics() {
  methods_.push_back(std::make_unique<TMethod>(kOther));
  startTime_ =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TMetrics::~TMetrics() = default;

void TMetrics::SetMethods(const std::vector<std::string>& methods) {
  for (const auto& name : methods) {
    if (byName_.count(name) != 0) continue;
    methods_.push_back(std::make_unique<TMethod>(name));
    byName_.emplace(methods_.back()->Name, methods_.back().get());
  }
}

TMetrics::TMethod& TMetrics::MethodOf(std::string_view name) {
  const auto found = byName_.find(name);
  return found == byName_.end() ? *methods_.front() : *found->second;
}

void TMetrics::Call(std::string_view method, TCallOutcome::TKind kind, double seconds) {
  TMethod& counts = MethodOf(method);
  counts.Calls.fetch_add(1, std::memory_order_relaxed);
  if (kind == TCallOutcome::TKind::Error) counts.Errors.fetch_add(1, std::memory_order_relaxed);
  if (kind == TCallOutcome::TKind::Fail) counts.Refusals.fetch_add(1, std::memory_order_relaxed);
  size_t bucket = 0;
  while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) ++bucket;
  counts.Buckets[bucket].fetch_add(1, std::memory_order_relaxed);
  const double micros = seconds < 0 ? 0 : seconds * 1e6;
  counts.Microseconds.fetch_add(static_cast<uint64_t>(micros), std::memory_order_relaxed);
}

void TMetrics::Refused(TRefusalReason reason, int count) {
  if (count > 0)
    refused_[static_cast<size_t>(reason)].fetch_add(static_cast<uint64_t>(count),
                                                    std::memory_order_relaxed);
}

void TMetrics::Login(TLoginResult result) {
  logins_[static_cast<size_t>(result)].fetch_add(1, std::memory_order_relaxed);
}

void TMetrics::Busy(TBusyQueue queue) {
  busy_[static_cast<size_t>(queue)].fetch_add(1, std::memory_order_relaxed);
}

std::string TMetrics::Render(const TMetricsGauges& gauges, const std::string& version) const {
  std::string out;
  out.reserve(16 * 1024);
  Header(out, "acomp_build_info", "gauge", "Versão do servidor de aplicação.");
  Sample(out, "acomp_build_info", Label("version", version), 1);
  Header(out, "acomp_start_time_seconds", "gauge", "Início do processo, em segundos desde 1970.");
  Sample(out, "acomp_start_time_seconds", "", std::floor(startTime_));

  Header(out, "acomp_rpc_calls_total", "counter", "Chamadas respondidas, por método.");
  for (const auto& method : methods_)
    Sample(out, "acomp_rpc_calls_total", Label("method", method->Name),
           static_cast<double>(method->Calls.load(std::memory_order_relaxed)));
  Header(out, "acomp_rpc_errors_total", "counter",
         "Chamadas respondidas com erro (erro) ou recusadas pelo serviço (recusa), por método.");
  for (const auto& method : methods_) {
    const std::string name = Label("method", method->Name);
    Sample(out, "acomp_rpc_errors_total", name + "," + Label("kind", "erro"),
           static_cast<double>(method->Errors.load(std::memory_order_relaxed)));
    Sample(out, "acomp_rpc_errors_total", name + "," + Label("kind", "recusa"),
           static_cast<double>(method->Refusals.load(std::memory_order_relaxed)));
  }
  Header(out, "acomp_rpc_duration_seconds", "histogram",
         "Tempo de cada chamada no servidor, da leitura da requisição à resposta pronta.");
  for (const auto& method : methods_) {
    const std::string name = Label("method", method->Name);
    uint64_t cumulative = 0;
    for (size_t i = 0; i <= kBuckets.size(); ++i) {
      cumulative += method->Buckets[i].load(std::memory_order_relaxed);
      const std::string bound = i < kBuckets.size() ? Number(kBuckets[i]) : "+Inf";
      Sample(out, "acomp_rpc_duration_seconds_bucket", name + "," + Label("le", bound),
             static_cast<double>(cumulative));
    }
    Sample(out, "acomp_rpc_duration_seconds_sum", name,
           static_cast<double>(method->Microseconds.load(std::memory_order_relaxed)) / 1e6);
    Sample(out, "acomp_rpc_duration_seconds_count", name, static_cast<double>(cumulative));
  }

  Header(out, "acomp_connections_open", "gauge", "Conexões de clientes abertas.");
  Sample(out, "acomp_connections_open", "", gauges.Connections);
  Header(out, "acomp_connections_unauthenticated", "gauge", "Conexões abertas ainda sem login.");
  Sample(out, "acomp_connections_unauthenticated", "", gauges.Unauthenticated);
  Header(out, "acomp_connections_refused_total", "counter",
         "Conexões recusadas ou fechadas antes de servidas, por motivo.");
  for (size_t i = 0; i < refused_.size(); ++i)
    Sample(out, "acomp_connections_refused_total", Label("reason", kRefusalNames[i]),
           static_cast<double>(refused_[i].load(std::memory_order_relaxed)));

  Header(out, "acomp_queue_depth", "gauge", "Trabalhos à espera de uma thread, por fila.");
  Sample(out, "acomp_queue_depth", Label("queue", "consultas"), gauges.QueuedQueries);
  Sample(out, "acomp_queue_depth", Label("queue", "logins"), gauges.QueuedLogins);
  Sample(out, "acomp_queue_depth", Label("queue", "relatorios"), gauges.WaitingLongCalls);
  Header(out, "acomp_busy_total", "counter",
         "Chamadas e logins respondidos \"Servidor ocupado\" com a fila cheia, por fila.");
  for (size_t i = 0; i < busy_.size(); ++i)
    Sample(out, "acomp_busy_total", Label("queue", kQueueNames[i]),
           static_cast<double>(busy_[i].load(std::memory_order_relaxed)));
  Header(out, "acomp_unsent_bytes", "gauge", "Bytes de respostas ainda não lidos pelos clientes.");
  Sample(out, "acomp_unsent_bytes", "", static_cast<double>(gauges.UnsentBytes));

  Header(out, "acomp_logins_total", "counter", "Logins, por resultado.");
  for (size_t i = 0; i < logins_.size(); ++i)
    Sample(out, "acomp_logins_total", Label("result", kLoginNames[i]),
           static_cast<double>(logins_[i].load(std::memory_order_relaxed)));

  Header(out, "acomp_db_connections_in_use", "gauge",
         "Conexões com o banco de dados emprestadas a uma chamada agora.");
  Sample(out, "acomp_db_connections_in_use", "",
         static_cast<double>(databaseInUse_.load(std::memory_order_relaxed)));
  Header(out, "acomp_db_reconnects_total", "counter",
         "Conexões com o banco reabertas depois de perdidas, ou de o arquivo ser substituído.");
  Sample(out, "acomp_db_reconnects_total", "",
         static_cast<double>(databaseReconnects_.load(std::memory_order_relaxed)));
  if (gauges.DatabaseUp >= 0) {
    Header(out, "acomp_db_up", "gauge", "1 quando o banco de dados respondeu agora, 0 se não.");
    Sample(out, "acomp_db_up", "", gauges.DatabaseUp);
  }
  return out;
}

TMetrics& Metrics() {
  static TMetrics metrics;
  return metrics;
}

}  // namespace app
