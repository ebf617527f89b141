#!/usr/bin/env bash
# Which wine lane scripts/wine-run takes, judged by what its probe program does, as on a real
# machine: a kernel without i386 support refuses the program with "Exec format error" and the
# machine gets the x86_64 lane, whatever is installed; forcing a lane wins; bad command lines are
# refused before anything is installed or built.
#   wine-lane-test.sh SOURCE-DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
lane() {  # lane PROBE [wine-run options]: the lane line; the probe "" runs the built-in one
  local probe=$1; shift
  ORBEL_I386_PROBE=$probe "$source_dir/scripts/wine-run" "$@" --lane 2>&1
}

# What such a kernel does to an i386 program: an ELF file whose machine it does not know.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\357\276\001\000\000\000' >"$work/foreign-elf"
head -c 100 /dev/zero >>"$work/foreign-elf"
chmod +x "$work/foreign-elf"
# A program that runs and says what the built-in probe says.
printf '#!/bin/sh\necho i386\n' >"$work/runs"
printf '#!/bin/sh\necho i386; exit 3\n' >"$work/runs-but-fails"
printf '#!/bin/sh\necho x86_64\n' >"$work/says-other"
chmod +x "$work/runs" "$work/runs-but-fails" "$work/says-other"

out=$(lane "$work/foreign-elf")
echo "$out"
check "a kernel that refuses i386 programs gets the x86_64 lane" grep -q '^== wine lane: x86_64 (this machine cannot run 32-bit' <<<"$out"
check "and the line says why" grep -q 'Exec format error' <<<"$out"
check "one line, nothing installed or built" test "$(wc -l <<<"$out")" -eq 1

out=$(lane "$work/runs")
check "a machine that runs it gets the i686 lane" grep -q '^== wine lane: i686 (this machine runs 32-bit programs)$' <<<"$out"
for probe in runs-but-fails says-other; do
  out=$(lane "$work/$probe")
  check "$probe: only the program's full success counts, x86_64 lane" grep -q '^== wine lane: x86_64 ' <<<"$out"
done
out=$(lane "$work/no-such-program")
check "a probe that cannot start at all: x86_64 lane" grep -q '^== wine lane: x86_64 ' <<<"$out"

out=$(lane "$work/foreign-elf" --arch i686)
check "--arch i686 forces the i686 lane, and the line still tells about the machine" \
  grep -q '^== wine lane: i686 (forced with --arch; this machine cannot run 32-bit' <<<"$out"
out=$(lane "$work/runs" --arch=x86_64)
check "--arch=x86_64 forces the x86_64 lane" grep -q '^== wine lane: x86_64 (forced with --arch; this machine runs' <<<"$out"

# The built-in probe: one of the two lanes, and it leaves nothing in the build folder.
before=$(ls -a "$source_dir/build" 2>/dev/null)
out=$(lane "")
echo "$out"
check "the built-in i386 program decides the lane" grep -qE '^== wine lane: (i686|x86_64) \(this machine (runs|cannot run) 32-bit programs' <<<"$out"
check "the probe leaves nothing behind" test "$before" = "$(ls -a "$source_dir/build" 2>/dev/null)"

status=0
"$source_dir/scripts/wine-run" --arch arm64 >"$work/out" 2>&1 || status=$?
check "wine-run refuses an unknown lane with its usage (exit $status)" grep -q '^usage: scripts/wine-run' "$work/out"
check "with exit status 2" test "$status" -eq 2
status=0
# Bounded: a script that ignored the option would go on to run the whole suite.
timeout -k 2 20 "$source_dir/scripts/test" --quik >"$work/out" 2>&1 || status=$?
check "scripts/test refuses an unknown option with its usage (exit $status)" grep -q '^usage: scripts/test' "$work/out"
check "before doing anything, with exit status 2" test "$status" -eq 2 -a "$(grep -c '^==' "$work/out")" -eq 0

echo "$failures failed"
[ "$failures" -eq 0 ]
