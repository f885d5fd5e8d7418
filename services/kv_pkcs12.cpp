#include "services/kv_pkcs12.h"

#include "cryptokit/cryptokit.h"
#include "services/kvservices.h"

namespace kvpkcs12 {
namespace {

using kvder::Bytes;

// Object identifiers (contents only).
const Bytes kOidData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};           // pkcs7-data
const Bytes kOidEncryptedData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x06};  // pkcs7-encryptedData
const Bytes kOidKeyBag = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x02};  // pkcs8ShroudedKeyBag
const Bytes kOidCertBag = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03};
const Bytes kOidX509Certificate = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01};
const Bytes kOidFriendlyName = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x14};
const Bytes kOidLocalKeyId = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x15};
const Bytes kOidSha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

constexpr size_t kSha256Length = 32;
constexpr size_t kSha256Block = 64;
constexpr size_t kMacSaltLength = 8;

Bytes Oid(const Bytes& contents) { return kvder::Tlv(kvder::kOid, contents); }
Bytes Explicit0(const Bytes& inner) { return kvder::Tlv(kvder::kContext0, inner); }

// A digest (SHA-1 or SHA-256) of |data|, or with |key| its HMAC-SHA256.
int Digest(Q_INFO_TYPE algorithm, const Bytes* key, const unsigned char* data, size_t length, Bytes* out) {
  static const Q_ALGORITHM_METHOD* const kChooser[] = {&QM_SHA1, &QM_SHA256, &QM_HMACSHA256, nullptr};
  Q_ALGORITHM_OBJ object = nullptr;
  Q_KEY_OBJ keyObject = nullptr;
  unsigned char digest[64];
  uint32_t digestLength = 0;
  int status = Q_CreateAlgorithmObject(&object);
  if (status == 0) status = Q_SetAlgorithmInfo(object, algorithm, nullptr);
  if (status == 0 && key != nullptr) {
    status = Q_CreateKeyObject(&keyObject);
    Q_ITEM item{const_cast<unsigned char*>(key->data()), static_cast<uint32_t>(key->size())};
    if (status == 0) status = Q_SetKeyInfo(keyObject, QK_Item, &item);
  }
  if (status == 0) status = Q_DigestInit(object, keyObject, kChooser, nullptr);
  if (status == 0) status = Q_DigestUpdate(object, data, static_cast<uint32_t>(length), nullptr);
  if (status == 0) status = Q_DigestFinal(object, digest, &digestLength, sizeof digest, nullptr);
  if (status == 0) out->assign(digest, digest + digestLength);
  QMem_Wipe(digest, sizeof digest);
  Q_DestroyKeyObject(&keyObject);
  Q_DestroyAlgorithmObject(&object);
  return status;
}

// Attribute ::= SEQUENCE { attrId OID, attrValues SET OF }; the bag's SET OF
// Attribute in DER order.
Bytes BagAttributes(const Bytes& bmpName, const Bytes& localKeyId) {
  std::vector<Bytes> attributes;
  if (!bmpName.empty()) {
    const Bytes oid = Oid(kOidFriendlyName);
    const Bytes value = kvder::Tlv(kvder::kSet, kvder::Tlv(kvder::kBmpString, bmpName));
    attributes.push_back(kvder::Seq({&oid, &value}));
  }
  if (!localKeyId.empty()) {
    const Bytes oid = Oid(kOidLocalKeyId);
    const Bytes value = kvder::Tlv(kvder::kSet, kvder::Tlv(kvder::kOctetString, localKeyId));
    attributes.push_back(kvder::Seq({&oid, &value}));
  }
  // SET OF in DER: the encodings in ascending order.
  if (attributes.size() == 2) {
    const Bytes& x = attributes[0];
    const Bytes& y = attributes[1];
    size_t k = 0;
    while (k < x.size() && k < y.size() && x[k] == y[k]) ++k;
    const bool yFirst = k < y.size() && (k == x.size() ? false : y[k] < x[k]);
    if (yFirst) attributes[0].swap(attributes[1]);
  }
  Bytes all;
  for (const Bytes& a : attributes) all.insert(all.end(), a.begin(), a.end());
  return kvder::Tlv(kvder::kSet, all);
}

// SafeBag ::= SEQUENCE { bagId, bagValue [0] EXPLICIT, bagAttributes OPTIONAL }
Bytes SafeBag(const Bytes& bagOid, const Bytes& value, const Bytes* attributes) {
  const Bytes oid = Oid(bagOid);
  const Bytes wrapped = Explicit0(value);
  return attributes != nullptr ? kvder::Seq({&oid, &wrapped, attributes}) : kvder::Seq({&oid, &wrapped});
}

// ContentInfo ::= SEQUENCE { contentType data, content [0] EXPLICIT OCTET STRING }
Bytes DataContentInfo(const Bytes& data) {
  const Bytes oid = Oid(kOidData);
  const Bytes content = Explicit0(kvder::Tlv(kvder::kOctetString, data));
  return kvder::Seq({&oid, &content});
}

// ContentInfo encryptedData { EncryptedData { version 0, EncryptedContentInfo
// { data, PBES2 AlgorithmIdentifier, [0] IMPLICIT encrypted content } } }
int EncryptedContentInfo(const Bytes& plain, const std::string& password, Bytes* out) {
  unsigned char algorithm[256];
  int algorithmLength = sizeof algorithm;
  Bytes cipher(plain.size() + 16);
  int cipherLength = static_cast<int>(cipher.size());
  const int status = errKVPBES2Encrypt(static_cast<int>(plain.size()), plain.data(),
                                       static_cast<int>(password.size()),
                                       reinterpret_cast<const unsigned char*>(password.data()), KV_PBES2_ITERATIONS,
                                       algorithm, &algorithmLength, cipher.data(), &cipherLength);
  if (status != 0) return status;
  const Bytes version = kvder::Integer(0);
  const Bytes dataOid = Oid(kOidData);
  const Bytes algorithmDer = kvder::Raw(algorithm, static_cast<size_t>(algorithmLength));
  const Bytes encrypted = kvder::Tlv(0x80, cipher.data(), static_cast<size_t>(cipherLength));
  const Bytes info = kvder::Seq({&dataOid, &algorithmDer, &encrypted});
  const Bytes encryptedData = kvder::Seq({&version, &info});
  const Bytes oid = Oid(kOidEncryptedData);
  const Bytes content = Explicit0(encryptedData);
  *out = kvder::Seq({&oid, &content});
  return 0;
}

// Decodes one UTF-8 character at |*i|; false for a malformed one.
bool NextCodePoint(const std::string& s, size_t* i, uint32_t* cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(*i);
  size_t extra = 0;
  uint32_t value = 0, min = 0;
  if (b0 < 0x80) {
    *cp = b0;
    ++*i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, value = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (*i + extra >= s.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char b = byte(*i + k);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *cp = value;
  *i += extra + 1;
  return true;
}

}  // namespace

bool Utf8ToBmp(const std::string& utf8, Bytes* out) {
  out->clear();
  out->reserve(utf8.size() * 2 + 2);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    if (!NextCodePoint(utf8, &i, &cp)) return false;
    if (cp >= 0x10000) {
      const uint32_t v = cp - 0x10000;
      const uint32_t high = 0xD800 | (v >> 10), low = 0xDC00 | (v & 0x3FF);
      out->insert(out->end(), {static_cast<unsigned char>(high >> 8), static_cast<unsigned char>(high),
                               static_cast<unsigned char>(low >> 8), static_cast<unsigned char>(low)});
    } else {
      out->insert(out->end(), {static_cast<unsigned char>(cp >> 8), static_cast<unsigned char>(cp)});
    }
  }
  return true;
}

int Pkcs12Kdf(unsigned char id, const Bytes& bmpPassword, const Bytes& salt, uint32_t iterations, size_t n,
              Bytes* out) {
  const size_t v = kSha256Block, u = kSha256Length;
  auto stretched = [v](const Bytes& in) {
    Bytes s;
    if (in.empty()) return s;
    const size_t length = v * ((in.size() + v - 1) / v);
    s.reserve(length);
    for (size_t k = 0; k < length; ++k) s.push_back(in[k % in.size()]);
    return s;
  };
  const Bytes s = stretched(salt), p = stretched(bmpPassword);
  Bytes i = kvder::Cat({&s, &p});
  Bytes d(v, id);
  out->clear();
  out->reserve(n + u);
  while (out->size() < n) {
    Bytes a = kvder::Cat({&d, &i});
    for (uint32_t r = 0; r < iterations; ++r) {
      Bytes next;
      const int status = Digest(QA_SHA256, nullptr, a.data(), a.size(), &next);
      if (status != 0) return status;
      a.swap(next);
    }
    out->insert(out->end(), a.begin(), a.end());
    if (out->size() >= n) break;
    // I_j = (I_j + B + 1) mod 2^(8v) for every v-byte block of I, B being A
    // repeated to v bytes.
    for (size_t block = 0; block < i.size(); block += v) {
      unsigned carry = 1;
      for (size_t k = v; k-- > 0;) {
        const unsigned sum = i[block + k] + a[k % u] + carry;
        i[block + k] = static_cast<unsigned char>(sum);
        carry = sum >> 8;
      }
    }
  }
  out->resize(n);
  return 0;
}

int BuildPkcs12(const Pkcs12Contents& contents, const std::string& password, Bytes* out) {
  if (contents.privateKey == nullptr || contents.privateKeyLength == 0 || contents.certificates.empty()) {
    return Q_ERR_INPUT_LEN;
  }
  Bytes bmpPassword, bmpName;
  if (!Utf8ToBmp(password, &bmpPassword) || !Utf8ToBmp(contents.friendlyName, &bmpName)) return Q_ERR_INPUT_DATA;
  bmpPassword.insert(bmpPassword.end(), {0, 0});

  // localKeyId: the SHA-1 of the key's own certificate, tying key and
  // certificate together.
  const std::string& own = contents.certificates.front();
  Bytes localKeyId;
  int status = Digest(QA_SHA1, nullptr, reinterpret_cast<const unsigned char*>(own.data()), own.size(), &localKeyId);
  if (status != 0) return status;
  const Bytes attributes = BagAttributes(bmpName, localKeyId);

  // The certificates, encrypted together.
  Bytes certBags;
  for (size_t k = 0; k < contents.certificates.size(); ++k) {
    const std::string& der = contents.certificates[k];
    const Bytes certOid = Oid(kOidX509Certificate);
    const Bytes value = Explicit0(kvder::Tlv(kvder::kOctetString, reinterpret_cast<const unsigned char*>(der.data()),
                                             der.size()));
    // The chain's certificates carry their friendly name only.
    Bytes chainName, chainAttributes;
    if (k > 0 && k - 1 < contents.chainNames.size()) {
      if (!Utf8ToBmp(contents.chainNames[k - 1], &chainName)) return Q_ERR_INPUT_DATA;
      if (!chainName.empty()) chainAttributes = BagAttributes(chainName, Bytes());
    }
    const Bytes* bagAttributes = k == 0 ? &attributes : chainAttributes.empty() ? nullptr : &chainAttributes;
    const Bytes bag = SafeBag(kOidCertBag, kvder::Seq({&certOid, &value}), bagAttributes);
    certBags.insert(certBags.end(), bag.begin(), bag.end());
  }
  Bytes certificates;
  status = EncryptedContentInfo(kvder::Tlv(kvder::kSequence, certBags), password, &certificates);
  if (status != 0) return status;

  // The key, as an EncryptedPrivateKeyInfo in the clear SafeContents.
  Bytes shrouded(contents.privateKeyLength + 512);
  int shroudedLength = static_cast<int>(shrouded.size());
  status = errKVPKCS8EncryptPBES2(static_cast<int>(contents.privateKeyLength), contents.privateKey,
                                  static_cast<int>(password.size()),
                                  reinterpret_cast<const unsigned char*>(password.data()), KV_PBES2_ITERATIONS,
                                  shrouded.data(), &shroudedLength);
  if (status != 0) return status;
  shrouded.resize(static_cast<size_t>(shroudedLength));
  const Bytes keyBag = SafeBag(kOidKeyBag, shrouded, &attributes);
  const Bytes keyContents = DataContentInfo(kvder::Tlv(kvder::kSequence, keyBag));

  const Bytes authenticatedSafe = kvder::Seq({&certificates, &keyContents});

  // MacData { DigestInfo { sha256, MAC }, macSalt, iterations }.
  unsigned char saltBytes[kMacSaltLength];
  status = errKVRandomGetNumber(sizeof saltBytes, saltBytes);
  if (status != 0) return status;
  const Bytes salt = kvder::Raw(saltBytes, sizeof saltBytes);
  Bytes macKey, mac;
  status = Pkcs12Kdf(3, bmpPassword, salt, kPkcs12MacIterations, kSha256Length, &macKey);
  if (status == 0) status = Digest(QA_HMACSHA256, &macKey, authenticatedSafe.data(), authenticatedSafe.size(), &mac);
  if (status != 0) return status;
  const Bytes shaOid = Oid(kOidSha256);
  const Bytes null = {kvder::kNull, 0x00};
  const Bytes digestAlgorithm = kvder::Seq({&shaOid, &null});
  const Bytes macValue = kvder::Tlv(kvder::kOctetString, mac);
  const Bytes digestInfo = kvder::Seq({&digestAlgorithm, &macValue});
  const Bytes macSalt = kvder::Tlv(kvder::kOctetString, salt);
  const Bytes macIterations = kvder::Integer(kPkcs12MacIterations);
  const Bytes macData = kvder::Seq({&digestInfo, &macSalt, &macIterations});

  const Bytes version = kvder::Integer(3);
  const Bytes authSafe = DataContentInfo(authenticatedSafe);
  *out = kvder::Seq({&version, &authSafe, &macData});
  return 0;
}

}  // namespace kvpkcs12
