#!/bin/bash
# The register's commands through kvcatool-cli, checked by OpenSSL's command
# line: a modern root issues three server certificates, they are recorded
# (register-existing; a build that records at issue time has them already),
# one is revoked for keyCompromise and a CRL is made. `openssl crl -verify`
# accepts it, `openssl verify -crl_check` finds the revoked one revoked and
# the others good, and the next CRL's number is one more. A CRL of another
# root is refused by both. A classic root's CRL (sha1WithRSA) verifies too.
# Then register-existing on a mixed directory, the filters and JSON of
# `issued`, the expiry line of `status`, and bad input: a message, the exit
# status, and nothing written.
#
# Usage: register_commands_test.sh KVCATOOL-CLI
set -u
CLI=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export KVCATOOL_SETTINGS=$WORK/settings XDG_CONFIG_HOME=$WORK/config HOME=$WORK/home TZ=UTC
unset KVCATOOL_TRACE
mkdir -p "$HOME"
echo "secret123" > "$WORK/pw"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
# expect STATUS TEXT CMD... : runs CMD, checks its exit status and that its
# output (both streams) holds TEXT.
expect() {
  local want=$1 text=$2; shift 2
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ $rc -ne "$want" ]; then fail "'$*' exited $rc, not $want: $out"
  elif [[ "$out" != *"$text"* ]]; then fail "'$*' did not say '$text': $out"
  else pass "$* -> $rc"; fi
}
pem() { openssl x509 -inform DER -in "$1" -out "$2" 2>/dev/null || cp "$1" "$2"; }

# new_root DIR NAME OPTIONS... : a root made current.
new_root() {
  local dir=$1 name=$2; shift 2
  mkdir -p "$dir"
  "$CLI" new-root "$@" --host "$name" --org "Reg Test" --country DE --password-file "$WORK/pw" \
      --cert "$dir/root.crt" --key "$dir/root.key" --yes >"$WORK/log" 2>&1 || { cat "$WORK/log"; exit 1; }
  pem "$dir/root.crt" "$dir/root.pem"
}
# server DIR NAME OPTIONS... : a server certificate of the current root.
server() {
  local dir=$1 name=$2; shift 2
  "$CLI" new-server --host "$name" --org "Reg Test" --country DE --password-file "$WORK/pw" \
      --root-password-file "$WORK/pw" --cert "$dir/$name.crt" --key "$dir/$name.key" --yes "$@" \
      >"$WORK/log" 2>&1 || { cat "$WORK/log"; exit 1; }
  pem "$dir/$name.crt" "$dir/$name.pem"
}

# --- A modern root: record, revoke, CRL, OpenSSL's verdicts. -------------
M=$WORK/modern
new_root "$M" "Reg Modern Root" --profile modern
for h in a b c; do server "$M" "$h.example"; done
server "$M" "soon.example" --days 10
out=$("$CLI" register-existing "$M" 2>&1)
# Four certificates, recorded now or at issue time; their PEM copies are the
# same certificates (recorded already); the root itself is skipped.
if [[ "$out" =~ Recorded\ ([0-9]+)\ certificates?.*\;\ ([0-9]+)\ recorded\ already ]] &&
   [ $((BASH_REMATCH[1] + BASH_REMATCH[2])) -eq 8 ] && [[ "$out" == *"root.crt: the root certificate itself"* ]]; then
  pass "register-existing recorded the four (and their copies)"
else fail "register-existing: $out"; fi
expect 0 "0 certificates from $M; 8 recorded already, 2 skipped." "$CLI" register-existing "$M"

expect 0 "revoked: keyCompromise" "$CLI" revoke "$M/a.example.crt" --reason keyCompromise --yes
expect 1 "revoked already" "$CLI" revoke "$M/a.example.crt" --reason superseded --yes
expect 0 "CRL number" "$CLI" crl --out "$M/crl.pem" --pem --root-password-file "$WORK/pw"
n1=$(openssl crl -in "$M/crl.pem" -noout -crlnumber | sed 's/.*=0x//')
expect 0 "verify OK" openssl crl -in "$M/crl.pem" -noout -verify -CAfile "$M/root.pem"
expect 2 "certificate revoked" openssl verify -crl_check -CRLfile "$M/crl.pem" -CAfile "$M/root.pem" "$M/a.example.pem"
for h in b c; do
  expect 0 ": OK" openssl verify -crl_check -CRLfile "$M/crl.pem" -CAfile "$M/root.pem" "$M/$h.example.pem"
done
text=$(openssl crl -in "$M/crl.pem" -noout -text)
for want in "sha256WithRSAEncryption" "X509v3 Authority Key Identifier" "Key Compromise" \
            "Serial Number: $(openssl x509 -in "$M/a.example.pem" -noout -serial | sed 's/serial=//')"; do
  [[ "$text" == *"$want"* ]] && pass "CRL text has $want" || fail "CRL text lacks $want: $text"
done
expect 0 "CRL is valid." "$CLI" verify "$M/crl.pem"
expect 0 "Revoked certificates: 1" "$CLI" view "$M/crl.pem"
# The next CRL, DER this time: its number is one more.
expect 0 "CRL number" "$CLI" crl --out "$M/second.crl" --root-password-file "$WORK/pw"
n2=$(openssl crl -inform DER -in "$M/second.crl" -noout -crlnumber | sed 's/.*=0x//')
[ -n "$n1" ] && [ $((16#$n2)) -eq $((16#$n1 + 1)) ] && pass "CRL numbers $n1 then $n2" || fail "CRL numbers $n1, $n2"
expect 0 "CRL number: $((16#$n2))" "$CLI" view "$M/second.crl"

# issued: soonest expiry first, the filters, JSON.
first=$("$CLI" issued | sed -n 2p)
[[ "$first" == *soon.example*expiring* || "$first" == *expiring*soon.example* ]] && pass "issued: soonest first" ||
    fail "issued first row: $first"
expect 0 "" test "$("$CLI" issued --expiring 30 | grep -c example)" -eq 1
expect 0 "" test "$("$CLI" issued --revoked | grep -c example)" -eq 1
json=$("$CLI" issued --json)
python3 - "$json" <<'EOF' && pass "issued --json" || fail "issued --json: $json"
import json, sys
rows = json.loads(sys.argv[1])
assert len(rows) == 4, rows
assert rows[0]["names"] == ["soon.example"] and rows[0]["state"] == "expiring", rows[0]
states = sorted(r["state"] for r in rows)
assert states == ["expiring", "revoked", "valid", "valid"], states
revoked = [r for r in rows if r["state"] == "revoked"][0]
assert revoked["reason"] == "keyCompromise" and revoked["subject"].startswith("CN=a.example"), revoked
assert all(len(r["sha256"]) == 64 and r["profile"] == "modern" for r in rows)
EOF
expect 0 "Issued certificates: 0 expired, 1 expire within 30 days." "$CLI" status

# --- Another root's CRL: refused by openssl and by our verify. ------------
O=$WORK/other
new_root "$O" "Reg Other Root" --profile modern
expect 0 "CRL number 1" "$CLI" crl --out "$O/other.crl" --root-password-file "$WORK/pw"
server "$O" "elsewhere.example"
out=$(openssl crl -inform DER -in "$O/other.crl" -noout -verify -CAfile "$M/root.pem" 2>&1)
[[ "$out" != *"verify OK"* ]] && pass "openssl refuses the other root's CRL" || fail "openssl accepted: $out"
"$CLI" select-root "$M/root.crt" --root-password-file "$WORK/pw" >/dev/null 2>&1 || fail "select-root"
expect 1 "CRL is invalid" "$CLI" verify "$O/other.crl"

# --- register-existing on a mixed directory. ------------------------------
X=$WORK/mixed
mkdir -p "$X"
cp "$M/b.example.crt" "$X/own.crt"
cp "$M/c.example.pem" "$X/own-pem.pem"
cp "$O/elsewhere.example.crt" "$X/other.crt"
head -c 200 "$M/b.example.crt" > "$X/damaged.crt"
printf 'just some text\n' > "$X/notes.cer"
printf '\033[31mred' > "$X/$(printf 'bad\033name').crt"
printf 'ignored\n' > "$X/readme.txt"
out=$("$CLI" register-existing "$X" 2>&1); rc=$?
want=("Recorded 0 certificates" "2 recorded already, 4 skipped." "other.crt: not issued by this root"
      "damaged.crt: damaged certificate" "notes.cer: not a certificate" 'bad\x1Bname.crt: not a certificate')
ok=1
for w in "${want[@]}"; do [[ "$out" == *"$w"* ]] || ok=0; done
[ $rc -eq 0 ] && [ $ok -eq 1 ] && [[ "$out" != *readme* ]] && pass "register-existing on a mixed directory" ||
    fail "register-existing mixed ($rc): $out"
expect 1 "cannot be read" "$CLI" register-existing "$WORK/no-such-dir"

# --- A classic root's CRL: sha1WithRSA, verified by openssl. --------------
C=$WORK/classic
new_root "$C" "Reg Classic Root"
server "$C" "old.example"
expect 0 "Recorded" "$CLI" register-existing "$C"
expect 0 "revoked: superseded" "$CLI" revoke "$C/old.example.crt" --reason superseded --yes
expect 0 "CRL number 1" "$CLI" crl --out "$C/classic.crl" --root-password-file "$WORK/pw"
expect 0 "verify OK" openssl crl -inform DER -in "$C/classic.crl" -noout -verify -CAfile "$C/root.pem"
text=$(openssl crl -inform DER -in "$C/classic.crl" -noout -text)
[[ "$text" == *sha1WithRSAEncryption* && "$text" != *"Authority Key Identifier"* && "$text" == *Superseded* ]] &&
    pass "classic CRL: sha1, no key identifier" || fail "classic CRL text: $text"

# --- Bad input: a message, the exit status, nothing written. --------------
expect 2 "Unknown revocation reason 'keyCompromize'" "$CLI" revoke --serial 01 --reason keyCompromize --yes
expect 1 "not a hexadecimal number" "$CLI" revoke --serial 12XY --yes
expect 1 "No certificate with serial number 0ABC is recorded" "$CLI" revoke --serial abc --yes
expect 2 "give either CERT or --serial HEX" "$CLI" revoke
# Asked and answered no: nothing revoked. A classic serial is taken in the
# form the contents display shows (its characters) as well.
second=$(openssl x509 -in "$C/old.example.pem" -noout -serial | sed 's/serial=//' | xxd -r -p)
sleep 1  # a classic serial is the issue second: a new second, a new serial
server "$C" "second.example"
"$CLI" register-existing "$C" >/dev/null 2>&1
expect 1 "for reason unspecified?" "$CLI" revoke --serial "$(openssl x509 -in "$C/second.example.pem" -noout -serial |
    sed 's/serial=//')" --no
expect 1 "revoked already" "$CLI" revoke --serial "$second" --yes
expect 0 "" test "$("$CLI" issued --revoked | grep -c example)" -eq 1
expect 1 "from 1 to 3650 days" "$CLI" crl --out "$C/zero.crl" --days 0 --root-password-file "$WORK/pw"
expect 1 "from 1 to 3650 days" "$CLI" crl --out "$C/long.crl" --days 3651 --root-password-file "$WORK/pw"
expect 2 "bad value 'x' for --days" "$CLI" crl --out "$C/x.crl" --days x --root-password-file "$WORK/pw"
cp "$C/classic.crl" "$C/kept.crl"
expect 1 "already exists" "$CLI" crl --out "$C/classic.crl" --root-password-file "$WORK/pw"
cmp -s "$C/classic.crl" "$C/kept.crl" && pass "existing CRL left as it was" || fail "existing CRL changed"
echo wrong-password > "$WORK/wrong"
expect 1 "" "$CLI" crl --out "$C/wrong.crl" --root-password-file "$WORK/wrong"
for f in zero long x wrong; do [ -e "$C/$f.crl" ] && fail "$f.crl was written"; done
[ -z "$(ls "$C" | grep -E '\.crl\.[A-Za-z0-9]{6}$')" ] && pass "no temporary files left" ||
    fail "temporary files: $(ls "$C")"
# The next good CRL after the refusals: numbers only grow.
expect 0 "CRL number 2" "$CLI" crl --out "$C/next.crl" --root-password-file "$WORK/pw"
printf 'garbage' > "$C/garbage.crl"
expect 1 "Unable to read the CRL file" "$CLI" view "$C/garbage.crl"
expect 1 "Unable to read the CRL file" "$CLI" verify "$C/garbage.crl"

echo "$FAILURES failure(s)"
[ $FAILURES -eq 0 ]
