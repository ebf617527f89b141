#!/usr/bin/env bash
# A machine that never answers (its adapter passes nothing on): connecting must end "failed"
# within the connection's time budget, on Windows as on Linux, and the host must keep running.
#   silent-machine.sh COM-NUMBER
source "$(dirname "$0")/session-lib.sh"
needs_linux_build
com=$1
port="\\\\.\\COM$com"
cd "$work"

start_machine windows --model crane --silent-after-ms 0
link_com "$com" "$machine_pty"
status=0 started=$SECONDS
orbelctl_windows --port "$port" --timeout 25 connect >windows.txt || status=$?
cat windows.txt
check "Windows: connecting is refused (exit $status, 1 wanted)" test "$status" -eq 1
check "Windows: within 25 s ($((SECONDS - started)) s)" test $((SECONDS - started)) -lt 25

start_machine linux --model crane --silent-after-ms 0
status=0
orbelctl_linux --port "$port" --device "$machine_pty" --timeout 25 connect >linux.txt || status=$?
check "Linux: connecting is refused (exit $status)" test "$status" -eq 1
check "the same answers as on Linux" same_answers windows.txt linux.txt

# In one host process: the failed connection, then the converter still answering, then de-init.
status=0
timeout -k 5 60 "$WINE_EXEC" "$WINDOWS_BIN/wintesthost.exe" refused-connection --port "$port" --limit-ms 25000 |
  tr -d '\r' | grep -E '^(ok|FAIL|[0-9]+ passed)' || status=$?
check "wintesthost: the host keeps running after the failed connection (exit $status)" test "$status" -eq 0
finish
