#include "tests/app_server/fixture.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "protocol/contract.h"

namespace testing_app {

TDemo::~TDemo() {
  if (!Server) return;
  const int status = Server->Stop();
  const std::string log = Server->Log();
  if (status != 0 || log.find("Sanitizer") != std::string::npos ||
      log.find("runtime error") != std::string::npos) {
    std::fprintf(stderr, "app-server did not stop cleanly (status %d):\n%s\n", status, log.c_str());
    std::_Exit(1);
  }
}

void InitDemo(const std::string& location, int seed, int scale, const std::string& logPath) {
  if (RunAppServer({"--init-demo", location, "--seed", std::to_string(seed), "--scale",
                    std::to_string(scale)},
                   logPath) != 0) {
    std::ifstream file(logPath);
    std::stringstream text;
    text << file.rdbuf();
    throw std::runtime_error("app-server --init-demo failed: " + text.str());
  }
}

TDemo& Demo() {
  // Destroyed at exit: the server is stopped and the folder removed.
  static std::unique_ptr<TDemo> demo = [] {
    auto created = std::make_unique<TDemo>();
    created->Db = created->Dir.Path() + "/demo.db";
    const std::string log = created->Dir.Path() + "/init.log";
    InitDemo(created->Db, 7, 1, log);
    created->Served = created->Db;
    if (EngineUnderTest() == TEngine::Postgres) {
      created->Postgres = std::make_unique<TPostgresDatabase>();
      created->Served = created->Postgres->Conninfo();
      InitDemo(created->Served, 7, 1, log);
    }
    created->Server = std::make_unique<TServerProcess>(
        created->Served, created->Dir.Path() + "/server.log",
        std::vector<std::string>{"--workers", "2", "--message-timeout", "1"});
    return created;
  }();
  return *demo;
}

TOwnDemo::TOwnDemo() {
  if (EngineUnderTest() == TEngine::Postgres) {
    postgres_ = std::make_unique<TPostgresDatabase>();
    location_ = postgres_->Conninfo();
    InitDemo(location_, 7, 1, dir_.Path() + "/init.log");
    return;
  }
  location_ = dir_.Path() + "/own.db";
  std::filesystem::copy_file(Demo().Db, location_);
}

void TOwnDemo::Execute(const std::string& sql) {
  if (postgres_) {
    postgres_->Query(sql);
    return;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(location_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  char* message = nullptr;
  const int status = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  const std::string reason = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  if (status != SQLITE_OK) throw std::runtime_error(reason + " in " + sql);
}

int RunWithInput(const std::string& arguments, const std::string& input,
                 const std::string& logPath) {
  const std::string command =
      std::string(APP_SERVER_PATH) + " " + arguments + " >>" + logPath + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "w");
  if (pipe == nullptr) return -1;
  std::fwrite(input.data(), 1, input.size(), pipe);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ServedValue(const std::string& query) {
  if (Demo().Postgres) {
    const auto rows = Demo().Postgres->Query(query);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }
  return SqlValue(query);
}

fw::TTcpAppServer Client(int port, int callTimeoutMs) {
  return fw::TTcpAppServer("127.0.0.1", port == 0 ? Demo().Server->Port() : port,
                           service::kServerName, {3000, callTimeoutMs}, DemoLogin());
}

fw::TCredentials DemoLogin() {
  return {"demo", "demo"};
}

std::string LoginBytes(uint32_t msgid, const std::string& login, const std::string& password) {
  return RequestBytes(msgid, "Sessao.Login",
                      {fw::TRemoteArg::FromString(login), fw::TRemoteArg::FromString(password)});
}

std::vector<fw::TRemoteArg> Args(const std::string& method,
                                 const std::map<std::string, fw::TRemoteArg>& values) {
  const service::TMethodDef* def = service::FindMethod(method);
  if (def == nullptr) throw std::runtime_error("no method " + method);
  std::vector<fw::TRemoteArg> args;
  for (const auto& param : def->Params) {
    const auto given = values.find(param.Name);
    if (given != values.end()) {
      args.push_back(given->second);
      continue;
    }
    const std::string name = param.Name;
    switch (param.Kind) {
      case service::TParamKind::Date:
        args.push_back(fw::TRemoteArg::FromDate(0));
        break;
      case service::TParamKind::String:
        args.push_back(fw::TRemoteArg::FromString(""));
        break;
      case service::TParamKind::InOutString:
        args.push_back(fw::TRemoteArg::FromInOut(
            name.rfind("stT", 0) == 0 || name.rfind("stDt", 0) == 0 ? "T" : ""));
        break;
    }
  }
  return args;
}

std::vector<std::vector<std::string>> Sql(const std::string& query) {
  return SqlAt(Demo().Db, query);
}

std::vector<std::vector<std::string>> SqlAt(const std::string& path, const std::string& query) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(message + " in " + query);
  }
  std::vector<std::vector<std::string>> rows;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      row.push_back(text ? text : "");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

std::string SqlValue(const std::string& query) {
  const auto rows = Sql(query);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

TRawClient::TRawClient(int port, const char* source) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (source != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
      throw std::runtime_error("raw bind failed");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    throw std::runtime_error("raw connect failed");
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

TRawClient::~TRawClient() {
  ::close(fd_);
}

void TRawClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) throw std::runtime_error("raw send failed");
    sent += static_cast<size_t>(count);
  }
}

void TRawClient::SendUntilRefused(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

void TRawClient::Login() {
  Login("demo", "demo");
}

fw::wire::TReply TRawClient::Login(const std::string& login, const std::string& password) {
  Send(LoginBytes(0xFFFF, login, password));
  fw::wire::TReply reply = Read(10000);
  if (reply.Failed) throw std::runtime_error("login refused: " + reply.ErrorMessage);
  return reply;
}

void TRawClient::ShutdownWrite() {
  ::shutdown(fd_, SHUT_WR);
}

fw::wire::TReply TRawClient::Read(int timeoutMs) {
  fw::wire::TReplyReader reader;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd poller{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&poller, 1, static_cast<int>(left)) <= 0)
      throw fw::ERemoteError("no reply in time");
    auto room = reader.Room();
    const ssize_t count = ::recv(fd_, room.Data, room.Size, 0);
    if (count <= 0) throw fw::ERemoteError("closed before a reply");
    if (reader.Received(static_cast<size_t>(count))) return reader.Take();
  }
}

bool TRawClient::WaitUntilReadByServer(int timeoutMs) const {
  sockaddr_in local{}, remote{};
  socklen_t length = sizeof(local);
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
  length = sizeof(remote);
  ::getpeername(fd_, reinterpret_cast<sockaddr*>(&remote), &length);
  // The server's side: local address its port, remote address ours ("0100007F:1D1E").
  const std::string server = fmt::format(":{:04X} ", ntohs(remote.sin_port));
  const std::string client = fmt::format(":{:04X} ", ntohs(local.sin_port));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    bool pending = false;
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, localAddress, remoteAddress, state, queues;
      fields >> slot >> localAddress >> remoteAddress >> state >> queues;
      if ((localAddress + " ").find(server) == std::string::npos ||
          (remoteAddress + " ").find(client) == std::string::npos)
        continue;
      pending = std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16) != 0;
    }
    if (!pending) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::string TRawClient::ReadBytes(int timeoutMs) {
  fw::wire::TReplyReader reader;
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd poller{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&poller, 1, static_cast<int>(left)) <= 0)
      throw fw::ERemoteError("no reply in time");
    auto room = reader.Room();
    const ssize_t count = ::recv(fd_, room.Data, room.Size, 0);
    if (count <= 0) throw fw::ERemoteError("closed before a reply");
    bytes.append(room.Data, static_cast<size_t>(count));
    if (reader.Received(static_cast<size_t>(count))) return bytes;
  }
}

bool TRawClient::ClosedByServer(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd poller{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&poller, 1, static_cast<int>(left)) <= 0) return false;
    const ssize_t count = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (count <= 0) return true;
  }
}

std::string RequestBytes(uint32_t msgid, const std::string& method, uint32_t count,
                         const std::function<void(fw::wire::TWireWriter&)>& params) {
  std::string bytes;
  fw::wire::TWireWriter writer(bytes);
  writer.Array(4);
  writer.Unsigned(0);
  writer.Unsigned(msgid);
  writer.Str(method);
  writer.Array(count);
  params(writer);
  return bytes;
}

std::string RequestBytes(uint32_t msgid, const std::string& method,
                         const std::vector<fw::TRemoteArg>& args) {
  std::string bytes;
  fw::wire::TWireWriter writer(bytes);
  fw::wire::EncodeRequest(writer, msgid, method, args);
  return bytes;
}

std::string Full(const std::string& method) {
  return std::string(service::kServerName) + "." + method;
}

}  // namespace testing_app
