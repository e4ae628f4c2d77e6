#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace fw::wire {
namespace {

TDataPacket SamplePacket() {
  TDataPacket packet({{"CODIGO", TFieldType::ftString, 4},
                      {"QUANDO", TFieldType::ftDateTime, 0},
                      {"VALOR", TFieldType::ftFloat, 0}});
  auto& columns = packet.Columns();
  columns[0].AppendString("0001");
  columns[1].AppendNumber(45356.5);  // 05/03/2024 12:00
  columns[2].AppendNumber(1234.5);
  columns[0].AppendNull();
  columns[1].AppendNull();
  columns[2].AppendNull();
  columns[0].AppendString("");
  columns[1].AppendNumber(-1.25);  // before the zero date
  columns[2].AppendNumber(-0.0);
  columns[0].AppendString("Filial São Paulo - Centro \"x\"");
  columns[1].AppendNumber(0);
  columns[2].AppendNumber(std::numeric_limits<double>::max());
  return packet;
}

std::string Encode(const TDataPacket& packet) {
  std::string bytes;
  TWireWriter writer(bytes);
  EncodePacket(writer, packet);
  return bytes;
}

void ExpectSamePacket(const TDataPacket& expected, const TDataPacket& actual) {
  ASSERT_EQ(expected.Fields().size(), actual.Fields().size());
  ASSERT_TRUE(actual.IsConsistent());
  ASSERT_EQ(expected.RowCount(), actual.RowCount());
  for (size_t f = 0; f < expected.Fields().size(); ++f) {
    EXPECT_EQ(expected.Fields()[f].Name, actual.Fields()[f].Name);
    EXPECT_EQ(expected.Fields()[f].Type, actual.Fields()[f].Type);
    EXPECT_EQ(expected.Fields()[f].Size, actual.Fields()[f].Size);
    const TColumn& want = expected.Columns()[f];
    const TColumn& got = actual.Columns()[f];
    for (size_t row = 0; row < expected.RowCount(); ++row) {
      ASSERT_EQ(want.IsNull(row), got.IsNull(row)) << "field " << f << " row " << row;
      EXPECT_EQ(want.GetString(row), got.GetString(row));
      EXPECT_EQ(std::signbit(want.GetNumber(row)), std::signbit(got.GetNumber(row)));
      EXPECT_EQ(want.GetNumber(row), got.GetNumber(row));
    }
  }
}

// Hand-made MessagePack, for shapes our encoder never writes.
struct TBytes {
  std::string Data;
  TWireWriter Writer{Data};
};

std::string Field(const char* name, const char* type) {
  std::string bytes;
  TWireWriter writer(bytes);
  writer.Map(2);
  writer.Str("name");
  writer.Str(name);
  writer.Str("type");
  writer.Str(type);
  return bytes;
}

TEST(PacketWire, RoundTrip_KeepsEveryValueKindNullsAndFieldSizes) {
  const TDataPacket packet = SamplePacket();
  ExpectSamePacket(packet, DecodePacket(Encode(packet)));
}

TEST(PacketWire, RoundTrip_OfAnEmptyPacketKeepsItsFields) {
  const TDataPacket packet({{"IDMARCADO", TFieldType::ftString, 1}});
  const TDataPacket decoded = DecodePacket(Encode(packet));
  ASSERT_EQ(1u, decoded.Fields().size());
  EXPECT_EQ("IDMARCADO", decoded.Fields()[0].Name);
  EXPECT_EQ(0u, decoded.RowCount());
}

TEST(PacketWire, Decode_AcceptsRowsBeforeFieldsAndIntegersInNumberFields) {
  TBytes bytes;
  bytes.Writer.Map(2);
  bytes.Writer.Str("rows");
  bytes.Writer.Array(2);
  bytes.Writer.Array(2);
  bytes.Writer.Str("a");
  bytes.Writer.Unsigned(7);
  bytes.Writer.Array(2);
  bytes.Writer.Nil();
  bytes.Writer.Signed(-3);
  bytes.Writer.Str("fields");
  bytes.Writer.Array(2);
  bytes.Data += Field("S", "string") + Field("N", "float");
  const TDataPacket packet = DecodePacket(bytes.Data);
  ASSERT_EQ(2u, packet.RowCount());
  EXPECT_EQ("a", packet.Columns()[0].GetString(0));
  EXPECT_TRUE(packet.Columns()[0].IsNull(1));
  EXPECT_EQ(7, packet.Columns()[1].GetNumber(0));
  EXPECT_EQ(-3, packet.Columns()[1].GetNumber(1));
}

// Each malformed packet is refused with a Portuguese message.
struct TBadPacket {
  const char* Name;
  std::string Bytes;
};

std::vector<TBadPacket> BadPackets() {
  std::vector<TBadPacket> cases;
  auto make = [&](const char* name, auto build) {
    TBytes bytes;
    build(bytes.Writer, bytes.Data);
    cases.push_back({name, bytes.Data});
  };
  make("not a map", [](TWireWriter& w, std::string&) { w.Str("pacote"); });
  make("no rows", [](TWireWriter& w, std::string& d) {
    w.Map(1);
    w.Str("fields");
    w.Array(1);
    d += Field("A", "string");
  });
  make("unknown type", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    d += Field("A", "money");
    w.Str("rows");
    w.Array(0);
  });
  make("duplicate field", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(2);
    d += Field("A", "string") + Field("A", "float");
    w.Str("rows");
    w.Array(0);
  });
  make("short row", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(2);
    d += Field("A", "string") + Field("B", "string");
    w.Str("rows");
    w.Array(1);
    w.Array(1);
    w.Str("x");
  });
  make("text in a float field", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    d += Field("V", "float");
    w.Str("rows");
    w.Array(1);
    w.Array(1);
    w.Str("1,5");
  });
  make("number in a string field", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    d += Field("S", "string");
    w.Str("rows");
    w.Array(1);
    w.Array(1);
    w.Double(1.5);
  });
  make("nested cell", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    d += Field("S", "string");
    w.Str("rows");
    w.Array(1);
    w.Array(1);
    w.Array(0);
  });
  make("boolean cell", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    d += Field("S", "string");
    w.Str("rows");
    w.Array(1);
    w.Array(1);
    w.Bool(true);
  });
  make("rows of different widths before fields", [](TWireWriter& w, std::string& d) {
    w.Map(2);
    w.Str("rows");
    w.Array(2);
    w.Array(1);
    w.Str("a");
    w.Array(3);
    w.Str("b");
    w.Str("c");
    w.Str("d");
    w.Str("fields");
    w.Array(2);
    d += Field("A", "string") + Field("B", "string");
  });
  return cases;
}

TEST(PacketWire, Decode_RefusesMalformedShapesInPortuguese) {
  for (const auto& bad : BadPackets()) {
    try {
      DecodePacket(bad.Bytes);
      ADD_FAILURE() << bad.Name << ": accepted";
    } catch (const ERemoteError& error) {
      EXPECT_NE(std::string::npos, std::string(error.what()).find("Resposta inválida"))
          << bad.Name << ": " << error.what();
    }
  }
}

TEST(PacketWire, Decode_RefusesTruncatedTrailingAndNonMessagePackBytes) {
  const std::string bytes = Encode(SamplePacket());
  EXPECT_THROW(DecodePacket(bytes.substr(0, bytes.size() - 3)), ERemoteError);
  EXPECT_THROW(DecodePacket(bytes + '\x01'), ERemoteError);
  EXPECT_THROW(DecodePacket(std::string("\xc1", 1)), ERemoteError);
  EXPECT_THROW(DecodePacket(std::string(100000, '\x91')), ERemoteError);  // deep nesting
}

std::string Reply(uint32_t msgid, const std::function<void(TWireWriter&)>& error,
                  const std::function<void(TWireWriter&)>& result) {
  std::string bytes;
  TWireWriter writer(bytes);
  writer.Array(4);
  writer.Unsigned(1);
  writer.Unsigned(msgid);
  error(writer);
  result(writer);
  return bytes;
}

void Nil(TWireWriter& writer) {
  writer.Nil();
}

TEST(ReplyWire, Data_CarriesThePacketAndOneRefPerParameter) {
  const TDataPacket packet = SamplePacket();
  const std::string bytes = Reply(42, Nil, [&](TWireWriter& w) {
    w.Map(2);
    w.Str("data");
    EncodePacket(w, packet);
    w.Str("refs");
    w.Array(3);
    w.Nil();
    w.Str("T");
    w.Str("'0001','0002'");
  });
  const TReply reply = DecodeReply(bytes);
  EXPECT_EQ(42u, reply.MsgId);
  EXPECT_FALSE(reply.Failed);
  EXPECT_FALSE(reply.Result.Refused);
  ExpectSamePacket(packet, reply.Result.Data);
  ASSERT_EQ(3u, reply.Result.Refs.size());
  EXPECT_FALSE(reply.Result.Refs[0].has_value());
  EXPECT_EQ("T", reply.Result.Refs[1]);
  EXPECT_EQ("'0001','0002'", reply.Result.Refs[2]);
}

TEST(ReplyWire, ErrorAndFail_CarryTheServersMessage) {
  const TReply error = DecodeReply(Reply(
      7,
      [](TWireWriter& w) {
        w.Map(2);
        w.Str("code");
        w.Unsigned(3);
        w.Str("message");
        w.Str("Método desconhecido.");
      },
      Nil));
  EXPECT_TRUE(error.Failed);
  EXPECT_EQ("Método desconhecido.", error.ErrorMessage);

  const TReply refusal = DecodeReply(Reply(8, Nil, [](TWireWriter& w) {
    w.Map(1);
    w.Str("fail");
    w.Map(1);
    w.Str("message");
    w.Str("Lista malformada.");
  }));
  EXPECT_FALSE(refusal.Failed);
  EXPECT_TRUE(refusal.Result.Refused);
  EXPECT_EQ("Lista malformada.", refusal.Result.RefusalMessage);
}

TEST(ReplyWire, ResultThatIsNotAPacket_IsRefused) {
  const std::vector<std::function<void(TWireWriter&)>> results = {
      [](TWireWriter& w) { w.Nil(); },
      [](TWireWriter& w) { w.Str("ok"); },
      [](TWireWriter& w) {
        w.Map(1);
        w.Str("data");
        w.Unsigned(42);
      },
      [](TWireWriter& w) {
        w.Map(1);
        w.Str("refs");
        w.Array(0);
      },
      [](TWireWriter& w) {
        w.Map(1);
        w.Str("fail");
        w.Str("sem mapa");
      },
  };
  for (size_t i = 0; i < results.size(); ++i)
    EXPECT_THROW(DecodeReply(Reply(1, Nil, results[i])), ERemoteError) << "case " << i;
  // A request instead of a response.
  std::string request;
  TWireWriter writer(request);
  EncodeRequest(writer, 1, "CMP09500.rdmAcompSoli.GetFilSoli", {});
  EXPECT_THROW(DecodeReply(request), ERemoteError);
}

TEST(ReplyWire, Reader_DecodesAReplyArrivingByteByByteAsTheWholeDecoder) {
  const TDataPacket packet = SamplePacket();
  const std::string bytes = Reply(9, Nil, [&](TWireWriter& w) {
    w.Map(2);
    w.Str("refs");
    w.Array(1);
    w.Str("x");
    w.Str("data");
    EncodePacket(w, packet);
  });
  TReplyReader reader;
  for (int round = 0; round < 2; ++round) {  // the reader is reusable
    size_t fed = 0;
    bool complete = false;
    while (!complete) {
      ASSERT_LT(fed, bytes.size());
      auto room = reader.Room();
      ASSERT_GE(room.Size, 1u);
      room.Data[0] = bytes[fed++];
      complete = reader.Received(1);
    }
    EXPECT_EQ(bytes.size(), fed);
    const TReply reply = reader.Take();
    EXPECT_EQ(9u, reply.MsgId);
    ExpectSamePacket(packet, reply.Result.Data);
    EXPECT_EQ("x", reply.Result.Refs.at(0));
  }
}

// Found by fuzz_reply: a reply of a few bytes announcing four billion rows, refs or fields made
// the decoder reserve room for all of them (gigabytes) before one of them had arrived.
TEST(ReplyWire, CountsAnnouncedButNeverSent_ReserveNoRoomForThem) {
  const std::string claim("\xdd\xff\xff\xff\xff", 5);
  const std::string rows = Reply(1, Nil, [&](TWireWriter& w) {
    w.Map(1);
    w.Str("data");
    w.Map(2);
    w.Str("fields");
    w.Array(1);
    w.Out() += Field("CODIGO", "string");
    w.Str("rows");
    w.Out() += claim;
  });
  const std::string refs = Reply(2, Nil, [&](TWireWriter& w) {
    w.Map(1);
    w.Str("refs");
    w.Out() += claim;
  });
  const std::string fields = Reply(3, Nil, [&](TWireWriter& w) {
    w.Map(1);
    w.Str("data");
    w.Map(1);
    w.Str("fields");
    w.Out() += claim;
  });
  for (const std::string& bytes : {rows, refs, fields}) {
    EXPECT_THROW(DecodeReply(bytes), ERemoteError);
    TReplyReader reader;
    auto room = reader.Room();
    std::copy(bytes.begin(), bytes.end(), room.Data);
    EXPECT_FALSE(reader.Received(bytes.size()));  // still waiting for them, nothing more
  }
}

TEST(ReplyWire, Reader_RefusesAReplyOverTheMessageLimit) {
  TReplyReader reader;
  // A string that claims 100 MiB: the reader must give up at 64 MiB, not buffer all of it.
  std::string head;
  TWireWriter writer(head);
  writer.Array(4);
  writer.Unsigned(1);
  writer.Unsigned(1);
  writer.Nil();
  head += std::string("\xdb\x06\x40\x00\x00", 5);
  auto room = reader.Room();
  std::copy(head.begin(), head.end(), room.Data);
  EXPECT_FALSE(reader.Received(head.size()));
  size_t total = head.size();
  bool refused = false;
  while (total <= kMaxMessageSize + 1024 * 1024 && !refused) {
    room = reader.Room();
    try {
      reader.Received(room.Size);
      total += room.Size;
    } catch (const ERemoteError& error) {
      refused = true;
      EXPECT_NE(std::string::npos, std::string(error.what()).find("64 MiB"));
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_LE(total, kMaxMessageSize + 128 * 1024);
}

TEST(RequestWire, Request_IsAnArrayOfTypeMsgidMethodAndTypedParams) {
  std::string bytes;
  TWireWriter writer(bytes);
  EncodeRequest(
      writer, 5, "CMP09500.rdmAcompSoli.GetItens",
      {TRemoteArg::FromDate(45356.5), TRemoteArg::FromString("0001"), TRemoteArg::FromInOut("T")});
  const std::string expected =
      std::string("\x94\x00\x05\xbe", 4) + "CMP09500.rdmAcompSoli.GetItens" + "\x93" + "\xcb" +
      std::string("\x40\xe6\x25\x90\x00\x00\x00\x00", 8) + "\xa4" + "0001" + "\xa1" + "T";
  EXPECT_EQ(expected, bytes);
}

}  // namespace
}  // namespace fw::wire
