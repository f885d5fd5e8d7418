// Certificate objects inside the toolkit: their layout and the certificate
// template that decoding, normalisation and encoding share.
#ifndef KVCATOOL_CERTKIT_CERT_CERT_H
#define KVCATOOL_CERTKIT_CERT_CERT_H

#include "certkit/asn1/asn1.h"
#include "certkit/certkit.h"
#include "certkit/sign/signed_object.h"

// The certificate object (type tag 2000).
struct C_CertObj {
  ck::SignedCore core;      // class descriptor, encodings, split, type tag
  C_EXT_REGISTRY registry;  // given at creation; not owned
  // The fields record. Its byte ranges are owned copies; its name and
  // extensions handles are the object's own objects.
  C_CERT_FIELDS fields;
  // 1 while the object reads for display only (C_SetCertBERForDisplay):
  // algorithms and keys outside the tables are kept opaque, names and
  // extensions are taken as the issuer wrote them.
  uint32_t forDisplay;
};

namespace ck {

// The Certificate template; slot 1 is the TBSCertificate sub-template.
const AsnEntry* CertificateTemplate();

}  // namespace ck

#endif
