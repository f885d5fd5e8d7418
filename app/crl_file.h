// CRL files as the commands read them: a file in DER or PEM ("X509 CRL"),
// its contents as text for a terminal or a dialog, and the check of its
// signature against a root certificate.
#ifndef KVCATOOL_APP_CRL_FILE_H
#define KVCATOOL_APP_CRL_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/main_dialog.h"

namespace kvapp {

// Largest CRL file read (larger ones are refused before they are read).
constexpr size_t kMaxCrlFile = 8u << 20;

// One revoked entry of a CRL.
struct CrlEntryText {
  std::string serialHex;  // upper-case hexadecimal of the serial number's magnitude
  int64_t date = 0;
  int reason = -1;  // RFC 5280 CRLReason code, -1 when the entry has none
};

// What a CRL says, its texts not yet escaped.
struct CrlContents {
  int version = 0;  // 1 or 2
  std::string issuer;
  std::string signatureAlgorithm;
  int64_t thisUpdate = 0;
  bool hasNextUpdate = false;
  int64_t nextUpdate = 0;
  std::string crlNumber;       // decimal; empty when the CRL has none
  std::string authorityKeyId;  // upper-case hexadecimal; empty when absent
  std::vector<CrlEntryText> entries;
};

// Reads the CRL file |path| into |der|: DER as it is, or the first
// "X509 CRL" block of a PEM file. 0, or -1 when it cannot be read, is too
// large or its PEM block is broken.
int ReadCrlFile(const std::string& path, std::vector<unsigned char>& der);

// True when |path| names a CRL file: by its extension (".crl", any case), or
// a PEM file that starts with "-----BEGIN X509 CRL-----".
bool IsCrlFileName(const std::string& path);

// Decodes |der| into |contents|. 0 or the toolkit's status.
int ReadCrlContents(const std::vector<unsigned char>& der, CrlContents& contents);

// The contents as lines ("Issuer: ...", "This update: ...", ..., one line a
// revoked entry), every value escaped for display.
std::vector<std::string> CrlContentsLines(const CrlContents& contents);

// Whether the signature of the CRL |der| verifies with the key of the root
// certificate |rootCertPath|: 1 it does, 0 it does not (or the CRL names
// another issuer). -1 when the root cannot be read.
int CheckCrlSignature(const std::vector<unsigned char>& der, const std::string& rootCertPath);

// Shows the contents of the CRL file |crlPath| line by line: kSucceeded,
// or kFailed after a message naming the file.
CommandOutcome ViewCrlFile(AppContext& context, const std::string& crlPath);
// Says whether the CRL file |crlPath| is signed by the root |rootCertPath|:
// kSucceeded ("CRL is valid."), kInvalid ("CRL is invalid." with the reason)
// or kFailed when a file cannot be read.
CommandOutcome VerifyCrlFile(AppContext& context, const std::string& crlPath, const std::string& rootCertPath);

}  // namespace kvapp

#endif
