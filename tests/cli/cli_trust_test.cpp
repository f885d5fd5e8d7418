// trust-root and untrust-root against a temporary anchors directory
// (KVCATOOL_CA_DIR) and a stand-in refresh command (KVCATOOL_UPDATE_CA) that
// notes each call and fails when asked to. OpenSSL's command line checks that
// the installed file is the root in PEM and that it verifies the root's
// server certificate (and that another root's does not). Needs the
// certificate commands.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "cli_harness.h"

namespace clitest {
namespace {

const char kAnchor[] = "@/ca/kvcatool-Trust_Root.crt";

class Trust : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!KVCLI_CERT_COMMANDS) GTEST_SKIP() << "built without the certificate commands";
    std::filesystem::create_directory(Path("ca"));
    WriteFile("root.txt", "rootpass1\n");
    WriteFile("refresh", "#!/bin/sh\necho \"refresh $#\" >> '" + Path("calls") +
                             "'\necho 'Updating certificates.'\nexit $(cat '" + Path("refresh-exit") +
                             "' 2>/dev/null || echo 0)\n");
    ::chmod(Path("refresh").c_str(), 0755);
    ::setenv("KVCATOOL_CA_DIR", Path("ca").c_str(), 1);
    ::setenv("KVCATOOL_UPDATE_CA", Path("refresh").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KVCATOOL_CA_DIR");
    ::unsetenv("KVCATOOL_UPDATE_CA");
    CliTest::TearDown();
  }
  // A root of the modern profile, "Trust Root.crt", made current.
  void MakeModernRoot() {
    const Result r = Run({"new-root", "--profile", "modern", "--host", "Trust Root", "--org", "Trust Org",
                          "--country", "DE", "--password-file", "root.txt", "--cert", Path("Trust Root.crt"), "--key",
                          Path("Trust Root.key"), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  void Expect(const std::vector<std::string>& args, int status, const std::string& out, const std::string& err) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, status) << args[0];
    EXPECT_EQ(r.out, ReplaceAll(out, "@", dir_)) << args[0];
    EXPECT_EQ(r.err, ReplaceAll(err, "@", dir_)) << args[0];
  }
  std::string Calls() const { return Exists("calls") ? ReadFile("calls") : ""; }
  std::string Anchor() const { return ReplaceAll(kAnchor, "@", dir_); }
};

const char kTrusted[] =
    "Root certificate @/Trust Root.crt written to @/ca/kvcatool-Trust_Root.crt.\n"
    "Ran @/refresh:\nUpdating certificates.\n"
    "Programs that use the system's trusted certificates now trust the root @/Trust Root.crt.\n";

TEST_F(Trust, InstallsTheRootAsPemRefreshesAndTakesItOutAgain) {
  MakeModernRoot();
  Expect({"trust-root"}, 0, kTrusted, "");
  EXPECT_EQ(Calls(), "refresh 0\n");
  struct stat st;
  ASSERT_EQ(::stat(Anchor().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(std::filesystem::directory_iterator(Path("ca"))->path(), Anchor()) << "one file only";
  // The same certificate as the root file, in PEM.
  const std::string fingerprint = Shell("openssl x509 -inform DER -in 'Trust Root.crt' -noout -fingerprint -sha256");
  EXPECT_NE(fingerprint, "<failed>");
  EXPECT_EQ(Shell("openssl x509 -inform PEM -in ca/kvcatool-Trust_Root.crt -noout -fingerprint -sha256"), fingerprint);
  const std::string installed = ReadFile("ca/kvcatool-Trust_Root.crt");

  // Again: harmless, the file kept as it is, the refresh run once more.
  Expect({"trust-root"}, 0,
         "@/ca/kvcatool-Trust_Root.crt already holds the root certificate @/Trust Root.crt.\n"
         "Ran @/refresh:\nUpdating certificates.\n"
         "Programs that use the system's trusted certificates now trust the root @/Trust Root.crt.\n",
         "");
  EXPECT_EQ(ReadFile("ca/kvcatool-Trust_Root.crt"), installed);
  EXPECT_EQ(Calls(), "refresh 0\nrefresh 0\n");

  Expect({"untrust-root"}, 0,
         "Removed @/ca/kvcatool-Trust_Root.crt.\nRan @/refresh:\nUpdating certificates.\n"
         "Programs that use the system's trusted certificates no longer trust the root @/Trust Root.crt.\n",
         "");
  EXPECT_FALSE(Exists("ca/kvcatool-Trust_Root.crt"));
  EXPECT_EQ(Calls(), "refresh 0\nrefresh 0\nrefresh 0\n");
  // Nothing left to take out: said so, nothing run.
  Expect({"untrust-root"}, 0,
         "The root certificate @/Trust Root.crt is not installed (there is no @/ca/kvcatool-Trust_Root.crt). "
         "Nothing was changed.\n",
         "");
  EXPECT_EQ(Calls(), "refresh 0\nrefresh 0\nrefresh 0\n");
}

// OpenSSL takes the installed file as the trust anchor of the root's server
// certificate, and refuses it under another root's certificate.
TEST_F(Trust, TheInstalledRootVerifiesItsServerCertificate) {
  MakeModernRoot();
  WriteFile("web.txt", "webpass12\n");
  ASSERT_EQ(Run({"new-server", "--host", "localhost", "--password-file", "web.txt", "--root-password-file",
                 "root.txt", "--cert", Path("web.crt"), "--key", Path("web.key"), "--yes"})
                .status,
            0);
  ASSERT_EQ(Run({"export-cert", "web.crt", "--out", "web.pem"}).status, 0);
  ASSERT_EQ(Run({"trust-root"}).status, 0);
  const std::string verify = "openssl verify -no-CApath -no-CAfile -x509_strict -purpose sslserver -CAfile ";
  EXPECT_EQ(Shell(verify + "ca/kvcatool-Trust_Root.crt web.pem"), "web.pem: OK\n");
  MakeRoot("other.crt", "other.key", "rootpass1");
  ASSERT_EQ(Run({"export-cert", "other.crt", "--out", "other.pem"}).status, 0);
  EXPECT_EQ(Shell(verify + "other.pem web.pem 2>/dev/null"), "<failed>");
}

TEST_F(Trust, RefusalsAndFailuresSayWhyAndChangeNothing) {
  // A classic root: refused with its reasons, nothing written, nothing run.
  MakeRoot("classic.crt", "classic.key", "rootpass1");
  Remember(Path("classic.crt"));
  Expect({"trust-root"}, 1, "",
         "The root certificate @/classic.crt was not installed: it is a root of the classic profile, and current TLS "
         "clients refuse it (it is signed with sha1WithRSAEncryption; it has no basicConstraints extension marking it "
         "as a certificate authority; its key has only 1024 bits), as they refuse the server certificates it issues "
         "(SHA-1 signatures, 1024-bit keys). Make a root of the modern profile to have clients trust it.\n");
  EXPECT_TRUE(std::filesystem::is_empty(Path("ca")));
  EXPECT_EQ(Calls(), "");

  MakeModernRoot();
  // NSS stores are not written; the user is told how certutil does it.
  Expect({"trust-root", "--nss", "nss db"}, 1, "",
         "Nothing was changed: this program does not write NSS stores (@/nss db). NSS keeps trust settings only "
         "with integrity data keyed to the store's password, and ignores trust written without it. Use NSS's own "
         "tool:\n  certutil -A -d 'sql:@/nss db' -n kvcatool-Trust_Root -t C,, -i '@/Trust Root.crt'\n");
  Expect({"untrust-root", "--nss", "nss"}, 1, "",
         "Nothing was changed: this program does not write NSS stores (@/nss). NSS keeps trust settings only with "
         "integrity data keyed to the store's password, and ignores trust written without it. Use NSS's own tool:\n"
         "  certutil -D -d sql:@/nss -n kvcatool-Trust_Root\n");
  EXPECT_TRUE(std::filesystem::is_empty(Path("ca")));

  // Another certificate under the anchor's name is neither replaced nor
  // removed.
  WriteFile("ca/kvcatool-Trust_Root.crt", "someone else's\n");
  Expect({"trust-root"}, 1, "",
         "@/ca/kvcatool-Trust_Root.crt holds another certificate; it was left as it is and nothing was installed. "
         "Remove it first if it is no longer wanted.\n");
  Expect({"untrust-root"}, 1, "",
         "@/ca/kvcatool-Trust_Root.crt holds another certificate than the root @/Trust Root.crt; it was left as it "
         "is. Nothing was changed.\n");
  EXPECT_EQ(ReadFile("ca/kvcatool-Trust_Root.crt"), "someone else's\n");
  // The root followed by another certificate is not the root's file either.
  const std::string rootPem = Shell("openssl x509 -inform DER -in 'Trust Root.crt'");
  WriteFile("ca/kvcatool-Trust_Root.crt", rootPem + rootPem);
  EXPECT_EQ(Run({"untrust-root"}).status, 1);
  EXPECT_EQ(ReadFile("ca/kvcatool-Trust_Root.crt"), rootPem + rootPem);
  // A link in its place is not followed.
  std::filesystem::remove(Path("ca/kvcatool-Trust_Root.crt"));
  ASSERT_EQ(::symlink(Path("Trust Root.crt").c_str(), Anchor().c_str()), 0);
  Expect({"untrust-root"}, 1, "",
         "Something other than a certificate file stands at @/ca/kvcatool-Trust_Root.crt; it was left as it is.\n");
  EXPECT_TRUE(std::filesystem::is_symlink(Anchor()));
  std::filesystem::remove(Anchor());
  EXPECT_EQ(Calls(), "");
  // The root itself in DER is written again as PEM.
  std::filesystem::copy_file(Path("Trust Root.crt"), Anchor());
  EXPECT_EQ(Run({"trust-root"}).status, 0);
  EXPECT_EQ(ReadFile("ca/kvcatool-Trust_Root.crt"), rootPem);
  std::filesystem::remove(Anchor());

  // The refresh fails: exit 1 and its output; the file is whole, and a
  // second run once the command works finishes the job.
  WriteFile("refresh-exit", "3\n");
  Expect({"trust-root"}, 1, "Root certificate @/Trust Root.crt written to @/ca/kvcatool-Trust_Root.crt.\n",
         "The root certificate is in @/ca/kvcatool-Trust_Root.crt, but @/refresh failed with exit status 3.\n"
         "Updating certificates.\n"
         "The system's trusted certificates are not yet up to date; run @/refresh as root, or run this command "
         "again.\n");
  EXPECT_EQ(Shell("openssl x509 -in ca/kvcatool-Trust_Root.crt -noout -subject"),
            "subject=C = DE, O = Trust Org, CN = Trust Root\n");
  std::filesystem::remove(Path("refresh-exit"));
  EXPECT_EQ(Run({"trust-root"}).status, 0);
  EXPECT_EQ(Calls(), "refresh 0\nrefresh 0\nrefresh 0\n");

  // No refresh command at all.
  ::setenv("KVCATOOL_UPDATE_CA", Path("missing").c_str(), 1);
  Expect({"untrust-root"}, 1, "Removed @/ca/kvcatool-Trust_Root.crt.\n",
         "The root certificate was removed from @/ca/kvcatool-Trust_Root.crt, but @/missing could not be run (No "
         "such file or directory).\nThe system's trusted certificates are not yet up to date; run @/missing as "
         "root, or run this command again.\n");

  // An anchors directory that cannot be written.
  ::setenv("KVCATOOL_CA_DIR", Path("none").c_str(), 1);
  Expect({"trust-root"}, 1, "",
         "Unable to write @/none/kvcatool-Trust_Root.crt (No such file or directory); nothing was installed.\n");
  EXPECT_FALSE(Exists("none"));
}

TEST_F(Trust, AnchorNamesKeepOnlySafeCharacters) {
  MakeModernRoot();
  struct Row {
    const char* rootFile;
    const char* anchor;
  };
  const Row rows[] = {
      {"plain.crt", "kvcatool-plain.crt"},
      {"we\xC3\xB6ird $(x)\x1B;name.v2.crt", "kvcatool-we__ird___x___name.v2.crt"},
      {".hidden", "kvcatool-.hidden.crt"},
      {"noext", "kvcatool-noext.crt"},
  };
  // A copy of the root under |name|, its key file beside it, made current.
  auto useRootFile = [this](const std::string& name) {
    const size_t dot = name.rfind('.');
    std::filesystem::copy_file(Path("Trust Root.crt"), Path(name));
    std::filesystem::copy_file(Path("Trust Root.key"), Path(name.substr(0, dot) + ".key"),
                               std::filesystem::copy_options::overwrite_existing);
    Remember(Path(name));
  };
  for (const Row& row : rows) {
    useRootFile(row.rootFile);
    const Result r = Run({"trust-root"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Exists(std::string("ca/") + row.anchor)) << row.rootFile;
    EXPECT_EQ(Run({"untrust-root"}).status, 0);
    EXPECT_TRUE(std::filesystem::is_empty(Path("ca"))) << row.rootFile;
  }
  // Long names are cut to 64 characters.
  const std::string longName(100, 'n');
  useRootFile(longName + ".crt");
  EXPECT_EQ(Run({"trust-root"}).status, 0);
  EXPECT_TRUE(Exists("ca/kvcatool-" + std::string(64, 'n') + ".crt"));
}

}  // namespace
}  // namespace clitest
