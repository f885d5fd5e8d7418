#include "rsa/rsa_support.h"

#include <gmp.h>

namespace rsatest {

const Q_ALGORITHM_METHOD* const kSignChooser[] = {&QM_RSAPublicEncrypt, &QM_RSAPrivateEncrypt, &QM_MD2, &QM_MD5,
                                                  &QM_SHA1, &QM_SHA256, &QM_SHA384, &QM_SHA512, nullptr};
const Q_ALGORITHM_METHOD* const kVerifyChooser[] = {&QM_RSAPublicDecrypt, &QM_RSAPrivateDecrypt, &QM_MD2, &QM_MD5,
                                                    &QM_SHA1, &QM_SHA256, &QM_SHA384, &QM_SHA512, nullptr};

TestKey::~TestKey() {
  Q_DestroyKeyObject(&priv);
  Q_DestroyKeyObject(&pub);
}

int TestKey::FromPkcs8(const Bytes& der) {
  Q_ITEM item{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
  int status = Q_CreateKeyObject(&priv);
  if (status == 0) status = Q_SetKeyInfo(priv, QK_RSAPrivateBER, &item);
  void* form = nullptr;
  if (status == 0) status = Q_GetKeyInfo(&form, priv, QK_RSAPublic);
  if (status == 0) status = Q_CreateKeyObject(&pub);
  if (status == 0) status = Q_SetKeyInfo(pub, QK_RSAPublic, form);
  return status;
}

int TestKey::Generate(uint32_t bits, const std::string& seed) { return GenerateWith(QA_RSAKeyGen, bits, seed); }

int TestKey::GenerateModern(uint32_t bits, const std::string& seed) {
  return GenerateWith(QA_RSAKeyGenModern, bits, seed);
}

int TestKey::GenerateWith(Q_INFO_TYPE type, uint32_t bits, const std::string& seed) {
  static const Q_ALGORITHM_METHOD* const chooser[] = {&QM_MD5Random, &QM_RSAKeyGen, nullptr};
  unsigned char f4[] = {1, 0, 1};
  Q_RSA_KEYGEN_PARAMS params{bits, {f4, 3}};
  Q_ALGORITHM_OBJ random = nullptr, gen = nullptr;
  int status = Q_CreateAlgorithmObject(&random);
  if (status == 0) status = Q_SetAlgorithmInfo(random, QA_MD5Random, nullptr);
  if (status == 0) status = Q_RandomInit(random, chooser, nullptr);
  if (status == 0)
    status = Q_RandomUpdate(random, reinterpret_cast<const unsigned char*>(seed.data()),
                            static_cast<uint32_t>(seed.size()), nullptr);
  if (status == 0) status = Q_CreateAlgorithmObject(&gen);
  if (status == 0) status = Q_SetAlgorithmInfo(gen, type, &params);
  if (status == 0) status = Q_GenerateInit(gen, chooser, nullptr);
  if (status == 0) status = Q_CreateKeyObject(&pub);
  if (status == 0) status = Q_CreateKeyObject(&priv);
  if (status == 0) status = Q_GenerateKeypair(gen, pub, priv, random, nullptr);
  Q_DestroyAlgorithmObject(&gen);
  Q_DestroyAlgorithmObject(&random);
  return status;
}

namespace {
const Q_RSA_PRIVATE_CRT_KEY* Crt(Q_KEY_OBJ priv) {
  void* info = nullptr;
  return Q_GetKeyInfo(&info, priv, QK_RSAPrivateCRT) == 0 ? static_cast<Q_RSA_PRIVATE_CRT_KEY*>(info) : nullptr;
}

Bytes PowMod(const Bytes& block, const Q_ITEM& exponent, const Q_ITEM& modulus, uint32_t k) {
  mpz_t x, e, n, y;
  mpz_inits(x, e, n, y, nullptr);
  mpz_import(x, block.size(), 1, 1, 1, 0, block.data());
  mpz_import(e, exponent.len, 1, 1, 1, 0, exponent.data);
  mpz_import(n, modulus.len, 1, 1, 1, 0, modulus.data);
  mpz_powm(y, x, e, n);
  Bytes out(k, 0);
  size_t count = 0;
  Bytes tmp((mpz_sizeinbase(y, 2) + 7) / 8 + 1);
  mpz_export(tmp.data(), &count, 1, 1, 1, 0, y);
  std::copy(tmp.begin(), tmp.begin() + static_cast<long>(count), out.end() - static_cast<long>(count));
  mpz_clears(x, e, n, y, nullptr);
  return out;
}
}  // namespace

uint32_t TestKey::k() const { return Crt(priv)->modulus.len; }

Bytes TestKey::RawPrivate(const Bytes& block) const {
  const Q_RSA_PRIVATE_CRT_KEY* key = Crt(priv);
  return PowMod(block, key->privateExponent, key->modulus, key->modulus.len);
}

Bytes TestKey::RawPublic(const Bytes& block) const {
  const Q_RSA_PRIVATE_CRT_KEY* key = Crt(priv);
  return PowMod(block, key->publicExponent, key->modulus, key->modulus.len);
}

Bytes TestKey::Pkcs8() const {
  void* info = nullptr;
  if (Q_GetKeyInfo(&info, priv, QK_RSAPrivateBER) != 0) return {};
  auto* item = static_cast<Q_ITEM*>(info);
  return Bytes(item->data, item->data + item->len);
}

int Sign(Q_INFO_TYPE type, Q_KEY_OBJ key, const Bytes& message, Bytes* signature) {
  Q_ALGORITHM_OBJ alg = nullptr;
  signature->assign(512, 0);
  uint32_t length = 0;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, type, nullptr);
  if (status == 0) status = Q_SignInit(alg, key, kSignChooser, nullptr);
  if (status == 0) status = Q_SignUpdate(alg, message.data(), static_cast<uint32_t>(message.size()), nullptr);
  if (status == 0)
    status = Q_SignFinal(alg, signature->data(), &length, static_cast<uint32_t>(signature->size()), nullptr, nullptr);
  signature->resize(status == 0 ? length : 0);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

int Verify(Q_INFO_TYPE type, Q_KEY_OBJ key, const Bytes& message, const Bytes& signature) {
  Q_ALGORITHM_OBJ alg = nullptr;
  int status = Q_CreateAlgorithmObject(&alg);
  if (status == 0) status = Q_SetAlgorithmInfo(alg, type, nullptr);
  if (status == 0) status = Q_VerifyInit(alg, key, kVerifyChooser, nullptr);
  if (status == 0) status = Q_VerifyUpdate(alg, message.data(), static_cast<uint32_t>(message.size()), nullptr);
  if (status == 0)
    status = Q_VerifyFinal(alg, signature.data(), static_cast<uint32_t>(signature.size()), nullptr, nullptr);
  Q_DestroyAlgorithmObject(&alg);
  return status;
}

}  // namespace rsatest
