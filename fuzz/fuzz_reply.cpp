// What the client does with the bytes a server sends (framework/net/wire.*): a response read
// whole (DecodeReply) and the same bytes read as they arrive, in reads of the sizes the input's
// first byte picks (TReplyReader), must agree on whether it is a response and on what it holds;
// the only failure either may raise is ERemoteError; a packet must come out consistent, and a
// bare packet (DecodePacket) must survive being written again and read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <msgpack.hpp>

#include "protocol/wire.h"

namespace {

[[noreturn]] void Fault(const char* what) {
  std::fprintf(stderr, "fuzz_reply: %s\n", what);
  std::abort();
}

bool SamePacket(const fw::TDataPacket& a, const fw::TDataPacket& b) {
  if (a.Fields().size() != b.Fields().size() || a.RowCount() != b.RowCount()) return false;
  for (size_t f = 0; f < a.Fields().size(); ++f) {
    const auto &x = a.Fields()[f], &y = b.Fields()[f];
    if (x.Name != y.Name || x.Type != y.Type || x.Size != y.Size) return false;
    const auto &cx = a.Columns()[f], &cy = b.Columns()[f];
    for (size_t row = 0; row < a.RowCount(); ++row) {
      if (cx.IsNull(row) != cy.IsNull(row)) return false;
      if (cx.IsNull(row)) continue;
      if (x.Type == fw::TFieldType::ftString) {
        if (cx.GetString(row) != cy.GetString(row)) return false;
      } else {
        const double p = cx.GetNumber(row), q = cy.GetNumber(row);
        if (!(p == q || (p != p && q != q))) return false;  // NaN equals NaN here
      }
    }
  }
  return true;
}

bool SameReply(const fw::wire::TReply& a, const fw::wire::TReply& b) {
  return a.MsgId == b.MsgId && a.Failed == b.Failed && a.ErrorMessage == b.ErrorMessage &&
         a.HasRefs == b.HasRefs && a.Result.Refused == b.Result.Refused &&
         a.Result.RefusalMessage == b.Result.RefusalMessage && a.Result.Refs == b.Result.Refs &&
         SamePacket(a.Result.Data, b.Result.Data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] == 0 ? size : data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  bool wholeOk = false;
  fw::wire::TReply whole;
  try {
    whole = fw::wire::DecodeReply(bytes);
    wholeOk = true;
    if (!whole.Failed && !whole.Result.Refused && !whole.Result.Data.IsConsistent())
      Fault("inconsistent packet from DecodeReply");
  } catch (const fw::ERemoteError&) {
  }

  // As it arrives. A reader stops at the end of the first message, so the two must agree only
  // when the bytes hold one message and nothing after it.
  size_t first = 0;
  bool one = false;
  try {
    msgpack::null_visitor ignore;
    one = msgpack::v2::parse(bytes.data(), bytes.size(), first, ignore) && first == bytes.size();
  } catch (const std::exception&) {
  }
  bool streamOk = false;
  fw::wire::TReply streamed;
  try {
    fw::wire::TReplyReader reader;
    size_t at = 0;
    bool complete = false;
    while (at < bytes.size() && !complete) {
      const size_t count = std::min(chunk, bytes.size() - at);
      const auto room = reader.Room();
      if (room.Size < count) Fault("Room smaller than promised");
      std::memcpy(room.Data, bytes.data() + at, count);
      at += count;
      complete = reader.Received(count);
    }
    if (complete) {
      streamed = reader.Take();
      streamOk = true;
      if (!streamed.Failed && !streamed.Result.Refused && !streamed.Result.Data.IsConsistent())
        Fault("inconsistent packet from TReplyReader");
    }
  } catch (const fw::ERemoteError&) {
  }
  if (!one && wholeOk) Fault("DecodeReply took bytes that are not one message");
  if (one && wholeOk != streamOk) Fault("whole and streamed decoding disagree on the bytes");
  if (one && wholeOk && !SameReply(whole, streamed)) Fault("whole and streamed decoding differ");

  try {
    const fw::TDataPacket packet = fw::wire::DecodePacket(bytes);
    if (!packet.IsConsistent()) Fault("inconsistent bare packet");
    std::string again;
    fw::wire::TWireWriter writer(again);
    fw::wire::EncodePacket(writer, packet);
    if (!SamePacket(packet, fw::wire::DecodePacket(again))) Fault("packet does not round-trip");
  } catch (const fw::ERemoteError&) {
  }
  return 0;
}
