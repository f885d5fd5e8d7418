// The message table and the MD5 service.
#include <gtest/gtest.h>

#include <string>

#include "services/kvservices.h"
#include "services_support.h"

namespace {

TEST(Messages, CodesMapToTheirTextsAndUnknownCodesToUnknownError) {
  const struct {
    int code;
    const char* text;
  } rows[] = {
      {0, "Success"},
      {3, "Md5 function out of memory"},
      {19401, "Bad buffer length"},
      {19506, "Allocate more memory for key data"},
      {19201, "Bad encryption type."},
      {19001, "certifificate function out of memory"},
      {19010, "An internal error occured while generating a certificate"},
      {19019, "KVI Extension not found in certificate"},
      {19021, "An error occurred signing certificate request"},
      // Key-file codes and toolkit codes have no row.
      {19301, "Unknown error"},
      {19305, "Unknown error"},
      {524, "Unknown error"},
      {1838, "Unknown error"},
      {-1, "Unknown error"},
  };
  for (const auto& row : rows) EXPECT_STREQ(pszKVCryptoMsgToString(row.code), row.text) << row.code;
}

TEST(Md5Service, KnownDigestsAndBadLength) {
  using svctest::Bytes;
  const struct {
    std::string input;
    const char* hex;
  } vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
  };
  for (const auto& v : vectors) {
    unsigned char digest[16];
    ASSERT_EQ(errKVMD5(static_cast<int>(v.input.size()), reinterpret_cast<const unsigned char*>(v.input.data()),
                       digest),
              0);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    EXPECT_STREQ(hex, v.hex) << v.input;
  }
  unsigned char untouched[16];
  std::fill(std::begin(untouched), std::end(untouched), 0xEE);
  EXPECT_EQ(errKVMD5(-1, untouched, untouched), KV_MD5_BAD_INPUT_LENGTH);
  for (unsigned char b : untouched) EXPECT_EQ(b, 0xEE);
}

}  // namespace
