// Q_SetKeyInfo with QK_RSAPublicBER and QK_RSAPrivateBER on arbitrary bytes,
// then the other forms of the key.
//
// The first input byte chooses the form (bit 0: 0 public, 1 private); the
// rest is the encoding. Properties:
// - a key set from BER gives its component forms (QK_RSAPublic, and for a
//   private key QK_RSAPrivateCRT and QK_RSAPrivate) over the same values;
// - a public key has no private forms;
// - when the key's BER form can be written, importing it into a new key
//   gives the same components and writing that key's BER gives the same
//   bytes (a stable re-encoding);
// - a private key's public BER form imports as the same public key.
#include <cstdint>
#include <vector>

#include "cryptokit/cryptokit.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const Q_ITEM& item) {
  FuzzCheck(item.data != nullptr || item.len == 0);
  return item.len == 0 ? Bytes() : Bytes(item.data, item.data + item.len);
}

struct Components {
  std::vector<Bytes> values;
  bool operator==(const Components&) const = default;
};

Components PublicOf(Q_KEY_OBJ key) {
  void* info = nullptr;
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPublic) == 0);
  const auto* pub = static_cast<const Q_RSA_PUBLIC_KEY*>(info);
  return Components{{ToBytes(pub->modulus), ToBytes(pub->exponent)}};
}

Components CrtOf(Q_KEY_OBJ key) {
  void* info = nullptr;
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPrivateCRT) == 0);
  const auto* crt = static_cast<const Q_RSA_PRIVATE_CRT_KEY*>(info);
  return Components{{ToBytes(crt->modulus), ToBytes(crt->publicExponent), ToBytes(crt->privateExponent),
                     ToBytes(crt->prime[0]), ToBytes(crt->prime[1]), ToBytes(crt->primeExponent[0]),
                     ToBytes(crt->primeExponent[1]), ToBytes(crt->coefficient)}};
}

// Writes the key's |form| (a BER info type); false when it cannot be written.
bool BerOf(Q_KEY_OBJ key, Q_INFO_TYPE form, Bytes* out) {
  void* info = nullptr;
  int status = Q_GetKeyInfo(&info, key, form);
  if (status != 0) {
    FuzzCheck(status == Q_ERR_DER_TOO_LONG || status == Q_ERR_GET_KEY_INFO || status == Q_ERR_INPUT_DATA);
    return false;
  }
  *out = ToBytes(*static_cast<const Q_ITEM*>(info));
  // Asking twice gives the cached form.
  void* again = nullptr;
  FuzzCheck(Q_GetKeyInfo(&again, key, form) == 0 && again == info);
  return true;
}

Q_KEY_OBJ Import(Q_INFO_TYPE form, const Bytes& ber) {
  Q_KEY_OBJ key = nullptr;
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  Q_ITEM item{const_cast<uint8_t*>(ber.data()), static_cast<uint32_t>(ber.size())};
  FuzzCheck(Q_SetKeyInfo(key, form, &item) == 0);
  return key;
}

void CheckPublic(Q_KEY_OBJ key) {
  const Components pub = PublicOf(key);
  void* info = nullptr;
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPrivateCRT) != 0);
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPrivate) != 0);
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPrivateBER) != 0);
  Bytes ber;
  if (!BerOf(key, QK_RSAPublicBER, &ber)) return;
  Q_KEY_OBJ again = Import(QK_RSAPublicBER, ber);
  FuzzCheck(PublicOf(again) == pub);
  Bytes berAgain;
  FuzzCheck(BerOf(again, QK_RSAPublicBER, &berAgain) && berAgain == ber);
  FuzzCheck(Q_DestroyKeyObject(&again) == 0);
}

void CheckPrivate(Q_KEY_OBJ key) {
  const Components crt = CrtOf(key);
  const Components pub = PublicOf(key);
  FuzzCheck(pub.values[0] == crt.values[0] && pub.values[1] == crt.values[1]);
  void* info = nullptr;
  FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPrivate) == 0);
  const auto* priv = static_cast<const Q_RSA_PRIVATE_KEY*>(info);
  FuzzCheck(ToBytes(priv->modulus) == crt.values[0] && ToBytes(priv->exponent) == crt.values[2]);

  Bytes ber;
  if (BerOf(key, QK_RSAPrivateBER, &ber)) {
    Q_KEY_OBJ again = Import(QK_RSAPrivateBER, ber);
    FuzzCheck(CrtOf(again) == crt);
    Bytes berAgain;
    FuzzCheck(BerOf(again, QK_RSAPrivateBER, &berAgain) && berAgain == ber);
    FuzzCheck(Q_DestroyKeyObject(&again) == 0);
  }
  Bytes pubBer;
  if (BerOf(key, QK_RSAPublicBER, &pubBer)) {
    Q_KEY_OBJ pubKey = Import(QK_RSAPublicBER, pubBer);
    FuzzCheck(PublicOf(pubKey) == pub);
    FuzzCheck(Q_DestroyKeyObject(&pubKey) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0xFFFFFFFFu) return 0;
  const bool isPrivate = (data[0] & 1) != 0;
  const Q_INFO_TYPE form = isPrivate ? QK_RSAPrivateBER : QK_RSAPublicBER;
  // The encoding gets a block of its own so that reads past it are caught.
  Bytes ber(data + 1, data + size);
  Q_ITEM item{ber.data(), static_cast<uint32_t>(ber.size())};

  Q_KEY_OBJ key = nullptr;
  FuzzCheck(Q_CreateKeyObject(&key) == 0);
  int status = Q_SetKeyInfo(key, form, &item);
  if (status == 0) {
    if (isPrivate) {
      CheckPrivate(key);
    } else {
      CheckPublic(key);
    }
  } else {
    // A failed set leaves no key behind: the object still takes one.
    void* info = nullptr;
    FuzzCheck(Q_GetKeyInfo(&info, key, QK_RSAPublic) == Q_ERR_KEY_NOT_SET);
  }
  FuzzCheck(Q_DestroyKeyObject(&key) == 0);
  FuzzCheck(key == nullptr);
  return 0;
}
