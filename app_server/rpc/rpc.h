// The server's dispatch: the objects methods are invoked on by name, the login's gate, and what
// a call comes to. The messages themselves (reading requests, the response envelopes, quoting
// client text) are protocol/request.h and protocol/text.h, included here for the server's code.
//
// Whatever a client sent, what the server writes back or logs of it is valid UTF-8 with its
// control characters escaped, and quotes at most a few dozen bytes of it (QuoteClientText).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/account.h"
#include "protocol/request.h"
#include "protocol/text.h"
#include "protocol/wire.h"

namespace app {

// The call is wrong (unknown method, wrong parameters): answered as `error`.
class ECallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The service refuses the request for a reason of its own: answered as {"fail": {"message"}}.
class ERefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Who makes a call: the account its connection logged in as. Empty on a server without logins
// (no authenticator), which the services answer as an account that reads nothing.
struct TCallContext {
  std::string Login;
};

// An object that methods are invoked on by name.
class IServiceObject {
 public:
  virtual ~IServiceObject() = default;
  // Writes the result ({"data": packet, "refs": [...]}) and returns the packet's row count.
  // Raises ECallError or ERefusal (anything written before is then discarded).
  virtual size_t Invoke(std::string_view method, const std::vector<TRpcValue>& params,
                        const TCallContext& context, fw::wire::TWireWriter& out) = 0;
  // True for a method that only looks records up by key, so quick that it runs on the
  // connection's own thread; the others run on the query pool (see server.h).
  virtual bool IsQuick(std::string_view method) const {
    (void)method;
    return false;
  }
  // True for a method that reads a large part of the database and answers much (a report):
  // such calls take at most all query threads but one, so that searches always find one.
  virtual bool IsLong(std::string_view method) const {
    (void)method;
    return false;
  }
};

// Logging in: the method every connection must call first, and what the server answers.
inline constexpr const char* kLoginMethod = "Sessao.Login";
inline constexpr const char* kNotAuthenticated = "Sessão não autenticada.";
inline constexpr const char* kBadCredentials = "Usuário ou senha inválidos.";
inline constexpr const char* kTooManyAttempts =
    "Muitas tentativas de acesso; tente novamente em instantes.";

// What a login attempt came to, for the session to answer and log.
struct TLoginOutcome {
  bool Accepted = false;
  std::string Login;        // the account's, when accepted
  std::string Name;         // likewise
  fw::TAccountScope Scope;  // likewise: what the account reads, for the client to show
  std::string Message;      // the refusal the client gets, when not accepted
  std::string LogText;      // "\"demo\": aceito" or "\"demo\": recusado (senha incorreta)"
};

// Checks logins. The session calls it on a query thread.
class IAuthenticator {
 public:
  virtual ~IAuthenticator() = default;
  virtual TLoginOutcome Login(const std::string& address, const std::vector<TRpcValue>& params) = 0;
};

class TObjectRegistry {
 public:
  void Register(std::string name, IServiceObject* object) { objects_[std::move(name)] = object; }
  IServiceObject* Find(std::string_view name) const;
  // Whether "Object.Method" is a quick method of a known object; unknown names are quick too
  // (they are only answered with an error).
  bool IsQuick(std::string_view fullMethod) const;
  bool IsLong(std::string_view fullMethod) const;
  // Set: every connection must log in (kLoginMethod) before any other call.
  void SetAuthenticator(IAuthenticator* authenticator) { authenticator_ = authenticator; }
  IAuthenticator* Authenticator() const { return authenticator_; }

 private:
  std::map<std::string, IServiceObject*, std::less<>> objects_;
  IAuthenticator* authenticator_ = nullptr;
};

// One call as the log line reports it.
struct TCallOutcome {
  enum class TKind { Data, Fail, Error } Kind = TKind::Error;
  std::string Method;
  size_t Rows = 0;
  std::string Message;  // for Fail and Error, as the client got it
  std::string Detail;   // for the log only: what the client is not shown (an internal failure)
};

// Runs one request, made by `context`'s account, and writes the whole response message into
// `response`.
TCallOutcome HandleRequest(const TObjectRegistry& registry, const TRpcRequest& request,
                           const TCallContext& context, std::string& response);

// Why a string parameter cannot be used as text (nullptr when it can): not UTF-8 (as the wire
// requires), or holding the character U+0000, which PostgreSQL's text cannot hold.
const char* TextProblem(std::string_view text);

}  // namespace app
