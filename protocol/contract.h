// The contract of the tracking service "CMP09500.rdmAcompSoli": its seven methods, the parameters
// of each in call order, and the fields of the packet each returns. The one definition that the
// screens' calls, the application server and the screen driver's canned service all read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocol/packet.h"

namespace service {

inline constexpr const char* kServerName = "CMP09500.rdmAcompSoli";

enum class TParamKind { Date, String, InOutString };

struct TParamDef {
  const char* Name;
  TParamKind Kind;
};

struct TMethodDef {
  const char* Name;
  std::vector<TParamDef> Params;
  std::vector<fw::TPacketField> Fields;  // of the packet it returns
  const char* DataSet;                   // the client data set that receives it
};

// The seven methods, in the order of the contract.
const std::vector<TMethodDef>& Methods();
// nullptr for an unknown method name.
const TMethodDef* FindMethod(std::string_view name);
// Index of a parameter by name, or -1.
int ParamIndex(const TMethodDef& method, std::string_view param);
// An empty packet with the method's fields.
fw::TDataPacket EmptyPacket(const TMethodDef& method);

}  // namespace service
