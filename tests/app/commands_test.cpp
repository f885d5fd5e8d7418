// The root and server certificate commands end to end: scripted answers, the
// real services and toolkits, files in a temporary directory, and OpenSSL's
// command line as an outside check of what the commands write.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/cert_commands.h"
#include "app/cert_details_dialog.h"
#include "app/key_files.h"
#include "app_fixture.h"
#include "platform/clock.h"

namespace apptest {
namespace {

using kvapp::CertCommands;
using kvapp::MainDialog;

// Runs a shell command quietly; true when it exits with 0.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class CommandsTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ::setenv("TZ", "UTC", 1);
    Start();
  }
  // Opens a (new) main dialog as a fresh start of the program does.
  void Start() {
    commands_.reset();
    main_ = std::make_unique<MainDialog>(*context_);
    commands_ = std::make_unique<CertCommands>(*main_);
    main_->SetCommands(commands_.get());
    ui_.RunMainDialog(*main_);
  }
  static DetailsEntry Root(const char* password = "rootpass1") {
    DetailsEntry e;
    e.organization = "Acme";
    e.country = "US";
    e.password = e.confirmPassword = password;
    return e;
  }
  static DetailsEntry Server(const char* host, const char* password = "webpass12") {
    DetailsEntry e;
    e.hostName = host;
    e.password = e.confirmPassword = password;
    return e;
  }
  // New root with the defaults in the current directory.
  void NewRoot(DetailsEntry entry = Root()) {
    ui_.details.push_back(EnterDetails(entry));
    main_->OnCommand(kvapp::kIdNewRoot);
  }
  void Select(const std::string& name) {
    main_->OnFilterChosen(3);
    const auto& items = main_->controls().fileItems;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == name) {
        main_->OnFileChosen(static_cast<int>(i));
        return;
      }
    }
    ADD_FAILURE() << name << " is not listed";
  }
  std::vector<Event> TakeBoxes() {
    std::vector<Event> boxes = ui_.Boxes();
    ui_.events.clear();
    return boxes;
  }
  // OpenSSL's check of the signature of certificate |name| with the public
  // key of certificate |issuer|: the to-be-signed element and the signature
  // are cut out of the DER (X.690) and handed to "openssl dgst -verify".
  bool SignedBy(const std::string& name, const std::string& issuer) {
    std::ifstream in(Path(name), std::ios::binary);
    std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    auto header = [&](size_t& length) {  // tag and length at |pos|; false when malformed
      if (pos + 2 > der.size()) return false;
      ++pos;
      unsigned char first = static_cast<unsigned char>(der[pos++]);
      if (first < 0x80) {
        length = first;
      } else {
        int n = first & 0x7F;
        if (n == 0 || n > 3 || pos + static_cast<size_t>(n) > der.size()) return false;
        length = 0;
        while (n-- > 0) length = (length << 8) | static_cast<unsigned char>(der[pos++]);
      }
      return pos + length <= der.size();
    };
    size_t length = 0;
    if (!header(length)) return false;  // Certificate
    const size_t tbsStart = pos;
    if (!header(length)) return false;  // tbsCertificate
    pos += length;
    const std::string tbs = der.substr(tbsStart, pos - tbsStart);
    if (!header(length)) return false;  // signatureAlgorithm
    pos += length;
    if (!header(length) || length < 1) return false;  // signature BIT STRING
    const std::string signature = der.substr(pos + 1, length - 1);
    std::ofstream(Path("tbs.der"), std::ios::binary) << tbs;
    std::ofstream(Path("sig.bin"), std::ios::binary) << signature;
    return Shell("openssl x509 -inform DER -in '" + Path(issuer) + "' -pubkey -noout -out '" + Path("pub.pem") +
                 "'") &&
           Shell("openssl dgst -sha1 -verify '" + Path("pub.pem") + "' -signature '" + Path("sig.bin") + "' '" +
                 Path("tbs.der") + "'");
  }
  std::string Pem(const std::string& name) {
    std::string pem = Path(name + ".pem");
    EXPECT_TRUE(Shell("openssl x509 -inform DER -in '" + Path(name) + "' -out '" + pem + "'"));
    return pem;
  }

  std::unique_ptr<MainDialog> main_;
  std::unique_ptr<CertCommands> commands_;
};

TEST_F(CommandsTest, NewRootWithDefaultsBecomesCurrentAndIsAskedForAtTheNextStart) {
  NewRoot();
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"details", "Create new Certificate and Keys"},
                                            {"progress", "Creating root certficate and keys..."},
                                            {"message", "Root certificate and keys successfully created."}}));
  EXPECT_FALSE(ui_.progressVisible);
  EXPECT_EQ(ui_.busyDepth, 0);
  EXPECT_TRUE(Exists(Path("kvroot.crt")));
  EXPECT_TRUE(Exists(Path("kvroot.key")));
  EXPECT_EQ(main_->rootSelected(), 1);
  EXPECT_EQ(main_->controls().rootCertText, Path("kvroot.crt"));
  EXPECT_EQ(main_->rootKeyPath(), Path("kvroot.key"));
  EXPECT_TRUE(main_->IsEnabled(kvapp::kIdNewServer));
  EXPECT_EQ(Remembered(), Path("kvroot.crt"));
  EXPECT_EQ(main_->rememberedOrganization(), "Acme");
  EXPECT_EQ(main_->controls().fileItems, (std::vector<std::string>{"kvroot.crt"}));

  const std::string pem = Pem("kvroot.crt");
  EXPECT_TRUE(Shell("openssl x509 -in '" + pem + "' -noout -text"));
  EXPECT_TRUE(SignedBy("kvroot.crt", "kvroot.crt"));

  // The next start: a wrong password, then the right one.
  ui_.events.clear();
  ui_.passwords = {std::string("wrongpass"), std::string("rootpass1")};
  Start();
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"password", ""}, {"error", "Password incorrect."}, {"password", ""}}));
  EXPECT_EQ(main_->rootSelected(), 1);
  EXPECT_EQ(main_->rootKeyPassword(), "rootpass1");
  EXPECT_EQ(main_->rememberedOrganization(), "Acme");
  EXPECT_EQ(main_->rememberedCountry(), "US");

  // Cancel at the start leaves no root current.
  ui_.events.clear();
  ui_.passwords = {std::nullopt};
  Start();
  EXPECT_EQ(main_->rootSelected(), 0);
  EXPECT_EQ(main_->controls().rootCertText, "No root certificate selected.");
}

TEST_F(CommandsTest, SelectRootChecksFilesSignatureAndPassword) {
  NewRoot();
  ui_.details.push_back(EnterDetails(Server("web1")));
  main_->OnCommand(kvapp::kIdNewServer);
  ui_.events.clear();

  // A server certificate with its key beside it is no root: refused before
  // any password is asked.
  ui_.openFiles = {Path("web1.crt")};
  main_->OnCommand(kvapp::kIdSelectRoot);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", "Invalid root certificate file: " + Path("web1.crt") +
                                                           "!\nRoot certificate must be self-signed."}}));

  // The key file is found from the last "." of the whole path.
  std::filesystem::create_directories(Path("ca.d"));
  std::filesystem::copy_file(Path("kvroot.crt"), Path("ca.d/my.root.crt"));
  std::filesystem::copy_file(Path("kvroot.crt"), Path("ca.d/rootcert"));
  EXPECT_EQ(commands_->SelectRoot(Path("ca.d/my.root.crt")), 0);
  EXPECT_EQ(commands_->SelectRoot(Path("ca.d/rootcert")), 0);
  EXPECT_EQ(commands_->SelectRoot(Path("missing.crt")), 0);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{
                             {"error", "Unable to locate root key file (" + Path("ca.d/my.root.key") + ")."},
                             {"error", "Unable to locate root key file (" + Path("ca.key") + ")."},
                             {"error", "Unable to locate root certificate file: " + Path("missing.crt") + "."},
                         }));

  // A second root, then Cancel at its password: the first stays current.
  std::filesystem::copy_file(Path("kvroot.key"), Path("ca.d/my.root.key"));
  ui_.openFiles = {Path("ca.d/my.root.crt")};
  ui_.passwords = {std::nullopt};
  main_->OnCommand(kvapp::kIdSelectRoot);
  EXPECT_EQ(main_->rootCertPath(), Path("kvroot.crt"));
  ui_.openFiles = {Path("ca.d/my.root.crt")};
  ui_.passwords = {std::string("rootpass1")};
  main_->OnCommand(kvapp::kIdSelectRoot);
  EXPECT_EQ(main_->rootCertPath(), Path("ca.d/my.root.crt"));
  EXPECT_EQ(Remembered(), Path("ca.d/my.root.crt"));
  EXPECT_TRUE(TakeBoxes().empty());
  EXPECT_EQ(ui_.unanswered, 0);
}

TEST_F(CommandsTest, ServerCertificatesAreMadeViewedAndVerified) {
  NewRoot();
  ui_.events.clear();
  ui_.details.push_back([](kvapp::CertDetailsDialog& d) {
    // The remembered names are filled in.
    EXPECT_EQ(d.controls().text.at(kvapp::kIdOrganization), "Acme");
    EXPECT_EQ(d.controls().text.at(kvapp::kIdCountry), "US");
    return EnterAndOk(d, Server("web1"));
  });
  main_->OnCommand(kvapp::kIdNewServer);
  EXPECT_EQ(ui_.events, (std::vector<Event>{{"details", "Create new Certificate and Keys"},
                                            {"progress", "Creating server certificate and keys..."},
                                            {"message", "Server certificate and keys successfully created."}}));
  ASSERT_TRUE(Exists(Path("web1.crt")));
  ASSERT_TRUE(Exists(Path("web1.key")));
  EXPECT_TRUE(Shell("openssl x509 -in '" + Pem("web1.crt") + "' -noout -text"));
  EXPECT_TRUE(SignedBy("web1.crt", "kvroot.crt"));
  EXPECT_FALSE(SignedBy("web1.crt", "web1.crt"));

  ui_.events.clear();
  Select("web1.crt");
  main_->OnCommand(kvapp::kIdVerifyCert);
  main_->OnCommand(kvapp::kIdViewCert);
  Select("kvroot.crt");
  main_->OnCommand(kvapp::kIdVerifyCert);
  ASSERT_EQ(ui_.contentsShown.size(), 1u);
  const std::string shown = ui_.contentsShown[0];
  EXPECT_EQ(shown.substr(0, shown.find('|', shown.find('|') + 1)),
            "Country = US, Organization = Acme, Common Name = web1|Country = US, Organization = Acme, Common Name = kvroot");
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"message", "Certificate is valid."}, {"message", "Certificate is valid."}}));

  // Create Server Certificate for the existing key: a wrong password first.
  std::filesystem::remove(Path("web1.crt"));
  main_->FillFileList();
  Select("web1.key");
  DetailsEntry entry;
  entry.hostName = "web1";
  entry.password = "wrongpass";
  ui_.details.push_back([entry](kvapp::CertDetailsDialog& d) {
    EXPECT_EQ(d.controls().text.at(kvapp::kIdCertFile), d.directory + "/web1.crt");
    return EnterAndOk(d, entry);
  });
  main_->OnCommand(kvapp::kIdCreateServerCert);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"error", "\nIncorrect key Password.\n"},
                                             {"error", "Unable to create server certificate."}}));
  EXPECT_FALSE(Exists(Path("web1.crt")));
  entry.password = "webpass12";
  ui_.details.push_back(EnterDetails(entry));
  main_->OnCommand(kvapp::kIdCreateServerCert);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{{"message", "Server certificate successfully created."}}));
  EXPECT_TRUE(Shell("openssl x509 -in '" + Pem("web1.crt") + "' -noout -text"));
  EXPECT_TRUE(SignedBy("web1.crt", "kvroot.crt"));
  EXPECT_FALSE(SignedBy("web1.crt", "web1.crt"));

  // Against another root the server certificate is invalid.
  std::filesystem::create_directories(Path("other"));
  DetailsEntry other = Root();
  other.certFile = Path("other/kvroot.crt");
  other.keyFile = Path("other/kvroot.key");
  NewRoot(other);
  ASSERT_EQ(main_->rootCertPath(), Path("other/kvroot.crt"));
  ui_.events.clear();
  Select("web1.crt");
  main_->OnCommand(kvapp::kIdVerifyCert);
  WriteFile("garbage.crt", "this is not a certificate");
  WriteFile("empty.crt", "");
  main_->FillFileList();
  Select("garbage.crt");
  main_->OnCommand(kvapp::kIdVerifyCert);
  Select("empty.crt");
  main_->OnCommand(kvapp::kIdVerifyCert);
  main_->OnCommand(kvapp::kIdViewCert);
  EXPECT_EQ(TakeBoxes(), (std::vector<Event>{
                             {"message", "Certificate is invalid."},
                             {"message", "Certificate is invalid."},
                             {"error", "Internal error reading certificate from file.\n\n"},
                             {"error", "Unable to verify server certificate."},
                             {"error", "Internal error reading certificate.\n"},
                             {"error", "Unable to retrieve certificate information."},
                         }));
}

TEST_F(CommandsTest, ContentsOfOurAndOpenSslCertificates) {
  NewRoot();
  ui_.events.clear();
  main_->OnCommand(kvapp::kIdViewRoot);
  ASSERT_EQ(ui_.contentsShown.size(), 1u);
  kvapp::CertContentsFields ours;
  ASSERT_EQ(kvapp::ReadCertContents(*context_, Path("kvroot.crt"), ours), 0);
  EXPECT_EQ(ours.subject, "Country = US, Organization = Acme, Common Name = kvroot");
  EXPECT_EQ(ours.issuer, ours.subject);
  EXPECT_EQ(ours.serialNumber.size(), 16u);
  EXPECT_EQ(ours.serialNumber.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_FALSE(ours.startDate.empty());
  EXPECT_FALSE(ours.endDate.empty());

  // Certificates made by OpenSSL with SHA-1 and PrintableString names: with
  // no extensions OpenSSL writes version 1, with one extension version 3.
  const std::string key = Path("o.pem");
  const std::string config = Path("req.cnf");
  WriteFile("req.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  ASSERT_TRUE(Shell("openssl genrsa -out '" + key + "' 1024"));
  const std::string req = "openssl req -new -x509 -sha1 -config '" + config + "' -key '" + key + "' ";
  struct Row {
    std::string name;
    std::string extra;
    std::string version;
  };
  const Row rows[] = {
      {"v1.crt", "", "X.509 v1"},
      // basicConstraints must be critical: the certificate toolkit refuses
      // it marked non-critical (1850), as RFC 5280 requires for CA certificates.
      {"v3.crt", "-addext basicConstraints=critical,CA:TRUE", "X.509 v3"},
  };
  for (const Row& row : rows) {
    const std::string pem = Path(row.name + ".pem");
    ASSERT_TRUE(Shell(req + "-subj '/C=DE/O=Beta/CN=osl' -days 30 -set_serial 0x3132333435 " + row.extra + " -out '" +
                      pem + "'"));
    ASSERT_TRUE(Shell("openssl x509 -in '" + pem + "' -outform DER -out '" + Path(row.name) + "'"));
    kvapp::CertContentsFields f;
    ASSERT_EQ(kvapp::ReadCertContents(*context_, Path(row.name), f), 0) << row.name;
    EXPECT_EQ(f.subject, "Country = DE, Organization = Beta, Common Name = osl");
    EXPECT_EQ(f.issuer, f.subject);
    EXPECT_EQ(f.version, row.version);
    EXPECT_EQ(f.serialNumber, "12345");
  }

  // A serial number of 80 bytes is shown whole (bytes 0x44 are all the
  // digit "D", so they show as their characters).
  const std::string longSerial = "0x" + std::string(160, '4');
  if (Shell(req + "-subj '/CN=big' -set_serial " + longSerial + " -out '" + Path("big.pem") + "'")) {
    ASSERT_TRUE(Shell("openssl x509 -in '" + Path("big.pem") + "' -outform DER -out '" + Path("big.crt") + "'"));
    ui_.events.clear();
    main_->FillFileList();
    Select("big.crt");
    main_->OnCommand(kvapp::kIdViewCert);
    EXPECT_EQ(TakeBoxes(), std::vector<Event>{});
    ASSERT_FALSE(ui_.contentsShown.empty());
    EXPECT_EQ(ui_.contentsShown.back().substr(ui_.contentsShown.back().rfind('|') + 1), std::string(80, 'D'));
  }
}

int64_t g_clock = 0;
int64_t TestClock() { return g_clock; }

// "Sun Jun 01 12:00:00 2031" for |seconds| in UTC, made apart from the
// program's own rendering.
std::string UtcText(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &tm);
  return text;
}

// With the clock at 2031 and at 2049 a new root and a server certificate end
// their validity in 2051 and 2069: View shows those years, and openssl reads
// the same dates and finds the certificates unexpired.
TEST_F(CommandsTest, CertificatesIssuedFrom2030OnShowAndCheckTheirEndYears) {
  struct Row {
    int64_t now;  // 12:00 on 1 June
    const char* startYear;
    const char* endYear;
  };
  for (const Row& r : {Row{1938081600, "2031", "2051"}, Row{2506161600, "2049", "2069"}}) {
    SCOPED_TRACE(r.startYear);
    g_clock = r.now;
    kvplatform::SetClockForTest(&TestClock);
    std::filesystem::remove(Path("kvroot.crt"));
    std::filesystem::remove(Path("kvroot.key"));
    std::filesystem::remove(Path("web1.crt"));
    std::filesystem::remove(Path("web1.key"));
    NewRoot();
    ui_.details.push_back(EnterDetails(Server("web1")));
    main_->OnCommand(kvapp::kIdNewServer);
    kvplatform::SetClockForTest(nullptr);
    ui_.contentsShown.clear();
    main_->OnCommand(kvapp::kIdViewRoot);
    main_->FillFileList();
    Select("web1.crt");
    main_->OnCommand(kvapp::kIdViewCert);
    ASSERT_EQ(ui_.contentsShown.size(), 2u);
    const std::string start = UtcText(r.now);
    const std::string end = UtcText(r.now + 630720000);
    EXPECT_EQ(start.substr(start.size() - 4), r.startYear);
    EXPECT_EQ(end.substr(end.size() - 4), r.endYear);
    for (const std::string& shown : ui_.contentsShown) {
      EXPECT_NE(shown.find("|" + start + "|" + end + "|X.509 v3|"), std::string::npos) << shown;
    }
    for (const char* name : {"kvroot.crt", "web1.crt"}) {
      const std::string x509 = "openssl x509 -inform DER -noout -in '" + Path(name) + "'";
      EXPECT_TRUE(Shell(x509 + " -checkend 86400")) << name;
      EXPECT_TRUE(Shell(x509 + " -enddate | grep -q ' " + std::string(r.endYear) + " GMT$'")) << name;
      EXPECT_TRUE(Shell(x509 + " -startdate | grep -q ' " + std::string(r.startYear) + " GMT$'")) << name;
    }
    EXPECT_TRUE(SignedBy("web1.crt", "kvroot.crt"));
  }
}

// A certificate from elsewhere valid for 100 years ends with a
// GeneralizedTime past 2106, and View shows that year.
TEST_F(CommandsTest, ContentsOfACertificateEndingAfter2106) {
  const std::string key = Path("o.pem");
  WriteFile("req.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:1024 -nodes -sha1 -config '" + Path("req.cnf") + "' -keyout '" +
                    key + "' -subj '/CN=far' -days 36500 -outform DER -out '" + Path("far.crt") + "'"));
  kvapp::CertContentsFields f;
  ASSERT_EQ(kvapp::ReadCertContents(*context_, Path("far.crt"), f), 0);
  ASSERT_GE(f.endDate.size(), 4u);
  const std::string year = f.endDate.substr(f.endDate.size() - 4);
  EXPECT_GT(std::stoi(year), 2106) << f.endDate;
  EXPECT_TRUE(Shell("openssl x509 -inform DER -noout -in '" + Path("far.crt") + "' -enddate | grep -q ' " + year +
                    " GMT$'"))
      << f.endDate;
}

// What a certificate from elsewhere carries is shown safely: control bytes
// and bytes that are not UTF-8 escaped, serial numbers that are not this
// program's digits in hexadecimal.
TEST_F(CommandsTest, ForeignContentsAreShownEscaped) {
  const std::string key = Path("o.pem");
  WriteFile("req.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  ASSERT_TRUE(Shell("openssl genrsa -out '" + key + "' 1024"));
  const std::string pem = Path("x.pem");
  ASSERT_TRUE(Shell("openssl req -new -x509 -sha1 -config '" + Path("req.cnf") + "' -key '" + key +
                    "' -days 30 -set_serial 0x1B5B324A07 -subj \"/C=US/O=$(printf 'caf\\351')/CN=$(printf "
                    "'evil\\033]0;title\\007')\" -out '" + pem + "'"));
  ASSERT_TRUE(Shell("openssl x509 -in '" + pem + "' -outform DER -out '" + Path("x.crt") + "'"));
  main_->FillFileList();
  Select("x.crt");
  ui_.events.clear();
  EXPECT_EQ(main_->OnCommand(kvapp::kIdViewCert), kvapp::CommandOutcome::kSucceeded);
  ASSERT_EQ(ui_.contentsShown.size(), 1u);
  // The T61String of another issuer holds Latin-1: shown as UTF-8.
  const std::string name = "Country = US, Organization = caf\xC3\xA9, Common Name = evil\\x1B]0;title\\x07";
  const std::string& shown = ui_.contentsShown[0];
  EXPECT_EQ(shown.substr(0, shown.find('|', shown.find('|') + 1)), name + "|" + name);
  EXPECT_EQ(shown.substr(shown.rfind('|') + 1), "1B5B324A07");
  EXPECT_EQ(TakeBoxes(), std::vector<Event>{});
}

TEST_F(CommandsTest, NameRecordsAreCutToTheirArrays) {
  CertNameFields f = kvapp::MakeCertNameFields("USA", std::string(600, 'o'), "web1");
  EXPECT_STREQ(f.country, "US");
  EXPECT_EQ(std::string(f.organization).size(), 511u);
  EXPECT_STREQ(f.commonName, "web1");
  // Never inside a character: 300 two-byte characters keep 255 of them.
  std::string many;
  for (int i = 0; i < 300; ++i) many += "\xC3\xA9";
  f = kvapp::MakeCertNameFields("US", many, many);
  EXPECT_EQ(std::string(f.organization), many.substr(0, 510));
}

}  // namespace
}  // namespace apptest
