// A stand-in for the network between the app server and its PostgreSQL server: a listener on
// 127.0.0.1 that passes each connection on to a Unix socket (the test cluster's), and fails on
// demand as a database server does, without touching the cluster the other tests share.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_app {

class TTcpProxy {
 public:
  explicit TTcpProxy(std::string unixSocket);
  ~TTcpProxy();
  TTcpProxy(const TTcpProxy&) = delete;
  TTcpProxy& operator=(const TTcpProxy&) = delete;

  int Port() const { return port_; }
  // The server goes away: every connection is closed and new ones are refused.
  void Down();
  // It is back, on the same port.
  void Up();
  // It stops answering: connections stay open and new ones are taken, but nothing passes.
  void Stall();

 private:
  enum class TState { Up, Down, Stalled };
  struct TPair {
    int Client, Server;
  };
  void Change(TState wanted);
  void Apply();
  void Listen();
  void Loop();
  void Wake();
  void CloseAll();

  std::string target_;
  int port_ = 0;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable changed_;
  TState state_ = TState::Up;
  TState wanted_ = TState::Up;
  bool stopping_ = false;
  std::vector<TPair> pairs_;
  std::thread thread_;
};

}  // namespace testing_app
