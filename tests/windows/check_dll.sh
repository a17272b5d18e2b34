#!/usr/bin/env bash
# Checks Tavik.dll as a Windows server sees it: a DLL for the expected
# processor (x86: a PE32 image for 32-bit servers; x64: a PE32+ image for
# 64-bit ones) that exports exactly GetExtensionVersion and HttpExtensionProc
# under their plain names and imports nothing but system DLLs.
# usage: check_dll.sh x86|x64 TAVIK.DLL
set -euo pipefail
kind=$1 dll=$2

fail() { echo "check_dll: $*" >&2; exit 1; }

case $kind in
  x86) objdump=i686-w64-mingw32-objdump magic=010b format=pei-i386 image=PE32 ;;
  x64) objdump=x86_64-w64-mingw32-objdump magic=020b format=pei-x86-64 image=PE32+ ;;
  *) fail "the kind must be x86 or x64, not '$kind'" ;;
esac
dump=$("$objdump" -p "$dll")

grep -q "^Magic.*$magic" <<<"$dump" || fail "not a $image image"
grep -q "file format $format\$" <<<"$dump" || fail "not a $format image"
grep -qx $'\tDLL' <<<"$dump" || fail "not a DLL"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{exit}' <<<"$dump" | sort | tr '\n' ' ')
[[ $exports == "GetExtensionVersion HttpExtensionProc " ]] ||
  fail "exports are '$exports'"

imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u | tr '\n' ' ')
[[ -n $imports ]] || fail "no import table found"
for dll_name in $imports; do
  case $dll_name in
    kernel32.dll|user32.dll|msvcrt.dll) ;;
    *) fail "imports $dll_name, which a Windows machine may not have" ;;
  esac
done
echo "$image ($format); exports: $exports; imports: $imports"
