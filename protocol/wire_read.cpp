// Reading a reply: whole (DecodeReply, DecodePacket) or as it arrives (TReplyReader). The
// reader the parser calls back is in reply_visitor.h, the packet it fills in reply_packet.h.
#include <msgpack.hpp>

#include <memory>
#include <string>
#include <string_view>

#include "protocol/msgpack_stream.h"
#include "protocol/reply_visitor.h"
#include "protocol/wire.h"

namespace fw::wire {

namespace {

TReply DecodeWhole(std::string_view bytes, bool barePacket) {
  detail::TReplyVisitor visitor(barePacket);
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
  detail::TReplyVisitor Visitor{false};
  TMsgpackStream<detail::TReplyVisitor> Stream{Visitor};
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
  TMsgpackStream<detail::TReplyVisitor>::TStatus status;
  try {
    status = impl_->Stream.Parse();
  } catch (const msgpack::unpack_error&) {
    status = TMsgpackStream<detail::TReplyVisitor>::TStatus::Invalid;
  }
  if (status == TMsgpackStream<detail::TReplyVisitor>::TStatus::Invalid) {
    impl_->Visitor.Fail();
    throw ERemoteError("Resposta inválida do servidor de aplicação: MessagePack malformado.");
  }
  const size_t pending = status == TMsgpackStream<detail::TReplyVisitor>::TStatus::Complete
                             ? impl_->Stream.Pending()
                             : 0;
  if (impl_->Stream.MessageSize() - pending > kMaxMessageSize)
    throw ERemoteError("A resposta do servidor de aplicação excede o limite de 64 MiB.");
  if (status == TMsgpackStream<detail::TReplyVisitor>::TStatus::Complete) {
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
