#include "app/cert_commands.h"

#include <algorithm>
#include <cstring>

#include "app/cert_details_dialog.h"
#include "app/cert_names.h"
#include "app/issue_record.h"
#include "app/key_files.h"
#include "app/root_register.h"
#include "app/utf8_text.h"
#include "certkit/certkit.h"
#include "cryptokit/qmemory.h"

namespace kvapp {
namespace {

// The request object handle of the certificate toolkit.
using RequestObject = C_CERT_REQUEST_OBJ;

// What the creating commands hand out and the caller releases: the request
// and certificate encodings (wiped first) and the two objects.
struct IssueResults {
  unsigned char* request = nullptr;
  int requestLength = 0;
  RequestObject requestObject = nullptr;
  C_CERT_OBJ certObject = nullptr;
  unsigned char* certificate = nullptr;
  int certificateLength = 0;

  ~IssueResults() {
    if (request != nullptr) {
      QMem_Wipe(request, static_cast<size_t>(std::max(requestLength, 0)));
      vKVCertReqFreeReq(request);
    }
    if (certificate != nullptr) {
      QMem_Wipe(certificate, static_cast<size_t>(std::max(certificateLength, 0)));
      vKVCertFreeCert(certificate);
    }
    C_DestroyCertRequestObject(&requestObject);
    C_DestroyCertObject(&certObject);
  }
};

// A key buffer of the commands, wiped whatever way it goes out of scope.
struct KeyBuffer {
  unsigned char data[kKeyBufferSize];
  int length = kKeyBufferSize;
  ~KeyBuffer() { QMem_Wipe(data, sizeof data); }
};

// The text after |label| in |text| up to the next "," (or the end); false
// when |label| does not occur.
bool NameItem(const std::string& text, const std::string& label, std::string& value) {
  size_t pos = text.find(label);
  if (pos == std::string::npos) return false;
  pos += label.size();
  size_t end = text.find(',', pos);
  value = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  return true;
}

// The verdict of VerifyCertFile for a signature or key algorithm that is
// read but not verified with here (ECDSA, EdDSA, RSASSA-PSS, DSA, ...).
constexpr int kVerifyUnsupported = 2;
constexpr char kUnsupportedAlgorithmText[] =
    "The certificate's signature or key algorithm is not supported: it cannot be verified.";

// True when the DER SubjectPublicKeyInfo |spki| holds an RSA key.
bool IsRsaKey(const unsigned char* spki, int length) {
  static const unsigned char kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  C_PUBLIC_KEY_INFO info;
  if (length <= 0 || C_ReadPublicKeyInfo(spki, static_cast<uint32_t>(length), &info) != 0) return false;
  return info.algorithm.len == sizeof kRsaEncryption &&
         std::memcmp(info.algorithm.data, kRsaEncryption, sizeof kRsaEncryption) == 0;
}

// A certificate encoding from errKVCertReadFromFile, wiped and released when
// it goes out of scope.
struct CertEncoding {
  unsigned char* data = nullptr;
  int length = 0;
  ~CertEncoding() {
    if (data == nullptr) return;
    QMem_Wipe(data, static_cast<size_t>(std::max(length, 0)));
    vKVCertFreeCert(data);
  }
};

}  // namespace

CertNameFields MakeCertNameFields(const std::string& country, const std::string& organization,
                                  const std::string& commonName) {
  CertNameFields fields;
  std::memset(&fields, 0, sizeof fields);
  CopyTextCut(fields.country, sizeof fields.country, country);
  CopyTextCut(fields.organization, sizeof fields.organization, organization);
  CopyTextCut(fields.commonName, sizeof fields.commonName, commonName);
  return fields;
}

CertCommands::CertCommands(MainDialog& mainDialog) : main_(mainDialog), context_(mainDialog.context()) {}

std::unique_ptr<MainCommands> MakeCertCommands(MainDialog& mainDialog) {
  return std::make_unique<CertCommands>(mainDialog);
}

// ---------------------------------------------------------------------------
// Root certificate commands.

CommandOutcome CertCommands::NewRootCertificateAndKeys() {
  CertDetailsDialog details(main_, kModeNewRoot, WithTrailingSlash(main_.currentDirectory()), LoadString(1005));
  if (!context_.ui.RunCertDetailsDialog(details)) return CommandOutcome::kCancelled;
  if (CheckProfileChoices(details, details.profile, true) != 0) return CommandOutcome::kFailed;
  CertNameFields fields = MakeCertNameFields(details.country, details.organization, details.hostName);
  const std::string certPath = details.certFile;
  const std::string keyPath = details.keyFile;
  std::string password = details.password;

  context_.ui.ShowProgress(LoadString(1011));
  int rc = details.profile == kProfileModern
               ? CreateModernRootCertAndKeys(fields, certPath, keyPath, password, details.keyBits)
               : CreateRootCertAndKeys(fields, certPath, keyPath, password);
  context_.ui.HideProgress();
  QMem_Wipe(&fields, sizeof fields);
  if (rc != 0) {
    context_.Error(2010);
  } else {
    // The new root's register is made with it; a failure is reported and
    // the root stays (its register is made on its first use).
    RootRegister reg(context_);
    reg.Open(certPath);
    main_.SetRememberedNames(details.organization, details.country);
    main_.SaveRootSetting(certPath);
    main_.SetCurrentRoot(certPath, keyPath, password);
    main_.FillFileList();
    context_.Message(2031);
  }
  WipeString(password);
  return rc != 0 ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
}

int CertCommands::CreateRootCertAndKeys(CertNameFields fields, const std::string& certPath,
                                        const std::string& keyPath, const std::string& password) {
  if (context_.FileExists(keyPath)) {
    context_.Error(FormatText(LoadString(2006), keyPath));
    return -1;
  }
  if (context_.FileExists(certPath)) {
    context_.Error(FormatText(LoadString(2007), certPath));
    return -1;
  }
  context_.ui.SetBusyPointer(true);
  KeyBuffer publicKey, privateKey;
  if (GenerateKeyFile(context_, 256, publicKey.data, &publicKey.length, privateKey.data, &privateKey.length, keyPath,
                      password) != 0) {
    context_.ui.SetBusyPointer(false);
    return -1;
  }
  IssueResults out;
  int rc = errKVGenCertReq(privateKey.length, privateKey.data, publicKey.length, publicKey.data, fields, &out.request,
                           &out.requestLength, &out.requestObject, 0);
  if (rc != 0) {
    context_.ui.SetBusyPointer(false);
    context_.Error(FormatNumber(LoadString(2008), rc));
    return -1;
  }
  // Self-issued: the same names as issuer, signed by the new private key.
  rc = errKVGenCert(certPath.c_str(), privateKey.length, privateKey.data, fields, out.requestLength, out.request,
                    &out.certObject, &out.certificateLength, &out.certificate, 0);
  context_.ui.SetBusyPointer(false);
  if (rc != 0) {
    context_.Error(FormatNumber(LoadString(2009), rc));
    return -1;
  }
  return 0;
}

CommandOutcome CertCommands::SelectRootCertificate() {
  std::string path;
  if (!context_.ui.ChooseFileToOpen(LoadString(1003), LoadString(1006), path)) return CommandOutcome::kCancelled;
  return SelectRoot(path) == 1 ? CommandOutcome::kSucceeded : CommandOutcome::kFailed;
}

int CertCommands::SelectRoot(const std::string& certPath) {
  if (!context_.files.Find(certPath)) {
    context_.Error(FormatText(LoadString(2025), certPath));
    return 0;
  }
  const std::string keyPath = KeyFileFor(context_, certPath);
  if (!context_.files.Find(keyPath)) {
    context_.Error(FormatText(LoadString(2000), keyPath));
    return 0;
  }
  int valid = 0;
  if (VerifyCertFile(certPath, certPath, valid) != 0 || valid != 1) {
    context_.Error(FormatText(LoadString(2038), certPath));
    return 0;
  }
  // The prompt takes as many characters as the key file's form allows.
  const bool modernKey = IsModernKeyFile(keyPath);
  const size_t maxChars = modernKey ? kModernPasswordMaxChars : kRootPasswordMaxChars;
  std::string password;
  for (;;) {
    if (!context_.ui.AskRootPasswordUpTo(maxChars, password)) {
      WipeString(password);
      return 0;
    }
    // A password longer than the prompt takes is refused, never cut: a cut
    // one could unlock a key whose password is only its beginning.
    if (Utf8Length(password) > maxChars) {
      context_.Error(modernKey ? 2060 : 2013);
      WipeString(password);
      continue;
    }
    if (CheckRootKeyPassword(context_, keyPath, password) == 0) break;
    context_.Error(2024);
    WipeString(password);
  }
  CertContentsFields contents;
  if (ReadCertContents(context_, certPath, contents) == 0) {
    // An item the subject lacks leaves its remembered value as it was.
    std::string organization, country;
    NameItem(contents.subject, "Country = ", country);
    NameItem(contents.subject, "Organization = ", organization);
    main_.SetRememberedNames(organization, country);
  }
  main_.SaveRootSetting(certPath);
  main_.SetCurrentRoot(certPath, keyPath, password);
  WipeString(password);
  OpenRootRegister(certPath);
  return 1;
}

void CertCommands::OpenRootRegister(const std::string& certPath) {
  // The first use of a root that has no register yet makes one; a register
  // that cannot be used is named, and the root is still selected.
  RootRegister reg(context_);
  const int rc = reg.OpenQuietly(certPath);
  if (rc != 0) {
    context_.ui.WriteOutputLine(RegisterErrorText(rc, reg.databasePath()));
    return;
  }
  if (reg.created()) {
    context_.ui.WriteOutputLine("A new register " + reg.databasePath() +
                                " was made for this root; certificates it issued before can be recorded with "
                                "register-existing.");
  }
  OfferPendingRecords(context_, reg.get(), certPath, reg.databasePath());
}

int CertCommands::VerifyCertFile(const std::string& certPath, const std::string& rootCertPath, int& valid) {
  if (!context_.FileExists(certPath)) {
    context_.Error(FormatText("Certificate File <%s> Does not Exist \n\n", certPath));
    return -1;
  }
  if (!context_.FileExists(rootCertPath)) {
    context_.Error(FormatText("Root Certificate File <%s> Does not Exist \n\n", rootCertPath));
    return -1;
  }
  CertEncoding certificate, root;
  int rc = errKVCertReadFromFile(certPath.c_str(), &certificate.length, &certificate.data);
  if (rc != 0) {
    context_.Error("Internal error reading certificate from file.\n\n");
    return rc;
  }
  rc = errKVCertReadFromFile(rootCertPath.c_str(), &root.length, &root.data);
  if (rc != 0) {
    context_.Error("Internal error reading root certificate from file.\n\n");
    return rc;
  }
  KeyBuffer rootKey;
  if (errKVCertX509GetPublicKey(root.length, root.data, &rootKey.length, rootKey.data) != 0) {
    context_.Error("\nInvalid Format for Root Certificate.... \n\n");
    return 1;
  }
  // A root whose key is not RSA was read, but nothing here verifies with it.
  if (!IsRsaKey(rootKey.data, rootKey.length)) {
    valid = kVerifyUnsupported;
    return 0;
  }
  Q_KEY_OBJ key = nullptr;
  if (iKeyFromBER(rootKey.data, rootKey.length, &key, KV_KEYTYPE_PUBLIC_SPKI) != 0) {
    if (key != nullptr) Q_DestroyKeyObject(&key);
    context_.Error("Error Converting Public Key to BER form \n\n");
    return 1;
  }
  rc = iVerifyCertificate(certificate.data, key, certificate.length);
  valid = rc == 0 ? 1 : rc == C_ERR_ALG_UNSUPPORTED ? kVerifyUnsupported : 0;
  Q_DestroyKeyObject(&key);
  return 0;
}

CommandOutcome CertCommands::ViewRootCertificate() { return ViewCertificateFile(main_.rootCertPath()); }

CommandOutcome CertCommands::ViewCertificateFile(const std::string& certPath) {
  CertContentsFields fields;
  if (ReadCertContents(context_, certPath, fields) != 0) {
    context_.Error(2032);
    return CommandOutcome::kFailed;
  }
  context_.ui.ShowCertContents(fields);
  return CommandOutcome::kSucceeded;
}

// ---------------------------------------------------------------------------
// Server certificate commands.

CommandOutcome CertCommands::NewServerCertificateAndKeys() {
  CertDetailsDialog details(main_, kModeNewServer, WithTrailingSlash(main_.currentDirectory()), "");
  details.organization = main_.rememberedOrganization();
  details.country = main_.rememberedCountry();
  // The dialog offers the choices of the root's profile.
  details.profile = CertFileProfile(main_.rootCertPath());
  if (!context_.ui.RunCertDetailsDialog(details)) return CommandOutcome::kCancelled;
  const int profile = CertFileProfile(main_.rootCertPath());
  if (CheckProfileChoices(details, profile, false) != 0) return CommandOutcome::kFailed;
  CertNameFields subject = MakeCertNameFields(details.country, details.organization, details.hostName);

  context_.ui.ShowProgress(LoadString(1012));
  int rc = profile == kProfileModern
               ? CreateModernServerCertAndKeys(subject, details, main_.rootCertPath(), main_.rootKeyPath(),
                                               main_.rootKeyPassword())
               : CreateServerCertAndKeys(subject, details.certFile, details.keyFile, details.password,
                                         main_.rootCertPath(), main_.rootKeyPath(), main_.rootKeyPassword());
  context_.ui.HideProgress();
  QMem_Wipe(&subject, sizeof subject);
  if (rc == kIssuedNotRecorded) main_.FillFileList();
  if (rc != 0) {
    if (rc != kIssuedNotRecorded) context_.Error(2033);
    return CommandOutcome::kFailed;
  }
  main_.SetRememberedNames(details.organization, details.country);
  main_.FillFileList();
  context_.Message(2034);
  return CommandOutcome::kSucceeded;
}

int CertCommands::CreateServerCertAndKeys(CertNameFields subject, const std::string& certPath,
                                          const std::string& keyPath, const std::string& keyPassword,
                                          const std::string& rootCertPath, const std::string& rootKeyPath,
                                          const std::string& rootPassword) {
  if (!context_.FileExists(rootCertPath)) {
    context_.Error("Root Certificate File Does Not Exist");
    return -1;
  }
  if (!context_.FileExists(rootKeyPath)) {
    context_.ui.WriteOutputLine("Root Key File Does Not Exist");
    return -1;
  }
  std::string passwordCopy = keyPassword;
  context_.ui.SetBusyPointer(true);
  if (CreateServerKeyFile(context_, keyPath, passwordCopy) != 0) {
    context_.ui.SetBusyPointer(false);
    context_.Error(FormatText("The Key Generation failed for file <%s> \n\n", keyPath));
    WipeString(passwordCopy);
    return -1;
  }
  int rc = IssueCertForKeyFile(subject, keyPassword, keyPath, certPath, rootCertPath, rootKeyPath, rootPassword);
  context_.ui.SetBusyPointer(false);
  if (rc != 0 && rc != kIssuedNotRecorded) {
    context_.Error(FormatText("The Cert Generation failed for file <%s> \n\n", keyPath));
  }
  WipeString(passwordCopy);
  return rc;
}

int CertCommands::IssueCertForKeyFile(CertNameFields subject, const std::string& keyPassword,
                                      const std::string& keyPath, const std::string& certPath,
                                      const std::string& rootCertPath, const std::string& rootKeyPath,
                                      const std::string& rootPassword) {
  if (!context_.FileExists(keyPath)) {
    context_.Error(FormatText("\nThe Key File <%s> does not exist \n\n", keyPath));
    return -1;
  }
  if (!context_.FileExists(rootCertPath)) {
    context_.Error(FormatText("\nThe Root Cert File <%s> does not exist \n\n", rootCertPath));
    return -1;
  }
  if (!context_.FileExists(rootKeyPath)) {
    context_.Error(FormatText("\nThe Root Key File <%s> does not exist \n\n", rootKeyPath));
    return -1;
  }
  KeyBuffer serverPrivate, serverPublic, rootPrivate;
  int rc = errKVKeyFileGetPrivateKeyEx(keyPath.c_str(), serverPrivate.data, &serverPrivate.length, keyPassword.c_str());
  if (rc != 0) {
    context_.Error("\nIncorrect key Password.\n");
    return rc;
  }
  rc = errKVKeyFileGetPublicKey(keyPath.c_str(), serverPublic.data, &serverPublic.length);
  if (rc != 0) {
    context_.Error(FormatNumber("\nInternal error (%d) reading public key. \n\n", rc));
    return rc;
  }
  rc = errKVKeyFileGetPrivateKeyEx(rootKeyPath.c_str(), rootPrivate.data, &rootPrivate.length, rootPassword.c_str());
  if (rc != 0) {
    context_.Error("\nInternal error reading root private key.\n");
    context_.Error("\nMay be an Incorrect Password, try again!!!\n");
    return rc;
  }
  IssueResults out;
  rc = errKVGenCertReq(serverPrivate.length, serverPrivate.data, serverPublic.length, serverPublic.data, subject,
                       &out.request, &out.requestLength, &out.requestObject, 0);
  if (rc != 0) {
    context_.Error(FormatNumber("\nGenerate Request failed with error <%d> \n", rc));
    return -1;
  }
  if (context_.FileExists(certPath)) {
    context_.Error(FormatText("Certificate File with Name <%s> already exists \n\n", certPath));
    return -1;
  }
  CertNameFields issuer;
  if (ReadCertNameFields(rootCertPath, issuer) != 0) return -1;
  // Made in memory and written only once its serial number is known to be
  // new under the root; a serial number taken already (the same key in the
  // same second) is made again in the next second.
  const IssueOutcome outcome = IssueAndRecord(
      context_, rootCertPath, certPath, "classic", true, [&](std::vector<unsigned char>& der) {
        C_DestroyCertObject(&out.certObject);
        if (out.certificate != nullptr) {
          QMem_Wipe(out.certificate, static_cast<size_t>(std::max(out.certificateLength, 0)));
          vKVCertFreeCert(out.certificate);
          out.certificate = nullptr;
        }
        const int made = errKVGenCert(nullptr, rootPrivate.length, rootPrivate.data, issuer, out.requestLength,
                                      out.request, &out.certObject, &out.certificateLength, &out.certificate, 0);
        if (made != 0) {
          context_.Error(FormatNumber("Generate Certificate failed with error <%d> \n", made));
          return false;
        }
        der.assign(out.certificate, out.certificate + out.certificateLength);
        return true;
      });
  if (outcome == IssueOutcome::kFileNotWritten) {
    // As when the services wrote the file themselves and could not.
    context_.Error(FormatNumber("Generate Certificate failed with error <%d> \n", -1));
  }
  if (outcome == IssueOutcome::kFailed || outcome == IssueOutcome::kFileNotWritten) return -1;
  return outcome == IssueOutcome::kRecorded ? 0 : kIssuedNotRecorded;
}

int CertCommands::ReadCertNameFields(const std::string& certPath, CertNameFields& fields) {
  std::memset(&fields, 0, sizeof fields);
  CertEncoding encoding;
  int rc = errKVCertReadFromFile(certPath.c_str(), &encoding.length, &encoding.data);
  if (rc != 0) {
    context_.ui.WriteOutputLine(FormatNumber("Internal error (%d) reading certificate.", rc));
    return rc;
  }
  C_CERT_OBJ certificate = nullptr;
  rc = C_CreateCertObject(&certificate, nullptr);
  if (rc != 0) {
    context_.ui.WriteOutputLine(FormatNumber("The CreateCertObject has failed %X ", rc));
    return -1;
  }
  struct Destroy {
    C_CERT_OBJ* object;
    ~Destroy() { C_DestroyCertObject(object); }
  } destroy{&certificate};
  rc = encoding.length > 0 ? C_SetCertBER(certificate, encoding.data, static_cast<uint32_t>(encoding.length))
                           : C_ERR_INPUT_DATA;
  if (rc != 0) {
    context_.ui.WriteOutputLine(FormatNumber("The SetCertBER has failed %X ", rc));
    return -1;
  }
  C_CERT_FIELDS record;
  std::memset(&record, 0, sizeof record);
  rc = C_GetCertFields(certificate, &record);
  if (rc != 0) {
    context_.ui.WriteOutputLine("C_GetCertFields has failed ");
    return rc;
  }
  uint32_t count = 0;
  rc = C_GetNameAVACount(record.subject, &count);
  if (rc != 0) {
    context_.ui.WriteOutputLine("C_GetNameAVACount failed");
    return rc;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* oid = nullptr;
    const unsigned char* value = nullptr;
    uint32_t oidLength = 0, valueTag = 0, valueLength = 0, newRDN = 0;
    if (C_GetNameAVA(record.subject, i, &oid, &oidLength, &valueTag, &value, &valueLength, &newRDN) != 0) {
      context_.ui.WriteOutputLine("Get AVA Value failed");
      break;
    }
    const char* shortName = AttributeShortName(oid, oidLength);
    if (shortName == nullptr || value == nullptr) continue;
    // Values longer than the record's arrays are cut to fit with their
    // terminator.
    char* target = nullptr;
    size_t capacity = 0;
    if (std::strcmp(shortName, "C") == 0) {
      target = fields.country;
      capacity = sizeof fields.country;
    } else if (std::strcmp(shortName, "O") == 0) {
      target = fields.organization;
      capacity = sizeof fields.organization;
    } else if (std::strcmp(shortName, "CN") == 0) {
      target = fields.commonName;
      capacity = sizeof fields.commonName;
    }
    if (target == nullptr) continue;
    CopyTextCut(target, capacity, std::string_view(reinterpret_cast<const char*>(value), valueLength));
  }
  return 0;
}

CommandOutcome CertCommands::CreateServerCertificate() {
  const std::string path = main_.GetSelectedFilePath();
  if (!EndsWithNoCase(path, LoadString(1010))) {
    context_.Error(2002);
    return CommandOutcome::kFailed;
  }
  // /srv/ca/web1.key: directory /srv/ca, base /web1.
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const size_t baseStart = slash == std::string::npos ? 0 : slash;
  const std::string base = path.substr(baseStart, path.size() - 4 - baseStart);
  CertDetailsDialog details(main_, kModeCertForKey, dir, base);
  details.organization = main_.rememberedOrganization();
  details.country = main_.rememberedCountry();
  // The dialog offers the choices of the root's profile.
  details.profile = CertFileProfile(main_.rootCertPath());
  if (!context_.ui.RunCertDetailsDialog(details)) return CommandOutcome::kCancelled;
  const int profile = CertFileProfile(main_.rootCertPath());
  if (CheckProfileChoices(details, profile, false) != 0) return CommandOutcome::kFailed;
  CertNameFields subject = MakeCertNameFields(details.country, details.organization, details.hostName);

  context_.ui.ShowProgress(LoadString(1013));
  int rc = profile == kProfileModern
               ? IssueModernCertForKeyFile(subject, details, details.keyFile, main_.rootCertPath(),
                                           main_.rootKeyPath(), main_.rootKeyPassword())
               : IssueCertForKeyFile(subject, details.password, details.keyFile, details.certFile,
                                     main_.rootCertPath(), main_.rootKeyPath(), main_.rootKeyPassword());
  context_.ui.HideProgress();
  QMem_Wipe(&subject, sizeof subject);
  if (rc == kIssuedNotRecorded) main_.FillFileList();
  if (rc != 0) {
    if (rc != kIssuedNotRecorded) context_.Error(2035);
    return CommandOutcome::kFailed;
  }
  main_.FillFileList();
  context_.Message(2036);
  return CommandOutcome::kSucceeded;
}

CommandOutcome CertCommands::ViewCertificate() {
  const std::string path = main_.GetSelectedFilePath();
  if (!EndsWithNoCase(path, LoadString(1009))) {
    context_.Error(2011);
    return CommandOutcome::kFailed;
  }
  return ViewCertificateFile(path);
}

CommandOutcome CertCommands::VerifyCertificate() {
  const std::string path = main_.GetSelectedFilePath();
  if (!EndsWithNoCase(path, LoadString(1009))) {
    context_.Error(2011);
    return CommandOutcome::kFailed;
  }
  int valid = 0;
  if (VerifyCertFile(path, main_.rootCertPath(), valid) != 0) {
    context_.Error(2028);
    return CommandOutcome::kFailed;
  }
  if (valid == kVerifyUnsupported) {
    context_.Error(kUnsupportedAlgorithmText);
    return CommandOutcome::kFailed;
  }
  // Under a modern root a good signature is not the whole verdict: what a
  // TLS client would refuse is reported too.
  if (valid == 1 && CertFileProfile(main_.rootCertPath()) == kProfileModern &&
      CheckModernCertificate(path, main_.rootCertPath()) != CommandOutcome::kSucceeded) {
    context_.Message(2030);
    return CommandOutcome::kInvalid;
  }
  context_.Message(valid == 1 ? 2029 : 2030);
  return valid == 1 ? CommandOutcome::kSucceeded : CommandOutcome::kInvalid;
}

}  // namespace kvapp
