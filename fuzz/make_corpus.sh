#!/usr/bin/env bash
# Makes the seed corpus of every fuzz target in <build>/corpus/<target>/:
#   fuzz/make_corpus.sh [build-dir]      (default: build-fuzz)
# Seeds: our own encodings written by fuzz_seedgen (names, RSA keys in their
# DER forms, cipher texts of the password encryption, big-number operands,
# certificates, requests and key files made by the service layer), the DER
# the openssl command line writes for the same structures (and certificates
# of versions 1 and 3 with extensions, requests) when it is installed, and the published corpora ../shared/testdata/corpus/x509 and
# corpus/asn1 when they are there. The corpus is build output.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
corpus="$build/corpus"
shared="../shared/testdata/corpus"

rm -rf "$corpus"
mkdir -p "$corpus"
"$build/fuzz_seedgen" "$corpus"

# The openssl command line: names, keys and their inner encodings.
if command -v openssl >/dev/null 2>&1; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  for bits in 512 1024; do
    if openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$bits -out "$tmp/key.pem" 2>/dev/null; then
      # PKCS #8 explicitly: "pkey -outform DER" writes the RSAPrivateKey form.
      openssl pkcs8 -topk8 -nocrypt -in "$tmp/key.pem" -outform DER -out "$tmp/pkcs8.der"
      openssl pkey -in "$tmp/key.pem" -pubout -outform DER -out "$tmp/spki.der"
      openssl rsa -in "$tmp/key.pem" -outform DER -out "$tmp/rsa.der" 2>/dev/null
      { printf '\001'; cat "$tmp/pkcs8.der"; } >"$corpus/fuzz_rsa_keys/openssl-private$bits"
      { printf '\000'; cat "$tmp/spki.der"; } >"$corpus/fuzz_rsa_keys/openssl-public$bits"
      cp "$tmp/pkcs8.der" "$corpus/fuzz_der/openssl-pkcs8-$bits"
      cp "$tmp/spki.der" "$corpus/fuzz_der/openssl-spki-$bits"
      cp "$tmp/rsa.der" "$corpus/fuzz_der/openssl-rsaprivatekey-$bits"
    fi
  done
  # A subject name in the form a certificate request carries it.
  if openssl req -new -key "$tmp/key.pem" -subj "/C=DE/O=Example/OU=Fuzz+CN=multi/CN=host.example.org" \
      -outform DER -out "$tmp/req.der" 2>/dev/null; then
    # The subject is the second element of CertificationRequestInfo.
    offset=$(openssl asn1parse -inform DER -in "$tmp/req.der" | awk -F: '$0 ~ /d=2/ {n++; if (n == 2) {print $1; exit}}')
    if [ -n "$offset" ]; then
      openssl asn1parse -inform DER -in "$tmp/req.der" -strparse "$((offset + 0))" -noout -out "$tmp/name.der" \
        2>/dev/null || true
    fi
    [ -s "$tmp/name.der" ] && cp "$tmp/name.der" "$corpus/fuzz_name/openssl-subject" &&
      cp "$tmp/name.der" "$corpus/fuzz_asn1/openssl-subject"
    cp "$tmp/req.der" "$corpus/fuzz_request/openssl-req"
  fi
  # Certificates: version 1, and version 3 with extensions; requests with
  # attributes and requested extensions.
  mkdir -p "$corpus/fuzz_cert" "$corpus/fuzz_request"
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out "$tmp/ca.pem" 2>/dev/null || true
  if [ -s "$tmp/ca.pem" ]; then
    # PrintableString and T61String names (not UTF8String): the string types
    # our attribute table takes.
    printf '[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n' >"$tmp/mask.cnf"
    n=0
    for md in sha1 md5; do
      openssl req -new -x509 -config "$tmp/mask.cnf" -key "$tmp/ca.pem" -$md -days 30 -subj "/C=DE/O=Fuzz CA/CN=Fuzz Root" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" -addext "subjectAltName=DNS:ca.example.org" \
        -out "$tmp/ca.crt" 2>/dev/null &&
        openssl x509 -in "$tmp/ca.crt" -outform DER -out "$corpus/fuzz_cert/openssl-v3-ca-$md" || continue
      openssl req -new -config "$tmp/mask.cnf" -key "$tmp/key.pem" -$md -subj "/C=DE/ST=Berlin/O=Example/CN=host$n.example.org" \
        -addext "subjectAltName=DNS:host.example.org,IP:192.0.2.1,email:a@example.org" \
        -addext "extendedKeyUsage=serverAuth,clientAuth" -out "$tmp/req.pem" 2>/dev/null || continue
      openssl req -in "$tmp/req.pem" -outform DER -out "$corpus/fuzz_request/openssl-req-ext-$md" 2>/dev/null
      # Version 1: no extensions file and no copied extensions.
      openssl x509 -req -in "$tmp/req.pem" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.pem" -$md -days 30 -set_serial $((n + 1)) \
        -outform DER -out "$corpus/fuzz_cert/openssl-v1-$md" 2>/dev/null || true
      printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid,issuer\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:host.example.org,IP:192.0.2.1\ncertificatePolicies=1.2.3.4\ncrlDistributionPoints=URI:http://crl.example.org/ca.crl\n' >"$tmp/ext.cnf"
      openssl x509 -req -in "$tmp/req.pem" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.pem" -$md -days 30 \
        -set_serial 0x0123456789abcdef0123 -extfile "$tmp/ext.cnf" -outform DER -out "$corpus/fuzz_cert/openssl-v3-$md" \
        2>/dev/null || true
      n=$((n + 1))
    done
    # Certificates other issuers make today, for the display reading:
    # UTF8String names, ECDSA, Ed25519 and RSASSA-PSS signatures, a
    # non-critical basicConstraints and an unknown critical extension.
    for alg in "ec -pkeyopt ec_paramgen_curve:P-256" ed25519 "rsa-pss -pkeyopt rsa_keygen_bits:1024"; do
      name=$(echo "$alg" | cut -d' ' -f1)
      openssl req -x509 -nodes -newkey $alg -keyout "$tmp/modern.pem" -days 30 -subj "/C=DE/O=Müller/CN=modern.example" \
        -addext "basicConstraints=CA:TRUE" -addext "1.2.3.4.5=critical,DER:05:00" \
        -addext "subjectAltName=DNS:modern.example" -outform DER -out "$corpus/fuzz_cert/openssl-modern-$name" \
        2>/dev/null || true
    done
    # A request with a challenge password attribute.
    printf '[req]\ndistinguished_name=dn\nattributes=attrs\nprompt=no\nstring_mask=nombstr\n[dn]\nCN=attr.example.org\n[attrs]\nchallengePassword=secret pass\n' \
      >"$tmp/req.cnf"
    openssl req -new -key "$tmp/ca.pem" -config "$tmp/req.cnf" -outform DER -out "$corpus/fuzz_request/openssl-req-attr" \
      2>/dev/null || true
  fi
  # Revocation lists made by openssl ca: entries with and without reasons,
  # a CRL number and an authority key identifier.
  if [ -s "$tmp/ca.pem" ] && [ -s "$tmp/ca.crt" ]; then
    mkdir -p "$corpus/fuzz_crl" "$tmp/db"
    : >"$tmp/db/index.txt"
    echo 01 >"$tmp/db/crlnumber"
    printf '[ca]\ndefault_ca=d\n[d]\ndatabase=%s/db/index.txt\ncrlnumber=%s/db/crlnumber\ndefault_md=sha256\ndefault_crl_days=30\ncertificate=%s/ca.crt\nprivate_key=%s/ca.pem\ncrl_extensions=crl_ext\n[crl_ext]\nauthorityKeyIdentifier=keyid:always\n' \
      "$tmp" "$tmp" "$tmp" "$tmp" >"$tmp/ca.cnf"
    openssl ca -config "$tmp/ca.cnf" -gencrl -out "$tmp/empty.crl" 2>/dev/null &&
      openssl crl -in "$tmp/empty.crl" -outform DER -out "$corpus/fuzz_crl/openssl-empty" 2>/dev/null || true
    for serial in 11 12 13; do
      openssl x509 -req -in "$tmp/req.pem" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.pem" -days 30 -set_serial 0x$serial \
        -out "$tmp/leaf$serial.crt" 2>/dev/null || continue
      case $serial in
        11) reason="-crl_reason keyCompromise" ;;
        12) reason="-crl_reason superseded" ;;
        *) reason="" ;;
      esac
      openssl ca -config "$tmp/ca.cnf" -revoke "$tmp/leaf$serial.crt" $reason 2>/dev/null || true
    done
    openssl ca -config "$tmp/ca.cnf" -gencrl -out "$tmp/full.crl" 2>/dev/null &&
      openssl crl -in "$tmp/full.crl" -outform DER -out "$corpus/fuzz_crl/openssl-revoked" 2>/dev/null || true
  fi
fi

# The published corpora: DER of every shape for the codecs and names.
for target in fuzz_name fuzz_asn1 fuzz_der; do
  for dir in "$shared/x509" "$shared/asn1"; do
    [ -d "$dir" ] && find "$dir" -maxdepth 1 -type f -size -64k -exec cp -t "$corpus/$target/" {} +
  done
done
# A few certificates of the system's CA bundle, as DER.
if [ -d /usr/share/ca-certificates/mozilla ] && command -v openssl >/dev/null; then
  mkdir -p "$corpus/fuzz_cert"
  for f in $(find /usr/share/ca-certificates/mozilla -name '*.crt' | sort | head -20); do
    openssl x509 -in "$f" -outform DER -out "$corpus/fuzz_cert/bundle-$(basename "$f" .crt | tr -c 'A-Za-z0-9_\n-' _)" \
      2>/dev/null || true
  done
fi
if [ -d "$shared/x509" ]; then
  mkdir -p "$corpus/fuzz_cert"
  find "$shared/x509" -maxdepth 1 -type f -size -64k -exec cp -t "$corpus/fuzz_cert/" {} +
  # As keys: the same bytes behind each form byte.
  for f in $(find "$shared/x509" -maxdepth 1 -type f -size -16k | sort | head -100); do
    { printf '\000'; cat "$f"; } >"$corpus/fuzz_rsa_keys/x509-public-${f##*/}"
  done
fi

# Extension values: a selector byte (0 basicConstraints, 1 keyUsage, 2 EKU,
# 3 subjectAltName, 4 SKI, 5 AKI; +6 marks the extension critical), then
# the value.
mkdir -p "$corpus/fuzz_ext_values"
while read -r name hex; do
  printf "$(printf '%s' "$hex" | sed 's/../\\x&/g')" >"$corpus/fuzz_ext_values/$name"
done <<'SEEDS'
bc-ca 0630060101ff020100
bc-leaf 063000
ku-ca 0703020106
ku-leaf 07030205a0
ku-decipher 010303070080
eku 02301406082b0601050507030106082b06010505070302
san 03301582032a2e7887040a00000181036140788603683a78
san-ip6 033012871020010db8000000000000000000000001
san-other 03300aa008060129a003020101
ski 0404140102030405060708090a0b0c0d0e0f1011121314
aki 05300480020102
aki-full 05300c800101a10482026178820101
SEEDS

for dir in "$corpus"/*/; do
  echo "$(basename "$dir"): $(find "$dir" -type f | wc -l) seeds"
done
