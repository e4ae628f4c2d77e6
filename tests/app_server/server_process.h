// A real app-server process for the end-to-end tests: a demo database in a fresh temporary
// folder, the server on a free loopback port, stopped with SIGTERM at the end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_app {

// Runs app-server with the arguments and waits; returns the exit status (-1 when it did not
// exit normally, or was still running after `timeoutMs` when given, and was killed). Its output
// goes to `logPath`.
int RunAppServer(const std::vector<std::string>& arguments, const std::string& logPath,
                 int timeoutMs = 0);

// A start of a server on `db` (which a test expects refused): its exit status and what it said,
// its log written afresh to `logPath`; -1 when it was still running after 30 s (it started).
struct TStartAttempt {
  int Status = 0;
  std::string Said;
};
TStartAttempt TryToStart(const std::string& db, const std::string& logPath);

// A temporary folder removed with its contents at the end.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class TServerProcess {
 public:
  // Starts `app-server --db dbPath --listen 127.0.0.1:0` with the extra arguments (a --listen
  // among them takes the place of that one) and waits for it to listen. A `descriptorLimit` above 0
  // limits the descriptors it may open (`ulimit -n`).
  TServerProcess(const std::string& dbPath, const std::string& logPath,
                 const std::vector<std::string>& extra = {}, int descriptorLimit = 0);
  ~TServerProcess();

  int Port() const { return port_; }
  // The line the server printed once it listened.
  const std::string& Banner() const { return banner_; }
  pid_t Pid() const { return pid_; }
  bool Running();
  void Signal(int signal);
  // SIGSTOP, returning once every thread of the process has stopped (kill returns before they
  // have, and a thread still running may answer one more request).
  void Pause();
  // Descriptors the server has open, and a new soft limit on them (as `prlimit --nofile`).
  int OpenDescriptors() const;
  void SetDescriptorLimit(int soft);
  // SIGTERM, then waits up to `timeoutMs`; the exit status, or -1 (killed when it did not stop).
  int Stop(int timeoutMs = 10000);
  // Waits for the process to end by itself; the exit status, or -1.
  int Wait(int timeoutMs);
  std::string Log() const;
  // The log's size in bytes.
  size_t LogSize() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string banner_;
  std::string logPath_;
};

// What the kernel reports of a running process: resident memory and CPU time used so far.
size_t ResidentKiB(pid_t pid);
double CpuSeconds(pid_t pid);

// Writes a demo database (app-server --init-demo); raises when that fails.
void MakeDemo(const std::string& path, int seed, int scale);
// Copies `from` over `to` in place (the file `to` keeps its inode, as `cp` does).
void CopyInPlace(const std::string& from, const std::string& to);

}  // namespace testing_app
