// Key-pair generation, the DER conversions and the component readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "services/kv_internal.h"
#include "services/kvservices.h"
#include "services_support.h"
#include "support/memory_hooks.h"

namespace {

using svctest::Bytes;

TEST(KeyGen, ModulusSizeBoundsAndExponent) {
  const struct {
    int bytes;
    int expected;
  } rows[] = {{31, KV_KEY_BAD_SIZE}, {257, KV_KEY_BAD_SIZE}, {32, 0}, {256, 0}};
  for (const auto& row : rows) {
    Bytes pub(KV_KEYFILE_MAX_DATA), priv(KV_KEYFILE_MAX_DATA);
    int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
    ASSERT_EQ(errKVKeyGen(row.bytes, pub.data(), &pubLen, priv.data(), &privLen), row.expected) << row.bytes;
    if (row.expected != 0) {
      EXPECT_EQ(pubLen, KV_KEYFILE_MAX_DATA);  // untouched
      continue;
    }
    int modLen = -1;
    ASSERT_EQ(errKVRSADERKeyGetModulus(pubLen, pub.data(), &modLen, nullptr), 0);
    EXPECT_EQ(modLen, row.bytes);
    Bytes exponent(8, 0);
    int expLen = 0;
    ASSERT_EQ(errKVRSADERKeyGetExponent(pubLen, pub.data(), &expLen, exponent.data()), 0);
    EXPECT_EQ(Bytes(exponent.begin(), exponent.begin() + expLen), (Bytes{0x01, 0x00, 0x01}));

    // The private key has the same modulus and a private exponent.
    Bytes modPub(row.bytes), modPriv(row.bytes);
    int privModLen = 0;
    ASSERT_EQ(errKVRSADERKeyGetModulus(pubLen, pub.data(), &modLen, modPub.data()), 0);
    ASSERT_EQ(errKVRSADERKeyGetModulus(privLen, priv.data(), &privModLen, modPriv.data()), 0);
    EXPECT_EQ(modPub, modPriv);
    // A private key also gives its public form first: modulus and 01 00 01.
    Bytes privExp(row.bytes);
    ASSERT_EQ(errKVRSADERKeyGetExponent(privLen, priv.data(), &expLen, privExp.data()), 0);
    EXPECT_EQ(Bytes(privExp.begin(), privExp.begin() + expLen), (Bytes{0x01, 0x00, 0x01}));
  }
}

TEST(KeyGen, SmallPublicBufferReportsTheNeededLength) {
  unsigned char pub[10];
  Bytes priv(KV_KEYFILE_MAX_DATA);
  int pubLen = 10, privLen = KV_KEYFILE_MAX_DATA;
  EXPECT_EQ(errKVKeyGen(32, pub, &pubLen, priv.data(), &privLen), KV_KEY_INTERNAL_ERROR);
  EXPECT_GT(pubLen, 10);
}

TEST(KeyEncodings, RoundTripAndCapacity) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  ASSERT_FALSE(pair.publicKey.empty());
  for (const auto& [der, type] : {std::pair{pair.publicKey, KV_KEYTYPE_PUBLIC_SPKI},
                                  std::pair{pair.privateKey, KV_KEYTYPE_PRIVATE_PKCS8}}) {
    Q_KEY_OBJ key = nullptr;
    ASSERT_EQ(iKeyFromBER(der.data(), static_cast<int>(der.size()), &key, type), 0) << type;

    Bytes out(der.size(), 0xCC);
    int length = static_cast<int>(der.size());
    ASSERT_EQ(iKeyToBER(out.data(), &length, key, type), 0);
    EXPECT_EQ(out, der);

    // One byte short: nothing copied, needed length reported.
    Bytes shortOut(der.size(), 0xCC);
    length = static_cast<int>(der.size()) - 1;
    EXPECT_EQ(iKeyToBER(shortOut.data(), &length, key, type), KV_KEY_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, static_cast<int>(der.size()));
    EXPECT_EQ(shortOut, Bytes(der.size(), 0xCC));

    length = static_cast<int>(der.size());
    EXPECT_EQ(iKeyToBER(out.data(), &length, key, 103), KV_KEY_BAD_TYPE);
    Q_DestroyKeyObject(&key);
  }
}

TEST(KeyEncodings, BadTypeAndBadDataLeaveAKeyObjectForTheCaller) {
  const Bytes& der = svctest::SharedKeyPair().publicKey;
  Bytes corrupted = der;
  corrupted[0] = 0x31;
  const struct {
    const Bytes* bytes;
    int length;
    int type;
    int expected;
  } rows[] = {
      {&der, static_cast<int>(der.size()), 103, KV_KEY_BAD_TYPE},
      {&corrupted, static_cast<int>(corrupted.size()), KV_KEYTYPE_PUBLIC_SPKI, KV_KEY_INVALID_DATA},
      {&der, static_cast<int>(der.size()), KV_KEYTYPE_PRIVATE_PKCS8, KV_KEY_INVALID_DATA},
      {&der, -5, KV_KEYTYPE_PUBLIC_SPKI, KV_KEY_INVALID_DATA},
  };
  for (const auto& row : rows) {
    Q_KEY_OBJ key = nullptr;
    EXPECT_EQ(iKeyFromBER(row.bytes->data(), row.length, &key, row.type), row.expected);
    EXPECT_NE(key, nullptr);
    Q_DestroyKeyObject(&key);
  }
}

TEST(KeyComponents, RefusedInputs) {
  const Bytes& der = svctest::SharedKeyPair().publicKey;
  int length = 0;
  EXPECT_EQ(errKVRSADERKeyGetModulus(-1, der.data(), &length, nullptr), KV_KEY_BAD_SIZE);
  EXPECT_EQ(errKVRSADERKeyGetModulus(10001, der.data(), &length, nullptr), KV_KEY_BAD_SIZE);
  const Bytes junk(40, 0x30);
  EXPECT_EQ(errKVRSADERKeyGetExponent(static_cast<int>(junk.size()), junk.data(), &length, nullptr),
            KV_KEY_INVALID_DATA);
}

}  // namespace

namespace {

// With each toolkit allocation failing in turn, the operations report their
// documented code and leave no block behind.
TEST(ServiceAllocationFailures, ReportedCodesAndNothingLeaked) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  ASSERT_FALSE(pair.privateKey.empty());
  Bytes pub(KV_KEYFILE_MAX_DATA), priv(KV_KEYFILE_MAX_DATA), out(pair.privateKey.size() + 8);
  const struct {
    const char* name;
    std::function<int()> operation;
    std::vector<int> allowed;
  } rows[] = {
      {"errKVKeyGen",
       [&] {
         int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
         return errKVKeyGen(32, pub.data(), &pubLen, priv.data(), &privLen);
       },
       {KV_KEY_OUT_OF_MEMORY, KV_KEY_INTERNAL_ERROR}},
      {"errKVRandomGetNumber", [&] { return errKVRandomGetNumber(64, out.data()); }, {KV_RANDOM_INTERNAL_ERROR}},
      {"errKVRandomGetNumber gathering the seed",
       [&] {
         iKVForgetSeed();
         return errKVRandomGetNumber(64, out.data());
       },
       {KV_RANDOM_INTERNAL_ERROR}},
      {"errKVMD5", [&] { return errKVMD5(4, out.data(), out.data() + 8); },
       {KV_MD5_OUT_OF_MEMORY, KV_MD5_INTERNAL_ERROR}},
      {"errKVPKCS5PBEncDnc",
       [&] {
         int inLen = static_cast<int>(pair.privateKey.size()), outLen = 0;
         return errKVPKCS5PBEncDnc(&inLen, pair.privateKey.data(), &outLen, out.data(), 3,
                                   reinterpret_cast<const unsigned char*>("pwd"), KV_PBE_ENCRYPT);
       },
       {Q_ERR_ALLOC}},
      {"errKVRSADERKeyGetModulus",
       [&] {
         int length = 0;
         return errKVRSADERKeyGetModulus(static_cast<int>(pair.privateKey.size()), pair.privateKey.data(), &length,
                                         nullptr);
       },
       // The private form still answers when building the public form fails.
       {0, KV_KEY_OUT_OF_MEMORY, KV_KEY_INVALID_DATA}},
  };
  for (const auto& row : rows) {
    testsupport::ForEachAllocationFailure(row.operation, [&](int status, const testsupport::MemoryWatch& watch) {
      EXPECT_NE(std::find(row.allowed.begin(), row.allowed.end(), status), row.allowed.end())
          << row.name << " gave " << status;
      EXPECT_EQ(watch.leakedBlocks(), 0) << row.name;
      EXPECT_EQ(watch.unwipedReleases(), 0) << row.name;
    });
  }
}

}  // namespace
