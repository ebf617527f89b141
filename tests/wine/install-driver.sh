#!/usr/bin/env bash
# Puts serican.dll where the converter loads it from on a service PC, inside the prefix's drive C.
source "$(dirname "$0")/session-lib.sh"
dir=$(windows_path_to_unix 'C:\Dravenik\QUILLON\can_dll')
mkdir -p "$dir"
cp "$WINDOWS_BIN/serican.dll" "$dir/serican.dll.part"
mv "$dir/serican.dll.part" "$dir/serican.dll"
check "serican.dll at C:\\Dravenik\\QUILLON\\can_dll" test -f "$dir/serican.dll"
finish
