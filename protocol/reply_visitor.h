// Reading a reply, part two: the reader the MessagePack parser calls back, value by value. It
// knows where each value sits (the response envelope, the result, a refusal, the references)
// and hands the data packet's fields and rows to TPacketBuilder (reply_packet.h). Internal to
// protocol/: only wire_read.cpp includes it, so that the callbacks stay inline in one
// translation unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/msgpack_stream.h"
#include "protocol/reply_packet.h"
#include "protocol/wire.h"

namespace fw::wire::detail {

// What a value is, given where it sits. A container keeps the role it was opened with.
enum class TRole : uint8_t {
  Skip,  // ignored, with everything inside it
  Reply,
  ReplyType,
  ReplyMsgId,
  Error,
  ErrorMessage,
  Result,
  Fail,
  FailMessage,
  Refs,
  Ref,
  Packet,
  Fields,
  Field,
  FieldName,
  FieldType,
  FieldSize,
  Rows,
  Row,
  Cell,
};

enum class TKey : uint8_t { Other, Message, Data, Refs, Fail, Fields, Rows, Name, Type, Size };

inline TKey KeyOf(std::string_view key) {
  switch (key.size()) {
    case 4:
      if (key == "data") return TKey::Data;
      if (key == "refs") return TKey::Refs;
      if (key == "fail") return TKey::Fail;
      if (key == "rows") return TKey::Rows;
      if (key == "name") return TKey::Name;
      if (key == "type") return TKey::Type;
      if (key == "size") return TKey::Size;
      break;
    case 6:
      if (key == "fields") return TKey::Fields;
      break;
    case 7:
      if (key == "message") return TKey::Message;
      break;
    default:
      break;
  }
  return TKey::Other;
}

constexpr size_t kMaxDepth = 32;

// What a header's count may reserve ahead while a reply still arrives: a count is only what the
// sender claims (a reply of a few bytes can announce four billion rows), so past this the
// vectors grow as values arrive. A whole message bounds it by its own size instead: every
// element takes at least one of its bytes.
constexpr size_t kMaxReserve = 65536;

// Where the parse is: the containers open around the next value, each with the role it was
// opened with, and so the role of that value.
class TPlaces {
 public:
  struct TFrame {
    TRole Role;
    bool Map;
    bool InKey;
    TKey Key;
    uint32_t Index;
  };

  explicit TPlaces(bool barePacket) : barePacket_(barePacket) { stack_.reserve(8); }

  TFrame* Top() { return stack_.empty() ? nullptr : &stack_.back(); }
  TFrame& Back() { return stack_.back(); }

  // False past the depth a reply may nest to.
  bool Push(TRole role, bool map) {
    if (stack_.size() >= kMaxDepth) return false;
    stack_.push_back(TFrame{role, map, false, TKey::Other, 0});
    return true;
  }
  TFrame Pop() {
    const TFrame frame = stack_.back();
    stack_.pop_back();
    return frame;
  }

  // The role of the value about to be visited.
  TRole RoleOfNext(bool replyFailed) const {
    if (stack_.empty()) return barePacket_ ? TRole::Packet : TRole::Reply;
    const TFrame& top = stack_.back();
    if (top.InKey) return TRole::Skip;
    switch (top.Role) {
      case TRole::Reply:
        switch (top.Index) {
          case 0:
            return TRole::ReplyType;
          case 1:
            return TRole::ReplyMsgId;
          case 2:
            return TRole::Error;
          default:
            return replyFailed ? TRole::Skip : TRole::Result;
        }
      case TRole::Error:
        return top.Key == TKey::Message ? TRole::ErrorMessage : TRole::Skip;
      case TRole::Result:
        switch (top.Key) {
          case TKey::Data:
            return TRole::Packet;
          case TKey::Refs:
            return TRole::Refs;
          case TKey::Fail:
            return TRole::Fail;
          default:
            return TRole::Skip;
        }
      case TRole::Fail:
        return top.Key == TKey::Message ? TRole::FailMessage : TRole::Skip;
      case TRole::Refs:
        return TRole::Ref;
      case TRole::Packet:
        if (top.Key == TKey::Fields) return TRole::Fields;
        if (top.Key == TKey::Rows) return TRole::Rows;
        return TRole::Skip;
      case TRole::Fields:
        return TRole::Field;
      case TRole::Field:
        if (top.Key == TKey::Name) return TRole::FieldName;
        if (top.Key == TKey::Type) return TRole::FieldType;
        if (top.Key == TKey::Size) return TRole::FieldSize;
        return TRole::Skip;
      case TRole::Rows:
        return TRole::Row;
      case TRole::Row:
        return TRole::Cell;
      default:
        return TRole::Skip;
    }
  }

 private:
  bool barePacket_;
  std::vector<TFrame> stack_;
};

// The response around the packet: what was seen of it, and the reply it makes.
struct TEnvelope {
  TReply Reply;
  bool ReplySeen = false, ResultSeen = false, FailSeen = false, FailMessageSeen = false;
  bool PacketSeen = false;

  // After a complete parse with no error: the reply, or ERemoteError.
  TReply Finish(bool barePacket, TPacketBuilder& packet) {
    if (barePacket) {
      if (!PacketSeen) Malformed("o pacote deve ser um mapa com \"fields\" e \"rows\"");
      Reply.Result.Data = packet.Take();
      return std::move(Reply);
    }
    if (!ReplySeen) Malformed("esperava-se [1, msgid, erro, resultado]");
    if (Reply.Failed) return std::move(Reply);
    if (!ResultSeen) Malformed("a resposta não traz resultado");
    if (FailSeen) {
      if (!FailMessageSeen) Malformed("recusa sem mensagem");
      Reply.Result.Refused = true;
      Reply.Result.Refs.clear();
      Reply.HasRefs = false;
      return std::move(Reply);
    }
    if (!PacketSeen) {
      if (Reply.Texts.empty()) Malformed("a resposta não traz pacote de dados");
      return std::move(Reply);
    }
    Reply.HasPacket = true;
    Reply.Result.Data = packet.Take();
    return std::move(Reply);
  }

  [[noreturn]] static void Malformed(const std::string& why) {
    throw ERemoteError("Resposta inválida do servidor de aplicação: " + why + ".");
  }
};

// Decodes a response, or a bare packet, into a TReply. Each callback routes its value by the
// role of the container it sits in; cells of a row go straight into their column.
class TReplyVisitor : public TVisitorBase {
  using TFrame = TPlaces::TFrame;

 public:
  explicit TReplyVisitor(bool barePacket) : barePacket_(barePacket), places_(barePacket) {}

  void Restart() { *this = TReplyVisitor(barePacket_); }

  // The message is whole and this many bytes long: counts may reserve up to what it can hold.
  void SetWholeSize(size_t bytes) { reserveBudget_ = bytes; }

  // After a complete parse: the reply, or ERemoteError.
  TReply Finish() {
    Fail();
    return envelope_.Finish(barePacket_, packet_);
  }

  // Raises the error that stopped the parse, if any.
  void Fail() const {
    if (!error_.empty())
      throw ERemoteError("Resposta inválida do servidor de aplicação: " + error_ + ".");
  }
  bool HasError() const { return !error_.empty(); }

  // --- scalars ---
  bool visit_nil() {
    TFrame* top = places_.Top();
    if (top && top->Role == TRole::Row && !top->InKey) return CellNull(*top);
    switch (places_.RoleOfNext(envelope_.Reply.Failed)) {
      case TRole::Skip:
      case TRole::ErrorMessage:
        return true;
      case TRole::Error:
        return true;  // no error
      case TRole::Result:
        if (!envelope_.Reply.Failed) return Stop("o resultado é nulo");
        return true;
      case TRole::Ref:
        envelope_.Reply.Result.Refs.emplace_back();
        return true;
      case TRole::Refs:
      case TRole::FieldSize:
        return true;
      case TRole::Cell:
        return CellNull(*top);
      default:
        return Unexpected("nulo");
    }
  }

  bool visit_boolean(bool) {
    if (places_.RoleOfNext(envelope_.Reply.Failed) == TRole::Skip) return true;
    return Unexpected("booleano");
  }

  bool visit_positive_integer(uint64_t value) {
    return Integer(static_cast<double>(value), value, true);
  }
  bool visit_negative_integer(int64_t value) {
    return Integer(static_cast<double>(value), 0, false);
  }

  bool visit_float32(float value) { return visit_float64(value); }
  bool visit_float64(double value) {
    TFrame* top = places_.Top();
    if (top && top->Role == TRole::Row) return CellNumber(*top, value);
    switch (places_.RoleOfNext(envelope_.Reply.Failed)) {
      case TRole::Skip:
      case TRole::ErrorMessage:
        return true;
      case TRole::Error:
        return GenericError();
      default:
        return Unexpected("número");
    }
  }

  bool visit_str(const char* data, uint32_t size) {
    const std::string_view text(data, size);
    TFrame* top = places_.Top();
    if (top && top->Role == TRole::Row) return CellString(*top, text);
    if (top && top->InKey) {
      top->Key = KeyOf(text);
      if (top->Role == TRole::Result && top->Key == TKey::Other) resultKey_ = text;
      return true;
    }
    if (top && top->Role == TRole::Result && top->Key == TKey::Other && !envelope_.Reply.Failed) {
      envelope_.Reply.Texts[resultKey_] = text;
      return true;
    }
    switch (places_.RoleOfNext(envelope_.Reply.Failed)) {
      case TRole::Skip:
        return true;
      case TRole::Error:
        envelope_.Reply.Failed = true;
        envelope_.Reply.ErrorMessage = text;
        return true;
      case TRole::ErrorMessage:
        envelope_.Reply.ErrorMessage = text;
        return true;
      case TRole::FailMessage:
        envelope_.Reply.Result.RefusalMessage = text;
        envelope_.FailMessageSeen = true;
        return true;
      case TRole::Ref:
        envelope_.Reply.Result.Refs.emplace_back(std::string(text));
        return true;
      case TRole::FieldName:
        packet_.FieldName(text);
        return true;
      case TRole::FieldType:
        return packet_.FieldType(text) || Stop(packet_.Error());
      case TRole::Cell:
        return CellString(*top, text);
      case TRole::Result:
      case TRole::Packet:
        return Stop("o resultado não é um pacote de dados");
      default:
        return Unexpected("texto");
    }
  }

  bool visit_bin(const char*, uint32_t) { return Opaque("binário"); }
  bool visit_ext(const char*, uint32_t) { return Opaque("extensão"); }

  // --- containers ---
  bool start_array(uint32_t count) {
    TFrame* top = places_.Top();
    TRole role;
    if (top && top->Role == TRole::Rows && !top->InKey) {
      role = TRole::Row;
      if (!packet_.StartRow(top->Index + 1, count)) return Stop(packet_.Error());
    } else {
      role = places_.RoleOfNext(envelope_.Reply.Failed);
      switch (role) {
        case TRole::Skip:
        case TRole::ErrorMessage:
          break;
        case TRole::Reply:
          if (count != 4) return Stop("esperava-se [1, msgid, erro, resultado]");
          envelope_.ReplySeen = true;
          break;
        case TRole::Error:
          GenericError();
          role = TRole::Skip;
          break;
        case TRole::Refs:
          envelope_.Reply.HasRefs = true;
          envelope_.Reply.Result.Refs.reserve(Reservable(count, 1));
          break;
        case TRole::Fields:
          if (!packet_.StartFields(Reservable(count, 1))) return Stop(packet_.Error());
          break;
        case TRole::Rows:
          if (!packet_.StartRows(Reservable(count, packet_.Width()))) return Stop(packet_.Error());
          break;
        case TRole::Result:
        case TRole::Packet:
          return Stop("o resultado não é um pacote de dados");
        default:
          return Unexpected("lista");
      }
    }
    return places_.Push(role, false) || Stop("aninhamento excessivo");
  }
  bool start_array_item() { return true; }
  bool end_array_item() {
    ++places_.Back().Index;
    return true;
  }
  bool end_array() {
    const TFrame frame = places_.Pop();
    if (frame.Role == TRole::Fields) packet_.EndFields();
    if (frame.Role == TRole::Row && !packet_.EndRow(frame.Index)) return Stop(packet_.Error());
    return true;
  }

  bool start_map(uint32_t) {
    TRole role = places_.RoleOfNext(envelope_.Reply.Failed);
    switch (role) {
      case TRole::Skip:
        break;
      case TRole::Error:
        envelope_.Reply.Failed = true;
        envelope_.Reply.ErrorMessage = "Erro no servidor de aplicação.";
        break;
      case TRole::Result:
        envelope_.ResultSeen = true;
        break;
      case TRole::Fail:
        envelope_.FailSeen = true;
        break;
      case TRole::Packet:
        if (envelope_.PacketSeen) return Stop("\"data\" repetido");
        envelope_.PacketSeen = true;
        break;
      case TRole::Field:
        packet_.StartField();
        break;
      case TRole::ErrorMessage:
        role = TRole::Skip;
        break;
      default:
        return Unexpected("mapa");
    }
    return places_.Push(role, true) || Stop("aninhamento excessivo");
  }
  bool start_map_key() {
    places_.Back().InKey = true;
    places_.Back().Key = TKey::Other;
    return true;
  }
  bool end_map_key() {
    places_.Back().InKey = false;
    return true;
  }
  bool start_map_value() { return true; }
  bool end_map_value() {
    ++places_.Back().Index;
    return true;
  }
  bool end_map() {
    const TFrame frame = places_.Pop();
    switch (frame.Role) {
      case TRole::Field:
        return packet_.EndField() || Stop(packet_.Error());
      case TRole::Packet:
        return packet_.EndPacket() || Stop(packet_.Error());
      case TRole::Result:
        if (!envelope_.FailSeen && !envelope_.PacketSeen && envelope_.Reply.Texts.empty())
          return Stop("a resposta não traz pacote de dados");
        return true;
      default:
        return true;
    }
  }

 private:
  bool Integer(double number, uint64_t positive, bool isPositive) {
    TFrame* top = places_.Top();
    if (top && top->Role == TRole::Row) return CellNumber(*top, number);
    switch (places_.RoleOfNext(envelope_.Reply.Failed)) {
      case TRole::Skip:
      case TRole::ErrorMessage:
        return true;
      case TRole::ReplyType:
        if (!isPositive || positive != 1) return Stop("o tipo da mensagem não é 1 (resposta)");
        return true;
      case TRole::ReplyMsgId:
        if (!isPositive || positive > std::numeric_limits<uint32_t>::max())
          return Stop("msgid inválido");
        envelope_.Reply.MsgId = static_cast<uint32_t>(positive);
        return true;
      case TRole::Error:
        return GenericError();
      case TRole::FieldSize:
        if (!isPositive || positive > static_cast<uint64_t>(std::numeric_limits<int>::max()))
          return Stop("tamanho de campo inválido");
        packet_.FieldSize(static_cast<int>(positive));
        return true;
      default:
        return Unexpected("número");
    }
  }

  bool Opaque(const char* what) {
    TFrame* top = places_.Top();
    if (top && top->InKey) return true;
    const TRole role = places_.RoleOfNext(envelope_.Reply.Failed);
    if (role == TRole::Skip || role == TRole::ErrorMessage) return true;
    if (role == TRole::Error) return GenericError();
    return Unexpected(what);
  }

  bool GenericError() {
    envelope_.Reply.Failed = true;
    envelope_.Reply.ErrorMessage = "Erro no servidor de aplicação.";
    return true;
  }

  // A cell of the row `row`.
  bool CellNull(const TFrame& row) { return packet_.CellNull(row.Index); }
  bool CellString(const TFrame& row, std::string_view text) {
    return packet_.CellString(row.Index, text) || Stop(packet_.Error());
  }
  bool CellNumber(const TFrame& row, double value) {
    return packet_.CellNumber(row.Index, value) || Stop(packet_.Error());
  }

  bool Unexpected(const char* what) { return Stop(std::string(what) + " fora do lugar"); }

  bool Stop(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    Stopped = true;
    return false;
  }

  bool barePacket_;
  TPlaces places_;
  std::string error_;
  std::string resultKey_;  // the result's key being read, when not one of the packet's
  size_t reserveBudget_ = kMaxReserve;
  TEnvelope envelope_;
  TPacketBuilder packet_;

  // What `count` elements of `width` values each may reserve ahead.
  size_t Reservable(uint32_t count, size_t width) const {
    const size_t most = reserveBudget_ / (width ? width : 1);
    return count < most ? count : most;
  }
};

}  // namespace fw::wire::detail
