#!/usr/bin/env bash
# Marks between Samba and the platform layer on one folder: a Samba of this
# machine serves it on a loopback port ("store dos attributes = yes", so
# Samba keeps marks in user.DOSATTRIB in its binary form); smbclient sets
# marks that ulxattr must read, ulxattr sets marks smbclient must see, and a
# change made by ulxattr keeps Samba's creation time.
#
#   samba_marks_test.sh ULXATTR
#
# Exits 77 (skipped) with the reason when smbd or smbclient is missing or
# smbd cannot start (it needs root here); 1 on the first mismatch.
set -uo pipefail
ulxattr=${1:?usage: samba_marks_test.sh ULXATTR}

skip() { echo "SKIP: $*"; exit 77; }
command -v smbd >/dev/null || skip "smbd is not installed (apt-get install samba)"
command -v smbclient >/dev/null || skip "smbclient is not installed (apt-get install smbclient)"
command -v smbpasswd >/dev/null || skip "smbpasswd is not installed"
[ "$(id -u)" -eq 0 ] || skip "smbd needs root to serve a share here"

w=$(mktemp -d "${TMPDIR:-/tmp}/ulx-samba.XXXXXX")
share=$w/share
mkdir -p "$share" "$w/private" "$w/lock" "$w/state" "$w/cache" "$w/pid" "$w/ncalrpc"
port=$((45000 + $$ % 1000))
pid=
cleanup() {
  [ -n "$pid" ] && kill -- "-$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$w"
}
trap cleanup EXIT

cat >"$w/smb.conf" <<EOF
[global]
  smb ports = $port
  interfaces = lo
  bind interfaces only = yes
  server role = standalone server
  private dir = $w/private
  lock directory = $w/lock
  state directory = $w/state
  cache directory = $w/cache
  pid directory = $w/pid
  ncalrpc dir = $w/ncalrpc
  log file = $w/smbd.log
  passdb backend = tdbsam:$w/private/passdb.tdb
  load printers = no
  disable spoolss = yes
  store dos attributes = yes
  map hidden = no
  map system = no
  map archive = no
  map readonly = no
[share]
  path = $share
  read only = no
EOF
pw=ulx-samba-pw
printf '%s\n%s\n' "$pw" "$pw" | smbpasswd -c "$w/smb.conf" -s -a root >/dev/null ||
  skip "smbpasswd could not add the test user"
# A session of its own: smbd signals its whole process group when it stops,
# which must not reach whoever runs this script.
setsid smbd -s "$w/smb.conf" --foreground --no-process-group >"$w/smbd.out" 2>&1 &
pid=$!

smb() { timeout 20 smbclient "//127.0.0.1/share" -p "$port" -U "root%$pw" -s "$w/smb.conf" -c "$1" 2>&1; }
up=0
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  if smb 'ls' >/dev/null; then up=1; break; fi
  sleep 0.2
done
[ "$up" = 1 ] || skip "smbd did not start: $(tail -3 "$w/smbd.out" "$w/smbd.log" 2>/dev/null | tr '\n' ' ')"

fails=0
check() { # check WHAT GOT WANT
  if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: got '$2', want '$3'"; fails=$((fails + 1)); fi
}
# Attribute word Samba reports for NAME, as a number.
samba_attrs() { smb "allinfo \"$1\"" | sed -n 's/^attributes:.*(\([0-9a-fA-F]*\)).*/\1/p'; }
samba_ctime() { smb "allinfo \"$1\"" | sed -n 's/^create_time:[[:space:]]*//p'; }
# Hidden|system bits as ulxattr reads them, and as Samba reports them.
ours() { echo $(( $("$ulxattr" get "$share/$1") & 0x6 )); }
theirs() { echo $(( 0x$(samba_attrs "$1") & 0x6 )); }

# Samba marks, the platform layer reads: a file, a folder, a Chinese name.
printf 'x' >"$w/local"
smb "put \"$w/local\" file.txt; mkdir 相册; put \"$w/local\" 笔记.txt" >/dev/null
smb 'setmode file.txt +h' >/dev/null
smb 'setmode file.txt +s' >/dev/null
smb 'setmode 相册 +h' >/dev/null
smb 'setmode 笔记.txt +s' >/dev/null
check "Samba's form on disk is binary" \
  "$(getfattr --only-values -n user.DOSATTRIB "$share/file.txt" 2>/dev/null | head -c 1 | od -An -tx1 | tr -d ' ')" "00"
check "hidden|system file set by Samba" "$(ours file.txt)" 6
check "hidden folder set by Samba" "$(ours 相册)" 2
check "system file with a Chinese name" "$(ours 笔记.txt)" 4

# The platform layer changes Samba's marks: Samba sees the change, and the
# creation time it keeps in the same value stays.
# A creation time of its own, so that losing it shows (the folder's birth
# time would otherwise stand in for it).
smb 'utimes 相册 2001:02:03-04:05:06 -1 -1 -1' >/dev/null
before=$(samba_ctime 相册)
case $before in *2001*) echo "ok   Samba keeps the creation time it was given" ;;
  *) echo "FAIL Samba did not set the creation time ($before)"; fails=$((fails + 1)) ;; esac
"$ulxattr" set "$share/相册" 0x14 >/dev/null
check "Samba sees the folder's new marks" "$(theirs 相册)" 4
check "Samba's creation time kept" "$(samba_ctime 相册)" "$before"
"$ulxattr" set "$share/file.txt" 0x0 >/dev/null
check "Samba sees the cleared marks" "$(theirs file.txt)" 0

# The platform layer marks new objects (text form); Samba reads them.
mkdir "$share/ours-dir"
printf 'y' >"$share/ours.txt"
"$ulxattr" set "$share/ours-dir" 0x16 >/dev/null
"$ulxattr" set "$share/ours.txt" 0x2 >/dev/null
check "Samba sees our folder hidden|system" "$(theirs ours-dir)" 6
check "Samba sees our file hidden" "$(theirs ours.txt)" 2

if [ "$fails" -ne 0 ]; then
  echo "$fails check(s) failed; smbd log:"
  tail -20 "$w/smbd.log" 2>/dev/null
  exit 1
fi
echo "all Samba mark checks passed"
