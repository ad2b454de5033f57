#!/usr/bin/env bash
# Checks a built Windows executable for what a protected machine needs.
#   check_pe.sh imports OBJDUMP EXE ALLOWLIST MAX_SUBSYSTEM  (e.g. 5.1)
#   check_pe.sh size EXE MAX_BYTES
#   check_pe.sh resources EXE
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# "DLL function" lines of the import table, as objdump -p prints it.
list_imports() {
    "$1" -p "$2" | awk '
        /^[ \t]*DLL Name:/ { dll = $3; next }
        dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll, $3; next }
        NF == 0 { dll = "" }'
}

case "$1" in
imports)
    objdump=$2 exe=$3 allowlist=$4 max_subsystem=$5
    imports=$(list_imports "$objdump" "$exe")
    [ -n "$imports" ] || fail "no imports read from $exe"
    bad=0
    while read -r dll function; do
        case "${dll^^}" in
        KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | MSVCRT.DLL | EWFAPI.DLL) ;;
        *)
            echo "FAIL: $exe imports from $dll, which a protected machine may lack" >&2
            bad=1
            continue
            ;;
        esac
        if ! grep -v '^#' "$allowlist" | grep -qix "$dll $function"; then
            echo "FAIL: $exe imports $dll!$function, not in $(basename "$allowlist")" >&2
            bad=1
        fi
    done <<<"$imports"
    header=$("$objdump" -p "$exe")
    subsystem=$(awk '$1 == "Subsystem" { print $2 }' <<<"$header")
    major=$(awk '$1 == "MajorSubsystemVersion" { print $2 }' <<<"$header")
    minor=$(awk '$1 == "MinorSubsystemVersion" { print $2 }' <<<"$header")
    [ "$subsystem" = 00000002 ] || { echo "FAIL: subsystem $subsystem is not Windows GUI" >&2; bad=1; }
    if [ "$((major * 100 + minor))" -gt "$((${max_subsystem%.*} * 100 + ${max_subsystem#*.}))" ]; then
        echo "FAIL: subsystem version $major.$minor is above $max_subsystem" >&2
        bad=1
    fi
    [ "$bad" -eq 0 ] || exit 1
    echo "$exe: subsystem $major.$minor, $(wc -l <<<"$imports") imports:"
    awk '{ list[$1] = list[$1] " " $2 } END { for (d in list) print "  " d ":" list[d] }' <<<"$imports" | sort
    ;;
size)
    exe=$2 max=$3
    size=$(stat -c %s "$exe")
    echo "$exe: $size bytes (budget $max)"
    [ "$size" -le "$max" ] || fail "$exe is $size bytes, over the budget of $max"
    ;;
resources)
    exe=$2
    # A Perl pattern for the text as UTF-16LE, the version resource's encoding.
    utf16() { sed -e 's/\./\\./g' -e 's/\\\.\|[^\\]/&\\x00/g' <<<"$1"; }
    grep -qaF 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "$exe has no asInvoker manifest"
    grep -qaF 'Microsoft.Windows.Common-Controls' "$exe" || fail "$exe does not ask for common controls 6"
    for text in ProductName FileDescription 1.0.0.0; do
        grep -qaP "$(utf16 "$text")" "$exe" || fail "$exe has no $text in its version resource"
    done
    echo "$exe: manifest and version resource present"
    ;;
*)
    fail "usage: $0 imports|size|resources ..."
    ;;
esac
