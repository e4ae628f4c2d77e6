#include "tests/app_server/certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace testing_app {

namespace {

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) throw std::runtime_error("EVP_EC_gen");
  return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) throw std::runtime_error("extension " + value);
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

X509* NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial, int fromDays,
                     int toDays) {
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate), static_cast<long>(fromDays) * 86400);
  X509_gmtime_adj(X509_getm_notAfter(certificate), static_cast<long>(toDays) * 86400);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return certificate;
}

void Write(const std::string& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  const bool written =
      key != nullptr ? PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1
                     : PEM_write_X509(file, certificate) == 1;
  std::fclose(file);
  if (!written) throw std::runtime_error("cannot write " + path);
}

}  // namespace

TTestAuthority::TTestAuthority(const std::string& folder, const std::string& name)
    : folder_(folder), certificateFile_(folder + "/" + name + "-ca.pem") {
  EVP_PKEY* key = NewKey();
  X509* certificate = NewCertificate(key, "Autoridade de teste " + name, 1, -2, 60);
  X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
  AddExtension(certificate, certificate, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate, certificate, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate, certificate, NID_subject_key_identifier, "hash");
  X509_sign(certificate, key, EVP_sha256());
  Write(certificateFile_, certificate, nullptr);
  key_ = key;
  certificate_ = certificate;
}

TTestAuthority::~TTestAuthority() {
  X509_free(static_cast<X509*>(certificate_));
  EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
}

TCertificateFiles TTestAuthority::Issue(const std::string& name, const std::string& altName,
                                        int fromDays, int toDays) const {
  auto* issuer = static_cast<X509*>(certificate_);
  EVP_PKEY* key = NewKey();
  static long serial = 100;
  X509* certificate = NewCertificate(key, name, ++serial, fromDays, toDays);
  X509_set_issuer_name(certificate, X509_get_subject_name(issuer));
  AddExtension(certificate, issuer, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate, issuer, NID_key_usage, "critical,digitalSignature");
  AddExtension(certificate, issuer, NID_ext_key_usage, "serverAuth");
  AddExtension(certificate, issuer, NID_subject_alt_name, altName);
  AddExtension(certificate, issuer, NID_authority_key_identifier, "keyid");
  X509_sign(certificate, static_cast<EVP_PKEY*>(key_), EVP_sha256());
  TCertificateFiles files{folder_ + "/" + name + ".pem", folder_ + "/" + name + "-key.pem"};
  Write(files.Certificate, certificate, nullptr);
  Write(files.Key, nullptr, key);
  X509_free(certificate);
  EVP_PKEY_free(key);
  return files;
}

}  // namespace testing_app
