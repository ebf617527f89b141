#!/usr/bin/env bash
# A COM port that does not exist: the converter still answers, refuses the connection and the
# host keeps running, on Windows as on Linux.
#   missing-port.sh COM-NUMBER
source "$(dirname "$0")/session-lib.sh"
com=$1
port="\\\\.\\COM$com"
rm -f "$WINEPREFIX/dosdevices/com$com"
# On Linux COM<n> is /dev/ttyS<n-1> unless SERICAN_COM<n> names another device: absent as well.
unset "SERICAN_COM$com"
ends=(windows)
[ -x "${ORBEL_LINUX_BIN:-}/orbelctl" ] && ends+=(linux)
for end in "${ends[@]}"; do
  status=0
  "orbelctl_$end" --port "$port" status >"$work/status.$end" || status=$?
  check "$end: status ran to the end with COM$com missing (exit $status)" ran_to_the_end "$status"
  status=0
  started=$SECONDS
  "orbelctl_$end" --port "$port" --timeout 20 connect >"$work/connect.$end" || status=$?
  cat "$work/connect.$end"
  check "$end: connecting to the missing COM$com is refused (exit $status, 1 wanted)" test "$status" -eq 1
  check "$end: and refused within 20 s" test $((SECONDS - started)) -lt 20
done
if [ -f "$work/status.linux" ]; then
  check "status: the same answers as on Linux" same_answers "$work/status.windows" "$work/status.linux"
  check "connect: the same answers as on Linux" same_answers "$work/connect.windows" "$work/connect.linux"
fi
if [ "${MACHINE_LINK:-0}" = 1 ]; then
  # In one host process: the refused connection, the converter still answering, then de-init.
  status=0
  timeout -k 5 60 "$WINE_EXEC" "$WINDOWS_BIN/wintesthost.exe" refused-connection --port "$port" --limit-ms 20000 |
    tr -d '\r' | grep -E '^(ok|FAIL|[0-9]+ passed)' || status=$?
  check "wintesthost: the host keeps running after the refused connection (exit $status)" test "$status" -eq 0
fi
finish
