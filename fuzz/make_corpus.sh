#!/usr/bin/env bash
# Makes the seed corpus of every fuzz target in <build>/corpus/<target>/:
#   fuzz/make_corpus.sh [build-dir]      (default: build-fuzz)
# Seeds: our own encodings written by fuzz_seedgen (names, RSA keys in their
# DER forms, cipher texts of the password encryption, big-number operands),
# the DER the openssl command line writes for the same structures when it is
# installed, and the published corpora ../shared/testdata/corpus/x509 and
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
      openssl pkey -in "$tmp/key.pem" -outform DER -out "$tmp/pkcs8.der"
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
  fi
fi

# The published corpora: DER of every shape for the codecs and names.
for target in fuzz_name fuzz_asn1 fuzz_der; do
  for dir in "$shared/x509" "$shared/asn1"; do
    [ -d "$dir" ] && find "$dir" -maxdepth 1 -type f -size -64k -exec cp -t "$corpus/$target/" {} +
  done
done
if [ -d "$shared/x509" ]; then
  # As keys: the same bytes behind each form byte.
  for f in $(find "$shared/x509" -maxdepth 1 -type f -size -16k | sort | head -100); do
    { printf '\000'; cat "$f"; } >"$corpus/fuzz_rsa_keys/x509-public-${f##*/}"
  done
fi

for dir in "$corpus"/*/; do
  echo "$(basename "$dir"): $(find "$dir" -type f | wc -l) seeds"
done
