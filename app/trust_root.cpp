#include "app/trust_root.h"

#include <cstring>
#include <vector>

#include "app/cert_info.h"
#include "services/kv_pem.h"
#include "app/strings.h"
#include "certkit/certkit.h"
#include "services/kvservices.h"

namespace kvapp {
namespace {

// Largest anchor file read back (a certificate in PEM is a few KiB).
constexpr size_t kMaxAnchorFile = 1 << 20;
// Most characters of the root file's name kept in the anchor's name.
constexpr size_t kMaxNameStem = 64;

// A certificate encoding of the services, released on every exit.
struct CertBuffer {
  unsigned char* data = nullptr;
  int length = 0;
  CertBuffer() = default;
  CertBuffer(const CertBuffer&) = delete;
  CertBuffer& operator=(const CertBuffer&) = delete;
  ~CertBuffer() { vKVCertFreeCert(data); }
};

// Why clients refuse the root |der|: its signature algorithm, its missing
// CA marking and its key size, as far as they fall short.
std::string ClassicReasons(const CertBuffer& der) {
  std::vector<std::string> reasons;
  C_CERT_OBJ certificate = nullptr;
  if (C_CreateCertObject(&certificate, nullptr) == 0 &&
      C_SetCertBERForDisplay(certificate, der.data, static_cast<uint32_t>(der.length)) == 0) {
    CertDetails details;
    if (ReadCertDetails(certificate, details) == 0) {
      const std::string& sig = details.signatureAlgorithm;
      if (sig != "sha256WithRSAEncryption" && sig != "sha384WithRSAEncryption" && sig != "sha512WithRSAEncryption") {
        reasons.push_back("it is signed with " + sig);
      }
      bool ca = false;
      for (const ExtensionInfo& e : details.extensions) {
        if (e.name != "basicConstraints") continue;
        for (const std::string& v : e.values) ca = ca || v == "CA:TRUE";
      }
      if (!ca) reasons.push_back("it has no basicConstraints extension marking it as a certificate authority");
      if (details.keyAlgorithm == "RSA" && details.keyBits < 2048) {
        reasons.push_back("its key has only " + std::to_string(details.keyBits) + " bits");
      }
    }
  }
  C_DestroyCertObject(&certificate);
  std::string text;
  for (const std::string& r : reasons) text += (text.empty() ? "" : "; ") + r;
  return text;
}

// True when |anchor| (PEM or DER) holds exactly the certificate |der| and
// nothing else.
bool HoldsCertificate(const std::string& anchor, const CertBuffer& der) {
  if (anchor.empty() || anchor.size() > kMaxAnchorFile) return false;
  std::vector<unsigned char> bytes(anchor.begin(), anchor.end());
  int length = static_cast<int>(bytes.size());
  int later = 0;
  if (iKVCertFromPEM(bytes.data(), &length, &later) != 0 || later != 0) return false;
  return length == der.length && std::memcmp(bytes.data(), der.data, static_cast<size_t>(length)) == 0;
}

// |text| as one word for a POSIX shell: as it is when it holds only safe
// characters, else in single quotes.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (char ch : text) {
    plain = plain && ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                      (ch != '\0' && std::strchr("/._-:+,=@", ch) != nullptr));
  }
  if (plain) return text;
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

// NSS stores keep their trust settings only together with integrity data
// keyed by the store's password, which this program does not write; trust
// written without it is ignored. The user is told how NSS's own tool does it.
void RefuseNss(const AppContext& context, const std::string& nssDirectory, const std::string& rootCertPath,
               bool adding) {
  const std::string nickname = TrustAnchorName(rootCertPath);
  const std::string stem = nickname.substr(0, nickname.size() - 4);
  const std::string store = ShellWord("sql:" + nssDirectory);
  context.Error("Nothing was changed: this program does not write NSS stores (" + nssDirectory +
                "). NSS keeps trust settings only with integrity data keyed to the store's password, and ignores "
                "trust written without it. Use NSS's own tool:\n" +
                (adding ? "  certutil -A -d " + store + " -n " + stem + " -t C,, -i " + ShellWord(rootCertPath)
                        : "  certutil -D -d " + store + " -n " + stem));
}

// Reads the root certificate and makes sure it is one clients accept.
bool ReadModernRoot(const AppContext& context, const std::string& rootCertPath, CertBuffer& der) {
  if (errKVCertReadFromFile(rootCertPath.c_str(), &der.length, &der.data) != 0 || der.length <= 0) {
    context.Error("Unable to read the root certificate " + rootCertPath + ". Nothing was changed.");
    return false;
  }
  if (iKVProfileOfCert(der.length, der.data) == KV_PROFILE_MODERN) return true;
  const std::string reasons = ClassicReasons(der);
  context.Error("The root certificate " + rootCertPath +
                " was not installed: it is a root of the classic profile, and current TLS clients refuse it" +
                (reasons.empty() ? std::string() : " (" + reasons + ")") +
                ", as they refuse the server certificates it issues (SHA-1 signatures, 1024-bit keys). "
                "Make a root of the modern profile to have clients trust it.");
  return false;
}

// Runs the store's refresh after |anchorPath| was written or removed.
CommandOutcome Refresh(const AppContext& context, kvplatform::SystemTrustStore& store, const std::string& anchorPath,
                       const std::string& rootCertPath, bool trusted) {
  const std::string command = store.RefreshCommandName();
  const kvplatform::RefreshResult r = store.Refresh();
  std::string output = r.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  const std::string state = trusted ? "is in " + anchorPath : "was removed from " + anchorPath;
  if (!r.started || r.exitStatus != 0) {
    std::string why = !r.started                  ? "could not be run (" + r.problem + ")"
                      : r.exitStatus < 0          ? "did not finish (" + r.problem + ")"
                                                  : "failed with exit status " + std::to_string(r.exitStatus);
    context.Error("The root certificate " + state + ", but " + command + " " + why + "." +
                  (output.empty() ? std::string() : "\n" + output) +
                  "\nThe system's trusted certificates are not yet up to date; run " + command +
                  " as root, or run this command again.");
    return CommandOutcome::kFailed;
  }
  context.ui.WriteOutputLine("Ran " + command + (output.empty() ? std::string(".") : ":\n" + output));
  context.ui.ShowMessage(trusted ? "Programs that use the system's trusted certificates now trust the root " +
                                       rootCertPath + "."
                                 : "Programs that use the system's trusted certificates no longer trust the root " +
                                       rootCertPath + ".");
  return CommandOutcome::kSucceeded;
}

}  // namespace

std::string TrustAnchorName(const std::string& rootCertPath) {
  std::string name = NamePart(rootCertPath);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::string stem;
  for (char ch : name) {
    if (stem.size() == kMaxNameStem) break;
    const bool safe = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' ||
                      ch == '-' || ch == '_';
    stem += safe ? ch : '_';
  }
  if (stem.empty()) stem = "root";
  return "kvcatool-" + stem + ".crt";
}

CommandOutcome TrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                         const std::string& rootCertPath, const std::string& nssDirectory) {
  if (!nssDirectory.empty()) {
    RefuseNss(context, nssDirectory, rootCertPath, true);
    return CommandOutcome::kFailed;
  }
  CertBuffer der;
  if (!ReadModernRoot(context, rootCertPath, der)) return CommandOutcome::kFailed;
  const std::string name = TrustAnchorName(rootCertPath);
  const std::string anchorPath = store.AnchorsDirectory() + "/" + name;
  const std::string text = kvpem::PemBlock("CERTIFICATE", der.data, static_cast<size_t>(der.length));
  std::string existing;
  switch (store.ReadAnchor(name, kMaxAnchorFile, existing)) {
    case kvplatform::AnchorRead::kMissing:
      break;
    case kvplatform::AnchorRead::kRead:
      if (existing == text) {
        context.ui.WriteOutputLine(anchorPath + " already holds the root certificate " + rootCertPath + ".");
        return Refresh(context, store, anchorPath, rootCertPath, true);
      }
      // The same certificate in another form is written again as PEM.
      if (HoldsCertificate(existing, der)) break;
      context.Error(anchorPath + " holds another certificate; it was left as it is and nothing was installed. "
                                 "Remove it first if it is no longer wanted.");
      return CommandOutcome::kFailed;
    case kvplatform::AnchorRead::kNotAFile:
      context.Error("Something other than a certificate file stands at " + anchorPath + "; nothing was installed.");
      return CommandOutcome::kFailed;
    case kvplatform::AnchorRead::kFailed:
      context.Error("Unable to read " + anchorPath + "; nothing was installed.");
      return CommandOutcome::kFailed;
  }
  std::string problem;
  if (!store.WriteAnchor(name, text, problem)) {
    context.Error("Unable to write " + anchorPath + " (" + problem + "); nothing was installed.");
    return CommandOutcome::kFailed;
  }
  context.ui.WriteOutputLine("Root certificate " + rootCertPath + " written to " + anchorPath + ".");
  return Refresh(context, store, anchorPath, rootCertPath, true);
}

CommandOutcome UntrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                           const std::string& rootCertPath, const std::string& nssDirectory) {
  if (!nssDirectory.empty()) {
    RefuseNss(context, nssDirectory, rootCertPath, false);
    return CommandOutcome::kFailed;
  }
  CertBuffer der;
  if (errKVCertReadFromFile(rootCertPath.c_str(), &der.length, &der.data) != 0 || der.length <= 0) {
    context.Error("Unable to read the root certificate " + rootCertPath + ". Nothing was changed.");
    return CommandOutcome::kFailed;
  }
  const std::string name = TrustAnchorName(rootCertPath);
  const std::string anchorPath = store.AnchorsDirectory() + "/" + name;
  std::string existing;
  switch (store.ReadAnchor(name, kMaxAnchorFile, existing)) {
    case kvplatform::AnchorRead::kMissing:
      context.ui.ShowMessage("The root certificate " + rootCertPath + " is not installed (there is no " + anchorPath +
                             "). Nothing was changed.");
      return CommandOutcome::kSucceeded;
    case kvplatform::AnchorRead::kRead:
      if (HoldsCertificate(existing, der)) break;
      context.Error(anchorPath + " holds another certificate than the root " + rootCertPath +
                    "; it was left as it is. Nothing was changed.");
      return CommandOutcome::kFailed;
    case kvplatform::AnchorRead::kNotAFile:
      context.Error("Something other than a certificate file stands at " + anchorPath + "; it was left as it is.");
      return CommandOutcome::kFailed;
    case kvplatform::AnchorRead::kFailed:
      context.Error("Unable to read " + anchorPath + "; nothing was changed.");
      return CommandOutcome::kFailed;
  }
  std::string problem;
  if (!store.RemoveAnchor(name, problem)) {
    context.Error("Unable to remove " + anchorPath + " (" + problem + "); nothing was changed.");
    return CommandOutcome::kFailed;
  }
  context.ui.WriteOutputLine("Removed " + anchorPath + ".");
  return Refresh(context, store, anchorPath, rootCertPath, false);
}

}  // namespace kvapp
