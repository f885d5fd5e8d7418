// The entry points of the operation families: argument checks in the fixed
// order, then the handler checks, then the handler does the work.
#include "cryptokit/core/objects.h"

using namespace qk;

namespace {

constexpr uint32_t kInitialised = 1;

bool IsValidRandom(const Q_AlgorithmObj* random) { return random == nullptr || IsValidAlgorithm(random); }

// Finds the object's handler of family |H|; on failure |*status| says why.
// |notInitialised| is the code for use before a successful Init, or 0 when the
// call is an Init.
template <class H>
H* HandlerFor(Q_AlgorithmObj* object, Family family, int notInitialised, int* status) {
  if (object->handler == nullptr) {
    *status = Q_ERR_ALGORITHM_NOT_SET;
    return nullptr;
  }
  if (object->handler->family() != family) {
    *status = Q_ERR_WRONG_KIND;
    return nullptr;
  }
  if (notInitialised != 0 && (object->state & kInitialised) == 0) {
    *status = notInitialised;
    return nullptr;
  }
  *status = 0;
  return static_cast<H*>(object->handler);
}

// Records the outcome of an Init: the state bit is set only on success.
int AfterInit(Q_AlgorithmObj* object, int status) {
  if (status == 0) {
    object->state |= kInitialised;
  } else {
    object->state &= ~kInitialised;
  }
  return status;
}

}  // namespace

extern "C" {

int Q_RandomInit(Q_ALGORITHM_OBJ random, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<RandomHandler>(random, Family::Random, 0, &status);
  if (h == nullptr) return status;
  return AfterInit(random, h->Init(random, chooser, surrender));
}

int Q_RandomUpdate(Q_ALGORITHM_OBJ random, const unsigned char* seed, uint32_t seedLen,
                   Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<RandomHandler>(random, Family::Random, Q_ERR_RANDOM_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Update(seed, seedLen, surrender);
}

int Q_RandomGenerate(Q_ALGORITHM_OBJ random, unsigned char* output, uint32_t outputLen,
                     Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<RandomHandler>(random, Family::Random, Q_ERR_RANDOM_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Generate(output, outputLen, surrender);
}

int Q_GenerateInit(Q_ALGORITHM_OBJ object, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  int status;
  auto* h = HandlerFor<KeyGenerationHandler>(object, Family::KeyGeneration, 0, &status);
  if (h == nullptr) return status;
  return AfterInit(object, h->Init(object, chooser, surrender));
}

int Q_GenerateKeypair(Q_ALGORITHM_OBJ object, Q_KEY_OBJ publicKey, Q_KEY_OBJ privateKey, Q_ALGORITHM_OBJ random,
                      Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidKey(publicKey) || !IsValidKey(privateKey)) return Q_ERR_KEY_OBJ;
  if (!IsValidRandom(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<KeyGenerationHandler>(object, Family::KeyGeneration, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Keypair(publicKey, privateKey, random, surrender);
}

int Q_DigestInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidKey(key)) return Q_ERR_KEY_OBJ;
  int status;
  auto* h = HandlerFor<DigestHandler>(object, Family::Digest, 0, &status);
  if (h == nullptr) return status;
  return AfterInit(object, h->Init(object, key, chooser, surrender));
}

int Q_DigestUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen,
                   Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  int status;
  auto* h = HandlerFor<DigestHandler>(object, Family::Digest, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Update(data, dataLen, surrender);
}

int Q_DigestFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                  Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  int status;
  auto* h = HandlerFor<DigestHandler>(object, Family::Digest, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Final(output, outputLen, outputMax, surrender);
}

namespace {

int CipherInit(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt,
               Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidKey(key)) return Q_ERR_KEY_OBJ;
  int status;
  auto* h = HandlerFor<CipherHandler>(object, Family::Cipher, 0, &status);
  if (h == nullptr) return status;
  return AfterInit(object, h->Init(object, key, chooser, encrypt, surrender));
}

int CipherUpdate(Q_AlgorithmObj* object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                 const unsigned char* input, uint32_t inputLen, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidRandom(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<CipherHandler>(object, Family::Cipher, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Update(output, outputLen, outputMax, input, inputLen, random, surrender);
}

int CipherFinal(Q_AlgorithmObj* object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidRandom(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<CipherHandler>(object, Family::Cipher, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Final(output, outputLen, outputMax, random, surrender);
}

int SignatureInit(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool sign,
                  Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidKey(key)) return Q_ERR_KEY_OBJ;
  int status;
  auto* h = HandlerFor<SignatureHandler>(object, Family::Signature, 0, &status);
  if (h == nullptr) return status;
  return AfterInit(object, h->Init(object, key, chooser, sign, surrender));
}

int SignatureUpdate(Q_AlgorithmObj* object, const unsigned char* data, uint32_t dataLen,
                    Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  int status;
  auto* h = HandlerFor<SignatureHandler>(object, Family::Signature, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->Update(data, dataLen, surrender);
}

}  // namespace

int Q_EncryptInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  return CipherInit(object, key, chooser, true, surrender);
}

int Q_DecryptInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  return CipherInit(object, key, chooser, false, surrender);
}

int Q_EncryptUpdate(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                    const unsigned char* input, uint32_t inputLen, Q_ALGORITHM_OBJ random,
                    Q_SURRENDER_CTX* surrender) {
  return CipherUpdate(object, output, outputLen, outputMax, input, inputLen, random, surrender);
}

int Q_DecryptUpdate(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                    const unsigned char* input, uint32_t inputLen, Q_ALGORITHM_OBJ random,
                    Q_SURRENDER_CTX* surrender) {
  return CipherUpdate(object, output, outputLen, outputMax, input, inputLen, random, surrender);
}

int Q_EncryptFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                   Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  return CipherFinal(object, output, outputLen, outputMax, random, surrender);
}

int Q_DecryptFinal(Q_ALGORITHM_OBJ object, unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                   Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  return CipherFinal(object, output, outputLen, outputMax, random, surrender);
}

int Q_SignInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  return SignatureInit(object, key, chooser, true, surrender);
}

int Q_VerifyInit(Q_ALGORITHM_OBJ object, Q_KEY_OBJ key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) {
  return SignatureInit(object, key, chooser, false, surrender);
}

int Q_SignUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen, Q_SURRENDER_CTX* surrender) {
  return SignatureUpdate(object, data, dataLen, surrender);
}

int Q_VerifyUpdate(Q_ALGORITHM_OBJ object, const unsigned char* data, uint32_t dataLen,
                   Q_SURRENDER_CTX* surrender) {
  return SignatureUpdate(object, data, dataLen, surrender);
}

int Q_SignFinal(Q_ALGORITHM_OBJ object, unsigned char* signature, uint32_t* signatureLen, uint32_t signatureMax,
                Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidRandom(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<SignatureHandler>(object, Family::Signature, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->SignFinal(signature, signatureLen, signatureMax, random, surrender);
}

int Q_VerifyFinal(Q_ALGORITHM_OBJ object, const unsigned char* signature, uint32_t signatureLen,
                  Q_ALGORITHM_OBJ random, Q_SURRENDER_CTX* surrender) {
  if (!IsValidAlgorithm(object)) return Q_ERR_ALGORITHM_OBJ;
  if (!IsValidRandom(random)) return Q_ERR_RANDOM_OBJ;
  int status;
  auto* h = HandlerFor<SignatureHandler>(object, Family::Signature, Q_ERR_NOT_INITIALIZED, &status);
  if (h == nullptr) return status;
  return h->VerifyFinal(signature, signatureLen, random, surrender);
}

}  // extern "C"
