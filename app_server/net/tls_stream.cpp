#include "app_server/net/tls_stream.h"

#include <fmt/format.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace app {

namespace {

// OpenSSL's reason for the last failure, for the operator ("no such file", "key values
// mismatch"), or what asio said.
std::string Reason(const asio::error_code& error) {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) return reason;
  }
  return error.message();
}

}  // namespace

std::unique_ptr<asio::ssl::context> MakeServerTlsContext(const std::string& certificateFile,
                                                         const std::string& keyFile) {
  auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* native = context->native_handle();
  ERR_clear_error();
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                       asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                       asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use |
                       asio::ssl::context::no_compression);
  // TLS 1.3's suites are all forward-secret AEAD; TLS 1.2 keeps only those that are too.
  SSL_CTX_set_cipher_list(native, "ECDHE+AESGCM:ECDHE+CHACHA20");
  SSL_CTX_set_options(native,
                      SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_num_tickets(native, 0);
  SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
  // An idle connection gives its read and write buffers back (tens of KiB each).
  SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);

  asio::error_code error;
  context->use_certificate_chain_file(certificateFile, error);
  if (error)
    throw std::runtime_error(fmt::format("Não foi possível ler o certificado TLS {} ({}).",
                                         certificateFile, Reason(error)));
  context->use_private_key_file(keyFile, asio::ssl::context::pem, error);
  if (error && error.category() == asio::error::get_ssl_category() &&
      ERR_GET_REASON(static_cast<unsigned long>(error.value())) == X509_R_KEY_VALUES_MISMATCH) {
    ERR_clear_error();
    throw std::runtime_error(fmt::format("A chave privada {} não corresponde ao certificado {}.",
                                         keyFile, certificateFile));
  }
  if (error)
    throw std::runtime_error(
        fmt::format("Não foi possível ler a chave privada TLS {} ({}).", keyFile, Reason(error)));
  if (SSL_CTX_check_private_key(native) != 1)
    throw std::runtime_error(fmt::format("A chave privada {} não corresponde ao certificado {}.",
                                         keyFile, certificateFile));
  return context;
}

}  // namespace app
