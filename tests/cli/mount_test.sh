#!/usr/bin/env bash
# `ulxjm mount` for real: stores made by the command at the three strengths
# are mounted and read with ordinary tools (ls, find, cp -r, sha256sum, dd
# seeking), compared byte for byte with the plain tree; sizes and times are
# the plain files'; every write is refused; a pass is refused while mounted;
# files that cannot be decrypted read as I/O errors with the reason in the
# log; each bad input is refused with its message and changes nothing; the
# protected folder is left exactly as it was, access times included.
# Skipped (77) where /dev/fuse is missing or mounting is not permitted.
#   mount_test.sh ULXJM
set -uo pipefail
ULXJM=$1
PW=mount-pw-1
FAILS=0

say() { printf '%s\n' "$*"; }
fail() {
  printf 'FAIL [%s]: %s\n' "$CASE" "$*"
  FAILS=$((FAILS + 1))
}
skip() {
  say "skipped: $*"
  exit 77
}

[ -e /dev/fuse ] || skip "no /dev/fuse on this machine"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ulx-mount.XXXXXX")
mounted=()
cleanup() {
  for m in "${mounted[@]}"; do
    fusermount3 -u -z "$m" 2>/dev/null || umount -l "$m" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/cfg" "$WORK/tmp" "$WORK/run"
chmod 700 "$WORK/run"
export XDG_CONFIG_HOME=$WORK/cfg TMPDIR=$WORK/tmp XDG_RUNTIME_DIR=$WORK/run
LOG=$WORK/run/ulxjm/easylog.txt
printf 'MZ stand-in\n' >"$WORK/ulxjm.exe"
SEED=${ULX_SEED:-$RANDOM}
say "dd offsets: ULX_SEED=$SEED"
RANDOM=$SEED

# ux ARGS...: the command with the password on standard input; output in
# $WORK/out, exit code in RC.
ux() {
  timeout -k 5 60 "$ULXJM" "$@" --password-stdin <<<"${UX_PW:-$PW}" >"$WORK/out" 2>&1
  RC=$?
}
# ux_plain ARGS...: the same without a password.
ux_plain() {
  timeout -k 5 60 "$ULXJM" "$@" >"$WORK/out" 2>&1
  RC=$?
}
is_mounted() { findmnt -rn -M "$1" >/dev/null 2>&1; }
do_mount() {
  ux mount "$1" "$2"
  if [ "$RC" = 0 ]; then mounted+=("$2"); fi
}

# Every object below a folder with its type, size, last write time and
# content digest, and access times too with `atime`: a folder is unchanged
# when this is. Read without touching access times itself (O_NOATIME).
state() {
  python3 - "$1" "${2:-}" <<'EOF'
import hashlib, os, stat, sys
root, with_atime = sys.argv[1], sys.argv[2] == 'atime'
flags = os.O_RDONLY | getattr(os, 'O_NOATIME', 0)
def walk(rel):
    fd = os.open(os.path.join(root, rel), flags | os.O_DIRECTORY)
    try:
        names = sorted(e.name for e in os.scandir(fd))
    finally:
        os.close(fd)
    for n in names:
        r = os.path.join(rel, n)
        st = os.lstat(os.path.join(root, r))
        line = f'{stat.filemode(st.st_mode)} {st.st_size} {st.st_mtime_ns} {r}'
        if with_atime:
            line += f' atime={st.st_atime_ns}'
        if stat.S_ISREG(st.st_mode):
            f = os.open(os.path.join(root, r), flags)
            h = hashlib.sha256()
            while chunk := os.read(f, 1 << 20):
                h.update(chunk)
            os.close(f)
            line += ' ' + h.hexdigest()
        print(line)
        if stat.S_ISDIR(st.st_mode):
            walk(r)
walk('')
EOF
}
# The plain tree's view: names, types, file sizes and last write times (to
# the microsecond: the store keeps 100 ns, FUSE passes microseconds here).
# A folder's own time is not the plain one: encryption renamed inside it.
listing() {
  (cd "$1" && find . -mindepth 1 \( -type d -printf 'd %p\n' \) -o -printf '%y %s %T@ %p\n' |
    sed -E 's/^([a-z] [0-9]+ [0-9]+\.[0-9]{6})[0-9]*/\1/' | LC_ALL=C sort)
}

make_tree() {
  mkdir -p "$1/文档/深 一层" "$1/media" "$1/empty folder"
  printf 'line 1\r\nline 2\r\n' >"$1/notes.txt"
  printf '中文内容\n' >"$1/文档/中文名字.txt"
  : >"$1/empty.bin"
  : >"$1/empty.txt"
  head -c 1024 /dev/urandom >"$1/block.bin"
  head -c 1025 /dev/urandom >"$1/block1.dat"
  head -c 3000000 /dev/urandom >"$1/文档/深 一层/big, with comma.txt"
  head -c 2500000 /dev/urandom >"$1/media/clip.mp4"
  head -c 70000 /dev/urandom >"$1/media/page.html"
  head -c 100 /dev/urandom >"$1/文档/a.c"
  touch -d '2020-02-03 04:05:06.789' "$1/media/clip.mp4" "$1/notes.txt"
}

# Whether this machine lets us mount at all: a tiny store, mounted once.
probe_mount() {
  CASE=probe
  mkdir -p "$WORK/probe/d" "$WORK/probe/m"
  printf 'x' >"$WORK/probe/d/x.bin"
  ux encrypt "$WORK/probe/d" --strength highest --yes --exe "$WORK/ulxjm.exe"
  [ "$RC" = 0 ] || { cat "$WORK/out"; fail "cannot make the probe store"; exit 1; }
  do_mount "$WORK/probe/d" "$WORK/probe/m"
  if [ "$RC" != 0 ]; then
    if grep -q '不能挂载\|/dev/fuse' "$WORK/out"; then skip "mounting is not permitted here: $(cat "$WORK/out")"; fi
    cat "$WORK/out"
    fail "the probe mount failed"
    exit 1
  fi
  ux_plain umount "$WORK/probe/m"
}
probe_mount

# ---------------------------------------------------------------- reading

read_case() {
  local strength=$1
  CASE="read $strength"
  say "---- $CASE"
  local P=$WORK/plain-$strength D=$WORK/store-$strength M=$WORK/m-$strength
  make_tree "$P"
  cp -a "$P" "$D"
  mkdir -p "$M"
  ux encrypt "$D" --strength "$strength" --yes --exe "$WORK/ulxjm.exe"
  [ "$RC" = 0 ] || { cat "$WORK/out"; fail "encrypt"; return; }
  local before
  before=$(state "$D" atime)

  do_mount "$D" "$M"
  [ "$RC" = 0 ] || { cat "$WORK/out"; fail "mount"; return; }
  is_mounted "$M" || fail "the command returned but nothing is mounted"

  # Names, types, sizes and times of the plain tree.
  [ "$(listing "$P")" = "$(listing "$M")" ] || {
    diff <(listing "$P") <(listing "$M") | head -20
    fail "find shows another tree"
  }
  ls -la "$M" "$M/文档/深 一层" >/dev/null || fail "ls"
  # Contents with ordinary tools.
  [ "$(cd "$P" && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)" = \
    "$(cd "$M" && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)" ] || fail "sha256sum differs"
  cp -r "$M" "$WORK/copy-$strength" || fail "cp -r"
  diff -r "$P" "$WORK/copy-$strength" >/dev/null || fail "cp -r gave other bytes"
  # Seeking, as a player does: pieces at random offsets.
  local f off n
  for f in "文档/深 一层/big, with comma.txt" media/clip.mp4 block1.dat; do
    for _ in 1 2 3 4 5; do
      off=$(( (RANDOM * 32768 + RANDOM) % $(stat -c %s "$P/$f") ))
      n=$(( RANDOM % 5000 + 1 ))
      cmp <(dd if="$P/$f" bs=1 skip="$off" count="$n" iflag=skip_bytes,count_bytes 2>/dev/null) \
          <(dd if="$M/$f" bs=65536 skip="$off" count="$n" iflag=skip_bytes,count_bytes 2>/dev/null) \
        >/dev/null || fail "$f: bytes at $off (+$n) differ"
    done
  done

  # Every change is refused as a read-only file system.
  local e
  refused() {
    e=$("$@" 2>&1) && fail "allowed: $*"
    case $e in *Read-only*) ;; *) fail "not EROFS: $* ($e)" ;; esac
  }
  refused sh -c "echo x > '$M/new.txt'"
  refused sh -c "echo x >> '$M/notes.txt'"
  refused rm -f "$M/notes.txt"
  refused mv "$M/notes.txt" "$M/moved.txt"
  refused mkdir "$M/newdir"
  refused rmdir "$M/empty folder"
  refused chmod 600 "$M/notes.txt"
  refused touch "$M/notes.txt"
  refused truncate -s 0 "$M/block.bin"
  refused ln -s notes.txt "$M/link"
  refused setfattr -n user.x -v 1 "$M/notes.txt"

  # The mount holds the folder: passes and a second mount are refused.
  ux decrypt "$D"
  [ "$RC" = 2 ] && grep -q '该文件夹正在被另一个岚栩只读加密处理' "$WORK/out" ||
    fail "decrypt while mounted: $RC $(cat "$WORK/out")"
  ux add "$D" "$WORK/ulxjm.exe"
  [ "$RC" = 2 ] || fail "add while mounted: $RC"
  mkdir -p "$M.2"
  do_mount "$D" "$M.2"
  [ "$RC" = 2 ] && grep -q '该文件夹正在被另一个岚栩只读加密处理' "$WORK/out" ||
    fail "second mount: $RC $(cat "$WORK/out")"

  ux_plain umount "$M"
  [ "$RC" = 0 ] || { cat "$WORK/out"; fail "umount"; }
  is_mounted "$M" && fail "still mounted after umount"
  [ -z "$(ls -A "$M")" ] || fail "the mount point is not empty after umount"
  # Nothing was written into the folder, not even an access time.
  [ "$before" = "$(state "$D" atime)" ] || {
    diff <(printf '%s\n' "$before") <(state "$D" atime) | head -20
    fail "the protected folder changed"
  }
  # Right after umount the folder is free again.
  ux decrypt "$D"
  [ "$RC" = 0 ] || fail "decrypt after umount: $RC $(cat "$WORK/out")"
  diff -r -x ulxjm.exe -x desktop.ini "$P" "$D" >/dev/null || fail "decrypted tree differs"
}

for s in normal higher highest; do read_case "$s"; done

# ---------------------------------------------------------------- foreground

CASE="foreground"
say "---- $CASE"
D=$WORK/fg M=$WORK/m-fg
mkdir -p "$D" "$M"
printf 'in the foreground\n' >"$D/fg.txt"
ux encrypt "$D" --strength higher --yes --exe "$WORK/ulxjm.exe"
"$ULXJM" mount "$D" "$M" -f --password-stdin <<<"$PW" >"$WORK/fg.out" 2>&1 &
fg_pid=$!
mounted+=("$M")
for _ in $(seq 1000); do is_mounted "$M" && break; kill -0 "$fg_pid" 2>/dev/null || break; sleep 0.01; done
[ "$(cat "$M/fg.txt" 2>&1)" = "in the foreground" ] || fail "read in the foreground: $(cat "$WORK/fg.out")"
kill -0 "$fg_pid" 2>/dev/null || fail "the command did not stay in the foreground"
# A signal ends it (SIGTERM: a background job of a script ignores SIGINT):
# unmounted, exit 0, the folder free again.
kill -TERM "$fg_pid"
wait "$fg_pid"
RC=$?
[ "$RC" = 0 ] || fail "exit $RC after Ctrl+C: $(cat "$WORK/fg.out")"
is_mounted "$M" && fail "still mounted after Ctrl+C"
flock -n "$D" true || fail "the folder is still locked"

# ---------------------------------------------------------------- damaged files

CASE="unreadable files"
say "---- $CASE"
D=$WORK/bad M=$WORK/m-bad
mkdir -p "$D" "$M" "$WORK/other"
printf 'good content\n' >"$D/good.txt"
head -c 5000 /dev/urandom >"$D/damaged.bin"
head -c 5000 /dev/urandom >"$WORK/other/foreign.bin"
ux encrypt "$D" --strength highest --yes --exe "$WORK/ulxjm.exe"
UX_PW=another-pw ux encrypt "$WORK/other" --strength highest --yes --exe "$WORK/ulxjm.exe"
# A file of another password inside the store, and a trailer whose plain
# length no longer fits the file.
mv "$WORK/other/ulxjm/ffffff/foreign.bin.zpwenc0" "$D/ulxjm/ffffff/"
python3 - "$D/ulxjm/ffffff/damaged.bin.zpwenc0" <<'EOF'
import sys
p = sys.argv[1]
b = bytearray(open(p, 'rb').read())
n1, n2 = int(b[-13:-11]), int(b[-11:-9])
at = len(b) - (n1 + n2 + 48) + 34
b[at] = ord('1') if b[at] != ord('1') else ord('2')
open(p, 'wb').write(b)
EOF
before=$(state "$D" atime)
do_mount "$D" "$M"
[ "$RC" = 0 ] || { cat "$WORK/out"; fail "mount"; }
[ "$(cat "$M/good.txt")" = "good content" ] || fail "good.txt"
for f in damaged.bin foreign.bin; do
  [ -e "$M/$f" ] || fail "$f is not listed"
  e=$(cat "$M/$f" 2>&1 >/dev/null) && fail "$f read without error"
  case $e in *"Input/output error"*) ;; *) fail "$f: not EIO ($e)" ;; esac
done
# The log is in the ANSI code page (936).
iconv -f GBK -t UTF-8 "$LOG" >"$WORK/log.txt" 2>/dev/null || cp "$LOG" "$WORK/log.txt"
grep -q "damaged.bin.zpwenc0 强度解密失败,加密信息已损坏" "$WORK/log.txt" || fail "no damaged-trailer reason in the log"
grep -q "foreign.bin.zpwenc0 强度解密失败,强度解密密码错误" "$WORK/log.txt" || fail "no wrong-password reason in the log"
ux_plain umount "$M"
[ "$before" = "$(state "$D" atime)" ] || fail "the protected folder changed"

# ---------------------------------------------------------------- bad input

# refuse_case WHAT PATTERN ARGS...: the mount is refused with exit 2 and a
# message matching PATTERN, nothing is mounted and the folder is unchanged.
refuse_case() {
  CASE="refused: $1"
  local pattern=$2
  shift 2
  local before fails=$FAILS
  before=$(state "$D" atime)
  "$@"
  [ "$RC" = 2 ] || fail "exit $RC: $(cat "$WORK/out")"
  grep -q -- "$pattern" "$WORK/out" || fail "message: $(cat "$WORK/out")"
  is_mounted "$M" && { fail "mounted"; ux_plain umount "$M"; }
  [ "$before" = "$(state "$D" atime)" ] || fail "the folder changed"
  [ "$FAILS" = "$fails" ] && say "ok   $CASE"
}
D=$WORK/bad
M=$WORK/m-refused
mkdir -p "$M" "$WORK/plainfolder" "$WORK/full"
touch "$WORK/full/x" "$WORK/afile"
UX_PW=wrong refuse_case "wrong password" '密码不正确' ux mount "$D" "$M"
refuse_case "no store" '没有加密' ux mount "$WORK/plainfolder" "$M"
refuse_case "no folder" '找不到文件夹' ux mount "$WORK/missing" "$M"
refuse_case "mount point missing" '找不到挂载点' ux mount "$D" "$WORK/nowhere"
refuse_case "mount point not empty" '不是空文件夹' ux mount "$D" "$WORK/full"
refuse_case "mount point a file" '不是文件夹' ux mount "$D" "$WORK/afile"
refuse_case "mount point inside the folder" '在加密文件夹之中' ux mount "$D" "$D/ulxjm"
refuse_case "umount of something else" '不是岚栩只读加密的挂载点' ux_plain umount "$WORK/full"

# A pass at work on the folder holds its lock.
flock "$D" sleep 30 &
holder=$!
for _ in $(seq 500); do flock -n "$D" true 2>/dev/null || break; sleep 0.01; done
refuse_case "a pass holds the folder" '该文件夹正在被另一个岚栩只读加密处理' ux mount "$D" "$M"
# The sleep holds the lock's descriptor: ending it ends flock too.
kill $(pgrep -P "$holder") 2>/dev/null
wait "$holder" 2>/dev/null

# What an interrupted pass left is not settled by the mount.
printf 'left by a killed pass' >"$D/ulxjm/paramff/journalff.ulxjm"
refuse_case "unsettled journal" 'ulxjm status' ux mount "$D" "$M"
[ "$(cat "$D/ulxjm/paramff/journalff.ulxjm")" = 'left by a killed pass' ] || fail "the journal was touched"
rm -f "$D/ulxjm/paramff/journalff.ulxjm"

# Without /dev/fuse (a private /dev without it; needs root).
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  CASE="refused: no /dev/fuse"
  before=$(state "$D" atime)
  unshare -m bash -c "mount -t tmpfs none /dev && '$ULXJM' mount '$D' '$M' --password-stdin <<<'$PW'" \
    >"$WORK/out" 2>&1
  RC=$?
  [ "$RC" = 2 ] && grep -q '/dev/fuse' "$WORK/out" || fail "exit $RC: $(cat "$WORK/out")"
  [ "$before" = "$(state "$D" atime)" ] || fail "the folder changed"
  say "ok   $CASE"
else
  say "(no /dev/fuse case skipped: needs root and unshare)"
fi

# Without the right to use FUSE: another user, where /dev/fuse is not
# theirs and the helper cannot mount for them.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  CASE="refused: no permission"
  N=$WORK/nobody
  mkdir -p "$N/d" "$N/m"
  printf 'x' >"$N/d/x.bin"
  ux encrypt "$N/d" --strength highest --yes --exe "$WORK/ulxjm.exe"
  chmod -R a+rwX "$N" "$WORK"
  # Another user may not keep access times (O_NOATIME is the owner's).
  before=$(state "$N/d")
  setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_RUNTIME_DIR= TMPDIR=$N \
    XDG_CONFIG_HOME=$N "$ULXJM" mount "$N/d" "$N/m" --password-stdin <<<"$PW" >"$WORK/out" 2>&1
  RC=$?
  if [ "$RC" = 0 ]; then
    say "(no-permission case not reachable: other users may mount here)"
    fusermount3 -u "$N/m" 2>/dev/null
  else
    [ "$RC" = 2 ] && grep -q '不能挂载\|/dev/fuse' "$WORK/out" || fail "exit $RC: $(cat "$WORK/out")"
    is_mounted "$N/m" && fail "mounted"
    [ "$before" = "$(state "$N/d")" ] || fail "the folder changed"
    say "ok   $CASE"
  fi
fi

say "$FAILS failure(s)"
[ "$FAILS" = 0 ]
