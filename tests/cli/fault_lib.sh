# Helpers of the fault tests (sourced by fault_test.sh): a private place per
# case, the trees, listings and comparisons, the checks after a killed pass.
# Needs ULXJM (the built command) and WORK (a scratch folder) set.

PW=fault-pw-1
FAILS=0
CASES=0

say() { printf '%s\n' "$*"; }
fail() {
  printf 'FAIL [%s]: %s\n' "${CASE_NAME:-?}" "$*"
  FAILS=$((FAILS + 1))
  CASE_OK=0
}

# new_case NAME: a fresh folder with its own settings, temporary folder and
# home, so no case sees another's settings (the pass state lives there).
new_case() {
  CASES=$((CASES + 1))
  CASE_NAME=$1
  CASE_OK=1
  C=$WORK/c$CASES
  D=$C/d
  rm -rf "$C"
  mkdir -p "$C/cfg" "$C/tmp" "$C/home"
  export XDG_CONFIG_HOME=$C/cfg TMPDIR=$C/tmp HOME=$C/home XDG_DATA_HOME=$C/home/data
  printf '%s\n' "$PW" >"$C/pw"
  say "---- $CASE_NAME"
}

# end_case: prints the verdict and drops the case's files when it passed.
end_case() {
  if [ "$CASE_OK" = 1 ]; then
    say "ok   $CASE_NAME"
    rm -rf "$C"
  elif [ -n "${FAULT_KEEP:-}" ]; then
    # A folder outside the case (the full-disk mount) is copied in first.
    case $D in "$C"/*) ;; *) cp -a "$D" "$C/folder" 2>/dev/null ;; esac
    say "     (files kept in $C)"
  else
    rm -rf "$C"
  fi
}

# ux ARGS...: the command, bounded; the password comes from $C/pw.
# Output goes to $C/out; the exit code is in RC.
ux() {
  timeout -k 5 "${UX_TIMEOUT:-120}" "$ULXJM" "$@" <"$C/pw" >"$C/out" 2>&1
  RC=$?
}

crashed() { [ "$1" -ge 124 ]; }

# ---------------------------------------------------------------- trees

# put PATH BYTES: a file of that size whose bytes do not compress, cut from
# one generated stream; trees are made in a fixed order, so every run makes
# the same bytes.
PUT_COUNT=0
put() {
  local blob=$WORK/.blob
  [ -f "$blob" ] ||
    openssl enc -aes-128-ctr -nosalt -K 00112233445566778899aabbccddeeff -iv 0 -in /dev/zero \
      2>/dev/null | head -c $((8 * 1024 * 1024)) >"$blob"
  PUT_COUNT=$((PUT_COUNT + 1))
  [ -d "${1%/*}" ] || mkdir -p "${1%/*}"
  dd if="$blob" of="$1" bs=64K iflag=skip_bytes,count_bytes status=none count="$2" \
    skip=$((PUT_COUNT * 1000003 % (8388608 - $2 + 1)))
}

# The tree every kill runs on: nested folders, sizes around the first block,
# whole-file and first-block names, Chinese names with spaces, an empty folder.
make_tree() {
  local t=$1
  mkdir -p "$t"
  put "$t/top.txt" 1025
  put "$t/0.bin" 0
  put "$t/1.bin" 1
  put "$t/b1023.dat" 1023
  put "$t/b1024.jpg" 1024
  put "$t/b1025.mp4" 1025
  put "$t/a.bin" 1023
  put "$t/我的 文件夹/说明 文件.txt" 1024
  put "$t/我的 文件夹/照片 1.jpg" 102400
  put "$t/我的 文件夹/空.TXT" 0
  mkdir -p "$t/我的 文件夹/空的 文件夹"
  put "$t/a/b/c/deep.TXT" 102400
  put "$t/a/b/c/deep.bin" 102400
  put "$t/a/b/one.html" 1
  put "$t/a/b/1023.ini" 1023
  put "$t/a/x.c" 1025
}

# Files `add` moves in: one of them collides with "a.bin" in the store.
make_additions() {
  local t=$1
  put "$t/a.bin" 1025
  put "$t/新 文件.txt" 1025
  put "$t/more/big.bin" 102400
  put "$t/more/note.txt" 1
  put "$t/more/长.txt" $((256 * 1024))
}

# template NAME MAKER: the tree made once per run, copied for every case.
template() {
  local dir=$WORK/tpl/$1
  if [ ! -d "$dir" ]; then
    "$2" "$dir"
  fi
  TPL=$dir
}

# ---------------------------------------------------------------- listings

# listing DIR: one line per entry (type, path, size and hash, or link target),
# sorted. The program placed at the top ("ulxjm.exe") stays after decryption
# by design and is left out.
listing() {
  [ -d "$1" ] || return 0
  (
    cd "$1" || exit 1
    find . -mindepth 1 ! -path ./ulxjm.exe -printf '%y\t%P\t%s\t%l\n' |
      awk -F'\t' 'NR == FNR { h[$2] = $1; next }
        $1 == "f" { print "f " $2 " " $3 " " h[$2]; next }
        $1 == "l" { print "l " $2 " -> " $4; next }
        { print $1 " " $2 }' <(find . -mindepth 1 ! -path ./ulxjm.exe -type f -print0 |
        xargs -0 -r sha256sum | sed 's|^\([0-9a-f]\{16\}\)[0-9a-f]*  \./|\1\t|') - |
      LC_ALL=C sort -k2
  )
}

# files_listing DIR: the file lines of a listing only.
files_listing() { listing "$1" | grep '^[fl] ' || true; }

# same_tree EXPECTED ACTUAL WHAT: byte-exact, names, places, links, folders.
same_tree() {
  local d
  if ! d=$(diff -r --no-dereference -x ulxjm.exe "$1" "$2" 2>&1); then
    fail "$3: differs from the original (diff -r):"
    printf '%s\n' "$d" | head -20 | sed 's/^/       /'
  fi
  if ! d=$(diff <(listing "$1") <(listing "$2")); then
    fail "$3: listing differs (< original, > now):"
    printf '%s\n' "$d" | head -20 | sed 's/^/       /'
  fi
}

# working_files DIR: our working names left anywhere below DIR.
working_files() {
  find "$1" \( -name '*.tmp' -o -iname '*.zpwenc0' -o -iname '*.elxjm' -o -iname '*.lxm?' \) \
    -print 2>/dev/null
}

is_encrypted() { [ -d "$1/ulxjm/ffffff" ]; }

# ---------------------------------------------------------------- after a fault

# recover DIR: the next command after a killed pass, and the checks that it
# finished or undid the interrupted work. Sets ENC=1 when the folder is still
# encrypted. $1 is the folder; $2 the command that comes next (default status).
recover() {
  local dir=$1 next=${2:-status}
  case $next in
    status) ux status "$dir" ;;
    list) ux list "$dir" ;;
    verify) ux verify "$dir" --password-stdin ;;
  esac
  # list and verify refuse a folder that is not encrypted (any more).
  if [ "$RC" = 2 ] && [ "$next" != status ] && ! is_encrypted "$dir" &&
    grep -q '没有加密' "$C/out"; then
    RC=0
  fi
  if crashed "$RC" || [ "$RC" -gt 1 ]; then
    fail "ulxjm $next after the kill ended with $RC:"
    sed 's/^/       /' "$C/out" | head -5
  fi
  ENC=0
  if [ "$next" = status ] && grep -q '状态: 未加密' "$C/out"; then
    is_encrypted "$dir" && fail "status says not encrypted but $dir/ulxjm/ffffff is there"
  elif is_encrypted "$dir"; then
    ENC=1
  fi
  local left
  left=$(find "$dir" -name '*.tmp' 2>/dev/null | head -5)
  [ -z "$left" ] || fail "working files left after ulxjm $next: ${left//$'\n'/ }"
}

# decrypt_all DIR: a full decryption that must end with 0 and leave no store.
decrypt_all() {
  ux decrypt "$1" --password-stdin
  if [ "$RC" != 0 ]; then
    fail "decrypt after the fault ended with $RC:"
    sed 's/^/       /' "$C/out" | tail -8
  fi
  [ ! -e "$1/ulxjm" ] || fail "the store $1/ulxjm is still there after decrypt"
}

# encrypt_ok DIR STRENGTH: set-up encryption that has to succeed.
encrypt_ok() {
  ux encrypt "$1" --strength "$2" --password-stdin --yes --exe "$WORK/ulxjm.exe"
  if [ "$RC" != 0 ]; then
    fail "set-up: encrypt $2 ended with $RC"
    sed 's/^/       /' "$C/out" | tail -5
    return 1
  fi
}

# wait_for SECONDS COMMAND...: polls every 20 ms until COMMAND succeeds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.02
  done
}

# at_stdin_read PID: the process is blocked reading its standard input.
at_stdin_read() { read -r nr fd _ <"/proc/$1/syscall" 2>/dev/null && [ "$nr" = 0 ] && [ "$fd" = 0x0 ]; }

# lines_at_least FILE PATTERN N: FILE has at least N lines matching PATTERN.
lines_at_least() { [ "$(grep -c -- "$2" "$1" 2>/dev/null)" -ge "$3" ]; }

# ---------------------------------------------------------------- passes

# setup KIND: makes $D (and $C/s for add) from the template $TPL, encrypting
# first where the pass needs a store; PASS gets the pass's arguments.
# KIND: encrypt-normal|higher|highest, decrypt-normal|highest, extract, take, add.
setup() {
  local more=()
  # The bigger trees have more to copy out and take.
  [ ! -e "$TPL/多" ] || more=(多 "长 文件.txt")
  cp -a "$TPL" "$D"
  case $1 in
    encrypt-*)
      PASS=(encrypt "$D" --strength "${1#encrypt-}" --password-stdin --yes --exe "$WORK/ulxjm.exe")
      ;;
    decrypt-*)
      encrypt_ok "$D" "${1#decrypt-}" || return 1
      PASS=(decrypt "$D" --password-stdin)
      ;;
    extract)
      encrypt_ok "$D" highest || return 1
      PASS=(extract "$D" "我的 文件夹" a top.txt "${more[@]}" --to "$C/dest" --password-stdin)
      ;;
    take)
      encrypt_ok "$D" highest || return 1
      PASS=(take "$D" a/b "我的 文件夹/照片 1.jpg" b1025.mp4 "${more[@]}" --to "$C/dest" --password-stdin)
      ;;
    add)
      encrypt_ok "$D" highest || return 1
      cp -a "$WORK/tpl/additions" "$C/s"
      PASS=(add "$D" "$C/s/a.bin" "$C/s/新 文件.txt" "$C/s/more" --password-stdin)
      ;;
  esac
}

# check_after KIND [NEXT]: after a fault in the pass of KIND, the next command
# (NEXT, default status), a full decryption when the folder is still
# encrypted, and every file back exactly once.
check_after() {
  local kind=$1 left
  recover "$D" "${2:-status}"
  [ "$ENC" = 0 ] || decrypt_all "$D"
  if [ ! -e "$D/ulxjm" ]; then
    left=$(working_files "$D" | head -5)
    [ -z "$left" ] || fail "working files left in the folder: ${left//$'\n'/ }"
  fi
  case $kind in
    take)
      # Each file either came out or went back into the folder, once.
      same_files <(files_listing "$D"; files_listing "$C/dest" | grep -v '\.tmp ') \
        <(files_listing "$TPL") "the folder and the destination together"
      ;;
    add)
      # Each addition either stayed where it was or came in under its new name.
      same_files <(files_listing "$D"; files_listing "$C/s" | sed 's|^f a\.bin |f a[1].bin |') \
        <(files_listing "$TPL"; files_listing "$WORK/tpl/additions" |
          sed 's|^f a\.bin |f a[1].bin |') "the folder and the added files together"
      ;;
    *)
      same_tree "$TPL" "$D" "the folder"
      ;;
  esac
  if [ "$kind" = extract ] && [ -d "$C/dest" ]; then
    # A copy out never shows a partial file under its own name.
    local bad
    bad=$(files_listing "$C/dest" | grep -v '\.tmp ' | LC_ALL=C sort |
      LC_ALL=C comm -23 - <(files_listing "$TPL" | LC_ALL=C sort))
    [ -z "$bad" ] || fail "copies out that are not the original: ${bad//$'\n'/; }"
  fi
}

# same_files ACTUAL EXPECTED WHAT: two lists of file lines, order ignored.
same_files() {
  local d
  if ! d=$(diff <(LC_ALL=C sort "$1") <(LC_ALL=C sort "$2")); then
    fail "$3: files differ from the original (> original, < now):"
    printf '%s\n' "$d" | head -20 | sed 's/^/       /'
  fi
}

# thread_counts TRACE: "syscall most-calls-of-one-thread" per traced call of
# an `strace -f -o TRACE` log (injections count per thread).
thread_counts() {
  [ -f "$1" ] || return 0
  awk '$2 ~ /^[a-z0-9_]+\(/ { n = $2; sub(/\(.*/, "", n); c[$1 " " n]++ }
    END { for (k in c) { split(k, p, " "); if (c[k] > m[p[2]]) m[p[2]] = c[k] }
          for (s in m) print s, m[s] }' "$1"
}
