// Password-based encryption of private keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "services/kvservices.h"
#include "services_support.h"

namespace {

using svctest::Bytes;

struct Result {
  int status;
  Bytes out;
};

Result Crypt(const Bytes& input, const std::string& password, int direction) {
  Result r;
  r.out.assign(input.size() + 8, 0xCC);
  int inLen = static_cast<int>(input.size());
  int outLen = -7;
  r.status = errKVPKCS5PBEncDnc(&inLen, input.data(), &outLen, r.out.data(), static_cast<int>(password.size()),
                                reinterpret_cast<const unsigned char*>(password.data()), direction);
  if (r.status == 0 && (direction == KV_PBE_ENCRYPT || direction == KV_PBE_DECRYPT)) r.out.resize(outLen);
  return r;
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + 1);
  return b;
}

TEST(PasswordEncryption, LengthsRoundTripAndDeterminism) {
  const struct {
    size_t in;
    size_t out;
  } rows[] = {{1200, 1208}, {8, 16}, {0, 8}, {7, 8}, {1, 8}};
  for (const auto& row : rows) {
    const Bytes plain = Pattern(row.in);
    Result enc = Crypt(plain, "password1", KV_PBE_ENCRYPT);
    ASSERT_EQ(enc.status, 0) << row.in;
    EXPECT_EQ(enc.out.size(), row.out) << row.in;
    EXPECT_EQ(Crypt(plain, "password1", KV_PBE_ENCRYPT).out, enc.out) << "fixed salt, no random element";
    Result dec = Crypt(enc.out, "password1", KV_PBE_DECRYPT);
    ASSERT_EQ(dec.status, 0) << row.in;
    EXPECT_EQ(dec.out, plain) << row.in;
  }
}

TEST(PasswordEncryption, OtherDirectionsWriteNothing) {
  const Bytes plain = Pattern(16);
  for (int direction : {0, 3, -1}) {
    Result r = Crypt(plain, "password1", direction);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Bytes(24, 0xCC)) << direction;
  }
}

TEST(PasswordEncryption, WrongPasswordFailsThePaddingCheckNearlyAlways) {
  const Bytes enc = Crypt(Pattern(600), "rightpassword", KV_PBE_ENCRYPT).out;
  int padding = 0, accepted = 0;
  for (int i = 0; i < 200; ++i) {
    int status = Crypt(enc, "wrong" + std::to_string(i), KV_PBE_DECRYPT).status;
    padding += status == 524 ? 1 : 0;
    accepted += status == 0 ? 1 : 0;
  }
  EXPECT_EQ(padding + accepted, 200);
  EXPECT_GE(padding, 190);
}

// The key-file reader checks the decrypted bytes as a private key, so a wrong
// password that happens to give valid padding is refused as well.
TEST(PasswordEncryption, KeyFileReaderNeverAcceptsAWrongPassword) {
  const Bytes& priv = svctest::SharedKeyPair().privateKey;
  ASSERT_FALSE(priv.empty());
  const Bytes enc = Crypt(priv, "rightpassword", KV_PBE_ENCRYPT).out;
  svctest::ScratchDir dir;
  const std::string path = dir.File("k.key");
  ASSERT_EQ(errKVKeyFileAddPrivateKeyToEnd(path.c_str(), enc.data(), static_cast<int>(enc.size())), 0);

  Bytes out(KV_KEYFILE_MAX_DATA);
  int length = 0;
  ASSERT_EQ(errKVKeyFileGetPrivateKeyEx(path.c_str(), out.data(), &length, "rightpassword"), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), priv);

  // Find passwords whose decryption passes the padding check by chance.
  int lucky = 0;
  for (int i = 0; i < 3000 && lucky < 2; ++i) {
    const std::string wrong = "guess" + std::to_string(i);
    if (Crypt(enc, wrong, KV_PBE_DECRYPT).status != 0) continue;
    ++lucky;
    EXPECT_EQ(errKVKeyFileGetPrivateKeyEx(path.c_str(), out.data(), &length, wrong.c_str()), 524) << wrong;
  }
  EXPECT_GE(lucky, 1) << "no wrong password passed the padding check; widen the search";
  EXPECT_EQ(errKVKeyFileGetPrivateKeyEx(path.c_str(), out.data(), &length, "guess0"), 524);
}

Bytes DerLength(size_t n) {
  if (n < 0x80) return {static_cast<unsigned char>(n)};
  if (n < 0x100) return {0x81, static_cast<unsigned char>(n)};
  return {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
}
Bytes Tlv(unsigned char tag, const Bytes& body) {
  Bytes out{tag};
  const Bytes len = DerLength(body.size());
  out.insert(out.end(), len.begin(), len.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Header and content of the DER element at |pos|; advances |pos| past it.
bool ReadTlv(const Bytes& der, size_t& pos, size_t& contentStart, size_t& contentLength) {
  if (pos + 2 > der.size()) return false;
  size_t p = pos + 1;
  size_t len = der[p++];
  if (len & 0x80) {
    const size_t count = len & 0x7F;
    if (count == 0 || count > 2 || p + count > der.size()) return false;
    len = 0;
    for (size_t i = 0; i < count; ++i) len = len * 256 + der[p++];
  }
  if (p + len > der.size()) return false;
  contentStart = p;
  contentLength = len;
  pos = p + len;
  return true;
}

// The RSAPrivateKey in the OCTET STRING of a PrivateKeyInfo.
Bytes InnerPrivateKey(const Bytes& info) {
  size_t pos = 0, start = 0, length = 0;
  if (!ReadTlv(info, pos, start, length)) return {};
  pos = start;  // into the SEQUENCE: version, algorithm, privateKey
  for (int field = 0; field < 3; ++field) {
    if (!ReadTlv(info, pos, start, length)) return {};
  }
  return Bytes(info.begin() + static_cast<long>(start), info.begin() + static_cast<long>(start + length));
}

// Our encrypted private key is PBES1 with pbeWithSHA1AndDES-CBC: wrapped in
// an EncryptedPrivateKeyInfo with the fixed salt and 5 iterations, the
// openssl command line decrypts it to the same PrivateKeyInfo.
TEST(PasswordEncryption, OpensslDecryptsOurEncryptedPrivateKeyInfo) {
  if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl command line not available";
  if (std::system("openssl list -providers -provider legacy >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "openssl legacy provider (DES) not available";
  }
  const Bytes& priv = svctest::SharedKeyPair().privateKey;
  ASSERT_FALSE(priv.empty());
  const Bytes enc = Crypt(priv, "Pass-w0rd", KV_PBE_ENCRYPT).out;

  const Bytes oid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0A};  // 1.2.840.113549.1.5.10
  const Bytes salt = {0x6b, 0x3e, 0x15, 0xa0, 0x47, 0xd2, 0x09, 0x5f};
  const Bytes params = Tlv(0x30, Concat({Tlv(0x04, salt), Tlv(0x02, {0x05})}));
  const Bytes algorithm = Tlv(0x30, Concat({Tlv(0x06, oid), params}));
  const Bytes info = Tlv(0x30, Concat({algorithm, Tlv(0x04, enc)}));

  svctest::ScratchDir dir;
  svctest::WriteFile(dir.File("enc.der"), info);
  const std::string command = "openssl pkcs8 -inform DER -in '" + dir.File("enc.der") +
                              "' -passin pass:Pass-w0rd -outform DER -out '" + dir.File("plain.der") +
                              "' -provider legacy -provider default >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  // openssl writes the PrivateKeyInfo, or (depending on its version) the
  // RSAPrivateKey inside it.
  const Bytes decrypted = svctest::ReadFile(dir.File("plain.der"));
  if (decrypted != priv) {
    EXPECT_EQ(decrypted, InnerPrivateKey(priv));
  }
}

}  // namespace
