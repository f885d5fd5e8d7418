// Single-extension operations on extensions objects: add, replace, remove,
// get and find, the object's DER kept in step with its entries, the checks
// of decoding applied to added extensions, and failures (of the checks and
// of memory) leaving the object as it was.
#include <gtest/gtest.h>

#include <string>

#include "certkit/certkit.h"
#include "support/memory_hooks.h"
#include "test_util.h"

namespace {

using cktest::Bytes;
using cktest::Hex;

// An extensions object of kind 1 destroyed at scope end.
struct Exts {
  C_EXTENSIONS_OBJ obj = nullptr;
  explicit Exts(uint32_t kind = C_EXT_KIND_CERT) { C_CreateExtensionsObject(&obj, kind, nullptr); }
  ~Exts() { C_DestroyExtensionsObject(&obj); }
  Exts(const Exts&) = delete;
  Exts& operator=(const Exts&) = delete;
  std::string Der() const {
    const unsigned char* p = nullptr;
    uint32_t n = 0;
    if (C_GetExtensionsDER(obj, &p, &n) != 0) return "error";
    return cktest::ToHex(p, n);
  }
  uint32_t Count() const {
    uint32_t n = 99;
    C_GetExtensionCount(obj, &n);
    return n;
  }
  int Add(const Bytes& oid, uint32_t critical, const Bytes& value) {
    return C_AddExtension(obj, oid.data(), static_cast<uint32_t>(oid.size()), critical, value.data(),
                          static_cast<uint32_t>(value.size()));
  }
  int Replace(const Bytes& oid, uint32_t critical, const Bytes& value) {
    return C_ReplaceExtension(obj, oid.data(), static_cast<uint32_t>(oid.size()), critical, value.data(),
                              static_cast<uint32_t>(value.size()));
  }
  int Remove(const Bytes& oid) { return C_RemoveExtension(obj, oid.data(), static_cast<uint32_t>(oid.size())); }
};

const Bytes kBc = Hex("551D13");
const Bytes kKu = Hex("551D0F");
const Bytes kSan = Hex("551D11");
const Bytes kEku = Hex("551D25");
const Bytes kCrlNumber = Hex("551D14");
const Bytes kPrivate = Hex("2B0601040186 8D1F 07");  // outside every table

const Bytes kBcCa0 = Hex("30060101ff020100");
const Bytes kKuSign = Hex("03020106");
const Bytes kEkuServer = Hex("300a06082b06010505070301");
const Bytes kSanHost = Hex("300682046b762e78");

// Extension ::= SEQUENCE { extnID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
std::string Ext(const std::string& oid, bool critical, const std::string& value) {
  auto tlv = [](const std::string& tag, const std::string& hex) {
    char len[3];
    snprintf(len, sizeof len, "%02x", static_cast<unsigned>(hex.size() / 2));
    return tag + len + hex;
  };
  std::string body = tlv("06", oid) + (critical ? "0101ff" : "") + tlv("04", value);
  return tlv("30", body);
}

TEST(ExtensionOperations, AddFindGetReplaceRemoveKeepTheDerInStep) {
  Exts e;
  EXPECT_EQ(e.Der(), "");
  ASSERT_EQ(e.Add(kBc, 1, kBcCa0), 0);
  ASSERT_EQ(e.Add(kKu, 1, kKuSign), 0);
  ASSERT_EQ(e.Add(kEku, 0, kEkuServer), 0);  // "UNKNOWN_TYPE", kept as given
  ASSERT_EQ(e.Add(kSan, 0, kSanHost), 0);
  const std::string bc = Ext("551d13", true, "30060101ff020100");
  const std::string ku = Ext("551d0f", true, "03020106");
  const std::string eku = Ext("551d25", false, "300a06082b06010505070301");
  const std::string san = Ext("551d11", false, "300682046b762e78");
  auto seq = [](const std::string& body) {
    char len[3];
    snprintf(len, sizeof len, "%02x", static_cast<unsigned>(body.size() / 2));
    return "30" + std::string(len) + body;
  };
  EXPECT_EQ(e.Der(), seq(bc + ku + eku + san));
  EXPECT_EQ(e.Count(), 4u);

  // Read back into another object, entry for entry.
  Exts back;
  const Bytes der = Hex(e.Der());
  ASSERT_EQ(C_SetExtensionsDER(back.obj, der.data(), static_cast<uint32_t>(der.size())), 0);
  ASSERT_EQ(back.Count(), 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    const unsigned char *oidA, *oidB, *valueA, *valueB;
    uint32_t oidLenA, oidLenB, critA, critB, lenA, lenB;
    ASSERT_EQ(C_GetExtension(e.obj, i, &oidA, &oidLenA, &critA, &valueA, &lenA), 0);
    ASSERT_EQ(C_GetExtension(back.obj, i, &oidB, &oidLenB, &critB, &valueB, &lenB), 0);
    EXPECT_EQ(cktest::ToHex(oidA, oidLenA), cktest::ToHex(oidB, oidLenB));
    EXPECT_EQ(critA, critB);
    EXPECT_EQ(cktest::ToHex(valueA, lenA), cktest::ToHex(valueB, lenB));
  }
  EXPECT_EQ(C_GetExtension(e.obj, 4, nullptr, nullptr, nullptr, nullptr, nullptr), C_ERR_INDEX);
  uint32_t critical = 9;
  const unsigned char* value = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(C_FindExtension(e.obj, kEku.data(), 3, &critical, &value, &len), 0);
  EXPECT_EQ(critical, 0u);
  EXPECT_EQ(cktest::ToHex(value, len), "300a06082b06010505070301");

  // Replacing keeps the place; removing closes the gap.
  ASSERT_EQ(e.Replace(kKu, 0, Hex("030205a0")), 0);
  const std::string ku2 = Ext("551d0f", false, "030205a0");
  EXPECT_EQ(e.Der(), seq(bc + ku2 + eku + san));
  ASSERT_EQ(e.Remove(kEku), 0);
  EXPECT_EQ(e.Der(), seq(bc + ku2 + san));
  EXPECT_EQ(C_FindExtension(e.obj, kEku.data(), 3, nullptr, nullptr, nullptr), C_ERR_NOT_FOUND);
  ASSERT_EQ(e.Remove(kBc), 0);
  ASSERT_EQ(e.Remove(kSan), 0);
  ASSERT_EQ(e.Remove(kKu), 0);
  EXPECT_EQ(e.Count(), 0u);
  EXPECT_EQ(e.Der(), "");  // no extensions left: no encoding either
  EXPECT_EQ(e.Remove(kKu), C_ERR_NOT_FOUND);
}

TEST(ExtensionOperations, ExtensionsReadFromAnEncodingStayOctetForOctetAfterAnAdd) {
  // A BER critical flag (01 01 01) and an explicit FALSE (01 01 00), as
  // another writer may have made them: an add leaves their octets alone.
  const std::string input = "3020" "300c0603551d13010101" "04023000" "30100603551d0e010100" "040604040102" "0304";
  Exts e;
  const Bytes der = Hex(input);
  ASSERT_EQ(C_SetExtensionsDER(e.obj, der.data(), static_cast<uint32_t>(der.size())), 0) << input;
  ASSERT_EQ(e.Count(), 2u);
  ASSERT_EQ(e.Add(kKu, 0, kKuSign), 0);
  const std::string added = Ext("551d0f", false, "03020106");
  EXPECT_EQ(e.Der(), "302d" + input.substr(4) + added);
}

TEST(ExtensionOperations, AddChecksAsDecodingDoesAndFailuresLeaveTheObjectUntouched) {
  const struct {
    const char* what;
    Bytes oid;
    uint32_t critical;
    Bytes value;
    int code;
  } cases[] = {
      {"OID already present", kBc, 1, Hex("3000"), C_ERR_EXT_PRESENT},
      {"basic constraints not critical", Hex("551D13"), 0, kBcCa0, C_ERR_EXT_NOT_CRITICAL},
      {"critical and of no type", kPrivate, 1, Hex("0500"), C_ERR_EXT_UNHANDLED_CRITICAL},
      {"a CRL extension in certificate extensions", kCrlNumber, 0, Hex("020101"), C_ERR_EXT_KIND},
      {"key usage value not a BIT STRING", kKu, 0, Hex("0401ff"), C_ERR_BAD_ENCODING},
      {"subjectAltName with an unknown tag", kSan, 0, Hex("3003890161"), C_ERR_BAD_ENCODING},
      {"empty value", kEku, 0, Bytes{}, C_ERR_BAD_ENCODING},
      {"unknown type's value not one element", kEku, 0, Hex("0500 0500"), C_ERR_BAD_ENCODING},
      {"malformed OID", Hex("2B0681"), 0, Hex("0500"), C_ERR_BAD_ARGUMENT},
      {"empty OID", Bytes{}, 0, Hex("0500"), C_ERR_BAD_ARGUMENT},
      {"critical flag 2", kEku, 2, kEkuServer, C_ERR_BAD_ARGUMENT},
  };
  Exts e;
  ASSERT_EQ(e.Add(kBc, 1, Hex("3000")), 0);
  ASSERT_EQ(e.Add(kSan, 0, kSanHost), 0);
  const std::string before = e.Der();
  for (const auto& c : cases) {
    EXPECT_EQ(e.Add(c.oid, c.critical, c.value), c.code) << c.what;
    EXPECT_EQ(e.Der(), before) << c.what;
    EXPECT_EQ(e.Count(), 2u) << c.what;
    // The same checks on replacing an extension that is there.
    if (c.code != C_ERR_EXT_PRESENT && !c.oid.empty() && (c.oid == kBc || c.oid == kSan)) {
      EXPECT_EQ(e.Replace(c.oid, c.critical, c.value), c.code) << "replace: " << c.what;
      EXPECT_EQ(e.Der(), before) << "replace: " << c.what;
    }
  }
  EXPECT_EQ(e.Replace(kKu, 0, kKuSign), C_ERR_NOT_FOUND);
  EXPECT_EQ(e.Replace(kSan, 1, Hex("3003890161")), C_ERR_BAD_ENCODING);
  EXPECT_EQ(e.Der(), before);
  // Handles and arguments.
  EXPECT_EQ(C_AddExtension(nullptr, kKu.data(), 3, 0, kKuSign.data(), 4), C_ERR_NOT_EXTENSIONS_OBJ);
  EXPECT_EQ(C_AddExtension(e.obj, kKu.data(), 3, 0, nullptr, 4), C_ERR_BAD_ARGUMENT);
  EXPECT_EQ(C_RemoveExtension(e.obj, nullptr, 3), C_ERR_BAD_ARGUMENT);
  EXPECT_EQ(C_GetExtension(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr), C_ERR_NOT_EXTENSIONS_OBJ);
  // A CRL entry object takes its own kinds only.
  Exts entry(C_EXT_KIND_CRL_ENTRY);
  EXPECT_EQ(entry.Add(kKu, 0, kKuSign), C_ERR_EXT_KIND);
  EXPECT_EQ(entry.Add(Hex("551D15"), 0, Hex("0a0101")), 0);
}

TEST(ExtensionOperations, MemoryFailuresLeaveTheObjectAsItWas) {
  Exts e;
  ASSERT_EQ(e.Add(kBc, 1, kBcCa0), 0);
  ASSERT_EQ(e.Add(kSan, 0, kSanHost), 0);
  const std::string before = e.Der();
  struct Step {
    const char* what;
    int (*run)(Exts&);
  } steps[] = {
      {"add", [](Exts& x) { return x.Add(kKu, 1, kKuSign); }},
      {"replace", [](Exts& x) { return x.Replace(kSan, 0, Hex("300682046b762e79")); }},
      {"remove", [](Exts& x) { return x.Remove(kBc); }},
  };
  for (const Step& step : steps) {
    uint64_t allocations = testsupport::ForEachAllocationFailure(
        [&] { return step.run(e); },
        [&](int status, const testsupport::MemoryWatch& watch) {
          EXPECT_EQ(status, C_ERR_ALLOC) << step.what;
          EXPECT_EQ(watch.leakedBlocks(), 0) << step.what;
          EXPECT_EQ(watch.unwipedReleases(), 0) << step.what;
          EXPECT_EQ(e.Der(), before) << step.what;
        });
    EXPECT_GT(allocations, 0u) << step.what;
    // The run that succeeded changed the object; undo it for the next step.
    Exts fresh;
    ASSERT_EQ(fresh.Add(kBc, 1, kBcCa0), 0);
    ASSERT_EQ(fresh.Add(kSan, 0, kSanHost), 0);
    std::swap(e.obj, fresh.obj);
  }
}

}  // namespace
