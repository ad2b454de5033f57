#!/usr/bin/env bash
# Checks a built Windows executable, on the file itself, for what a protected
# machine needs of it. One mode a property:
#   check_pe.sh imports OBJDUMP EXE LIST MAX_SUBSYSTEM gui|console
#       the import table is LIST, exactly, and the subsystem is as named
#   check_pe.sh instructions OBJDUMP EXE x86|x64        nothing the oldest CPU lacks
#   check_pe.sh stack OBJDUMP EXE                      no frame steps over the guard page
#   check_pe.sh flags OBJDUMP EXE x86|x64               ASLR, DEP, no TLS, time stamp 0,
#                                                       and on x86 no exception handlers
#   check_pe.sh size EXE MAX_BYTES
#   check_pe.sh resources EXE                           version resource, and a manifest
#       that asks for nothing a componentized image may lack
#   check_pe.sh reproducible SOURCE_DIR BUILT_EXE TRIPLE TARGET
#       builds TARGET again from a copy of SOURCE_DIR in another folder and
#       compares the bytes with BUILT_EXE
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

# Instructions that the baseline CPU lacks, as extended regular expressions on
# objdump's "mnemonic operands" text (a mnemonic may follow a prefix).
# x86: the Pentium (P5). 586-class embedded boards run XP Embedded without
# conditional moves, FCOMI, MMX or SSE, fences, the long NOP (0F 1F) or the
# fast system calls; CET's ENDBR is a long NOP too.
X86_FORBIDDEN='(^| )(cmov|fcmov|fu?comip?( |$)|emms|femms|ldmxcsr|stmxcsr|fxsave|fxrstor|prefetch|[lsm]fence|clflush|movnti|maskmovq|nop[wl]? +[^ ]|nop[wl]$|endbr|sysenter|sysexit|syscall|sysret)|%[xyz]?mm[0-9]'
# x64: the first x86-64 CPUs, with SSE2 and nothing later.
X64_FORBIDDEN='(^| )(v[a-df-z]|ve[^r]|addsubp|h(add|sub)p|movddup|movs[hl]dup|lddqu|fisttp|monitor|mwait|pshufb|palignr|pabs|ph(add|sub)|pmaddubsw|pmulhrsw|psign|p?blend|dpp[sd]|insertps|extractps|pextr[bdq]|pinsr[bdq]|pm(in|ax)(sb|sd|uw|ud)|pmov[sz]x|ptest|round[sp][sd]|pcmp(eq|gt)q|packusdw|pmuldq|pmulld|crc32|pcmp[ei]str|movntdqa|phminposuw|mpsadbw|popcnt|lzcnt|tzcnt|andn( |$)|bextr|bls(i|r|msk)|bzhi|pdep|pext |rorx|sarx|shlx|shrx|mulx|movbe|cmpxchg16b|adcx|adox|aes|pclmul|sha(1|256)|rdrand|rdseed|xsave|xrstor|lahf|sahf|endbr)|%[yz]mm[0-9]'

case "$1" in
imports)
    objdump=$2 exe=$3 list=$4 max_subsystem=$5 kind=${6:-gui}
    # DLL names compared without case, as the loader does.
    imports=$(list_imports "$objdump" "$exe" | awk '{ print toupper($1), $2 }' | LC_ALL=C sort)
    [ -n "$imports" ] || fail "no imports read from $exe"
    expected=$(grep -v '^#' "$list" | awk 'NF { print toupper($1), $2 }' | LC_ALL=C sort)
    bad=0
    while read -r line; do
        [ -n "$line" ] || continue
        echo "FAIL: $exe imports $line, not in $(basename "$list")" >&2
        bad=1
    done < <(LC_ALL=C comm -23 <(echo "$imports") <(echo "$expected"))
    while read -r line; do
        [ -n "$line" ] || continue
        echo "FAIL: $exe does not import $line, which $(basename "$list") lists" >&2
        bad=1
    done < <(LC_ALL=C comm -13 <(echo "$imports") <(echo "$expected"))
    header=$("$objdump" -p "$exe")
    subsystem=$(awk '$1 == "Subsystem" { print $2 }' <<<"$header")
    major=$(awk '$1 == "MajorSubsystemVersion" { print $2 }' <<<"$header")
    minor=$(awk '$1 == "MinorSubsystemVersion" { print $2 }' <<<"$header")
    case "$kind" in
    gui) wanted_subsystem=00000002 ;;
    console) wanted_subsystem=00000003 ;;
    *) fail "unknown subsystem kind $kind" ;;
    esac
    [ "$subsystem" = "$wanted_subsystem" ] || { echo "FAIL: subsystem $subsystem is not Windows $kind" >&2; bad=1; }
    if [ "$((major * 100 + minor))" -gt "$((${max_subsystem%.*} * 100 + ${max_subsystem#*.}))" ]; then
        echo "FAIL: subsystem version $major.$minor is above $max_subsystem" >&2
        bad=1
    fi
    [ "$bad" -eq 0 ] || exit 1
    echo "$exe: subsystem $major.$minor, $(wc -l <<<"$imports") imports:"
    awk '{ list[$1] = list[$1] " " $2 } END { for (d in list) print "  " d ":" list[d] }' <<<"$imports" | sort
    ;;
instructions)
    objdump=$2 exe=$3 arch=$4
    case "$arch" in
    x86) forbidden=$X86_FORBIDDEN baseline="the Pentium" ;;
    x64) forbidden=$X64_FORBIDDEN baseline="x86-64 with SSE2" ;;
    *) fail "unknown architecture $arch" ;;
    esac
    # Every executable section; an instruction line is "  address:\tmnemonic operands".
    code=$("$objdump" -d --no-show-raw-insn "$exe" | awk -F'\t' '/^ *[0-9a-f]+:\t/ && NF >= 2')
    count=$(wc -l <<<"$code")
    [ "$count" -gt 10 ] || fail "no code read from $exe"
    found=$(awk -F'\t' -v pattern="$forbidden" '
        { sub(/^ +/, "", $1); sub(/ +$/, "", $2) }
        $2 ~ pattern { print $1 " " $2 }' <<<"$code")
    if [ -n "$found" ]; then
        head -20 <<<"$found" | sed "s|^|FAIL: $exe at |; s|\$|, which $baseline lacks|" >&2
        exit 1
    fi
    echo "$exe: $count instructions, all on $baseline"
    ;;
stack)
    objdump=$2 exe=$3
    # The stack is committed a page at a time as its guard page is touched:
    # a frame that moves the stack pointer by more than a page at once, and
    # touches below, faults instead.
    # A move by a register's size is one the build cannot bound.
    moves=$("$objdump" -d --no-show-raw-insn "$exe" |
        awk -F'\t' '$2 ~ /^sub +[^,]+,%[er]sp$/ { sub(/^ +/, "", $1); sub(/:$/, "", $1); v = $2
            sub(/^sub +/, "", v); sub(/,.*/, "", v); sub(/^\$0x/, "", v); print $1, v }')
    [ -n "$moves" ] || fail "no stack frame read from $exe"
    largest=0
    while read -r at size; do
        [[ $size =~ ^[0-9a-f]+$ ]] || fail "$exe at $at: the stack moves by $size, a size not known"
        [ $((16#$size)) -le 4096 ] || fail "$exe at $at: the stack moves by 0x$size at once, past the guard page"
        [ $((16#$size)) -le "$largest" ] || largest=$((16#$size))
    done <<<"$moves"
    echo "$exe: $(wc -l <<<"$moves") frames, none moves the stack by more than a page ($largest bytes at most)"
    ;;
flags)
    objdump=$2 exe=$3 arch=$4
    header=$("$objdump" -p "$exe")
    bad=0
    wanted="DYNAMIC_BASE NX_COMPAT"
    # x64 handlers live in tables the system checks; an x86 image without
    # handlers must say so, or one an overwritten stack points into it runs.
    [ "$arch" = x64 ] && wanted="$wanted HIGH_ENTROPY_VA" || wanted="$wanted NO_SEH"
    for flag in $wanted; do
        grep -qw "$flag" <<<"$header" || { echo "FAIL: $exe lacks $flag" >&2; bad=1; }
    done
    # A TLS directory means code runs before the entry point.
    tls=$(awk '$1 == "Entry" && $2 == "9" { print $3 $4 }' <<<"$header")
    [[ "$tls" =~ ^0+$ ]] || { echo "FAIL: $exe has a TLS directory" >&2; bad=1; }
    stamp=$(awk -F'\t+' '$1 == "Time/Date" { print $2 }' <<<"$header")
    [ "$stamp" = "Thu Jan  1 00:00:00 1970" ] || { echo "FAIL: $exe has time stamp $stamp, not 0" >&2; bad=1; }
    [ "$bad" -eq 0 ] || exit 1
    echo "$exe: $wanted, no TLS directory, time stamp 0"
    ;;
size)
    exe=$2 max=$3
    size=$(stat -c %s "$exe")
    echo "$exe: $size bytes (budget $max)"
    [ "$size" -le "$max" ] || fail "$exe is $size bytes, over the budget of $max"
    ;;
resources)
    exe=$2
    # The manifest as embedded: well-formed, run as invoked, trustInfo in the
    # namespace XP SP2 reads, and no dependency, which a componentized image
    # without that assembly answers by refusing to start the program.
    python3 - "$exe" <<'PYTHON' || exit 1
import re, sys
import xml.etree.ElementTree as ET
data = open(sys.argv[1], "rb").read()
found = re.search(rb"<\?xml.*?</assembly>", data, re.S)
def fail(why):
    print(f"FAIL: {sys.argv[1]}: {why}", file=sys.stderr)
    sys.exit(1)
if not found:
    fail("no manifest")
try:
    root = ET.fromstring(found.group(0))
except ET.ParseError as error:
    fail(f"manifest is not well-formed XML: {error}")
V1, V2, V3 = ("urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2",
              "urn:schemas-microsoft-com:asm.v3")
if root.tag != f"{{{V1}}}assembly":
    fail(f"manifest root is {root.tag}")
if [e for e in root.iter() if e.tag.endswith("}dependency") or e.tag == "dependency"]:
    fail("manifest has a dependency element")
trust = root.find(f"{{{V2}}}trustInfo")
if trust is None:
    fail("manifest has no trustInfo in the asm.v2 namespace")
level = trust.find(f"{{{V2}}}security/{{{V2}}}requestedPrivileges/{{{V2}}}requestedExecutionLevel")
if level is None or level.get("level") != "asInvoker":
    fail("manifest does not ask to run asInvoker")
PYTHON
    # A Perl pattern for the text as UTF-16LE, the version resource's encoding.
    utf16() { sed -e 's/\./\\./g' -e 's/\\\.\|[^\\]/&\\x00/g' <<<"$1"; }
    for text in ProductName FileDescription 1.0.0.0; do
        grep -qaP "$(utf16 "$text")" "$exe" || fail "$exe has no $text in its version resource"
    done
    echo "$exe: version resource, manifest well-formed, asInvoker, asm.v2 trustInfo, no dependency"
    ;;
reproducible)
    source=$2 built=$3 triple=$4 target=$5
    [ -f "$built" ] || fail "$built has not been built"
    # Another folder of another name and depth, as a second clone would be.
    scratch=$(mktemp -d /tmp/rebuild-XXXXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    copy=$scratch/another/checkout
    mkdir -p "$copy"
    tar -C "$source" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$copy" -xf -
    cmake -S "$copy" -B "$copy/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw.cmake" \
        -DMINGW_TRIPLE="$triple" -DCMAKE_BUILD_TYPE=MinSizeRel >"$scratch/log" 2>&1 ||
        { cat "$scratch/log" >&2; fail "the second build could not be configured"; }
    cmake --build "$copy/build" --target "$target" >>"$scratch/log" 2>&1 ||
        { cat "$scratch/log" >&2; fail "the second build failed"; }
    rebuilt=$(find "$copy/build" -name "$(basename "$built")" -type f | head -1)
    [ -n "$rebuilt" ] || fail "the second build made no $(basename "$built")"
    if ! cmp "$built" "$rebuilt" >&2; then
        fail "$(basename "$built") built again in another folder differs"
    fi
    echo "$built: the same $(stat -c %s "$built") bytes when built again in $copy"
    ;;
*)
    fail "usage: $0 imports|instructions|flags|size|resources|reproducible ..."
    ;;
esac
