#include "protocol/wire.h"

#include <msgpack.hpp>

#include <cstring>
#include <limits>

#include "protocol/msgpack_stream.h"

namespace fw::wire {

namespace {

// msgpack::packer wants a stream with write().
struct TStringStream {
  std::string& out;
  void write(const char* data, size_t size) { out.append(data, size); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Writing

void TWireWriter::Nil() {
  out_.push_back(static_cast<char>(0xc0));
}

void TWireWriter::Bool(bool value) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream>(stream).pack(value);
}

void TWireWriter::Unsigned(uint64_t value) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream>(stream).pack(value);
}

void TWireWriter::Signed(int64_t value) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream>(stream).pack(value);
}

void TWireWriter::Double(double value) {
  // Always float64, as the protocol says: msgpack-cxx would write whole numbers as integers.
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  char bytes[9];
  bytes[0] = static_cast<char>(0xcb);
  for (int i = 0; i < 8; ++i) bytes[1 + i] = static_cast<char>(bits >> (56 - 8 * i));
  out_.append(bytes, sizeof(bytes));
}

void TWireWriter::Str(std::string_view text) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream> packer(stream);
  packer.pack_str(static_cast<uint32_t>(text.size()));
  packer.pack_str_body(text.data(), static_cast<uint32_t>(text.size()));
}

void TWireWriter::Array(uint32_t count) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream>(stream).pack_array(count);
}

void TWireWriter::Map(uint32_t count) {
  TStringStream stream{out_};
  msgpack::packer<TStringStream>(stream).pack_map(count);
}

size_t TWireWriter::OpenArray32() {
  const size_t at = out_.size();
  out_.append("\xdd\0\0\0\0", 5);
  return at;
}

void TWireWriter::CloseArray32(size_t header, uint32_t count) {
  out_[header + 1] = static_cast<char>(count >> 24);
  out_[header + 2] = static_cast<char>(count >> 16);
  out_[header + 3] = static_cast<char>(count >> 8);
  out_[header + 4] = static_cast<char>(count);
}

TPacketWriter::TPacketWriter(TWireWriter& writer, const std::vector<TPacketField>& fields)
    : writer_(writer), fieldCount_(static_cast<uint32_t>(fields.size())) {
  writer_.Map(2);
  writer_.Str("fields");
  writer_.Array(fieldCount_);
  for (const auto& field : fields) {
    writer_.Map(3);
    writer_.Str("name");
    writer_.Str(field.Name);
    writer_.Str("type");
    writer_.Str(FieldTypeName(field.Type));
    writer_.Str("size");
    writer_.Signed(field.Size);
  }
  writer_.Str("rows");
  rowsHeader_ = writer_.OpenArray32();
}

void TPacketWriter::BeginRow() {
  writer_.Array(fieldCount_);
  ++rows_;
}

void TPacketWriter::Finish() {
  writer_.CloseArray32(rowsHeader_, rows_);
}

void EncodePacket(TWireWriter& writer, const TDataPacket& packet) {
  TPacketWriter out(writer, packet.Fields());
  const auto& columns = packet.Columns();
  const size_t rows = packet.RowCount();
  for (size_t row = 0; row < rows; ++row) {
    out.BeginRow();
    for (const auto& column : columns) {
      if (column.IsNull(row))
        out.Null();
      else if (column.Type() == TFieldType::ftString)
        out.String(column.GetString(row));
      else
        out.Number(column.GetNumber(row));
    }
  }
  out.Finish();
}

void EncodeRequest(TWireWriter& writer, uint32_t msgid, std::string_view method,
                   const std::vector<TRemoteArg>& args) {
  writer.Array(4);
  writer.Unsigned(0);
  writer.Unsigned(msgid);
  writer.Str(method);
  writer.Array(static_cast<uint32_t>(args.size()));
  for (const auto& arg : args) {
    if (arg.Kind == TRemoteArg::TKind::Date)
      writer.Double(arg.Date);
    else
      writer.Str(arg.Text);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

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

TKey KeyOf(std::string_view key) {
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

// A cell kept aside when "rows" comes before "fields" (our own encoder never does that).
struct TLooseCell {
  enum class TKind : uint8_t { Null, String, Number } Kind;
  double Number = 0;
  std::string Text;
};

// Decodes a response, or a bare packet, into a TReply. Each callback routes its value by the
// role of the container it sits in; cells of a row go straight into their column.
class TReplyVisitor : public TVisitorBase {
 public:
  explicit TReplyVisitor(bool barePacket) : barePacket_(barePacket) { stack_.reserve(8); }

  void Restart() { *this = TReplyVisitor(barePacket_); }

  // The message is whole and this many bytes long: counts may reserve up to what it can hold.
  void SetWholeSize(size_t bytes) { reserveBudget_ = bytes; }

  // After a complete parse: the reply, or ERemoteError.
  TReply Finish() {
    if (!error_.empty()) Fail();
    if (barePacket_) {
      if (!packetSeen_) Malformed("o pacote deve ser um mapa com \"fields\" e \"rows\"");
      reply_.Result.Data = std::move(packet_);
      return std::move(reply_);
    }
    if (!replySeen_) Malformed("esperava-se [1, msgid, erro, resultado]");
    if (reply_.Failed) return std::move(reply_);
    if (!resultSeen_) Malformed("a resposta não traz resultado");
    if (failSeen_) {
      if (!failMessageSeen_) Malformed("recusa sem mensagem");
      reply_.Result.Refused = true;
      reply_.Result.Refs.clear();
      reply_.HasRefs = false;
      return std::move(reply_);
    }
    if (!packetSeen_) {
      if (reply_.Texts.empty()) Malformed("a resposta não traz pacote de dados");
      return std::move(reply_);
    }
    reply_.HasPacket = true;
    reply_.Result.Data = std::move(packet_);
    return std::move(reply_);
  }

  [[noreturn]] static void Malformed(const std::string& why) {
    throw ERemoteError("Resposta inválida do servidor de aplicação: " + why + ".");
  }

  // Raises the error that stopped the parse, if any.
  void Fail() const {
    if (!error_.empty())
      throw ERemoteError("Resposta inválida do servidor de aplicação: " + error_ + ".");
  }
  bool HasError() const { return !error_.empty(); }

  // --- scalars ---
  bool visit_nil() {
    TFrame* top = Top();
    if (top && top->Role == TRole::Row && !top->InKey) return CellNull(*top);
    switch (RoleOfNext()) {
      case TRole::Skip:
      case TRole::ErrorMessage:
        return true;
      case TRole::Error:
        return true;  // no error
      case TRole::Result:
        if (!reply_.Failed) return Stop("o resultado é nulo");
        return true;
      case TRole::Ref:
        reply_.Result.Refs.emplace_back();
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
    if (RoleOfNext() == TRole::Skip) return true;
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
    TFrame* top = Top();
    if (top && top->Role == TRole::Row) return CellNumber(*top, value);
    switch (RoleOfNext()) {
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
    TFrame* top = Top();
    if (top && top->Role == TRole::Row) return CellString(*top, text);
    if (top && top->InKey) {
      top->Key = KeyOf(text);
      if (top->Role == TRole::Result && top->Key == TKey::Other) resultKey_ = text;
      return true;
    }
    if (top && top->Role == TRole::Result && top->Key == TKey::Other && !reply_.Failed) {
      reply_.Texts[resultKey_] = text;
      return true;
    }
    switch (RoleOfNext()) {
      case TRole::Skip:
        return true;
      case TRole::Error:
        reply_.Failed = true;
        reply_.ErrorMessage = text;
        return true;
      case TRole::ErrorMessage:
        reply_.ErrorMessage = text;
        return true;
      case TRole::FailMessage:
        reply_.Result.RefusalMessage = text;
        failMessageSeen_ = true;
        return true;
      case TRole::Ref:
        reply_.Result.Refs.emplace_back(std::string(text));
        return true;
      case TRole::FieldName:
        field_.Name = text;
        fieldNameSeen_ = true;
        return true;
      case TRole::FieldType:
        if (!ParseFieldType(text, field_.Type))
          return Stop("tipo de campo desconhecido \"" + std::string(text) + "\"");
        fieldTypeSeen_ = true;
        return true;
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
    TFrame* top = Top();
    TRole role;
    if (top && top->Role == TRole::Rows && !top->InKey) {
      role = TRole::Row;
      if (!looseRows_ && count != columnCount_)
        return Stop("linha " + std::to_string(top->Index + 1) + " com " + std::to_string(count) +
                    " valores para " + std::to_string(columnCount_) + " campos");
    } else {
      role = RoleOfNext();
      switch (role) {
        case TRole::Skip:
        case TRole::ErrorMessage:
          break;
        case TRole::Reply:
          if (count != 4) return Stop("esperava-se [1, msgid, erro, resultado]");
          replySeen_ = true;
          break;
        case TRole::Error:
          GenericError();
          role = TRole::Skip;
          break;
        case TRole::Refs:
          reply_.HasRefs = true;
          reply_.Result.Refs.reserve(Reservable(count, 1));
          break;
        case TRole::Fields:
          if (fieldsSeen_) return Stop("\"fields\" repetido");
          fieldsSeen_ = true;
          fields_.reserve(Reservable(count, 1));
          break;
        case TRole::Rows:
          if (rowsSeen_) return Stop("\"rows\" repetido");
          rowsSeen_ = true;
          if (fieldsDone_) {
            const size_t rows = Reservable(count, packet_.Columns().size());
            for (auto& column : packet_.Columns()) column.Reserve(rows);
          } else {
            looseRows_ = true;
          }
          break;
        case TRole::Result:
        case TRole::Packet:
          return Stop("o resultado não é um pacote de dados");
        default:
          return Unexpected("lista");
      }
    }
    return Push(role, false, count);
  }
  bool start_array_item() { return true; }
  bool end_array_item() {
    ++stack_.back().Index;
    return true;
  }
  bool end_array() {
    const TFrame frame = stack_.back();
    stack_.pop_back();
    if (frame.Role == TRole::Fields) return FieldsDone();
    if (frame.Role == TRole::Row && looseRows_) {
      if (looseRowCount_ == 0)
        looseWidth_ = frame.Index;
      else if (frame.Index != looseWidth_)
        return Stop("linhas com números de valores diferentes");
      ++looseRowCount_;
    }
    return true;
  }

  bool start_map(uint32_t count) {
    TRole role = RoleOfNext();
    switch (role) {
      case TRole::Skip:
        break;
      case TRole::Error:
        reply_.Failed = true;
        reply_.ErrorMessage = "Erro no servidor de aplicação.";
        break;
      case TRole::Result:
        resultSeen_ = true;
        break;
      case TRole::Fail:
        failSeen_ = true;
        break;
      case TRole::Packet:
        if (packetSeen_) return Stop("\"data\" repetido");
        packetSeen_ = true;
        break;
      case TRole::Field:
        field_ = TPacketField();
        fieldNameSeen_ = fieldTypeSeen_ = false;
        break;
      case TRole::ErrorMessage:
        role = TRole::Skip;
        break;
      default:
        return Unexpected("mapa");
    }
    return Push(role, true, count);
  }
  bool start_map_key() {
    stack_.back().InKey = true;
    stack_.back().Key = TKey::Other;
    return true;
  }
  bool end_map_key() {
    stack_.back().InKey = false;
    return true;
  }
  bool start_map_value() { return true; }
  bool end_map_value() {
    ++stack_.back().Index;
    return true;
  }
  bool end_map() {
    const TFrame frame = stack_.back();
    stack_.pop_back();
    switch (frame.Role) {
      case TRole::Field:
        if (!fieldNameSeen_) return Stop("campo sem nome");
        if (!fieldTypeSeen_) return Stop("campo \"" + field_.Name + "\" sem tipo");
        for (const auto& other : fields_)
          if (other.Name == field_.Name) return Stop("campo \"" + field_.Name + "\" repetido");
        fields_.push_back(std::move(field_));
        return true;
      case TRole::Packet:
        if (!fieldsSeen_) return Stop("pacote sem \"fields\"");
        if (!rowsSeen_) return Stop("pacote sem \"rows\"");
        if (looseRows_) return PlaceLooseRows();
        return true;
      case TRole::Result:
        if (!failSeen_ && !packetSeen_ && reply_.Texts.empty())
          return Stop("a resposta não traz pacote de dados");
        return true;
      default:
        return true;
    }
  }

 private:
  struct TFrame {
    TRole Role;
    bool Map;
    bool InKey;
    TKey Key;
    uint32_t Index;
  };

  TFrame* Top() { return stack_.empty() ? nullptr : &stack_.back(); }

  bool Push(TRole role, bool map, uint32_t) {
    if (stack_.size() >= kMaxDepth) return Stop("aninhamento excessivo");
    stack_.push_back(TFrame{role, map, false, TKey::Other, 0});
    return true;
  }

  // The role of the value about to be visited.
  TRole RoleOfNext() const {
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
            return reply_.Failed ? TRole::Skip : TRole::Result;
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

  bool Integer(double number, uint64_t positive, bool isPositive) {
    TFrame* top = Top();
    if (top && top->Role == TRole::Row) return CellNumber(*top, number);
    switch (RoleOfNext()) {
      case TRole::Skip:
      case TRole::ErrorMessage:
        return true;
      case TRole::ReplyType:
        if (!isPositive || positive != 1) return Stop("o tipo da mensagem não é 1 (resposta)");
        return true;
      case TRole::ReplyMsgId:
        if (!isPositive || positive > std::numeric_limits<uint32_t>::max())
          return Stop("msgid inválido");
        reply_.MsgId = static_cast<uint32_t>(positive);
        return true;
      case TRole::Error:
        return GenericError();
      case TRole::FieldSize:
        if (!isPositive || positive > static_cast<uint64_t>(std::numeric_limits<int>::max()))
          return Stop("tamanho de campo inválido");
        field_.Size = static_cast<int>(positive);
        return true;
      default:
        return Unexpected("número");
    }
  }

  bool Opaque(const char* what) {
    TFrame* top = Top();
    if (top && top->InKey) return true;
    const TRole role = RoleOfNext();
    if (role == TRole::Skip || role == TRole::ErrorMessage) return true;
    if (role == TRole::Error) return GenericError();
    return Unexpected(what);
  }

  bool GenericError() {
    reply_.Failed = true;
    reply_.ErrorMessage = "Erro no servidor de aplicação.";
    return true;
  }

  bool FieldsDone() {
    fieldsDone_ = true;
    columnCount_ = static_cast<uint32_t>(fields_.size());
    packet_ = TDataPacket(fields_);
    return true;
  }

  bool CellNull(TFrame& row) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::Null, 0, {}});
      return true;
    }
    packet_.Columns()[row.Index].AppendNull();
    return true;
  }

  bool CellString(TFrame& row, std::string_view text) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::String, 0, std::string(text)});
      return true;
    }
    TColumn& column = packet_.Columns()[row.Index];
    if (column.Type() != TFieldType::ftString) return WrongCell(row, "texto");
    column.AppendString(text);
    return true;
  }

  bool CellNumber(TFrame& row, double value) {
    if (looseRows_) {
      loose_.push_back({TLooseCell::TKind::Number, value, {}});
      return true;
    }
    TColumn& column = packet_.Columns()[row.Index];
    if (column.Type() == TFieldType::ftString) return WrongCell(row, "número");
    column.AppendNumber(value);
    return true;
  }

  bool WrongCell(const TFrame& row, const char* what) {
    const TFrame& rows = stack_[stack_.size() - 2];
    return Stop(std::string(what) + " no campo \"" + fields_[row.Index].Name + "\" da linha " +
                std::to_string(rows.Index + 1));
  }

  // Rows that came before the fields: check their shape now and move them into the columns.
  bool PlaceLooseRows() {
    const size_t width = fields_.size();
    if (looseRowCount_ != 0 && looseWidth_ != width)
      return Stop("linhas com " + std::to_string(looseWidth_) + " valores para " +
                  std::to_string(width) + " campos");
    auto& columns = packet_.Columns();
    for (auto& column : columns) column.Reserve(looseRowCount_);
    for (size_t i = 0; i < loose_.size(); ++i) {
      TColumn& column = columns[i % width];
      const TLooseCell& cell = loose_[i];
      switch (cell.Kind) {
        case TLooseCell::TKind::Null:
          column.AppendNull();
          break;
        case TLooseCell::TKind::String:
          if (column.Type() != TFieldType::ftString)
            return Stop("texto no campo \"" + fields_[i % width].Name + "\"");
          column.AppendString(cell.Text);
          break;
        case TLooseCell::TKind::Number:
          if (column.Type() == TFieldType::ftString)
            return Stop("número no campo \"" + fields_[i % width].Name + "\"");
          column.AppendNumber(cell.Number);
          break;
      }
    }
    loose_.clear();
    return true;
  }

  bool Unexpected(const char* what) { return Stop(std::string(what) + " fora do lugar"); }

  bool Stop(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    Stopped = true;
    return false;
  }

  bool barePacket_;
  std::vector<TFrame> stack_;
  std::string error_;
  TReply reply_;
  std::string resultKey_;  // the result's key being read, when not one of the packet's
  size_t reserveBudget_ = kMaxReserve;

  // What `count` elements of `width` values each may reserve ahead.
  size_t Reservable(uint32_t count, size_t width) const {
    const size_t most = reserveBudget_ / (width ? width : 1);
    return count < most ? count : most;
  }
  bool replySeen_ = false, resultSeen_ = false, failSeen_ = false, failMessageSeen_ = false;
  bool packetSeen_ = false, fieldsSeen_ = false, rowsSeen_ = false, fieldsDone_ = false;
  bool fieldNameSeen_ = false, fieldTypeSeen_ = false;
  TPacketField field_;
  std::vector<TPacketField> fields_;
  uint32_t columnCount_ = 0;
  TDataPacket packet_;
  bool looseRows_ = false;
  size_t looseRowCount_ = 0;
  size_t looseWidth_ = 0;
  std::vector<TLooseCell> loose_;
};

TReply DecodeWhole(std::string_view bytes, bool barePacket) {
  TReplyVisitor visitor(barePacket);
  visitor.SetWholeSize(bytes.size());
  size_t offset = 0;
  bool ok = false;
  try {
    ok = msgpack::v2::parse(bytes.data(), bytes.size(), offset, visitor);
  } catch (const msgpack::unpack_error&) {
    throw ERemoteError("Resposta inválida do servidor de aplicação: MessagePack malformado.");
  }
  visitor.Fail();
  if (visitor.SyntaxError)
    throw ERemoteError("Resposta inválida do servidor de aplicação: MessagePack malformado.");
  if (!ok) throw ERemoteError("Resposta inválida do servidor de aplicação: mensagem truncada.");
  if (offset != bytes.size())
    throw ERemoteError("Resposta inválida do servidor de aplicação: bytes após a mensagem.");
  return visitor.Finish();
}

}  // namespace

TDataPacket DecodePacket(std::string_view bytes) {
  return std::move(DecodeWhole(bytes, true).Result.Data);
}

TReply DecodeReply(std::string_view bytes) {
  return DecodeWhole(bytes, false);
}

struct TReplyReader::TImpl {
  TReplyVisitor Visitor{false};
  TMsgpackStream<TReplyVisitor> Stream{Visitor};
  bool Complete = false;
};

TReplyReader::TReplyReader() : impl_(std::make_unique<TImpl>()) {}
TReplyReader::~TReplyReader() = default;

TReplyReader::TRoom TReplyReader::Room() {
  char* data = impl_->Stream.Room(64 * 1024);
  return {data, impl_->Stream.RoomSize()};
}

bool TReplyReader::Received(size_t count) {
  impl_->Stream.Received(count);
  if (impl_->Complete) return true;
  TMsgpackStream<TReplyVisitor>::TStatus status;
  try {
    status = impl_->Stream.Parse();
  } catch (const msgpack::unpack_error&) {
    status = TMsgpackStream<TReplyVisitor>::TStatus::Invalid;
  }
  if (status == TMsgpackStream<TReplyVisitor>::TStatus::Invalid) {
    impl_->Visitor.Fail();
    throw ERemoteError("Resposta inválida do servidor de aplicação: MessagePack malformado.");
  }
  const size_t pending =
      status == TMsgpackStream<TReplyVisitor>::TStatus::Complete ? impl_->Stream.Pending() : 0;
  if (impl_->Stream.MessageSize() - pending > kMaxMessageSize)
    throw ERemoteError("A resposta do servidor de aplicação excede o limite de 64 MiB.");
  if (status == TMsgpackStream<TReplyVisitor>::TStatus::Complete) {
    impl_->Complete = true;
    return true;
  }
  return false;
}

size_t TReplyReader::MessageSize() const {
  return impl_->Stream.MessageSize();
}

TReply TReplyReader::Take() {
  TReply reply = impl_->Visitor.Finish();
  impl_->Visitor.Restart();
  impl_->Stream.Reset();
  impl_->Complete = false;
  return reply;
}

}  // namespace fw::wire
