// The encrypted half of TTcpAppServer: the handshake, reads and writes through OpenSSL on the
// same non-blocking socket, every wait going through Wait (deadline and Cancel) as for plain.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "framework/net/tcp_app_server.h"

#include "framework/net/cancelled.h"

namespace fw {

namespace {

using TClock = std::chrono::steady_clock;

// OpenSSL's own socket BIO writes with write(2), and a server gone away would raise SIGPIPE and
// end the program; this one sends with MSG_NOSIGNAL, as the plain connection does.
int SocketOf(BIO* bio) {
  return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t count =
      ::send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    BIO_set_retry_write(bio);
  return static_cast<int>(count);
}

int BioRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t count = ::recv(SocketOf(bio), data, static_cast<size_t>(size), MSG_DONTWAIT);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    BIO_set_retry_read(bio);
  return static_cast<int>(count);
}

long BioControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO* SocketBio(int socket) {
  static BIO_METHOD* method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "acomp-socket");
    BIO_meth_set_write(made, BioWrite);
    BIO_meth_set_read(made, BioRead);
    BIO_meth_set_ctrl(made, BioControl);
    return made;
  }();
  BIO* bio = BIO_new(method);
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket)));
  BIO_set_init(bio, 1);
  return bio;
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// "2024-03-01", the certificate's end of validity.
std::string ExpiryDate(const X509* certificate) {
  if (certificate == nullptr) return {};
  std::tm when{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &when) != 1) return {};
  char text[48];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d", when.tm_year + 1900, when.tm_mon + 1,
                when.tm_mday);
  return text;
}

// The certificate that failed the check is gone once the handshake has failed; this keeps the
// end of validity of an expired one, in the std::string the connection's app data points to.
int NoteExpiry(int preverified, X509_STORE_CTX* store) {
  if (preverified == 0 && X509_STORE_CTX_get_error(store) == X509_V_ERR_CERT_HAS_EXPIRED) {
    auto* tls =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* expiry = tls ? static_cast<std::string*>(SSL_get_app_data(tls)) : nullptr;
    if (expiry != nullptr) *expiry = ExpiryDate(X509_STORE_CTX_get_current_cert(store));
  }
  return preverified;
}

// Why the server's certificate was refused, in words a buyer can pass on to whoever runs the
// server.
std::string CertificateProblem(long result, const std::string& expiry, const std::string& host,
                               const std::string& caFile) {
  const std::string authorities =
      caFile.empty() ? "pelas autoridades certificadoras do sistema"
                     : "pela autoridade certificadora configurada (" + caFile + ")";
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return expiry.empty() ? "certificado do servidor expirado"
                            : "certificado do servidor expirado em " + expiry;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificado do servidor ainda não é válido; confira o relógio";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "o certificado do servidor não é para o endereço " + host;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return "certificado do servidor não reconhecido " + authorities;
    case X509_V_ERR_CERT_REVOKED:
      return "certificado do servidor revogado";
    case X509_V_ERR_INVALID_PURPOSE:
      return "o certificado não é de servidor";
    default:
      return "certificado do servidor inválido (" +
             std::string(X509_verify_cert_error_string(result)) + ")";
  }
}

// Why a handshake failed that was not the certificate's fault.
std::string HandshakeProblem(unsigned long error) {
  switch (ERR_GET_REASON(error)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
      return "o servidor não respondeu em TLS; ele pode estar sem criptografia (--tls-cert)";
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      return "o servidor encerrou a conexão durante a negociação TLS";
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      return "o servidor não aceita TLS 1.2 ou posterior";
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      return "cliente e servidor não têm cifra em comum";
    default: {
      const char* reason = ERR_reason_error_string(error);
      return std::string("falha na negociação TLS") +
             (reason ? std::string(" (") + reason + ")" : std::string());
    }
  }
}

}  // namespace

void TTcpAppServer::StartTls(TClock::time_point deadline) {
  const std::string failure =
      "Não foi possível conectar com segurança ao servidor de aplicação em " + Address();
  ERR_clear_error();
  if (tlsContext_ == nullptr) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) throw ERemoteError(failure + " (memória insuficiente).");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // A connection that ends is seen at the message level: every reply carries its length.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_TICKET |
                                     SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                  SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // A certificate in the file is trusted as it is, so that it may be the server's own.
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context), X509_V_FLAG_PARTIAL_CHAIN);
    const int loaded =
        options_.TlsCaFile.empty()
            ? SSL_CTX_set_default_verify_paths(context)
            : SSL_CTX_load_verify_locations(context, options_.TlsCaFile.c_str(), nullptr);
    if (loaded != 1) {
      SSL_CTX_free(context);
      ERR_clear_error();
      throw ERemoteError(
          failure + " (não foi possível ler as autoridades certificadoras em " +
          (options_.TlsCaFile.empty() ? std::string("o sistema") : options_.TlsCaFile) + ").");
    }
    tlsContext_ = context;
  }

  tls_ = SSL_new(tlsContext_);
  BIO* bio = tls_ ? SocketBio(socket_) : nullptr;
  if (bio == nullptr) {
    Disconnect();
    throw ERemoteError(failure + " (memória insuficiente).");
  }
  SSL_set_bio(tls_, bio, bio);
  std::string expiry;
  SSL_set_app_data(tls_, &expiry);
  SSL_set_verify(tls_, SSL_VERIFY_PEER, NoteExpiry);
  if (IsIpAddress(host_)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_), host_.c_str());
  } else {
    SSL_set1_host(tls_, host_.c_str());
    SSL_set_tlsext_host_name(tls_, host_.c_str());
  }

  for (;;) {
    ERR_clear_error();
    const int done = SSL_connect(tls_);
    if (done == 1) break;
    const int error = SSL_get_error(tls_, done);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      const TWait waited = Wait(socket_, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
      if (waited == TWait::Ready) continue;
      Disconnect();
      if (waited == TWait::Cancelled) throw ECancelled();
      const int ms = options_.ConnectTimeoutMs;
      throw ERemoteError(
          failure + " (tempo esgotado na negociação TLS após " +
          (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms") + ").");
    }
    std::string reason;
    const long verified = SSL_get_verify_result(tls_);
    if (verified != X509_V_OK) {
      reason = CertificateProblem(verified, expiry, host_, options_.TlsCaFile);
    } else if (error == SSL_ERROR_SSL) {
      reason = HandshakeProblem(ERR_peek_last_error());
    } else if (error == SSL_ERROR_SYSCALL && errno != 0) {
      reason = SystemErrorText(errno);
    } else {
      reason = "o servidor encerrou a conexão durante a negociação TLS";
    }
    ERR_clear_error();
    Disconnect();
    throw ERemoteError(failure + " (" + reason + ").");
  }
  SSL_set_app_data(tls_, nullptr);
  tlsClean_ = true;
}

void TTcpAppServer::CloseTls() {
  if (tls_ == nullptr) return;
  // One close_notify, never waited for: the server needs no answer to let go.
  if (tlsClean_) {
    ERR_clear_error();
    SSL_shutdown(tls_);
  }
  ERR_clear_error();
  SSL_free(tls_);
  tls_ = nullptr;
  tlsClean_ = false;
}

namespace {

// The outcome of an OpenSSL read or write that did not move bytes.
template <class TIo>
TIo TlsOutcome(SSL* tls, int returned) {
  TIo io{};
  switch (SSL_get_error(tls, returned)) {
    case SSL_ERROR_WANT_READ:
      io.Status = TIo::TStatus::Wait;
      io.Events = POLLIN;
      break;
    case SSL_ERROR_WANT_WRITE:
      io.Status = TIo::TStatus::Wait;
      io.Events = POLLOUT;
      break;
    case SSL_ERROR_ZERO_RETURN:
      io.Status = TIo::TStatus::Closed;
      break;
    case SSL_ERROR_SYSCALL:
      if (errno == 0) {
        io.Status = TIo::TStatus::Closed;
      } else {
        io.Status = TIo::TStatus::Failed;
        io.Why = SystemErrorText(errno);
      }
      break;
    default: {
      io.Status = TIo::TStatus::Failed;
      const char* reason = ERR_reason_error_string(ERR_peek_last_error());
      io.Why = std::string("erro de TLS") + (reason ? std::string(": ") + reason : std::string());
      break;
    }
  }
  ERR_clear_error();
  return io;
}

}  // namespace

TTcpAppServer::TIo TTcpAppServer::SendSome(const char* data, size_t size) {
  TIo io{};
  if (tls_ != nullptr) {
    ERR_clear_error();
    errno = 0;
    if (SSL_write_ex(tls_, data, size, &io.Count) == 1) {
      io.Status = TIo::TStatus::Done;
      return io;
    }
    io = TlsOutcome<TIo>(tls_, 0);
    if (io.Status == TIo::TStatus::Failed) tlsClean_ = false;
    return io;
  }
  const ssize_t count = ::send(socket_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (count >= 0 || errno == EINTR) {
    io.Status = TIo::TStatus::Done;
    io.Count = count > 0 ? static_cast<size_t>(count) : 0;
  } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
    io.Status = TIo::TStatus::Wait;
    io.Events = POLLOUT;
  } else {
    io.Status = TIo::TStatus::Failed;
    io.Why = SystemErrorText(errno);
  }
  return io;
}

TTcpAppServer::TIo TTcpAppServer::ReceiveSome(char* data, size_t size) {
  TIo io{};
  if (tls_ != nullptr) {
    ERR_clear_error();
    errno = 0;
    if (SSL_read_ex(tls_, data, size, &io.Count) == 1) {
      io.Status = TIo::TStatus::Done;
      return io;
    }
    io = TlsOutcome<TIo>(tls_, 0);
    if (io.Status == TIo::TStatus::Failed) tlsClean_ = false;
    return io;
  }
  const ssize_t count = ::recv(socket_, data, size, MSG_DONTWAIT);
  if (count > 0 || (count < 0 && errno == EINTR)) {
    io.Status = TIo::TStatus::Done;
    io.Count = count > 0 ? static_cast<size_t>(count) : 0;
  } else if (count == 0) {
    io.Status = TIo::TStatus::Closed;
  } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
    io.Status = TIo::TStatus::Wait;
    io.Events = POLLIN;
  } else {
    io.Status = TIo::TStatus::Failed;
    io.Why = SystemErrorText(errno);
  }
  return io;
}

}  // namespace fw
