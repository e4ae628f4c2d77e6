#include "app_server/net/session_tls.h"

#include "app_server/net/session.h"

namespace app::net {

void TTlsOpening::AwaitHandshake() {
  if (session_.refusal_.empty())
    session_.ArmTimer(std::chrono::milliseconds(session_.shared_.HandshakeTimeoutMs.load()),
                      "negociação TLS não concluída: tempo esgotado");
  else
    session_.ArmTimer(kRefusalWait, "");
  AwaitFirstByte();
}

void TTlsOpening::AwaitFirstByte() {
  session_.stream_.Socket().async_wait(
      TSocket::wait_read, [self = session_.shared_from_this()](const asio::error_code& error) {
        if (self->closed_) return;
        if (error) {
          self->Close();
          return;
        }
        unsigned char first = 0;
        asio::error_code peeked;
        const size_t count =
            self->stream_.Socket().receive(asio::buffer(&first, 1), TSocket::message_peek, peeked);
        if (peeked == asio::error::would_block || peeked == asio::error::try_again) {
          self->tls_.AwaitFirstByte();
          return;
        }
        if (peeked || count == 0) {
          self->Close();
          return;
        }
        if (first != kTlsHandshakeRecord) {
          Metrics().Refused(TRefusalReason::PlainClient);
          self->Note("conexão recusada: cliente sem TLS", TLogPriority::Warning);
          self->stream_.DropEncryption();
          if (self->refusal_.empty()) self->refusal_ = kTlsRequired;
          self->timer_.cancel();
          self->Serve();
          return;
        }
        self->tls_.Handshake();
      });
}

void TTlsOpening::Handshake() {
  session_.stream_.AsyncHandshake(
      [self = session_.shared_from_this()](const asio::error_code& error) {
        if (self->closed_) return;
        if (error) {
          self->Note("negociação TLS recusada (" + error.message() + ")");
          self->Close();
          return;
        }
        self->timer_.cancel();
        self->Serve();
      });
}

}  // namespace app::net
