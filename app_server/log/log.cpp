#include "app_server/log/log.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/details/thread_pool.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <thread>

#include "protocol/text.h"

namespace app {

namespace {

constexpr auto kLogFlushEvery = std::chrono::milliseconds(100);
// Lines waiting for a slow output past this many are dropped, the oldest first, and counted: a
// call never waits for the log.
constexpr size_t kLogBacklogLines = 8192;

// syslog ranks notice between warning and info; spdlog has no such level, so each of ours sits
// one step down: notice is spdlog's info, info its debug. The order, and so the filtering by
// level, is kept.
spdlog::level::level_enum SpdlogLevel(TLogPriority priority) {
  switch (priority) {
    case TLogPriority::Error:
      return spdlog::level::err;
    case TLogPriority::Warning:
      return spdlog::level::warn;
    case TLogPriority::Notice:
      return spdlog::level::info;
    case TLogPriority::Info:
      break;
  }
  return spdlog::level::debug;
}

TLogPriority PriorityOf(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::critical:
    case spdlog::level::err:
      return TLogPriority::Error;
    case spdlog::level::warn:
      return TLogPriority::Warning;
    case spdlog::level::info:
      return TLogPriority::Notice;
    default:
      return TLogPriority::Info;
  }
}

// "<6>": the line's priority as the journal reads it from a service's stderr.
class TJournalPriority final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& message, const std::tm&,
              spdlog::memory_buf_t& out) override {
    const char text[] = {'<', static_cast<char>('0' + static_cast<int>(PriorityOf(message.level))),
                         '>'};
    out.append(text, text + sizeof(text));
  }
  std::unique_ptr<spdlog::custom_flag_formatter> clone() const override {
    return std::make_unique<TJournalPriority>();
  }
};

// "2024-03-05 14:07:09.123 text" in local time, or "<6>text" for the journal, which stamps every
// line itself.
std::unique_ptr<spdlog::formatter> LineFormatter(bool journal) {
  auto formatter = std::make_unique<spdlog::pattern_formatter>();
  if (journal) {
    formatter->add_flag<TJournalPriority>('*').set_pattern("%*%v");
  } else {
    formatter->set_pattern("%Y-%m-%d %H:%M:%S.%e %v");
  }
  return formatter;
}

// The file opened as the server always had it (appending, created 0640), with the reason in
// Portuguese when it cannot be; spdlog's file sink then opens the same file.
std::shared_ptr<spdlog::sinks::sink> FileSink(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0)
    throw std::runtime_error(
        fmt::format("Não foi possível abrir o arquivo de log {}: {}.", path, std::strerror(errno)));
  ::close(fd);
  try {
    return std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, false);
  } catch (const spdlog::spdlog_ex& failure) {
    throw std::runtime_error(
        fmt::format("Não foi possível abrir o arquivo de log {}: {}.", path, failure.what()));
  }
}

// Two loggers write to one output (stderr or a file, swapped inside it): a synchronous one while
// the server starts and stops, and spdlog's asynchronous one while it serves, whose thread writes
// what the calls hand it and is flushed every 100 ms.
class TLog {
 public:
  TLog()
      : output_(std::make_shared<spdlog::sinks::dist_sink_mt>()),
        direct_(std::make_shared<spdlog::logger>("acomp", output_)) {
    output_->set_sinks({std::make_shared<spdlog::sinks::stderr_sink_mt>()});
    output_->set_formatter(LineFormatter(false));
    Configure(*direct_);
    direct_->flush_on(spdlog::level::trace);
    current_ = direct_.get();
  }

  void Line(TLogPriority priority, const std::string& line) {
    const auto level = SpdlogLevel(priority);
    std::shared_lock<std::shared_mutex> lock(switching_);
    if (!current_->should_log(level)) return;
    if (IsPlainText(line)) {
      current_->log(level, line);
    } else {
      current_->log(level, SafeMessage(line, 4096));
    }
  }

  void SetLevel(TLogPriority level) {
    std::unique_lock<std::shared_mutex> lock(switching_);
    level_ = level;
    direct_->set_level(SpdlogLevel(level));
    if (async_) async_->set_level(SpdlogLevel(level));
  }
  TLogPriority Level() const { return level_.load(); }

  void SetJournal(bool journal) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    journal_ = journal;
    output_->set_formatter(LineFormatter(journal));
  }

  void SetFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    std::shared_ptr<spdlog::sinks::sink> sink;
    if (path.empty()) {
      sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    } else {
      sink = FileSink(path);
    }
    sink->set_formatter(LineFormatter(journal_));
    // The old file is closed, what it holds written, once the writer lets go of it.
    output_->set_sinks({sink});
    path_ = path;
  }

  void Reopen() {
    std::string path;
    {
      std::lock_guard<std::mutex> lock(outputMutex_);
      path = path_;
    }
    if (!path.empty()) SetFile(path);
  }

  void StartBuffering() {
    std::lock_guard<std::mutex> lock(bufferingMutex_);
    if (pool_) return;
    pool_ = std::make_shared<spdlog::details::thread_pool>(kLogBacklogLines, 1);
    {
      std::unique_lock<std::shared_mutex> switching(switching_);
      async_ = std::make_shared<spdlog::async_logger>(
          "acomp", output_, pool_, spdlog::async_overflow_policy::overrun_oldest);
      Configure(*async_);
      async_->set_level(SpdlogLevel(level_));
      current_ = async_.get();
    }
    stopFlusher_ = false;
    droppedReported_ = 0;
    flusher_ = std::thread([this] { Flush(); });
  }

  void StopBuffering() {
    std::lock_guard<std::mutex> lock(bufferingMutex_);
    if (!pool_) return;
    {
      std::lock_guard<std::mutex> stopping(flusherMutex_);
      stopFlusher_ = true;
    }
    flusherWake_.notify_all();
    flusher_.join();
    {
      // No call is inside the asynchronous logger once this lock is had.
      std::unique_lock<std::shared_mutex> switching(switching_);
      current_ = direct_.get();
      async_.reset();
    }
    const size_t dropped = pool_->overrun_counter() - droppedReported_;
    pool_.reset();  // its thread writes what is queued before it ends
    ReportDropped(dropped);
    output_->flush();
  }

 private:
  void Configure(spdlog::logger& logger) {
    logger.set_level(spdlog::level::debug);
    logger.set_error_handler([this](const std::string& failure) { ReportWriteFailure(failure); });
  }

  // spdlog's own complaint (a full disk, a file gone) in our words, to stderr, at most once a
  // second: the lines are lost, the server goes on.
  void ReportWriteFailure(const std::string& failure) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (lastFailureSecond_.exchange(now) == now) return;
    const std::string line =
        fmt::format("{}log: falha ao escrever: {}\n", journal_ ? "<3>" : "", SafeMessage(failure));
    std::fwrite(line.data(), 1, line.size(), stderr);
  }

  // Every 100 ms: what the pool's thread wrote reaches the file, and lines dropped since the last
  // round are told.
  void Flush() {
    std::unique_lock<std::mutex> lock(flusherMutex_);
    while (!stopFlusher_) {
      flusherWake_.wait_for(lock, kLogFlushEvery);
      async_->flush();
      const size_t overruns = pool_->overrun_counter();
      ReportDropped(overruns - droppedReported_);
      droppedReported_ = overruns;
    }
  }

  // Written straight to the output, past the queue that dropped them and whatever the level.
  void ReportDropped(size_t dropped) {
    if (dropped == 0) return;
    const std::string text = fmt::format("log: {} linhas descartadas (saída lenta)", dropped);
    output_->log(spdlog::details::log_msg("acomp", spdlog::level::warn, text));
    output_->flush();
  }

  std::shared_ptr<spdlog::sinks::dist_sink_mt> output_;
  std::shared_ptr<spdlog::logger> direct_;
  std::shared_ptr<spdlog::details::thread_pool> pool_;
  std::shared_ptr<spdlog::async_logger> async_;
  // Calls log through current_ under a shared lock; switching between the loggers takes it whole.
  std::shared_mutex switching_;
  spdlog::logger* current_ = nullptr;
  std::atomic<TLogPriority> level_{TLogPriority::Info};
  std::atomic<int64_t> lastFailureSecond_{0};

  std::mutex bufferingMutex_;
  std::mutex flusherMutex_;
  std::condition_variable flusherWake_;
  bool stopFlusher_ = false;
  std::thread flusher_;
  size_t droppedReported_ = 0;

  std::mutex outputMutex_;
  std::atomic<bool> journal_{false};
  std::string path_;
};

TLog& Log() {
  static TLog log;
  return log;
}

}  // namespace

void LogLine(const std::string& line) {
  Log().Line(TLogPriority::Info, line);
}

void LogLine(TLogPriority priority, const std::string& line) {
  Log().Line(priority, line);
}

void SetLogLevel(TLogPriority level) {
  Log().SetLevel(level);
}

TLogPriority LogLevel() {
  return Log().Level();
}

bool ParseLogLevel(std::string_view text, TLogPriority& level) {
  if (text == "erro" || text == "error" || text == "err") {
    level = TLogPriority::Error;
  } else if (text == "aviso" || text == "warning") {
    level = TLogPriority::Warning;
  } else if (text == "nota" || text == "notice") {
    level = TLogPriority::Notice;
  } else if (text == "info") {
    level = TLogPriority::Info;
  } else {
    return false;
  }
  return true;
}

const char* LogLevelName(TLogPriority level) {
  switch (level) {
    case TLogPriority::Error:
      return "erro";
    case TLogPriority::Warning:
      return "aviso";
    case TLogPriority::Notice:
      return "nota";
    case TLogPriority::Info:
      break;
  }
  return "info";
}

void SetLogJournal(bool journal) {
  Log().SetJournal(journal);
}

void SetLogFile(const std::string& path) {
  Log().SetFile(path);
}

void ReopenLog() {
  Log().Reopen();
}

void StartLogBuffering() {
  Log().StartBuffering();
}

void StopLogBuffering() {
  Log().StopBuffering();
}

}  // namespace app
