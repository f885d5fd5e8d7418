// The MD5 random generator: a 16-byte state S hashed with MD5 into each
// 16-byte output block O, S advancing by 1 until two seeds have been absorbed
// and by the increment T after that. The same seed material always gives the
// same byte stream.
#include "cryptokit/core/objects.h"
#include "cryptokit/digest/digests.h"

namespace qk {
namespace {

constexpr uint32_t kBlock = 16;  // the MD5 digest length

struct GeneratorContext {
  int pending = 0;    // seed absorbed since S was last derived
  int countdown = 2;  // decreased by each update down to 0
  uint32_t blockLength = kBlock;
  unsigned char state[kBlock] = {};      // S
  unsigned char output[kBlock] = {};     // O
  unsigned char increment[kBlock] = {};  // T
  uint32_t available = 0;                // unread bytes at the end of O
  Md5Context md5{};
};

// a = a + b modulo 2^128, both big-endian.
void AddBigEndian(unsigned char* a, const unsigned char* b) {
  unsigned carry = 0;
  for (int i = kBlock - 1; i >= 0; --i) {
    unsigned sum = a[i] + b[i] + carry;
    a[i] = static_cast<unsigned char>(sum);
    carry = sum >> 8;
  }
}

void AddOne(unsigned char* a) {
  for (int i = kBlock - 1; i >= 0; --i) {
    if (++a[i] != 0) break;
  }
}

void Md5Of(const unsigned char* in, uint32_t length, unsigned char* out) {
  Md5Context c;
  Md5Init(&c);
  Md5Update(&c, in, length);
  Md5Final(&c, out);
  QMem_Wipe(&c, sizeof c);
}

class Md5RandomHandler final : public RandomHandler {
 public:
  ~Md5RandomHandler() override { QDelete(context_); }

  int Init(Q_AlgorithmObj*, Q_CHOOSER chooser, Q_SURRENDER_CTX*) override {
    return SelectMethodWith(&kTypeRandom, 0, nullptr, chooser, [this](const Q_ALGORITHM_METHOD*, void*) {
      auto* fresh = QNew<GeneratorContext>();
      if (fresh == nullptr) return Q_ERR_ALLOC;
      QDelete(context_);
      context_ = fresh;
      Md5Init(&context_->md5);
      return 0;
    });
  }

  int Update(const unsigned char* seed, uint32_t length, Q_SURRENDER_CTX*) override {
    if (seed == nullptr && length != 0) return Q_ERR_INPUT_DATA;
    GeneratorContext& g = *context_;
    if (g.countdown == 2) {
      // T is the digest of the empty message with its lowest bit set, so
      // that adding it always moves the state.
      Md5Final(&g.md5, g.increment);
      g.increment[kBlock - 1] |= 1;
    }
    if (g.countdown > 0) --g.countdown;
    if (g.countdown == 0 && g.pending == 0) Md5Update(&g.md5, g.state, kBlock);
    Md5Update(&g.md5, seed, length);
    g.pending = 1;
    return 0;
  }

  int Generate(unsigned char* output, uint32_t length, Q_SURRENDER_CTX*) override {
    if (output == nullptr && length != 0) return Q_ERR_INPUT_DATA;
    GeneratorContext& g = *context_;
    if (g.pending != 0) {
      g.pending = 0;
      g.available = 0;
      Md5Final(&g.md5, g.state);
    }
    while (length > g.available) {
      QMem_Copy(output, g.output + (kBlock - g.available), g.available);
      output += g.available;
      length -= g.available;
      Md5Of(g.state, kBlock, g.output);
      if (g.countdown > 0) {
        AddOne(g.state);
      } else {
        AddBigEndian(g.state, g.increment);
      }
      g.available = kBlock;
    }
    QMem_Copy(output, g.output + (kBlock - g.available), length);
    g.available -= length;
    return 0;
  }

 private:
  GeneratorContext* context_ = nullptr;
};

Handler* CreateRandomHandler(const AlgInfoDescriptor*, Q_AlgorithmObj*) { return QNew<Md5RandomHandler>(); }

const AlgInfoOps kRandomInfoOps{SetInfoNoParameters, CreateRandomHandler, nullptr};
const AlgInfoDescriptor kRandomDescriptor{&kRandomInfoOps};
// The generator needs no operations of its own beyond the handler's.
const int kRandomMethodOps = 0;

}  // namespace
}  // namespace qk

extern "C" {

const Q_ALGORITHM_METHOD QM_MD5Random = {&qk::kTypeRandom, 0, nullptr, &qk::kRandomMethodOps};

int QA_MD5Random(const void** descriptor) {
  *descriptor = &qk::kRandomDescriptor;
  return 0;
}

}  // extern "C"
