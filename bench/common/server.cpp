#include "bench/common/server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

pid_t Spawn(std::vector<std::string> arguments, int out, int err) {
  arguments.insert(arguments.begin(), APP_SERVER_PATH);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + std::string(APP_SERVER_PATH));
  return pid;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TServer::TServer(const std::string& db, const std::vector<std::string>& extra) {
  char pattern[] = "/tmp/bench-server-XXXXXX.log";
  const int log = ::mkostemps(pattern, 4, O_CLOEXEC);
  if (log < 0) throw std::runtime_error("cannot create the server's log");
  log_ = pattern;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> arguments = {"--db", db, "--listen", "127.0.0.1:0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  pid_ = Spawn(arguments, out[1], log);
  ::close(out[1]);
  ::close(log);
  std::string line;
  char buffer[256];
  for (ssize_t count; line.find('\n') == std::string::npos &&
                      (count = ::read(out[0], buffer, sizeof(buffer))) > 0;)
    line.append(buffer, static_cast<size_t>(count));
  ::close(out[0]);
  const std::string marker = "escutando em 127.0.0.1:";
  const size_t at = line.find(marker);
  if (at == std::string::npos) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    const std::string text = ReadFile(log_);
    std::remove(log_.c_str());
    throw std::runtime_error("app-server did not start on " + db + ":\n" + text);
  }
  port_ = std::atoi(line.c_str() + at + marker.size());
}

TServer::~TServer() {
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  std::remove(log_.c_str());
}

double TServer::ResidentMiB() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  return 0;
}

int RunAppServer(const std::vector<std::string>& arguments, std::string& output) {
  char pattern[] = "/tmp/bench-run-XXXXXX.log";
  const int log = ::mkostemps(pattern, 4, O_CLOEXEC);
  if (log < 0) throw std::runtime_error("cannot create a log");
  const pid_t pid = Spawn(arguments, log, log);
  ::close(log);
  int status = 0;
  ::waitpid(pid, &status, 0);
  output = ReadFile(pattern);
  std::remove(pattern);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
