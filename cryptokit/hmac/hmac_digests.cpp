// The HMAC methods over the SHA-1 and SHA-2 compression functions.
//
// HMAC(K, m) = H((K ^ opad) || H((K ^ ipad) || m)). The chaining states
// after the blocks K ^ ipad and K ^ opad are computed when the key is set.
// A message is then digested by the ordinary digest context resumed from the
// inner state, with one block already counted; the outer digest likewise.
// PBKDF2's iterations, whose messages are a single digest long, skip the
// buffering entirely: the message and its padding fit one block, built once,
// of which only the first bytes change.
#include <cstring>

#include "cryptokit/digest/byte_order.h"
#include "cryptokit/digest/digests.h"
#include "cryptokit/digest/sha1_blocks.h"
#include "cryptokit/digest/sha256_blocks.h"
#include "cryptokit/digest/sha512_blocks.h"
#include "cryptokit/hmac/hmac.h"

namespace qk {
namespace {

// What HMAC needs of a digest: its context, the chaining words, the block
// and the length field, and how to resume a context from a chaining state.
struct Sha1Traits {
  using Word = uint32_t;
  using Context = Sha1Context;
  static constexpr uint32_t kWords = 5, kBlock = 64, kDigest = 20;
  static void Init(Context* c) { Sha1Init(c); }
  static void Update(Context* c, const uint8_t* d, uint32_t n) { Sha1Update(c, d, n); }
  static void Final(Context* c, uint8_t* out) { Sha1Final(c, out); }
  static Sha1BlocksFn Blocks() { return Sha1SelectedBlocks(); }
  static void StoreWord(uint8_t* p, Word w) { Store32Be(p, w); }
  static void Resume(Context* c, const Word* state) {
    std::memcpy(c->state, state, sizeof c->state);
    c->bitCount = kBlock * 8;
  }
};

struct Sha256Traits {
  using Word = uint32_t;
  using Context = Sha256Context;
  static constexpr uint32_t kWords = 8, kBlock = 64, kDigest = 32;
  static void Init(Context* c) { Sha256Init(c); }
  static void Update(Context* c, const uint8_t* d, uint32_t n) { Sha256Update(c, d, n); }
  static void Final(Context* c, uint8_t* out) { Sha256Final(c, out); }
  static Sha256BlocksFn Blocks() { return Sha256SelectedBlocks(); }
  static void StoreWord(uint8_t* p, Word w) { Store32Be(p, w); }
  static void Resume(Context* c, const Word* state) {
    std::memcpy(c->state, state, sizeof c->state);
    c->bitCount = kBlock * 8;
  }
};

template <uint32_t Digest, void (*InitFn)(Sha512Context*), void (*FinalFn)(Sha512Context*, uint8_t*)>
struct Sha512FamilyTraits {
  using Word = uint64_t;
  using Context = Sha512Context;
  static constexpr uint32_t kWords = 8, kBlock = 128, kDigest = Digest;
  static void Init(Context* c) { InitFn(c); }
  static void Update(Context* c, const uint8_t* d, uint32_t n) { Sha512Update(c, d, n); }
  static void Final(Context* c, uint8_t* out) { FinalFn(c, out); }
  static Sha512BlocksFn Blocks() { return Sha512SelectedBlocks(); }
  static void StoreWord(uint8_t* p, Word w) { Store64Be(p, w); }
  static void Resume(Context* c, const Word* state) {
    std::memcpy(c->state, state, sizeof c->state);
    c->bitCountHigh = 0;
    c->bitCountLow = kBlock * 8;
  }
};
using Sha384Traits = Sha512FamilyTraits<48, Sha384Init, Sha384Final>;
using Sha512Traits = Sha512FamilyTraits<64, Sha512Init, Sha512Final>;

template <class T>
struct HmacContext {
  typename T::Word inner[T::kWords];
  typename T::Word outer[T::kWords];
  typename T::Context running;  // the message so far, resumed from |inner|
};

template <class T>
struct Hmac {
  using Context = HmacContext<T>;

  static void Init(void* context, const uint8_t* key, uint32_t keyLength) {
    auto* c = static_cast<Context*>(context);
    uint8_t k[T::kBlock] = {};
    if (keyLength > T::kBlock) {
      T::Init(&c->running);
      T::Update(&c->running, key, keyLength);
      T::Final(&c->running, k);
    } else {
      QMem_Copy(k, key, keyLength);
    }
    const auto blocks = T::Blocks();
    T::Init(&c->running);  // for the digest's initial chaining words
    std::memcpy(c->inner, c->running.state, sizeof c->inner);
    std::memcpy(c->outer, c->running.state, sizeof c->outer);
    for (uint32_t i = 0; i < T::kBlock; ++i) k[i] ^= 0x36;
    blocks(c->inner, k, 1);
    for (uint32_t i = 0; i < T::kBlock; ++i) k[i] ^= 0x36 ^ 0x5c;
    blocks(c->outer, k, 1);
    QMem_Wipe(k, sizeof k);
    T::Resume(&c->running, c->inner);
  }

  static void Update(void* context, const uint8_t* data, uint32_t length) {
    T::Update(&static_cast<Context*>(context)->running, data, length);
  }

  static void Final(void* context, uint8_t* mac) {
    auto* c = static_cast<Context*>(context);
    uint8_t innerDigest[T::kDigest];
    T::Final(&c->running, innerDigest);
    T::Resume(&c->running, c->outer);
    T::Update(&c->running, innerDigest, T::kDigest);
    T::Final(&c->running, mac);
    T::Resume(&c->running, c->inner);
    QMem_Wipe(innerDigest, sizeof innerDigest);
  }

  // Writes the first kDigest bytes of |state| into |block|, big-endian.
  static void StoreDigest(uint8_t* block, const typename T::Word* state) {
    for (uint32_t i = 0; i < T::kDigest / sizeof(typename T::Word); ++i) {
      T::StoreWord(block + i * sizeof(typename T::Word), state[i]);
    }
  }

  static int Pbkdf2Block(const void* context, const uint8_t* salt, uint32_t saltLength, uint32_t index,
                         uint32_t iterations, uint8_t* out, Q_SURRENDER_CTX* surrender) {
    const auto* keyed = static_cast<const Context*>(context);
    // U1 = PRF(P, S || INT(i)) through the buffered path.
    Context first = *keyed;
    uint8_t be[4];
    Store32Be(be, index);
    Update(&first, salt, saltLength);
    Update(&first, be, 4);
    alignas(16) uint8_t block[T::kBlock] = {};
    Final(&first, block);
    QMem_Wipe(&first, sizeof first);
    QMem_Copy(out, block, T::kDigest);
    // Uj = PRF(P, U(j-1)): one block holding U, 0x80, zeros and the bit
    // length of a block and a digest, at the end of the block.
    block[T::kDigest] = 0x80;
    Store32Be(block + T::kBlock - 4, (T::kBlock + T::kDigest) * 8);
    const auto blocks = T::Blocks();
    typename T::Word state[T::kWords];
    int status = 0;
    for (uint32_t j = 2; j <= iterations; ++j) {
      std::memcpy(state, keyed->inner, sizeof state);
      blocks(state, block, 1);
      StoreDigest(block, state);
      std::memcpy(state, keyed->outer, sizeof state);
      blocks(state, block, 1);
      StoreDigest(block, state);
      for (uint32_t i = 0; i < T::kDigest; ++i) out[i] ^= block[i];
      if ((j & 4095) == 0 && Surrendered(surrender)) {
        status = Q_ERR_CANCEL;
        break;
      }
    }
    QMem_Wipe(block, sizeof block);
    QMem_Wipe(state, sizeof state);
    return status;
  }

  static constexpr HmacMethodOps kOps{sizeof(Context), T::kDigest, T::kBlock, Init, Update, Final, Pbkdf2Block};
};

}  // namespace

const HmacMethodOps kHmacSha1Ops = Hmac<Sha1Traits>::kOps;
const HmacMethodOps kHmacSha256Ops = Hmac<Sha256Traits>::kOps;
const HmacMethodOps kHmacSha384Ops = Hmac<Sha384Traits>::kOps;
const HmacMethodOps kHmacSha512Ops = Hmac<Sha512Traits>::kOps;

}  // namespace qk
