// Writes seed inputs made with our own code for the fuzz targets:
//   fuzz_seedgen <directory>
// creates <directory>/<target>/ and one file a seed in it. The inputs are
// deterministic (a fixed random seed), so the corpus is the same every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "certkit/certkit.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/der/der.h"
#include "cryptokit/qmemory.h"
#include "fixed_key.h"
#include "services/kvservices.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_root;
int g_failures = 0;

void Fail(const char* what, int status) {
  std::fprintf(stderr, "seedgen: %s failed with %d\n", what, status);
  ++g_failures;
}

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(g_root / target);
  std::ofstream out(g_root / target / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A small deterministic generator for operands and texts (xorshift).
uint64_t g_state = 0x9e3779b97f4a7c15ull;
uint8_t NextByte() {
  g_state ^= g_state << 13;
  g_state ^= g_state >> 7;
  g_state ^= g_state << 17;
  return static_cast<uint8_t>(g_state >> 24);
}
Bytes RandomBytes(size_t n) {
  Bytes b(n);
  for (auto& x : b) x = NextByte();
  return b;
}

// ---------------------------------------------------------------------------
// Names, through the name object's own encoder.

struct AvaSpec {
  Bytes oid;
  uint32_t tag;
  Bytes value;  // octets
  uint32_t newRDN;
};

const Bytes kCN{0x55, 0x04, 0x03}, kC{0x55, 0x04, 0x06}, kO{0x55, 0x04, 0x0a}, kOU{0x55, 0x04, 0x0b},
    kL{0x55, 0x04, 0x07}, kST{0x55, 0x04, 0x08}, kEmail{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x01};

bool EncodeName(const std::vector<AvaSpec>& avas, Bytes* der) {
  C_NAME_OBJ name = nullptr;
  int status = C_CreateNameObject(&name);
  for (const AvaSpec& a : avas) {
    if (status != 0) break;
    const uint32_t len = a.tag == C_TAG_BMP_STRING ? static_cast<uint32_t>(a.value.size() / 2)
                                                   : static_cast<uint32_t>(a.value.size());
    status = C_AddNameAVA(name, a.oid.data(), static_cast<uint32_t>(a.oid.size()), a.tag, a.value.data(), len,
                          a.newRDN, nullptr);
  }
  const unsigned char* p = nullptr;
  uint32_t n = 0;
  if (status == 0) status = C_GetNameDER(name, &p, &n);
  if (status == 0) der->assign(p, p + n);
  C_DestroyNameObject(&name);
  if (status != 0) Fail("name", status);
  return status == 0;
}

// The same element with an indefinite length: identifier, 0x80, contents,
// end-of-contents (for the outer SEQUENCE of a DER name).
Bytes Indefinite(const Bytes& der) {
  size_t header = (der[1] & 0x80) != 0 ? 2 + (der[1] & 0x7f) : 2;
  Bytes out{der[0], 0x80};
  out.insert(out.end(), der.begin() + static_cast<long>(header), der.end());
  out.push_back(0);
  out.push_back(0);
  return out;
}

// The same element with its outer length in the long form.
Bytes LongLength(const Bytes& der) {
  size_t header = (der[1] & 0x80) != 0 ? 2 + (der[1] & 0x7f) : 2;
  const size_t len = der.size() - header;
  Bytes out{der[0], 0x82, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
  out.insert(out.end(), der.begin() + static_cast<long>(header), der.end());
  return out;
}

void Names() {
  const std::vector<std::vector<AvaSpec>> names = {
      {{kCN, C_TAG_PRINTABLE_STRING, Str("Test Root"), 1}},
      {{kC, C_TAG_PRINTABLE_STRING, Str("DE"), 1},
       {kO, C_TAG_PRINTABLE_STRING, Str("Example Org"), 1},
       {kOU, C_TAG_T61_STRING, Str("Unit \xe4"), 1},
       {kCN, C_TAG_PRINTABLE_STRING, Str("server.example.com"), 1}},
      {{kCN, C_TAG_PRINTABLE_STRING, Str("multi"), 1}, {kO, C_TAG_PRINTABLE_STRING, Str("valued"), 0}},
      {{kCN, C_TAG_BMP_STRING, Bytes{0x00, 'B', 0x00, 'M', 0x00, 'P', 0x04, 0x10}, 1}},
      {{kEmail, C_TAG_IA5_STRING, Str("admin@example.com"), 1}, {kL, C_TAG_T61_STRING, Str("Berlin"), 1},
       {kST, C_TAG_PRINTABLE_STRING, Str("Berlin"), 1}},
      {{Bytes{0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37}, C_TAG_IA5_STRING, Str("outside the table"), 1}},
  };
  int i = 0;
  for (const auto& avas : names) {
    Bytes der;
    if (!EncodeName(avas, &der)) continue;
    const std::string n = std::to_string(i++);
    for (const char* target : {"fuzz_name", "fuzz_asn1"}) {
      Write(target, "name" + n, der);
      Write(target, "name" + n + "-indefinite", Indefinite(der));
      Write(target, "name" + n + "-long", LongLength(der));
    }
  }
  for (const char* target : {"fuzz_name", "fuzz_asn1"}) Write(target, "empty-name", Bytes{0x30, 0x00});
}

// ---------------------------------------------------------------------------
// RSA keys and their encodings.

const Q_ALGORITHM_METHOD* const kKeyGenChooser[] = {&QM_MD5, &QM_MD5Random, &QM_RSAKeyGen,
                                                    &QM_RSAPrivateEncrypt, &QM_RSAPublicDecrypt, nullptr};
const Q_ALGORITHM_METHOD* const kRandomChooser[] = {&QM_MD5Random, nullptr};

Bytes KeyForm(Q_KEY_OBJ key, Q_INFO_TYPE form) {
  void* info = nullptr;
  int status = Q_GetKeyInfo(&info, key, form);
  if (status != 0) {
    Fail("key form", status);
    return {};
  }
  const auto* item = static_cast<const Q_ITEM*>(info);
  return Bytes(item->data, item->data + item->len);
}

// Captures one DER encoding from the toolkit's codec.
struct Capture {
  Bytes bytes;
  static int Put(void* context, const unsigned char* data, uint32_t length) {
    static_cast<Capture*>(context)->bytes.assign(data, data + length);
    return 0;
  }
  qk::der::DerSink sink() { return qk::der::DerSink{Put, this}; }
};

void Keys() {
  Q_ALGORITHM_OBJ random = nullptr;
  const uint8_t seed[] = "kvcatool fuzz seeds";
  int status = Q_CreateAlgorithmObject(&random);
  if (status == 0) status = Q_SetAlgorithmInfo(random, QA_MD5Random, nullptr);
  if (status == 0) status = Q_RandomInit(random, kRandomChooser, nullptr);
  if (status == 0) status = Q_RandomUpdate(random, seed, sizeof seed, nullptr);
  if (status != 0) Fail("random", status);
  for (uint32_t bits : {256u, 512u, 1024u}) {
    Q_ALGORITHM_OBJ gen = nullptr;
    Q_KEY_OBJ pub = nullptr, priv = nullptr;
    uint8_t f4[] = {0x01, 0x00, 0x01};
    Q_RSA_KEYGEN_PARAMS params{bits, Q_ITEM{f4, sizeof f4}};
    status = Q_CreateAlgorithmObject(&gen);
    if (status == 0) status = Q_SetAlgorithmInfo(gen, QA_RSAKeyGen, &params);
    if (status == 0) status = Q_GenerateInit(gen, kKeyGenChooser, nullptr);
    if (status == 0) status = Q_CreateKeyObject(&pub);
    if (status == 0) status = Q_CreateKeyObject(&priv);
    if (status == 0) status = Q_GenerateKeypair(gen, pub, priv, random, nullptr);
    if (status != 0) {
      Fail("key generation", status);
    } else {
      const std::string n = std::to_string(bits);
      const Bytes spki = KeyForm(pub, QK_RSAPublicBER);
      const Bytes pkcs8 = KeyForm(priv, QK_RSAPrivateBER);
      Write("fuzz_rsa_keys", "public" + n, Cat({{0}, spki}));
      Write("fuzz_rsa_keys", "private" + n, Cat({{1}, pkcs8}));
      Write("fuzz_der", "spki" + n, spki);
      Write("fuzz_der", "pkcs8" + n, pkcs8);
      // The inner encodings and the other structures of the codec.
      Q_ITEM algorithm, parameters, inner;
      qk::der::DerBitString bits_{};
      if (qk::der::DecodeSubjectPublicKeyInfo(spki.data(), static_cast<uint32_t>(spki.size()), &algorithm,
                                              &parameters, &bits_) == 0) {
        Write("fuzz_der", "rsapublickey" + n, Bytes(bits_.data, bits_.data + bits_.length));
        Capture alg;
        if (qk::der::EncodeAlgorithmIdentifier(algorithm, parameters, alg.sink()) == 0) {
          Write("fuzz_der", "algorithmidentifier", alg.bytes);
          Capture di;
          Bytes digest = RandomBytes(20);
          if (qk::der::EncodeDigestInfo(Q_ITEM{alg.bytes.data(), static_cast<uint32_t>(alg.bytes.size())},
                                        Q_ITEM{digest.data(), 20}, di.sink()) == 0) {
            Write("fuzz_der", "digestinfo", di.bytes);
          }
        }
      }
      if (qk::der::DecodePrivateKeyInfo(pkcs8.data(), static_cast<uint32_t>(pkcs8.size()), &algorithm, &parameters,
                                        &inner) == 0) {
        Write("fuzz_der", "rsaprivatekey" + n, Bytes(inner.data, inner.data + inner.len));
      }
    }
    Q_DestroyKeyObject(&pub);
    Q_DestroyKeyObject(&priv);
    Q_DestroyAlgorithmObject(&gen);
  }
  Q_DestroyAlgorithmObject(&random);
}

// ---------------------------------------------------------------------------
// Cipher texts of the password encryption, in the target's input layout:
// [password length] [iterations - 1 | piece << 2] password cipher-text.

const Q_ALGORITHM_METHOD* const kPbeChooser[] = {&QM_SHA1, &QM_DESCBCEncrypt, &QM_DESCBCDecrypt, nullptr};
const uint8_t kPbeSalt[8] = {0x5a, 0x17, 0xc3, 0x08, 0x9e, 0x41, 0xf2, 0x6d};

void CipherTexts() {
  const std::vector<std::string> passwords = {"", "secret", "correct horse battery", "p\xe4sswort"};
  int i = 0;
  for (const std::string& password : passwords) {
    for (size_t plainLen : {0u, 1u, 7u, 8u, 9u, 33u}) {
      const uint32_t iterations = 1 + static_cast<uint32_t>(i % 4);
      const uint8_t piece = static_cast<uint8_t>(i % 3 == 0 ? 0 : 1 + i % 9);
      Bytes plain = RandomBytes(plainLen);
      Q_ALGORITHM_OBJ alg = nullptr;
      Q_KEY_OBJ key = nullptr;
      Q_PBE_PARAMS params{const_cast<uint8_t*>(kPbeSalt), iterations};
      Bytes pw = Str(password);
      Q_ITEM item{pw.data(), static_cast<uint32_t>(pw.size())};
      Bytes cipher(plainLen + 8);
      uint32_t n1 = 0, n2 = 0;
      int status = Q_CreateAlgorithmObject(&alg);
      if (status == 0) status = Q_SetAlgorithmInfo(alg, QA_PBEWithSHA1AndDESCBC, &params);
      if (status == 0) status = Q_CreateKeyObject(&key);
      if (status == 0) status = Q_SetKeyInfo(key, QK_Item, &item);
      if (status == 0) status = Q_EncryptInit(alg, key, kPbeChooser, nullptr);
      if (status == 0 && plainLen != 0) {
        status = Q_EncryptUpdate(alg, cipher.data(), &n1, static_cast<uint32_t>(cipher.size()), plain.data(),
                                 static_cast<uint32_t>(plainLen), nullptr, nullptr);
      }
      if (status == 0) {
        status = Q_EncryptFinal(alg, cipher.data() + n1, &n2, static_cast<uint32_t>(cipher.size() - n1), nullptr,
                                nullptr);
      }
      Q_DestroyKeyObject(&key);
      Q_DestroyAlgorithmObject(&alg);
      if (status != 0) {
        Fail("encryption", status);
        continue;
      }
      cipher.resize(n1 + n2);
      Bytes input{static_cast<uint8_t>(pw.size()), static_cast<uint8_t>((iterations - 1) | (piece << 2))};
      Write("fuzz_pbe", "cipher" + std::to_string(i++), Cat({input, pw, cipher}));
    }
  }
}

// ---------------------------------------------------------------------------
// PBES2 identifiers and cipher texts for fuzz_pbes2:
// [password length] [piece] [identifier length, 2 bytes] identifier password
// cipher text. Every PRF and both ciphers, few iterations.
void Pbes2Seeds() {
  const Q_ALGORITHM_METHOD* const chooser[] = {&QM_HMACSHA1,         &QM_HMACSHA256,       &QM_HMACSHA384,
                                               &QM_HMACSHA512,       &QM_AES128CBCEncrypt, &QM_AES256CBCEncrypt,
                                               nullptr};
  const Q_INFO_TYPE prfs[] = {QA_HMACSHA1, QA_HMACSHA256, QA_HMACSHA384, QA_HMACSHA512};
  const Q_INFO_TYPE ciphers[] = {QA_AES128CBCPad, QA_AES256CBCPad};
  uint8_t salt[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t iv[16] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};
  int i = 0;
  for (Q_INFO_TYPE prf : prfs) {
    for (Q_INFO_TYPE cipherType : ciphers) {
      const uint32_t plainLen = static_cast<uint32_t>(i * 13 % 40);
      const Bytes plain(plainLen, static_cast<uint8_t>(0x30 + i));
      Bytes pw = Str("pass" + std::to_string(i));
      Q_PBES2_PARAMS params{{salt, static_cast<uint32_t>(8 + i)}, static_cast<uint32_t>(1 + i % 3), prf, cipherType, iv};
      Q_ITEM item{pw.data(), static_cast<uint32_t>(pw.size())};
      Q_ALGORITHM_OBJ alg = nullptr;
      Q_KEY_OBJ key = nullptr;
      Bytes cipher(plainLen + 16);
      uint32_t n1 = 0, n2 = 0;
      void* form = nullptr;
      int status = Q_CreateAlgorithmObject(&alg);
      if (status == 0) status = Q_SetAlgorithmInfo(alg, QA_PBES2, &params);
      if (status == 0) status = Q_GetAlgorithmInfo(&form, alg, QA_PBES2BER);
      if (status == 0) status = Q_CreateKeyObject(&key);
      if (status == 0) status = Q_SetKeyInfo(key, QK_Item, &item);
      if (status == 0) status = Q_EncryptInit(alg, key, chooser, nullptr);
      if (status == 0 && plainLen != 0) {
        status = Q_EncryptUpdate(alg, cipher.data(), &n1, static_cast<uint32_t>(cipher.size()), plain.data(),
                                 plainLen, nullptr, nullptr);
      }
      if (status == 0) {
        status = Q_EncryptFinal(alg, cipher.data() + n1, &n2, static_cast<uint32_t>(cipher.size() - n1), nullptr,
                                nullptr);
      }
      if (status == 0) {
        const auto* der = static_cast<const Q_ITEM*>(form);
        cipher.resize(n1 + n2);
        Bytes head{static_cast<uint8_t>(pw.size()), static_cast<uint8_t>(i * 5 % 24),
                   static_cast<uint8_t>(der->len >> 8), static_cast<uint8_t>(der->len)};
        Write("fuzz_pbes2", "pbes2-" + std::to_string(i), Cat({head, Bytes(der->data, der->data + der->len), pw, cipher}));
      } else {
        Fail("PBES2 encryption", status);
      }
      Q_DestroyKeyObject(&key);
      Q_DestroyAlgorithmObject(&alg);
      ++i;
    }
  }
}

// ---------------------------------------------------------------------------
// Operands for the big-number target:
// division:     [0] [len a] [len b] a b
// exponentiation: [1] [len base] [len exponent] [len modulus] base exponent modulus
// Chinese-remainder form: [3] [len x] [len p] [len q] [len dP] [len dQ] [len qInv] x p q dP dQ qInv

void Operands() {
  int i = 0;
  for (auto [aLen, bLen] : std::vector<std::pair<size_t, size_t>>{{8, 4}, {32, 16}, {64, 64}, {128, 9}, {200, 100}, {5, 20}}) {
    Bytes a = RandomBytes(aLen), b = RandomBytes(bLen);
    Write("fuzz_bignum", "divide" + std::to_string(i++),
          Cat({{0, static_cast<uint8_t>(aLen), static_cast<uint8_t>(bLen)}, a, b}));
  }
  i = 0;
  for (auto [baseLen, expLen, modLen] : std::vector<std::tuple<size_t, size_t, size_t>>{
           {8, 3, 8}, {16, 8, 16}, {64, 2, 64}, {70, 1, 64}, {128, 1, 128}, {255, 1, 255}, {4, 3, 1}}) {
    Bytes base = RandomBytes(baseLen), e = RandomBytes(expLen), m = RandomBytes(modLen);
    // Within the target's budget of exponent bits times modulus bits.
    if (modLen > 64) e[0] &= modLen > 128 ? 0x0f : 0x3f;
    m[0] |= 0x80;  // full size: 512, 1024 and 2040 bits reach the vector kernels' ranges
    m.back() |= 1;
    Write("fuzz_bignum", "modexp" + std::to_string(i++),
          Cat({{1, static_cast<uint8_t>(baseLen), static_cast<uint8_t>(expLen), static_cast<uint8_t>(modLen)}, base,
               e, m}));
  }
  i = 0;
  for (auto [primeLen, expLen] : std::vector<std::pair<size_t, size_t>>{{4, 3}, {16, 8}, {32, 4}, {64, 1}, {128, 1}}) {
    Bytes x = RandomBytes(2 * primeLen), p = RandomBytes(primeLen), q = RandomBytes(primeLen),
          dP = RandomBytes(expLen), dQ = RandomBytes(expLen), qInv = RandomBytes(primeLen);
    if (primeLen == 128) dP[0] &= 0x1f, dQ[0] &= 0x1f;
    p[0] |= 0x80, q[0] |= 0x80;  // 512 and 1024 bits reach the vector kernels
    p.back() |= 1, q.back() |= 1;
    Bytes head{3};
    for (const Bytes* v : {&x, &p, &q, &dP, &dQ, &qInv}) head.push_back(static_cast<uint8_t>(v->size()));
    Write("fuzz_bignum", "crt" + std::to_string(i++), Cat({head, x, p, q, dP, dQ, qInv}));
  }
}

// ---------------------------------------------------------------------------
// Certificates, requests and key files through the service layer.

struct KeyPair {
  Bytes pub, priv;
};

bool MakeKeyPair(int modulusBytes, KeyPair* pair) {
  pair->pub.assign(KV_KEYFILE_MAX_DATA, 0);
  pair->priv.assign(KV_KEYFILE_MAX_DATA, 0);
  int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
  const int status = errKVKeyGen(modulusBytes, pair->pub.data(), &pubLen, pair->priv.data(), &privLen);
  if (status != 0) {
    Fail("errKVKeyGen", status);
    return false;
  }
  pair->pub.resize(static_cast<size_t>(pubLen));
  pair->priv.resize(static_cast<size_t>(privLen));
  return true;
}

CertNameFields NameFields(const char* country, const char* organization, const char* commonName) {
  CertNameFields f{};
  std::snprintf(f.country, sizeof f.country, "%s", country);
  std::snprintf(f.organization, sizeof f.organization, "%s", organization);
  std::snprintf(f.commonName, sizeof f.commonName, "%s", commonName);
  return f;
}

const std::vector<std::string> kKeyFilePasswords = {"", "secret", "correct horse battery"};

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CertificatesAndKeyFiles() {
  const Bytes fixedPriv(fuzz::kFixedPrivateKey, fuzz::kFixedPrivateKey + sizeof fuzz::kFixedPrivateKey);
  const fs::path work = g_root / "seedgen-work";
  fs::create_directories(work);
  int n = 0;
  for (int modulusBytes : {64, 128}) {
    KeyPair pair;
    if (!MakeKeyPair(modulusBytes, &pair)) continue;
    const std::string tag = std::to_string(modulusBytes * 8) + "-" + std::to_string(n++);

    // Issued by the fixed key (version 1, common-name names), and self-signed.
    for (bool self : {false, true}) {
      const Bytes& signer = self ? pair.priv : fixedPriv;
      int len = 0;
      unsigned char* cert = nullptr;
      const int status = errKVCertX509Create(static_cast<int>(signer.size()), signer.data(),
                                             self ? "Fuzz Self" : "Fuzz Root", static_cast<int>(pair.pub.size()),
                                             pair.pub.data(), "fuzz.example.org", 0, nullptr, &len, &cert);
      if (status == 0) {
        Write("fuzz_cert", std::string(self ? "self-" : "issued-") + tag, Bytes(cert, cert + len));
      } else {
        Fail("errKVCertX509Create", status);
      }
      vKVCertFreeCert(cert);
    }

    // A request in both forms, and the version 3 certificate issued for it.
    int reqLen = 0;
    unsigned char* req = nullptr;
    int status = errKVCertReqPKCS10Create(static_cast<int>(pair.priv.size()), pair.priv.data(),
                                          static_cast<int>(pair.pub.size()), pair.pub.data(), "fuzz requester", 0,
                                          nullptr, &reqLen, &req);
    if (status == 0) Write("fuzz_request", "pkcs10-" + tag, Bytes(req, req + reqLen));
    else Fail("errKVCertReqPKCS10Create", status);
    vKVCertReqFreeReq(req);
    req = nullptr;
    C_CERT_REQUEST_OBJ reqObj = nullptr;
    status = errKVGenCertReq(static_cast<int>(pair.priv.size()), pair.priv.data(), static_cast<int>(pair.pub.size()),
                             pair.pub.data(), NameFields("DE", "Example \xe4 Org", "server.example.com"), &req,
                             &reqLen, &reqObj, 0);
    C_DestroyCertRequestObject(&reqObj);
    if (status == 0) {
      Write("fuzz_request", "genreq-" + tag, Bytes(req, req + reqLen));
      C_CERT_OBJ certObj = nullptr;
      int certLen = 0;
      unsigned char* cert = nullptr;
      const std::string path = (work / "issued.der").string();
      status = errKVGenCert(path.c_str(), static_cast<int>(fixedPriv.size()), fixedPriv.data(),
                            NameFields("DE", "Fuzz CA", "Fuzz Root"), reqLen, req, &certObj, &certLen, &cert, 0);
      C_DestroyCertObject(&certObj);
      if (status == 0) Write("fuzz_cert", "genv3-" + tag, Bytes(cert, cert + certLen));
      else Fail("errKVGenCert", status);
      vKVCertFreeCert(cert);
    } else {
      Fail("errKVGenCertReq", status);
    }
    vKVCertReqFreeReq(req);

    // Key files: the private key encrypted under each password, with and
    // without the public record, in both orders; the input's first byte
    // chooses the password fuzz_keyfile decrypts with.
    for (size_t pw = 0; pw < kKeyFilePasswords.size(); ++pw) {
      const std::string& password = kKeyFilePasswords[pw];
      const int plainLen = static_cast<int>(pair.priv.size());
      Bytes cipher(pair.priv.size() + 8);
      int cipherLen = 0;
      status = errKVPKCS5PBEncDnc(&plainLen, pair.priv.data(), &cipherLen, cipher.data(),
                                  static_cast<int>(password.size()),
                                  reinterpret_cast<const unsigned char*>(password.data()), KV_PBE_ENCRYPT);
      if (status != 0) {
        Fail("errKVPKCS5PBEncDnc", status);
        continue;
      }
      for (int layout = 0; layout < 3; ++layout) {
        const fs::path file = work / "key.kvk";
        fs::remove(file);
        const std::string path = file.string();
        if (layout == 2) errKVKeyFileAddPublicKeyToEnd(path.c_str(), pair.pub.data(), static_cast<int>(pair.pub.size()));
        errKVKeyFileAddPrivateKeyToEnd(path.c_str(), cipher.data(), cipherLen);
        if (layout == 1) errKVKeyFileAddPublicKeyToEnd(path.c_str(), pair.pub.data(), static_cast<int>(pair.pub.size()));
        const Bytes contents = ReadFile(file);
        const std::string name = "keyfile-" + tag + "-pw" + std::to_string(pw) + "-" + std::to_string(layout);
        Write("fuzz_keyfile", name, Cat({{static_cast<uint8_t>(pw)}, contents}));
        // The same file read with a wrong password.
        Write("fuzz_keyfile", name + "-wrong", Cat({{static_cast<uint8_t>((pw + 1) % 3)}, contents}));
      }
      // The modern form: a tag 3 record (PBES2 EncryptedPrivateKeyInfo,
      // here with 1,000 iterations so that each run stays quick), then the
      // public record.
      Bytes modern(pair.priv.size() + 512);
      int modernLen = static_cast<int>(modern.size());
      status = errKVPKCS8EncryptPBES2(plainLen, pair.priv.data(), static_cast<int>(password.size()),
                                      reinterpret_cast<const unsigned char*>(password.data()), 1000, modern.data(),
                                      &modernLen);
      if (status != 0) {
        Fail("errKVPKCS8EncryptPBES2", status);
        continue;
      }
      const fs::path file = work / "key.kvk";
      fs::remove(file);
      iAddKeyToEndOfKeyFile(file.string().c_str(), KV_KEYFILE_TAG_MODERN_PRIVATE, modern.data(), modernLen);
      errKVKeyFileAddPublicKeyToEnd(file.string().c_str(), pair.pub.data(), static_cast<int>(pair.pub.size()));
      const Bytes contents = ReadFile(file);
      const std::string name = "keyfile-" + tag + "-modern-pw" + std::to_string(pw);
      Write("fuzz_keyfile", name, Cat({{static_cast<uint8_t>(pw)}, contents}));
      Write("fuzz_keyfile", name + "-wrong", Cat({{static_cast<uint8_t>((pw + 1) % 3)}, contents}));
    }
  }
  fs::remove_all(work);
}

// ---------------------------------------------------------------------------
// Certificate revocation lists through the CRL object, signed with the fixed
// key: versions 1 and 2, with and without nextUpdate (one past 2049, so a
// GeneralizedTime), entries with and without reasons, a CRL number.
void Crls() {
  Q_KEY_OBJ key = nullptr;
  Q_ITEM item{const_cast<unsigned char*>(fuzz::kFixedPrivateKey), sizeof fuzz::kFixedPrivateKey};
  if (Q_CreateKeyObject(&key) != 0 || Q_SetKeyInfo(key, QK_RSAPrivateBER, &item) != 0) {
    Fail("fixed key", 1);
    Q_DestroyKeyObject(&key);
    return;
  }
  static const unsigned char kCn[] = {0x55, 0x04, 0x03};
  struct Shape {
    const char* name;
    uint32_t version;
    uint32_t algorithm;
    int64_t nextUpdate;  // 0: none
    uint32_t entries;
  } shapes[] = {
      {"v2-sha256", C_CRL_VERSION_2, C_SIG_SHA256_WITH_RSA, 1702592000, 3},
      {"v2-sha1-empty", C_CRL_VERSION_2, C_SIG_SHA1_WITH_RSA, 1702592000, 0},
      {"v2-sha512-2051", C_CRL_VERSION_2, C_SIG_SHA512_WITH_RSA, 2556144000, 1},
      {"v1-sha1", C_CRL_VERSION_1, C_SIG_SHA1_WITH_RSA, 0, 2},
  };
  for (const Shape& shape : shapes) {
    C_CRL_OBJ crl = nullptr;
    C_CRL_FIELDS f{};
    int status = C_CreateCRLObject(&crl, nullptr);
    if (status == 0) status = C_GetCRLFields(crl, &f);
    if (status == 0) {
      status = C_AddNameAVA(f.issuer, kCn, 3, C_TAG_PRINTABLE_STRING, reinterpret_cast<const unsigned char*>("Fuzz Root"),
                            9, 1, nullptr);
    }
    f.version = shape.version;
    for (uint32_t i = 0; status == 0 && i < shape.entries; ++i) {
      const Bytes serial = RandomBytes(1 + i * 7);
      const int32_t reason = shape.version == C_CRL_VERSION_1 ? C_REASON_NONE
                             : i == 1                         ? C_REASON_NONE
                                                              : static_cast<int32_t>(i % 6);
      status = C_AddCRLEntry(crl, serial.data(), static_cast<uint32_t>(serial.size()), 1690000000 + i * 86400, reason);
    }
    if (status == 0 && shape.version == C_CRL_VERSION_2) {
      unsigned char* number = nullptr;
      uint32_t numberLen = 0;
      const unsigned char n[] = {0x01, 0x02};
      status = C_BuildCRLNumber(n, sizeof n, &number, &numberLen);
      if (status == 0) status = C_AddExtension(f.extensions, C_OID_CRL_NUMBER, C_OID_EXT_LEN, 0, number, numberLen);
      QMem_SecureRelease(number);
    }
    if (status == 0) {
      f.signatureAlgorithm = shape.algorithm;
      f.thisUpdate = 1700000000;
      f.hasNextUpdate = shape.nextUpdate != 0;
      f.nextUpdate = shape.nextUpdate;
      status = C_SetCRLFields(crl, &f);
    }
    if (status == 0) status = C_SignCRL(crl, key, nullptr, nullptr);
    const unsigned char* der = nullptr;
    uint32_t derLen = 0;
    if (status == 0) status = C_GetCRLDER(crl, &der, &derLen);
    if (status == 0) {
      Write("fuzz_crl", std::string("crl-") + shape.name, Bytes(der, der + derLen));
    } else {
      Fail("CRL", status);
    }
    C_DestroyCRLObject(&crl);
  }
  Q_DestroyKeyObject(&key);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  Names();
  Keys();
  CipherTexts();
  Pbes2Seeds();
  Operands();
  CertificatesAndKeyFiles();
  Crls();
  return g_failures == 0 ? 0 : 1;
}
