#!/bin/bash
# Certificates of the modern profile made with kvcatool-cli, served by
# `openssl s_server` and accepted by the TLS clients a web server meets:
# `openssl verify -x509_strict -purpose sslserver`, curl, `openssl s_client`
# with host name checking, and headless Chromium trusting the root through an
# NSS store. The same clients must refuse a classic pair, so that the test
# shows it can fail. Bad input through the command line must leave nothing
# written.
#
# Usage: web_server_certs_test.sh KVCATOOL-CLI
set -u
CLI=$1
WORK=$(mktemp -d)
SERVER_PID=
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
export KVCATOOL_SETTINGS=$WORK/settings XDG_CONFIG_HOME=$WORK/config HOME=$WORK/home TZ=UTC
unset KVCATOOL_TRACE
mkdir -p "$HOME" "$WORK/www"
echo "kvca-web-test-page" > "$WORK/www/index.html"
echo "secret123" > "$WORK/pw"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }

HAVE_CHROMIUM=1
if ! command -v chromium >/dev/null || ! command -v certutil >/dev/null; then
  echo "SKIP (Chromium part only): chromium or certutil is not installed (tools/setup installs them)"
  HAVE_CHROMIUM=0
fi

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# make_pair DIR ROOT-OPTIONS... : a root and two server certificates (DNS
# localhost + www.localhost; IP 127.0.0.1), exported with their keys.
make_pair() {
  local dir=$1; shift
  mkdir -p "$dir"
  "$CLI" new-root "$@" --host "Web Test Root" --org "Web Test" --country DE --password-file "$WORK/pw" \
      --cert "$dir/root.crt" --key "$dir/root.key" --yes >"$dir/log" 2>&1 || { cat "$dir/log"; return 1; }
  local extra=()
  if [ "${1:-}" = "--profile" ] && [ "$2" = "modern" ]; then extra=(--san www.localhost); fi
  "$CLI" new-server --host localhost "${extra[@]}" --org "Web Test" --country DE --password-file "$WORK/pw" \
      --root-password-file "$WORK/pw" --cert "$dir/dns.crt" --key "$dir/dns.key" --yes >>"$dir/log" 2>&1 &&
  "$CLI" new-server --host 127.0.0.1 --org "Web Test" --country DE --password-file "$WORK/pw" \
      --root-password-file "$WORK/pw" --cert "$dir/ip.crt" --key "$dir/ip.key" --yes >>"$dir/log" 2>&1 ||
      { cat "$dir/log"; return 1; }
  local f
  for f in root dns ip; do
    "$CLI" export-cert "$dir/$f.crt" --out "$dir/$f.pem" >>"$dir/log" 2>&1 || { cat "$dir/log"; return 1; }
  done
  for f in dns ip; do
    "$CLI" export-key "$dir/$f.key" --out "$dir/$f.key.pem" --unencrypted --password-file "$WORK/pw" \
        >>"$dir/log" 2>&1 || { cat "$dir/log"; return 1; }
  done
}

start_server() {  # CERT KEY
  PORT=$(free_port)
  # Security level 0 lets the classic pair's small key be served at all, so
  # that a refusal is the client's.
  (cd "$WORK/www" && exec openssl s_server -accept "127.0.0.1:$PORT" -cert "$1" -key "$2" -WWW \
      -cipher 'DEFAULT:@SECLEVEL=0' -quiet) >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
  local i
  for i in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "server did not start: $(cat "$WORK/server.log")"
  return 1
}
stop_server() { kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; SERVER_PID=; }

# clients DIR NAME HOST : 0 when every client accepts certificate NAME of DIR
# served for HOST; prints each client's verdict.
clients() {
  local dir=$1 name=$2 host=$3 refused=0
  if openssl verify -x509_strict -purpose sslserver -CAfile "$dir/root.pem" "$dir/$name.pem" >/dev/null 2>&1; then
    echo "  openssl verify: accepted"; else echo "  openssl verify: refused"; refused=1; fi
  start_server "$dir/$name.pem" "$dir/$name.key.pem" || return 1
  local url="https://$host:$PORT/index.html"
  if timeout 20 curl -s --cacert "$dir/root.pem" --resolve "www.localhost:$PORT:127.0.0.1" "$url" 2>/dev/null |
      grep -q kvca-web-test-page; then
    echo "  curl: accepted"; else echo "  curl: refused"; refused=1; fi
  local hostcheck=(-verify_hostname "$host")
  case $host in *[!0-9.]*) ;; *) hostcheck=(-verify_ip "$host");; esac
  if echo | timeout 20 openssl s_client -connect "127.0.0.1:$PORT" -servername localhost -CAfile "$dir/root.pem" \
      -verify_return_error "${hostcheck[@]}" >/dev/null 2>&1; then
    echo "  s_client: accepted"; else echo "  s_client: refused"; refused=1; fi
  if [ $HAVE_CHROMIUM = 1 ]; then
    local nss=$WORK/nss-$RANDOM
    mkdir -p "$nss/.pki/nssdb"
    certutil -N -d "sql:$nss/.pki/nssdb" --empty-password &&
      certutil -A -d "sql:$nss/.pki/nssdb" -n kvroot -t "C,," -i "$dir/root.pem"
    if HOME=$nss timeout 40 chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
        --user-data-dir="$nss/profile" --dump-dom "$url" 2>"$nss/err" | grep -q kvca-web-test-page; then
      echo "  chromium: accepted"
    else
      echo "  chromium: refused ($(grep -o 'ERR_CERT_[A-Z_]*' "$nss/err" | head -1))"; refused=1
    fi
  fi
  stop_server
  return $refused
}

expect_accepted() {
  if clients "$@"; then pass "$1 $2 accepted by every client"; else fail "$1 $2 refused by a client"; fi
}
expect_refused() {
  local out
  out=$(clients "$@")
  echo "$out"
  if echo "$out" | grep -q accepted; then fail "$1 $2: some client accepted a classic certificate"
  else pass "$1 $2 refused by every client"; fi
}

# The modern pair (2048 bits) and the classic pair.
make_pair "$WORK/modern" --profile modern || fail "making the modern pair"
expect_accepted "$WORK/modern" dns localhost
expect_accepted "$WORK/modern" dns www.localhost
expect_accepted "$WORK/modern" ip 127.0.0.1
make_pair "$WORK/classic" || fail "making the classic pair"
expect_refused "$WORK/classic" dns localhost
expect_refused "$WORK/classic" ip 127.0.0.1

# Larger root keys work the same way.
for bits in 3072 4096; do
  make_pair "$WORK/modern$bits" --profile modern --key-bits $bits || fail "making the $bits-bit pair"
  expect_accepted "$WORK/modern$bits" dns localhost
  expect_accepted "$WORK/modern$bits" ip 127.0.0.1
done

# Bad input: a clear message, the exit status, and nothing written. The
# current root is the last modern one.
bad() {  # EXPECTED-STATUS MESSAGE-PART ARGS...
  local want=$1 part=$2; shift 2
  local before after out rc
  before=$(ls -A "$WORK/bad" | sort)
  local root=(--root-password-file "$WORK/pw")
  [ "$1" = new-root ] && root=()
  out=$("$CLI" "$@" --password-file "$WORK/pw" "${root[@]}" --yes 2>&1)
  rc=$?
  after=$(ls -A "$WORK/bad" | sort)
  if [ $rc -ne "$want" ]; then fail "'$*' exited $rc, not $want: $out"
  elif ! echo "$out" | grep -qF -- "$part"; then fail "'$*' said: $out"
  elif [ "$before" != "$after" ]; then fail "'$*' wrote files"
  else pass "'$*' -> $rc: $(echo "$out" | head -1)"; fi
}
mkdir -p "$WORK/bad"
B=$WORK/bad
bad 1 "bad_name is neither a DNS name" new-server --host localhost --san bad_name --cert "$B/a.crt" --key "$B/a.key"
bad 1 "www.*.example is neither" new-server --host localhost --san 'www.*.example' --cert "$B/a.crt" --key "$B/a.key"
bad 1 "*.*.example is neither" new-server --host '*.*.example' --cert "$B/a.crt" --key "$B/a.key"
bad 1 "is neither" new-server --host 'has space.example' --cert "$B/a.crt" --key "$B/a.key"
bad 1 "is neither" new-server --host 'bücher.example' --cert "$B/a.crt" --key "$B/a.key"
bad 1 "is neither" new-server --host 'a..example' --cert "$B/a.crt" --key "$B/a.key"
bad 1 "from 1 to 7300 days" new-server --host localhost --days 0 --cert "$B/a.crt" --key "$B/a.key"
bad 1 "from 1 to 7300 days" new-server --host localhost --days 7301 --cert "$B/a.crt" --key "$B/a.key"
bad 1 "2048, 3072 or 4096" new-server --host localhost --key-bits 1000 --cert "$B/a.crt" --key "$B/a.key"
bad 1 "2048, 3072 or 4096" new-root --profile modern --host R --org O --country DE --key-bits 1000 \
    --cert "$B/r.crt" --key "$B/r.key"
bad 1 "only for a root of the modern profile" new-root --host R --org O --country DE --key-bits 2048 \
    --cert "$B/r.crt" --key "$B/r.key"
bad 2 "bad value 'abc' for --days" new-server --host localhost --days abc --cert "$B/a.crt" --key "$B/a.key"
bad 2 "bad value 'new' for --profile" new-root --profile new --host R --org O --country DE
bad 1 "is neither" create-server-cert "$WORK/modern/dns.key" --host localhost --san 'x_y' --cert "$B/c.crt"
# Under a classic root the modern choices are refused, saying why.
"$CLI" select-root "$WORK/classic/root.crt" --root-password-file "$WORK/pw" >/dev/null 2>&1 ||
    fail "selecting the classic root"
bad 1 "classic profile" new-server --host localhost --san www.localhost --cert "$B/a.crt" --key "$B/a.key"
bad 1 "classic profile" new-server --host localhost --days 30 --cert "$B/a.crt" --key "$B/a.key"
# A classic root's status is what it always was; a modern one's names it.
out=$("$CLI" status 2>&1)
echo "$out" | grep -q "Profile:" && fail "status of a classic root: $out" || pass "status of a classic root unchanged"
"$CLI" select-root "$WORK/modern/root.crt" --root-password-file "$WORK/pw" >/dev/null 2>&1
out=$("$CLI" status 2>&1)
echo "$out" | grep -q "Profile: modern" && pass "status shows the modern profile" || fail "status: $out"
out=$("$CLI" view-root 2>&1)
echo "$out" | grep -q "Profile: modern" && pass "view-root shows the modern profile" || fail "view-root: $out"
"$CLI" verify "$WORK/modern/dns.crt" >/dev/null 2>&1 && pass "verify of a modern certificate under its root" ||
    fail "verify of a modern certificate under its root"
# A certificate of another root: the signature fails first, as in the
# classic verify.
"$CLI" verify "$WORK/modern3072/dns.crt" >/dev/null 2>&1 && fail "verify of another root's certificate" ||
    pass "verify refuses another root's certificate"

echo "$FAILURES failure(s)"
[ $FAILURES -eq 0 ]
