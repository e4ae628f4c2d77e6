// An app-server process for a benchmark: on a free loopback port, its log in a file, stopped
// (SIGTERM, then waited for) at the end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

class TServer {
 public:
  // app-server --db DB --listen 127.0.0.1:0 EXTRA...; returns once it listens. Raises
  // std::runtime_error, with the log, when it does not start.
  TServer(const std::string& db, const std::vector<std::string>& extra = {});
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // The resident memory of the process, in MiB.
  double ResidentMiB() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string log_;
};

// Runs app-server with `arguments` to its end; returns its exit status, its output in `output`.
int RunAppServer(const std::vector<std::string>& arguments, std::string& output);

}  // namespace bench
