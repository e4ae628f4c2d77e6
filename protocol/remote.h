// What crosses the wire between a screen and the application server, independent of the encoding.
//
// A call names the object and method ("CMP09500.rdmAcompSoli.GetItens") and passes arguments of
// three kinds: a date (days since 30/12/1899), a string by value, and an in-out string whose value
// the server may change. A result is either a data packet (with the in-out strings as the server
// left them) or a refusal with the server's message.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/packet.h"

namespace fw {

struct TRemoteArg {
  enum class TKind { Date, String, InOutString };
  TKind Kind = TKind::String;
  double Date = 0;
  std::string Text;

  static TRemoteArg FromDate(double date) { return {TKind::Date, date, {}}; }
  static TRemoteArg FromString(std::string text) { return {TKind::String, 0, std::move(text)}; }
  static TRemoteArg FromInOut(std::string text) { return {TKind::InOutString, 0, std::move(text)}; }
};

struct TRemoteResult {
  bool Refused = false;        // the service refused the request ("fail")
  std::string RefusalMessage;  // its message, when refused
  TDataPacket Data;            // the packet, when not refused
  // One entry per argument: the value the server left in an in-out string, nullopt otherwise.
  std::vector<std::optional<std::string>> Refs;
};

// The call itself failed: transport, time-out, unknown object or method, wrong arguments, a reply
// that is not a result. The message is for the user, in Portuguese.
class ERemoteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An application-server object that methods are invoked on by name. The TCP client implements it;
// tests and the screen driver put a canned service in its place.
class IAppServer {
 public:
  virtual ~IAppServer() = default;
  // Invokes `method` (without the object name) with the arguments. On success the in-out
  // arguments already hold what the server left in them. Raises ERemoteError.
  virtual TRemoteResult Invoke(const std::string& method, std::vector<TRemoteArg>& args) = 0;
};

}  // namespace fw
