#!/usr/bin/env bash
# scripts/check-layers passes on the tree as it is and fails, naming the offence, on a copy with
# an upward include, with a handler fetching the converter singleton, and with a folder that
# has no layer.
set -euo pipefail
repo=$1
check=$repo/scripts/check-layers
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fresh_copy() {
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  cp -r "$repo/src" "$repo/drivers" "$work/tree/"
}

# Expects the check to fail on the copy with a message containing $1.
expect_failure() {
  if "$check" "$work/tree" >"$work/out" 2>&1; then
    echo "FAIL: check-layers passed although $2"
    cat "$work/out"
    exit 1
  fi
  if ! grep -qF -- "$1" "$work/out"; then
    echo "FAIL: check-layers did not name the offence ($1)"
    cat "$work/out"
    exit 1
  fi
}

fresh_copy
"$check" "$work/tree" >"$work/out" 2>&1 || { echo "FAIL: the tree itself does not pass"; cat "$work/out"; exit 1; }

# A handler including the converter object above it.
fresh_copy
sed -i '1a #include "orbel_conv/orbel_conv.h"' "$work/tree/src/parameters/orbel_parameterhandler.cpp"
expect_failure 'src/parameters/orbel_parameterhandler.cpp:2 includes "orbel_conv/orbel_conv.h"' "parameters includes orbel_conv"

# The leaf including the package handler, with spaces after the hash.
fresh_copy
printf '#  include "orbel_pkghandler/orbel_pkghandler.h"\n' >>"$work/tree/src/common/frame_checksum.h"
expect_failure 'src/common/frame_checksum.h' "common includes orbel_pkghandler"

# A model fetching the converter singleton without including anything new.
fresh_copy
printf 'void planted() { ORBEL_Conv::getInstance(); }\n' >>"$work/tree/src/machine/machinespecificdummy.cpp"
expect_failure 'src/machine/machinespecificdummy.cpp' "a model calls getInstance"
grep -qF 'ORBEL_Conv::getInstance' "$work/out" || { echo "FAIL: the getInstance offence is not named"; exit 1; }

# A new folder that has no place in the layers.
fresh_copy
mkdir "$work/tree/src/newfolder"
expect_failure 'src/newfolder has no place' "a folder has no layer"

echo "check-layers: all planted offences found"
