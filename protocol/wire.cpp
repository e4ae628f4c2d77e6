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

}  // namespace fw::wire
