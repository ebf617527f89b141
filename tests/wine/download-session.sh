#!/usr/bin/env bash
# Downloads by orbelctl.exe under wine against machine-sim: a small firmware image joined from a
# folder of two ".hex" images (the wide directory search, name order, a space in the folder's
# name), flashed through the update and the reconnection after it (the machine then runs the new
# image's version), then a curve-data block with a short last packet, at the pace of the 38400
# bit/s line. machine-sim must hold both byte for byte. The Linux orbelctl runs the same downloads
# against a second machine-sim and must give the same answers, apart from the progress lines
# (their rates differ from run to run) and the path separator.
#   download-session.sh COM-NUMBER
source "$(dirname "$0")/session-lib.sh"
needs_linux_build
com=$1
port="\\\\.\\COM$com"
cd "$work"

# b-app is written first: the binary follows the names, not the order of writing.
mkdir "images 1"
head -c 600 /dev/urandom >"images 1/b-app.hex"
head -c 289 /dev/urandom >"images 1/a-boot.hex"
cat "images 1/a-boot.hex" "images 1/b-app.hex" >expected-image.bin
head -c 1500 /dev/urandom >curve.bin  # crane's block 0 (0x5000), packets of 1024: 1024 and 476

# downloads SIDE: machine-sim saving into out-SIDE, then both downloads in one session of that
# side's orbelctl; its exit status in SIDE_status, every line in SIDE-all.txt, the comparable ones
# in SIDE.txt.
downloads() {
  local side=$1 status=0
  mkdir "out-$side"
  rm -f "images 1/firmware.bin"
  start_machine "$side" --model crane --line-timing --erase-ms 200 --reboot-ms 200 --out-dir "out-$side" \
    --flashed 0x5401:1=070301  # the new image's version: 3.01.07
  local args=(--port "$port" firmware "images 1" curve 0x5000 curve.bin)
  if [ "$side" = windows ]; then
    link_com "$com" "$machine_pty"
    orbelctl_windows "${args[@]}" >"$side-all.txt" || status=$?
  else
    orbelctl_linux --device "$machine_pty" "${args[@]}" >"$side-all.txt" || status=$?
  fi
  printf -v "${side}_status" %d "$status"
  grep -v ' %' "$side-all.txt" | tr '\\' / >"$side.txt" || true
}

downloads windows
echo "--- Windows (orbelctl.exe under wine, COM$com), exit status $windows_status:"
cat windows-all.txt
check "Windows: both downloads done (exit 0)" test "$windows_status" -eq 0
check "the binary joined in name order" cmp -s "images 1/firmware.bin" expected-image.bin
check "machine-sim holds the image byte for byte" cmp -s out-windows/firmware-node10.bin expected-image.bin
check "machine-sim holds the curve-data block byte for byte" cmp -s out-windows/block-0.bin curve.bin
check "the progress was shown (one packet of two: 50 %)" grep -q '^curve: 50 %' windows-all.txt
check "answer: the image flashed, the machine back with the new image's version" \
  grep -qF "firmware: 889 bytes flashed; the machine runs software 3.01.07" windows.txt
check "answer: the block sent" grep -qF "curve: 1500 bytes sent to 0x5000" windows.txt

downloads linux
check "the same exit status as on Linux ($linux_status)" test "$windows_status" -eq "$linux_status"
check "the same answers as on Linux" same_answers windows.txt linux.txt
finish
