#!/usr/bin/env bash
# Real faults on the real command: passes killed at chosen system calls and at
# random moments, two runs meeting on one folder, a full disk, links in the
# folder. After a fault the next command on the folder must finish or undo
# what was interrupted, and a full decryption must give back every file as it
# was: content, name and place.
#
#   fault_test.sh ULXJM GROUP
#   GROUP: kill-encrypt | kill-decrypt | kill-store | random | race | disk | names
#
# FAULT_POINTS=N   kill points per system call in the sweeps (default 6)
# FAULT_SEED=N     replays the random kills of an earlier run (it prints its seed)
# FAULT_KEEP=1     keeps the folders of failed cases
# Exit: 0 passed, 1 failed, 77 skipped (a tool or a tmpfs mount is missing).
set -u -o pipefail
ULXJM=$(realpath "$1")
GROUP=$2
HERE=$(dirname "$(realpath "$0")")
# shellcheck source=fault_lib.sh
source "$HERE/fault_lib.sh"

for tool in strace openssl timeout setfattr; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is missing (bash tools/setup-deps installs it)"
    exit 77
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ulx-faults.XXXXXX")
MOUNTED=
cleanup() {
  [ -z "$MOUNTED" ] || umount "$MOUNTED" 2>/dev/null || umount -l "$MOUNTED"
  if [ "$FAILS" != 0 ] && [ -n "${FAULT_KEEP:-}" ]; then
    say "failed cases kept under $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
printf 'MZ stand-in\n' >"$WORK/ulxjm.exe"
template additions make_additions
template std make_tree

MSG_BUSY="该文件夹正在被另一个岚栩只读加密处理"

# ---------------------------------------------------------------- kills at system calls

# The calls a pass could be cut at; each kind of pass is swept over the ones
# its reference run makes.
KILL_CALLS=rename,renameat,renameat2,unlink,unlinkat,write,pwrite64,writev,ftruncate,fsync,fdatasync,mkdir,mkdirat,rmdir

# points COUNT: FAULT_POINTS invocation numbers spread over 1..COUNT.
points() {
  local k=$1 p=${FAULT_POINTS:-6} i
  if [ "$k" -le "$p" ]; then
    seq 1 "$k"
  else
    for ((i = 0; i < p; i++)); do echo $((1 + i * (k - 1) / (p - 1))); done | uniq
  fi
}

sweep() {
  local kind=$1 sc k n
  new_case "$kind: reference run, system calls per thread"
  setup "$kind" || { end_case; return; }
  strace -f -qq -o "$C/trace" -e trace="$KILL_CALLS" "$ULXJM" "${PASS[@]}" <"$C/pw" >"$C/out" 2>&1
  thread_counts "$C/trace" | LC_ALL=C sort >"$WORK/counts-$kind"
  say "     $(tr '\n' ' ' <"$WORK/counts-$kind")"
  [ -s "$WORK/counts-$kind" ] || fail "the reference run made none of: $KILL_CALLS"
  end_case
  while read -r sc k; do
    for n in $(points "$k"); do
      new_case "$kind killed at $sc #$n: strace -f -e inject=$sc:signal=KILL:when=$n ulxjm ${PASS[0]}"
      setup "$kind" || { end_case; continue; }
      # (braces: no "Killed" line from the shell)
      { timeout -k 5 120 strace -f -qq -o /dev/null -e trace="$sc" \
        -e inject="$sc:signal=KILL:when=$n" "$ULXJM" "${PASS[@]}" <"$C/pw" >"$C/pass.out"; } 2>/dev/null
      RC=$?
      [ "$RC" = 137 ] || say "     not killed: the pass ended with $RC"
      check_after "$kind"
      end_case
    done
  done <"$WORK/counts-$kind"
}

# ---------------------------------------------------------------- kills at random moments

random_kills() {
  local seed=${FAULT_SEED:-$(($(date +%s) % 32768))} kinds nexts i kind delay next pid rc
  RANDOM=$seed
  say "random kills, seed $seed (FAULT_SEED=$seed replays the same delays)"
  kinds=(encrypt-normal encrypt-higher encrypt-highest decrypt-normal decrypt-highest extract take add)
  nexts=(status list verify)
  for i in $(seq 0 29); do
    kind=${kinds[i % 8]}
    delay=$((RANDOM % 301))
    next=${nexts[RANDOM % 3]}
    case $kind in
      *-normal) template wide make_wide_tree ;;
      *) template mid make_mid_tree ;;
    esac
    new_case "$kind killed with kill -9 after $delay ms, then ulxjm $next"
    setup "$kind" || { end_case; continue; }
    "$ULXJM" "${PASS[@]}" <"$C/pw" >"$C/pass.out" 2>&1 &
    pid=$!
    sleep "$(printf '0.%03d' "$delay")"
    kill -9 "$pid" 2>/dev/null
    { wait "$pid"; } 2>/dev/null
    rc=$?
    [ "$rc" = 137 ] || say "     not killed: the pass ended with $rc first"
    check_after "$kind" "$next"
    end_case
  done
}

# Normal strength moves only the top level: many entries there make the
# pass last a few hundred ms.
make_wide_tree() {
  local i
  make_tree "$1"
  for i in $(seq 1 3000); do printf 'entry %s\n' "$i" >"$1/e$i.dat"; done
}

# For the strength passes: more files in the folders they take or copy out,
# and one bigger file encrypted whole.
make_mid_tree() {
  local i
  make_tree "$1"
  for i in $(seq 1 160); do put "$1/多/d$((i % 8))/f$i.bin" $((i * 197 % 6000)); done
  put "$1/长 文件.txt" $((6 * 1024 * 1024))
}

# ---------------------------------------------------------------- two runs meet

# start_waiting CMD...: starts the command with a FIFO as standard input kept
# open without a line, and waits until it blocks reading its password.
start_waiting() {
  mkfifo "$C/fifo"
  "$ULXJM" "$@" --password-stdin <"$C/fifo" >"$C/first.out" 2>&1 &
  FIRST=$!
  exec {KEEP}>"$C/fifo"
  if ! wait_for 20 at_stdin_read "$FIRST"; then
    fail "the first run never waited at its password prompt"
    return 1
  fi
}

# finish_waiting: gives the first run its password; it must succeed.
finish_waiting() {
  printf '%s\n' "$PW" >&"$KEEP"
  exec {KEEP}>&-
  wait_pid "$FIRST" 120
  [ "$RC" = 0 ] || {
    fail "the first run ended with $RC after the other was refused:"
    sed 's/^/       /' "$C/first.out" | tail -5
  }
}

# wait_pid PID SECONDS: waits for a child; kills it when it takes longer.
wait_pid() {
  timeout "$2" tail -s 0.05 --pid="$1" -f /dev/null || kill -9 "$1" 2>/dev/null
  { wait "$1"; } 2>/dev/null
  RC=$?
}

# refused WHAT: the last ux run was refused as busy and changed nothing.
refused() {
  if [ "$RC" != 2 ] || ! grep -q "$MSG_BUSY" "$C/out"; then
    fail "$1 was not refused as busy (exit $RC, want 2 and \"$MSG_BUSY\"):"
    sed 's/^/       /' "$C/out" | tail -3
  fi
  [ "$(listing "$D")" = "$BEFORE" ] || fail "$1 changed the folder although refused"
}

# pause_mid_pass CMD...: runs a pass under strace, held for 5 s inside its
# middle rename (counted on a reference run); returns once it is held there.
pause_mid_pass() {
  local n
  n=$(awk '$1 == "renameat2" || $1 == "rename" || $1 == "renameat" { print int(($2 + 1) / 2) }' \
    "$C/ref" | sort -n | tail -1)
  [ -n "$n" ] || n=1
  say "     holding the pass 5 s at its rename #$n"
  timeout -k 5 120 strace -f -qq -o "$C/trace" -e trace=rename,renameat,renameat2 \
    -e inject=rename,renameat,renameat2:delay_enter=5000000:when="$n" \
    "$ULXJM" "$@" <"$C/pw" >"$C/first.out" 2>&1 &
  FIRST=$!
  wait_for 30 held_at "$n" || { fail "the pass never reached rename #$n"; return 1; }
}
held_at() { [ "$(thread_counts "$C/trace" | awk '{ if ($2 > m) m = $2 } END { print m + 0 }')" -ge "$1" ]; }

# ref_counts CMD...: per-thread rename counts of the same pass on a copy.
ref_counts() {
  cp -a "$D" "$C/refdir"
  local args=("$@")
  args[1]=$C/refdir
  strace -f -qq -o "$C/reftrace" -e trace=rename,renameat,renameat2 "$ULXJM" "${args[@]}" \
    <"$C/pw" >/dev/null 2>&1
  thread_counts "$C/reftrace" >"$C/ref"
  rm -rf "$C/refdir"
}

race() {
  new_case "encrypt waits at its password prompt; a second encrypt and a status meanwhile"
  cp -a "$TPL" "$D"
  if start_waiting encrypt "$D" --strength highest --yes --exe "$WORK/ulxjm.exe"; then
    BEFORE=$(listing "$D")
    ux encrypt "$D" --strength normal --password-stdin --yes --exe "$WORK/ulxjm.exe"
    refused "a second encrypt"
    ux status "$D"
    if [ "$RC" != 0 ] || ! grep -q '状态: 未加密' "$C/out"; then
      fail "status meanwhile: exit $RC, $(grep '状态' "$C/out")"
    fi
    finish_waiting
    is_encrypted "$D" || fail "the first encrypt did not encrypt the folder"
    decrypt_all "$D"
    same_tree "$TPL" "$D" "the folder"
  fi
  end_case

  new_case "decrypt waits at its password prompt; a second decrypt meanwhile"
  cp -a "$TPL" "$D"
  if encrypt_ok "$D" highest && start_waiting decrypt "$D"; then
    BEFORE=$(listing "$D")
    ux decrypt "$D" --password-stdin
    refused "a second decrypt"
    finish_waiting
    [ ! -e "$D/ulxjm" ] || fail "the store is still there"
    same_tree "$TPL" "$D" "the folder"
  fi
  end_case

  local kind
  for kind in encrypt-highest decrypt-highest; do
    new_case "$kind held mid-pass; a second ${kind%-*}, then status, meanwhile"
    setup "$kind" || { end_case; continue; }
    ref_counts "${PASS[@]}"
    if pause_mid_pass "${PASS[@]}"; then
      BEFORE=$(listing "$D")
      ux "${PASS[@]}"
      refused "a second ${kind%-*}"
      ux status "$D"
      [ "$RC" = 0 ] || fail "status while the pass runs ended with $RC"
      [ -d "/proc/$FIRST" ] || fail "the held pass ended before the others were done"
      wait_pid "$FIRST" 120
      [ "$RC" = 0 ] || fail "the held pass ended with $RC: $(tail -3 "$C/first.out")"
      [ "$kind" = decrypt-highest ] || decrypt_all "$D"
      same_tree "$TPL" "$D" "the folder"
    fi
    end_case
  done

  local round p1 p2 r1
  for round in 1 2 3; do
    new_case "two decrypts started together on one store, round $round"
    cp -a "$TPL" "$D"
    encrypt_ok "$D" highest || { end_case; continue; }
    "$ULXJM" decrypt "$D" --password-stdin <"$C/pw" >"$C/o1" 2>&1 &
    p1=$!
    "$ULXJM" decrypt "$D" --password-stdin <"$C/pw" >"$C/o2" 2>&1 &
    p2=$!
    wait_pid "$p1" 120
    r1=$RC
    wait_pid "$p2" 120
    say "     exit codes $r1 and $RC"
    case "$r1 $RC" in
      "0 2") grep -q "$MSG_BUSY\|没有加密" "$C/o2" || fail "the refused run says: $(cat "$C/o2")" ;;
      "2 0") grep -q "$MSG_BUSY\|没有加密" "$C/o1" || fail "the refused run says: $(cat "$C/o1")" ;;
      *) fail "want one run with 0 and one refused with 2" ;;
    esac
    [ ! -e "$D/ulxjm" ] || fail "the store is still there"
    same_tree "$TPL" "$D" "the folder"
    end_case
  done
}

# ---------------------------------------------------------------- a full disk

# A small tmpfs holds the folder; a filler leaves LEVEL KiB free.
make_disk_tree() {
  make_tree "$1"
  put "$1/大 文件.txt" $((300 * 1024))
}

fill_to() {
  local free
  rm -f "$MOUNTED/filler"
  free=$(($(stat -f -c '%a * %S' "$MOUNTED") - $1 * 1024))
  [ "$free" -le 0 ] || fallocate -l "$free" "$MOUNTED/filler"
  say "     free space now $(($(stat -f -c '%a * %S' "$MOUNTED") / 1024)) KiB"
}

disk() {
  local mnt=$WORK/mnt level rc
  mkdir -p "$mnt"
  if ! mount -t tmpfs -o size=3m,mode=0755 tmpfs "$mnt" 2>"$WORK/mount.err"; then
    say "skipped: cannot mount a tmpfs here: $(cat "$WORK/mount.err")"
    exit 77
  fi
  MOUNTED=$mnt
  template disk make_disk_tree

  for level in 0 4 16 48 120 200; do
    new_case "encrypt highest on a full disk, $level KiB free"
    rm -rf "${mnt:?}"/*
    D=$mnt/d
    cp -a "$TPL" "$D"
    fill_to "$level"
    ux encrypt "$D" --strength highest --password-stdin --yes --exe "$WORK/ulxjm.exe"
    rc=$RC
    say "     encrypt ended with $rc"
    if [ "$level" = 0 ] && [ "$rc" != 2 ]; then
      fail "no room even for the records: want exit 2, got $rc"
    elif [ "$rc" != 1 ] && [ "$rc" != 2 ]; then
      fail "the pass ran out of space: want exit 1 or 2, got $rc"
    fi
    if [ "$rc" = 2 ]; then
      [ ! -e "$D/ulxjm" ] || fail "refused, but an ulxjm folder was left"
      same_tree "$TPL" "$D" "the refused folder"
    fi
    rm -f "$mnt/filler"
    check_after encrypt-highest
    end_case
  done

  for level in 0 4 16 48 120 200; do
    new_case "decrypt highest on a full disk, $level KiB free"
    rm -rf "${mnt:?}"/*
    D=$mnt/d
    cp -a "$TPL" "$D"
    encrypt_ok "$D" highest || { end_case; continue; }
    BEFORE=$(listing "$D")
    fill_to "$level"
    ux decrypt "$D" --password-stdin
    rc=$RC
    say "     decrypt ended with $rc"
    [ "$rc" = 1 ] || [ "$rc" = 2 ] || fail "the pass ran out of space: want exit 1 or 2, got $rc"
    [ "$rc" != 2 ] || [ "$(listing "$D")" = "$BEFORE" ] || fail "refused, but the folder changed"
    rm -f "$mnt/filler"
    check_after decrypt-highest
    end_case
  done
}

# ---------------------------------------------------------------- names and links

names() {
  local sums
  new_case "links to a file outside and to siblings, highest strength"
  mkdir -p "$D/sub"
  put "$C/outside.txt" 1025
  put "$C/outside.bin" 3000
  put "$D/sib.txt" 1025
  put "$D/sib.bin" 3000
  put "$D/sub/s.jpg" 2000
  ln -s ../outside.txt "$D/out-rel.txt"
  ln -s "$C/outside.bin" "$D/out-abs.bin"
  ln -s sib.txt "$D/to-sib.txt"
  ln -s sib.bin "$D/to-sib.bin"
  ln -s ../sib.bin "$D/sub/up.bin"
  ln -s s.jpg "$D/sub/to-s.jpg"
  cp -a "$D" "$C/orig"
  sums=$(sha256sum "$C"/outside.*)
  ux encrypt "$D" --strength highest --password-stdin --yes --exe "$WORK/ulxjm.exe"
  say "     encrypt ended with $RC"
  crashed "$RC" && fail "encrypt crashed ($RC)"
  [ "$(sha256sum "$C"/outside.*)" = "$sums" ] || fail "encrypt changed the files outside"
  decrypt_all "$D"
  [ "$(sha256sum "$C"/outside.*)" = "$sums" ] || fail "decrypt changed the files outside"
  same_tree "$C/orig" "$D" "the folder with links"
  end_case

  new_case "add a name the store already holds: a.bin comes in as a[1].bin, encrypted"
  cp -a "$TPL" "$D"
  if encrypt_ok "$D" highest; then
    cp -a "$WORK/tpl/additions" "$C/s"
    ux add "$D" "$C/s/a.bin" --password-stdin
    say "     add ended with $RC"
    [ "$RC" = 0 ] || [ "$RC" = 1 ] || fail "add ended with $RC"
    local f="$D/ulxjm/ffffff/a[1].bin.zpwenc0"
    if [ -f "$f" ]; then
      [ "$(tail -c 9 "$f")" = tuotuoyan ] || fail "a[1].bin.zpwenc0 does not end in the maker word"
    else
      fail "no a[1].bin.zpwenc0 in the store: $(find "$D/ulxjm/ffffff" -mindepth 1 -maxdepth 1 -printf '%f ')"
    fi
    ux verify "$D" --password-stdin
    if [ "$RC" != 0 ] || ! grep -q '0 个会失败；0 个文件没有强度加密' "$C/out"; then
      fail "verify after the add: exit $RC: $(tail -1 "$C/out")"
    fi
    decrypt_all "$D"
    cp -a "$TPL" "$C/want"
    cp "$WORK/tpl/additions/a.bin" "$C/want/a[1].bin"
    same_tree "$C/want" "$D" "the folder"
  fi
  end_case
}

# ---------------------------------------------------------------- main

case $GROUP in
  kill-encrypt) for k in encrypt-normal encrypt-higher encrypt-highest; do sweep "$k"; done ;;
  kill-decrypt) for k in decrypt-normal decrypt-highest; do sweep "$k"; done ;;
  kill-store) for k in extract take add; do sweep "$k"; done ;;
  random) random_kills ;;
  race) race ;;
  disk) disk ;;
  names) names ;;
  *)
    echo "unknown group $GROUP" >&2
    exit 2
    ;;
esac
say "$GROUP: $CASES cases, $FAILS failures"
[ "$FAILS" = 0 ]
