// The root and server certificate commands of the main dialog.
#ifndef KVCATOOL_APP_CERT_COMMANDS_H
#define KVCATOOL_APP_CERT_COMMANDS_H

#include <memory>
#include <string>

#include "app/cert_contents.h"
#include "app/cert_details_dialog.h"
#include "app/main_dialog.h"
#include "services/kvservices.h"

namespace kvapp {

// A zeroed name record holding |country|, |organization| and |commonName|,
// each cut to what its array holds with the terminator (2, 511, 511 bytes),
// never inside a UTF-8 character. The details dialog's limits keep the
// values well inside the arrays.
CertNameFields MakeCertNameFields(const std::string& country, const std::string& organization,
                                  const std::string& commonName);

// What the issuing routines return when the certificate file is written but
// the root's register could not record it (the user is told, naming both,
// and the next command offers to record it).
constexpr int kIssuedNotRecorded = 1;

class CertCommands : public MainCommands {
 public:
  explicit CertCommands(MainDialog& mainDialog);

  // Buttons.
  CommandOutcome NewRootCertificateAndKeys() override;
  CommandOutcome SelectRootCertificate() override;
  CommandOutcome ViewRootCertificate() override;
  CommandOutcome NewServerCertificateAndKeys() override;
  CommandOutcome CreateServerCertificate() override;
  CommandOutcome ViewCertificate() override;
  CommandOutcome VerifyCertificate() override;
  // The register (issued_commands.cpp).
  CommandOutcome IssuedCertificates() override;
  bool RootExpiryLine(std::string& line) override;

  // Routines.
  int SelectRoot(const std::string& certPath) override;
  int CreateRootCertAndKeys(CertNameFields fields, const std::string& certPath, const std::string& keyPath,
                            const std::string& password);
  int VerifyCertFile(const std::string& certPath, const std::string& rootCertPath, int& valid);
  int CreateServerCertAndKeys(CertNameFields subject, const std::string& certPath, const std::string& keyPath,
                              const std::string& keyPassword, const std::string& rootCertPath,
                              const std::string& rootKeyPath, const std::string& rootPassword);
  int IssueCertForKeyFile(CertNameFields subject, const std::string& keyPassword, const std::string& keyPath,
                          const std::string& certPath, const std::string& rootCertPath, const std::string& rootKeyPath,
                          const std::string& rootPassword);
  int ReadCertNameFields(const std::string& certPath, CertNameFields& fields);
  // Opens the register of the selected root |certPath| (making it when it
  // is not there, and saying so) and offers to record what was written and
  // not recorded; a register that cannot be used is named in the output.
  void OpenRootRegister(const std::string& certPath);

  // The modern profile (cert_commands_modern.cpp). The choices are those of
  // the details dialog (profile, key size, validity, further names).
  // Checks the details dialog's modern choices against the profile they will
  // be used under (the new root's, or the current root's for a server
  // certificate): 0, or -1 after telling the user why. Nothing is written.
  int CheckProfileChoices(const CertDetailsDialog& details, int profile, bool newRoot);
  int CreateModernRootCertAndKeys(CertNameFields fields, const std::string& certPath, const std::string& keyPath,
                                  const std::string& password, int keyBits);
  int CreateModernServerCertAndKeys(CertNameFields subject, const CertDetailsDialog& details,
                                    const std::string& rootCertPath, const std::string& rootKeyPath,
                                    const std::string& rootPassword);
  int IssueModernCertForKeyFile(CertNameFields subject, const CertDetailsDialog& details, const std::string& keyPath,
                                const std::string& rootCertPath, const std::string& rootKeyPath,
                                const std::string& rootPassword);
  // The modern verify's further checks of |certPath| under |rootCertPath|:
  // kSucceeded when a TLS client would accept it, kInvalid after saying why.
  CommandOutcome CheckModernCertificate(const std::string& certPath, const std::string& rootCertPath);
  // Shows the contents of |certPath| (kSucceeded), or message 2032 (kFailed).
  CommandOutcome ViewCertificateFile(const std::string& certPath);

 private:
  MainDialog& main_;
  AppContext& context_;
};

// The profile of the certificate file |certPath| (kProfileModern for a root
// with basicConstraints cA TRUE and a SHA-2 signature); kProfileClassic for
// any other and for a file that cannot be read.
int CertFileProfile(const std::string& certPath);

// The factory CertUtilityApp takes.
std::unique_ptr<MainCommands> MakeCertCommands(MainDialog& mainDialog);

}  // namespace kvapp

#endif
