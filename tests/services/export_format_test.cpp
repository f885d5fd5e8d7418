// The exports' PEM writer and the certificate-shape check: PEM blocks read
// back by the certificate reader for every remainder of three, line breaks
// at 64 characters, and DER lengths in and out of their shortest form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/kv_der.h"
#include "services/kv_pem.h"
#include "services/kvservices.h"

namespace {

TEST(PemBlock, ReadsBackAndBreaksLinesAt64) {
  for (size_t length : {size_t{1}, size_t{2}, size_t{3}, size_t{47}, size_t{48}, size_t{49}, size_t{1000}}) {
    std::vector<unsigned char> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
    const std::string pem = kvpem::PemBlock("CERTIFICATE", data.data(), data.size());
    ASSERT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    ASSERT_GE(pem.size(), 26u);
    EXPECT_EQ(pem.substr(pem.size() - 26), "-----END CERTIFICATE-----\n");
    // Every base64 line is 64 characters but the last.
    size_t start = pem.find('\n') + 1;
    const size_t end = pem.size() - 26;
    const size_t chars = (length + 2) / 3 * 4;
    size_t seen = 0;
    while (start < end) {
      const size_t nl = pem.find('\n', start);
      const size_t line = nl - start;
      seen += line;
      EXPECT_EQ(line, seen == chars ? chars - (chars - 1) / 64 * 64 : 64u) << length;
      start = nl + 1;
    }
    EXPECT_EQ(seen, chars) << length;
    // The certificate reader decodes it to the same bytes.
    std::vector<unsigned char> buffer(pem.begin(), pem.end());
    int decoded = static_cast<int>(buffer.size());
    int skipped = -1;
    ASSERT_EQ(iKVCertFromPEM(buffer.data(), &decoded, &skipped), 0) << length;
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + decoded), data) << length;
  }
}

TEST(IsSingleSequence, OuterShapeOfACertificate) {
  std::vector<unsigned char> long200 = {0x30, 0x81, 0xC8};
  long200.resize(3 + 200, 0x05);
  const struct {
    const char* name;
    std::vector<unsigned char> der;
    bool ok;
  } cases[] = {
      {"short form", {0x30, 0x02, 0x05, 0x00}, true},
      {"long form", long200, true},
      {"empty sequence", {0x30, 0x00}, true},
      {"trailing byte", {0x30, 0x02, 0x05, 0x00, 0x00}, false},
      {"cut short", {0x30, 0x03, 0x05, 0x00}, false},
      {"not a sequence", {0x31, 0x02, 0x05, 0x00}, false},
      {"long form for a short length", {0x30, 0x81, 0x02, 0x05, 0x00}, false},
      {"leading zero length byte", {0x30, 0x82, 0x00, 0x02, 0x05, 0x00}, false},
      {"indefinite length", {0x30, 0x80, 0x05, 0x00, 0x00, 0x00}, false},
      {"one byte", {0x30}, false},
      {"nothing", {}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kvder::IsSingleSequence(c.der.data(), c.der.size()), c.ok) << c.name;
  }
}

}  // namespace
