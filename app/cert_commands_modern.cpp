// The certificate commands of the modern profile: a root made with it, server
// certificates under such a root, and the further checks of its verify. The
// classic commands in cert_commands.cpp stay as they are; these run beside
// them when the root (new or current) is of the modern profile.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "app/cert_commands.h"
#include "app/issue_record.h"
#include "app/key_files.h"
#include "app/utf8_text.h"
#include "cryptokit/qmemory.h"
#include "platform/clock.h"

namespace kvapp {
namespace {

// A key buffer, wiped whatever way it goes out of scope.
struct KeyBuffer {
  unsigned char data[kKeyBufferSize];
  int length = kKeyBufferSize;
  ~KeyBuffer() { QMem_Wipe(data, sizeof data); }
};

// A buffer handed out by the services, wiped and released on every exit.
struct ServiceBuffer {
  unsigned char* data = nullptr;
  int length = 0;
  bool request = false;
  ~ServiceBuffer() {
    if (data == nullptr) return;
    QMem_Wipe(data, static_cast<size_t>(std::max(length, 0)));
    if (request) {
      vKVCertReqFreeReq(data);
    } else {
      vKVCertFreeCert(data);
    }
  }
};

// The smallest key a server certificate of the modern profile is issued for.
constexpr int kMinModernModulusBytes = 256;

// "2026-12-08 22:40:44 UTC"
std::string UtcText(int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char text[40] = "?";
  if (::gmtime_r(&t, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

}  // namespace

int CertFileProfile(const std::string& certPath) {
  ServiceBuffer der;
  if (errKVCertReadFromFile(certPath.c_str(), &der.length, &der.data) != 0) return kProfileClassic;
  return iKVProfileOfCert(der.length, der.data) == KV_PROFILE_MODERN ? kProfileModern : kProfileClassic;
}

int CertCommands::CheckProfileChoices(const CertDetailsDialog& details, int profile, bool newRoot) {
  if (profile != kProfileModern) {
    if (newRoot && details.keyBits != 0) {
      context_.Error(2045);
      return -1;
    }
    if (!newRoot && (details.keyBits != 0 || details.days != 0 || !details.furtherNames.empty())) {
      context_.Error(2044);
      return -1;
    }
    return 0;
  }
  if (newRoot) {
    if (!ValidModernKeyBits(details.keyBits)) {
      context_.Error(2043);
      return -1;
    }
    // A root's validity is fixed and it names no servers.
    if (details.days != 0 || !details.furtherNames.empty()) {
      context_.Error(2044);
      return -1;
    }
    return 0;
  }
  return details.CheckServerChoices();
}

int CertCommands::CreateModernRootCertAndKeys(CertNameFields fields, const std::string& certPath,
                                              const std::string& keyPath, const std::string& password, int keyBits) {
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
  if (GenerateModernKeyFile(context_, keyBits == 0 ? 2048 : keyBits, publicKey.data, &publicKey.length,
                            privateKey.data, &privateKey.length, keyPath, password) != 0) {
    context_.ui.SetBusyPointer(false);
    return -1;
  }
  ServiceBuffer request{nullptr, 0, true}, certificate;
  int rc = errKVGenModernCertReq(privateKey.length, privateKey.data, publicKey.length, publicKey.data, fields,
                                 &request.data, &request.length);
  if (rc != 0) {
    context_.ui.SetBusyPointer(false);
    context_.Error(FormatNumber(LoadString(2008), rc));
    return -1;
  }
  KVModernIssue issue{KV_MODERN_ROOT_DAYS, 1, nullptr, 0, nullptr, 0};
  rc = errKVGenModernCert(certPath.c_str(), privateKey.length, privateKey.data, fields, request.length, request.data,
                          &issue, &certificate.length, &certificate.data);
  context_.ui.SetBusyPointer(false);
  if (rc != 0) {
    context_.Error(FormatNumber(LoadString(2009), rc));
    return -1;
  }
  return 0;
}

int CertCommands::CreateModernServerCertAndKeys(CertNameFields subject, const CertDetailsDialog& details,
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
  // The certificate file is checked before the key is made, so that a
  // refused certificate leaves no new key file behind.
  if (context_.FileExists(details.certFile)) {
    context_.Error(FormatText("Certificate File with Name <%s> already exists \n\n", details.certFile));
    return -1;
  }
  if (context_.FileExists(details.keyFile)) {
    context_.Error(FormatText("Key File <%s> already exists \n\n", details.keyFile));
    return -1;
  }
  context_.ui.SetBusyPointer(true);
  KeyBuffer publicKey, privateKey;
  if (GenerateModernKeyFile(context_, details.keyBits == 0 ? 2048 : details.keyBits, publicKey.data,
                            &publicKey.length, privateKey.data, &privateKey.length, details.keyFile,
                            details.password) != 0) {
    context_.ui.SetBusyPointer(false);
    context_.Error(FormatText("The Key Generation failed for file <%s> \n\n", details.keyFile));
    return -1;
  }
  int rc = IssueModernCertForKeyFile(subject, details, details.keyFile, rootCertPath, rootKeyPath, rootPassword);
  context_.ui.SetBusyPointer(false);
  if (rc != 0 && rc != kIssuedNotRecorded) {
    // The key file made for a certificate that could not be issued goes.
    ::unlink(details.keyFile.c_str());
    context_.Error(FormatText("The Cert Generation failed for file <%s> \n\n", details.keyFile));
  }
  return rc;
}

int CertCommands::IssueModernCertForKeyFile(CertNameFields subject, const CertDetailsDialog& details,
                                            const std::string& keyPath, const std::string& rootCertPath,
                                            const std::string& rootKeyPath, const std::string& rootPassword) {
  const std::string& certPath = details.certFile;
  if (!context_.FileExists(keyPath)) {
    context_.Error(FormatText("\nThe Key File <%s> does not exist \n\n", keyPath));
    return -1;
  }
  if (context_.FileExists(certPath)) {
    context_.Error(FormatText("Certificate File with Name <%s> already exists \n\n", certPath));
    return -1;
  }
  KeyBuffer serverPrivate, serverPublic, rootPrivate;
  int rc = errKVKeyFileGetPrivateKeyEx(keyPath.c_str(), serverPrivate.data, &serverPrivate.length,
                                       details.password.c_str());
  if (rc != 0) {
    context_.Error("\nIncorrect key Password.\n");
    return rc;
  }
  rc = errKVKeyFileGetPublicKey(keyPath.c_str(), serverPublic.data, &serverPublic.length);
  if (rc != 0) {
    context_.Error(FormatNumber("\nInternal error (%d) reading public key. \n\n", rc));
    return rc;
  }
  int modulusLength = 0;
  if (errKVRSADERKeyGetModulus(serverPublic.length, serverPublic.data, &modulusLength, nullptr) != 0 ||
      modulusLength < kMinModernModulusBytes) {
    context_.Error(FormatText(LoadString(2051), keyPath));
    return -1;
  }
  rc = errKVKeyFileGetPrivateKeyEx(rootKeyPath.c_str(), rootPrivate.data, &rootPrivate.length, rootPassword.c_str());
  if (rc != 0) {
    context_.Error("\nInternal error reading root private key.\n");
    context_.Error("\nMay be an Incorrect Password, try again!!!\n");
    return rc;
  }
  ServiceBuffer request{nullptr, 0, true}, root, certificate;
  rc = errKVGenModernCertReq(serverPrivate.length, serverPrivate.data, serverPublic.length, serverPublic.data,
                             subject, &request.data, &request.length);
  if (rc != 0) {
    context_.Error(FormatNumber("\nGenerate Request failed with error <%d> \n", rc));
    return -1;
  }
  CertNameFields issuer;
  if (ReadCertNameFields(rootCertPath, issuer) != 0) return -1;
  if ((rc = errKVCertReadFromFile(rootCertPath.c_str(), &root.length, &root.data)) != 0) {
    context_.ui.WriteOutputLine(FormatNumber("Internal error (%d) reading certificate.", rc));
    return rc;
  }
  std::vector<const char*> names{details.hostName.c_str()};
  for (const std::string& name : details.furtherNames) names.push_back(name.c_str());
  KVModernIssue issue{details.days == 0 ? KV_MODERN_DEFAULT_DAYS : details.days, 0, names.data(),
                      static_cast<int>(names.size()), root.data, root.length};
  // Made in memory, written and recorded by IssueAndRecord: a random
  // serial number the register holds already is refused, not retried.
  const IssueOutcome outcome =
      IssueAndRecord(context_, rootCertPath, certPath, "modern", false, [&](std::vector<unsigned char>& der) {
        if (certificate.data != nullptr) {
          vKVCertFreeCert(certificate.data);
          certificate.data = nullptr;
        }
        const int made = errKVGenModernCert(nullptr, rootPrivate.length, rootPrivate.data, issuer, request.length,
                                            request.data, &issue, &certificate.length, &certificate.data);
        if (made != 0) {
          context_.Error(FormatNumber("Generate Certificate failed with error <%d> \n", made));
          return false;
        }
        der.assign(certificate.data, certificate.data + certificate.length);
        return true;
      });
  QMem_Wipe(&issuer, sizeof issuer);
  if (outcome == IssueOutcome::kFileNotWritten) {
    // As when the services wrote the file themselves and could not.
    context_.Error(FormatNumber("Generate Certificate failed with error <%d> \n", -1));
  }
  if (outcome == IssueOutcome::kFailed || outcome == IssueOutcome::kFileNotWritten) return -1;
  return outcome == IssueOutcome::kRecorded ? 0 : kIssuedNotRecorded;
}

CommandOutcome CertCommands::CheckModernCertificate(const std::string& certPath, const std::string& rootCertPath) {
  ServiceBuffer certificate, root;
  unsigned findings = 0;
  int64_t validity[2] = {0, 0};
  if (errKVCertReadFromFile(certPath.c_str(), &certificate.length, &certificate.data) != 0 ||
      errKVCertReadFromFile(rootCertPath.c_str(), &root.length, &root.data) != 0 ||
      errKVModernCheck(root.length, root.data, certificate.length, certificate.data, kvplatform::CalendarSeconds(),
                       &findings, validity) != 0) {
    context_.Error(2032);
    return CommandOutcome::kInvalid;
  }
  if ((findings & KV_CHECK_NOT_YET_VALID) != 0) context_.Error(FormatText(LoadString(2046), UtcText(validity[0])));
  if ((findings & KV_CHECK_EXPIRED) != 0) context_.Error(FormatText(LoadString(2047), UtcText(validity[1])));
  if ((findings & KV_CHECK_ROOT_NO_CERT_SIGN) != 0) context_.Error(2048);
  if ((findings & KV_CHECK_AKI_MISMATCH) != 0) context_.Error(2049);
  return findings == 0 ? CommandOutcome::kSucceeded : CommandOutcome::kInvalid;
}

}  // namespace kvapp
