#!/bin/bash
# The register as processes meet it: kvcatool-cli killed with SIGKILL at each
# step of an issue and at varied moments, the register locked by another
# process, read-only, truncated and deleted, and two processes issuing under
# one root at the same time. After each, the register must pass SQLite's
# integrity check (the sqlite3 command line is the outside check) and agree
# with the files: every certificate file recorded once with its own bytes,
# every serial number once, no pending record left.
#
# Usage: register_record_test.sh KVCATOOL-CLI [PART...]
#   PART: kill, faults, concurrent-classic, concurrent-modern (default: all)
#   REGISTER_TEST_COUNT: certificates per process in the concurrency parts
#   (default 25).
set -u
CLI=$1
shift
PARTS=${*:-"kill faults concurrent-classic concurrent-modern"}
COUNT=${REGISTER_TEST_COUNT:-25}
WORK=$(mktemp -d)
LOCK_PID=
cleanup() {
  if [ -n "$LOCK_PID" ]; then kill "$LOCK_PID" 2>/dev/null; wait "$LOCK_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
export KVCATOOL_SETTINGS=$WORK/settings XDG_CONFIG_HOME=$WORK/config HOME=$WORK/home TZ=UTC
unset KVCATOOL_TRACE KVCATOOL_TEST_KILL_AT KVCATOOL_TEST_REGISTER_READONLY KVCATOOL_REGISTER_BUSY_MS
mkdir -p "$HOME"
echo "secret123" > "$WORK/pw"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }

if ! command -v sqlite3 >/dev/null; then
  echo "SKIP: the sqlite3 command line is not installed"
  exit 0
fi

# new_root DIR [--profile modern]
new_root() {
  local dir=$1; shift
  rm -rf "$dir"; mkdir -p "$dir"
  "$CLI" new-root "$@" --host "Register Test Root" --org "Register Test" --country DE --password-file "$WORK/pw" \
      --cert "$dir/root.crt" --key "$dir/root.key" --yes >"$dir/log" 2>&1 || { cat "$dir/log"; return 1; }
}
# issue DIR NAME [OPTION...]: a server certificate and key NAME.crt/NAME.key
# under the current root (DIR's, made current by new_root). Its status is
# returned.
issue() {
  local dir=$1 name=$2; shift 2
  "$CLI" new-server --host "$name" --org "Register Test" --country DE --password-file "$WORK/pw" \
      --root-password-file "$WORK/pw" --cert "$dir/$name.crt" --key "$dir/$name.key" "$@"
}

# agree DIR: the register passes the integrity check and agrees with the
# certificate files of DIR; prints what disagrees, status 1 if anything does.
agree() {
  local dir=$1 db=$1/root.db bad=0 f
  [ "$(sqlite3 "$db" 'PRAGMA integrity_check')" = "ok" ] || { echo "  integrity check fails"; bad=1; }
  local rows distinct
  rows=$(sqlite3 "$db" 'SELECT count(*) FROM issued')
  distinct=$(sqlite3 "$db" 'SELECT count(DISTINCT serial) FROM issued')
  [ "$rows" = "$distinct" ] || { echo "  $rows rows, $distinct serial numbers"; bad=1; }
  while IFS='|' read -r path sha; do
    if [ ! -f "$path" ]; then
      echo "  recorded $path is missing"; bad=1
    elif [ "$(sha256sum < "$path" | cut -c1-64 | tr a-f A-F)" != "$sha" ]; then
      echo "  recorded $path differs"; bad=1
    fi
  done < <(sqlite3 "$db" 'SELECT path, sha256 FROM issued')
  for f in "$dir"/*.crt; do
    [ "$f" = "$dir/root.crt" ] && continue
    [ "$(sqlite3 "$db" "SELECT count(*) FROM issued WHERE path = '$f'")" = "1" ] || { echo "  $f is not recorded once"; bad=1; }
  done
  # (an unnamed note of a process killed while making it is not a record)
  if [ -n "$(ls "$dir/root.pending" 2>/dev/null)" ]; then echo "  pending records left: $(ls "$dir/root.pending")"; bad=1; fi
  return $bad
}

# The check must be able to fail: a register missing a row, a row whose
# file changed, a pending record left over.
self_test() {
  local dir=$WORK/selftest
  new_root "$dir" && issue "$dir" a --yes >/dev/null 2>&1 && issue "$dir" b --yes >/dev/null 2>&1 || { fail "self-test setup"; return; }
  agree "$dir" >/dev/null && pass "agree accepts a register that agrees" || fail "agree refuses a good register"
  cp "$dir/root.db" "$dir/good.db"
  sqlite3 "$dir/root.db" "DELETE FROM issued WHERE path = '$dir/a.crt'"
  agree "$dir" >/dev/null && fail "agree misses an unrecorded file" || pass "agree sees an unrecorded file"
  cp "$dir/good.db" "$dir/root.db"; rm -f "$dir/root.db-wal" "$dir/root.db-shm"
  cp "$dir/a.crt" "$dir/a.keep"; cp "$dir/b.crt" "$dir/a.crt"
  agree "$dir" >/dev/null && fail "agree misses a changed file" || pass "agree sees a changed file"
  cp "$dir/a.keep" "$dir/a.crt"; touch "$dir/root.pending/0BAD"
  agree "$dir" >/dev/null && fail "agree misses a pending record" || pass "agree sees a pending record"
}

# --- SIGKILL at each step of an issue, then at varied moments ------------
part_kill() {
  local dir=$WORK/kill point status out
  new_root "$dir" || { fail "kill: root"; return; }
  issue "$dir" first --yes >/dev/null 2>&1 || fail "kill: first issue"
  for point in after-note after-file after-row; do
    KVCATOOL_TEST_KILL_AT=$point issue "$dir" "k-$point" --yes >/dev/null 2>&1
    status=$?
    [ $status -eq 137 ] || fail "kill at $point: status $status, not killed"
    # The next command asks (no terminal, no --yes: the answer is no), and
    # the note stays for later.
    out=$("$CLI" select-root "$dir/root.crt" --root-password-file "$WORK/pw" 2>&1)
    if [ $point = after-file ]; then
      echo "$out" | grep -q "k-$point.crt (serial number [0-9A-F]*) was written but not recorded in the register $dir/root.db. Record it now? \[y/n\] n" &&
        pass "kill at $point: the next command offers the certificate" || fail "kill at $point: no offer: $out"
    else
      echo "$out" | grep -q "Record it now" && fail "kill at $point: offered: $out"
    fi
    # The next issue, answered yes, resolves every note.
    issue "$dir" "n-$point" --yes >/dev/null 2>&1 || fail "kill at $point: next issue"
    if agree "$dir"; then pass "kill at $point: register opens and agrees with the files"; else fail "kill at $point: disagrees"; fi
  done
  [ ! -e "$dir/k-after-note.crt" ] || fail "kill after-note: a certificate file was written"
  # Killed at varied moments of whole commands.
  local i delay pid
  for i in 1 2 3 4 5 6 7 8; do
    delay=$(printf '0.%02d' $((i * 4 + RANDOM % 10)))
    "$CLI" new-server --host "r$i" --org "Register Test" --country DE --password-file "$WORK/pw" \
        --root-password-file "$WORK/pw" --cert "$dir/r$i.crt" --key "$dir/r$i.key" --yes >/dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
  done
  # Files of certificates killed before recording are recorded (yes), the
  # rest dropped.
  issue "$dir" last --yes >/dev/null 2>&1 || fail "kill: issue after the random kills"
  if agree "$dir"; then pass "killed at varied moments: register agrees"; else fail "killed at varied moments: disagrees"; fi
}

# --- Faults: locked, read-only, truncated, deleted -----------------------
# expect_written_not_recorded NAME STATUS ERR: the issue failed with a
# message that names the certificate file and the database, and wrote the
# certificate.
expect_written_not_recorded() {
  local dir=$1 name=$2 status=$3 err=$4 what=$5
  [ "$status" -eq 1 ] || fail "$what: status $status"
  echo "$err" | grep -q "The certificate $dir/$name.crt was written, but it could not be recorded: The register $dir/root.db" &&
    pass "$what: the message names both files" || fail "$what: message: $err"
  [ -f "$dir/$name.crt" ] && [ -f "$dir/$name.key" ] || fail "$what: the certificate or its key is gone"
  [ "$(ls -A "$dir/root.pending" | wc -l)" -ge 1 ] || fail "$what: no pending record"
}

part_faults() {
  local dir=$WORK/faults err status rows
  new_root "$dir" || { fail "faults: root"; return; }
  issue "$dir" before --yes >/dev/null 2>&1 || fail "faults: first issue"

  # Locked by another process past the busy timeout.
  (echo "BEGIN EXCLUSIVE;"; sleep 5; echo "ROLLBACK;") | sqlite3 "$dir/root.db" &
  LOCK_PID=$!
  sleep 0.5
  err=$(KVCATOOL_REGISTER_BUSY_MS=300 issue "$dir" locked --yes 2>&1 >/dev/null); status=$?
  expect_written_not_recorded "$dir" locked $status "$err" "locked"
  echo "$err" | grep -q "is locked by another program" || fail "locked: reason: $err"
  kill $LOCK_PID 2>/dev/null; wait $LOCK_PID 2>/dev/null; LOCK_PID=

  # Read-only.
  err=$(KVCATOOL_TEST_REGISTER_READONLY=1 issue "$dir" readonly --yes 2>&1 >/dev/null); status=$?
  expect_written_not_recorded "$dir" readonly $status "$err" "read-only"
  echo "$err" | grep -q "cannot be written" || fail "read-only: reason: $err"

  # The next command records both, once.
  issue "$dir" after --yes >/dev/null 2>&1 || fail "faults: issue after locked and read-only"
  if agree "$dir"; then pass "locked, read-only: recorded once by the next command"; else fail "locked, read-only: disagrees"; fi
  rows=$(sqlite3 "$dir/root.db" 'SELECT count(*) FROM issued')
  [ "$rows" = 4 ] || fail "locked, read-only: $rows rows, not 4"

  # Truncated: a damaged register is named and left alone; moved aside, a
  # new register is made and takes the pending certificate.
  rm -f "$dir/root.db-wal" "$dir/root.db-shm"
  truncate -s 1000 "$dir/root.db"
  err=$(issue "$dir" truncated --yes 2>&1 >/dev/null); status=$?
  expect_written_not_recorded "$dir" truncated $status "$err" "truncated"
  echo "$err" | grep -q "is damaged or is not a register" || fail "truncated: reason: $err"
  [ "$(stat -c %s "$dir/root.db")" = 1000 ] || fail "truncated: the damaged register was changed"
  mv "$dir/root.db" "$dir/root.db.damaged"
  for f in before locked readonly after; do mv "$dir/$f.crt" "$dir/$f.old"; done
  local out
  out=$(issue "$dir" renewed --yes 2>&1)
  echo "$out" | grep -q "A new register $dir/root.db was made for this root" || fail "truncated: no word of the new register: $out"
  if agree "$dir"; then pass "truncated: nothing lost, recorded in the new register"; else fail "truncated: disagrees"; fi
  [ "$(sqlite3 "$dir/root.db" 'SELECT count(*) FROM issued')" = 2 ] || fail "truncated: not 2 rows"

  # Deleted while the root stays: made again, said so, recorded.
  rm -f "$dir/root.db" "$dir/root.db-wal" "$dir/root.db-shm"
  out=$(issue "$dir" deleted --yes 2>&1); status=$?
  [ $status -eq 0 ] || fail "deleted: status $status: $out"
  echo "$out" | grep -q "A new register $dir/root.db was made" || fail "deleted: no word of the new register: $out"
  for f in truncated renewed; do mv "$dir/$f.crt" "$dir/$f.old"; done
  if agree "$dir"; then pass "deleted: made again and recorded"; else fail "deleted: disagrees"; fi
}

# --- Two processes issuing at the same time ------------------------------
concurrent() {
  local profile=$1 dir=$WORK/concurrent-$1 start end
  if [ "$profile" = modern ]; then new_root "$dir" --profile modern; else new_root "$dir"; fi || { fail "$profile: root"; return; }
  # Modern keys take long to make: one key file is made and copied, and the
  # certificates are issued for the copies (their serial numbers are random).
  if [ "$profile" = modern ]; then
    issue "$dir" model --yes >/dev/null 2>&1 || { fail "$profile: model key"; return; }
    rm -f "$dir/model.crt"
    sqlite3 "$dir/root.db" 'DELETE FROM issued'
  fi
  start=$(date +%s)
  local p
  for p in a b; do
    (
      for i in $(seq 1 "$COUNT"); do
        if [ "$profile" = modern ]; then
          cp "$dir/model.key" "$dir/$p$i.key"
          "$CLI" create-server-cert "$dir/$p$i.key" --host "$p$i" --password-file "$WORK/pw" \
              --root-password-file "$WORK/pw" --cert "$dir/$p$i.crt" --yes
        else
          "$CLI" new-server --host "$p$i" --org "Register Test" --country DE --password-file "$WORK/pw" \
              --root-password-file "$WORK/pw" --cert "$dir/$p$i.crt" --key "$dir/$p$i.key" --yes
        fi >>"$dir/$p.log" 2>&1 || echo "$p$i failed" >>"$dir/$p.failures"
      done
    ) &
  done
  wait
  end=$(date +%s)
  if [ -s "$dir/a.failures" ] || [ -s "$dir/b.failures" ]; then
    fail "$profile: issues failed: $(cat "$dir"/*.failures)"; grep -h -i "error\|could not\|cannot" "$dir"/[ab].log | head -5
  fi
  local rows distinct
  rows=$(sqlite3 "$dir/root.db" 'SELECT count(*) FROM issued')
  distinct=$(sqlite3 "$dir/root.db" 'SELECT count(DISTINCT serial) FROM issued')
  [ "$rows" = $((2 * COUNT)) ] && [ "$distinct" = $((2 * COUNT)) ] &&
    pass "$profile: two processes, $rows rows, $distinct serial numbers ($((end - start)) s)" ||
    fail "$profile: $rows rows, $distinct serial numbers"
  agree "$dir" || fail "$profile: disagrees"
}

self_test
for part in $PARTS; do
  case $part in
    kill) part_kill ;;
    faults) part_faults ;;
    concurrent-classic) concurrent classic ;;
    concurrent-modern) concurrent modern ;;
    *) fail "unknown part $part" ;;
  esac
done
if [ $FAILURES -ne 0 ]; then
  echo "$FAILURES failure(s)"
  exit 1
fi
echo "all passed"
