// Handles of the toolkits' objects that the commands hold for one scope:
// each destroys its object (null is ignored) when it goes out of scope.
#ifndef KVCATOOL_APP_TOOLKIT_OBJECTS_H
#define KVCATOOL_APP_TOOLKIT_OBJECTS_H

#include "certkit/certkit.h"
#include "cryptokit/cryptokit.h"

namespace kvapp {

struct KeyObject {
  Q_KEY_OBJ key = nullptr;
  KeyObject() = default;
  KeyObject(const KeyObject&) = delete;
  KeyObject& operator=(const KeyObject&) = delete;
  ~KeyObject() {
    if (key != nullptr) Q_DestroyKeyObject(&key);
  }
};

struct RandomObject {
  Q_ALGORITHM_OBJ random = nullptr;
  RandomObject() = default;
  RandomObject(const RandomObject&) = delete;
  RandomObject& operator=(const RandomObject&) = delete;
  ~RandomObject() {
    if (random != nullptr) Q_DestroyAlgorithmObject(&random);
  }
};

struct CertObject {
  C_CERT_OBJ cert = nullptr;
  CertObject() = default;
  CertObject(const CertObject&) = delete;
  CertObject& operator=(const CertObject&) = delete;
  ~CertObject() { C_DestroyCertObject(&cert); }
};

struct CrlObject {
  C_CRL_OBJ crl = nullptr;
  CrlObject() = default;
  CrlObject(const CrlObject&) = delete;
  CrlObject& operator=(const CrlObject&) = delete;
  ~CrlObject() { C_DestroyCRLObject(&crl); }
};

}  // namespace kvapp

#endif
