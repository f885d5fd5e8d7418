// Modular exponentiation against the reference's constant-time Montgomery
// exponentiation, with full-length odd moduli and full-length exponents.
//
// Fairness: our QN_ModExp takes base, exponent and modulus only, so each call
// computes its Montgomery constant, R^2 mod m and its window table. The
// reference gets a BN_CTX and a BN_MONT_CTX (which holds R^2 mod m) built
// once outside the timed part, as its callers normally keep them; that setup
// is not charged to it.
//
// The modexp*portable comparisons run ours with the vector kernels switched
// off, to follow the 64-bit kernels on machines that have the vector ones.
#include <openssl/bn.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/ratio.h"
#include "cryptokit/bignum.h"

namespace {

// Deterministic bytes for the inputs (both sides read the same ones).
std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint64_t s = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (auto& b : out) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    b = static_cast<uint8_t>(s >> 24);
  }
  return out;
}

struct Inputs {
  QN_BIGNUM base{}, exponent{}, modulus{}, result{};
  BIGNUM* bnBase = nullptr;
  BIGNUM* bnExponent = nullptr;
  BIGNUM* bnModulus = nullptr;
  BIGNUM* bnResult = nullptr;
  BN_CTX* ctx = nullptr;
  BN_MONT_CTX* mont = nullptr;

  explicit Inputs(size_t bits) {
    size_t n = bits / 8;
    std::vector<uint8_t> m = Bytes(n, 1), e = Bytes(n, 2), b = Bytes(n, 3);
    m[0] |= 0x80;  // full length
    m[n - 1] |= 1;  // odd
    e[0] |= 0x80;
    b[0] &= 0x7F;  // below the modulus
    if (QN_FromBytes(m.data(), static_cast<uint32_t>(n), &modulus) != 0 ||
        QN_FromBytes(e.data(), static_cast<uint32_t>(n), &exponent) != 0 ||
        QN_FromBytes(b.data(), static_cast<uint32_t>(n), &base) != 0) {
      std::fprintf(stderr, "bench_bignum: setup failed\n");
      std::abort();
    }
    bnModulus = BN_bin2bn(m.data(), static_cast<int>(n), nullptr);
    bnExponent = BN_bin2bn(e.data(), static_cast<int>(n), nullptr);
    bnBase = BN_bin2bn(b.data(), static_cast<int>(n), nullptr);
    bnResult = BN_new();
    ctx = BN_CTX_new();
    mont = BN_MONT_CTX_new();
    BN_MONT_CTX_set(mont, bnModulus, ctx);
    // Both sides must agree before anything is timed.
    Ours();
    Reference();
    std::vector<uint8_t> ours(n), ref(n);
    uint32_t len = 0;
    QN_ToFixedBytes(&result, static_cast<uint32_t>(n), static_cast<uint32_t>(n), &len, ours.data());
    BN_bn2binpad(bnResult, ref.data(), static_cast<int>(n));
    if (ours != ref) {
      std::fprintf(stderr, "bench_bignum: results differ at %zu bits\n", bits);
      std::abort();
    }
  }
  ~Inputs() {
    QN_Release(&base);
    QN_Release(&exponent);
    QN_Release(&modulus);
    QN_Release(&result);
    BN_free(bnBase);
    BN_free(bnExponent);
    BN_free(bnModulus);
    BN_free(bnResult);
    BN_MONT_CTX_free(mont);
    BN_CTX_free(ctx);
  }
  Inputs(const Inputs&) = delete;
  Inputs& operator=(const Inputs&) = delete;

  void Ours() {
    if (QN_ModExp(&base, &exponent, &modulus, &result, nullptr) != 0) std::abort();
  }
  void OursPortable() {
    QN_UseVectorKernels(0);
    int status = QN_ModExp(&base, &exponent, &modulus, &result, nullptr);
    QN_UseVectorKernels(1);
    if (status != 0) std::abort();
  }
  void Reference() {
    if (!BN_mod_exp_mont_consttime(bnResult, bnBase, bnExponent, bnModulus, ctx, mont)) std::abort();
  }
};

bench::Comparison ModExpComparison(const char* name, size_t bits) {
  auto inputs = std::make_shared<Inputs>(bits);
  return bench::Comparison{name, [inputs] { inputs->Ours(); }, [inputs] { inputs->Reference(); }};
}

bench::Comparison PortableComparison(const char* name, size_t bits) {
  auto inputs = std::make_shared<Inputs>(bits);
  return bench::Comparison{name, [inputs] { inputs->OursPortable(); }, [inputs] { inputs->Reference(); }};
}

}  // namespace

KVCA_BENCHMARK(modexp1024portable) { return PortableComparison("modexp1024portable", 1024); }
KVCA_BENCHMARK(modexp2048portable) { return PortableComparison("modexp2048portable", 2048); }
KVCA_BENCHMARK(modexp512) { return ModExpComparison("modexp512", 512); }
KVCA_BENCHMARK(modexp1024) { return ModExpComparison("modexp1024", 1024); }
KVCA_BENCHMARK(modexp2048) { return ModExpComparison("modexp2048", 2048); }
