#!/usr/bin/env bash
# Folders protected by the Windows build (run under Wine) open with the
# native command, and folders protected natively open with the Windows build:
# listed, verified, one file copied out, fully decrypted, every byte and every
# hidden/system mark back. Skipped (77) without a Windows build or Wine.
#   interop_test.sh NATIVE_ULXJM WIN_BUILD_DIR SOURCE_DIR
set -euo pipefail
native=$1
winbuild=$2
src=$3
wincli=$winbuild/src/cli/ulxjm-cli.exe
winexe=$winbuild/src/ui/ulxjm.exe
if [ ! -f "$wincli" ] || [ ! -f "$winexe" ] || ! command -v wine >/dev/null; then
  echo "skipped: needs $wincli, $winexe and Wine"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ulx-interop.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
cd "$work"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
win() { "$src/tools/wine-run" "$wincli" "$@"; }
mark() { setfattr -n user.DOSATTRIB -v "\"$2\"" "$1"; }
# Every entry with its hidden/system mark, for comparing two trees.
marks() {
  (cd "$1" && find . -mindepth 1 ! -name ulxjm.exe | LC_ALL=C sort | while read -r f; do
    printf '%s %s\n' "$f" "$(getfattr --only-values -n user.DOSATTRIB "$f" 2>/dev/null || true)"
  done)
}
fail() { echo "FAILED: $*" >&2; exit 1; }

make_folder() {
  mkdir -p "$1/照片/旅行 2024" "$1/文档"
  printf 'line 1\r\nline 2\r\n' >"$1/notes.txt"
  printf '中文内容\n' >"$1/文档/中文名字.txt"
  head -c 40000 /dev/urandom >"$1/照片/旅行 2024/sea.jpg"
  head -c 3000 /dev/urandom >"$1/hidden.bin"
  mark "$1/hidden.bin" 0x2
  mark "$1/notes.txt" 0x6
  mark "$1/文档" 0x2
  cp -a "$1" "$1.pristine"
}

check_back() {
  local dir=$1
  diff -r -x ulxjm.exe "$dir.pristine" "$dir" || fail "$dir: content differs after decryption"
  [ "$(marks "$dir.pristine")" = "$(marks "$dir")" ] || {
    diff <(marks "$dir.pristine") <(marks "$dir") >&2 || true
    fail "$dir: hidden/system marks differ after decryption"
  }
  [ ! -e "$dir/ulxjm" ] || fail "$dir: the store is still there"
}

for strength in normal highest; do
  echo "== Windows build protects ($strength), native command opens"
  d=W-$strength
  make_folder "$d"
  printf 'secret\n' | win encrypt "$d" --strength "$strength" --exe "$(winpath "$winexe")" \
    --password-stdin || fail "wine encrypt $d"
  [ -f "$d/ulxjm.exe" ] || fail "$d carries no ulxjm.exe"
  # Output is captured first: grep -q would end the pipe early (pipefail).
  out=$("$native" status "$d") && grep -q 已加密 <<<"$out" || fail "native status $d"
  out=$("$native" list "$d" 文档) && grep -q 中文名字.txt <<<"$out" || fail "native list $d"
  printf 'secret\n' | "$native" verify "$d" --password-stdin || fail "native verify $d"
  printf 'secret\n' | "$native" extract "$d" "照片/旅行 2024/sea.jpg" --to "out-$d" --password-stdin \
    || fail "native extract $d"
  cmp "out-$d/sea.jpg" "$d.pristine/照片/旅行 2024/sea.jpg" || fail "extracted file differs"
  printf 'secret\n' | "$native" decrypt "$d" --password-stdin || fail "native decrypt $d"
  check_back "$d"

  echo "== native command protects ($strength), Windows build opens"
  d=N-$strength
  make_folder "$d"
  printf 'secret\n' | "$native" encrypt "$d" --strength "$strength" --exe "$winexe" \
    --password-stdin || fail "native encrypt $d"
  out=$(win list "$d") && grep -q notes.txt <<<"$out" || fail "wine list $d"
  printf 'secret\n' | win verify "$d" --password-stdin || fail "wine verify $d"
  printf 'wrong\n' | win decrypt "$d" --password-stdin && fail "wine accepted a wrong password"
  printf 'secret\n' | win decrypt "$d" --password-stdin || fail "wine decrypt $d"
  check_back "$d"
done
echo "interoperability: all good"
