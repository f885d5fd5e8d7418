#!/bin/bash
# trust-root --nss against temporary NSS stores, with headless Chromium as
# the client: a temporary anchors directory (KVCATOOL_CA_DIR), a stand-in
# refresh (KVCATOOL_UPDATE_CA) that builds a temporary bundle from it the way
# update-ca-certificates builds the system's, and the system trust module
# pointed at that bundle (KVCATOOL_CA_BUNDLE). Chromium must refuse the
# root's server before trust-root, accept it after, refuse it again after
# untrust-root, and refuse it from a store that does not list the module
# even while the root is in the bundle. NSS's certutil checks the store's
# view of the root. Nothing on the machine outside the temporary directory
# is changed.
#
# Usage: nss_trust_test.sh KVCATOOL-CLI
set -u
CLI=$1
for tool in chromium certutil openssl; do
  if ! command -v $tool >/dev/null; then echo "SKIP: $tool is not installed (tools/setup installs it)"; exit 0; fi
done
WORK=$(mktemp -d)
SERVER_PID=
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
export KVCATOOL_SETTINGS=$WORK/settings XDG_CONFIG_HOME=$WORK/config HOME=$WORK/home TZ=UTC
export KVCATOOL_CA_DIR=$WORK/anchors KVCATOOL_UPDATE_CA=$WORK/refresh KVCATOOL_CA_BUNDLE=$WORK/bundle.crt
unset KVCATOOL_TRACE KVCATOOL_TRUST_MODULE
if [ ! -f /usr/lib/x86_64-linux-gnu/pkcs11/p11-kit-trust.so ] && [ ! -f /usr/lib/pkcs11/p11-kit-trust.so ] &&
   [ ! -f /usr/lib/aarch64-linux-gnu/pkcs11/p11-kit-trust.so ]; then
  echo "SKIP: the system trust module is not installed (p11-kit-modules; tools/setup installs it)"; exit 0
fi
mkdir -p "$HOME" "$WORK/www" "$KVCATOOL_CA_DIR"
echo "kvca-nss-test-page" > "$WORK/www/index.html"
echo "secret123" > "$WORK/pw"
cat > "$WORK/refresh" <<EOF
#!/bin/sh
cat "$KVCATOOL_CA_DIR"/*.crt > "$WORK/bundle.new" 2>/dev/null
mv "$WORK/bundle.new" "$KVCATOOL_CA_BUNDLE"
echo "bundle rebuilt"
EOF
chmod +x "$WORK/refresh"
: > "$KVCATOOL_CA_BUNDLE"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
check() { if [ "$1" = "$2" ]; then pass "$3"; else fail "$3: got '$1', wanted '$2'"; fi; }

# A modern root and its server certificate for localhost.
"$CLI" new-root --profile modern --host "NSS Test Root" --org "NSS Test" --country DE --password-file "$WORK/pw" \
    --cert "$WORK/root.crt" --key "$WORK/root.key" --yes >"$WORK/log" 2>&1 &&
"$CLI" new-server --host localhost --org "NSS Test" --country DE --password-file "$WORK/pw" \
    --root-password-file "$WORK/pw" --cert "$WORK/srv.crt" --key "$WORK/srv.key" --yes >>"$WORK/log" 2>&1 &&
"$CLI" export-cert "$WORK/srv.crt" --out "$WORK/srv.pem" >>"$WORK/log" 2>&1 &&
"$CLI" export-key "$WORK/srv.key" --out "$WORK/srv.key.pem" --unencrypted --password-file "$WORK/pw" \
    >>"$WORK/log" 2>&1 || { cat "$WORK/log"; echo "FAIL: making the root and server pair"; exit 1; }

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$WORK/www" && exec openssl s_server -accept "127.0.0.1:$PORT" -cert "$WORK/srv.pem" -key "$WORK/srv.key.pem" \
    -WWW -quiet) >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for i in $(seq 1 50); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.1; done

# new_store NAME: an empty NSS store at $WORK/NAME/.pki/nssdb (a home
# directory as Chromium expects it).
new_store() {
  mkdir -p "$WORK/$1/.pki/nssdb"
  certutil -N -d "sql:$WORK/$1/.pki/nssdb" --empty-password
}
# chromium NAME: "accepted" or "refused (ERR_...)" for the page, with the
# store of NAME as the user's NSS store.
chromium_verdict() {
  local h=$WORK/$1
  rm -rf "$h/profile"
  if HOME=$h timeout 60 chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
      --user-data-dir="$h/profile" --dump-dom "https://localhost:$PORT/index.html" 2>"$h/err" |
      grep -q kvca-nss-test-page; then
    echo accepted
  else
    echo "refused ($(grep -o 'ERR_CERT_[A-Z_]*' "$h/err" | head -1))"
  fi
}
# root_trust NAME: the trust flags NSS gives the root in the store of NAME.
root_trust() {
  certutil -L -h all -d "sql:$WORK/$1/.pki/nssdb" 2>/dev/null | grep "NSS Test Root" |
      sed 's/.*[[:space:]]\([^[:space:]]*\)[[:space:]]*$/\1/'
}
server_valid() {
  certutil -A -d "sql:$WORK/$1/.pki/nssdb" -n srv -t ",," -i "$WORK/srv.pem" 2>/dev/null
  certutil -V -u V -n srv -d "sql:$WORK/$1/.pki/nssdb" 2>&1 | head -1
  certutil -D -d "sql:$WORK/$1/.pki/nssdb" -n srv 2>/dev/null
}

new_store a || fail "making store a"
new_store b || fail "making store b"
LIST=$WORK/a/.pki/nssdb/pkcs11.txt
cp "$LIST" "$WORK/list-before"

# Before: refused, as for any unknown root.
check "$(chromium_verdict a)" "refused (ERR_CERT_AUTHORITY_INVALID)" "before trust-root: chromium refuses"

# Not an NSS store, or no trust module: nothing changed anywhere.
mkdir -p "$WORK/empty"
out=$("$CLI" trust-root --nss "$WORK/empty" 2>&1); rc=$?
check "$rc:$(ls -A "$KVCATOOL_CA_DIR" | wc -l):$(ls -A "$WORK/empty" | wc -l)" "1:0:0" "trust-root --nss on a directory without pkcs11.txt: exit 1, nothing written"
echo "$out" | grep -q "is not an NSS store" && pass "it says why" || fail "said: $out"
out=$(KVCATOOL_TRUST_MODULE=$WORK/none.so "$CLI" trust-root --nss "$WORK/a/.pki/nssdb" 2>&1); rc=$?
check "$rc:$(ls -A "$KVCATOOL_CA_DIR" | wc -l)" "1:0" "trust-root --nss without the trust module: exit 1, nothing installed"
cmp -s "$LIST" "$WORK/list-before" && pass "module list untouched" || fail "module list changed"

# trust-root --nss: the anchor, the bundle and the module entry.
out=$("$CLI" trust-root --nss "$WORK/a/.pki/nssdb" 2>&1); rc=$?
check "$rc" 0 "trust-root --nss exits 0"
echo "$out"
check "$(head -c "$(stat -c %s "$WORK/list-before")" "$LIST" | cmp -s - "$WORK/list-before" && echo kept)" kept \
    "the store's own entries are kept byte for byte"
check "$(stat -c %a "$LIST")" 600 "the module list keeps its mode"
check "$(grep -c '^library=.*p11-kit-trust.so$' "$LIST")" 1 "one trust module entry"
check "$(root_trust a)" "CT,C,C" "certutil: the root is a trusted CA in store a"
check "$(server_valid a)" "certutil: certificate is valid" "certutil -V: the server certificate is valid in store a"
check "$(chromium_verdict a)" accepted "after trust-root --nss: chromium accepts"
# The same bundle, but a store without the module: refused.
check "$(root_trust b)" "" "store b does not see the root"
check "$(chromium_verdict b)" "refused (ERR_CERT_AUTHORITY_INVALID)" "a store without the module: chromium refuses"
# Again: the entry is not added twice.
cp "$LIST" "$WORK/list-after"
"$CLI" trust-root --nss "$WORK/a/.pki/nssdb" >/dev/null 2>&1 || fail "trust-root --nss again"
cmp -s "$LIST" "$WORK/list-after" && pass "trust-root --nss again leaves the list as it is" || fail "list changed"

# untrust-root --nss: the anchor goes, the module entry stays, Chromium
# refuses again.
out=$("$CLI" untrust-root --nss "$WORK/a/.pki/nssdb" 2>&1); rc=$?
check "$rc:$(ls -A "$KVCATOOL_CA_DIR" | wc -l)" "0:0" "untrust-root --nss removes the anchor"
cmp -s "$LIST" "$WORK/list-after" && pass "untrust-root leaves the module list" || fail "list changed"
check "$(root_trust a)" "" "certutil: the root is gone from store a"
check "$(chromium_verdict a)" "refused (ERR_CERT_AUTHORITY_INVALID)" "after untrust-root: chromium refuses"

echo "$FAILURES failure(s)"
[ $FAILURES -eq 0 ]
