// The inside of the crypto toolkit's objects: owned-memory lists, info lists,
// key and algorithm objects, info type descriptors, handlers, method records
// and method selection. Only toolkit sources include this header.
#ifndef KVCATOOL_CRYPTOKIT_CORE_OBJECTS_H
#define KVCATOOL_CRYPTOKIT_CORE_OBJECTS_H

#include <cstdint>

#include "cryptokit/cryptokit.h"
#include "cryptokit/qmemory.h"

namespace qk {

// ---------------------------------------------------------------------------
// Owned-memory list: every block an object allocates, wiped and freed when the
// object goes.

struct OwnedEntry {
  void* block;
  uint32_t length;
  void (*release)(void* block);  // null: wipe |length| bytes and free
};

struct OwnedMemory {
  int count = 0;
  int capacity = 0;
  OwnedEntry* entries = nullptr;
};

// OwnedAdd enters |block| in |list|. 0, or 518 when the list cannot grow (the
// block is then not entered; the caller still owns it).
int OwnedAdd(OwnedMemory* list, void* block, uint32_t length, void (*release)(void*));
// OwnedAllocate allocates |length| bytes owned by |list|; null on failure.
void* OwnedAllocate(OwnedMemory* list, uint32_t length);
// OwnedCopy copies |length| bytes of |data| into a block owned by |list|;
// null on failure. A zero length still gives a (1-byte) block.
unsigned char* OwnedCopy(OwnedMemory* list, const void* data, uint32_t length);
// OwnedReleaseAll releases every entry (wiping plain blocks) and the array.
void OwnedReleaseAll(OwnedMemory* list);

// ---------------------------------------------------------------------------
// Info list: pairs {descriptor, info} in insertion order.

struct InfoPair {
  const void* descriptor;
  void* info;
};

struct InfoList {
  int count = 0;
  InfoPair* pairs = nullptr;
};

// InfoFind returns the info of the first pair with |descriptor|, or null.
void* InfoFind(const InfoList* list, const void* descriptor);
// InfoAppend appends {descriptor, info}, growing the array (an entry of
// |memory|) by exactly one pair. 0 or 518.
int InfoAppend(OwnedMemory* memory, InfoList* list, const void* descriptor, void* info);
// InfoDropLast removes the last pair (used to undo a failed set).
void InfoDropLast(InfoList* list);

}  // namespace qk

// ---------------------------------------------------------------------------
// The objects behind the opaque handles.

namespace qk {
class Handler;
extern const int kKeyObjectMarker;
extern const int kAlgorithmObjectMarker;
}  // namespace qk

struct Q_KeyObj {
  qk::OwnedMemory memory;
  qk::InfoList infos;
  const void* marker;
  Q_KeyObj* self;
};

struct Q_AlgorithmObj {
  qk::OwnedMemory memory;
  qk::InfoList infos;
  qk::Handler* handler;
  uint32_t state;  // bit 0: the family's Init has succeeded
  const void* marker;
  Q_AlgorithmObj* self;
};

// An algorithm method record: which algorithm it implements, its side
// (1 encrypting, 0 decrypting or no sides), the key form it needs and its
// operation table, whose shape depends on the algorithm.
struct Q_ALGORITHM_METHOD {
  const void* algorithmType;
  unsigned direction;
  Q_INFO_TYPE requiredKeyInfo;
  const void* operations;
};

namespace qk {

// Algorithm types, compared by address.
struct AlgorithmType {
  const char* name;
};
extern const AlgorithmType kTypeMD2;
extern const AlgorithmType kTypeMD5;
extern const AlgorithmType kTypeSHA1;
extern const AlgorithmType kTypeSHA256;
extern const AlgorithmType kTypeSHA384;
extern const AlgorithmType kTypeSHA512;
extern const AlgorithmType kTypeRandom;
extern const AlgorithmType kTypeRSAKeyGen;
extern const AlgorithmType kTypeRSAPublic;
extern const AlgorithmType kTypeRSAPrivate;
extern const AlgorithmType kTypeDESCBC;
// AES-CBC and HMAC.
extern const AlgorithmType kTypeAES128CBC;
extern const AlgorithmType kTypeAES256CBC;
extern const AlgorithmType kTypeHMACSHA1;
extern const AlgorithmType kTypeHMACSHA256;
extern const AlgorithmType kTypeHMACSHA384;
extern const AlgorithmType kTypeHMACSHA512;

bool IsValidKey(const Q_KeyObj* key);  // null counts as valid
bool IsValidAlgorithm(const Q_AlgorithmObj* object);

// ---------------------------------------------------------------------------
// Info type descriptors.

struct KeyInfoDescriptor {
  // Copies |info| into blocks owned by |key| and appends the resulting forms.
  int (*set)(Q_KeyObj* key, const void* info);
  // Builds this form from another one the key holds, in blocks it owns.
  int (*get)(void** info, Q_KeyObj* key);
};

struct AlgInfoDescriptor;
struct AlgInfoOps {
  int (*setInfo)(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info);
  // Null entry: the algorithm needs no handler. A null result means 518.
  Handler* (*createHandler)(const AlgInfoDescriptor* self, Q_AlgorithmObj* object);
  // Null entry: the form cannot be produced (541).
  int (*getInfo)(const AlgInfoDescriptor* self, void** info, Q_AlgorithmObj* object);
};

// The start of every algorithm info descriptor; info types derive from it and
// add data of their own.
struct AlgInfoDescriptor {
  const AlgInfoOps* ops;
};

// Returns the descriptor of |type| and whether it is a key info type.
inline bool DescriptorOf(Q_INFO_TYPE type, const void** descriptor) {
  *descriptor = nullptr;
  return type(descriptor) == 1;
}

// SetInfoCopy is the common set-info entry for algorithm info types that take
// no parameters: it appends {descriptor, null}.
int SetInfoNoParameters(const AlgInfoDescriptor* self, Q_AlgorithmObj* object, const void* info);

// GetKeyForm is Q_GetKeyInfo for toolkit code that already holds the object.
int GetKeyForm(void** info, Q_KeyObj* key, Q_INFO_TYPE type);

// AppendItemForm copies |length| bytes of |data| into blocks owned by |key|
// and appends them as its QK_Item form (a Q_ITEM); |*item|, when not null,
// receives the copy. 0 or 518. Key forms that also record their bytes as
// QK_Item use it.
int AppendItemForm(Q_KeyObj* key, const unsigned char* data, uint32_t length, Q_ITEM** item);

// ---------------------------------------------------------------------------
// Handlers: the working object of one algorithm, made when its info is set.

enum class Family { Random, KeyGeneration, Digest, Cipher, Signature };

class Handler {
 public:
  explicit Handler(Family family) : family_(family) {}
  virtual ~Handler() = default;
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;
  Family family() const { return family_; }

 private:
  Family family_;
};

class RandomHandler : public Handler {
 public:
  RandomHandler() : Handler(Family::Random) {}
  virtual int Init(Q_AlgorithmObj* object, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Update(const unsigned char* seed, uint32_t length, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Generate(unsigned char* output, uint32_t length, Q_SURRENDER_CTX* surrender) = 0;
};

class KeyGenerationHandler : public Handler {
 public:
  KeyGenerationHandler() : Handler(Family::KeyGeneration) {}
  virtual int Init(Q_AlgorithmObj* object, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Keypair(Q_KeyObj* publicKey, Q_KeyObj* privateKey, Q_AlgorithmObj* random,
                      Q_SURRENDER_CTX* surrender) = 0;
};

class DigestHandler : public Handler {
 public:
  DigestHandler() : Handler(Family::Digest) {}
  virtual int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Update(const unsigned char* data, uint32_t length, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax,
                    Q_SURRENDER_CTX* surrender) = 0;
};

// Encrypting when |encrypt| is true at Init, decrypting otherwise.
class CipherHandler : public Handler {
 public:
  CipherHandler() : Handler(Family::Cipher) {}
  virtual int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool encrypt,
                   Q_SURRENDER_CTX* surrender) = 0;
  virtual int Update(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, const unsigned char* input,
                     uint32_t inputLen, Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender) = 0;
  virtual int Final(unsigned char* output, uint32_t* outputLen, uint32_t outputMax, Q_AlgorithmObj* random,
                    Q_SURRENDER_CTX* surrender) = 0;
};

// Signing when |sign| is true at Init, verifying otherwise.
class SignatureHandler : public Handler {
 public:
  SignatureHandler() : Handler(Family::Signature) {}
  virtual int Init(Q_AlgorithmObj* object, Q_KeyObj* key, Q_CHOOSER chooser, bool sign,
                   Q_SURRENDER_CTX* surrender) = 0;
  virtual int Update(const unsigned char* data, uint32_t length, Q_SURRENDER_CTX* surrender) = 0;
  virtual int SignFinal(unsigned char* signature, uint32_t* signatureLen, uint32_t signatureMax,
                        Q_AlgorithmObj* random, Q_SURRENDER_CTX* surrender) = 0;
  virtual int VerifyFinal(const unsigned char* signature, uint32_t signatureLen, Q_AlgorithmObj* random,
                          Q_SURRENDER_CTX* surrender) = 0;
};

// ---------------------------------------------------------------------------
// Method selection.

// The handler's method-initialise step: adopt |method| with |keyForm| (null
// when the method needs no key form). Returns a toolkit code.
class MethodInitialiser {
 public:
  virtual int Initialise(const Q_ALGORITHM_METHOD* method, void* keyForm) = 0;

 protected:
  ~MethodInitialiser() = default;
};

// SelectMethod walks |chooser| for a method of |type| and |direction|, gets
// the key form the method needs from |key| and lets |initialiser| adopt it.
// 0 once one is adopted; 518, 519 or 523 at once; otherwise the last failure,
// or 545 when nothing matched.
int SelectMethod(const AlgorithmType* type, unsigned direction, Q_KeyObj* key, Q_CHOOSER chooser,
                 MethodInitialiser* initialiser);

// Adapts a lambda to MethodInitialiser.
template <class F>
class LambdaInitialiser final : public MethodInitialiser {
 public:
  explicit LambdaInitialiser(F f) : f_(f) {}
  int Initialise(const Q_ALGORITHM_METHOD* method, void* keyForm) override { return f_(method, keyForm); }

 private:
  F f_;
};

template <class F>
int SelectMethodWith(const AlgorithmType* type, unsigned direction, Q_KeyObj* key, Q_CHOOSER chooser, F f) {
  LambdaInitialiser<F> initialiser(f);
  return SelectMethod(type, direction, key, chooser, &initialiser);
}

// ---------------------------------------------------------------------------
// Status translation.

// MethodStatusToCode turns a method's small status into a toolkit code.
int MethodStatusToCode(int methodStatus);
// BignumStatusToMethodStatus turns a big-number status into a method status.
int BignumStatusToMethodStatus(int bignumStatus);

// Calls the surrender callback; true when the operation must stop.
inline bool Surrendered(Q_SURRENDER_CTX* surrender) {
  return surrender != nullptr && surrender->Surrender != nullptr && surrender->Surrender(surrender->handle) != 0;
}

}  // namespace qk

#endif
