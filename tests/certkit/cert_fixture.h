// Real certificates and keys made once per test program with the openssl
// command line, and small helpers to load them into the toolkits.
#ifndef KVCATOOL_TESTS_CERTKIT_CERT_FIXTURE_H
#define KVCATOOL_TESTS_CERTKIT_CERT_FIXTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "certkit/certkit.h"
#include "cryptokit/cryptokit.h"
#include "test_util.h"

namespace cktest {

// The files made in one scratch directory:
//   ca      2048-bit key, self-signed version 3, sha1WithRSAEncryption, CA extensions
//   leaf    1024-bit key, issued by ca, version 3, sha1, common extensions and
//           two unknown non-critical ones
//   v1      1024-bit key, self-signed version 1, md5WithRSAEncryption
//   sha256  leaf's key, issued by ca, sha256WithRSAEncryption
//   far     leaf's key, issued by ca, version 1, sha1, valid for 36500 days
//           (notAfter a GeneralizedTime past 2106)
//   utf8iss self-signed with UTF8String names
//   utf8sub issued by ca, subject in UTF8String
//   big     3072-bit key (no certificate)
//   srv     2048-bit key (no certificate), for certificates the toolkit makes
// Each certificate as <name>.der, each key as <name>.key.der (PKCS #8) and
// <name>.pub.der (SubjectPublicKeyInfo).
class CertFiles {
 public:
  static const CertFiles& Get() {
    static CertFiles files;
    return files;
  }
  bool ok() const { return ok_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // A file of this process's own scratch directory, for files tests write.
  std::string Scratch(const std::string& name) const { return scratch_ + "/" + name; }
  Bytes Cert(const std::string& name) const { return ReadFile(Path(name + ".der")); }
  Bytes PrivateKey(const std::string& key) const { return ReadFile(Path(key + ".key.der")); }
  Bytes PublicKey(const std::string& key) const { return ReadFile(Path(key + ".pub.der")); }
  // `openssl x509 -noout <option>` on a certificate, output trimmed.
  std::string Query(const std::string& name, const std::string& option) const {
    std::string out;
    Run("openssl x509 -inform DER -in " + Path(name + ".der") + " -noout " + option, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

 private:
  CertFiles() {
    if (!HaveOpenssl()) return;
    scratch_ = TempDir();
    // Key generation takes seconds, and every test runs in a process of its
    // own: the files are made once per user and kept for later runs.
    const std::string cache = "/tmp/kvcatool-certkit-fixtures-" + std::to_string(getuid()) + "-3";
    if (Exists(cache + "/ready")) {
      dir_ = cache;
      ok_ = true;
      return;
    }
    dir_ = TempDir();
    if (!Make()) return;
    std::ofstream(dir_ + "/ready") << "ok\n";
    ok_ = true;
    if (std::rename(dir_.c_str(), cache.c_str()) == 0) {
      dir_ = cache;
    } else if (Exists(cache + "/ready")) {
      Run("rm -rf '" + dir_ + "'");  // another process was first
      dir_ = cache;
    } else {
      own_ = true;
    }
  }
  ~CertFiles() {
    if (own_) Run("rm -rf '" + dir_ + "'");
    if (!scratch_.empty()) Run("rm -rf '" + scratch_ + "'");
  }

  static bool Exists(const std::string& path) { return std::ifstream(path).good(); }

  bool Make() {
    std::ofstream(dir_ + "/nombstr.cnf") << "[req]\ndistinguished_name = dn\nstring_mask = nombstr\n"
                                            "prompt = no\n[dn]\nCN = unused\n"
                                            "[v3_ca]\nbasicConstraints = critical,CA:TRUE\n"
                                            "keyUsage = keyCertSign,cRLSign\n"
                                            "subjectKeyIdentifier = hash\n"
                                            "authorityKeyIdentifier = keyid:always\n";
    std::ofstream(dir_ + "/utf8.cnf") << "[req]\ndistinguished_name = dn\nstring_mask = utf8only\n"
                                         "prompt = no\n[dn]\nCN = unused\n";
    std::ofstream(dir_ + "/leaf.ext") << "[leaf]\nbasicConstraints = critical,CA:FALSE\n"
                                         "keyUsage = digitalSignature,keyEncipherment\n"
                                         "subjectAltName = DNS:leaf.example,IP:10.0.0.1,email:a@leaf.example\n"
                                         "subjectKeyIdentifier = hash\n"
                                         "authorityKeyIdentifier = keyid,issuer\n"
                                         "certificatePolicies = 1.2.3.4\n"
                                         "1.3.6.1.4.1.99999.1 = ASN1:UTF8String:hello\n"
                                         "1.3.6.1.4.1.99999.2 = DER:04:02:AB:CD\n";
    const std::string d = dir_ + "/";
    auto key = [&](const std::string& name, int bits) {
      return Run("openssl genrsa -out " + d + name + ".pem " + std::to_string(bits)) == 0 &&
             Run("openssl pkcs8 -topk8 -nocrypt -in " + d + name + ".pem -outform DER -out " + d + name +
                 ".key.der") == 0 &&
             Run("openssl pkey -in " + d + name + ".pem -pubout -outform DER -out " + d + name + ".pub.der") == 0;
    };
    auto der = [&](const std::string& name) {
      return Run("openssl x509 -in " + d + name + ".crt -outform DER -out " + d + name + ".der") == 0;
    };
    const std::string nombstr = " -config " + d + "nombstr.cnf";
    const std::string utf8 = " -config " + d + "utf8.cnf";
    return key("ca", 2048) && key("leaf", 1024) && key("v1", 1024) && key("big", 3072) && key("srv", 2048) &&
          Run("openssl req -x509 -new -key " + d + "ca.pem -sha1 -days 3650 -set_serial 1" + nombstr +
              " -extensions v3_ca -subj '/C=US/O=Test CA Org/CN=Test Root' -out " + d + "ca.crt") == 0 &&
          der("ca") &&
          Run("openssl req -new -key " + d + "leaf.pem" + nombstr +
              " -subj '/C=GB/O=Leaf Org/CN=leaf.example' -out " + d + "leaf.csr") == 0 &&
          Run("openssl x509 -req -in " + d + "leaf.csr -CA " + d + "ca.crt -CAkey " + d +
              "ca.pem -sha1 -days 365 -set_serial 0x00A1B2C3 -extfile " + d + "leaf.ext -extensions leaf -out " + d +
              "leaf.crt") == 0 &&
          der("leaf") &&
          Run("openssl x509 -req -in " + d + "leaf.csr -CA " + d + "ca.crt -CAkey " + d +
              "ca.pem -sha256 -days 365 -set_serial 7 -out " + d + "sha256.crt") == 0 &&
          der("sha256") &&
          Run("openssl x509 -req -in " + d + "leaf.csr -CA " + d + "ca.crt -CAkey " + d +
              "ca.pem -sha1 -days 36500 -set_serial 11 -out " + d + "far.crt") == 0 &&
          der("far") &&
          Run("openssl req -new -key " + d + "v1.pem" + nombstr + " -subj '/C=DE/O=Old Org/CN=v1.example' -out " +
              d + "v1.csr") == 0 &&
          Run("openssl x509 -req -in " + d + "v1.csr -signkey " + d + "v1.pem -md5 -days 30 -set_serial 5 -out " +
              d + "v1.crt") == 0 &&
          der("v1") &&
          Run("openssl req -x509 -new -key " + d + "v1.pem -sha1 -days 30" + utf8 +
              " -subj '/C=US/O=Utf Org/CN=utf8.example' -out " + d + "utf8iss.crt") == 0 &&
          der("utf8iss") &&
          Run("openssl req -new -key " + d + "leaf.pem" + utf8 + " -subj '/C=US/O=Utf Org/CN=utf8.example' -out " +
              d + "utf8sub.csr") == 0 &&
          Run("openssl x509 -req -in " + d + "utf8sub.csr -CA " + d + "ca.crt -CAkey " + d +
              "ca.pem -sha1 -days 30 -set_serial 9 -out " + d + "utf8sub.crt") == 0 &&
          der("utf8sub");
  }

  std::string dir_;
  std::string scratch_;
  bool ok_ = false;
  bool own_ = false;
};

#define REQUIRE_CERT_FILES()                                                           \
  do {                                                                                 \
    if (!cktest::CertFiles::Get().ok()) GTEST_SKIP() << "the openssl command line is needed"; \
  } while (0)

// A key object set from DER in |form| (QK_RSAPublicBER or QK_RSAPrivateBER).
struct Key {
  Q_KEY_OBJ key = nullptr;
  Key(Q_INFO_TYPE form, const Bytes& der) {
    if (Q_CreateKeyObject(&key) != 0) return;
    Q_ITEM item{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    if (Q_SetKeyInfo(key, form, &item) != 0) Q_DestroyKeyObject(&key);
  }
  ~Key() { Q_DestroyKeyObject(&key); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
};

// A certificate object destroyed at scope end.
struct Cert {
  C_CERT_OBJ cert = nullptr;
  Cert() { C_CreateCertObject(&cert, nullptr); }
  ~Cert() { C_DestroyCertObject(&cert); }
  Cert(const Cert&) = delete;
  Cert& operator=(const Cert&) = delete;
  int Set(const Bytes& der) { return C_SetCertBER(cert, der.data(), static_cast<uint32_t>(der.size())); }
  Bytes Der() const {
    const unsigned char* p = nullptr;
    uint32_t n = 0;
    if (C_GetCertDER(cert, &p, &n) != 0) return Bytes();
    return Bytes(p, p + n);
  }
};

}  // namespace cktest

#endif
