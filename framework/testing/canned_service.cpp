#include "framework/testing/canned_service.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "protocol/datetime.h"

namespace service {

namespace {

const TMethodDef& MethodOrThrow(const std::string& name) {
  const TMethodDef* method = FindMethod(name);
  if (!method) throw std::invalid_argument("método desconhecido: " + name);
  return *method;
}

fw::TDataPacket CopyPacket(const fw::TDataPacket& packet) {
  return packet;
}

class TForwarder : public fw::IAppServer {
 public:
  explicit TForwarder(TCannedAppServer* target) : target_(target) {}
  fw::TRemoteResult Invoke(const std::string& method, std::vector<fw::TRemoteArg>& args) override {
    return target_->Invoke(method, args);
  }

 private:
  TCannedAppServer* target_;
};

}  // namespace

fw::TDataPacket PacketFromText(const TMethodDef& method, const std::vector<std::string>& header,
                               const std::vector<std::vector<std::string>>& rows) {
  fw::TDataPacket packet(method.Fields);
  std::vector<int> columnOf;
  for (const auto& name : header) {
    const int index = packet.FieldIndex(name);
    if (index < 0)
      throw std::invalid_argument("o método " + std::string(method.Name) + " não tem o campo " +
                                  name);
    columnOf.push_back(index);
  }
  auto& columns = packet.Columns();
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != header.size())
      throw std::invalid_argument("a linha " + std::to_string(r + 1) + " tem " +
                                  std::to_string(rows[r].size()) + " valores, o cabeçalho " +
                                  std::to_string(header.size()));
    std::vector<bool> filled(columns.size(), false);
    for (size_t c = 0; c < header.size(); ++c) {
      const std::string& text = rows[r][c];
      fw::TColumn& column = columns[columnOf[c]];
      filled[columnOf[c]] = true;
      if (text.empty()) {
        column.AppendNull();
      } else if (column.Type() == fw::TFieldType::ftString) {
        column.AppendString(text);
      } else if (column.Type() == fw::TFieldType::ftDateTime) {
        const auto date = fw::TextToDateTime(text);
        if (!date) throw std::invalid_argument("data inválida em " + header[c] + ": " + text);
        column.AppendNumber(*date);
      } else {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
          throw std::invalid_argument("número inválido em " + header[c] + ": " + text);
        column.AppendNumber(value);
      }
    }
    // Fields the header does not name are null.
    for (size_t c = 0; c < columns.size(); ++c)
      if (!filled[c]) columns[c].AppendNull();
  }
  return packet;
}

void TCannedAppServer::Serve(const std::string& method, fw::TDataPacket packet) {
  const TMethodDef& def = MethodOrThrow(method);
  if (packet.Fields().size() != def.Fields.size())
    throw std::invalid_argument("pacote com campos diferentes dos de " + method);
  for (size_t i = 0; i < def.Fields.size(); ++i)
    if (packet.Fields()[i].Name != def.Fields[i].Name ||
        packet.Fields()[i].Type != def.Fields[i].Type)
      throw std::invalid_argument("pacote com campos diferentes dos de " + method);
  answers_[method] = std::move(packet);
}

void TCannedAppServer::ServeText(const std::string& method, const std::vector<std::string>& header,
                                 const std::vector<std::vector<std::string>>& rows) {
  answers_[method] = PacketFromText(MethodOrThrow(method), header, rows);
}

void TCannedAppServer::ServeEmpty(const std::string& method) {
  answers_[method] = EmptyPacket(MethodOrThrow(method));
}

void TCannedAppServer::FailNext(const std::string& method, std::string message) {
  MethodOrThrow(method);
  once_[method].push_back({TOnce::TKind::Fail, std::move(message), {}});
}

void TCannedAppServer::ErrorNext(const std::string& method, std::string message) {
  MethodOrThrow(method);
  once_[method].push_back({TOnce::TKind::Error, std::move(message), {}});
}

void TCannedAppServer::RefsNext(const std::string& method,
                                std::map<std::string, std::string> values) {
  const TMethodDef& def = MethodOrThrow(method);
  for (const auto& [name, value] : values) {
    const int index = ParamIndex(def, name);
    if (index < 0 || def.Params[index].Kind != TParamKind::InOutString)
      throw std::invalid_argument(name + " não é um parâmetro de entrada e saída de " + method);
  }
  once_[method].push_back({TOnce::TKind::Refs, {}, std::move(values)});
}

fw::TRemoteResult TCannedAppServer::Invoke(const std::string& method,
                                           std::vector<fw::TRemoteArg>& args) {
  const TMethodDef* def = FindMethod(method);
  if (!def) throw fw::ERemoteError("Método desconhecido no servidor: " + method + ".");
  if (args.size() != def->Params.size())
    throw fw::ERemoteError("Número de parâmetros inválido para " + method + ".");
  for (size_t i = 0; i < args.size(); ++i) {
    const bool match =
        (def->Params[i].Kind == TParamKind::Date && args[i].Kind == fw::TRemoteArg::TKind::Date) ||
        (def->Params[i].Kind == TParamKind::String &&
         args[i].Kind == fw::TRemoteArg::TKind::String) ||
        (def->Params[i].Kind == TParamKind::InOutString &&
         args[i].Kind == fw::TRemoteArg::TKind::InOutString);
    if (!match)
      throw fw::ERemoteError("Tipo inválido no parâmetro " + std::string(def->Params[i].Name) +
                             " de " + method + ".");
  }
  Calls.push_back({method, args, -1});
  const size_t callIndex = Calls.size() - 1;

  std::optional<TOnce> once;
  if (auto found = once_.find(method); found != once_.end() && !found->second.empty()) {
    once = std::move(found->second.front());
    found->second.pop_front();
  }
  fw::TRemoteResult result;
  if (once && once->Kind == TOnce::TKind::Error) {
    if (OnCall) OnCall(Calls[callIndex]);
    throw fw::ERemoteError(once->Message);
  }
  if (once && once->Kind == TOnce::TKind::Fail) {
    result.Refused = true;
    result.RefusalMessage = once->Message;
    if (OnCall) OnCall(Calls[callIndex]);
    return result;
  }
  if (once && once->Kind == TOnce::TKind::Refs) {
    for (const auto& [name, value] : once->Values) args[ParamIndex(*def, name)].Text = value;
  }
  auto answer = answers_.find(method);
  result.Data = answer == answers_.end() ? EmptyPacket(*def) : CopyPacket(answer->second);
  for (const auto& arg : args)
    result.Refs.push_back(arg.Kind == fw::TRemoteArg::TKind::InOutString
                              ? std::optional<std::string>(arg.Text)
                              : std::nullopt);
  Calls[callIndex].Rows = static_cast<int>(result.Data.RowCount());
  if (OnCall) OnCall(Calls[callIndex]);
  return result;
}

std::unique_ptr<fw::IAppServer> TCannedAppServer::Connect() {
  return std::make_unique<TForwarder>(this);
}

}  // namespace service
