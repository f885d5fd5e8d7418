// The crypto toolkit's DER codec on arbitrary bytes.
//
// Every structure decoder of cryptokit/der/der.h reads the input; whenever
// one succeeds, the structure is encoded again from the decoded values and
// the encoding decoded once more: it must give the same values, and encoding
// those gives the same bytes. The header reader and writer get the same
// round trip.
#include <cstdint>
#include <vector>

#include "cryptokit/der/der.h"
#include "fuzz_support.h"

namespace {

using namespace qk::der;
using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const Q_ITEM& item) {
  FuzzCheck(item.data != nullptr || item.len == 0);
  return item.len == 0 ? Bytes() : Bytes(item.data, item.data + item.len);
}

// An encoder's output, checked for size against the writer's limits.
struct Output {
  unsigned char buffer[kMaxTotalLength + 1];
  uint32_t length = 0;
  BufferSink target{buffer, sizeof buffer, &length};
  DerSink sink() { return ToBuffer(&target); }
  Bytes bytes() const { return Bytes(buffer, buffer + length); }
};

Output& Scratch(int which) {
  static Output outputs[2];
  outputs[which].length = 0;
  return outputs[which];
}

// Encoders may refuse values they cannot write (too long, or empty where a
// value is needed); anything else is a fault.
bool Encoded(int status) {
  FuzzCheck(status == 0 || status == Q_ERR_DER_TOO_LONG || status == Q_ERR_METHOD || status == Q_ERR_INPUT_DATA);
  return status == 0;
}

// Runs decode → encode → decode → encode for one structure whose decoded
// values are a list of byte strings.
template <class DecodeFn, class EncodeFn>
void RoundTrip(const Bytes& input, DecodeFn decode, EncodeFn encode) {
  std::vector<Bytes> first;
  if (decode(input.data(), static_cast<uint32_t>(input.size()), &first) != 0) return;
  Output& out = Scratch(0);
  if (!Encoded(encode(first, out.sink()))) return;
  const Bytes encoding = out.bytes();
  std::vector<Bytes> second;
  FuzzCheck(decode(encoding.data(), static_cast<uint32_t>(encoding.size()), &second) == 0);
  FuzzCheck(second == first);
  Output& again = Scratch(1);
  FuzzCheck(encode(second, again.sink()) == 0);
  FuzzCheck(again.bytes() == encoding);
}

Q_ITEM Item(const Bytes& b) { return Q_ITEM{const_cast<uint8_t*>(b.data()), static_cast<uint32_t>(b.size())}; }

// An absent optional element decodes as {null, 0}; it is written back as
// absent, so it is kept apart from a present empty one.
Bytes Optional(const Q_ITEM& item) {
  Bytes b = ToBytes(item);
  b.insert(b.begin(), item.data == nullptr ? 0 : 1);
  return b;
}
Q_ITEM FromOptional(const Bytes& b) {
  if (b[0] == 0) return Q_ITEM{nullptr, 0};
  return Q_ITEM{const_cast<uint8_t*>(b.data() + 1), static_cast<uint32_t>(b.size() - 1)};
}

void RsaPublicKey(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM m, e;
        int status = DecodeRSAPublicKey(in, len, &m, &e);
        if (status == 0) *v = {ToBytes(m), ToBytes(e)};
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) { return EncodeRSAPublicKey(Item(v[0]), Item(v[1]), sink); });
}

void RsaPrivateKey(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM c[8];
        int status = DecodeRSAPrivateKey(in, len, c);
        if (status == 0) {
          v->clear();
          for (const Q_ITEM& item : c) v->push_back(ToBytes(item));
        }
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) {
        Q_ITEM c[8];
        for (int i = 0; i < 8; ++i) c[i] = Item(v[i]);
        return EncodeRSAPrivateKey(c, sink);
      });
}

void SubjectPublicKeyInfo(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM algorithm, parameters;
        DerBitString key;
        int status = DecodeSubjectPublicKeyInfo(in, len, &algorithm, &parameters, &key);
        if (status == 0) {
          FuzzCheck(key.unusedBits < 8);
          FuzzCheck(key.unusedBits == 0 || key.length != 0);
          // The value's bits: the unused low bits of the last octet are not
          // part of it (DER has them zero; BER input may not).
          Bytes bits = ToBytes(Q_ITEM{const_cast<unsigned char*>(key.data), key.length});
          if (!bits.empty()) bits.back() = static_cast<uint8_t>(bits.back() & (0xFF << key.unusedBits));
          *v = {ToBytes(algorithm), Optional(parameters), bits, Bytes{static_cast<uint8_t>(key.unusedBits)}};
        }
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) {
        // The encoder takes the last octet's bits right-aligned and shifts
        // them left by the unused-bit count, while the decoder hands out the
        // octet as it stands: the value is shifted back before encoding.
        Bytes bits = v[2];
        if (!bits.empty()) bits.back() = static_cast<uint8_t>(bits.back() >> v[3][0]);
        DerBitString key{bits.data(), static_cast<uint32_t>(bits.size()), v[3][0]};
        return EncodeSubjectPublicKeyInfo(Item(v[0]), FromOptional(v[1]), key, sink);
      });
}

void PrivateKeyInfo(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM algorithm, parameters, key;
        int status = DecodePrivateKeyInfo(in, len, &algorithm, &parameters, &key);
        if (status == 0) *v = {ToBytes(algorithm), Optional(parameters), ToBytes(key)};
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) {
        return EncodePrivateKeyInfo(Item(v[0]), FromOptional(v[1]), Item(v[2]), sink);
      });
}

void DigestInfo(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM algorithm, digest;
        int status = DecodeDigestInfo(in, len, &algorithm, &digest);
        if (status == 0) *v = {ToBytes(algorithm), ToBytes(digest)};
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) { return EncodeDigestInfo(Item(v[0]), Item(v[1]), sink); });
}

void AlgorithmIdentifier(const Bytes& input) {
  RoundTrip(
      input,
      [](const unsigned char* in, uint32_t len, std::vector<Bytes>* v) {
        Q_ITEM algorithm, parameters;
        int status = DecodeAlgorithmIdentifier(in, len, &algorithm, &parameters);
        if (status == 0) *v = {ToBytes(algorithm), Optional(parameters)};
        return status;
      },
      [](const std::vector<Bytes>& v, const DerSink& sink) {
        return EncodeAlgorithmIdentifier(Item(v[0]), FromOptional(v[1]), sink);
      });
}

// The header reader over the input, element after element, and the writer
// for each element read.
void Headers(const Bytes& input) {
  uint32_t at = 0;
  while (at < input.size()) {
    uint32_t identifier = 0, contentsLength = 0, total = 0;
    const unsigned char* contents = nullptr;
    const uint32_t available = static_cast<uint32_t>(input.size()) - at;
    if (ReadIdentifierAndLength(input.data() + at, available, &identifier, &contents, &contentsLength, &total) != 0) {
      return;
    }
    FuzzCheck(total > 0 && total <= available);
    FuzzCheck(contents >= input.data() + at && contents + contentsLength <= input.data() + at + total);
    FuzzCheck(identifier == input[at]);
    // The writer takes low tag numbers only.
    if ((identifier & 0x1F) != 0x1F) {
      Output& out = Scratch(0);
      uint32_t written = 0;
      int status = WriteIdentifierAndLength(identifier, contentsLength, contents, out.buffer, sizeof out.buffer, &written);
      if (status == 0) {
        uint32_t id2 = 0, len2 = 0, total2 = 0;
        const unsigned char* contents2 = nullptr;
        FuzzCheck(ReadIdentifierAndLength(out.buffer, written, &id2, &contents2, &len2, &total2) == 0);
        FuzzCheck(id2 == identifier && total2 == written);
        // An indefinite length comes back definite, over the same octets.
        FuzzCheck(fuzz::SameBytes(contents2, len2, contents, contentsLength));
      }
    }
    at += total;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFF) return 0;
  // A block of its own, so that a read past the input is caught.
  const Bytes input(data, data + size);
  RsaPublicKey(input);
  RsaPrivateKey(input);
  SubjectPublicKeyInfo(input);
  PrivateKeyInfo(input);
  DigestInfo(input);
  AlgorithmIdentifier(input);
  Headers(input);
  return 0;
}
