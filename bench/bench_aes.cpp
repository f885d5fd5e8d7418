// aes256cbc_enc, aes256cbc_dec: a 16 KiB message through the AES-256-CBC
// methods (keying, update, final with padding), against libcrypto's EVP
// AES-256-CBC. hmac_sha256: a 4 KiB message keyed afresh each time, against
// libcrypto's HMAC(). pbkdf2_sha256: 32 bytes with 600,000 iterations, the
// work of unlocking a key file, against PKCS5_PBKDF2_HMAC.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "cryptokit/aes/aes.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/hmac/hmac.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::shared_ptr<Bytes> Pseudo(size_t n, uint32_t x) {
  auto m = std::make_shared<Bytes>(n);
  for (auto& b : *m) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return m;
}

volatile uint8_t g_sink;

constexpr size_t kCbcBytes = 16 << 10;

// One whole pass of an AES-256-CBC method over |in| into |out|.
void OurCbc(const Q_ALGORITHM_METHOD& method, const Bytes& key, const Bytes& iv, const Bytes& in, Bytes* out) {
  const auto* ops = static_cast<const qk::AesCbcMethodOps*>(method.operations);
  qk::AesCbcContext c;
  uint32_t n = 0, m = 0;
  ops->init(&c, key.data(), iv.data());
  ops->update(&c, out->data(), &n, static_cast<uint32_t>(out->size()), in.data(), static_cast<uint32_t>(in.size()));
  ops->final(&c, out->data() + n, &m, static_cast<uint32_t>(out->size()) - n);
  g_sink = (*out)[0];
}

void TheirCbc(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in, Bytes* out) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0, m = 0;
  EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
  EVP_CipherUpdate(ctx, out->data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out->data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  g_sink = (*out)[0];
}

}  // namespace

KVCA_BENCHMARK(aes256cbc_enc) {
  qk::AesUseAesInstructions(true);
  auto key = Pseudo(32, 1), iv = Pseudo(16, 2), plain = Pseudo(kCbcBytes, 3);
  auto out = std::make_shared<Bytes>(kCbcBytes + 16);
  return bench::Comparison{
      "aes256cbc_enc",
      [=] { OurCbc(QM_AES256CBCEncrypt, *key, *iv, *plain, out.get()); },
      [=] { TheirCbc(true, *key, *iv, *plain, out.get()); },
  };
}

KVCA_BENCHMARK(aes256cbc_dec) {
  qk::AesUseAesInstructions(true);
  auto key = Pseudo(32, 1), iv = Pseudo(16, 2), plain = Pseudo(kCbcBytes, 3);
  auto cipher = std::make_shared<Bytes>(kCbcBytes + 16);
  TheirCbc(true, *key, *iv, *plain, cipher.get());
  auto out = std::make_shared<Bytes>(kCbcBytes + 16);
  return bench::Comparison{
      "aes256cbc_dec",
      [=] { OurCbc(QM_AES256CBCDecrypt, *key, *iv, *cipher, out.get()); },
      [=] { TheirCbc(false, *key, *iv, *cipher, out.get()); },
  };
}

KVCA_BENCHMARK(hmac_sha256) {
  auto key = Pseudo(32, 4), msg = Pseudo(4096, 5);
  auto context = std::make_shared<std::vector<uint64_t>>(qk::kHmacSha256Ops.contextSize / 8 + 1);
  return bench::Comparison{
      "hmac_sha256",
      [=] {
        const qk::HmacMethodOps& ops = qk::kHmacSha256Ops;
        uint8_t mac[32];
        ops.init(context->data(), key->data(), static_cast<uint32_t>(key->size()));
        ops.update(context->data(), msg->data(), static_cast<uint32_t>(msg->size()));
        ops.final(context->data(), mac);
        g_sink = mac[0];
      },
      [=] {
        uint8_t mac[32];
        unsigned len = 0;
        HMAC(EVP_sha256(), key->data(), static_cast<int>(key->size()), msg->data(), msg->size(), mac, &len);
        g_sink = mac[0];
      },
  };
}

KVCA_BENCHMARK(pbkdf2_sha256) {
  auto password = Pseudo(12, 6), salt = Pseudo(16, 7);
  constexpr uint32_t kIterations = 600000;
  const Q_ALGORITHM_METHOD* const chooser[] = {&QM_HMACSHA256, nullptr};
  return bench::Comparison{
      "pbkdf2_sha256",
      [=] {
        uint8_t key[32];
        Q_PBKDF2(QA_HMACSHA256, chooser, password->data(), static_cast<uint32_t>(password->size()), salt->data(),
                 static_cast<uint32_t>(salt->size()), kIterations, key, sizeof key, nullptr);
        g_sink = key[0];
      },
      [=] {
        uint8_t key[32];
        PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password->data()), static_cast<int>(password->size()),
                          salt->data(), static_cast<int>(salt->size()), kIterations, EVP_sha256(), sizeof key, key);
        g_sink = key[0];
      },
  };
}
