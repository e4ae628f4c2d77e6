#include "tests/app_server/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_app {

namespace {

// The server dies with the test program: a test that crashes or aborts leaves no server running.
// The kernel sends that signal when the thread that forked ends, so only a server started from
// the main thread (every test body; not the shared demo server when a client thread happens to
// start it) asks for it. Only what is safe between fork and exec runs in the child. A
// `descriptorLimit` above 0 is the child's limit on open descriptors (as `ulimit -n`).
pid_t Spawn(const std::vector<std::string>& arguments, int stdoutFd, int stderrFd,
            int descriptorLimit = 0) {
  std::vector<std::string> all = {APP_SERVER_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const bool mainThread = ::gettid() == parent;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start " + all[0]);
  if (pid == 0) {
    if (mainThread) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
    }
    if (descriptorLimit > 0) {
      const rlimit limit{static_cast<rlim_t>(descriptorLimit),
                         static_cast<rlim_t>(descriptorLimit)};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ::dup2(stdoutFd, STDOUT_FILENO);
    ::dup2(stderrFd, STDERR_FILENO);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  return pid;
}

int StatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunAppServer(const std::vector<std::string>& arguments, const std::string& logPath,
                 int timeoutMs) {
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t pid = Spawn(arguments, log, log);
  ::close(log);
  int status = 0;
  if (timeoutMs <= 0) {
    ::waitpid(pid, &status, 0);
    return StatusOf(status);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return StatusOf(status);
}

TStartAttempt TryToStart(const std::string& db, const std::string& logPath) {
  std::remove(logPath.c_str());
  TStartAttempt attempt;
  // A server that starts where it should refuse is stopped, not waited for: the test fails
  // (status -1) instead of hanging.
  attempt.Status = RunAppServer({"--db", db, "--listen", "127.0.0.1:0"}, logPath, 30000);
  std::ifstream file(logPath);
  attempt.Said.assign(std::istreambuf_iterator<char>(file), {});
  return attempt;
}

TTempDir::TTempDir() {
  char pattern[] = "/tmp/app-server-test-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TServerProcess::TServerProcess(const std::string& dbPath, const std::string& logPath,
                               const std::vector<std::string>& extra, int descriptorLimit)
    : logPath_(logPath) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  std::vector<std::string> arguments = {"--db", dbPath, "--listen", "127.0.0.1:0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  pid_ = Spawn(arguments, out[1], log, descriptorLimit);
  ::close(out[1]);
  ::close(log);

  // "app-server escutando em 127.0.0.1:PORT (...)"
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd poller{out[0], POLLIN, 0};
    if (::poll(&poller, 1, 200) <= 0) continue;
    char buffer[256];
    const ssize_t count = ::read(out[0], buffer, sizeof(buffer));
    if (count <= 0) break;
    line.append(buffer, static_cast<size_t>(count));
  }
  ::close(out[0]);
  // "escutando em HOST:PORT (...)": the port after the address's last colon.
  const std::string marker = "escutando em ";
  const size_t at = line.find(marker);
  const size_t end = at == std::string::npos ? at : line.find(' ', at + marker.size());
  const size_t colon = end == std::string::npos ? end : line.rfind(':', end);
  if (colon == std::string::npos || colon < at) {
    Stop(2000);
    throw std::runtime_error("app-server did not start: " + line + Log());
  }
  port_ = std::stoi(line.substr(colon + 1));
  banner_ = line.substr(0, line.find('\n'));
}

TServerProcess::~TServerProcess() {
  if (pid_ > 0) Stop(5000);
}

bool TServerProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

namespace {
// Every thread of the process is stopped. A stop takes effect thread by thread as each is next
// scheduled, so on a loaded machine a thread may still answer a request after kill() returned.
bool AllThreadsStopped(pid_t pid) {
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t name = line.rfind(')');
    if (name == std::string::npos || name + 2 >= line.size()) return false;
    const char state = line[name + 2];
    if (state != 'T' && state != 't') return false;
  }
  return !error;
}
}  // namespace

void TServerProcess::Signal(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  if (signal != SIGSTOP) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!AllThreadsStopped(pid_) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int TServerProcess::OpenDescriptors() const {
  std::error_code ignored;
  int count = 0;
  for (auto it =
           std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored))
    ++count;
  return count;
}

void TServerProcess::SetDescriptorLimit(int soft) {
  rlimit limit{};
  if (::prlimit(pid_, RLIMIT_NOFILE, nullptr, &limit) != 0) throw std::runtime_error("prlimit");
  limit.rlim_cur = static_cast<rlim_t>(soft);
  if (::prlimit(pid_, RLIMIT_NOFILE, &limit, nullptr) != 0) throw std::runtime_error("prlimit");
}

void TServerProcess::Pause() {
  Signal(SIGSTOP);
  const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
  for (int attempt = 0; attempt < 200; ++attempt) {
    bool stopped = true;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ignored)) {
      std::ifstream stat(task.path() / "stat");
      std::string line;
      std::getline(stat, line);
      // "pid (name) S ...": the state follows the name's closing parenthesis.
      const size_t close = line.rfind(')');
      if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'T')
        stopped = false;
    }
    if (stopped) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int TServerProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return StatusOf(status);
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int TServerProcess::Stop(int timeoutMs) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGCONT);
  ::kill(pid_, SIGTERM);
  const int status = Wait(timeoutMs);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int ignored = 0;
    ::waitpid(pid_, &ignored, 0);
    pid_ = -1;
  }
  return status;
}

std::string TServerProcess::Log() const {
  std::ifstream file(logPath_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

size_t TServerProcess::LogSize() const {
  std::error_code ignored;
  const auto size = std::filesystem::file_size(logPath_, ignored);
  return ignored ? 0 : static_cast<size_t>(size);
}

size_t ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  return 0;
}

double CpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Fields after the command name (which may hold blanks): state is field 3, utime 14, stime 15.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; rest >> field && index <= 15; ++index)
    if (index >= 14) ticks += std::stod(field);
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void MakeDemo(const std::string& path, int seed, int scale) {
  if (RunAppServer(
          {"--init-demo", path, "--seed", std::to_string(seed), "--scale", std::to_string(scale)},
          path + ".log") != 0)
    throw std::runtime_error("app-server --init-demo " + path + " failed");
}

void CopyInPlace(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + to);
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (count <= 0) break;
    written += static_cast<size_t>(count);
  }
  ::close(fd);
}

}  // namespace testing_app
