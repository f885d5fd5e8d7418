// What the register's commands need of a root certificate: its encoding,
// subject name, public key, key identifier and profile, read once.
#ifndef KVCATOOL_APP_ROOT_CERT_INFO_H
#define KVCATOOL_APP_ROOT_CERT_INFO_H

#include <string>
#include <vector>

#include "services/kvservices.h"

namespace kvapp {

struct RootCertInfo {
  std::vector<unsigned char> der;         // the certificate (PEM files decoded)
  std::vector<unsigned char> subjectDer;  // its subject Name, DER
  std::vector<unsigned char> spki;        // its SubjectPublicKeyInfo, DER
  // Its subjectKeyIdentifier, or (without one) the SHA-1 key identifier of
  // its public key; empty when neither can be had.
  std::vector<unsigned char> keyId;
  bool modern = false;  // kProfileModern (iKVProfileOfCert)
};

// Reads the certificate file |certPath| into |info|. 0, or the status of
// the service or toolkit call that failed.
int ReadRootCertInfo(const std::string& certPath, RootCertInfo& info);

// A public key object for |info|'s key; the caller destroys it with
// Q_DestroyKeyObject (also after a failure). 0 or the service's status.
int RootPublicKey(const RootCertInfo& info, Q_KEY_OBJ* key);

// "modern" or "classic": the register's profile texts.
const char* ProfileText(const RootCertInfo& info);

}  // namespace kvapp

#endif
