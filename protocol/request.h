// The server's half of every message: reading requests, and the response envelopes (an error,
// a refusal, a login's answer); the client's half is wire.h.
//
// A request is [0, msgid, "Object.Method", [params]]. The object is the name before the last
// dot. What can go wrong, and what the client gets:
// - bytes that are not MessagePack, nesting deeper than 16, more than 32 parameters, a message
//   over 64 MiB: an error response (with the msgid when it was read), then the connection closes,
//   since the rest of the stream cannot be trusted;
// - a well-formed message of the wrong shape (not [0, msgid, str, array]), an unknown object or
//   method, a wrong parameter count or kind: an error response; the connection stays usable;
// - a notification [2, method, params]: ignored (this server has none).
//
// Whatever a client sent, what the server writes back or logs of it is valid UTF-8 with its
// control characters escaped, and quotes at most a few dozen bytes of it (QuoteClientText).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/account.h"
#include "protocol/msgpack_stream.h"
#include "protocol/wire.h"

namespace app {

struct TRpcValue {
  enum class TKind : uint8_t {
    Nil,
    Boolean,
    Integer,
    Float,
    String,
    Binary,
    Array,
    Map,
    Extension
  };
  TKind Kind = TKind::Nil;
  double Number = 0;  // Integer, Float
  std::string Text;   // String
};

// The kind as the error messages name it.
const char* KindName(TRpcValue::TKind kind);

struct TRpcRequest {
  uint32_t MsgId = 0;
  std::string Method;  // "CMP09500.rdmAcompSoli.GetItens"
  std::vector<TRpcValue> Params;
};

// A successful login: [1, msgid, nil, {"usuario": login, "nome": name, scope...}] (the scope's
// keys: protocol/account.h).
void EncodeLoginResponse(std::string& response, uint32_t msgid, std::string_view login,
                         std::string_view name, const fw::TAccountScope& scope);

// The call failed: [1, msgid, {"message": message}, nil]. The message is made safe first
// (SafeMessage).
void EncodeErrorResponse(std::string& response, uint32_t msgid, std::string_view message);
// The service refused: [1, msgid, nil, {"fail": {"message": message}}], likewise made safe.
void EncodeFailResponse(std::string& response, uint32_t msgid, std::string_view message);

// Reads requests from a byte stream (see TMsgpackStream).
class TRequestVisitor : public fw::wire::TVisitorBase {
 public:
  TRequestVisitor() { stack_.reserve(8); }
  void Restart() { *this = TRequestVisitor(); }

  // After a complete parse: what to do with the message.
  struct TParsed {
    enum class TKind { Call, Notification, Invalid } Kind = TKind::Invalid;
    TRpcRequest Request;            // Call
    std::string Problem;            // Invalid: why, in Portuguese
    std::optional<uint32_t> MsgId;  // Invalid: when it could be read
  };
  TParsed Take();
  // Why the parse was stopped (after TStatus::Invalid), and the msgid if it was read.
  std::string StopReason() const;
  std::optional<uint32_t> MsgId() const { return msgid_; }

  bool visit_nil() { return Scalar(TRpcValue{}); }
  bool visit_boolean(bool) { return Scalar({TRpcValue::TKind::Boolean, 0, {}}); }
  bool visit_positive_integer(uint64_t value);
  bool visit_negative_integer(int64_t value);
  bool visit_float32(float value) { return visit_float64(value); }
  bool visit_float64(double value) { return Scalar({TRpcValue::TKind::Float, value, {}}); }
  bool visit_str(const char* data, uint32_t size);
  bool visit_bin(const char*, uint32_t) { return Scalar({TRpcValue::TKind::Binary, 0, {}}); }
  bool visit_ext(const char*, uint32_t) { return Scalar({TRpcValue::TKind::Extension, 0, {}}); }
  bool start_array(uint32_t count);
  bool start_array_item() { return true; }
  bool end_array_item();
  bool end_array();
  bool start_map(uint32_t count);
  bool start_map_key();
  bool end_map_key();
  bool start_map_value() { return true; }
  bool end_map_value();
  bool end_map();

 private:
  enum class TRole : uint8_t { Skip, Root, Type, MsgId, Method, Params, Param };
  struct TFrame {
    TRole Role;
    bool InKey;
    uint32_t Index;
  };

  TRole RoleOfNext() const;
  bool Scalar(TRpcValue value);
  bool Push(TRole role);
  bool Stop(std::string reason);

  std::vector<TFrame> stack_;
  bool rootIsArray_ = false;
  uint32_t rootCount_ = 0;
  std::optional<int64_t> type_;
  std::optional<uint32_t> msgid_;
  TRpcValue second_;  // the msgid position, whatever it holds
  TRpcValue method_;
  bool paramsIsArray_ = false;
  std::vector<TRpcValue> params_;
  std::string stopReason_;
};

// The requests of one connection, decoded as its bytes arrive (see TMsgpackStream): the parse
// buffer, the limits on a message, and what to answer when one is broken.
//
//   char* room = decoder.Room(64 * 1024); n = read(room, decoder.RoomSize());
//   decoder.Received(n);
//   for (auto next = decoder.Next(); next.Status != TStatus::NeedMore; next = decoder.Next()) ...
class TRequestDecoder {
 public:
  enum class TStatus {
    NeedMore,      // the next message is not whole yet
    Call,          // Request holds it
    Notification,  // ignored
    Refused,       // a well-formed message that is no call: answer Message; go on
    Broken,        // the stream cannot be trusted: answer Message, then close
  };
  struct TNext {
    TStatus Status = TStatus::NeedMore;
    TRpcRequest Request;  // Call
    uint32_t MsgId = 0;   // Refused, Broken: the request's, when it could be read, else 0
    std::string Message;  // Refused, Broken: the answer, in Portuguese
    std::string LogText;  // Refused, Broken, Notification: for the log
  };

  TRequestDecoder();
  char* Room(size_t atLeast) { return stream_->Room(atLeast); }
  size_t RoomSize() const { return stream_->RoomSize(); }
  void Received(size_t count) { stream_->Received(count); }
  TNext Next();
  // Bytes held of messages not decoded yet (the one being received, and any after it).
  size_t Buffered() const { return stream_->MessageSize(); }
  // The msgid of the message being received, once read.
  std::optional<uint32_t> MsgId() const { return visitor_.MsgId(); }
  // With nothing buffered, gives back a buffer a large message left behind (the parser never
  // shrinks it), so that an idle connection holds its usual 64 KiB, not the 64 MiB it once read.
  void Compact();

 private:
  TRequestVisitor visitor_;
  std::optional<fw::wire::TMsgpackStream<TRequestVisitor>> stream_;
};

}  // namespace app
