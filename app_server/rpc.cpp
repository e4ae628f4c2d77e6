#include "app_server/rpc.h"

#include <limits>

#include "app_server/database.h"

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

IServiceObject* TObjectRegistry::Find(std::string_view name) const {
  const auto found = objects_.find(name);
  return found == objects_.end() ? nullptr : found->second;
}

bool TObjectRegistry::IsQuick(std::string_view fullMethod) const {
  const size_t dot = fullMethod.rfind('.');
  if (dot == std::string_view::npos) return true;
  const IServiceObject* object = Find(fullMethod.substr(0, dot));
  return object == nullptr || object->IsQuick(fullMethod.substr(dot + 1));
}

void EncodeErrorResponse(std::string& response, uint32_t msgid, std::string_view message) {
  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(msgid);
  out.Map(1);
  out.Str("message");
  out.Str(message);
  out.Nil();
}

namespace {

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
  out.Str(message);
}

}  // namespace

TCallOutcome HandleRequest(const TObjectRegistry& registry, const TRpcRequest& request,
                           std::string& response) {
  TCallOutcome outcome;
  outcome.Method = request.Method;
  auto error = [&](std::string message) {
    outcome.Kind = TCallOutcome::TKind::Error;
    outcome.Message = std::move(message);
    EncodeErrorResponse(response, request.MsgId, outcome.Message);
    return outcome;
  };
  auto fail = [&](std::string message) {
    outcome.Kind = TCallOutcome::TKind::Fail;
    outcome.Message = std::move(message);
    EncodeFailResponse(response, request.MsgId, outcome.Message);
    return outcome;
  };

  const size_t dot = request.Method.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == request.Method.size())
    return error("Método inválido: \"" + request.Method + "\" (esperado Objeto.Método).");
  const std::string_view objectName = std::string_view(request.Method).substr(0, dot);
  const std::string_view methodName = std::string_view(request.Method).substr(dot + 1);
  IServiceObject* object = registry.Find(objectName);
  if (object == nullptr)
    return error("Objeto desconhecido no servidor de aplicação: " + std::string(objectName) + ".");

  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(request.MsgId);
  out.Nil();
  try {
    outcome.Rows = object->Invoke(methodName, request.Params, out);
  } catch (const ECallError& failure) {
    return error(failure.what());
  } catch (const ERefusal& refusal) {
    return fail(refusal.what());
  } catch (const EDatabaseError& failure) {
    return error(failure.what());
  } catch (const std::bad_alloc&) {
    return error("Falha no servidor de aplicação: memória insuficiente.");
  } catch (const std::exception& failure) {
    return error(std::string("Falha no servidor de aplicação: ") + failure.what());
  }
  if (response.size() > fw::wire::kMaxMessageSize)
    return fail("O resultado excede o limite de 64 MiB por mensagem; restrinja o filtro.");
  outcome.Kind = TCallOutcome::TKind::Data;
  return outcome;
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
    case TRole::Type:
      if (value.Kind == TRpcValue::TKind::Integer) type_ = static_cast<int64_t>(value.Number);
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
  if (RoleOfNext() == TRole::MsgId) {
    if (value <= std::numeric_limits<uint32_t>::max()) msgid_ = static_cast<uint32_t>(value);
    second_ = {TRpcValue::TKind::Integer, static_cast<double>(value), {}};
    return true;
  }
  return Scalar({TRpcValue::TKind::Integer, static_cast<double>(value), {}});
}

bool TRequestVisitor::visit_negative_integer(int64_t value) {
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

}  // namespace app
