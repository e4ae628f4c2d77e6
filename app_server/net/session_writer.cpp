#include "app_server/net/session_writer.h"

#include "app_server/net/session.h"

namespace app::net {

void TSessionWriter::Reply(uint32_t msgid, const std::string& message, bool closeAfter) {
  EncodeErrorResponse(response_, msgid, message);
  Send(closeAfter);
}

bool TSessionWriter::Send(bool closeAfter) {
  asio::error_code error;
  size_t written = 0;
  while (written < response_.size()) {
    written += session_.stream_.WriteNow(
        asio::buffer(response_.data() + written, response_.size() - written), error);
    if (error) break;
  }
  if (!error) return AfterWrite(closeAfter);
  if (error != asio::error::would_block && error != asio::error::try_again) {
    session_.Close();
    return false;
  }
  session_.busy_ = true;
  AddUnsent(response_.size());  // all of it is held until written
  session_.ArmTimer(std::chrono::milliseconds(session_.shared_.Options.WriteTimeoutMs),
                    "resposta não lida pelo cliente: tempo esgotado");
  session_.stream_.AsyncWrite(
      asio::buffer(response_.data() + written, response_.size() - written),
      [self = session_.shared_from_this(), closeAfter](const asio::error_code& failure, size_t) {
        self->writer_.OnWritten(failure, closeAfter);
      });
  return false;
}

void TSessionWriter::OnWritten(const asio::error_code& error, bool closeAfter) {
  session_.busy_ = false;
  session_.timer_.cancel();
  ReleaseUnsent();
  if (session_.closed_) return;
  if (error) {
    session_.Close();
    return;
  }
  if (AfterWrite(closeAfter)) session_.ProcessBuffered();
}

bool TSessionWriter::AfterWrite(bool closeAfter) {
  if (response_.capacity() > 4 * kReadChunk) std::string().swap(response_);
  if (closeAfter) {
    Drain();
    return false;
  }
  if (session_.stopping_) {
    session_.Close();
    return false;
  }
  return true;
}

void TSessionWriter::Drain() {
  session_.ReleaseBuffered();
  asio::error_code ignored;
  session_.stream_.Socket().shutdown(TSocket::shutdown_send, ignored);
  session_.ArmTimer(kDrainTime, "");
  DrainMore();
}

void TSessionWriter::DrainMore() {
  if (session_.closed_) return;
  session_.stream_.Socket().async_read_some(
      asio::buffer(drain_, sizeof(drain_)),
      [self = session_.shared_from_this()](const asio::error_code& error, size_t) {
        if (error)
          self->Close();
        else
          self->writer_.DrainMore();
      });
}

void TSessionWriter::AddUnsent(size_t bytes) {
  unsent_ += bytes;
  session_.shared_.UnsentBytes.fetch_add(bytes);
}

void TSessionWriter::ReleaseUnsent() {
  if (unsent_ == 0) return;
  session_.shared_.UnsentBytes.fetch_sub(unsent_);
  unsent_ = 0;
  session_.shared_.StartLongCalls();
}

}  // namespace app::net
