#!/usr/bin/env bash
# A machine that never answers (its adapter passes nothing on): connecting never reports success,
# orbelctl.exe gives up after its time limit as the Linux orbelctl does, with the same answers,
# and in one host process the converter goes on answering and de-init ends the attempt.
#   silent-machine.sh COM-NUMBER
source "$(dirname "$0")/session-lib.sh"
needs_linux_build
com=$1
port="\\\\.\\COM$com"
cd "$work"

start_machine windows --model crane --silent-after-ms 0
link_com "$com" "$machine_pty"
windows_status=0 started=$SECONDS
orbelctl_windows --port "$port" --timeout 10 connect >windows.txt || windows_status=$?
cat windows.txt
check "Windows: connecting does not succeed (exit $windows_status: 1 failed or 4 no answer)" \
  test "$windows_status" -eq 1 -o "$windows_status" -eq 4
check "Windows: gave up within 20 s ($((SECONDS - started)) s)" test $((SECONDS - started)) -lt 20

start_machine linux --model crane --silent-after-ms 0
linux_status=0
orbelctl_linux --port "$port" --device "$machine_pty" --timeout 10 connect >linux.txt || linux_status=$?
check "the same exit status as on Linux ($linux_status)" test "$windows_status" -eq "$linux_status"
check "the same answers as on Linux" same_answers windows.txt linux.txt

status=0
timeout -k 5 60 "$WINE_EXEC" "$WINDOWS_BIN/wintesthost.exe" refused-connection --port "$port" --limit-ms 10000 \
  --may-stay-busy | tr -d '\r' | grep -E '^(ok|FAIL|[0-9]+ passed)' || status=$?
check "wintesthost: the host keeps running and de-init ends the attempt (exit $status)" test "$status" -eq 0
finish
