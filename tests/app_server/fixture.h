// Shared by the end-to-end tests: one demo database (seed 7, scale 1) and one app-server
// serving it for the whole run, plus helpers to call it properly (through the TCP client) and
// improperly (raw bytes on a socket).
//
// The server serves the engine under test (engines.h). The tests check its answers against
// their own queries of the same demo data in a SQLite file (Sql below): for PostgreSQL that is
// the same data loaded there from the same seed, which is also what makes the engines' answers
// comparable at all.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/tcp_app_server.h"
#include "protocol/remote.h"
#include "protocol/wire.h"
#include "tests/app_server/engines.h"
#include "tests/app_server/server_process.h"

namespace testing_app {

struct TDemo {
  TTempDir Dir;
  std::string Db;  // the demo in SQLite, which the tests' own queries read
  std::unique_ptr<TPostgresDatabase> Postgres;  // the same on PostgreSQL, when under test
  std::string Served;                           // what the server serves: Db or Postgres
  std::unique_ptr<TServerProcess> Server;
  // Stops the server; a server that does not exit cleanly (a crash, a sanitizer report, a
  // leak) fails the test program, with its log.
  ~TDemo();
};

// Created on first use, for the whole test program.
TDemo& Demo();

// A demo database of a test's own on the engine under test, with the data of Demo()'s, for a
// test that changes data.
class TOwnDemo {
 public:
  TOwnDemo();
  // Runs a statement that changes data.
  void Execute(const std::string& sql);
  // What app-server --db takes.
  const std::string& Location() const { return location_; }

 private:
  TTempDir dir_;
  std::unique_ptr<TPostgresDatabase> postgres_;
  std::string location_;
};

// Creates the demo data (seed, scale) on the engine at `location` (a file or a connection
// string) with app-server --init-demo; raises with its output when that fails.
void InitDemo(const std::string& location, int seed, int scale, const std::string& logPath);

// Runs app-server with `arguments` (a shell command line's) and `input` on its standard input
// (not a terminal); the exit status. Its output is appended to `logPath`.
int RunWithInput(const std::string& arguments, const std::string& input,
                 const std::string& logPath);

// A query of the database the shared server serves (not the SQLite copy Sql reads).
std::string ServedValue(const std::string& query);

// A client of the server on `port` (0: the shared one), logged in as the demo's "demo".
fw::TTcpAppServer Client(int port = 0, int callTimeoutMs = 10000);
fw::TCredentials DemoLogin();
// [0, msgid, "Sessao.Login", [login, password]].
std::string LoginBytes(uint32_t msgid, const std::string& login, const std::string& password);

// The arguments of a contract method: dates 0, flags "T", lists and strings empty, except
// those given by name.
std::vector<fw::TRemoteArg> Args(const std::string& method,
                                 const std::map<std::string, fw::TRemoteArg>& values = {});

// Rows of a query on the demo database, every value as text ("" for null).
std::vector<std::vector<std::string>> Sql(const std::string& query);
// The same on another SQLite file.
std::vector<std::vector<std::string>> SqlAt(const std::string& db, const std::string& query);
std::string SqlValue(const std::string& query);

// A socket to the server, for what the TCP client would never send.
class TRawClient {
 public:
  // From `source` (a loopback address such as "127.0.0.2") when given.
  explicit TRawClient(int port, const char* source = nullptr);
  ~TRawClient();
  void Send(const std::string& bytes);
  // Logs in as "demo" (raises when refused): what every connection does before its calls.
  void Login();
  // Logs in as `login` (raises when refused); the login's answer.
  fw::wire::TReply Login(const std::string& login, const std::string& password);
  // Sends as much as the server takes of `bytes`, stopping quietly when it hangs up.
  void SendUntilRefused(const std::string& bytes);
  void ShutdownWrite();
  // The next response; ERemoteError when none comes within the time-out or the server closes.
  fw::wire::TReply Read(int timeoutMs = 5000);
  // The next response as the bytes that came.
  std::string ReadBytes(int timeoutMs = 5000);
  // True when the server closes the connection within the time-out (reading and dropping
  // whatever arrives first).
  bool ClosedByServer(int timeoutMs);
  int Fd() const { return fd_; }
  // Waits until the server has read everything sent on this connection so far (its side of the
  // connection has nothing left to read, as /proc/net/tcp tells); false on time-out.
  bool WaitUntilReadByServer(int timeoutMs = 20000) const;

 private:
  int fd_ = -1;
};

// [0, msgid, method, [params written by `params`]] with `count` parameters.
std::string RequestBytes(uint32_t msgid, const std::string& method, uint32_t count,
                         const std::function<void(fw::wire::TWireWriter&)>& params);
// A well-formed request from TRemoteArgs.
std::string RequestBytes(uint32_t msgid, const std::string& method,
                         const std::vector<fw::TRemoteArg>& args);

// The tracking service's full method name.
std::string Full(const std::string& method);

}  // namespace testing_app
