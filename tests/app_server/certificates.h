// Certificates for the TLS tests, made at run time with OpenSSL (EC P-256 keys, SHA-256): a
// certificate authority of the test's own and server certificates it signs, for any address
// and any validity, written as PEM files in a folder of the test's. No key is ever committed.
#pragma once

#include <string>

namespace testing_app {

struct TCertificateFiles {
  std::string Certificate;
  std::string Key;
};

class TTestAuthority {
 public:
  // Writes `<folder>/<name>-ca.pem` (its key stays in memory).
  TTestAuthority(const std::string& folder, const std::string& name);
  ~TTestAuthority();
  TTestAuthority(const TTestAuthority&) = delete;
  TTestAuthority& operator=(const TTestAuthority&) = delete;

  const std::string& CertificateFile() const { return certificateFile_; }

  // A server certificate for `altName` ("IP:127.0.0.1", "DNS:localhost"), valid from `fromDays`
  // to `toDays` days from now (both negative: expired), as `<folder>/<name>.pem` and
  // `<folder>/<name>-key.pem`.
  TCertificateFiles Issue(const std::string& name, const std::string& altName, int fromDays = -1,
                          int toDays = 30) const;

 private:
  std::string folder_;
  std::string certificateFile_;
  void* key_ = nullptr;          // EVP_PKEY
  void* certificate_ = nullptr;  // X509
};

}  // namespace testing_app
