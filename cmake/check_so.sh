#!/usr/bin/env bash
# Checks a Linux libzelJava_sh as it ships: it loads on glibc 2.17 (every
# versioned symbol it needs is at most GLIBC_2.17 or GCC_4.8.0, the libgcc_s of
# that time; no GLIBCXX or CXXABI: the C++ runtime is linked in), it needs no
# library beyond libc, libpthread, libgcc_s and the dynamic loader, and it
# exports exactly the natives that the Java classes declare.
# Usage: check_so.sh READELF LIBRARY JNI-HEADER-DIRECTORY [--delete]
#   --delete removes a library that fails, so that no later step ships it.
set -euo pipefail
readelf=$1 lib=$2 headers=$3 delete=${4:-}
name=$(basename "$lib")
fail=0
syms=$(LC_ALL=C "$readelf" -W --dyn-syms "$lib")

# Undefined symbols with their versions: "stat@GLIBC_2.33 (5)".
needs=$(awk '$7 == "UND" && $8 ~ /@/ { print $8 }' <<<"$syms" | sort -u)
bad=$(awk -F@ '
    function newer(v, limit,   a, b, i, n) {
        n = split(v, a, "."); split(limit, b, ".")
        for (i = 1; i <= 3; i++) if ((a[i] + 0) != (b[i] + 0)) return (a[i] + 0) > (b[i] + 0)
        return 0
    }
    { split($2, ver, "_"); family = ver[1]; v = substr($2, length(family) + 2) }
    family == "GLIBC" && newer(v, "2.17") { print $0 "  (newer than GLIBC_2.17)"; next }
    family == "GCC" && newer(v, "4.8.0") { print $0 "  (newer than GCC_4.8.0)"; next }
    family != "GLIBC" && family != "GCC" { print $0 "  (" family " is not on every system: link it in)" }
' <<<"$needs")
highest=$(sed 's/^[^@]*@//' <<<"$needs" | sort -t_ -k1,1 -k2V | awk -F_ '{ h[$1] = $0 } END { for (f in h) printf "%s ", h[f] }')
echo "$name: highest versions needed: $highest"
if [ -n "$bad" ]; then
    echo "$name needs symbols that glibc 2.17 systems do not have:"
    head -20 <<<"$bad" | sed 's/^/  /'
    [ "$(wc -l <<<"$bad")" -le 20 ] || echo "  ... and $(($(wc -l <<<"$bad") - 20)) more"
    fail=1
fi

needed=$(LC_ALL=C "$readelf" -W -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$name: needs $(tr '\n' ' ' <<<"$needed")"
others=$(grep -vE '^(libc\.so\.6|libpthread\.so\.0|libgcc_s\.so\.1|ld-linux-x86-64\.so\.2|ld-linux-aarch64\.so\.1)$' <<<"$needed" || true)
if [ -n "$others" ]; then
    echo "$name needs libraries beyond libc, libpthread, libgcc_s and ld-linux: $(tr '\n' ' ' <<<"$others")"
    fail=1
fi

# Defined global symbols; the version script's node names are not exports.
exported=$(awk '$7 != "UND" && $7 != "Ndx" && ($5 == "GLOBAL" || $5 == "WEAK") && $6 == "DEFAULT" { sub(/@.*/, "", $8); print $8 }' <<<"$syms" | sort -u)
declared=$(cat "$headers"/*.h | grep -o 'JNICALL Java_[A-Za-z0-9_]*' | cut -d' ' -f2 | sort -u)
echo "$name: $(wc -l <<<"$declared") natives declared, $(wc -l <<<"$exported") symbols exported"
if [ "$declared" != "$exported" ]; then
    echo "$name exports differ from the declared natives (< declared only, > exported only):"
    diff <(echo "$declared") <(echo "$exported") | grep '^[<>]' || true
    fail=1
fi
if [ $fail -ne 0 ] && [ "$delete" = --delete ]; then
    rm -f "$lib"
    echo "$lib removed"
fi
exit $fail
