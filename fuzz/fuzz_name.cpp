// C_SetNameBER on arbitrary bytes, with the C_GetNameDER round trip.
//
// Properties:
// - a failed set leaves the name as it was (its AVAs and DER);
// - when the set succeeds, the DER that comes back decodes again to the same
//   AVAs and the same DER;
// - adding those AVAs one by one to an empty name and encoding gives that
//   DER too (the encoder and the normaliser agree).
#include <cstdint>
#include <vector>

#include "certkit/certkit.h"
#include "fuzz_support.h"

namespace {

struct Ava {
  std::vector<uint8_t> oid;
  uint32_t tag;
  std::vector<uint8_t> value;
  uint32_t valueLen;
  uint32_t newRDN;
  bool operator==(const Ava&) const = default;
};

std::vector<Ava> AvasOf(C_NAME_OBJ name) {
  uint32_t count = 0;
  FuzzCheck(C_GetNameAVACount(name, &count) == 0);
  std::vector<Ava> avas;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* oid = nullptr;
    const unsigned char* value = nullptr;
    uint32_t oidLen = 0, tag = 0, valueLen = 0, newRDN = 0;
    FuzzCheck(C_GetNameAVA(name, i, &oid, &oidLen, &tag, &value, &valueLen, &newRDN) == 0);
    const uint32_t octets = tag == C_TAG_BMP_STRING ? 2 * valueLen : valueLen;
    avas.push_back(Ava{std::vector<uint8_t>(oid, oid + oidLen), tag,
                       std::vector<uint8_t>(value, value + octets), valueLen, newRDN});
  }
  return avas;
}

std::vector<uint8_t> DerOf(C_NAME_OBJ name) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  FuzzCheck(C_GetNameDER(name, &der, &len) == 0);
  return std::vector<uint8_t>(der, der + len);
}

// A name the object holds before the fuzzed set: CN=fuzz.
const uint8_t kStartName[] = {0x30, 0x0f, 0x31, 0x0d, 0x30, 0x0b, 0x06, 0x03, 0x55, 0x04,
                              0x03, 0x13, 0x04, 0x66, 0x75, 0x7a, 0x7a};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  C_NAME_OBJ name = nullptr;
  FuzzCheck(C_CreateNameObject(&name) == 0);
  FuzzCheck(C_SetNameBER(name, kStartName, sizeof kStartName) == 0);
  const std::vector<Ava> before = AvasOf(name);
  const std::vector<uint8_t> beforeDer = DerOf(name);

  int status = C_SetNameBER(name, data, static_cast<uint32_t>(size));
  if (status != 0) {
    FuzzCheck(AvasOf(name) == before);
    FuzzCheck(DerOf(name) == beforeDer);
    C_DestroyNameObject(&name);
    FuzzCheck(name == nullptr);
    return 0;
  }

  const std::vector<Ava> avas = AvasOf(name);
  const std::vector<uint8_t> der = DerOf(name);
  FuzzCheck(avas.empty() == der.empty());

  if (!der.empty()) {
    // Decode the DER that came back.
    C_NAME_OBJ again = nullptr;
    FuzzCheck(C_CreateNameObject(&again) == 0);
    FuzzCheck(C_SetNameBER(again, der.data(), static_cast<uint32_t>(der.size())) == 0);
    FuzzCheck(AvasOf(again) == avas);
    FuzzCheck(DerOf(again) == der);
    C_DestroyNameObject(&again);

    // Build the same AVAs through C_AddNameAVA and let the encoder write them.
    C_NAME_OBJ built = nullptr;
    FuzzCheck(C_CreateNameObject(&built) == 0);
    for (size_t i = 0; i < avas.size(); ++i) {
      const Ava& a = avas[i];
      uint32_t index = 0;
      FuzzCheck(C_AddNameAVA(built, a.oid.data(), static_cast<uint32_t>(a.oid.size()), a.tag, a.value.data(),
                             a.valueLen, a.newRDN, &index) == 0);
      FuzzCheck(index == i);
    }
    FuzzCheck(AvasOf(built) == avas);
    FuzzCheck(DerOf(built) == der);
    C_DestroyNameObject(&built);
  }

  FuzzCheck(C_ResetName(name) == 0);
  FuzzCheck(DerOf(name).empty());
  C_DestroyNameObject(&name);
  return 0;
}
