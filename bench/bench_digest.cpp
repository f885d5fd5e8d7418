// md5, sha1, sha256, sha384 and sha512 (and the portable SHA-256 and SHA-512
// compressions): one 1 MiB message, digested in one Update, against
// libcrypto's one-shot MD5(), SHA1(), SHA256(), SHA384() and SHA512().
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "cryptokit/digest/digests.h"

namespace {

constexpr size_t kMessageBytes = 1 << 20;

std::shared_ptr<std::vector<uint8_t>> Message() {
  auto m = std::make_shared<std::vector<uint8_t>>(kMessageBytes);
  uint32_t x = 0x12345678;
  for (auto& b : *m) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return m;
}

// Keeps the digests observable so the work is not optimised away.
volatile uint8_t g_sink;

}  // namespace

KVCA_BENCHMARK(md5) {
  auto m = Message();
  return bench::Comparison{
      "md5",
      [m] {
        qk::Md5Context c;
        uint8_t out[16];
        qk::Md5Init(&c);
        qk::Md5Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Md5Final(&c, out);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[MD5_DIGEST_LENGTH];
        MD5(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

KVCA_BENCHMARK(sha1) {
  auto m = Message();
  qk::Sha1UseShaInstructions(true);
  return bench::Comparison{
      "sha1",
      [m] {
        qk::Sha1Context c;
        uint8_t out[20];
        qk::Sha1Init(&c);
        qk::Sha1Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha1Final(&c, out);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA_DIGEST_LENGTH];
        SHA1(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

KVCA_BENCHMARK(sha256) {
  auto m = Message();
  qk::Sha256UseShaInstructions(true);
  return bench::Comparison{
      "sha256",
      [m] {
        qk::Sha256Context c;
        uint8_t out[32];
        qk::Sha256Init(&c);
        qk::Sha256Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha256Final(&c, out);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA256_DIGEST_LENGTH];
        SHA256(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

// The portable SHA-256 compression, for machines without the SHA
// instructions; the reference is the same.
KVCA_BENCHMARK(sha256_portable) {
  auto m = Message();
  return bench::Comparison{
      "sha256_portable",
      [m] {
        qk::Sha256UseShaInstructions(false);
        qk::Sha256Context c;
        uint8_t out[32];
        qk::Sha256Init(&c);
        qk::Sha256Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha256Final(&c, out);
        qk::Sha256UseShaInstructions(true);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA256_DIGEST_LENGTH];
        SHA256(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

KVCA_BENCHMARK(sha384) {
  auto m = Message();
  return bench::Comparison{
      "sha384",
      [m] {
        qk::Sha384Context c;
        uint8_t out[48];
        qk::Sha384Init(&c);
        qk::Sha384Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha384Final(&c, out);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA384_DIGEST_LENGTH];
        SHA384(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

KVCA_BENCHMARK(sha512) {
  auto m = Message();
  return bench::Comparison{
      "sha512",
      [m] {
        qk::Sha512Context c;
        uint8_t out[64];
        qk::Sha512Init(&c);
        qk::Sha512Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha512Final(&c, out);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA512_DIGEST_LENGTH];
        SHA512(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}

// The portable SHA-512 compression, for machines without AVX2 and BMI2; the
// reference is the same.
KVCA_BENCHMARK(sha512_portable) {
  auto m = Message();
  return bench::Comparison{
      "sha512_portable",
      [m] {
        qk::Sha512UseVectorSchedule(false);
        qk::Sha512Context c;
        uint8_t out[64];
        qk::Sha512Init(&c);
        qk::Sha512Update(&c, m->data(), static_cast<uint32_t>(m->size()));
        qk::Sha512Final(&c, out);
        qk::Sha512UseVectorSchedule(true);
        g_sink = out[0];
      },
      [m] {
        uint8_t out[SHA512_DIGEST_LENGTH];
        SHA512(m->data(), m->size(), out);
        g_sink = out[0];
      },
  };
}
