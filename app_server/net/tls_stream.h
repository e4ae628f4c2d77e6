// The transport of one server connection: the TCP socket, or TLS over it.
//
// A session reads, writes and closes through TConnectionStream only, so that it is the same
// code whether the connection is encrypted or not. What differs:
// - WriteNow writes what fits the socket at once on a plain connection; on an encrypted one it
//   writes nothing (would_block), and the answer goes out through AsyncWrite: a TLS record
//   half-written by a non-blocking write could not be resumed.
// - Draining after a last answer and closing act on the TCP socket under the TLS layer: what
//   the client sends then is dropped unread, so it need not be decrypted.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <memory>
#include <string>

namespace app {

// The server's TLS settings: TLS 1.2 or later, forward-secret AEAD ciphers, no session tickets
// (the client never resumes a session, and a ticket arriving while the client is idle would
// look like the server talking unasked). Raises std::runtime_error in Portuguese when the
// certificate or key cannot be read or do not match.
std::unique_ptr<asio::ssl::context> MakeServerTlsContext(const std::string& certificateFile,
                                                         const std::string& keyFile);

// The first byte of every TLS connection (a handshake record); a MessagePack-RPC request starts
// with an array header instead.
constexpr unsigned char kTlsHandshakeRecord = 0x16;

class TConnectionStream {
 public:
  using TSocket = asio::ip::tcp::socket;

  // With `tls` (which must outlive the stream) the connection is encrypted once Handshake
  // succeeds.
  TConnectionStream(TSocket socket, asio::ssl::context* tls) : socket_(std::move(socket)) {
    if (tls != nullptr) tls_ = std::make_unique<asio::ssl::stream<TSocket&>>(socket_, *tls);
  }
  // The TLS layer refers to the socket beside it.
  TConnectionStream(const TConnectionStream&) = delete;
  TConnectionStream& operator=(const TConnectionStream&) = delete;

  // The TCP socket: options, addresses, shutdown and close.
  TSocket& Socket() { return socket_; }
  bool Encrypted() const { return tls_ != nullptr; }
  // The client spoke plain MessagePack to an encrypted server: answer it in plain, so that it
  // reads why it is refused.
  void DropEncryption() { tls_.reset(); }

  template <class Handler>
  void AsyncHandshake(Handler&& handler) {
    tls_->async_handshake(asio::ssl::stream_base::server, std::forward<Handler>(handler));
  }

  template <class Buffers, class Handler>
  void AsyncReadSome(const Buffers& buffers, Handler&& handler) {
    if (tls_)
      tls_->async_read_some(buffers, std::forward<Handler>(handler));
    else
      socket_.async_read_some(buffers, std::forward<Handler>(handler));
  }

  template <class Buffers, class Handler>
  void AsyncWrite(const Buffers& buffers, Handler&& handler) {
    if (tls_)
      asio::async_write(*tls_, buffers, std::forward<Handler>(handler));
    else
      asio::async_write(socket_, buffers, std::forward<Handler>(handler));
  }

  size_t WriteNow(const asio::const_buffer& buffer, asio::error_code& error) {
    if (tls_) {
      error = asio::error::would_block;
      return 0;
    }
    return socket_.write_some(buffer, error);
  }

 private:
  TSocket socket_;
  std::unique_ptr<asio::ssl::stream<TSocket&>> tls_;
};

}  // namespace app
