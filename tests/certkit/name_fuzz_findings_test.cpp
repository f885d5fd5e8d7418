// Inputs the fuzz targets found (fuzz/fuzz_name.cpp), kept as regression
// tests: each must be refused cleanly, leaving the name as it was, or round
// trip through C_GetNameDER.
#include <gtest/gtest.h>

#include <string>

#include "certkit/certkit.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::Hex;

Bytes DerOf(C_NAME_OBJ name) {
  const unsigned char* der = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(C_GetNameDER(name, &der, &len), 0);
  return Bytes(der, der + len);
}

// A Name holding an empty RDN (SET with no AVA) was taken: its AVAs skipped
// the empty SET, so the DER kept by the name and the DER its AVAs encode to
// differed. RDNs have at least one AVA (X.501); the empty SET is refused.
TEST(NameFuzzFindings, EmptyRdnIsRefused) {
  const struct {
    const char* what;
    const char* hex;
  } rows[] = {
      // The input the fuzzer found: two RDNs, three empty SETs and an empty
      // SET of indefinite length, inside an indefinite-length SEQUENCE.
      {"fuzzer input",
       "3080 3114 3012 0603 55040a 130b 4578416d706c65204f7267"
       "310f 300d 0603 55040b 1406 556e6974e900 3100 3100 3100 3180 0000 0000"},
      {"only an empty RDN", "3002 3100"},
      {"empty RDN after an AVA", "300f 310b 3009 0603 550403 1302 4142 3100"},
      {"empty RDN before an AVA", "300f 3100 310b 3009 0603 550403 1302 4142"},
  };
  const Bytes start = Hex("300d 310b 3009 0603 550403 1302 4142");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    C_NAME_OBJ name = nullptr;
    ASSERT_EQ(C_CreateNameObject(&name), 0);
    ASSERT_EQ(C_SetNameBER(name, start.data(), static_cast<uint32_t>(start.size())), 0);
    const Bytes input = Hex(row.hex);
    EXPECT_EQ(C_SetNameBER(name, input.data(), static_cast<uint32_t>(input.size())), C_ERR_INPUT_DATA);
    EXPECT_EQ(DerOf(name), start);
    C_DestroyNameObject(&name);
  }
}

// Names next to the refused ones that stay accepted: the empty Name, and a
// multi-valued RDN; what comes back decodes to the same DER.
TEST(NameFuzzFindings, NamesWithoutEmptyRdnsRoundTrip) {
  for (const char* hex : {"3000", "3018 3116 3009 0603 550403 1302 4142 3009 0603 55040a 1302 4344"}) {
    SCOPED_TRACE(hex);
    const Bytes input = Hex(hex);
    C_NAME_OBJ name = nullptr;
    ASSERT_EQ(C_CreateNameObject(&name), 0);
    ASSERT_EQ(C_SetNameBER(name, input.data(), static_cast<uint32_t>(input.size())), 0);
    const Bytes der = DerOf(name);
    EXPECT_EQ(der, input.size() == 2 ? Bytes() : input);
    C_DestroyNameObject(&name);
  }
}

}  // namespace
