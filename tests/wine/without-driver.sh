#!/usr/bin/env bash
# The converter when serican.dll is missing from its fixed path: the host keeps running, the
# converter still answers, and connecting is refused instead of hanging or crashing.
source "$(dirname "$0")/session-lib.sh"
driver=$(windows_path_to_unix 'C:\Dravenik\QUILLON\can_dll\serican.dll')
if [ -e "$driver" ]; then
  echo "the driver is already installed in this prefix; this test runs before wine.driver.install"
  exit 1
fi
status=0
orbelctl_windows --port '\\.\COM7' status >"$work/status.txt" || status=$?
cat "$work/status.txt"
check "status ran to the end without the driver (exit $status)" ran_to_the_end "$status"
status=0
started=$SECONDS
orbelctl_windows --port '\\.\COM7' --timeout 20 connect >"$work/connect.txt" || status=$?
cat "$work/connect.txt"
check "connecting without the driver is refused (exit $status, 1 wanted)" test "$status" -eq 1
check "and refused within 20 s" test $((SECONDS - started)) -lt 20
if [ "${MACHINE_LINK:-0}" = 1 ]; then
  # In one host process: the refused connection, the converter still answering, then de-init.
  status=0
  timeout -k 5 60 "$WINE_EXEC" "$WINDOWS_BIN/wintesthost.exe" refused-connection --port '\\.\COM7' --limit-ms 20000 |
    tr -d '\r' | grep -E '^(ok|FAIL|[0-9]+ passed)' || status=$?
  check "wintesthost: the host keeps running after the refused connection (exit $status)" test "$status" -eq 0
fi
finish
