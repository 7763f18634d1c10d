#!/usr/bin/env bash
# The self-update through the system's web client under Wine: starts a local
# web server (serve_update.py) on a free port, runs the Windows test program
# against it and stops the server. Exit code 77 (skipped) without python3.
#
#   http_update.sh <emulator> <update_http.exe> <ulxjm.exe>
set -euo pipefail
emulator=$1 test_exe=$2 program=$3
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v python3 >/dev/null; then
  echo "skipped: python3 is missing, and the update test needs it for its local web server"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/ulx-http-update.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/www"
: >"$work/requests.log"
# Its own session, so nothing sent to the test's group reaches it and it
# never holds ctest's output.
setsid python3 "$here/serve_update.py" "$work/www" "$work/port" "$work/requests.log" \
  </dev/null >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
if [ ! -s "$work/port" ]; then
  echo "the local web server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi
read -r port second <"$work/port"

winpath() { "$emulator" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
export ULX_HTTP_PORT=$port ULX_HTTP_SECOND=$second
ULX_HTTP_ROOT=$(winpath "$work/www")
ULX_HTTP_LOG=$(winpath "$work/requests.log")
ULX_HTTP_PROGRAM=$(winpath "$program")
export ULX_HTTP_ROOT ULX_HTTP_LOG ULX_HTTP_PROGRAM
# Some systems route loopback through a proxy otherwise.
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
status=0
"$emulator" "$test_exe" || status=$?
if [ $status -ne 0 ]; then
  echo "---- requests the server saw:"
  cat "$work/requests.log"
fi
exit $status
