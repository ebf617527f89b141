#!/usr/bin/env bash
# serican.dll over a real COM port of the prefix: overlapped writes and reads, the comm-event
# wait, a receive thread woken by close. wintesthost plays the converter's stack against
# machine-sim; machine-sim's log shows what reached the line. "silent": a machine whose adapter
# passes nothing on.
#   driver-session.sh COM-NUMBER [silent]
source "$(dirname "$0")/session-lib.sh"
needs_linux_build
com=$1 mode=${2:-}
if [ "$mode" = silent ]; then
  start_machine machine --model crane --silent-after-ms 0
else
  start_machine machine --model crane
fi
link_com "$com" "$machine_pty"
status=0
timeout -k 5 60 "$WINE_EXEC" "$WINDOWS_BIN/wintesthost.exe" driver --com "$com" ${mode:+--$mode} | tr -d '\r' ||
  status=$?
check "wintesthost driver session passed (exit $status)" test "$status" -eq 0
check "machine-sim saw the host open the line" grep -q 'host opened the line' "$work/machine.log"
if [ "$mode" != silent ]; then
  # The close frame travels after the last check; give machine-sim a moment to read it.
  for _ in $(seq 20); do grep -q 'host sent the close frame' "$work/machine.log" && break; sleep 0.1; done
  check "machine-sim received the close frame" grep -q 'host sent the close frame' "$work/machine.log"
fi
finish
