// Viewing certificates that other tools made: every certificate of the
// system's CA bundle against what OpenSSL's command line prints for it, and
// certificates made here with OpenSSL covering the string types, signature
// algorithms, dates and extensions that the contents display reads, with the
// JSON output checked field by field; and verify's answer for algorithms it
// cannot verify with.
#include <dirent.h>

#include <algorithm>
#include <ctime>
#include <sstream>

#include "certkit/certkit.h"
#include "cli_harness.h"
#include "tests/support/json.h"

namespace clitest {
namespace {

using testsupport::Json;
using testsupport::JsonReader;

#if KVCLI_CERT_COMMANDS

// What OpenSSL prints for one certificate, in the forms our JSON uses.
struct OpensslView {
  std::string commonName;  // first CN, "" without one
  std::string serial;      // upper-case hex
  std::string notBefore;   // RFC 3339
  std::string notAfter;
};

// "Mar  1 12:00:00 2009 GMT" as "2009-03-01T12:00:00Z".
std::string OpensslDateToRfc3339(const std::string& text) {
  struct tm t {};
  if (strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &t) == nullptr) return "<bad date " + text + ">";
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%SZ", &t);
  return out;
}

// Parses the output of "openssl x509 -noout -subject -nameopt multiline,utf8,-esc_msb -serial -dates".
OpensslView ParseOpenssl(const std::string& text) {
  OpensslView v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find(" = ");
    if (line.find("    commonName") == 0 && eq != std::string::npos && v.commonName.empty()) {
      v.commonName = line.substr(eq + 3);
    } else if (line.rfind("serial=", 0) == 0) {
      v.serial = line.substr(7);
    } else if (line.rfind("notBefore=", 0) == 0) {
      v.notBefore = OpensslDateToRfc3339(line.substr(10));
    } else if (line.rfind("notAfter=", 0) == 0) {
      v.notAfter = OpensslDateToRfc3339(line.substr(9));
    }
  }
  return v;
}

std::string FirstName(const Json& names, const std::string& type) {
  for (const Json& pair : names.items) {
    if (pair["type"].text == type) return pair["value"].text;
  }
  return "";
}

// The differences between our JSON and OpenSSL's view; empty when they agree.
std::string Differences(const Json& ours, const OpensslView& theirs) {
  std::string out;
  auto compare = [&](const char* what, const std::string& a, const std::string& b) {
    if (a != b) out += std::string(what) + ": ours '" + a + "', openssl '" + b + "'; ";
  };
  compare("CN", FirstName(ours["subject"], "CN"), theirs.commonName);
  compare("serial", ours["serial"].text, theirs.serial);
  compare("notBefore", ours["notBefore"].text, theirs.notBefore);
  compare("notAfter", ours["notAfter"].text, theirs.notAfter);
  return out;
}

class View : public CliTest {
 protected:
  Json ViewJson(const std::string& file, Result* result = nullptr) {
    Result r = Run({"view", file, "--json"});
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.status, 0) << file << ": " << r.err;
    if (r.status != 0) return Json{};
    try {
      return JsonReader(r.out).Parse();
    } catch (const std::exception& e) {
      ADD_FAILURE() << file << ": " << e.what() << "\n" << r.out;
      return Json{};
    }
  }
  OpensslView Openssl(const std::string& file) {
    return ParseOpenssl(Shell("openssl x509 -in '" + file +
                              "' -noout -subject -nameopt multiline,utf8,-esc_msb -serial -dates"));
  }
};

TEST_F(View, EveryCertificateOfTheCaBundleAgreesWithOpenssl) {
  const std::string bundle = "/usr/share/ca-certificates/mozilla";
  std::vector<std::string> files;
  if (DIR* d = opendir(bundle.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".crt") files.push_back(bundle + "/" + name);
    }
    closedir(d);
  }
  if (files.empty()) GTEST_SKIP() << "no CA bundle at " << bundle << " (tools/setup installs ca-certificates)";
  std::sort(files.begin(), files.end());
  // OpenSSL once for the whole bundle; each certificate's part begins with
  // a marker line.
  std::string script = "for f in";
  for (const std::string& f : files) script += " '" + f + "'";
  script += "; do echo \"@@ $f\"; openssl x509 -in \"$f\" -noout -subject -nameopt multiline,utf8,-esc_msb -serial "
            "-dates || exit 1; done";
  const std::string all = Shell(script);
  ASSERT_NE(all, "<failed>");
  size_t checked = 0;
  for (const std::string& f : files) {
    const size_t at = all.find("@@ " + f + "\n");
    ASSERT_NE(at, std::string::npos) << f;
    const size_t next = all.find("@@ ", at + 3);
    const OpensslView theirs = ParseOpenssl(all.substr(at, next == std::string::npos ? std::string::npos : next - at));
    const Json ours = ViewJson(f);
    EXPECT_EQ(Differences(ours, theirs), "") << f;
    ++checked;
  }
  EXPECT_GT(checked, 100u);
  // The comparison can fail: one certificate against another's view.
  ASSERT_GE(files.size(), 2u);
  EXPECT_NE(Differences(ViewJson(files[0]), Openssl(files[1])), "");
}

// One certificate made with OpenSSL and what viewing it must show.
struct Made {
  const char* name;
  const char* command;  // run in the temporary directory; writes NAME.crt
  const char* signatureAlgorithm;
  const char* keyAlgorithm;
  uint32_t keyBits;
  const char* curve;
  const char* commonName;  // as UTF-8
  int version = 3;         // OpenSSL makes version 1 without extensions
};

const char kReq[] = "openssl req -x509 -nodes -days 30 -keyout key.pem -utf8 ";

TEST_F(View, CertificatesMadeByOpenssl) {
  // Configurations choosing the string types of the names.
  WriteFile("utf8.cnf", "[req]\ndistinguished_name=dn\nstring_mask=utf8only\n[dn]\n");
  WriteFile("nombstr.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  WriteFile("default.cnf", "[req]\ndistinguished_name=dn\nstring_mask=default\n[dn]\n");
  const std::string rsa = std::string(kReq) + "-newkey rsa:2048 ";
  const Made cases[] = {
      // String types: UTF8String, PrintableString, T61String (Latin-1 under
      // nombstr), BMPString and UniversalString (default mask), IA5String
      // (emailAddress).
      {"utf8", "-config utf8.cnf -subj '/C=DE/O=Müller & Söhne/CN=straße.example'", "sha256WithRSAEncryption", "RSA",
       2048, "", "straße.example", 1},
      {"printable", "-config nombstr.cnf -subj '/C=US/O=Plain/CN=plain.example'", "sha256WithRSAEncryption", "RSA",
       2048, "", "plain.example", 1},
      {"t61", "-config nombstr.cnf -subj '/C=FR/O=Société/CN=café.example'", "sha256WithRSAEncryption", "RSA", 2048,
       "", "café.example", 1},
      {"bmp", "-config default.cnf -subj '/C=JP/O=例/CN=日本語.example'", "sha256WithRSAEncryption", "RSA", 2048, "",
       "日本語.example", 1},
      {"universal", "-config default.cnf -subj '/CN=\xF0\x9F\x94\x92 lock/emailAddress=a@b.example'",
       "sha256WithRSAEncryption", "RSA", 2048, "", "\xF0\x9F\x94\x92 lock", 1},
  };
  for (const Made& m : cases) {
    ASSERT_NE(Shell(rsa + m.command + " -out " + m.name + ".crt 2>/dev/null && echo ok"), "<failed>") << m.name;
  }
  const Made algorithms[] = {
      {"ecdsa", "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -sha256 -subj '/CN=ec.example'", "ecdsa-with-SHA256",
       "EC", 0, "prime256v1", "ec.example"},
      {"ecdsa384", "-newkey ec -pkeyopt ec_paramgen_curve:P-384 -sha384 -subj '/CN=ec384.example'",
       "ecdsa-with-SHA384", "EC", 0, "secp384r1", "ec384.example"},
      {"ed25519", "-newkey ed25519 -subj '/CN=ed.example'", "Ed25519", "Ed25519", 0, "", "ed.example"},
      {"ed448", "-newkey ed448 -subj '/CN=ed448.example'", "Ed448", "Ed448", 0, "", "ed448.example"},
      {"pss", "-newkey rsa-pss -pkeyopt rsa_keygen_bits:2048 -subj '/CN=pss.example'", "RSASSA-PSS", "RSASSA-PSS", 0,
       "", "pss.example"},
      {"dsa", "-newkey dsa:dsa.pem -sha256 -subj '/CN=dsa.example'", "dsa_with_SHA256", "DSA", 0, "", "dsa.example"},
      {"sha512", "-newkey rsa:3072 -sha512 -subj '/CN=sha512.example'", "sha512WithRSAEncryption", "RSA", 3072, "",
       "sha512.example"},
  };
  ASSERT_NE(Shell("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa.pem 2>/dev/null "
                  "&& echo ok"),
            "<failed>");
  for (const Made& m : algorithms) {
    ASSERT_NE(Shell(std::string(kReq) + m.command + " -out " + m.name + ".crt 2>/dev/null && echo ok"), "<failed>")
        << m.name;
  }
  std::vector<Made> every(std::begin(cases), std::end(cases));
  every.insert(every.end(), std::begin(algorithms), std::end(algorithms));
  for (const Made& m : every) {
    const std::string file = std::string(m.name) + ".crt";
    const Json j = ViewJson(file);
    EXPECT_EQ(FirstName(j["subject"], "CN"), m.commonName) << m.name;
    EXPECT_EQ(j["signatureAlgorithm"].text, m.signatureAlgorithm) << m.name;
    EXPECT_EQ(j["publicKeyAlgorithm"].text, m.keyAlgorithm) << m.name;
    EXPECT_EQ(static_cast<uint32_t>(j["publicKeyBits"].number), m.keyBits) << m.name;
    EXPECT_EQ(j["curve"].text, m.curve) << m.name;
    EXPECT_EQ(j["version"].number, m.version) << m.name;
    EXPECT_EQ(Differences(j, Openssl(Path(file))), "") << m.name;
    // Fingerprints of the whole DER, as OpenSSL computes them.
    EXPECT_EQ("sha256 Fingerprint=" + j["sha256Fingerprint"].text + "\n",
              Shell("openssl x509 -in " + file + " -noout -fingerprint -sha256"))
        << m.name;
    EXPECT_EQ("sha1 Fingerprint=" + j["sha1Fingerprint"].text + "\n",
              Shell("openssl x509 -in " + file + " -noout -fingerprint -sha1"))
        << m.name;
  }
  // The other name types keep their values and short names.
  const Json u = ViewJson("universal.crt");
  EXPECT_EQ(FirstName(u["subject"], "emailAddress"), "a@b.example");
  const Json t = ViewJson("utf8.crt");
  EXPECT_EQ(FirstName(t["subject"], "O"), "Müller & Söhne");
  EXPECT_EQ(FirstName(t["subject"], "C"), "DE");
  // The six-field display shows the decoded value, not the raw octets.
  EXPECT_NE(Run({"view", "bmp.crt"}).out.find("Common Name = 日本語.example"), std::string::npos);
}

TEST_F(View, DatesExtensionsAndPem) {
  const std::string rsa = std::string(kReq) + "-newkey rsa:2048 -sha256 ";
  // A validity past 2049 is written as GeneralizedTime.
  ASSERT_NE(Shell(rsa + "-days 20000 -subj '/CN=long.example' -out long.crt 2>/dev/null && echo ok"), "<failed>");
  ASSERT_NE(Shell(rsa + "-subj '/CN=server.example' -addext 'subjectAltName=DNS:server.example,DNS:www.example,"
                        "IP:192.0.2.1,email:ops@example.org' -addext 'basicConstraints=CA:TRUE,pathlen:2' "
                        "-addext 'keyUsage=critical,digitalSignature,keyEncipherment,keyCertSign' "
                        "-addext 'extendedKeyUsage=serverAuth,clientAuth' -addext '1.2.3.4.5=critical,DER:05:00' "
                        "-out ext.crt 2>/dev/null && echo ok"),
            "<failed>");
  const Json longLived = ViewJson("long.crt");
  EXPECT_EQ(Differences(longLived, Openssl(Path("long.crt"))), "");
  EXPECT_GE(longLived["notAfter"].text.substr(0, 4), "2080");

  const Json j = ViewJson("ext.crt");
  std::map<std::string, const Json*> byName;
  for (const Json& e : j["extensions"].items) byName[e["name"].text] = &e;
  ASSERT_TRUE(byName.count("subjectAltName"));
  ASSERT_TRUE(byName.count("basicConstraints"));
  ASSERT_TRUE(byName.count("keyUsage"));
  ASSERT_TRUE(byName.count("extendedKeyUsage"));
  ASSERT_TRUE(byName.count("subjectKeyIdentifier"));
  ASSERT_TRUE(byName.count("1.2.3.4.5"));
  auto values = [](const Json* e) {
    std::vector<std::string> v;
    for (const Json& item : (*e)["values"].items) v.push_back(item.text);
    return v;
  };
  EXPECT_EQ(values(byName["subjectAltName"]), (std::vector<std::string>{"DNS:server.example", "DNS:www.example",
                                                                       "IP:192.0.2.1", "email:ops@example.org"}));
  // basicConstraints as OpenSSL adds it: not critical.
  EXPECT_FALSE((*byName["basicConstraints"])["critical"].boolean);
  EXPECT_EQ(values(byName["basicConstraints"]), (std::vector<std::string>{"CA:TRUE", "pathlen:2"}));
  EXPECT_TRUE((*byName["keyUsage"])["critical"].boolean);
  EXPECT_EQ(values(byName["keyUsage"]),
            (std::vector<std::string>{"Digital Signature", "Key Encipherment", "Certificate Sign"}));
  EXPECT_EQ(values(byName["extendedKeyUsage"]), (std::vector<std::string>{"serverAuth", "clientAuth"}));
  // The unknown critical extension is kept and shown with its criticality.
  EXPECT_TRUE((*byName["1.2.3.4.5"])["critical"].boolean);
  EXPECT_EQ((*byName["1.2.3.4.5"])["oid"].text, "1.2.3.4.5");
  EXPECT_EQ(values(byName["1.2.3.4.5"]), (std::vector<std::string>{"0500"}));
  const std::string ski = Shell("openssl x509 -in ext.crt -noout -ext subjectKeyIdentifier | tail -1");
  EXPECT_EQ(values(byName["subjectKeyIdentifier"]).at(0), ski.substr(ski.find_first_not_of(' '), 59));

  // --all shows the same below the six fields, dates stated as UTC.
  Result all = Run({"view", "ext.crt", "--all"});
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find("\nSerial Number: "), std::string::npos);
  EXPECT_NE(all.out.find("\nSignature Algorithm: sha256WithRSAEncryption\nPublic Key: RSA (2048 bits)\n"),
            std::string::npos);
  EXPECT_NE(all.out.find("\nValid From: " + j["notBefore"].text.substr(0, 10) + " "), std::string::npos);
  EXPECT_NE(all.out.find(" UTC\n"), std::string::npos);
  EXPECT_NE(all.out.find("\n  1.2.3.4.5 (critical): 0500\n"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("\n  basicConstraints: CA:TRUE, pathlen:2\n"), std::string::npos) << all.out;

  // DER and PEM; with two PEM blocks the first is shown and the rest counted.
  ASSERT_NE(Shell("openssl x509 -in ext.crt -outform DER -out ext-der.crt && cat ext.crt long.crt > two.crt && "
                  "echo ok"),
            "<failed>");
  Result der;
  EXPECT_EQ(ViewJson("ext-der.crt", &der)["sha256Fingerprint"].text, j["sha256Fingerprint"].text);
  EXPECT_EQ(der.err, "");
  Result two;
  EXPECT_EQ(ViewJson("two.crt", &two)["sha256Fingerprint"].text, j["sha256Fingerprint"].text);
  EXPECT_EQ(two.err, "Note: the file holds 1 more certificate after the first; only the first is shown.\n");

  // Broken files are still refused, with nothing shown.
  WriteFile("cut.crt", Shell("head -c 300 ext-der.crt"));
  WriteFile("nobody.crt", "-----BEGIN CERTIFICATE-----\nMIIB\n");
  WriteFile("badb64.crt", "-----BEGIN CERTIFICATE-----\nMI*B\n-----END CERTIFICATE-----\n");
  for (const char* f : {"cut.crt", "nobody.crt", "badb64.crt"}) {
    Result r = Run({"view", f, "--json"});
    EXPECT_EQ(r.status, 1) << f;
    EXPECT_EQ(r.out, "") << f;
  }
}

TEST_F(View, VerifyTakesSha2FromAnyIssuerAndSaysWhatItCannotVerify) {
  MakeRoot("kvroot.crt", "kvroot.key", "rootpass1");
  WriteFile("root.txt", "rootpass1\n");
  Remember(Path("kvroot.crt"));
  ASSERT_EQ(Run({"export-key", "kvroot.key", "--out", "root-key.pem", "--password-file", "root.txt", "--unencrypted"})
                .status,
            0);
  // Certificates signed by the root's key with OpenSSL, SHA-2 signatures.
  for (const char* digest : {"sha256", "sha384", "sha512"}) {
    const std::string name = std::string("web-") + digest;
    ASSERT_NE(Shell(std::string("openssl req -new -newkey rsa:2048 -nodes -keyout k.pem -subj '/CN=") + name +
                    "' -out r.csr 2>/dev/null && openssl x509 -req -in r.csr -CA kvroot.crt -CAform DER -CAkey "
                    "root-key.pem -set_serial 7 -days 30 -" + digest + " -out " + name + ".crt 2>/dev/null && echo ok"),
              "<failed>")
        << digest;
    Result r = Run({"verify", name + ".crt"});
    EXPECT_EQ(r.status, 0) << digest << r.err;
    EXPECT_EQ(r.out, "Certificate is valid.\n") << digest;
  }
  // A certificate signed by another key is invalid, not unsupported.
  ASSERT_NE(Shell(std::string(kReq) + "-newkey rsa:2048 -sha256 -subj '/CN=other' -out other.crt 2>/dev/null && "
                                      "echo ok"),
            "<failed>");
  Result other = Run({"verify", "other.crt"});
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.out, "Certificate is invalid.\n");
  // ECDSA and Ed25519 signatures are read but not verified with.
  ASSERT_NE(Shell(std::string(kReq) + "-newkey ed25519 -subj '/CN=ed' -out ed.crt 2>/dev/null && echo ok"),
            "<failed>");
  Result ed = Run({"verify", "ed.crt"});
  EXPECT_EQ(ed.status, 1);
  EXPECT_EQ(ed.out, "");
  EXPECT_EQ(ed.err, "The certificate's signature or key algorithm is not supported: it cannot be verified.\n");
}

TEST_F(View, ToolkitReadingForDisplayAndClassicReading) {
  // PrintableString names, which the classic reading takes.
  WriteFile("nombstr.cnf", "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  const std::string rsa = std::string(kReq) + "-config nombstr.cnf -newkey rsa:2048 -sha256 ";
  ASSERT_NE(Shell(std::string(kReq) + "-config nombstr.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -subj '/CN=ec' -outform DER "
                                      "-out ec.der 2>/dev/null && " +
                  rsa + "-subj '/CN=crit' -addext '1.2.3.4.5=critical,DER:05:00' -outform DER -out crit.der "
                        "2>/dev/null && " +
                  rsa + "-subj '/CN=bc' -addext 'basicConstraints=CA:TRUE' -outform DER -out bc.der 2>/dev/null && "
                        "echo ok"),
            "<failed>");
  struct Row {
    const char* file;
    int classic;        // C_SetCertBER
    int verifyDisplay;  // C_VerifyCertSignature after C_SetCertBERForDisplay, with an unrelated RSA key
  };
  const Row rows[] = {
      {"ec.der", C_ERR_SIG_ALGORITHM, C_ERR_ALG_UNSUPPORTED},
      {"crit.der", C_ERR_EXT_UNHANDLED_CRITICAL, C_ERR_EXT_UNHANDLED_CRITICAL},
      {"bc.der", C_ERR_EXT_NOT_CRITICAL, C_ERR_CERT_SIGNATURE},
  };
  // An RSA public key of another certificate, to verify with.
  Q_KEY_OBJ key = nullptr;
  ASSERT_EQ(Q_CreateKeyObject(&key), 0);
  {
    ASSERT_NE(Shell(rsa + "-subj '/CN=k' -outform DER -out k.der 2>/dev/null && echo ok"), "<failed>");
    const std::string der = ReadFile("k.der");
    C_CERT_OBJ cert = nullptr;
    ASSERT_EQ(C_CreateCertObject(&cert, nullptr), 0);
    ASSERT_EQ(C_SetCertBER(cert, reinterpret_cast<const unsigned char*>(der.data()), der.size()), 0);
    C_CERT_FIELDS f;
    ASSERT_EQ(C_GetCertFields(cert, &f), 0);
    Q_ITEM item{const_cast<unsigned char*>(f.publicKey.data), f.publicKey.len};
    ASSERT_EQ(Q_SetKeyInfo(key, QK_RSAPublicBER, &item), 0);
    C_DestroyCertObject(&cert);
  }
  for (const Row& row : rows) {
    const std::string der = ReadFile(row.file);
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    C_CERT_OBJ cert = nullptr;
    ASSERT_EQ(C_CreateCertObject(&cert, nullptr), 0);
    EXPECT_EQ(C_SetCertBER(cert, bytes, der.size()), row.classic) << row.file;
    ASSERT_EQ(C_SetCertBERForDisplay(cert, bytes, der.size()), 0) << row.file;
    EXPECT_EQ(C_VerifyCertSignature(cert, key, nullptr), row.verifyDisplay) << row.file;
    // Reading for display leaves the object reading classically again.
    EXPECT_EQ(C_SetCertBER(cert, bytes, der.size()), row.classic) << row.file;
    C_DestroyCertObject(&cert);
  }
  Q_DestroyKeyObject(&key);
}

#endif

}  // namespace
}  // namespace clitest
