// The details of a certificate below the six contents fields: algorithms,
// key, fingerprints and extensions, as lines of text and as one JSON object.
#ifndef KVCATOOL_APP_CERT_INFO_H
#define KVCATOOL_APP_CERT_INFO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "certkit/certkit.h"

namespace kvapp {

// One attribute of a name: its short name (or dotted OID) and its value as
// UTF-8, not yet escaped.
struct NamePair {
  std::string type;
  std::string value;
};

// One extension: its short name (or dotted OID when it has none), dotted
// OID, criticality and what its value says, one entry a line.
struct ExtensionInfo {
  std::string name;
  std::string oid;
  bool critical = false;
  std::vector<std::string> values;
};

struct CertDetails {
  bool present = false;        // filled from a certificate
  uint32_t version = 0;        // 0, 1, 2 for X.509 v1 to v3
  std::string serialHex;       // upper-case hexadecimal, two digits a byte
  std::vector<NamePair> subject;
  std::vector<NamePair> issuer;
  int64_t notBefore = 0;       // seconds since 1970, UTC
  int64_t notAfter = 0;
  std::string signatureAlgorithm;  // name ("sha256WithRSAEncryption") or dotted OID
  std::string keyAlgorithm;        // "RSA", "EC", "Ed25519", ... or dotted OID
  uint32_t keyBits = 0;            // RSA modulus bits; 0 otherwise
  std::string curve;               // EC curve name (or dotted OID); empty otherwise
  std::string sha256;              // fingerprints of the whole DER, "AB:CD:..."
  std::string sha1;
  std::vector<ExtensionInfo> extensions;
};

// Fills |details| from a certificate object that holds a signed encoding.
// Returns 0 or the toolkit's code.
int ReadCertDetails(C_CERT_OBJ certificate, CertDetails& details);

// |length| bytes as upper-case hexadecimal, two digits a byte, with
// |separator| between bytes ("" or ":").
std::string Hex(const unsigned char* bytes, size_t length, const char* separator);
// |text| escaped for display (EscapeForDisplay), then as a JSON string with
// its quotes.
std::string JsonString(const std::string& text);

// The name of a signature algorithm OID (content octets), else its dotted form.
std::string SignatureAlgorithmName(const unsigned char* oid, uint32_t oidLength);

// |seconds| since 1970 in UTC as "2025-01-02 03:04:05 UTC"; empty when it
// cannot be converted.
std::string UtcDateText(int64_t seconds);
// |seconds| since 1970 as RFC 3339 ("2025-01-02T03:04:05Z").
std::string Rfc3339Text(int64_t seconds);

// The details as lines of text for a terminal or a dialog, values escaped
// for display (control characters and bytes that are not UTF-8 as \xHH).
std::vector<std::string> CertDetailsLines(const CertDetails& details);

// The certificate as one JSON object: version, serial (hex), subject and
// issuer as arrays of {type, value}, notBefore and notAfter in RFC 3339,
// the algorithms and key, fingerprints and an array of extensions
// {name, oid, critical, values}. Text values are escaped for display first
// (as in CertDetailsLines), then for JSON.
std::string CertDetailsJson(const CertDetails& details);

}  // namespace kvapp

#endif
