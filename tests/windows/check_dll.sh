#!/usr/bin/env bash
# Checks Tavik.dll as a Windows server sees it: a 32-bit DLL that exports
# exactly GetExtensionVersion and HttpExtensionProc under their plain names
# and imports nothing but system DLLs.
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")

fail() { echo "check_dll: $*" >&2; exit 1; }

grep -q '^Magic.*010b' <<<"$dump" || fail "not a 32-bit (PE32) image"
grep -q 'file format pei-i386' <<<"$dump" || fail "not a 32-bit x86 image"
grep -qx $'\tDLL' <<<"$dump" || fail "not a DLL"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{exit}' <<<"$dump" | sort | tr '\n' ' ')
[[ $exports == "GetExtensionVersion HttpExtensionProc " ]] ||
  fail "exports are '$exports'"

imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u | tr '\n' ' ')
for dll_name in $imports; do
  case $dll_name in
    kernel32.dll|user32.dll|msvcrt.dll) ;;
    *) fail "imports $dll_name, which a Windows machine may not have" ;;
  esac
done
echo "exports: $exports; imports: $imports"
