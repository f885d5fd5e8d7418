// Prepared Montgomery contexts and the radix-2^52 vector kernels: both the
// vector and the 64-bit paths against each other and against GMP, the CRT
// step with prepared primes, allocation failure and wiping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bignum/bn_support.h"
#include "cryptokit/qmemory.h"

namespace {

using bntest::FromMpz;
using bntest::Hex;
using bntest::Num;

struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  ~Z() { mpz_clear(v); }
  Z(const Z&) = delete;
  Z& operator=(const Z&) = delete;
  operator mpz_ptr() { return v; }
};

struct Rng {
  gmp_randstate_t state;
  explicit Rng(unsigned long seed) {
    gmp_randinit_mt(state);
    gmp_randseed_ui(state, seed);
  }
  ~Rng() { gmp_randclear(state); }
  Rng(const Rng&) = delete;
  Rng& operator=(const Rng&) = delete;
  unsigned long Below(unsigned long n) { return gmp_urandomm_ui(state, n); }
  // Uniform bits, or long runs of ones and zeros (carry-heavy limbs).
  void Fill(mpz_t z, unsigned long bits) {
    if (Below(2)) mpz_urandomb(z, state, bits);
    else mpz_rrandomb(z, state, bits);
  }
};

// Restores the default kernel choice when a test ends.
struct KernelChoice {
  explicit KernelChoice(int use) { QN_UseVectorKernels(use); }
  ~KernelChoice() { QN_UseVectorKernels(1); }
  KernelChoice(const KernelChoice&) = delete;
  KernelChoice& operator=(const KernelChoice&) = delete;
};

// Owns a context for a scope.
struct Mont {
  QN_MONT_CTX c{};
  Mont() = default;
  Mont(const Mont&) = delete;
  Mont& operator=(const Mont&) = delete;
  ~Mont() { QN_MontRelease(&c); }
};

// base^e mod m through a context made with the vector kernels on or off.
std::string PowerWith(int vector, const QN_BIGNUM* b, const QN_BIGNUM* e, const QN_BIGNUM* m, int* limbs52) {
  KernelChoice choice(vector);
  Mont ctx;
  Num r;
  if (QN_MontSet(m, &ctx.c) != 0) return "<set failed>";
  *limbs52 = ctx.c.limbs52;
  if (QN_ModExpMont(b, e, &ctx.c, r, nullptr) != 0) return "<exp failed>";
  return Hex(r);
}

// base^e mod m by the constant-time entry point, kernels as PowerWith.
std::string PowerConsttime(int vector, const QN_BIGNUM* b, const QN_BIGNUM* e, const QN_BIGNUM* m) {
  KernelChoice choice(vector);
  Mont ctx;
  Num r;
  if (QN_MontSet(m, &ctx.c) != 0) return "<set failed>";
  if (QN_ModExpMontConsttime(b, e, &ctx.c, r, nullptr) != 0) return "<exp failed>";
  return Hex(r);
}

// Moduli whose sizes hit the vector kernels (and their neighbours, which
// must take the 64-bit path), with special values among random ones.
TEST(BignumVector, AgreesWithScalarAndGmp) {
  const bool vector = QN_VectorKernelsAvailable() != 0;
  Rng rng(52);
  const unsigned long kBits[] = {512, 1024, 1000, 961, 2048, 2017, 1025, 960,
                                 1536, 1473, 1537, 1472, 3072, 3009, 4096, 4033, 4097};
  for (unsigned long bits : kBits) {
    for (int round = 0; round < 12; ++round) {
      Z zm, zb, ze, want;
      switch (round) {
        case 0:  // 2^bits - 1: every limb all ones
          mpz_ui_pow_ui(zm, 2, bits);
          mpz_sub_ui(zm, zm, 1);
          break;
        case 1:  // 2^(bits-1) + 1
          mpz_ui_pow_ui(zm, 2, bits - 1);
          mpz_add_ui(zm, zm, 1);
          break;
        default:
          rng.Fill(zm, bits);
          mpz_setbit(zm, bits - 1);
          mpz_setbit(zm, 0);
      }
      switch (round % 6) {
        case 0: mpz_sub_ui(zb, zm, 1); break;                   // m - 1
        case 1: mpz_set_ui(zb, 0); break;                       // 0
        case 2: rng.Fill(zb, bits + 40); break;                 // above m
        default: rng.Fill(zb, bits); break;
      }
      switch (round % 4) {
        case 0: mpz_set_ui(ze, 65537); break;
        case 1: mpz_set_ui(ze, round % 8 == 1 ? 0 : 1); break;  // 0 and 1
        default: rng.Fill(ze, bits); break;
      }
      mpz_powm(want, zb, ze, zm);
      Num m, b, e;
      ASSERT_EQ(FromMpz(m, zm), 0);
      ASSERT_EQ(FromMpz(b, zb), 0);
      ASSERT_EQ(FromMpz(e, ze), 0);
      int limbsOn = -1, limbsOff = -1;
      std::string on = PowerWith(1, b, e, m, &limbsOn);
      std::string off = PowerWith(0, b, e, m, &limbsOff);
      EXPECT_EQ(on, Hex(want)) << bits << " bits, round " << round;
      EXPECT_EQ(off, Hex(want)) << bits << " bits, round " << round;
      EXPECT_EQ(PowerConsttime(1, b, e, m), Hex(want)) << bits << " bits, round " << round << ", constant time";
      EXPECT_EQ(PowerConsttime(0, b, e, m), Hex(want)) << bits << " bits, round " << round << ", constant time";
      EXPECT_EQ(limbsOff, 0);
      const unsigned long words64 = (bits + 63) / 64;
      const bool sized = words64 == 8 || words64 == 16 || words64 == 24 || words64 == 32 || words64 == 48 ||
                         words64 == 64;
      if (vector && sized) {
        EXPECT_NE(limbsOn, 0) << bits;
      }
      if (!sized) {
        EXPECT_EQ(limbsOn, 0) << bits;
      }
      // The unprepared entry point agrees too.
      Num r;
      ASSERT_EQ(QN_ModExp(b, e, m, r, nullptr), 0);
      EXPECT_EQ(Hex(r), Hex(want));
    }
  }
}

// Many random operands at each kernel size with 64-bit exponents (each a
// few dozen kernel calls): vector and 64-bit paths give the same values.
TEST(BignumVector, ManyRandomOperands) {
  Rng rng(1040);
  for (unsigned long bits : {512ul, 1024ul, 1536ul, 2048ul, 3072ul, 4096ul, 1003ul}) {
    for (int round = 0; round < 150; ++round) {
      Z zm, zb, ze;
      rng.Fill(zm, bits);
      mpz_setbit(zm, bits - 1);
      mpz_setbit(zm, 0);
      rng.Fill(zb, bits);
      rng.Fill(ze, 64);
      Num m, b, e;
      ASSERT_EQ(FromMpz(m, zm), 0);
      ASSERT_EQ(FromMpz(b, zb), 0);
      ASSERT_EQ(FromMpz(e, ze), 0);
      int limbs = 0;
      std::string on = PowerWith(1, b, e, m, &limbs);
      std::string off = PowerWith(0, b, e, m, &limbs);
      ASSERT_EQ(on, off) << bits << " bits, round " << round;
      if (round % 10 == 0) {
        Z want;
        mpz_powm(want, zb, ze, zm);
        ASSERT_EQ(on, Hex(want));
      }
    }
  }
}

// An RSA-like key of |bits| bits made with GMP.
struct Key {
  Num p, q, dp, dq, qinv, x;
  Z zp, zq, zn, zd, zx;
  Key(Rng& rng, unsigned long bits) {
    Z t, zdp, zdq, zqinv, zp1, zq1, phi, e;
    do {
      rng.Fill(zp, bits / 2);
      mpz_setbit(zp, bits / 2 - 1);
      mpz_nextprime(zp, zp);
      rng.Fill(zq, bits / 2);
      mpz_setbit(zq, bits / 2 - 1);
      mpz_nextprime(zq, zq);
    } while (mpz_cmp(zp, zq) == 0);
    mpz_mul(zn, zp, zq);
    mpz_sub_ui(zp1, zp, 1);
    mpz_sub_ui(zq1, zq, 1);
    mpz_lcm(phi, zp1, zq1);
    mpz_set_ui(e, 65537);
    while (mpz_invert(zd, e, phi) == 0) mpz_add_ui(e, e, 2);
    mpz_mod(zdp, zd, zp1);
    mpz_mod(zdq, zd, zq1);
    mpz_invert(zqinv, zq, zp);
    rng.Fill(zx, bits);
    mpz_mod(zx, zx, zn);
    FromMpz(p, zp);
    FromMpz(q, zq);
    FromMpz(dp, zdp);
    FromMpz(dq, zdq);
    FromMpz(qinv, zqinv);
    FromMpz(x, zx);
  }
};

TEST(BignumVector, CrtWithPreparedPrimes) {
  Rng rng(2048);
  for (unsigned long bits : {1024ul, 2048ul, 1536ul}) {
    for (int round = 0; round < 3; ++round) {
      Key k(rng, bits);
      Z want;
      mpz_powm(want, k.zx, k.zd, k.zn);
      for (int vector = 0; vector <= 1; ++vector) {
        KernelChoice choice(vector);
        Mont cp, cq;
        ASSERT_EQ(QN_MontSet(k.p, &cp.c), 0);
        ASSERT_EQ(QN_MontSet(k.q, &cq.c), 0);
        Num r;
        ASSERT_EQ(QN_CrtPrivateMont(k.x, &cp.c, &cq.c, k.dp, k.dq, k.qinv, r, nullptr), 0);
        EXPECT_EQ(Hex(r), Hex(want)) << bits << " bits, vector " << vector;
        // Contexts are reusable.
        ASSERT_EQ(QN_CrtPrivateMont(k.x, &cp.c, &cq.c, k.dp, k.dq, k.qinv, r, nullptr), 0);
        EXPECT_EQ(Hex(r), Hex(want));
      }
    }
  }
}

// The constant-time CRT step against the plain one for inputs that are not
// a well-formed key: a second prime much longer than the first (the input
// then spans several chunks of the first), a coefficient and exponents not
// reduced, inputs 0 and far above the modulus, tiny moduli.
TEST(BignumVector, ConstantTimeCrtMatchesThePlainStep) {
  struct Case {
    const char* name;
    unsigned long pBits, qBits, dBits, qInvBits, xBits;
  };
  const Case cases[] = {
      {"balanced 1024", 512, 512, 512, 512, 1024},
      {"balanced 2048", 1024, 1024, 1024, 1024, 2048},
      {"balanced 3072", 1536, 1536, 1536, 1536, 3072},
      {"balanced 4096", 2048, 2048, 2048, 2048, 4096},
      {"q much longer than p", 256, 1500, 256, 256, 1756},
      {"p longer than q", 1024, 300, 1024, 1024, 1324},
      {"unreduced exponents and coefficient", 512, 512, 700, 900, 1024},
      {"x far above p*q", 512, 512, 512, 512, 3000},
      {"x is 0", 512, 512, 512, 512, 0},
      {"one-limb primes", 40, 33, 40, 40, 70},
  };
  Rng rng(77);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int round = 0; round < 3; ++round) {
      Z zp, zq, zdp, zdq, zqinv, zx;
      rng.Fill(zp, c.pBits);
      mpz_setbit(zp, c.pBits - 1);
      mpz_setbit(zp, 0);
      rng.Fill(zq, c.qBits);
      mpz_setbit(zq, c.qBits - 1);
      mpz_setbit(zq, 0);
      rng.Fill(zdp, c.dBits);
      rng.Fill(zdq, c.dBits);
      rng.Fill(zqinv, c.qInvBits);
      if (c.xBits != 0) rng.Fill(zx, c.xBits);
      Num p, q, dp, dq, qinv, x, want;
      ASSERT_EQ(FromMpz(p, zp), 0);
      ASSERT_EQ(FromMpz(q, zq), 0);
      ASSERT_EQ(FromMpz(dp, zdp), 0);
      ASSERT_EQ(FromMpz(dq, zdq), 0);
      ASSERT_EQ(FromMpz(qinv, zqinv), 0);
      ASSERT_EQ(FromMpz(x, zx), 0);
      ASSERT_EQ(QN_CrtPrivate(x, p, q, dp, dq, qinv, want, nullptr), 0);
      for (int vector = 0; vector <= 1; ++vector) {
        KernelChoice choice(vector);
        Mont cp, cq;
        ASSERT_EQ(QN_MontSet(p, &cp.c), 0);
        ASSERT_EQ(QN_MontSet(q, &cq.c), 0);
        Num r;
        ASSERT_EQ(QN_CrtPrivateMont(x, &cp.c, &cq.c, dp, dq, qinv, r, nullptr), 0);
        EXPECT_EQ(Hex(r), Hex(want)) << "round " << round << ", vector " << vector;
      }
    }
  }
}

// The constant-time path does the same work for every exponent below the
// modulus: as many windows (surrender calls) for 0, 1, a short and a full
// exponent. The plain path's count follows the exponent's length.
TEST(BignumVector, ConstantTimeWorkDoesNotFollowTheExponent) {
  Rng rng(9);
  for (unsigned long bits : {512ul, 1024ul, 1003ul}) {
    Z zm, zb, zfull;
    rng.Fill(zm, bits);
    mpz_setbit(zm, bits - 1);
    mpz_setbit(zm, 0);
    rng.Fill(zb, bits - 1);
    rng.Fill(zfull, bits - 1);
    Num m, b;
    ASSERT_EQ(FromMpz(m, zm), 0);
    ASSERT_EQ(FromMpz(b, zb), 0);
    for (int vector = 0; vector <= 1; ++vector) {
      KernelChoice choice(vector);
      Mont ctx;
      ASSERT_EQ(QN_MontSet(m, &ctx.c), 0);
      std::vector<int> calls;
      for (unsigned long e : {0ul, 1ul, 65537ul, 0ul}) {
        Num ex, r;
        Z ze;
        if (calls.size() == 3) {
          mpz_set(ze, zfull);
        } else {
          mpz_set_ui(ze, e);
        }
        ASSERT_EQ(FromMpz(ex, ze), 0);
        int count = 0;
        Q_SURRENDER_CTX counter{[](void* h) { return ++*static_cast<int*>(h), 0; }, &count};
        ASSERT_EQ(QN_ModExpMontConsttime(b, ex, &ctx.c, r, &counter), 0);
        calls.push_back(count);
      }
      EXPECT_EQ(calls, std::vector<int>(4, calls[0])) << bits << " bits, vector " << vector;
      EXPECT_GT(calls[0], 100);
    }
  }
}

TEST(BignumVector, StatusesAndSurrender) {
  Num even, b, e;
  ASSERT_EQ(QN_SetWord(1000, even), 0);
  ASSERT_EQ(QN_SetWord(7, b), 0);
  ASSERT_EQ(QN_SetWord(5, e), 0);
  Mont ctx;
  EXPECT_EQ(QN_MontSet(even, &ctx.c), QN_ERR_MODULUS);
  EXPECT_EQ(ctx.c.limbs, 0);
  Num r;
  EXPECT_EQ(QN_ModExpMont(b, e, &ctx.c, r, nullptr), QN_ERR_MODULUS) << "an empty context";

  // The same surrender calls as the unprepared operation: one first, then
  // one per window after the first.
  Rng rng(3);
  Z zm, ze;
  rng.Fill(zm, 1024);
  mpz_setbit(zm, 1023);
  mpz_setbit(zm, 0);
  mpz_set_ui(ze, 0x2ab);  // 10 bits: 5 windows of 2
  Num m, ex;
  ASSERT_EQ(FromMpz(m, zm), 0);
  ASSERT_EQ(FromMpz(ex, ze), 0);
  ASSERT_EQ(QN_MontSet(m, &ctx.c), 0);
  struct Stopper {
    int calls = 0, stopAt = 0;
    static int Call(void* h) {
      auto* s = static_cast<Stopper*>(h);
      return ++s->calls == s->stopAt ? 77 : 0;
    }
  } s;
  Q_SURRENDER_CTX surrender{&Stopper::Call, &s};
  ASSERT_EQ(QN_ModExpMont(b, ex, &ctx.c, r, &surrender), 0);
  EXPECT_EQ(s.calls, 5);
  for (int stopAt = 1; stopAt <= 5; ++stopAt) {
    s = Stopper{0, stopAt};
    EXPECT_EQ(QN_ModExpMont(b, ex, &ctx.c, r, &surrender), 77);
    EXPECT_EQ(s.calls, stopAt);
  }
}

struct WipeCheck {
  int released = 0, dirty = 0;
  static void OnRelease(const void* block, uint32_t size, void* context) {
    auto* w = static_cast<WipeCheck*>(context);
    ++w->released;
    const auto* p = static_cast<const uint8_t*>(block);
    for (uint32_t i = 0; i < size; ++i) {
      if (p[i] != 0) {
        ++w->dirty;
        return;
      }
    }
  }
};

// Each allocation of setting up the contexts and of the CRT step fails in
// turn: 256, nothing left behind; every released block is wiped.
TEST(BignumVector, AllocationFailureAndWiping) {
  Rng rng(9);
  Key k(rng, 2048);
  for (int vector = 0; vector <= 1; ++vector) {
    KernelChoice choice(vector);
    const int64_t live = QMem_LiveBlocks();
    for (uint64_t failAt = 1;; ++failAt) {
      WipeCheck check;
      QMem_TestHooks hooks;
      hooks.failAt = failAt;
      hooks.onRelease = &WipeCheck::OnRelease;
      hooks.context = &check;
      QMem_SetTestHooks(&hooks);
      int status = 0;
      {
        Mont cp, cq;
        Num r;
        status = QN_MontSet(k.p, &cp.c);
        if (status == 0) status = QN_MontSet(k.q, &cq.c);
        if (status == 0) status = QN_CrtPrivateMont(k.x, &cp.c, &cq.c, k.dp, k.dq, k.qinv, r, nullptr);
      }
      const uint64_t attempted = QMem_AllocationCount();
      QMem_SetTestHooks(nullptr);
      ASSERT_EQ(QMem_LiveBlocks(), live) << "allocation " << failAt;
      EXPECT_EQ(check.dirty, 0) << "allocation " << failAt;
      if (failAt > attempted) {
        ASSERT_EQ(status, 0);
        ASSERT_GT(check.released, 5);
        break;
      }
      ASSERT_EQ(status, QN_ERR_ALLOC) << "allocation " << failAt;
    }
  }
}

}  // namespace
