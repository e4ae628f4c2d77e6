// The server's side of a connection, from the bytes a client sends to the answers it gets:
// TRequestDecoder splits the stream into messages (in reads of the sizes the input's first
// byte picks), every call goes through HandleRequest to the real tracking and report services
// on a scale 1 demo database (as an account that reads every branch or as one that reads two), and
// every answer must be a response the project's client decodes, with the request's msgid and a
// message that is plain UTF-8.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app_server/db/database.h"
#include "app_server/demo/demo_data.h"
#include "app_server/report/report_service.h"
#include "app_server/rpc/rpc.h"
#include "app_server/tracking/tracking_service.h"
#include "protocol/contract.h"
#include "protocol/report_contract.h"
#include "protocol/wire.h"

namespace {

struct TService {
  std::string Dir;
  std::unique_ptr<app::TConnectionPool> Pool;
  std::unique_ptr<app::TTrackingService> Tracking;
  std::unique_ptr<app::TReportService> Report;
  app::TObjectRegistry Registry;

  TService() {
    char pattern[] = "/tmp/fuzz-server-XXXXXX";
    Dir = ::mkdtemp(pattern);
    const std::string db = Dir + "/demo.db";
    app::CreateDemoDatabase(db, {7, 1});
    Pool = std::make_unique<app::TConnectionPool>([db] { return app::OpenSqlite(db); },
                                                  [db] { return app::SqliteFileIdentity(db); });
    app::TTrackingService::TOptions options;
    options.QueryTimeLimitMs = 2000;
    options.MaxSelectionCodes = 1000;
    Tracking = std::make_unique<app::TTrackingService>(*Pool, options);
    Registry.Register(service::kServerName, Tracking.get());
    Report = std::make_unique<app::TReportService>(
        *Pool, app::TReportService::TOptions{options.QueryTimeLimitMs, options.MaxSelectionCodes});
    Registry.Register(service::kReportServerName, Report.get());
  }
  ~TService() {
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
};

TService& Service() {
  static TService service;
  return service;
}

[[noreturn]] void Fault(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_server_request: %s: %s\n", what, detail.c_str());
  std::abort();
}

// The answer as the client reads it.
void Check(const std::string& response, uint32_t msgid) {
  fw::wire::TReply reply;
  try {
    reply = fw::wire::DecodeReply(response);
  } catch (const fw::ERemoteError& error) {
    Fault("the client cannot read the answer", error.what());
  }
  if (reply.MsgId != msgid) Fault("wrong msgid", std::to_string(reply.MsgId));
  const std::string& message = reply.Failed ? reply.ErrorMessage : reply.Result.RefusalMessage;
  if (!app::IsPlainText(message)) Fault("message not plain UTF-8", message);
  if (message.size() > 1024) Fault("message too long", std::to_string(message.size()));
  if (!reply.Failed && !reply.Result.Refused && !reply.Result.Data.IsConsistent())
    Fault("inconsistent packet", "");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Service();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the size of each read: 1 to 256 bytes, or everything at once.
  const size_t chunk = data[0] == 0 ? size : data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  size_t left = size - 1;
  app::TRequestDecoder decoder;
  std::string response;
  while (left > 0) {
    const size_t count = left < chunk ? left : chunk;
    std::memcpy(decoder.Room(count), bytes, count);
    decoder.Received(count);
    bytes += count;
    left -= count;
    for (;;) {
      app::TRequestDecoder::TNext next = decoder.Next();
      using TStatus = app::TRequestDecoder::TStatus;
      if (next.Status == TStatus::NeedMore) {
        decoder.Compact();  // as the server does between messages
        break;
      }
      if (next.Status == TStatus::Notification) continue;
      if (next.Status == TStatus::Call) {
        // As the demo's accounts: one that reads every branch, one that reads two of them.
        const app::TCallContext caller{next.Request.MsgId % 2 == 0 ? "demo" : "filial02"};
        app::HandleRequest(Service().Registry, next.Request, caller, response);
        Check(response, next.Request.MsgId);
        continue;
      }
      app::EncodeErrorResponse(response, next.MsgId, next.Message);
      Check(response, next.MsgId);
      if (next.Status == TStatus::Broken) return 0;  // the server closes the connection here
    }
    if (decoder.Buffered() > fw::wire::kMaxMessageSize + 256)
      Fault("more buffered than a message may hold", std::to_string(decoder.Buffered()));
  }
  return 0;
}
