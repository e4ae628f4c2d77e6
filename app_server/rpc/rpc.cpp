#include "app_server/rpc/rpc.h"

#include "app_server/db/database.h"

namespace app {

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

const char* TextProblem(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\0') return "o texto contém o caractere nulo (U+0000)";
    // Shorter forms of a code point, surrogates and code points past U+10FFFF are not UTF-8.
    const size_t length = fw::Utf8Length(text.substr(i));
    if (length == 0) return "o texto não é UTF-8 válido";
    i += length;
  }
  return nullptr;
}

}  // namespace app
