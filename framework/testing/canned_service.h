// An in-process tracking service that answers from packets it was given: the screen driver's
// canned service and the screens' tests. Checks every call against the contract (count and kinds
// of the arguments), records it, and answers with the method's standing packet (an empty packet
// with the method's fields when none was given), or once with a refusal, a transport error, or
// changed in-out values.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/contract.h"
#include "protocol/remote.h"

namespace service {

class TCannedAppServer : public fw::IAppServer {
 public:
  struct TCall {
    std::string Method;
    std::vector<fw::TRemoteArg> Args;  // as sent
    int Rows = -1;                     // rows answered; -1 for a refusal or an error
  };

  // Standing answer of a method. Raises std::invalid_argument when the packet's fields differ
  // from the method's.
  void Serve(const std::string& method, fw::TDataPacket packet);
  // Standing answer from text: a header of field names and rows of values. Field types come
  // from the contract; an empty value is null; floats use a dot; dates "dd/mm/yyyy[ hh:nn:ss]".
  // Raises std::invalid_argument naming what is wrong.
  void ServeText(const std::string& method, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);
  void ServeEmpty(const std::string& method);
  void FailNext(const std::string& method, std::string message);
  void ErrorNext(const std::string& method, std::string message);
  void RefsNext(const std::string& method, std::map<std::string, std::string> values);

  std::vector<TCall> Calls;
  // Told of each call once answered (the driver prints it).
  std::function<void(const TCall&)> OnCall;

  fw::TRemoteResult Invoke(const std::string& method, std::vector<fw::TRemoteArg>& args) override;

  // A connection to this service: what a connection factory hands out (the service outlives it).
  std::unique_ptr<fw::IAppServer> Connect();

 private:
  struct TOnce {
    enum class TKind { Fail, Error, Refs } Kind;
    std::string Message;
    std::map<std::string, std::string> Values;
  };
  std::map<std::string, fw::TDataPacket> answers_;
  std::map<std::string, std::deque<TOnce>> once_;
};

// Builds a packet of the method's fields from text rows, as ServeText reads them.
fw::TDataPacket PacketFromText(const TMethodDef& method, const std::vector<std::string>& header,
                               const std::vector<std::vector<std::string>>& rows);

}  // namespace service
