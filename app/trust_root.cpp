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

// A path NSS's module list can hold as a value: no control characters and
// no blanks (a module's parameters are separated by blanks).
bool ListablePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (char ch : path) {
    if (static_cast<unsigned char>(ch) <= ' ' || ch == 0x7F || ch == '"' || ch == '\'') return false;
  }
  return true;
}

// The change an NSS store's module list needs: the whole new list, or none
// when the trust module is listed already.
struct NssPlan {
  std::string listPath;
  bool listed = false;
  std::string newText;
  mode_t mode = 0600;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Reads the module list of |nss| and works out the change; false after an
// error message (nothing is changed by it). |prefix| starts each message.
bool PlanNss(const AppContext& context, const NssTarget& nss, const std::string& prefix, NssPlan& plan) {
  const std::string& library = nss.module.library;
  plan.listPath = nss.directory + "/" + kvplatform::kModuleListName;
  if (!nss.module.Installed()) {
    context.Error(prefix + "the system trust module " + library +
                  " is not installed (Debian package p11-kit-modules); an NSS store takes the system's trusted "
                  "certificates through it.");
    return false;
  }
  if (!ListablePath(library) || !ListablePath(nss.module.bundle)) {
    context.Error(prefix + "the path of the system trust module or of the system's certificate bundle is not "
                           "an absolute path free of blanks, quotes and control characters, as an NSS module list "
                           "needs.");
    return false;
  }
  std::string text;
  switch (kvplatform::ReadModuleList(nss.directory, text, plan.mode, plan.uid, plan.gid)) {
    case kvplatform::ModuleListRead::kRead:
      break;
    case kvplatform::ModuleListRead::kMissing:
      context.Error(prefix + nss.directory + " is not an NSS store (it has no " + kvplatform::kModuleListName +
                    "). NSS's own tool makes one:\n  certutil -N -d " + ShellWord("sql:" + nss.directory));
      return false;
    case kvplatform::ModuleListRead::kNotAFile:
      context.Error(prefix + plan.listPath + " is not a regular file of at most " +
                    std::to_string(kvplatform::kMaxModuleList / 1024) + " KiB.");
      return false;
    case kvplatform::ModuleListRead::kFailed:
      context.Error(prefix + "unable to read " + plan.listPath + ".");
      return false;
  }
  for (const kvplatform::ModuleEntry& entry : kvplatform::ParseModuleList(text)) {
    plan.listed = plan.listed || entry.library == library;
  }
  if (!plan.listed) plan.newText = kvplatform::AppendTrustModuleEntry(text, library, nss.module.bundle);
  return true;
}

// Adds the trust module to the store's list once the system trusts the
// root. The list is read again, so that a change made since the check is
// kept.
CommandOutcome FinishNss(const AppContext& context, const NssTarget& nss, const std::string& rootCertPath) {
  NssPlan plan;
  const std::string prefix = "The system trusts the root certificate, but the NSS store was not changed: ";
  if (!PlanNss(context, nss, prefix, plan)) return CommandOutcome::kFailed;
  if (plan.listed) {
    context.ui.WriteOutputLine(plan.listPath + " already lists the system trust module " + nss.module.library +
                               "; it was left as it is.");
  } else {
    std::string problem;
    if (!kvplatform::ReplaceModuleList(nss.directory, plan.newText, plan.mode, plan.uid, plan.gid, problem)) {
      context.Error(prefix + "unable to write " + plan.listPath + " (" + problem +
                    "). Run this command again to finish.");
      return CommandOutcome::kFailed;
    }
    context.ui.WriteOutputLine("Added the system trust module " + nss.module.library + " to " + plan.listPath +
                               ".");
  }
  context.ui.ShowMessage("Programs that use the NSS store " + nss.directory + " trust the root " + rootCertPath +
                         " through the system's trusted certificates once they open the store again.");
  return CommandOutcome::kSucceeded;
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

// Writes the anchor for the modern root |der| and refreshes the store.
CommandOutcome InstallAnchor(const AppContext& context, kvplatform::SystemTrustStore& store,
                             const std::string& rootCertPath, const CertBuffer& der) {
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

// Removes the anchor of |rootCertPath| and refreshes the store.
CommandOutcome RemoveAnchor(const AppContext& context, kvplatform::SystemTrustStore& store,
                            const std::string& rootCertPath) {
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
                         const std::string& rootCertPath, const NssTarget& nss) {
  CertBuffer der;
  if (!ReadModernRoot(context, rootCertPath, der)) return CommandOutcome::kFailed;
  if (!nss.directory.empty()) {
    NssPlan plan;
    if (!PlanNss(context, nss, "Nothing was changed: ", plan)) return CommandOutcome::kFailed;
  }
  const CommandOutcome outcome = InstallAnchor(context, store, rootCertPath, der);
  if (outcome != CommandOutcome::kSucceeded || nss.directory.empty()) return outcome;
  return FinishNss(context, nss, rootCertPath);
}

CommandOutcome UntrustRoot(const AppContext& context, kvplatform::SystemTrustStore& store,
                           const std::string& rootCertPath, const NssTarget& nss) {
  const CommandOutcome outcome = RemoveAnchor(context, store, rootCertPath);
  if (outcome != CommandOutcome::kSucceeded || nss.directory.empty()) return outcome;
  // The module list stays: it serves every root trusted through the system.
  const std::string listPath = nss.directory + "/" + kvplatform::kModuleListName;
  std::string text;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  bool listed = false;
  if (kvplatform::ReadModuleList(nss.directory, text, mode, uid, gid) == kvplatform::ModuleListRead::kRead) {
    for (const kvplatform::ModuleEntry& entry : kvplatform::ParseModuleList(text)) {
      listed = listed || entry.library == nss.module.library;
    }
  }
  context.ui.WriteOutputLine(listed ? listPath + " was left as it is: the NSS store follows the system's trusted "
                                                 "certificates through the system trust module."
                                    : listPath + " was left as it is: it does not list the system trust module " +
                                          nss.module.library + ".");
  return CommandOutcome::kSucceeded;
}

}  // namespace kvapp
