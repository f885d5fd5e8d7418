// Big-number tests: agreement with GMP on random operands, the failure
// statuses, allocation failure, wiping of released blocks and the surrender
// callback.
#include <gtest/gtest.h>

#include <functional>

#include "bignum/bn_support.h"
#include "cryptokit/qmemory.h"

namespace {

using bntest::FromMpz;
using bntest::Hex;
using bntest::Num;
using bntest::SetHex;

// GMP integers and a seeded generator for one test.
struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  ~Z() { mpz_clear(v); }
  Z(const Z&) = delete;
  Z& operator=(const Z&) = delete;
  operator mpz_ptr() { return v; }
  mpz_ptr operator->() { return v; }  // for GMP's macros (mpz_sgn...)
};

class Random {
 public:
  explicit Random(unsigned long seed) {
    gmp_randinit_mt(state_);
    gmp_randseed_ui(state_, seed);
  }
  ~Random() { gmp_randclear(state_); }
  Random(const Random&) = delete;
  Random& operator=(const Random&) = delete;
  unsigned long Below(unsigned long n) { return gmp_urandomm_ui(state_, n); }
  // A bit size from 1 to 2048, favouring word and limb boundaries.
  unsigned long Bits() {
    static const unsigned long kEdges[] = {1, 31, 32, 33, 63, 64, 65, 95, 96, 127, 128, 480, 511, 512, 513, 1023, 1024,
                                           1025, 1056, 1535, 1536, 2047, 2048};
    if (Below(3) == 0) return kEdges[Below(sizeof(kEdges) / sizeof(kEdges[0]))];
    return 1 + Below(2048);
  }
  // A value of at most |bits| bits: uniform, or with long runs of ones and
  // zeros (which exercise carries and quotient corrections).
  void Fill(mpz_t z, unsigned long bits) {
    if (Below(2)) mpz_urandomb(z, state_, bits);
    else mpz_rrandomb(z, state_, bits);
  }
  // A value of exactly |bits| bits.
  void FillExact(mpz_t z, unsigned long bits) {
    Fill(z, bits);
    mpz_setbit(z, bits - 1);
  }
  gmp_randstate_t state_;
};

// Sets |n| from |z| and checks it round-trips.
void Load(QN_BIGNUM* n, const mpz_t z) { ASSERT_EQ(FromMpz(n, z), 0); }

void ExpectSame(const QN_BIGNUM* n, const mpz_t z, const std::string& what) {
  ASSERT_EQ(Hex(n), Hex(z)) << what;
  // Results are normalised: non-zero top word, or the single word 0.
  ASSERT_GE(n->length, 1) << what;
  ASSERT_TRUE(n->words[n->length - 1] != 0 || n->length == 1) << what;
}

TEST(BignumGmp, AddSubtractMultiply) {
  Random rng(1);
  for (int i = 0; i < 3000; ++i) {
    Z za, zb, zr;
    rng.Fill(za, rng.Bits());
    rng.Fill(zb, rng.Bits());
    Num a, b, r;
    Load(a, za);
    Load(b, zb);
    mpz_add(zr, za, zb);
    ASSERT_EQ(QN_Add(a, b, r), 0);
    ExpectSame(r, zr, "add");
    mpz_mul(zr, za, zb);
    ASSERT_EQ(QN_Multiply(a, b, r), 0);
    ExpectSame(r, zr, "multiply");
    if (mpz_cmp(za, zb) < 0) {
      ASSERT_EQ(QN_Subtract(a, b, r), QN_ERR_NEGATIVE);
      mpz_sub(zr, zb, za);
      ASSERT_EQ(QN_Subtract(b, a, r), 0);
    } else {
      mpz_sub(zr, za, zb);
      ASSERT_EQ(QN_Subtract(a, b, r), 0);
    }
    ExpectSame(r, zr, "subtract");
    int cmp = mpz_cmp(za, zb);
    ASSERT_EQ(QN_Compare(a, b), cmp < 0 ? -1 : cmp > 0 ? 1 : 0);
    ASSERT_EQ(QN_BitLength(a), mpz_sgn(za) == 0 ? 1 : static_cast<int32_t>(mpz_sizeinbase(za, 2)));

    // Outputs aliasing inputs.
    Num c, d;
    Load(c, za);
    Load(d, zb);
    mpz_mul(zr, za, zb);
    ASSERT_EQ(QN_Multiply(c, d, c), 0);
    ExpectSame(c, zr, "multiply into a");
    Load(c, za);
    ASSERT_EQ(QN_Multiply(c, c, c), 0);
    mpz_mul(zr, za, za);
    ExpectSame(c, zr, "square in place");
    Load(c, za);
    ASSERT_EQ(QN_Add(c, d, d), 0);
    mpz_add(zr, za, zb);
    ExpectSame(d, zr, "add into b");
    ASSERT_EQ(QN_Subtract(d, c, d), 0);
    ExpectSame(d, zb, "subtract into a");
  }
}

TEST(BignumGmp, WordOperations) {
  Random rng(2);
  for (int i = 0; i < 3000; ++i) {
    Z za, zr;
    rng.Fill(za, rng.Bits());
    uint32_t w = static_cast<uint32_t>(rng.Below(4) == 0 ? rng.Below(0x10000) : rng.Below(0xFFFFFFFFul) + 1);
    if (rng.Below(8) == 0) w = 0xFFFFFFFFu;
    if (rng.Below(8) == 0) w = 0xFFFFu;
    if (rng.Below(8) == 0) w = 0x10000u;
    Num a;
    Load(a, za);
    if (w != 0) {
      uint32_t rem = 0;
      ASSERT_EQ(QN_ModuloWord(a, w, &rem), 0);
      ASSERT_EQ(rem, mpz_fdiv_ui(za, w)) << "mod word " << w;
    }
    mpz_add_ui(zr, za, w);
    ASSERT_EQ(QN_AddWord(w, a), 0);
    ExpectSame(a, zr, "add word");
    Load(a, za);
    if (mpz_cmp_ui(za, w) < 0) {
      ASSERT_EQ(QN_SubtractWord(w, a), QN_ERR_NEGATIVE);
      ExpectSame(a, za, "failed subtract word leaves the value");
    } else {
      mpz_sub_ui(zr, za, w);
      ASSERT_EQ(QN_SubtractWord(w, a), 0);
      ExpectSame(a, zr, "subtract word");
    }
    // Bit access.
    Load(a, za);
    int32_t bit = static_cast<int32_t>(rng.Below(2100));
    int isSet = -1;
    ASSERT_EQ(QN_TestBit(a, bit, &isSet), 0);
    ASSERT_EQ(isSet, mpz_tstbit(za, static_cast<mp_bitcnt_t>(bit)));
    mpz_set(zr, za);
    mpz_setbit(zr, static_cast<mp_bitcnt_t>(bit));
    ASSERT_EQ(QN_SetBit(a, bit), 0);
    ExpectSame(a, zr, "set bit");
    mpz_clrbit(zr, static_cast<mp_bitcnt_t>(bit));
    ASSERT_EQ(QN_ClearBit(a, bit), 0);
    ExpectSame(a, zr, "clear bit");
  }
}

TEST(BignumGmp, DivisionAndModularOperations) {
  Random rng(3);
  for (int i = 0; i < 3000; ++i) {
    Z za, zb, zm, zq, zr;
    rng.Fill(za, rng.Bits());
    rng.Fill(zb, rng.Bits());
    do rng.Fill(zm, rng.Bits()); while (mpz_sgn(zm) == 0);
    Num a, b, m, q, r;
    Load(a, za);
    Load(b, zb);
    Load(m, zm);
    mpz_fdiv_qr(zq, zr, za, zm);
    ASSERT_EQ(QN_Divide(a, m, q, r), 0);
    ExpectSame(q, zq, "quotient");
    ExpectSame(r, zr, "remainder");
    // Quotient and remainder written over the operands.
    Num a2, m2;
    Load(a2, za);
    Load(m2, zm);
    ASSERT_EQ(QN_Divide(a2, m2, a2, m2), 0);
    ExpectSame(a2, zq, "quotient into a");
    ExpectSame(m2, zr, "remainder into b");
    Load(a2, za);
    ASSERT_EQ(QN_Modulo(a2, m, a2), 0);
    ExpectSame(a2, zr, "modulo in place");

    mpz_mul(zr, za, zb);
    mpz_mod(zr, zr, zm);
    ASSERT_EQ(QN_ModMultiply(a, b, m, r), 0);
    ExpectSame(r, zr, "modular multiply");
    Load(a2, za);
    ASSERT_EQ(QN_ModMultiply(a2, b, m, a2), 0);
    ExpectSame(a2, zr, "modular multiply into a");

    mpz_sub(zr, za, zb);
    mpz_mod(zr, zr, zm);
    ASSERT_EQ(QN_ModSubtract(a, b, m, r), 0);
    ExpectSame(r, zr, "modular subtract");
    Load(a2, zb);
    ASSERT_EQ(QN_ModSubtract(a, a2, m, a2), 0);
    ExpectSame(a2, zr, "modular subtract into b");

    if (mpz_sgn(za) != 0 || mpz_sgn(zb) != 0) {
      mpz_gcd(zr, za, zb);
      ASSERT_EQ(QN_Gcd(a, b, r), 0);
      ExpectSame(r, zr, "gcd");
    }
    // Inverse of a value below the modulus.
    mpz_mod(za, za, zm);
    Load(a, za);
    if (mpz_invert(zr, za, zm) != 0) {
      ASSERT_EQ(QN_ModInverse(a, m, r), 0);
      mpz_mod(zr, zr, zm);  // GMP answers 1 for the modulus 1
      ExpectSame(r, zr, "inverse");
    } else {
      ASSERT_EQ(QN_ModInverse(a, m, r), QN_ERR_NOT_INVERTIBLE);
    }
  }
}

TEST(BignumGmp, Conversions) {
  Random rng(4);
  for (int i = 0; i < 2000; ++i) {
    Z za;
    rng.Fill(za, rng.Bits());
    Num a, back;
    Load(a, za);
    uint32_t bytes = mpz_sgn(za) == 0 ? 1 : static_cast<uint32_t>((mpz_sizeinbase(za, 2) + 7) / 8);
    ASSERT_EQ(QN_ByteLength(a), bytes);
    std::vector<uint8_t> out(bytes + 3, 0xEE);
    uint32_t len = 0;
    ASSERT_EQ(QN_ToBytes(a, bytes - 1, &len, out.data()), QN_ERR_OUTPUT_SHORT);
    ASSERT_EQ(len, bytes);
    ASSERT_EQ(QN_ToBytes(a, bytes, &len, out.data()), 0);
    ASSERT_EQ(len, bytes);
    ASSERT_TRUE(bytes == 1 || out[0] != 0);
    // Fixed form, padded by up to three bytes, read back with the padding.
    uint32_t fixed = bytes + static_cast<uint32_t>(rng.Below(4));
    ASSERT_EQ(QN_ToFixedBytes(a, fixed, fixed, &len, out.data()), 0);
    ASSERT_EQ(len, fixed);
    ASSERT_EQ(QN_FromBytes(out.data(), fixed, back), 0);
    ExpectSame(back, za, "fixed bytes round trip");
    if (mpz_sgn(za) != 0) {
      ASSERT_EQ(QN_ToFixedBytes(a, bytes - 1, fixed, &len, out.data()), QN_ERR_FIXED_SHORT);
    }
    ASSERT_EQ(QN_ToFixedBytes(a, fixed, fixed - 1, &len, out.data()), QN_ERR_FIXED_SHORT);
  }
}

TEST(BignumGmp, ModExp) {
  Random rng(5);
  // Every size, then the sizes of the unrolled kernels with full-length
  // exponents (and odd word counts within them: 480 bits is 15 words).
  std::vector<std::pair<unsigned long, unsigned long>> cases;
  for (int i = 0; i < 400; ++i) cases.push_back({rng.Bits(), rng.Below(3) == 0 ? rng.Below(70) + 1 : rng.Bits()});
  for (unsigned long bits : {480ul, 512ul, 992ul, 1024ul, 1984ul, 2048ul}) {
    for (int i = 0; i < 6; ++i) cases.push_back({bits, bits});
  }
  for (auto [mbits, ebits] : cases) {
    Z zb, ze, zm, zr;
    rng.FillExact(zm, mbits);
    mpz_setbit(zm, 0);
    rng.Fill(zb, rng.Below(4) == 0 ? mbits + 64 : mbits);  // sometimes above the modulus
    rng.Fill(ze, ebits);
    Num b, e, m, r;
    Load(b, zb);
    Load(e, ze);
    Load(m, zm);
    mpz_powm(zr, zb, ze, zm);
    ASSERT_EQ(QN_ModExp(b, e, m, r, nullptr), 0);
    ExpectSame(r, zr, "modexp " + std::to_string(mbits) + " bits");
    ASSERT_EQ(QN_ModExp(b, e, m, b, nullptr), 0);
    ExpectSame(b, zr, "modexp into the base");
  }
}

TEST(BignumGmp, CrtPrivateStep) {
  Random rng(6);
  for (unsigned long bits : {32ul, 100ul, 256ul, 512ul, 1024ul}) {
    for (int i = 0; i < 4; ++i) {
      Z zp, zq, zn, ze, zd, zphi, zt, zx, zdp, zdq, zqinv, zr;
      rng.FillExact(zp, bits);
      mpz_nextprime(zp, zp);
      do {
        rng.FillExact(zq, bits);
        mpz_nextprime(zq, zq);
      } while (mpz_cmp(zp, zq) == 0);
      mpz_mul(zn, zp, zq);
      mpz_sub_ui(zt, zp, 1);
      mpz_sub_ui(zphi, zq, 1);
      mpz_mul(zphi, zphi, zt);
      mpz_set_ui(ze, 65537);
      while (mpz_invert(zd, ze, zphi) == 0) mpz_add_ui(ze, ze, 2);
      mpz_sub_ui(zt, zp, 1);
      mpz_mod(zdp, zd, zt);
      mpz_sub_ui(zt, zq, 1);
      mpz_mod(zdq, zd, zt);
      mpz_invert(zqinv, zq, zp);
      rng.Fill(zx, 2 * bits);
      mpz_mod(zx, zx, zn);
      mpz_powm(zr, zx, zd, zn);
      Num x, p, q, dp, dq, qinv, r;
      Load(x, zx);
      Load(p, zp);
      Load(q, zq);
      Load(dp, zdp);
      Load(dq, zdq);
      Load(qinv, zqinv);
      ASSERT_EQ(QN_CrtPrivate(x, p, q, dp, dq, qinv, r, nullptr), 0);
      ExpectSame(r, zr, "crt " + std::to_string(bits));
      ASSERT_EQ(QN_CrtPrivate(x, p, q, dp, dq, qinv, x, nullptr), 0);
      ExpectSame(x, zr, "crt into x");
    }
  }
}

// The failure statuses and the edge cases of the conversions.
TEST(Bignum, Statuses) {
  Num zero, one, two, six, nine, r;
  ASSERT_EQ(QN_SetWord(0, zero), 0);
  ASSERT_EQ(QN_SetWord(1, one), 0);
  ASSERT_EQ(QN_SetWord(2, two), 0);
  ASSERT_EQ(QN_SetWord(6, six), 0);
  ASSERT_EQ(QN_SetWord(9, nine), 0);
  uint32_t w = 0, k = 0;
  int isSet = 0;
  struct Case {
    const char* what;
    std::function<int()> op;
    int status;
  } cases[] = {
      {"test bit -1", [&] { return QN_TestBit(six, -1, &isSet); }, QN_ERR_ARGUMENT},
      {"set bit -1", [&] { return QN_SetBit(six, -1); }, QN_ERR_ARGUMENT},
      {"clear bit -1", [&] { return QN_ClearBit(six, -1); }, QN_ERR_ARGUMENT},
      {"divide by 0", [&] { return QN_Divide(six, zero, r, nullptr); }, QN_ERR_MODULUS},
      {"modulo 0", [&] { return QN_Modulo(six, zero, r); }, QN_ERR_MODULUS},
      {"modulo word 0", [&] { return QN_ModuloWord(six, 0, &w); }, QN_ERR_MODULUS},
      {"mod multiply by 0", [&] { return QN_ModMultiply(six, six, zero, r); }, QN_ERR_MODULUS},
      {"mod subtract by 0", [&] { return QN_ModSubtract(six, six, zero, r); }, QN_ERR_MODULUS},
      {"inverse mod 0", [&] { return QN_ModInverse(zero, zero, r); }, QN_ERR_MODULUS},
      {"inverse 9 mod 9", [&] { return QN_ModInverse(nine, nine, r); }, QN_ERR_INVERSE_RANGE},
      {"inverse 6 mod 2", [&] { return QN_ModInverse(six, two, r); }, QN_ERR_INVERSE_RANGE},
      {"inverse 6 mod 9", [&] { return QN_ModInverse(six, nine, r); }, QN_ERR_NOT_INVERTIBLE},
      {"inverse 0 mod 9", [&] { return QN_ModInverse(zero, nine, r); }, QN_ERR_NOT_INVERTIBLE},
      {"subtract larger", [&] { return QN_Subtract(two, six, r); }, QN_ERR_NEGATIVE},
      {"subtract word larger", [&] { return QN_SubtractWord(7, six); }, QN_ERR_NEGATIVE},
      {"gcd of zeros", [&] { return QN_Gcd(zero, zero, r); }, QN_ERR_GCD_ZEROS},
      {"montgomery even", [&] { return QN_MontgomeryConstant(six, &k); }, QN_ERR_MODULUS},
      {"montgomery 0", [&] { return QN_MontgomeryConstant(zero, &k); }, QN_ERR_MODULUS},
      {"modexp even", [&] { return QN_ModExp(two, nine, six, r, nullptr); }, QN_ERR_MODULUS},
      {"modexp 0", [&] { return QN_ModExp(two, nine, zero, r, nullptr); }, QN_ERR_MODULUS},
      {"crt even p", [&] { return QN_CrtPrivate(two, six, nine, one, one, one, r, nullptr); }, QN_ERR_MODULUS},
  };
  for (const Case& c : cases) EXPECT_EQ(c.op(), c.status) << c.what;
  EXPECT_EQ(Hex(six), "6") << "a failed in-place operation leaves its number";
}

TEST(Bignum, ConversionEdges) {
  Num a;
  const uint8_t zeros[5] = {0, 0, 0, 0, 0};
  for (uint32_t len : {0u, 1u, 5u}) {
    ASSERT_EQ(QN_FromBytes(zeros, len, a), 0);
    EXPECT_EQ(a.n.length, 1);
    EXPECT_EQ(a.n.words[0], 0u);
    EXPECT_EQ(QN_BitLength(a), 1);
  }
  uint8_t out[8];
  uint32_t len = 9;
  ASSERT_EQ(QN_ToBytes(a, 8, &len, out), 0);
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(out[0], 0);
  ASSERT_EQ(QN_ToBytes(a, 0, &len, out), QN_ERR_OUTPUT_SHORT);

  // A value of exactly the fixed length is written without padding; one
  // byte more does not fit.
  const uint8_t four[4] = {0x80, 1, 2, 3};
  ASSERT_EQ(QN_FromBytes(four, 4, a), 0);
  ASSERT_EQ(QN_ToFixedBytes(a, 4, 8, &len, out), 0);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(out[0], 0x80);
  EXPECT_EQ(QN_ToFixedBytes(a, 3, 8, &len, out), QN_ERR_FIXED_SHORT);
  EXPECT_EQ(QN_ToFixedBytes(a, 5, 4, &len, out), QN_ERR_FIXED_SHORT);
  ASSERT_EQ(QN_ToFixedBytes(a, 5, 5, &len, out), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0x80);

  // A cleared number reads as 0 and has bit length 0.
  Num cleared, r;
  EXPECT_EQ(QN_BitLength(cleared), 0);
  EXPECT_EQ(QN_IsZero(cleared), 1);
  ASSERT_EQ(QN_Add(cleared, a, r), 0);
  EXPECT_EQ(Hex(r), "80010203");

  // Growing keeps or discards the value.
  ASSERT_EQ(QN_Grow(a, 40), 0);
  EXPECT_EQ(a.n.capacity, 40);
  EXPECT_EQ(Hex(a), "80010203");
  ASSERT_EQ(QN_GrowDiscard(a, 50), 0);
  EXPECT_EQ(a.n.length, 0);
  QN_Release(a);
  EXPECT_EQ(a.n.capacity, 0);
  EXPECT_EQ(a.n.length, 0);
  EXPECT_EQ(a.n.words, nullptr);
}

TEST(Bignum, MontgomeryConstant) {
  Random rng(7);
  for (int i = 0; i < 1000; ++i) {
    uint32_t w = static_cast<uint32_t>(rng.Below(0xFFFFFFFFul)) | 1u;
    Num m;
    ASSERT_EQ(QN_SetWord(w, m), 0);
    uint32_t k = 0;
    ASSERT_EQ(QN_MontgomeryConstant(m, &k), 0);
    ASSERT_EQ(static_cast<uint32_t>(w * k), 0xFFFFFFFFu) << w;
  }
}

TEST(Bignum, ModExpSmallExponents) {
  Num b, e, m, r;
  ASSERT_EQ(SetHex(b, "123456789abcdef0123456789abcdef"), 0);
  ASSERT_EQ(SetHex(m, "fedcba987654321fedcba9876543"), 0);
  Num reduced;
  ASSERT_EQ(QN_Modulo(b, m, reduced), 0);
  ASSERT_EQ(QN_SetWord(1, e), 0);
  ASSERT_EQ(QN_ModExp(b, e, m, r, nullptr), 0);
  EXPECT_EQ(QN_Compare(r, reduced), 0) << "exponent 1 gives the base reduced";
  ASSERT_EQ(QN_SetWord(0, e), 0);
  ASSERT_EQ(QN_ModExp(b, e, m, r, nullptr), 0);
  EXPECT_EQ(Hex(r), "1");
  ASSERT_EQ(QN_SetWord(1, m), 0);
  ASSERT_EQ(QN_ModExp(b, b, m, r, nullptr), 0);
  EXPECT_EQ(Hex(r), "0") << "modulus 1";
}

// --- Surrender ---------------------------------------------------------

struct Stopper {
  int calls = 0;
  int stopAt = 0;  // 0: never
  static int Call(void* handle) {
    Stopper* s = static_cast<Stopper*>(handle);
    ++s->calls;
    return s->calls == s->stopAt ? 77 : 0;
  }
};

TEST(Bignum, SurrenderCallback) {
  Num b, e, m, r;
  ASSERT_EQ(SetHex(b, "1234567"), 0);
  ASSERT_EQ(SetHex(m, "fedcba987654321fedcba9876543"), 0);
  // 10 exponent bits: windows of 2 bits, 5 windows; one call before the
  // work and one before each window after the first.
  ASSERT_EQ(SetHex(e, "2ab"), 0);
  Stopper s;
  Q_SURRENDER_CTX ctx{&Stopper::Call, &s};
  ASSERT_EQ(QN_ModExp(b, e, m, r, &ctx), 0);
  EXPECT_EQ(s.calls, 5);
  Num p, q, dp, dq, qinv, x;
  int64_t live = QMem_LiveBlocks();
  for (int stopAt = 1; stopAt <= 5; ++stopAt) {
    s = Stopper{0, stopAt};
    EXPECT_EQ(QN_ModExp(b, e, m, r, &ctx), 77) << stopAt;
    EXPECT_EQ(s.calls, stopAt);
    EXPECT_EQ(QMem_LiveBlocks(), live);
  }
  // The CRT step: one call, each exponentiation's calls (one for a one-bit
  // exponent, two for a two-bit one), one more call.
  ASSERT_EQ(SetHex(p, "fb"), 0);
  ASSERT_EQ(SetHex(q, "f1"), 0);
  ASSERT_EQ(SetHex(dp, "1"), 0);
  ASSERT_EQ(SetHex(dq, "3"), 0);
  ASSERT_EQ(SetHex(qinv, "5"), 0);
  ASSERT_EQ(SetHex(x, "1234"), 0);
  s = Stopper{};
  live = QMem_LiveBlocks();
  ASSERT_EQ(QN_CrtPrivate(x, p, q, dp, dq, qinv, r, &ctx), 0);
  EXPECT_EQ(s.calls, 5);
  for (int stopAt = 1; stopAt <= 5; ++stopAt) {
    s = Stopper{0, stopAt};
    EXPECT_EQ(QN_CrtPrivate(x, p, q, dp, dq, qinv, r, &ctx), 77) << stopAt;
    EXPECT_EQ(QMem_LiveBlocks(), live);
  }
}

// --- Allocation failure and wiping ------------------------------------

// Makes each allocation of |op| fail in turn until it succeeds; every failure
// must answer 256 and leave no block behind.
void FailEachAllocation(const char* what, const std::function<int()>& op) {
  int64_t live = QMem_LiveBlocks();
  for (uint64_t failAt = 1;; ++failAt) {
    QMem_TestHooks hooks;
    hooks.failAt = failAt;
    QMem_SetTestHooks(&hooks);
    int status = op();
    uint64_t attempted = QMem_AllocationCount();
    QMem_SetTestHooks(nullptr);
    ASSERT_EQ(QMem_LiveBlocks(), live) << what << ", allocation " << failAt;
    if (failAt > attempted) {
      ASSERT_EQ(status, 0) << what;
      ASSERT_GT(failAt, 1u) << what << " allocated nothing";
      return;
    }
    ASSERT_EQ(status, QN_ERR_ALLOC) << what << ", allocation " << failAt;
  }
}

// A 1024-bit RSA-like set: n = p * q with p > q, a full-length private
// exponent d and its CRT form.
struct Operands {
  Num p, q, n, e, d, dp, dq, qinv, x, small;
  Operands() {
    Random rng(8);
    Z zp, zq, zn, zt, zd, zx, zdp, zdq, zqinv;
    rng.FillExact(zp, 512);
    mpz_nextprime(zp, zp);
    rng.FillExact(zq, 512);
    mpz_nextprime(zq, zq);
    if (mpz_cmp(zp, zq) < 0) mpz_swap(zp, zq);
    mpz_mul(zn, zp, zq);
    rng.FillExact(zd, 1024);
    rng.Fill(zx, 1024);
    mpz_mod(zx, zx, zn);
    mpz_sub_ui(zt, zp, 1);
    mpz_mod(zdp, zd, zt);
    mpz_sub_ui(zt, zq, 1);
    mpz_mod(zdq, zd, zt);
    mpz_invert(zqinv, zq, zp);
    Load(p, zp);
    Load(q, zq);
    Load(n, zn);
    Load(d, zd);
    Load(x, zx);
    Load(dp, zdp);
    Load(dq, zdq);
    Load(qinv, zqinv);
    QN_SetWord(65537, e);
    QN_SetWord(12345, small);
  }
};

TEST(Bignum, AllocationFailure) {
  Operands o;
  // Each operation writes into numbers of its own, released before the
  // count of live blocks is compared.
  auto run = [](const std::function<int(QN_BIGNUM*, QN_BIGNUM*)>& op) {
    return [op] {
      Num r, r2;
      return op(r, r2);
    };
  };
  FailEachAllocation("modexp 1024", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_ModExp(o.x, o.d, o.n, r, nullptr); }));
  FailEachAllocation("modexp 65537", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_ModExp(o.x, o.e, o.n, r, nullptr); }));
  FailEachAllocation("crt", run([&](QN_BIGNUM* r, QN_BIGNUM*) {
                       return QN_CrtPrivate(o.x, o.p, o.q, o.dp, o.dq, o.qinv, r, nullptr);
                     }));
  FailEachAllocation("divide", run([&](QN_BIGNUM* r, QN_BIGNUM* r2) { return QN_Divide(o.d, o.p, r, r2); }));
  FailEachAllocation("inverse", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_ModInverse(o.small, o.p, r); }));
  FailEachAllocation("gcd", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_Gcd(o.n, o.p, r); }));
  FailEachAllocation("mod multiply", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_ModMultiply(o.x, o.d, o.p, r); }));
  FailEachAllocation("mod subtract", run([&](QN_BIGNUM* r, QN_BIGNUM*) { return QN_ModSubtract(o.q, o.x, o.p, r); }));
  FailEachAllocation("multiply in place", run([&](QN_BIGNUM* r, QN_BIGNUM*) {
                       int status = QN_Copy(o.x, r);
                       return status != 0 ? status : QN_Multiply(r, o.d, r);
                     }));
}

struct WipeCheck {
  int released = 0;
  int dirty = 0;
  static void OnRelease(const void* block, uint32_t size, void* context) {
    WipeCheck* w = static_cast<WipeCheck*>(context);
    ++w->released;
    const uint8_t* p = static_cast<const uint8_t*>(block);
    for (uint32_t i = 0; i < size; ++i) {
      if (p[i] != 0) {
        ++w->dirty;
        return;
      }
    }
  }
};

TEST(Bignum, ReleasedBlocksAreWiped) {
  Operands o;
  WipeCheck check;
  QMem_TestHooks hooks;
  hooks.onRelease = &WipeCheck::OnRelease;
  hooks.context = &check;
  QMem_SetTestHooks(&hooks);
  {
    Num r, r2, t;
    EXPECT_EQ(QN_ModExp(o.x, o.d, o.n, r, nullptr), 0);
    EXPECT_EQ(QN_CrtPrivate(o.x, o.p, o.q, o.dp, o.dq, o.qinv, r2, nullptr), 0);
    EXPECT_EQ(QN_Compare(r, r2), 0);
    EXPECT_EQ(QN_ModInverse(o.small, o.p, r), 0);
    EXPECT_EQ(QN_Divide(o.d, o.p, r, r2), 0);
    EXPECT_EQ(QN_Copy(o.d, t), 0);
    EXPECT_EQ(QN_Multiply(t, t, t), 0);
    EXPECT_EQ(QN_Grow(t, 200), 0);
    EXPECT_EQ(QN_SetBit(t, 9000), 0);
  }
  QMem_SetTestHooks(nullptr);
  EXPECT_GT(check.released, 20);
  EXPECT_EQ(check.dirty, 0);
}

}  // namespace
