#!/usr/bin/env bash
# Checks a built zelJava_sh.dll: it exports exactly the natives that the Java
# classes declare, under their plain JNI names; it needs no DLL but Windows'
# own; its DllMain is the bridge's, not the C runtime's do-nothing default.
# Usage: check_dll.sh OBJDUMP DLL LINK-MAP JNI-HEADER-DIRECTORY
set -euo pipefail
objdump=$1 dll=$2 map=$3 headers=$4
fail=0
declared=$(cat "$headers"/*.h | grep -o 'JNICALL Java_[A-Za-z0-9_]*' | cut -d' ' -f2 | sort)
exported=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
           sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
echo "$(wc -l <<<"$declared") natives declared, $(wc -l <<<"$exported") names exported by $(basename "$dll")"
if [ "$declared" != "$exported" ]; then
    echo "exports differ from the declared natives (< declared, > exported):"
    diff <(echo "$declared") <(echo "$exported") | grep '^[<>]' || true
    fail=1
fi
# Windows' own DLLs; anything else would have to be shipped beside it.
imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p')
echo "imports: $(tr '\n' ' ' <<<"$imports")"
others=$(grep -viE '^(kernel32|msvcrt|advapi32)\.dll$' <<<"$imports" || true)
if [ -n "$others" ]; then
    echo "needs DLLs that are not Windows' own: $others"
    fail=1
fi
# The link map lists each object's symbols under it: DllMain (_DllMain@12 on
# i686) must stand under init.cpp's code.
if ! awk '/^ \.text/ { inInit = /init\.cpp\.obj\)/ } inInit && /[ _]DllMain(@12)?$/ { found = 1 } END { exit !found }' "$map"; then
    echo "DllMain of bridge/init.cpp is not what the DLL links"
    fail=1
fi
exit $fail
