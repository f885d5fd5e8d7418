// The Q_ object layer: handles, info lists, validation order, method
// selection and the status tables, with test-local info types and handlers
// where the toolkit's own algorithms would hide the mechanism.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cryptokit/core/objects.h"
#include "cryptokit/cryptokit.h"
#include "support/memory_hooks.h"

namespace {

using qk::KeyInfoDescriptor;

// A key form holding a copied byte range.
extern const KeyInfoDescriptor kItemDescriptor;
int SetItem(Q_KeyObj* key, const void* info) {
  const auto* item = static_cast<const Q_ITEM*>(info);
  auto* copy = static_cast<Q_ITEM*>(qk::OwnedAllocate(&key->memory, sizeof(Q_ITEM)));
  if (copy == nullptr) return Q_ERR_ALLOC;
  copy->data = qk::OwnedCopy(&key->memory, item->data, item->len);
  if (copy->data == nullptr) return Q_ERR_ALLOC;
  copy->len = item->len;
  return qk::InfoAppend(&key->memory, &key->infos, &kItemDescriptor, copy);
}
int GetNothing(void**, Q_KeyObj*) { return Q_ERR_GET_KEY_INFO; }
const KeyInfoDescriptor kItemDescriptor{SetItem, GetNothing};
int Item(const void** d) {
  *d = &kItemDescriptor;
  return 1;
}

// A second form, the item upper-cased, built on request from the first.
int GetTestUpper(void** info, Q_KeyObj* key) {
  void* item = nullptr;
  int status = qk::GetKeyForm(&item, key, Item);
  if (status != 0) return status;
  const auto* src = static_cast<const Q_ITEM*>(item);
  auto* upper = static_cast<Q_ITEM*>(qk::OwnedAllocate(&key->memory, sizeof(Q_ITEM)));
  if (upper == nullptr) return Q_ERR_ALLOC;
  upper->data = qk::OwnedCopy(&key->memory, src->data, src->len);
  if (upper->data == nullptr) return Q_ERR_ALLOC;
  upper->len = src->len;
  for (uint32_t i = 0; i < upper->len; ++i) upper->data[i] = static_cast<unsigned char>(toupper(upper->data[i]));
  *info = upper;
  return 0;
}
int SetRefused(Q_KeyObj*, const void*) { return Q_ERR_WRONG_KIND; }
const KeyInfoDescriptor kTestUpperDescriptor{SetRefused, GetTestUpper};
int TestUpper(const void** d) {
  *d = &kTestUpperDescriptor;
  return 1;
}

// A cipher-family handler whose Init selects a DES-CBC method of the chosen
// side; the test methods below decide what the initialise step answers.
struct TestMethodOps {
  int initialiseAnswer;
};
class TestCipher final : public qk::CipherHandler {
 public:
  int Init(Q_AlgorithmObj*, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt, Q_SURRENDER_CTX*) override {
    return qk::SelectMethodWith(&qk::kTypeDESCBC, encrypt ? 1u : 0u, key, chooser,
                                [this](const Q_ALGORITHM_METHOD* m, void* form) {
                                  adopted = m;
                                  keyForm = form;
                                  return static_cast<const TestMethodOps*>(m->operations)->initialiseAnswer;
                                });
  }
  int Update(unsigned char*, uint32_t* outputLen, uint32_t, const unsigned char*, uint32_t, Q_AlgorithmObj*,
             Q_SURRENDER_CTX*) override {
    *outputLen = 0;
    return 0;
  }
  int Final(unsigned char*, uint32_t* outputLen, uint32_t, Q_AlgorithmObj*, Q_SURRENDER_CTX*) override {
    *outputLen = 0;
    return 0;
  }
  const Q_ALGORITHM_METHOD* adopted = nullptr;
  void* keyForm = nullptr;
};
qk::Handler* CreateTestCipher(const qk::AlgInfoDescriptor*, Q_AlgorithmObj*) { return QNew<TestCipher>(); }
const qk::AlgInfoOps kTestCipherOps{qk::SetInfoNoParameters, CreateTestCipher, nullptr};
const qk::AlgInfoDescriptor kTestCipherDescriptor{&kTestCipherOps};
int TestCipherInfo(const void** d) {
  *d = &kTestCipherDescriptor;
  return 0;
}

const TestMethodOps kAdopts{0};
const TestMethodOps kFailsWith520{Q_ERR_METHOD};
const TestMethodOps kFailsWith518{Q_ERR_ALLOC};
const Q_ALGORITHM_METHOD kEncryptNoKey{&qk::kTypeDESCBC, 1, nullptr, &kAdopts};
const Q_ALGORITHM_METHOD kDecryptNoKey{&qk::kTypeDESCBC, 0, nullptr, &kAdopts};
const Q_ALGORITHM_METHOD kEncryptNeedsUpper{&qk::kTypeDESCBC, 1, TestUpper, &kAdopts};
const Q_ALGORITHM_METHOD kEncryptFails{&qk::kTypeDESCBC, 1, nullptr, &kFailsWith520};
const Q_ALGORITHM_METHOD kEncryptOutOfMemory{&qk::kTypeDESCBC, 1, nullptr, &kFailsWith518};
const Q_ALGORITHM_METHOD kOtherType{&qk::kTypeMD5, 1, nullptr, &kAdopts};

// Forged handles: readable memory that is not an object.
struct Forged {
  unsigned char bytes[128] = {};
};

class ObjectsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Q_DestroyAlgorithmObject(&alg_);
    EXPECT_EQ(Q_DestroyKeyObject(&key_), 0);
  }
  Q_ITEM ItemOf(const char* text) {
    return Q_ITEM{reinterpret_cast<unsigned char*>(const_cast<char*>(text)), static_cast<uint32_t>(strlen(text))};
  }
  Q_ALGORITHM_OBJ alg_ = nullptr;
  Q_KEY_OBJ key_ = nullptr;
};

TEST_F(ObjectsTest, KeyTakesOneKeyOnceAndCachesConvertedForms) {
  ASSERT_EQ(Q_CreateKeyObject(&key_), 0);
  void* info = nullptr;
  EXPECT_EQ(Q_GetKeyInfo(&info, key_, Item), Q_ERR_KEY_NOT_SET);

  Q_ITEM first = ItemOf("secret"), second = ItemOf("other");
  ASSERT_EQ(Q_SetKeyInfo(key_, Item, &first), 0);
  EXPECT_EQ(Q_SetKeyInfo(key_, Item, &second), Q_ERR_KEY_ALREADY_SET);

  ASSERT_EQ(Q_GetKeyInfo(&info, key_, Item), 0);
  auto* held = static_cast<Q_ITEM*>(info);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(held->data), held->len), "secret");
  EXPECT_NE(held->data, first.data) << "the key must be a copy";

  void* upper1 = nullptr;
  void* upper2 = nullptr;
  ASSERT_EQ(Q_GetKeyInfo(&upper1, key_, TestUpper), 0);
  ASSERT_EQ(Q_GetKeyInfo(&upper2, key_, TestUpper), 0);
  EXPECT_EQ(upper1, upper2) << "a converted form is built once";
  auto* up = static_cast<Q_ITEM*>(upper1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(up->data), up->len), "SECRET");
}

TEST_F(ObjectsTest, WrongKindsOfInfoType) {
  ASSERT_EQ(Q_CreateKeyObject(&key_), 0);
  ASSERT_EQ(Q_CreateAlgorithmObject(&alg_), 0);
  void* info = nullptr;
  EXPECT_EQ(Q_SetKeyInfo(key_, QA_MD5, nullptr), Q_ERR_WRONG_KIND);
  EXPECT_EQ(Q_GetKeyInfo(&info, key_, QA_MD5), Q_ERR_WRONG_KIND);
  EXPECT_EQ(Q_SetAlgorithmInfo(alg_, Item, nullptr), Q_ERR_ALGORITHM_INFO);
  EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg_, Item), Q_ERR_ALGORITHM_INFO);
  EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg_, QA_MD5), Q_ERR_ALGORITHM_NOT_SET);
  ASSERT_EQ(Q_SetAlgorithmInfo(alg_, QA_MD5, nullptr), 0);
  EXPECT_EQ(Q_SetAlgorithmInfo(alg_, QA_SHA1, nullptr), Q_ERR_ALGORITHM_ALREADY_SET);
  EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg_, QA_MD5), 0);
  EXPECT_EQ(Q_GetAlgorithmInfo(&info, alg_, QA_SHA1), Q_ERR_GET_ALGORITHM_INFO);
}

TEST_F(ObjectsTest, DestroyingNullAndForgedHandles) {
  Q_ALGORITHM_OBJ nullAlg = nullptr;
  Q_KEY_OBJ nullKey = nullptr;
  Q_DestroyAlgorithmObject(&nullAlg);
  EXPECT_EQ(Q_DestroyKeyObject(&nullKey), 0);
  Q_DestroyAlgorithmObject(nullptr);
  EXPECT_EQ(Q_DestroyKeyObject(nullptr), 0);

  Forged forged;
  auto forgedKey = reinterpret_cast<Q_KEY_OBJ>(&forged);
  auto forgedAlg = reinterpret_cast<Q_ALGORITHM_OBJ>(&forged);
  EXPECT_EQ(Q_DestroyKeyObject(&forgedKey), Q_ERR_KEY_OBJ);
  EXPECT_EQ(forgedKey, nullptr);
  Q_DestroyAlgorithmObject(&forgedAlg);
  EXPECT_EQ(forgedAlg, nullptr);
}

// Each row: an operation on objects that fail one check, and the code that
// check gives. The order of the rows inside one operation follows the order
// in which the checks are made.
TEST_F(ObjectsTest, EntryPointsAnswerTheirChecksInOrder) {
  ASSERT_EQ(Q_CreateKeyObject(&key_), 0);
  Forged forged;
  auto badAlg = reinterpret_cast<Q_ALGORITHM_OBJ>(&forged);
  auto badKey = reinterpret_cast<Q_KEY_OBJ>(&forged);
  Q_ALGORITHM_OBJ empty = nullptr, digest = nullptr, cipher = nullptr;
  ASSERT_EQ(Q_CreateAlgorithmObject(&empty), 0);
  ASSERT_EQ(Q_CreateAlgorithmObject(&digest), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(digest, QA_MD5, nullptr), 0);
  ASSERT_EQ(Q_CreateAlgorithmObject(&cipher), 0);
  ASSERT_EQ(Q_SetAlgorithmInfo(cipher, TestCipherInfo, nullptr), 0);
  unsigned char buf[64];
  uint32_t len = 0;
  const Q_ALGORITHM_METHOD* md5Chooser[] = {&QM_MD5, nullptr};

  struct Row {
    const char* what;
    int got;
    int expected;
  };
  const Row rows[] = {
      {"SetAlgorithmInfo bad object", Q_SetAlgorithmInfo(badAlg, QA_MD5, nullptr), Q_ERR_ALGORITHM_OBJ},
      {"SetAlgorithmInfo null object", Q_SetAlgorithmInfo(nullptr, QA_MD5, nullptr), Q_ERR_ALGORITHM_OBJ},
      {"SetKeyInfo bad key", Q_SetKeyInfo(badKey, QA_MD5, nullptr), Q_ERR_KEY_OBJ},
      {"SetKeyInfo null key", Q_SetKeyInfo(nullptr, Item, nullptr), Q_ERR_KEY_OBJ},
      {"SetKeyInfo null key, wrong kind first", Q_SetKeyInfo(nullptr, QA_MD5, nullptr), Q_ERR_WRONG_KIND},
      {"RandomInit bad object", Q_RandomInit(badAlg, nullptr, nullptr), Q_ERR_RANDOM_OBJ},
      {"RandomInit null object", Q_RandomInit(nullptr, nullptr, nullptr), Q_ERR_RANDOM_OBJ},
      {"RandomUpdate no info", Q_RandomUpdate(empty, buf, 1, nullptr), Q_ERR_ALGORITHM_NOT_SET},
      {"RandomGenerate digest object", Q_RandomGenerate(digest, buf, 1, nullptr), Q_ERR_WRONG_KIND},
      {"GenerateInit bad object", Q_GenerateInit(badAlg, nullptr, nullptr), Q_ERR_ALGORITHM_OBJ},
      {"GenerateKeypair bad public key", Q_GenerateKeypair(empty, badKey, key_, nullptr, nullptr), Q_ERR_KEY_OBJ},
      {"GenerateKeypair bad private key", Q_GenerateKeypair(empty, key_, badKey, nullptr, nullptr),
       Q_ERR_KEY_OBJ},
      {"GenerateKeypair bad random", Q_GenerateKeypair(empty, key_, key_, badAlg, nullptr), Q_ERR_RANDOM_OBJ},
      {"GenerateKeypair no info", Q_GenerateKeypair(empty, key_, key_, nullptr, nullptr), Q_ERR_ALGORITHM_NOT_SET},
      {"GenerateInit digest object", Q_GenerateInit(digest, nullptr, nullptr), Q_ERR_WRONG_KIND},
      {"DigestInit bad object", Q_DigestInit(badAlg, nullptr, md5Chooser, nullptr), Q_ERR_ALGORITHM_OBJ},
      {"DigestInit bad key", Q_DigestInit(digest, badKey, md5Chooser, nullptr), Q_ERR_KEY_OBJ},
      {"DigestInit no info", Q_DigestInit(empty, nullptr, md5Chooser, nullptr), Q_ERR_ALGORITHM_NOT_SET},
      {"DigestInit cipher object", Q_DigestInit(cipher, nullptr, md5Chooser, nullptr), Q_ERR_WRONG_KIND},
      {"DigestUpdate before Init", Q_DigestUpdate(digest, buf, 1, nullptr), Q_ERR_NOT_INITIALIZED},
      {"DigestFinal before Init", Q_DigestFinal(digest, buf, &len, sizeof buf, nullptr), Q_ERR_NOT_INITIALIZED},
      {"EncryptInit bad key", Q_EncryptInit(cipher, badKey, nullptr, nullptr), Q_ERR_KEY_OBJ},
      {"EncryptUpdate bad random", Q_EncryptUpdate(cipher, buf, &len, 64, buf, 1, badAlg, nullptr),
       Q_ERR_RANDOM_OBJ},
      {"EncryptUpdate before Init", Q_EncryptUpdate(cipher, buf, &len, 64, buf, 1, nullptr, nullptr),
       Q_ERR_NOT_INITIALIZED},
      {"DecryptFinal bad object", Q_DecryptFinal(badAlg, buf, &len, 64, nullptr, nullptr), Q_ERR_ALGORITHM_OBJ},
      {"DecryptFinal bad random", Q_DecryptFinal(cipher, buf, &len, 64, badAlg, nullptr), Q_ERR_RANDOM_OBJ},
      {"SignInit cipher object", Q_SignInit(cipher, key_, nullptr, nullptr), Q_ERR_WRONG_KIND},
      {"VerifyInit bad key", Q_VerifyInit(cipher, badKey, nullptr, nullptr), Q_ERR_KEY_OBJ},
      {"SignFinal bad random", Q_SignFinal(digest, buf, &len, 64, badAlg, nullptr), Q_ERR_RANDOM_OBJ},
      {"VerifyFinal no info", Q_VerifyFinal(empty, buf, 1, nullptr, nullptr), Q_ERR_ALGORITHM_NOT_SET},
      {"SignUpdate digest object", Q_SignUpdate(digest, buf, 1, nullptr), Q_ERR_WRONG_KIND},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.expected) << row.what;
  Q_DestroyAlgorithmObject(&empty);
  Q_DestroyAlgorithmObject(&digest);
  Q_DestroyAlgorithmObject(&cipher);
}

TEST_F(ObjectsTest, MethodSelection) {
  ASSERT_EQ(Q_CreateKeyObject(&key_), 0);
  Q_ITEM secret = ItemOf("key");
  ASSERT_EQ(Q_SetKeyInfo(key_, Item, &secret), 0);
  Q_KEY_OBJ emptyKey = nullptr;
  ASSERT_EQ(Q_CreateKeyObject(&emptyKey), 0);

  struct Row {
    const char* what;
    std::vector<const Q_ALGORITHM_METHOD*> chooser;
    bool encrypt;
    Q_KEY_OBJ key;
    int expected;
    const Q_ALGORITHM_METHOD* adopted;
  };
  const std::vector<Row> rows = {
      {"null chooser", {}, true, key_, Q_ERR_NO_METHOD, nullptr},
      {"no method of the type", {&kOtherType}, true, key_, Q_ERR_NO_METHOD, nullptr},
      {"only the other side", {&kDecryptNoKey}, true, key_, Q_ERR_NO_METHOD, nullptr},
      {"side picks the method", {&kEncryptNoKey, &kDecryptNoKey}, false, key_, 0, &kDecryptNoKey},
      {"key form cannot be given", {&kEncryptNeedsUpper}, true, emptyKey, Q_ERR_KEY_NOT_SET, nullptr},
      {"no key for a key form", {&kEncryptNeedsUpper}, true, nullptr, Q_ERR_KEY_OBJ, nullptr},
      {"key form given", {&kEncryptNeedsUpper}, true, key_, 0, &kEncryptNeedsUpper},
      {"failure remembered, next tried", {&kEncryptFails, &kEncryptNoKey}, true, key_, 0, &kEncryptNoKey},
      {"last failure answered", {&kEncryptNoKey, &kEncryptFails}, true, key_, 0, &kEncryptNoKey},
      {"only a failing method", {&kEncryptFails}, true, key_, Q_ERR_METHOD, &kEncryptFails},
      {"518 stops the walk", {&kEncryptOutOfMemory, &kEncryptNoKey}, true, key_, Q_ERR_ALLOC, &kEncryptOutOfMemory},
  };
  for (const Row& row : rows) {
    Q_ALGORITHM_OBJ alg = nullptr;
    ASSERT_EQ(Q_CreateAlgorithmObject(&alg), 0);
    ASSERT_EQ(Q_SetAlgorithmInfo(alg, TestCipherInfo, nullptr), 0);
    std::vector<const Q_ALGORITHM_METHOD*> chooser = row.chooser;
    chooser.push_back(nullptr);
    Q_CHOOSER c = row.chooser.empty() ? nullptr : chooser.data();
    int status = row.encrypt ? Q_EncryptInit(alg, row.key, c, nullptr) : Q_DecryptInit(alg, row.key, c, nullptr);
    EXPECT_EQ(status, row.expected) << row.what;
    auto* h = static_cast<TestCipher*>(alg->handler);
    EXPECT_EQ(h->adopted, row.adopted) << row.what;
    uint32_t len = 1;
    unsigned char out[8];
    EXPECT_EQ(Q_EncryptFinal(alg, out, &len, sizeof out, nullptr, nullptr), status == 0 ? 0 : Q_ERR_NOT_INITIALIZED)
        << row.what << ": the Init state bit follows the outcome";
    Q_DestroyAlgorithmObject(&alg);
  }
  EXPECT_EQ(Q_DestroyKeyObject(&emptyKey), 0);
}

TEST(StatusTables, MethodStatusesBecomeToolkitCodes) {
  const int table[][2] = {{0, 0},     {1, 519},   {2, 520},  {3, 521},  {4, 522},  {5, 524},   {6, 525},
                          {7, 533},   {8, 520},   {9, 535},  {10, 536}, {11, 534}, {12, 528},  {13, 527},
                          {14, 520},  {15, 513},  {16, 520}, {128, 518}, {255, 520}};
  for (const auto& row : table) EXPECT_EQ(qk::MethodStatusToCode(row[0]), row[1]) << row[0];
}

TEST(StatusTables, BignumStatusesBecomeMethodStatuses) {
  const int table[][2] = {{0, 0},   {256, 128}, {257, 5}, {260, 5}, {261, 5}, {262, 5}, {263, 7},
                          {264, 5}, {265, 5},   {266, 5}, {267, 5}, {268, 10}, {269, 269}, {8, 8}};
  for (const auto& row : table) EXPECT_EQ(qk::BignumStatusToMethodStatus(row[0]), row[1]) << row[0];
}

TEST(MemoryHooks, ZeroSizedAndFailingReallocation) {
  void* one = QMem_Allocate(0);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(QMem_BlockSize(one), 1u);
  QMem_Release(one);
  QMem_Release(nullptr);

  void* block = QMem_Reallocate(nullptr, 8);
  ASSERT_NE(block, nullptr);
  memset(block, 0xAB, 8);
  int64_t live = QMem_LiveBlocks();
  {
    testsupport::MemoryWatch watch(1);
    EXPECT_EQ(QMem_Reallocate(block, 64), nullptr);
    EXPECT_EQ(QMem_LiveBlocks(), live - 1) << "a failed resize releases the old block";
    EXPECT_EQ(watch.unwipedReleases(), 0) << "and wipes it first";
  }
  void* grown = QMem_Reallocate(QMem_Allocate(4), 0);
  EXPECT_EQ(QMem_BlockSize(grown), 1u);
  QMem_SecureRelease(grown);
}

TEST(MemoryHooks, ObjectsSurviveEveryAllocationFailureWithoutLeaks) {
  Q_ITEM secret{reinterpret_cast<unsigned char*>(const_cast<char*>("password")), 8};
  testsupport::ForEachAllocationFailure(
      [&] {
        Q_KEY_OBJ key = nullptr;
        int status = Q_CreateKeyObject(&key);
        void* upper = nullptr;
        if (status == 0) status = Q_SetKeyInfo(key, Item, &secret);
        if (status == 0) status = Q_GetKeyInfo(&upper, key, TestUpper);
        Q_DestroyKeyObject(&key);
        return status;
      },
      [](int status, const testsupport::MemoryWatch& watch) {
        EXPECT_EQ(status, Q_ERR_ALLOC);
        EXPECT_EQ(watch.leakedBlocks(), 0);
        EXPECT_EQ(watch.unwipedReleases(), 0);
      });
}

}  // namespace
