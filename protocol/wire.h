// The MessagePack encoding of the wire protocol, shared by the TCP client and the application
// server.
//
// Messages (MessagePack-RPC):
//   request  [0, msgid, "CMP09500.rdmAcompSoli.GetItens", [param...]]
//   response [1, msgid, error, result]
//     error  nil, or {"message": str} when the call itself failed
//     result {"data": packet, "refs": [nil | str ...]}, or {"fail": {"message": str}}, or (the
//            login's) a map of texts {"usuario": str, "nome": str}
//   packet   {"fields": [{"name": str, "type": "string"|"datetime"|"float", "size": int}...],
//             "rows": [[nil | str | float64 ...]...]}
// Dates are float64 days since 30/12/1899, the fraction being the time of day.
//
// Decoding goes straight into the packet's columns: no value is materialised on its way there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/packet.h"
#include "protocol/remote.h"

namespace fw::wire {

// Refused by both ends: a message over this size...
inline constexpr size_t kMaxMessageSize = 64u * 1024u * 1024u;
// ...a string parameter over this size (the server's rule; selection lists are bounded by the
// message size only)...
inline constexpr size_t kMaxStringSize = 64u * 1024u;
// ...or more parameters than this.
inline constexpr size_t kMaxParams = 32;

// Appends MessagePack values to a byte string.
class TWireWriter {
 public:
  explicit TWireWriter(std::string& out) : out_(out) {}

  void Nil();
  void Bool(bool value);
  void Unsigned(uint64_t value);
  void Signed(int64_t value);
  void Double(double value);
  void Str(std::string_view text);
  void Array(uint32_t count);
  void Map(uint32_t count);
  // An array header whose count is filled in later (always the 5-byte form).
  size_t OpenArray32();
  void CloseArray32(size_t header, uint32_t count);

  std::string& Out() { return out_; }
  size_t Size() const { return out_.size(); }

 private:
  std::string& out_;
};

// Writes one packet: the fields at construction, then the rows cell by cell, then Finish().
//
//   TPacketWriter packet(writer, fields);
//   packet.BeginRow(); packet.String("0001"); packet.Null(); ...
//   packet.Finish();
class TPacketWriter {
 public:
  TPacketWriter(TWireWriter& writer, const std::vector<TPacketField>& fields);
  void BeginRow();
  void Null() { writer_.Nil(); }
  void String(std::string_view text) { writer_.Str(text); }
  void Number(double value) { writer_.Double(value); }
  void Finish();
  uint32_t Rows() const { return rows_; }

 private:
  TWireWriter& writer_;
  uint32_t fieldCount_;
  size_t rowsHeader_ = 0;
  uint32_t rows_ = 0;
};

// The whole packet, row by row.
void EncodePacket(TWireWriter& writer, const TDataPacket& packet);
// A packet held whole in memory (a packet file, a benchmark). Raises ERemoteError.
TDataPacket DecodePacket(std::string_view bytes);

// A request: the arguments in order, dates as float64, strings (in-out ones too) as str.
void EncodeRequest(TWireWriter& writer, uint32_t msgid, std::string_view method,
                   const std::vector<TRemoteArg>& args);

// A decoded response.
struct TReply {
  uint32_t MsgId = 0;
  bool Failed = false;       // `error` was set: the call itself failed
  std::string ErrorMessage;  // its message
  TRemoteResult Result;      // when not Failed: a refusal, or the packet and the refs
  bool HasRefs = false;      // the result carried "refs" (Result.Refs holds them, nil as nullopt)
  bool HasPacket = false;    // the result carried "data"
  // The result's other keys whose values are texts: a login's answer, which has no packet.
  std::map<std::string, std::string> Texts;
};

// Decodes one response as its bytes arrive, straight into the packet's columns.
//
//   TReplyReader reader;
//   while (!done) { auto room = reader.Room(); n = recv(room.data, room.size); done =
//   reader.Received(n); } TReply reply = reader.Take();
//
// Raises ERemoteError (in Portuguese) on a malformed reply, or on one over kMaxMessageSize.
class TReplyReader {
 public:
  TReplyReader();
  ~TReplyReader();
  TReplyReader(const TReplyReader&) = delete;
  TReplyReader& operator=(const TReplyReader&) = delete;

  struct TRoom {
    char* Data;
    size_t Size;
  };
  // Space to receive the next bytes into (at least 64 KiB).
  TRoom Room();
  // Accounts for `count` bytes written into Room(); true when the response is complete.
  bool Received(size_t count);
  // Bytes of the response seen so far.
  size_t MessageSize() const;
  // The complete response; the reader is then ready for the next one.
  TReply Take();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// A response held whole in memory. Raises ERemoteError.
TReply DecodeReply(std::string_view bytes);

}  // namespace fw::wire
