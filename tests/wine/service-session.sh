#!/usr/bin/env bash
# The service session of orbelctl.exe under wine against machine-sim: COM<n> of the prefix is
# linked to machine-sim's pty and the converter loads serican.dll from its fixed path. The same
# session runs with the Linux orbelctl against a second machine-sim: both must give the same
# answers and exit status. <session>.expect, if there is one, names the exit status wanted
# ("exit N") and lines that must appear.
#   service-session.sh COM-NUMBER SESSION-FILE [machine-sim options]
source "$(dirname "$0")/session-lib.sh"
needs_linux_build
com=$1 session=$SESSIONS/$2
shift 2
port="\\\\.\\COM$com"
# Both ends read the script (and the description file it names) by the same relative name, so
# that their messages match.
cp "$session" "$work/session.txt"
cp "$SESSIONS/parameters.csv" "$work/"
cd "$work"

start_machine windows --model crane "$@"
link_com "$com" "$machine_pty"
windows_status=0
orbelctl_windows --port "$port" --script session.txt >windows.txt || windows_status=$?
echo "--- Windows (orbelctl.exe under wine, COM$com -> $machine_pty), exit status $windows_status:"
cat windows.txt

start_machine linux --model crane "$@"
linux_status=0
orbelctl_linux --port "$port" --device "$machine_pty" --script session.txt >linux.txt || linux_status=$?
check "the Windows session ran to the end" ran_to_the_end "$windows_status"
check "the same exit status as on Linux ($linux_status)" test "$windows_status" -eq "$linux_status"
check "the same answers as on Linux" same_answers windows.txt linux.txt

expect=${session%.session}.expect
if [ -f "$expect" ]; then
  while IFS= read -r line; do
    case "$line" in
      "") ;;
      "exit "*) check "exit status ${line#exit }" test "$windows_status" -eq "${line#exit }" ;;
      *) check "answer contains: $line" grep -qF -- "$line" windows.txt ;;
    esac
  done <"$expect"
fi
finish
