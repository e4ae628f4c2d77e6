// Shared by the end-to-end tests: one demo database (seed 7, scale 1) and one app-server
// serving it for the whole run, plus helpers to call it properly (through the TCP client) and
// improperly (raw bytes on a socket).
#pragma once

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/remote.h"
#include "framework/net/tcp_app_server.h"
#include "framework/net/wire.h"
#include "tests/app_server/server_process.h"

namespace testing_app {

struct TDemo {
  TTempDir Dir;
  std::string Db;
  std::unique_ptr<TServerProcess> Server;
  // Stops the server; a server that does not exit cleanly (a crash, a sanitizer report, a
  // leak) fails the test program, with its log.
  ~TDemo();
};

// Created on first use, for the whole test program.
TDemo& Demo();

fw::TTcpAppServer Client(int port = 0, int callTimeoutMs = 10000);

// The arguments of a contract method: dates 0, flags "T", lists and strings empty, except
// those given by name.
std::vector<fw::TRemoteArg> Args(const std::string& method,
                                 const std::map<std::string, fw::TRemoteArg>& values = {});

// Rows of a query on the demo database, every value as text ("" for null).
std::vector<std::vector<std::string>> Sql(const std::string& query);
std::string SqlValue(const std::string& query);

// A socket to the server, for what the TCP client would never send.
class TRawClient {
 public:
  // From `source` (a loopback address such as "127.0.0.2") when given.
  explicit TRawClient(int port, const char* source = nullptr);
  ~TRawClient();
  void Send(const std::string& bytes);
  // Sends as much as the server takes of `bytes`, stopping quietly when it hangs up.
  void SendUntilRefused(const std::string& bytes);
  void ShutdownWrite();
  // The next response; ERemoteError when none comes within the time-out or the server closes.
  fw::wire::TReply Read(int timeoutMs = 5000);
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
