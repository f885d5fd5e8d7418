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
    ::unsetenv("KVCATOOL_TRUST_MODULE");
    ::unsetenv("KVCATOOL_CA_BUNDLE");
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

// --nss DIR: the store's module list checked before anything is changed,
// the trust module's entry appended after the refresh with every other byte
// kept, not added twice, and left in place by untrust-root. A stand-in
// library and bundle; nss_trust_test.sh runs the real module with Chromium.
TEST_F(Trust, NssStoresListTheTrustModule) {
  MakeModernRoot();
  WriteFile("trust.so", "stand-in\n");
  ::setenv("KVCATOOL_TRUST_MODULE", Path("trust.so").c_str(), 1);
  ::setenv("KVCATOOL_CA_BUNDLE", "/bundle/ca.crt", 1);
  std::filesystem::create_directory(Path("nss db"));
  std::filesystem::create_directory(Path("store"));

  // Refused before anything is changed.
  const struct {
    const char* what;
    const char* dir;
    const char* module;
    const char* bundle;
    const char* err;
  } refusals[] = {
      {"no module list", "nss db", nullptr, nullptr,
       "Nothing was changed: @/nss db is not an NSS store (it has no pkcs11.txt). NSS's own tool makes one:\n"
       "  certutil -N -d 'sql:@/nss db'\n"},
      {"no such directory", "gone", nullptr, nullptr,
       "Nothing was changed: @/gone is not an NSS store (it has no pkcs11.txt). NSS's own tool makes one:\n"
       "  certutil -N -d sql:@/gone\n"},
      {"no trust module", "store", "@/none.so", nullptr,
       "Nothing was changed: the system trust module @/none.so is not installed (Debian package "
       "p11-kit-modules); an NSS store takes the system's trusted certificates through it.\n"},
      {"a blank in the bundle's path", "store", nullptr, "/a b/ca.crt",
       "Nothing was changed: the path of the system trust module or of the system's certificate bundle is not an "
       "absolute path free of blanks, quotes and control characters, as an NSS module list needs.\n"},
      {"a relative bundle path", "store", nullptr, "ca.crt",
       "Nothing was changed: the path of the system trust module or of the system's certificate bundle is not an "
       "absolute path free of blanks, quotes and control characters, as an NSS module list needs.\n"},
  };
  const std::string storeList = "library=\nname=NSS Internal PKCS #11 Module\nparameters=configdir='sql:x'\n"
                                "NSS=Flags=internal,critical trustOrder=75\n\n";
  WriteFile("store/pkcs11.txt", storeList);
  for (const auto& r : refusals) {
    if (r.module != nullptr) ::setenv("KVCATOOL_TRUST_MODULE", ReplaceAll(r.module, "@", dir_).c_str(), 1);
    if (r.bundle != nullptr) ::setenv("KVCATOOL_CA_BUNDLE", r.bundle, 1);
    Expect({"trust-root", "--nss", r.dir}, 1, "", r.err);
    ::setenv("KVCATOOL_TRUST_MODULE", Path("trust.so").c_str(), 1);
    ::setenv("KVCATOOL_CA_BUNDLE", "/bundle/ca.crt", 1);
    EXPECT_TRUE(std::filesystem::is_empty(Path("ca"))) << r.what;
    EXPECT_EQ(ReadFile("store/pkcs11.txt"), storeList) << r.what;
  }
  // A link in the list's place is not followed.
  ASSERT_EQ(::symlink(Path("store/pkcs11.txt").c_str(), Path("nss db/pkcs11.txt").c_str()), 0);
  Expect({"trust-root", "--nss", "nss db"}, 1, "",
         "Nothing was changed: @/nss db/pkcs11.txt is not a regular file of at most 256 KiB.\n");
  EXPECT_EQ(Calls(), "");

  // The list's own bytes are kept, whatever its last line looks like.
  const struct {
    const char* before;
    const char* joint;  // what goes between the old text and the new entry
  } lists[] = {
      {"library=\nname=Internal\n\n", ""},
      {"library=\nname=Internal\n", "\n"},
      {"library=\r\nname=Internal", "\n\n"},
      {"", ""},
  };
  const std::string entry = "library=" + Path("trust.so") +
                            "\nname=kvcatool: system trusted certificates\nparameters=paths=/bundle/ca.crt\n"
                            "NSS=trustOrder=100\n\n";
  for (const auto& l : lists) {
    WriteFile("store/pkcs11.txt", l.before);
    ::chmod(Path("store/pkcs11.txt").c_str(), 0640);
    Expect({"trust-root", "--nss", "store"}, 0,
           std::string(kTrusted) + "Added the system trust module @/trust.so to @/store/pkcs11.txt.\n"
               "Programs that use the NSS store @/store trust the root @/Trust Root.crt through the system's "
               "trusted certificates once they open the store again.\n",
           "");
    EXPECT_EQ(ReadFile("store/pkcs11.txt"), std::string(l.before) + l.joint + entry) << l.before;
    struct stat st;
    ASSERT_EQ(::stat(Path("store/pkcs11.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::filesystem::remove(Anchor());
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("store")), {}), 1) << "no temporary file left";

  // Listed already: left as it is; the system part runs again.
  const std::string listed = ReadFile("store/pkcs11.txt");
  Expect({"trust-root", "--nss", "store"}, 0,
         std::string(kTrusted) + "@/store/pkcs11.txt already lists the system trust module @/trust.so; it was "
             "left as it is.\nPrograms that use the NSS store @/store trust the root @/Trust Root.crt through the "
             "system's trusted certificates once they open the store again.\n",
         "");
  EXPECT_EQ(ReadFile("store/pkcs11.txt"), listed);

  // untrust-root takes the anchor out and keeps the entry.
  Expect({"untrust-root", "--nss", "store"}, 0,
         "Removed @/ca/kvcatool-Trust_Root.crt.\nRan @/refresh:\nUpdating certificates.\n"
         "Programs that use the system's trusted certificates no longer trust the root @/Trust Root.crt.\n"
         "@/store/pkcs11.txt was left as it is: the NSS store follows the system's trusted certificates through the "
         "system trust module.\n",
         "");
  EXPECT_EQ(ReadFile("store/pkcs11.txt"), listed);
  EXPECT_TRUE(std::filesystem::is_empty(Path("ca")));

  // The refresh fails: the store is not touched until the system is done.
  WriteFile("store/pkcs11.txt", storeList);
  WriteFile("refresh-exit", "1\n");
  EXPECT_EQ(Run({"trust-root", "--nss", "store"}).status, 1);
  EXPECT_EQ(ReadFile("store/pkcs11.txt"), storeList);
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
