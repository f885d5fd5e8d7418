// A whole working session of kvcatool-cli, one process per subcommand, with
// the real commands, services and toolkits: a root, server certificates, the
// list, viewing, verifying against the right and another root, exports read
// by OpenSSL, and the failure paths of the commands. Needs the certificate
// commands (KVAPP_CERT_COMMANDS).
#include <cctype>
#include <filesystem>

#include "cli_harness.h"
#include "services/kvservices.h"

namespace clitest {
namespace {

// |text| against |form|: "A" an upper-case letter, "a" a lower-case one,
// "9" a digit, "?" a digit or a blank, "H" an upper-case hexadecimal digit;
// anything else stands for itself.
bool HasForm(const std::string& text, const std::string& form) {
  if (text.size() != form.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    bool ok;
    switch (form[i]) {
      case 'A': ok = std::isupper(c) != 0; break;
      case 'a': ok = std::islower(c) != 0; break;
      case '9': ok = std::isdigit(c) != 0; break;
      case '?': ok = std::isdigit(c) != 0 || c == ' '; break;
      case 'H': ok = std::isdigit(c) != 0 || (c >= 'A' && c <= 'F'); break;
      default: ok = text[i] == form[i]; break;
    }
    if (!ok) return false;
  }
  return true;
}

class Session : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!KVCLI_CERT_COMMANDS) GTEST_SKIP() << "built without the certificate commands";
    WriteFile("root.txt", "rootpass1\n");
    WriteFile("web.txt", "webpass12\n");
    WriteFile("wrong.txt", "wrongpass\n");
    WriteFile("export.txt", "exportpw99\n");
  }
  // Runs |args| and checks status and both streams exactly ("@" stands for
  // the temporary directory).
  void Expect(const std::vector<std::string>& args, int status, const std::string& out, const std::string& err) {
    Result r = Run(args);
    EXPECT_EQ(r.status, status) << args[0];
    EXPECT_EQ(r.out, ReplaceAll(out, "@", dir_)) << args[0];
    EXPECT_EQ(r.err, ReplaceAll(err, "@", dir_)) << args[0];
  }
  // The six lines of view, with the dates and the serial number checked by
  // their form.
  void ExpectContents(const std::vector<std::string>& args, const std::string& subject, const std::string& issuer) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string head = "Subject: " + subject + "\nIssuer: " + issuer + "\n";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_TRUE(HasForm(r.out.substr(head.size()),
                        "Start Date: Aaa Aaa ?9 99:99:99 9999\nEnd Date: Aaa Aaa ?9 99:99:99 9999\n"
                        "Version: X.509 v3\nSerial Number: HHHHHHHHHHHHHHHH\n"))
        << r.out;
  }
};

TEST_F(Session, FullSession) {
  // A new root in the working directory with the dialog's names.
  Expect({"new-root", "--org", "Acme", "--country", "US", "--password-file", "root.txt"}, 0,
         "Creating root certficate and keys...\nRoot certificate and keys successfully created.\n", "");
  Expect({"status"}, 0, "Root certificate: @/kvroot.crt\nRoot key file: @/kvroot.key\nIssued certificates: 0 expired, 0 expire within 30 days.\n", "");
  ExpectContents({"view-root"}, "Country = US, Organization = Acme, Common Name = kvroot",
                 "Country = US, Organization = Acme, Common Name = kvroot");

  // A server certificate and keys; organization and country come from the root.
  Expect({"new-server", "--host", "web1", "--password-file", "web.txt", "--root-password-file", "root.txt"}, 0,
         "Creating server certificate and keys...\nServer certificate and keys successfully created.\n", "");
  Expect({"list", "--filter", "both"}, 0, "kvroot.crt\nkvroot.key\nweb1.crt\nweb1.key\n", "");
  ExpectContents({"view", "web1.crt"}, "Country = US, Organization = Acme, Common Name = web1",
                 "Country = US, Organization = Acme, Common Name = kvroot");
  Expect({"verify", "web1.crt"}, 0, "Certificate is valid.\n", "");
  Expect({"verify", "kvroot.crt"}, 0, "Certificate is valid.\n", "");

  // A certificate for an existing key file.
  MakeKeyFile("mail.key", "mailpass1");
  WriteFile("mail.txt", "mailpass1\n");
  Expect({"create-server-cert", "mail.key", "--host", "mail", "--password-file", "mail.txt", "--root-password-file",
          "root.txt"},
         0, "Creating server certificate...\nServer certificate successfully created.\n", "");
  ExpectContents({"view", "mail.crt"}, "Country = US, Organization = Acme, Common Name = mail",
                 "Country = US, Organization = Acme, Common Name = kvroot");
  Expect({"verify", "mail.crt"}, 0, "Certificate is valid.\n", "");

  // The exports work with OpenSSL, and the key matches its certificate.
  ASSERT_EQ(Run({"export-cert", "web1.crt", "--out", "web1-cert.pem"}).status, 0);
  ASSERT_EQ(Run({"export-key", "web1.key", "--out", "web1-key.pem", "--password-file", "web.txt",
                 "--export-password-file", "export.txt"})
                .status,
            0);
  ASSERT_EQ(Run({"export-key", "web1.key", "--out", "web1-plain.pem", "--password-file", "web.txt", "--unencrypted"})
                .status,
            0);
  const std::string certModulus = Shell("openssl x509 -in web1-cert.pem -noout -modulus");
  ASSERT_EQ(certModulus.rfind("Modulus=", 0), 0u);
  EXPECT_EQ(Shell("openssl rsa -in web1-key.pem -passin file:export.txt -noout "
                  "-modulus"),
            certModulus);
  EXPECT_EQ(Shell("openssl rsa -in web1-plain.pem -noout -modulus"), certModulus);
  EXPECT_EQ(Shell("openssl x509 -in web1-cert.pem -noout -subject -issuer"),
            "subject=C = US, O = Acme, CN = web1\nissuer=C = US, O = Acme, CN = kvroot\n");

  // Another root becomes current; web1 does not verify against it.
  Expect({"new-root", "--dir", "other", "--host", "other", "--org", "Beta", "--country", "DE", "--password-file",
          "root.txt", "--yes"},
         0,
         "The directory \"@/other\" does not exist.\nDo you want to create it? [y/n] y\n"
         "Creating root certficate and keys...\nRoot certificate and keys successfully created.\n",
         "");
  Expect({"status"}, 0, "Root certificate: @/other/other.crt\nRoot key file: @/other/other.key\nIssued certificates: 0 expired, 0 expire within 30 days.\n", "");
  Expect({"verify", "web1.crt"}, 1, "Certificate is invalid.\n", "");
  // New servers take the new root's organization and country.
  Expect({"new-server", "--host", "web2", "--password-file", "web.txt", "--root-password-file", "root.txt"}, 0,
         "Creating server certificate and keys...\nServer certificate and keys successfully created.\n", "");
  ExpectContents({"view", "web2.crt"}, "Country = DE, Organization = Beta, Common Name = web2",
                 "Country = DE, Organization = Beta, Common Name = other");

  // Back to the first root: a wrong password from a file fails at once.
  Expect({"select-root", "kvroot.crt", "--root-password-file", "wrong.txt"}, 1, "", "Password incorrect.\n");
  Expect({"status"}, 0, "Root certificate: @/other/other.crt\nRoot key file: @/other/other.key\nIssued certificates: 0 expired, 0 expire within 30 days.\n", "");
  Expect({"select-root", "kvroot.crt", "--root-password-file", "root.txt"}, 0,
         "Root certificate: @/kvroot.crt\nRoot key file: @/kvroot.key\n", "");
  Expect({"verify", "web1.crt"}, 0, "Certificate is valid.\n", "");
}

TEST_F(Session, FailurePaths) {
  Expect({"new-root", "--org", "Acme", "--country", "US", "--password-file", "root.txt"}, 0,
         "Creating root certficate and keys...\nRoot certificate and keys successfully created.\n", "");
  // Existing files.
  Expect({"new-root", "--org", "Acme", "--country", "US", "--password-file", "root.txt"}, 1, "",
         "File \"@/kvroot.crt\" already exists. Choose another file name.\n");
  Expect({"new-server", "--host", "kvroot", "--password-file", "web.txt", "--root-password-file", "root.txt"}, 1, "",
         "File \"@/kvroot.crt\" already exists. Choose another file name.\n");
  // A wrong root password from a file: the root is not made current.
  Expect({"new-server", "--host", "web1", "--password-file", "web.txt", "--root-password-file", "wrong.txt"}, 1, "",
         "Password incorrect.\nNo root certificate selected.\n");
  EXPECT_FALSE(Exists("web1.key"));
  // No root password at all (no file, no terminal).
  Expect({"new-server", "--host", "web1", "--password-file", "web.txt"}, 1, "",
         "No terminal to ask for the password on: use --root-password-file FILE.\nNo root certificate selected.\n");
  // A wrong password for an existing server key.
  MakeKeyFile("mail.key", "mailpass1");
  Expect({"create-server-cert", "mail.key", "--host", "mail", "--password-file", "wrong.txt", "--root-password-file",
          "root.txt"},
         1, "Creating server certificate...\n", "\nIncorrect key Password.\n\nUnable to create server certificate.\n");
  EXPECT_FALSE(Exists("mail.crt"));
  // Files of the wrong kind, or missing.
  Expect({"create-server-cert", "kvroot.crt"}, 1, "", "No server key file selected.\n");
  Expect({"view", "mail.key"}, 1, "", "No server certificate file selected.\n");
  Expect({"verify", "none.crt"}, 1, "", "File not found: @/none.crt.\n");
  // A certificate that is not self-signed cannot be a root.
  Expect({"new-server", "--host", "web1", "--password-file", "web.txt", "--root-password-file", "root.txt"}, 0,
         "Creating server certificate and keys...\nServer certificate and keys successfully created.\n", "");
  Expect({"select-root", "web1.crt", "--root-password-file", "root.txt"}, 1, "",
         "Invalid root certificate file: @/web1.crt!\nRoot certificate must be self-signed.\n");
  WriteFile("bad.crt", "not a certificate");
  Expect({"verify", "bad.crt"}, 1, "Certificate is invalid.\n", "");
  // Missing root: the remembered file has gone.
  std::filesystem::rename(Path("kvroot.crt"), Path("moved.crt"));
  Expect({"status"}, 1, "No root certificate selected.\n", "Unable to locate root certificate file: @/kvroot.crt.\n");
  Expect({"view-root"}, 1, "", "Unable to locate root certificate file: @/kvroot.crt.\nNo root certificate selected.\n");
  Expect({"select-root", "kvroot.crt", "--root-password-file", "root.txt"}, 1, "",
         "Unable to locate root certificate file: @/kvroot.crt.\nUnable to locate root certificate file: @/kvroot.crt.\n");
}

}  // namespace
// The key file's private key is DES-CBC without integrity. Flipping a bit
// of the cipher text five blocks from the end garbles that plain-text block
// and flips one bit in the next: both lie inside the coefficient INTEGER (the
// last field), so the DER and the padding stay valid and the key decrypts
// with the right password. Signing with such a key would give away a prime
// (gcd(s^e - m, n)); it is refused and no certificate is written.
TEST_F(Session, TamperedRootKeyIsRefusedAndNothingIsSigned) {
  Expect({"new-root", "--org", "Acme", "--country", "US", "--password-file", "root.txt"}, 0,
         "Creating root certficate and keys...\nRoot certificate and keys successfully created.\n", "");
  std::string key = ReadFile("kvroot.key");
  ASSERT_GT(key.size(), 4u);
  ASSERT_EQ(key[0], 0x01);
  ASSERT_EQ(key[1], 0x02);
  const size_t cipherLength = (static_cast<unsigned char>(key[2]) << 8) | static_cast<unsigned char>(key[3]);
  ASSERT_EQ(cipherLength % 8, 0u);
  ASSERT_GT(cipherLength, 200u);
  key[4 + cipherLength - 40 + 3] ^= 0x10;
  WriteFile("kvroot.key", key);

  // Still a well-formed private key under the right password.
  unsigned char plain[4096];
  int plainLength = 0;
  ASSERT_EQ(errKVKeyFileGetPrivateKeyEx(Path("kvroot.key").c_str(), plain, &plainLength, "rootpass1"), 0);

  Result r = Run({"new-server", "--host", "web1", "--password-file", "web.txt", "--root-password-file", "root.txt"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_FALSE(Exists("web1.crt"));
  EXPECT_NE(r.err.find("Unable to create server certificate and keys."), std::string::npos) << r.err;
  MakeKeyFile("mail.key", "mailpass1");
  WriteFile("mail.txt", "mailpass1\n");
  r = Run({"create-server-cert", "mail.key", "--host", "mail", "--password-file", "mail.txt", "--root-password-file",
           "root.txt"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_FALSE(Exists("mail.crt"));
  EXPECT_NE(r.err.find("Unable to create server certificate."), std::string::npos) << r.err;
}

}  // namespace clitest
