#include "app_server/log/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "app_server/rpc/rpc.h"

namespace app {

namespace {

constexpr auto kLogFlushEvery = std::chrono::milliseconds(100);
// Lines waiting for a slow output past this are dropped (and counted): a call never waits for
// the log.
constexpr size_t kLogBacklogLimit = 8u * 1024u * 1024u;

// "2024-03-05 14:07:09.123"; the date and time are formatted once a second.
std::string Timestamp() {
  thread_local std::time_t cachedSecond = -1;
  thread_local char cached[64];
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  if (seconds != cachedSecond) {
    std::tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(cached, sizeof(cached), "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    cachedSecond = seconds;
  }
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::string text(cached);
  text.push_back('.');
  text.push_back(static_cast<char>('0' + millis / 100));
  text.push_back(static_cast<char>('0' + millis / 10 % 10));
  text.push_back(static_cast<char>('0' + millis % 10));
  return text;
}

int OpenAppending(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0)
    throw std::runtime_error("Não foi possível abrir o arquivo de log " + path + ": " +
                             std::strerror(errno) + ".");
  return fd;
}

// The buffering is as the server had it: the writer takes the collected lines and writes them
// without holding the lock the calls take. The output (stderr or a file) has a lock of its own,
// so that a reopening never meets a write halfway.
class TLog {
 public:
  void Line(TLogPriority priority, const std::string& line) {
    if (static_cast<int>(priority) > level_.load(std::memory_order_relaxed)) return;
    std::string text;
    if (journal_.load(std::memory_order_relaxed)) {
      text = "<";
      text += static_cast<char>('0' + static_cast<int>(priority));
      text += '>';
    } else {
      text = Timestamp();
      text += ' ';
    }
    text += IsPlainText(line) ? line : SafeMessage(line, 4096);
    text += '\n';
    bool wake = false, buffered = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      buffered = buffering_;
      if (buffered) {
        if (pending_.size() > kLogBacklogLimit) {
          ++droppedLines_;
          return;
        }
        pending_ += text;
        wake = pending_.size() > 64 * 1024;
      }
    }
    if (wake) wake_.notify_one();
    if (!buffered) Write(text);
  }

  void SetLevel(TLogPriority level) { level_ = static_cast<int>(level); }
  TLogPriority Level() const { return static_cast<TLogPriority>(level_.load()); }
  void SetJournal(bool journal) { journal_ = journal; }

  void SetFile(const std::string& path) {
    const int fd = path.empty() ? -1 : OpenAppending(path);
    std::lock_guard<std::mutex> lock(outputMutex_);
    if (file_ >= 0) ::close(file_);
    file_ = fd;
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffering_) return;
    buffering_ = true;
    flusher_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (buffering_) {
        wake_.wait_for(lock, kLogFlushEvery);
        FlushUnlocking(lock);
      }
    });
  }

  void StopBuffering() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!buffering_) return;
      buffering_ = false;
    }
    wake_.notify_all();
    flusher_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    FlushUnlocking(lock);
  }

 private:
  // Takes what is collected and writes it with the lock released; the flusher is the only
  // writer while buffering, so lines keep their order.
  void FlushUnlocking(std::unique_lock<std::mutex>& lock) {
    if (pending_.empty() && droppedLines_ == 0) return;
    std::string text;
    text.swap(pending_);
    if (droppedLines_ != 0) {
      text += journal_ ? std::string("<4>") : Timestamp() + " ";
      text += "log: " + std::to_string(droppedLines_) + " linhas descartadas (saída lenta)\n";
      droppedLines_ = 0;
    }
    lock.unlock();
    Write(text);
    lock.lock();
    if (pending_.empty() && pending_.capacity() < text.capacity() && text.capacity() <= 1 << 20) {
      text.clear();
      pending_.swap(text);  // keep the buffer for the next round
    }
  }

  void Write(const std::string& text) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    if (file_ < 0) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
      return;
    }
    size_t written = 0;
    while (written < text.size()) {
      const ssize_t count = ::write(file_, text.data() + written, text.size() - written);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;  // a full disk: the lines are lost, the server goes on
      written += static_cast<size_t>(count);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  size_t droppedLines_ = 0;
  bool buffering_ = false;
  std::thread flusher_;
  std::atomic<int> level_{static_cast<int>(TLogPriority::Info)};
  std::atomic<bool> journal_{false};
  std::mutex outputMutex_;
  int file_ = -1;  // stderr when negative
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
