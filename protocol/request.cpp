#include "protocol/request.h"

#include <limits>

#include "protocol/text.h"

namespace app {

namespace {

constexpr size_t kMaxDepth = 16;

}  // namespace

const char* KindName(TRpcValue::TKind kind) {
  switch (kind) {
    case TRpcValue::TKind::Nil:
      return "nulo";
    case TRpcValue::TKind::Boolean:
      return "booleano";
    case TRpcValue::TKind::Integer:
      return "inteiro";
    case TRpcValue::TKind::Float:
      return "número";
    case TRpcValue::TKind::String:
      return "texto";
    case TRpcValue::TKind::Binary:
      return "binário";
    case TRpcValue::TKind::Array:
      return "lista";
    case TRpcValue::TKind::Map:
      return "mapa";
    case TRpcValue::TKind::Extension:
      return "extensão";
  }
  return "?";
}

void EncodeErrorResponse(std::string& response, uint32_t msgid, std::string_view message) {
  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(msgid);
  out.Map(1);
  out.Str("message");
  out.Str(SafeMessage(message));
  out.Nil();
}

void EncodeLoginResponse(std::string& response, uint32_t msgid, std::string_view login,
                         std::string_view name, const fw::TAccountScope& scope) {
  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(msgid);
  out.Nil();
  out.Map(2 + fw::kLoginScopeKeys);
  out.Str("usuario");
  out.Str(login);
  out.Str("nome");
  out.Str(name);
  fw::WriteLoginScope(out, scope);
}

void EncodeFailResponse(std::string& response, uint32_t msgid, std::string_view message) {
  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(msgid);
  out.Nil();
  out.Map(1);
  out.Str("fail");
  out.Map(1);
  out.Str("message");
  out.Str(SafeMessage(message));
}

// ---------------------------------------------------------------------------------------------

TRequestVisitor::TRole TRequestVisitor::RoleOfNext() const {
  if (stack_.empty()) return TRole::Root;
  const TFrame& top = stack_.back();
  if (top.InKey) return TRole::Skip;
  switch (top.Role) {
    case TRole::Root:
      switch (top.Index) {
        case 0:
          return TRole::Type;
        case 1:
          return TRole::MsgId;
        case 2:
          return TRole::Method;
        case 3:
          return TRole::Params;
        default:
          return TRole::Skip;
      }
    case TRole::Params:
      return TRole::Param;
    default:
      return TRole::Skip;
  }
}

bool TRequestVisitor::Stop(std::string reason) {
  if (stopReason_.empty()) stopReason_ = std::move(reason);
  Stopped = true;
  return false;
}

bool TRequestVisitor::Push(TRole role) {
  if (stack_.size() >= kMaxDepth) return Stop("aninhamento excessivo na requisição");
  stack_.push_back({role, false, 0});
  return true;
}

bool TRequestVisitor::Scalar(TRpcValue value) {
  switch (RoleOfNext()) {
    case TRole::Type:  // integers are taken in visit_*_integer: a double may not fit int64
      return true;
    case TRole::MsgId:
      second_ = std::move(value);
      return true;
    case TRole::Method:
      if (value.Kind == TRpcValue::TKind::String && value.Text.size() > fw::wire::kMaxStringSize)
        return Stop("o nome do método excede o limite de 64 KiB");
      method_ = std::move(value);
      return true;
    case TRole::Params:
      params_.clear();
      paramsIsArray_ = false;
      return true;
    case TRole::Param:
      params_.push_back(std::move(value));
      return true;
    default:
      return true;
  }
}

bool TRequestVisitor::visit_positive_integer(uint64_t value) {
  if (RoleOfNext() == TRole::Type) {
    type_ = value <= 2 ? static_cast<int64_t>(value) : -1;  // past 2 no type this server knows
    return true;
  }
  if (RoleOfNext() == TRole::MsgId) {
    if (value <= std::numeric_limits<uint32_t>::max()) msgid_ = static_cast<uint32_t>(value);
    second_ = {TRpcValue::TKind::Integer, static_cast<double>(value), {}};
    return true;
  }
  return Scalar({TRpcValue::TKind::Integer, static_cast<double>(value), {}});
}

// The parser calls this for every signed encoding (d0..d3), negative or not: a client may write
// a msgid of 7 as d0 07.
bool TRequestVisitor::visit_negative_integer(int64_t value) {
  if (value >= 0) return visit_positive_integer(static_cast<uint64_t>(value));
  if (RoleOfNext() == TRole::Type) {
    type_ = -1;
    return true;
  }
  return Scalar({TRpcValue::TKind::Integer, static_cast<double>(value), {}});
}

bool TRequestVisitor::visit_str(const char* data, uint32_t size) {
  if (!stack_.empty() && stack_.back().InKey) return true;
  return Scalar({TRpcValue::TKind::String, 0, std::string(data, size)});
}

bool TRequestVisitor::start_array(uint32_t count) {
  TRole role = RoleOfNext();
  switch (role) {
    case TRole::Root:
      rootIsArray_ = true;
      rootCount_ = count;
      break;
    case TRole::Params:
      if (count > fw::wire::kMaxParams)
        return Stop("a requisição tem " + std::to_string(count) + " parâmetros; o limite é 32");
      paramsIsArray_ = true;
      params_.reserve(count);
      break;
    case TRole::Param:
      params_.push_back({TRpcValue::TKind::Array, 0, {}});
      role = TRole::Skip;
      break;
    case TRole::Method:
      method_ = {TRpcValue::TKind::Array, 0, {}};
      role = TRole::Skip;
      break;
    default:
      role = TRole::Skip;
      break;
  }
  return Push(role);
}

bool TRequestVisitor::end_array_item() {
  ++stack_.back().Index;
  return true;
}

bool TRequestVisitor::end_array() {
  stack_.pop_back();
  return true;
}

bool TRequestVisitor::start_map(uint32_t) {
  switch (RoleOfNext()) {
    case TRole::Param:
      params_.push_back({TRpcValue::TKind::Map, 0, {}});
      break;
    case TRole::Method:
      method_ = {TRpcValue::TKind::Map, 0, {}};
      break;
    default:
      break;
  }
  return Push(TRole::Skip);
}

bool TRequestVisitor::start_map_key() {
  stack_.back().InKey = true;
  return true;
}

bool TRequestVisitor::end_map_key() {
  stack_.back().InKey = false;
  return true;
}

bool TRequestVisitor::end_map_value() {
  ++stack_.back().Index;
  return true;
}

bool TRequestVisitor::end_map() {
  stack_.pop_back();
  return true;
}

std::string TRequestVisitor::StopReason() const {
  return stopReason_.empty() ? "MessagePack malformado" : stopReason_;
}

TRequestVisitor::TParsed TRequestVisitor::Take() {
  TParsed parsed;
  parsed.MsgId = msgid_;
  const char* shape = "a requisição deve ser [0, msgid, \"Objeto.Método\", [parâmetros]]";
  if (!rootIsArray_) {
    parsed.Problem = shape;
  } else if (type_ == 2 && rootCount_ == 3) {
    parsed.Kind = TParsed::TKind::Notification;
  } else if (rootCount_ != 4 || type_ != 0) {
    parsed.Problem = shape;
  } else if (!msgid_) {
    parsed.Problem = "msgid inválido: deve ser inteiro de 0 a 4294967295";
  } else if (method_.Kind != TRpcValue::TKind::String) {
    parsed.Problem = std::string("o nome do método deve ser texto, não ") + KindName(method_.Kind);
  } else if (!paramsIsArray_) {
    parsed.Problem = "os parâmetros devem vir numa lista";
  } else {
    parsed.Kind = TParsed::TKind::Call;
    parsed.Request.MsgId = *msgid_;
    parsed.Request.Method = std::move(method_.Text);
    parsed.Request.Params = std::move(params_);
  }
  Restart();
  return parsed;
}

// ---------------------------------------------------------------------------------------------

TRequestDecoder::TRequestDecoder() {
  stream_.emplace(visitor_);
}

void TRequestDecoder::Compact() {
  if (stream_->MessageSize() == 0 && stream_->RoomSize() > 4 * 64 * 1024) stream_.emplace(visitor_);
}

TRequestDecoder::TNext TRequestDecoder::Next() {
  using TStatus = fw::wire::TMsgpackStream<TRequestVisitor>::TStatus;
  TNext next;
  TStatus status;
  try {
    status = stream_->Parse();
  } catch (const std::exception&) {
    status = TStatus::Invalid;
  }
  if (status == TStatus::Invalid) {
    next.Status = TRequestDecoder::TStatus::Broken;
    next.MsgId = visitor_.MsgId().value_or(0);
    next.Message = "Requisição malformada: " + visitor_.StopReason() + ".";
    next.LogText = "requisição rejeitada: " + visitor_.StopReason();
    return next;
  }
  // Whole or not, a message past the limit is refused (a read can complete one past it).
  if (stream_->MessageSize() - (status == TStatus::Complete ? stream_->Pending() : 0) >
      fw::wire::kMaxMessageSize) {
    next.Status = TRequestDecoder::TStatus::Broken;
    next.MsgId = visitor_.MsgId().value_or(0);
    next.Message = "A requisição excede o limite de 64 MiB por mensagem.";
    next.LogText = "requisição rejeitada: mais de 64 MiB";
    return next;
  }
  if (status == TStatus::NeedMore) return next;

  TRequestVisitor::TParsed parsed = visitor_.Take();
  stream_->Reset();
  switch (parsed.Kind) {
    case TRequestVisitor::TParsed::TKind::Notification:
      next.Status = TRequestDecoder::TStatus::Notification;
      next.LogText = "notificação ignorada";
      break;
    case TRequestVisitor::TParsed::TKind::Invalid:
      next.Status = TRequestDecoder::TStatus::Refused;
      next.MsgId = parsed.MsgId.value_or(0);
      next.Message = "Requisição malformada: " + parsed.Problem + ".";
      next.LogText = "requisição rejeitada: " + parsed.Problem;
      break;
    case TRequestVisitor::TParsed::TKind::Call:
      next.Status = TRequestDecoder::TStatus::Call;
      next.Request = std::move(parsed.Request);
      break;
  }
  return next;
}

}  // namespace app
