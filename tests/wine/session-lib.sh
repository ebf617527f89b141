# Shared by the wine session scripts (sourced). The test runner gives WINE_EXEC, WINDOWS_BIN and
# SESSIONS; scripts/wine-run gives WINEPREFIX and ORBEL_LINUX_BIN (the Linux build's programs).
set -euo pipefail
: "${WINE_EXEC:?}" "${WINDOWS_BIN:?}" "${SESSIONS:?}"
: "${WINEPREFIX:?no wine prefix: run the Windows tests with scripts/wine-run}"

# Inside the prefix, which scripts/wine-run removes, so that not even a test killed on its
# time limit leaves files behind.
work=$(mktemp -d "$WINEPREFIX/session.XXXXXX")
machine_pids=()
com_links=()
cleanup() {
  local pid link
  for pid in "${machine_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for link in "${com_links[@]}"; do rm -f "$link"; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports ok or FAIL
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
finish() {
  echo "$failures failed"
  [ "$failures" -eq 0 ]
}

needs_linux_build() {
  if [ -z "${ORBEL_LINUX_BIN:-}" ] || [ ! -x "$ORBEL_LINUX_BIN/machine-sim" ]; then
    echo "skipped: machine-sim from the Linux build is needed (ORBEL_LINUX_BIN, set by scripts/wine-run)"
    exit 77
  fi
}

# start_machine NAME ARGS...: machine-sim in the background; its pty path goes to machine_pty.
start_machine() {
  local name=$1; shift
  "$ORBEL_LINUX_BIN/machine-sim" "$@" >"$work/$name.out" 2>"$work/$name.log" &
  machine_pids+=($!)
  local waited=0
  until [ -s "$work/$name.out" ]; do
    if [ $waited -ge 100 ] || ! kill -0 "${machine_pids[-1]}" 2>/dev/null; then
      echo "machine-sim $name did not start:"; cat "$work/$name.log"; exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  machine_pty=$(head -1 "$work/$name.out")
}

# windows_path_to_unix PATH: where a Windows path of the prefix lies on Linux. winepath is run by
# the lane's loader: the winepath command would take 32-bit wine whenever it is installed.
windows_path_to_unix() {
  "$WINE_EXEC" winepath -u "$1" 2>/dev/null | tr -d '\r'
}

# link_com N PATH: COM<N> of the prefix becomes the serial device PATH (as wine maps COM ports).
link_com() {
  local link="$WINEPREFIX/dosdevices/com$1"
  ln -sfn "$2" "$link"
  com_links+=("$link")
}

# The Windows and Linux orbelctl, quiet (no converter trace), with a time limit over everything.
orbelctl_windows() {
  timeout -k 5 90 "$WINE_EXEC" "$WINDOWS_BIN/orbelctl.exe" -q "$@" | tr -d '\r'
}
orbelctl_linux() {
  timeout -k 5 90 "$ORBEL_LINUX_BIN/orbelctl" -q "$@"
}

# ran_to_the_end STATUS: orbelctl finished by itself with an answer (0 done, 1 refused or failed),
# not a time-out (4), a converter that would not load (3) or a crash.
ran_to_the_end() { [ "$1" -eq 0 ] || [ "$1" -eq 1 ]; }

# same_answers WINDOWS_FILE LINUX_FILE: both ends gave the same output, line for line.
same_answers() {
  if diff -u "$2" "$1" >"$work/diff"; then return 0; fi
  echo "Windows and Linux answer differently (- Linux, + Windows):"
  cat "$work/diff"
  return 1
}
