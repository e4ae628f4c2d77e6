// Writes the seed corpora of the harnesses (fuzz/corpus/<harness>/), so that they can be made
// again: fuzz_seeds fuzz/corpus. Each seed starts with the byte the harness reads as the size
// of its reads (0: all at once).
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/contract.h"
#include "protocol/report_contract.h"
#include "protocol/wire.h"

namespace {

using fw::TRemoteArg;
using fw::wire::TWireWriter;

void Write(const std::filesystem::path& folder, const std::string& name, char chunk,
           const std::string& bytes) {
  std::filesystem::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary) << chunk << bytes;
}

// The arguments the screens send with every criterion unrestricted, but for `given`.
std::vector<TRemoteArg> Args(const service::TMethodDef& method,
                             const std::vector<std::pair<std::string, TRemoteArg>>& given = {}) {
  std::vector<TRemoteArg> args;
  for (const auto& param : method.Params) {
    TRemoteArg arg;
    switch (param.Kind) {
      case service::TParamKind::Date:
        arg = TRemoteArg::FromDate(45352.5);
        break;
      case service::TParamKind::String:
        arg = TRemoteArg::FromString("0001");
        break;
      case service::TParamKind::InOutString:
        arg = TRemoteArg::FromInOut("T");
        break;
    }
    for (const auto& [name, value] : given)
      if (name == param.Name) arg = value;
    args.push_back(arg);
  }
  return args;
}

std::string Request(uint32_t msgid, const service::TMethodDef& method,
                    const std::vector<TRemoteArg>& args) {
  std::string bytes;
  TWireWriter writer(bytes);
  fw::wire::EncodeRequest(writer, msgid, std::string(service::kServerName) + "." + method.Name,
                          args);
  return bytes;
}

void ServerRequests(const std::filesystem::path& folder) {
  uint32_t msgid = 1;
  for (const auto& method : service::Methods()) {
    Write(folder, std::string("call-") + method.Name, 0, Request(msgid++, method, Args(method)));
  }
  // The report's object, with a list of each kind.
  {
    const service::TMethodDef& report = service::ReportMethod();
    std::string bytes;
    TWireWriter writer(bytes);
    fw::wire::EncodeRequest(writer, msgid++,
                            std::string(service::kReportServerName) + "." + report.Name,
                            Args(report, {{"stTFilSoli", TRemoteArg::FromString("")},
                                          {"stLFilSoli", TRemoteArg::FromString("'0001','0002'")},
                                          {"stTStatus", TRemoteArg::FromString("")},
                                          {"stLStatus", TRemoteArg::FromString("'A','5'")}}));
    Write(folder, std::string("call-") + report.Name, 0, bytes);
  }
  const service::TMethodDef& items = *service::FindMethod("GetItens");
  Write(folder, "list-and-range", 16,
        Request(20, items,
                Args(items, {{"stLSolicita", TRemoteArg::FromInOut("'2024000101','B''2'")},
                             {"stTSolicita", TRemoteArg::FromInOut("")},
                             {"cdProdIni", TRemoteArg::FromString("01.000.000")},
                             {"stTCdProd", TRemoteArg::FromInOut("")}})));
  Write(folder, "pipelined", 7,
        Request(30, *service::FindMethod("GetFilSoli"), {}) +
            Request(31, *service::FindMethod("GetItemCota"),
                    Args(*service::FindMethod("GetItemCota"))));
  std::string notification;
  {
    TWireWriter writer(notification);
    writer.Array(3);
    writer.Unsigned(2);
    writer.Str("CMP09500.rdmAcompSoli.GetFilSoli");
    writer.Array(0);
  }
  Write(folder, "notification", 0, notification);
  Write(
      folder, "signed-msgid", 0, std::string("\x94\x00\xd1\x01\x2c", 5) + [] {
        std::string rest;
        TWireWriter writer(rest);
        writer.Str("CMP09500.rdmAcompSoli.GetFilSoli");
        writer.Array(0);
        return rest;
      }());
  Write(folder, "unknown-method", 3,
        Request(40, service::TMethodDef{"Get\nX", {}, {}, ""}, {TRemoteArg::FromDate(1e300)}));
  Write(folder, "not-messagepack", 0, std::string("\xc1\x00\x01", 3));
}

void Selections(const std::filesystem::path& folder) {
  const std::vector<std::pair<std::string, std::string>> lists = {
      {"branches", "'0001','0003'"},
      {"quotes", "'A01','B''2',''''"},
      {"empty-code", "''"},
      {"blank", "  "},
      {"broken", "'0001' ,'0002'"},
      {"open", "'0001"},
      {"controls", "'a\"b','c\\d','\x01\xff'"}};
  for (const auto& [name, text] : lists) Write(folder, name, 5, text);
}

void Replies(const std::filesystem::path& folder) {
  const std::vector<fw::TPacketField> fields = {{"CDFILIAL", fw::TFieldType::ftString, 4},
                                                {"DTHRLANCSOL", fw::TFieldType::ftDateTime, 0},
                                                {"QTSOLIPROD", fw::TFieldType::ftFloat, 0}};
  std::string data;
  {
    TWireWriter writer(data);
    writer.Array(4);
    writer.Unsigned(1);
    writer.Unsigned(7);
    writer.Nil();
    writer.Map(2);
    writer.Str("data");
    fw::wire::TPacketWriter packet(writer, fields);
    packet.BeginRow();
    packet.String("0001");
    packet.Number(45352.5);
    packet.Number(12.5);
    packet.BeginRow();
    packet.Null();
    packet.Null();
    packet.Number(0);
    packet.Finish();
    writer.Str("refs");
    writer.Array(2);
    writer.Nil();
    writer.Str("T");
  }
  Write(folder, "data", 0, data);
  Write(folder, "data-in-pieces", 9, data);
  std::string error, fail, bare;
  {
    TWireWriter writer(error);
    writer.Array(4);
    writer.Unsigned(1);
    writer.Unsigned(8);
    writer.Map(1);
    writer.Str("message");
    writer.Str("Método desconhecido: X.");
    writer.Nil();
  }
  Write(folder, "error", 0, error);
  {
    TWireWriter writer(fail);
    writer.Array(4);
    writer.Unsigned(1);
    writer.Unsigned(9);
    writer.Nil();
    writer.Map(1);
    writer.Str("fail");
    writer.Map(1);
    writer.Str("message");
    writer.Str("A lista de filiais selecionadas está malformada.");
  }
  Write(folder, "fail", 0, fail);
  {
    TWireWriter writer(bare);
    fw::TDataPacket packet(fields);
    packet.Columns()[0].AppendString("0002");
    packet.Columns()[1].AppendNumber(1.25);
    packet.Columns()[2].AppendNull();
    fw::wire::EncodePacket(writer, packet);
  }
  Write(folder, "bare-packet", 0, bare);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path root = argc > 1 ? argv[1] : "fuzz/corpus";
  ServerRequests(root / "server_request");
  Selections(root / "selection");
  Replies(root / "reply");
  return 0;
}
