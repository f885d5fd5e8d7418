// Values over the details dialog's limits are refused whole with the
// dialog's message, never cut; a certificate from elsewhere reaches the
// terminal with its control bytes escaped and its serial in hexadecimal.
#include "cli_harness.h"

namespace clitest {
namespace {

const std::string kE = "\xC3\xA9";  // é, two bytes in UTF-8

std::string Repeat(const std::string& unit, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += unit;
  return out;
}

class CliText : public CliTest {};

TEST_F(CliText, OverlongPasswordLinesAreRefusedNotCut) {
  const std::string message = "Key password must be between 8 and 16 characters.\n";
  const std::string lines[] = {"0123456789abcdefg", "0123456789abcdefghij", Repeat(kE, 17),
                               std::string(3000, 'p')};
  for (const std::string& line : lines) {
    WriteFile("pw.txt", line + "\n");
    Result r = Run({"new-root", "--password-file", "pw.txt", "--org", "Acme", "--country", "US"});
    EXPECT_EQ(r.status, 1) << line.size();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, message) << line.size();
    EXPECT_FALSE(Exists("kvroot.key"));
    EXPECT_FALSE(Exists("kvroot.crt"));
  }
  // export-key reads an existing key: a line longer than any key password
  // is refused the same way, and nothing is written.
  MakeKeyFile("web1.key", "webpass12");
  WriteFile("pw.txt", "webpass12xxxxxxxxxxx\n");
  Result r = Run({"export-key", "web1.key", "--out", "web1.pem", "--password-file", "pw.txt", "--unencrypted"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, message);
  EXPECT_FALSE(Exists("web1.pem"));
}

TEST_F(CliText, OverlongNamesAreRefusedWithTheirMessage) {
  WriteFile("pw.txt", "rootpass1\n");
  const std::string host = "Host Name must be at most 64 characters.\n";
  const std::string org = "Organization must be at most 64 characters.\n";
  struct Row {
    std::string hostName, organization, err;
  };
  const Row rows[] = {
      {std::string(65, 'h'), "Acme", host},
      {"kvroot", std::string(65, 'o'), org},
      {Repeat(kE, 65), "Acme", host},
      {"kvroot", Repeat(kE, 65), org},
  };
  for (const Row& row : rows) {
    Result r = Run({"new-root", "--password-file", "pw.txt", "--host", row.hostName, "--org", row.organization,
                    "--country", "US", "--cert", "a.crt", "--key", "a.key"});
    EXPECT_EQ(r.status, 1) << row.err;
    EXPECT_EQ(r.err, row.err);
    EXPECT_FALSE(Exists("a.key"));
    EXPECT_FALSE(Exists("a.crt"));
  }
}

#if KVCLI_CERT_COMMANDS
// 16 two-byte characters are a good password: the key is encrypted under all
// of it, so export-key opens it with the same file.
TEST_F(CliText, MultiBytePasswordAtTheLimitIsKeptWhole) {
  WriteFile("pw.txt", Repeat(kE, 16) + "\n");
  Result r = Run({"new-root", "--password-file", "pw.txt", "--org", "Acme", "--country", "US"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run({"export-key", "kvroot.key", "--out", "k.pem", "--password-file", "pw.txt", "--unencrypted"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Exists("k.pem"));
}

// Names at the limit in characters are issued whole, however many bytes
// their characters take.
TEST_F(CliText, MultiByteNamesAtTheLimitAreIssued) {
  WriteFile("pw.txt", "rootpass1\n");
  Result r = Run({"new-root", "--password-file", "pw.txt", "--host", Repeat(kE, 64), "--org", Repeat(kE, 64),
                  "--country", "US"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run({"view-root"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(Repeat(kE, 64)), std::string::npos) << r.out;
}

// Certificates made by OpenSSL's command line: a T61String common name with
// control bytes, serials that are not this program's digits.
TEST_F(CliText, ViewEscapesForeignContents) {
  if (Shell("openssl version") == "<failed>") GTEST_SKIP() << "needs openssl";
  WriteFile("req.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  ASSERT_NE(Shell("openssl genrsa -out o.pem 1024"), "<failed>");
  struct Row {
    std::string commonName;  // printf format
    std::string serial;
    std::string shownName;
    std::string shownSerial;
  };
  const Row rows[] = {
      {"evil\\033[2J\\007", "0x1B5B326A07", "evil\\x1B[2J\\x07", "1B5B326A07"},
      {"caf\\351", "0x1B00", "caf\xC3\xA9", "1B00"},  // a Latin-1 T61String byte; a zero byte in the serial
      {"plain", "0x6162", "plain", "6162"},      // lower-case letters are not our digits
      {"plain", "0x3031324142", "plain", "012AB"},
  };
  for (const Row& row : rows) {
    ASSERT_NE(Shell("openssl req -new -x509 -sha1 -config req.cnf -key o.pem -days 30 -set_serial " + row.serial +
                    " -subj \"/C=US/O=Acme/CN=$(printf '" + row.commonName + "')\" -outform DER -out x.crt && echo ok"),
              "<failed>");
    Result r = Run({"view", "x.crt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string name = "Country = US, Organization = Acme, Common Name = " + row.shownName;
    EXPECT_NE(r.out.find("Subject: " + name + "\nIssuer: " + name + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nSerial Number: " + row.shownSerial + "\n"), std::string::npos) << r.out;
    for (char c : r.out) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << r.out;
    Shell("rm -f x.crt");
  }
}
#endif

}  // namespace
}  // namespace clitest
