#include "app_server/rpc.h"

#include <cstdio>
#include <limits>

#include "app_server/database.h"

namespace app {

namespace {

constexpr size_t kMaxDepth = 16;

// Length of the well-formed UTF-8 sequence at the start of `text` (overlong forms, surrogates
// and code points past U+10FFFF are not), or 0.
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  return length;
}

// The escape for the character at the start of `text` (`length` bytes), or empty when it
// stands as it is. With `quotes`, `"` and `\` are escaped too: quoted client text must not be
// able to close its quotes and go on as the server's own words.
std::string EscapeOf(std::string_view text, size_t length, bool quotes = false) {
  char escaped[16];
  if (length == 0) {
    std::snprintf(escaped, sizeof(escaped), "\\x%02x", static_cast<unsigned char>(text[0]));
    return escaped;
  }
  if (length == 1) {
    const auto c = static_cast<unsigned char>(text[0]);
    switch (c) {
      case '\n':
        return "\\n";
      case '\r':
        return "\\r";
      case '\t':
        return "\\t";
      case '"':
        return quotes ? "\\\"" : "";
      case '\\':
        return quotes ? "\\\\" : "";
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      return escaped;
    }
    return {};
  }
  const auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
  unsigned point = 0;
  if (length == 2 && b0 == 0xC2 && b1 < 0xA0) point = b1;  // C1 controls
  if (length == 3 && b0 == 0xE2 && b1 == 0x80) {
    const auto b2 = static_cast<unsigned char>(text[2]);
    if (b2 == 0xA8 || b2 == 0xA9) point = 0x2000u + (b2 & 0x3Fu);  // line separators
  }
  if (point == 0) return {};
  std::snprintf(escaped, sizeof(escaped), "\\u%04x", point);
  return escaped;
}

std::string Escaped(std::string_view text, size_t maxBytes, bool quotes) {
  std::string out;
  out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = Utf8Length(text.substr(at));
    const std::string escape = EscapeOf(text.substr(at), length, quotes);
    const size_t adds = escape.empty() ? length : escape.size();
    if (out.size() + adds > maxBytes) {
      out += "…";
      break;
    }
    if (escape.empty())
      out.append(text.data() + at, length);
    else
      out += escape;
    at += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace

std::string QuoteClientText(std::string_view text, size_t maxBytes) {
  return Escaped(text, maxBytes, true);
}

std::string SafeMessage(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes && IsPlainText(text)) return std::string(text);
  return Escaped(text, maxBytes, false);
}

bool IsPlainText(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F) {
      ++at;
      continue;
    }
    const size_t length = Utf8Length(text.substr(at));
    if (length == 0 || !EscapeOf(text.substr(at), length).empty()) return false;
    at += length;
  }
  return true;
}

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

bool TObjectRegistry::IsLong(std::string_view fullMethod) const {
  const size_t dot = fullMethod.rfind('.');
  if (dot == std::string_view::npos) return false;
  const IServiceObject* object = Find(fullMethod.substr(0, dot));
  return object != nullptr && object->IsLong(fullMethod.substr(dot + 1));
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
  out.Str(SafeMessage(message));
}

}  // namespace

TCallOutcome HandleRequest(const TObjectRegistry& registry, const TRpcRequest& request,
                           const TCallContext& context, std::string& response) {
  TCallOutcome outcome;
  outcome.Method = request.Method;
  // Messages may quote the client (a method name): what goes back and to the log is made safe.
  auto error = [&](std::string_view message) {
    outcome.Kind = TCallOutcome::TKind::Error;
    outcome.Message = SafeMessage(message);
    EncodeErrorResponse(response, request.MsgId, outcome.Message);
    return outcome;
  };
  auto fail = [&](std::string_view message) {
    outcome.Kind = TCallOutcome::TKind::Fail;
    outcome.Message = SafeMessage(message);
    EncodeFailResponse(response, request.MsgId, outcome.Message);
    return outcome;
  };

  const size_t dot = request.Method.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == request.Method.size())
    return error("Método inválido: \"" + QuoteClientText(request.Method) +
                 "\" (esperado Objeto.Método).");
  const std::string_view objectName = std::string_view(request.Method).substr(0, dot);
  const std::string_view methodName = std::string_view(request.Method).substr(dot + 1);
  IServiceObject* object = registry.Find(objectName);
  if (object == nullptr)
    return error("Objeto desconhecido no servidor de aplicação: " + QuoteClientText(objectName) +
                 ".");

  response.clear();
  fw::wire::TWireWriter out(response);
  out.Array(4);
  out.Unsigned(1);
  out.Unsigned(request.MsgId);
  out.Nil();
  try {
    outcome.Rows = object->Invoke(methodName, request.Params, context, out);
  } catch (const ECallError& failure) {
    return error(failure.what());
  } catch (const ERefusal& refusal) {
    return fail(refusal.what());
  } catch (const EDatabaseError& failure) {
    return error(failure.what());
  } catch (const std::bad_alloc&) {
    return error("Falha no servidor de aplicação: memória insuficiente.");
  } catch (const std::exception& failure) {
    // Its text may name the server's files or internals: the log has it, the client does not.
    outcome.Detail = failure.what();
    return error("Falha interna no servidor de aplicação; a chamada não foi concluída.");
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
